#pragma once
// File-name, folder, file-type and process routines.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// No when the name holds any of / \ : * " ? < > |
bool shl_IsValidFileName(const std::string& name);
// Yes when the lower-case extension (with its dot) is part of ".gif|.bmp|.png|.jpg|.jpeg|.tif|.ico|.pcx".
bool shl_IsImageFile(const std::string& fileName);
// File-name part up to its first "."; a name without "." gives the empty text.
std::string shl_ExtractFileBaseName(const std::string& path);
// Last name of a path after one trailing "\" is dropped; "\" and "/" separate.
std::string shl_ExtractPathName(const std::string& path);
// File-name part of a path ("\", "/" and ":" separate).
std::string shl_ExtractFileName(const std::string& path);
// Extension of the file-name part with its dot, or the empty text.
std::string shl_ExtractFileExt(const std::string& path);
// Folder part of a path with its final separator ("\", "/" and ":" separate, as in
// shl_ExtractFileName); the empty text for a bare name. Folder part + file-name part = path.
std::string shl_ExtractFilePath(const std::string& path);
// The path ending in one "\"; the empty text stays empty (no root is made of it).
std::string shl_WithSlash(std::string path);
// The path without its final "\" and "/" (all of them).
std::string shl_WithoutSlash(std::string path);
// The older name of shl_WithoutSlash, for the units not yet switched.
inline std::string WithoutSlash(std::string path) { return shl_WithoutSlash(std::move(path)); }
// The length of the root of a fully qualified path, with its final "\": "C:\" (3), "\\server\share\",
// "\\?\C:\" and "\\?\UNC\server\share\". 0 for anything else: relative paths ("a\b", "\a", "C:a"),
// device paths ("\\.\...", "\\?\GLOBALROOT\...") and texts that are no path.
size_t shl_PathRootLength(const std::string& path);
// Whether the path names a folder below a root of shl_PathRootLength (not the root itself) and
// holds no wildcard: what may be emptied or removed as a whole.
bool shl_IsRemovableFolder(const std::string& path);

#ifdef _WIN32
// A name every file call takes whatever its length: a fully qualified drive or share path of
// MAX_PATH or more comes back in its "\\?\" form ("\\?\C:\...", "\\?\UNC\server\share\..."),
// made whole first ("/" as "\", no "." or ".." levels), because that form is taken as it stands.
// Shorter paths, relative ones and those of that form already come back unchanged.
std::wstring shl_LongPath(const std::wstring& path);

// The file system in UTF-8 or wide names, past MAX_PATH too; the one home of these tests and waits
// for every subsystem.
// The attributes of a file or folder, INVALID_FILE_ATTRIBUTES when there is none (GetLastError
// then tells why, as after GetFileAttributesW).
uint32_t shl_FileAttributes(const std::wstring& name);
uint32_t shl_FileAttributes(const std::string& name);
// Yes when the name is an existing file or folder.
bool shl_PathExists(const std::wstring& name);
bool shl_PathExists(const std::string& name);
// Yes when the name is an existing file (not a folder).
bool shl_FileExists(const std::string& name);
// Yes when the name is an existing folder (with or without its final "\").
bool shl_DirectoryExists(const std::string& name);
// Creates the folder and every missing folder above it; raises std::runtime_error with the
// system's reason when one cannot be made. A folder that exists already is fine.
void shl_ForceDirectories(const std::string& folder);
// Yes when the file cannot be opened for writing without sharing (held by another program, or
// missing); never raises.
bool shl_IsFileLocked(const std::string& name);
// Up to tries attempts of shl_IsFileLocked, 1 ms apart; yes at the first attempt that finds the
// file free.
bool shl_WaitForFileAccess(const std::string& name, int tries);

// A document opened from the online folder lies in "Open" beside its sidecar (name + ".sxc"). The
// sidecar's last-write time marks the state the server holds: the extension gives it the
// document's time after each download, the tray program after each upload. A document whose time
// is another (also an earlier one, after the clock went back) holds changes the server has not got.
// The last-write time in file-time ticks; 0 when there is no such file.
uint64_t shl_FileLastWrite(const std::string& name);
// Gives the file that last-write time; false when it cannot.
bool shl_SetFileLastWrite(const std::string& name, uint64_t lastWrite);
// Yes when the document is as the server has it (its sidecar carries its time); no when it was
// changed since, and when either file is missing.
bool shl_OpenDocumentSent(const std::string& document);
// Marks the document's state of the given last-write time as on the server. False when the
// sidecar could not be stamped.
bool shl_MarkOpenDocumentSent(const std::string& document, uint64_t lastWrite);

// A walk over a local folder tree (shl_WalkTree). The visitor gets every file and folder below the
// root, depth first, each folder before what it holds and, once entered, a second time after it.
struct TShellTreeEntry {
    std::wstring Path;       // in the root's own form, without a final "\"
    std::wstring LongPath;   // Path as shl_LongPath gives it: for the file calls
    std::wstring Relative;   // below the root, "\" between the levels
    std::wstring Name;
    uint32_t Attributes = 0;
    uint64_t Size = 0;
    uint64_t LastWrite = 0;  // file-time ticks
    int Depth = 0;           // 0: directly in the root
    bool Folder = false;
    bool Link = false;       // a reparse point; a linked folder is reported, never entered
    bool Leaving = false;    // the second call of a folder, after everything in it
};
enum class TShellWalk {
    Continue,
    Skip,   // on a folder: do not enter it (no second call follows); elsewhere as Continue
    Stop    // end the walk at once
};
// The order of the entries of one folder: as the file system lists them, its files before its
// folders, or its folders (with everything in them) before its files.
enum class TShellWalkOrder { AsListed, FilesFirst, FoldersFirst };
using TShellTreeVisitor = std::function<TShellWalk(const TShellTreeEntry& entry)>;
// Walks the tree below root (a folder; with or without its final "\"; drive, share, "\\?\" and
// "\\?\UNC\" roots and levels past MAX_PATH alike). Each folder is listed whole before its
// entries are visited, so the visitor may delete what it was given, and a folder it got with
// Leaving may be removed. Levels are kept in a list, not on the stack: no depth is too deep. A
// folder that cannot be listed (gone, no access) is passed as empty. False when the visitor
// stopped the walk; true otherwise, also for a missing root.
bool shl_WalkTree(const std::wstring& root, const TShellTreeVisitor& visit,
                  TShellWalkOrder order = TShellWalkOrder::AsListed);

// Adds the full path of every running process's main module; nothing for a null list.
void shl_GetProcessList(std::vector<std::string>* list);
// fullPath: a line equals `name` ignoring case; else the file-name part of a line does.
bool shl_IsProcessRunning(const std::string& name, bool fullPath);
// Deletes the folder with everything in it through the shell's file operation. Refuses (no)
// relative paths, drive roots and wildcards.
bool shl_DeleteFolder(const std::string& folder);
// The registered type name of the file's extension, ".ext File" when there is none.
std::string shl_GetFileTypeName(const std::string& fileName);
// Starts `program` with the command line "X " + params. With wait: waits, stores the exit code
// (or the last error on failure) and returns the closed process handle value or 0. Without wait:
// returns the open process handle (the caller closes it) or 0.
uintptr_t shl_StartExe(const std::string& program, const std::string& params, bool wait, uint32_t* exitCode);
// Starts `program` with params through the shell (ShellExecuteExW, verb "open") without waiting:
// a program that asks for administrator rights raises the elevation prompt there, where
// CreateProcess from a process without those rights fails with ERROR_ELEVATION_REQUIRED. owner is
// the window of the prompt and of the shell's own messages (none are shown: the caller tells). 0
// when it started, else the system's error code (ERROR_CANCELLED: the user refused the prompt).
uint32_t shl_ShellStart(const std::string& program, const std::string& params, void* owner = nullptr);
// Test seam: takes the place of ShellExecuteExW for shl_ShellStart (empty: the real call). It
// answers as ShellExecuteExW does, with the error code in GetLastError when it gives false.
struct _SHELLEXECUTEINFOW;
using TShellExecuteFn = std::function<bool(_SHELLEXECUTEINFOW& info)>;
void SetShellExecuteSeam(TShellExecuteFn fn);
#endif
