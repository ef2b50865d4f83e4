#include "uGLBShellTools.h"

#include "uGLBTools.h"

#include <algorithm>
#include <stdexcept>

#ifdef _WIN32
#include "uGLBWin.h"

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

namespace {
DWORD AttributesOf(const std::string& name)
{
    return name.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Utf8ToWide(name).c_str());
}
} // namespace

bool shl_FileExists(const std::string& name)
{
    const DWORD a = AttributesOf(name);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool shl_DirectoryExists(const std::string& name)
{
    const DWORD a = AttributesOf(name);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
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
    const DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY))
        throw std::runtime_error("Cannot create the folder " + WideToUtf8(path) + ": " + SysErrorMessage(error));
}
} // namespace

void shl_ForceDirectories(const std::string& folder)
{
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
    std::wstring name = Utf8ToWide(folder);
    while (!name.empty() && name.back() == L'\\') name.pop_back();
    // The shell deletes relative names against the current folder and expands wildcards: only a
    // fully qualified folder below a root is ever handed over.
    if (name.empty() || PathIsRelativeW(name.c_str()) || name.find_first_of(L"*?") != std::wstring::npos)
        return false;
    if (PathIsRootW((name + L"\\").c_str()) || PathIsRootW(name.c_str())) return false;
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
#endif
