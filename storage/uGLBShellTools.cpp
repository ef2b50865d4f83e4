#include "uGLBShellTools.h"

#include "uGLBTools.h"

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <stdexcept>

#ifdef _WIN32
#include "uGLBWin.h"
#include "uTSeam.h"

#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#endif

bool shl_IsValidFileName(const std::string& name)
{
    return name.find_first_of("/\\:*\"?<>|") == std::string::npos;
}

std::string shl_ExtractFileName(const std::string& path)
{
    const size_t sep = path.find_last_of("\\/:");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string shl_ExtractFileExt(const std::string& path)
{
    const std::string name = shl_ExtractFileName(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string shl_ExtractFilePath(const std::string& path)
{
    const size_t sep = path.find_last_of("\\/:");
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string shl_WithSlash(std::string path)
{
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

std::string shl_WithoutSlash(std::string path)
{
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

bool shl_IsImageFile(const std::string& fileName)
{
    const std::string ext = AsciiLower(shl_ExtractFileExt(fileName));
    if (ext.empty()) return false;
    return std::string(".gif|.bmp|.png|.jpg|.jpeg|.tif|.ico|.pcx").find(ext) != std::string::npos;
}

std::string shl_ExtractFileBaseName(const std::string& path)
{
    const std::string name = shl_ExtractFileName(path);
    const size_t dot = name.find('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

std::string shl_ExtractPathName(const std::string& path)
{
    std::string p = path;
    if (!p.empty() && p.back() == '\\') p.pop_back();
    const size_t sep = p.find_last_of("\\/");
    return sep == std::string::npos ? p : p.substr(sep + 1);
}

namespace {
// The length of "server\share" (with its final "\" when one follows) at from; 0 when either name is
// missing.
size_t ShareLength(const std::string& path, size_t from)
{
    const size_t server = path.find('\\', from);
    if (server == std::string::npos || server == from) return 0;
    const size_t share = path.find('\\', server + 1);
    const size_t end = share == std::string::npos ? path.size() : share;
    if (end == server + 1) return 0;
    return (share == std::string::npos ? end : end + 1) - from;
}

bool IsDriveRoot(const std::string& path, size_t at)
{
    return path.size() >= at + 3 && std::isalpha(static_cast<unsigned char>(path[at])) && path[at + 1] == ':' &&
           path[at + 2] == '\\';
}
} // namespace

size_t shl_PathRootLength(const std::string& path)
{
    if (IsDriveRoot(path, 0)) return 3;
    if (path.rfind("\\\\?\\", 0) == 0) {
        if (IsDriveRoot(path, 4)) return 7;
        if (path.size() > 8 && SameTextAscii(path.substr(4, 4), "UNC\\")) {
            const size_t share = ShareLength(path, 8);
            return share ? 8 + share : 0;
        }
        return 0;   // \\?\GLOBALROOT, \\?\Volume{...}: device paths
    }
    if (path.rfind("\\\\", 0) == 0) {
        // "\\.\" and "\\?\" (any other form of it) are the device namespaces, no server.
        if (path.size() > 2 && (path[2] == '.' || path[2] == '?')) return 0;
        const size_t share = ShareLength(path, 2);
        return share ? 2 + share : 0;
    }
    return 0;
}

bool shl_IsRemovableFolder(const std::string& path)
{
    const size_t root = shl_PathRootLength(path);
    if (root == 0) return false;
    std::string rest = path.substr(root);
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    return !rest.empty() && rest.find_first_of("*?") == std::string::npos && rest.find("\\\\") == std::string::npos;
}

#ifdef _WIN32
void shl_GetProcessList(std::vector<std::string>* list)
{
    if (!list) return;
    // Room for 1024 identifiers at first; grown while the table comes back full.
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    for (;;) {
        const DWORD room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), room, &bytes)) return;
        if (bytes < room || ids.size() >= 65536) break;
        ids.resize(ids.size() * 2);
    }
    ids.resize(bytes / sizeof(DWORD));
    // The image name of each process, without reading its memory: the extension asks at every
    // listing of a folder, on every window's thread, and a walk over each process's modules is
    // slow (and needs more access than other users' processes grant).
    std::wstring path(32768, L'\0');
    for (DWORD id : ids) {
        THandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (!process) continue;
        DWORD n = static_cast<DWORD>(path.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &n) || n == 0) continue;
        list->push_back(WideToUtf8(std::wstring(path.data(), n)));
    }
}

bool shl_IsProcessRunning(const std::string& name, bool fullPath)
{
    std::vector<std::string> list;
    shl_GetProcessList(&list);
    return std::any_of(list.begin(), list.end(), [&](const std::string& line) {
        return SameText(fullPath ? line : shl_ExtractFileName(line), name);
    });
}

std::wstring shl_LongPath(const std::wstring& path)
{
    // Below MAX_PATH less room for an "\8.3-name" the plain form works everywhere.
    if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    const bool drive = path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool share = path.size() > 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
    if (!drive && !share) return path;
    const DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) return path;
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return path;
    full.resize(got);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

uint32_t shl_FileAttributes(const std::wstring& name)
{
    if (name.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesW(shl_LongPath(name).c_str());
}

uint32_t shl_FileAttributes(const std::string& name)
{
    return shl_FileAttributes(Utf8ToWide(name));
}

bool shl_PathExists(const std::wstring& name)
{
    return shl_FileAttributes(name) != INVALID_FILE_ATTRIBUTES;
}

bool shl_PathExists(const std::string& name)
{
    return shl_FileAttributes(name) != INVALID_FILE_ATTRIBUTES;
}

bool shl_FileExists(const std::string& name)
{
    const DWORD a = shl_FileAttributes(name);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool shl_DirectoryExists(const std::string& name)
{
    const DWORD a = shl_FileAttributes(name);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
// The entries of one folder; none when it cannot be listed.
std::vector<TShellTreeEntry> ListFolder(const std::wstring& path, const std::wstring& relative, int depth,
                                        TShellWalkOrder order)
{
    std::vector<TShellTreeEntry> entries;
    WIN32_FIND_DATAW data;
    // No short names wanted; the long form, so that no level is too deep to list.
    const TFindHandle find(FindFirstFileExW(shl_LongPath(path + L"\\*").c_str(), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, 0));
    if (!find) return entries;
    do {
        const wchar_t* name = data.cFileName;
        if (!wcscmp(name, L".") || !wcscmp(name, L"..")) continue;
        TShellTreeEntry e;
        e.Name = name;
        e.Path = path + L"\\" + e.Name;
        e.LongPath = shl_LongPath(e.Path);
        e.Relative = relative.empty() ? e.Name : relative + L"\\" + e.Name;
        e.Attributes = data.dwFileAttributes;
        e.Size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        e.LastWrite = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        e.Depth = depth;
        e.Folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.Link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (e.Folder) e.Size = 0;
        entries.push_back(std::move(e));
    } while (FindNextFileW(find.get(), &data));
    if (order != TShellWalkOrder::AsListed) {
        const bool filesFirst = order == TShellWalkOrder::FilesFirst;
        std::stable_partition(entries.begin(), entries.end(),
                              [&](const TShellTreeEntry& e) { return e.Folder != filesFirst; });
    }
    return entries;
}
} // namespace

bool shl_WalkTree(const std::wstring& root, const TShellTreeVisitor& visit, TShellWalkOrder order)
{
    std::wstring top = root;
    while (!top.empty() && (top.back() == L'\\' || top.back() == L'/')) top.pop_back();
    if (top.empty()) return true;
    struct TLevel {
        std::vector<TShellTreeEntry> Entries;
        size_t Next = 0;
    };
    std::vector<TLevel> levels;
    levels.push_back({ListFolder(top, std::wstring(), 0, order)});
    while (!levels.empty()) {
        TLevel& level = levels.back();
        if (level.Next == level.Entries.size()) {
            levels.pop_back();
            if (levels.empty()) break;
            // The folder that level listed: its second call.
            TShellTreeEntry& folder = levels.back().Entries[levels.back().Next - 1];
            folder.Leaving = true;
            if (visit(folder) == TShellWalk::Stop) return false;
            continue;
        }
        const TShellTreeEntry& entry = level.Entries[level.Next++];
        const TShellWalk step = visit(entry);
        if (step == TShellWalk::Stop) return false;
        if (step == TShellWalk::Skip || !entry.Folder || entry.Link) continue;
        // entry may move with the levels' list: what the next level needs is taken first.
        std::vector<TShellTreeEntry> below = ListFolder(entry.Path, entry.Relative, entry.Depth + 1, order);
        levels.push_back({std::move(below)});
    }
    return true;
}

namespace {
// Makes path, and its parents only when it has to: most callers find the parent there already.
// Levels up to firstLevelEnd (the first one below the root) are never made.
void MakeDirectory(const std::wstring& path, size_t firstLevelEnd)
{
    if (CreateDirectoryW(path.c_str(), nullptr)) return;
    DWORD error = GetLastError();
    const size_t sep = path.rfind(L'\\');
    if (error == ERROR_PATH_NOT_FOUND && sep != std::wstring::npos && firstLevelEnd != std::wstring::npos &&
        sep >= firstLevelEnd) {
        MakeDirectory(path.substr(0, sep), firstLevelEnd);
        if (CreateDirectoryW(path.c_str(), nullptr)) return;
        error = GetLastError();
    }
    const DWORD a = shl_FileAttributes(path);
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY))
        throw std::runtime_error("Cannot create the folder " + WideToUtf8(path) + ": " + SysErrorMessage(error));
}
} // namespace

void shl_ForceDirectories(const std::string& folder)
{
    // Below a root of any form (drive, share, \\?\ and \\?\UNC\): every level but the root is made.
    const size_t root = shl_PathRootLength(folder);
    if (root > 0) {
        std::string below = folder;
        while (below.size() > root && (below.back() == '\\' || below.back() == '/')) below.pop_back();
        if (below.size() > root) MakeDirectory(Utf8ToWide(below), Utf8ToWide(below.substr(0, root)).size());
        return;
    }
    std::wstring path = Utf8ToWide(folder);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.empty()) return;
    // The end of the first level below the root (drive "C:\" or share "\\server\share").
    const size_t first =
        path.rfind(L"\\\\", 0) == 0 ? path.find(L'\\', path.find(L'\\', 2) + 1) : path.find(L'\\', 3);
    if (first != std::wstring::npos || path.size() > 3) MakeDirectory(path, first);
}

bool shl_IsFileLocked(const std::string& name)
{
    try {
        THandle file(CreateFileW(Utf8ToWide(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        return !file;
    } catch (...) {
        return true;
    }
}

bool shl_WaitForFileAccess(const std::string& name, int tries)
{
    for (int i = 0; i < tries; ++i) {
        if (!shl_IsFileLocked(name)) return true;
        Sleep(1);
    }
    return false;
}

uint64_t shl_FileLastWrite(const std::string& name)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Utf8ToWide(name).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool shl_OpenDocumentSent(const std::string& document)
{
    const uint64_t written = shl_FileLastWrite(document), marked = shl_FileLastWrite(document + ".sxc");
    return written && marked == written;
}

bool shl_SetFileLastWrite(const std::string& name, uint64_t lastWrite)
{
    THandle file(CreateFileW(Utf8ToWide(name).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    const FILETIME time{static_cast<DWORD>(lastWrite), static_cast<DWORD>(lastWrite >> 32)};
    return file && lastWrite && SetFileTime(file.get(), nullptr, nullptr, &time);
}

bool shl_MarkOpenDocumentSent(const std::string& document, uint64_t lastWrite)
{
    return shl_SetFileLastWrite(document + ".sxc", lastWrite);
}

bool shl_DeleteFolder(const std::string& folder)
{
    // The shell deletes relative names against the current folder and expands wildcards: only a
    // fully qualified folder below a root is ever handed over.
    if (!shl_IsRemovableFolder(folder)) return false;
    std::wstring name = Utf8ToWide(folder);
    while (!name.empty() && name.back() == L'\\') name.pop_back();
    // The shell's file operation takes no "\\?\" names: the same folder in its plain form.
    if (_wcsnicmp(name.c_str(), L"\\\\?\\UNC\\", 8) == 0)
        name = L"\\" + name.substr(7);
    else if (name.rfind(L"\\\\?\\", 0) == 0)
        name = name.substr(4);
    name.push_back(L'\0');   // the list ends with a second NUL
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = name.c_str();
    // No error box either: the tray program and Explorer's thread call this without a user waiting.
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

namespace {
// The default value of HKEY_CLASSES_ROOT\<key>; false when the key is missing.
bool ClassesDefault(const std::wstring& key, std::wstring& value)
{
    TRegKey k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return false;
    value.clear();
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return true;
    std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (RegQueryValueExW(k.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) !=
        ERROR_SUCCESS)
        return true;
    buf.resize(std::min<size_t>(buf.size(), got / sizeof(wchar_t)));
    const size_t nul = buf.find(L'\0');
    if (nul != std::wstring::npos) buf.resize(nul);
    value = buf;
    return true;
}
} // namespace

std::string shl_GetFileTypeName(const std::string& fileName)
{
    const std::string ext = shl_ExtractFileExt(fileName);
    if (ext.empty()) {
        SHFILEINFOW info{};
        if (!SHGetFileInfoW(Utf8ToWide(fileName).c_str(), 0, &info, sizeof info, SHGFI_TYPENAME)) return {};
        return WideToUtf8(info.szTypeName);
    }
    std::wstring className;
    if (!ClassesDefault(Utf8ToWide(ext), className) || className.empty()) return ext + " File";
    std::wstring typeName;
    if (!ClassesDefault(className, typeName)) return WideToUtf8(className);
    if (typeName.empty()) return ext + " File";
    return WideToUtf8(typeName);
}

uintptr_t shl_StartExe(const std::string& program, const std::string& params, bool wait, uint32_t* exitCode)
{
    const std::wstring app = Utf8ToWide(program);
    // The started program sees "X" as its own name and the parameters after it.
    std::wstring commandLine = L"X " + Utf8ToWide(params);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(app.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        if (wait && exitCode) *exitCode = GetLastError();
        return 0;
    }
    THandle thread(pi.hThread);
    if (!wait) return reinterpret_cast<uintptr_t>(pi.hProcess);
    THandle process(pi.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    if (exitCode) *exitCode = code;
    return reinterpret_cast<uintptr_t>(pi.hProcess);
}
namespace {
TSeam<TShellExecuteFn> ShellExecuteSeam;
} // namespace

void SetShellExecuteSeam(TShellExecuteFn fn)
{
    ShellExecuteSeam.Set(std::move(fn));
}

uint32_t shl_ShellStart(const std::string& program, const std::string& params, void* owner)
{
    const std::wstring file = Utf8ToWide(program), parameters = Utf8ToWide(params);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The process handle is not kept; the caller tells the user of a failure itself.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = static_cast<HWND>(owner);
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    const TShellExecuteFn seam = ShellExecuteSeam.Get();
    SetLastError(ERROR_SUCCESS);
    if (seam ? seam(info) : ShellExecuteExW(&info) != FALSE) return 0;
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : static_cast<uint32_t>(ERROR_GEN_FAILURE);
}
#endif
