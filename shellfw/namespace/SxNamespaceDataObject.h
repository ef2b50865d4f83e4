#pragma once
// The data object of grains dragged, copied or cut out of the virtual folder, and the table of the
// clipboard formats that it offers and that the drop target tests. Every format is rendered by the
// provider's builders (SxProvider); the bytes are those of SxTransferFormats.
#ifdef _WIN32
#include "SxNamespaceUtils.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

// Indices of the format table.
enum TSxFormatIndex : int {
    sfiPrivateFormat = 0,      // "SxCF_PrivateFormat", HGLOBAL
    sfiShellIDList = 1,        // "Shell IDList Array", HGLOBAL
    sfiHDrop = 2,              // CF_HDROP, HGLOBAL
    sfiInShellDragLoop = 3,    // "InShellDragLoop", HGLOBAL
    sfiFileContents = 4,       // "FileContents", HGLOBAL
    sfiDescriptor = 5,         // "FileGroupDescriptorW", HGLOBAL
    sfiPreferredEffect = 6,    // "Preferred DropEffect", HGLOBAL
    sfiFileContentsStream = 7, // "FileContents", ISTREAM
    sfiPasteSucceeded = 8,     // "Paste Succeeded", HGLOBAL
    sfiFileContentsStorage = 9,// "FileContents", ISTORAGE
    sfiDescriptorA = 10,       // "FileGroupDescriptor" (ANSI names), HGLOBAL
    sfiPerformedEffect = 11,   // "Performed DropEffect", HGLOBAL
    SxFormatCount = 12
};

// The data object's own interface: how a drop target of this process tells the source which of
// its grains really arrived at a move, so that only those are completed as moved.
// {3E6F1B52-9C47-4D8A-A1F3-6B2D0E8C5A71}
extern const IID IID_ISxNamespaceDataObject;
struct ISxNamespaceDataObject : public IUnknown {
    // indices into the object's grain list (in the order of its private format).
    virtual HRESULT STDMETHODCALLTYPE ReportMovedGrains(const int* indices, int count) = 0;
};

// The common base of the data object and the drop target: the format table.
class TSxNamespaceCustomDataObject : public TSxNamespaceCustomUtil {
public:
    using TSxNamespaceCustomUtil::TSxNamespaceCustomUtil;
    // Entry index of the table: ptd nullptr, DVASPECT_CONTENT, lindex -1.
    static FORMATETC Format(int index);
};

// The enumerator of the formats a data object offers.
class TSxEnumFormatEtc final : public IEnumFORMATETC, public TSxSelfOwnedComObject {
public:
    explicit TSxEnumFormatEtc(std::vector<FORMATETC> formats, ULONG position = 0);
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    SX_COUNTED_REFERENCES
    STDMETHODIMP Next(ULONG count, FORMATETC* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumFORMATETC** enumerator) override;

private:
    ~TSxEnumFormatEtc() override = default;
    std::vector<FORMATETC> FFormats;
    ULONG FPosition;
};

// IDataObject over copies of grains of one folder. The descriptor formats expand the folders it
// holds into a flat list of their contents (kept apart from the object's own grains, which the
// other formats describe); "FileContents" indices refer to that list.
class TSxNamespaceDataObject final : public TSxNamespaceCustomDataObject,
                                     public IDataObject,
                                     public ISxNamespaceDataObject {
public:
    using TSxNamespaceCustomDataObject::TSxNamespaceCustomDataObject;
    SX_UTIL_IUNKNOWN

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** enumerator) override;

    STDMETHODIMP ReportMovedGrains(const int* indices, int count) override;

    uint32_t PreferredEffect = 0xFFFF;  // none stored
    bool FoldersExpanded = false;
    // The flat list of the dragged items and, below each folder, its contents; names are paths
    // relative to the selection ("F\S\x").
    TSxDataGrainList DescriptorGrains;
    std::vector<std::string> DescriptorNames;

private:
    // The index of the table entry the request names (format and a medium it accepts), or -1.
    int Entry(const FORMATETC& format) const;
    bool CanRender(int entry, LONG lindex);
    void ExpandFolders();
    // The move of the grains is complete: the provider's move completion for those that arrived.
    void CompleteMove();
    // True when a target was handed the whole of grain (an index of the object's own grains).
    bool Delivered(int grain) const;

    bool FMoveCompleted = false;
    bool FMovedReported = false;
    std::vector<int> FMovedGrains;
    // What a target outside this process took in full: the file names of all grains, or the
    // contents of these descriptor entries.
    bool FNamesDelivered = false;
    std::set<int> FContentsDelivered;
};

// A storage medium that is released when it goes.
struct TSxMedium {
    STGMEDIUM Medium{};
    TSxMedium() = default;
    TSxMedium(const TSxMedium&) = delete;
    TSxMedium& operator=(const TSxMedium&) = delete;
    ~TSxMedium() { ReleaseStgMedium(&Medium); }
};

// An HGLOBAL block locked for reading; Size is the block's real size (GlobalSize), Data nullptr
// when it cannot be locked.
class TSxLockedGlobal {
public:
    explicit TSxLockedGlobal(HGLOBAL global);
    ~TSxLockedGlobal();
    TSxLockedGlobal(const TSxLockedGlobal&) = delete;
    TSxLockedGlobal& operator=(const TSxLockedGlobal&) = delete;
    const uint8_t* Data = nullptr;
    size_t Size = 0;

private:
    HGLOBAL FGlobal;
};

std::vector<uint8_t> SxDWordBytes(uint32_t value);
// bytes as a new movable HGLOBAL medium, or as a stream over such a block.
HRESULT SxGlobalMedium(const std::vector<uint8_t>& bytes, STGMEDIUM& medium);
HRESULT SxStreamMedium(const std::vector<uint8_t>& bytes, STGMEDIUM& medium);
// The DWORD of an HGLOBAL medium; false for another medium or a block of fewer than 4 bytes.
bool SxReadDWordMedium(const STGMEDIUM& medium, uint32_t& value);

// The paths of a CF_HDROP medium whose block (data, size) was checked whole first; a damaged
// block raises ESxTransferFormatError. Names are read with DragQueryFileW, of any length.
std::vector<std::string> SxDropFileNames(HDROP drop, const void* data, size_t size);

struct TSxFileDescriptor;
class TSxByteStream;
// The contents of descriptor index of a source ("FileContents" as HGLOBAL, else as a stream, else
// as a storage), at most the descriptor's size when it has one; nullptr when the source gives none.
std::unique_ptr<TSxByteStream> SxFileContentsOf(IDataObject* source, LONG index, const TSxFileDescriptor& descriptor);

// Stores value as a 4-byte HGLOBAL block of format on the data object (SetData, fRelease TRUE).
HRESULT DataObjectSetDWord(IDataObject* dataObject, uint32_t value, UINT format);
// Reads a DWORD format from a data object; false when it offers none (or a damaged block).
bool DataObjectGetDWord(IDataObject* dataObject, UINT format, uint32_t& value);

// The registered number of "FileGroupDescriptorW".
UINT SxFileGroupDescriptorWFormat();
#endif
