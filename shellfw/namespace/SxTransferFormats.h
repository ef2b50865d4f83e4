#pragma once
// The bytes of the clipboard and drag-and-drop formats the framework writes and reads: the item-ID
// list array ("Shell IDList Array", CIDA), the private format of grain records, the file group
// descriptor (wide and ANSI), the file list of CF_HDROP (DROPFILES) and the DWORD formats
// ("Preferred DropEffect", "Performed DropEffect", "Paste Succeeded").
//
// Blocks read here come from other processes, so the readers take the block's real size and check
// every count, offset, length and terminator against it before they read: a damaged block raises
// ESxTransferFormatError and yields nothing, never a read past its end. Plain C++ (no Windows
// types), so it builds and is tested natively as well.
#include "SxExceptionClass.h"
#include "SxPidl.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxTransferFormatError, std::runtime_error);

// ---- Shell IDList Array (CIDA) ---------------------------------------------------------------
// u32 count, count + 1 u32 offsets from the block's start, then the lists: the folder's absolute
// list first, then each item's list (relative to the folder).

// Pointers into the block that was read; valid as long as the block is.
struct TSxIDListArray {
    PCSxItemIDList Folder = nullptr;
    std::vector<PCSxItemIDList> Items;
};
TSxIDListArray SxReadIDListArray(const void* block, size_t size);
std::vector<uint8_t> SxBuildIDListArray(PCSxItemIDList folder, const std::vector<PCSxItemIDList>& items);

// ---- "SxCF_PrivateFormat" --------------------------------------------------------------------
// u32 L (bytes after it) | i32 grain count | i32 n | n bytes of the source provider's class name |
// the grains' records one after another (as the grains' SaveToPrivateFormat writes them).
struct TSxPrivateFormatHeader {
    std::string ClassName;
    uint32_t Count = 0;
    size_t RecordsOffset = 0;  // where the first record starts in the block
    size_t RecordsSize = 0;    // bytes of records (up to the end of L)
};
TSxPrivateFormatHeader SxReadPrivateFormatHeader(const void* block, size_t size);
std::vector<uint8_t> SxBuildPrivateFormat(const std::string& className, uint32_t count,
                                          const std::vector<uint8_t>& records);

// ---- FILEGROUPDESCRIPTORW / FILEGROUPDESCRIPTORA ---------------------------------------------
constexpr uint32_t SxFD_CLSID = 0x0001, SxFD_SIZEPOINT = 0x0002, SxFD_ATTRIBUTES = 0x0004,
                   SxFD_CREATETIME = 0x0008, SxFD_ACCESSTIME = 0x0010, SxFD_WRITESTIME = 0x0020,
                   SxFD_FILESIZE = 0x0040, SxFD_PROGRESSUI = 0x4000, SxFD_LINKUI = 0x8000;
constexpr uint32_t SxFileAttributeDirectory = 0x10;
constexpr size_t SxFileDescriptorWSize = 592, SxFileDescriptorASize = 332;
constexpr size_t SxMaxDescriptorName = 259;  // characters in cFileName before its terminator

// One descriptor. Times are FILETIME values (UTC, 100 ns since 1601); Name is the item's path
// relative to the dragged selection ("A\B\x.txt"): UTF-8 for the wide form, the system code page's
// bytes for the ANSI form (the caller converts).
struct TSxFileDescriptor {
    uint32_t Flags = 0;
    uint32_t Attributes = 0;
    uint64_t CreationTime = 0, LastAccessTime = 0, LastWriteTime = 0;
    uint64_t Size = 0;
    std::string Name;
    bool IsFolder() const { return (Flags & SxFD_ATTRIBUTES) && (Attributes & SxFileAttributeDirectory); }
};
// Names must be non-empty relative paths whose parts are neither empty, "." nor ".." and hold no
// ":" "/" or control character; a longer name than the field takes raises instead of being cut.
std::vector<uint8_t> SxBuildFileGroupDescriptorW(const std::vector<TSxFileDescriptor>& items);
std::vector<uint8_t> SxBuildFileGroupDescriptorA(const std::vector<TSxFileDescriptor>& items);
std::vector<TSxFileDescriptor> SxReadFileGroupDescriptorW(const void* block, size_t size);
std::vector<TSxFileDescriptor> SxReadFileGroupDescriptorA(const void* block, size_t size);
// True for a descriptor name that may name an item below the drop target.
bool SxIsSafeRelativePath(const std::string& name);

// ---- CF_HDROP (DROPFILES) ---------------------------------------------------------------------
// u32 pFiles | i32 pt.x | i32 pt.y | i32 fNC | i32 fWide, then at pFiles the names, each with its
// terminating zero character, and one more zero character.
struct TSxDropFiles {
    bool Wide = true;
    std::vector<std::string> Names;  // UTF-8 (wide block) or the system code page's bytes
};
TSxDropFiles SxReadDropFiles(const void* block, size_t size);
// A wide block of the paths (UTF-8 in, any length).
std::vector<uint8_t> SxBuildDropFiles(const std::vector<std::string>& paths);

// ---- DWORD formats ---------------------------------------------------------------------------
uint32_t SxReadDWordFormat(const void* block, size_t size);
