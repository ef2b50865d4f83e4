#include "SxTools.h"

#include "SxPidl.h"

#include "uGLBTools.h"

#include <algorithm>
#include <cmath>
#include <cstring>

uint32_t SxToFileAttributes(TSxAttributes set)
{
    uint32_t attributes = 0x80;
    if (set & SxReadOnly)
        attributes |= 0x01;
    if (set & SxHidden)
        attributes |= 0x02;
    if (set & SxSystem)
        attributes |= 0x04;
    if (set & SxArchive)
        attributes |= 0x20;
    return attributes;
}

TSxAttributes FileAttributesToSx(uint32_t attributes)
{
    TSxAttributes set = static_cast<TSxAttributes>(attributes & 0x07);
    if (attributes & 0x20)
        set |= SxArchive;
    return set;
}

TSxDropEffects DropEffectToSx(uint32_t effect) { return static_cast<TSxDropEffects>(effect & 7); }

uint32_t MakeVersion(uint16_t major, uint16_t minor) { return (uint32_t(major) << 16) | minor; }

bool IsValidFileName(const std::string& path)
{
    const size_t cut = path.find_last_of("\\:");
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.find_first_not_of(' ') == std::string::npos)
        return false;
    if (name[0] == ' ' || name[0] == '.')
        return false;
    for (unsigned char c : name) {
        if (c >= 128)
            continue;
        if (c < 32 || std::strchr("\"*/:<>?\\|", c))
            return false;
    }
    return true;
}

void SplitPath(const std::string& path, std::vector<std::string>& list)
{
    if (path.empty()) {
        list.clear();
        return;
    }
    size_t start = 0;
    for (size_t slash; (slash = path.find('\\', start)) != std::string::npos; start = slash + 1)
        list.push_back(path.substr(start, slash - start));
    if (start < path.size())
        list.push_back(path.substr(start));
}

std::string ExtractLastExtension(const std::string& name)
{
    const size_t first = name.find('.');
    if (first == std::string::npos || first == name.size() - 1)
        return name;
    return name.substr(name.rfind('.') + 1);
}

std::string FormatKilobytes(const std::string& digits)
{
    std::string kept(1, '0');
    for (char c : digits)
        if (c >= '0' && c <= '9')
            kept.push_back(c);
    // Leading zeros go, one stays for zero.
    const size_t first = kept.find_first_not_of('0');
    kept.erase(0, first == std::string::npos ? kept.size() - 1 : first);
    // Filled in place: one blank between groups of three, counted from the right.
    const size_t n = kept.size(), groups = (n - 1) / 3;
    std::string grouped(n + groups + 3, ' ');
    for (size_t i = 0, out = 0; i < n; ++i, ++out) {
        if (i && (n - i) % 3 == 0)
            ++out;
        grouped[out] = kept[i];
    }
    grouped[grouped.size() - 2] = 'K';
    grouped[grouped.size() - 1] = 'B';
    return grouped;
}

namespace {

constexpr int64_t MsPerDay = 86400000;

} // namespace

// Before the epoch the day count is negative while the time of day still counts forwards.
TSxDateTime SxEncodeDateTime(const TSxCalendarTime& t)
{
    const int64_t days = DayNumberOfDate(t.year, t.month, t.day);
    const double fraction =
        ((t.hour * 60.0 + t.minute) * 60.0 + t.second + t.millisecond / 1000.0) / 86400.0;
    return days >= 0 ? days + fraction : days - fraction;
}

TSxCalendarTime SxDecodeDateTime(TSxDateTime value)
{
    int64_t days = static_cast<int64_t>(std::trunc(value));
    int64_t ms = std::llround(std::fabs(value - static_cast<double>(days)) * MsPerDay);
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        days += value >= 0 ? 1 : -1;
    }
    TSxCalendarTime t{};
    DateOfDayNumber(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxVirtualIconCache.h"

#include <mutex>

namespace {

std::recursive_mutex& FrameworkMutex()
{
    static std::recursive_mutex lock;
    return lock;
}

} // namespace

void EnterFrameworkLock() { FrameworkMutex().lock(); }
void LeaveFrameworkLock() { FrameworkMutex().unlock(); }

const TSxClipboardFormats& SxClipboardFormats()
{
    static const TSxClipboardFormats formats = [] {
        TSxClipboardFormats f;
        f.SxPrivateFormat = RegisterClipboardFormatA("SxCF_PrivateFormat");
        f.ShellIDList = RegisterClipboardFormatA("Shell IDList Array");
        f.InShellDragLoop = RegisterClipboardFormatA("InShellDragLoop");
        f.FileContents = RegisterClipboardFormatA("FileContents");
        f.FileGroupDescriptor = RegisterClipboardFormatA("FileGroupDescriptor");
        f.PreferredDropEffect = RegisterClipboardFormatA("Preferred DropEffect");
        f.PerformedDropEffect = RegisterClipboardFormatA("Performed DropEffect");
        f.PasteSucceeded = RegisterClipboardFormatA("Paste Succeeded");
        return f;
    }();
    return formats;
}

void SxRegisterClipboardFormats() { SxClipboardFormats(); }

const TSxShlwapi& SxShlwapi()
{
    static const TSxShlwapi entries = [] {
        TSxShlwapi e;
        // Never freed: the pointers stay valid for the process.
        HMODULE library = LoadLibraryW(L"Shlwapi.dll");
        if (!library)
            return e;
        auto bind = [library](auto& pointer, const char* name) {
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(
                reinterpret_cast<void*>(GetProcAddress(library, name)));
        };
        bind(e.PathIsFileSpecA, "PathIsFileSpecA");
        bind(e.PathIsFileSpecW, "PathIsFileSpecW");
        bind(e.PathIsURLA, "PathIsURLA");
        bind(e.PathIsURLW, "PathIsURLW");
        bind(e.PathIsUNCA, "PathIsUNCA");
        bind(e.PathIsUNCW, "PathIsUNCW");
        bind(e.PathParseIconLocationA, "PathParseIconLocationA");
        bind(e.PathParseIconLocationW, "PathParseIconLocationW");
        bind(e.SHDeleteEmptyKeyA, "SHDeleteEmptyKeyA");
        bind(e.SHDeleteEmptyKeyW, "SHDeleteEmptyKeyW");
        bind(e.SHCreateThread, "SHCreateThread");
        bind(e.PathMatchSpecA, "PathMatchSpecA");
        bind(e.PathMatchSpecW, "PathMatchSpecW");
        e.Loaded = true;
        return e;
    }();
    return entries;
}

bool ShlwapiLoaded() { return SxShlwapi().Loaded; }

size_t WideStrLen(const wchar_t* text) { return text ? wcslen(text) : 0; }

std::wstring PWideCharToWideString(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

void CopyWideToBuffer(wchar_t* dest, const std::wstring& text, int maxLength)
{
    if (!dest || maxLength <= 0)
        return;
    const size_t n = std::min(text.size(), static_cast<size_t>(maxLength - 1));
    std::memcpy(dest, text.data(), n * sizeof(wchar_t));
    dest[n] = L'\0';
}

namespace {
HMODULE ThisModule = nullptr;
}

HMODULE SxModuleHandle() { return ThisModule ? ThisModule : GetModuleHandleW(nullptr); }

bool SxRunsOnWine()
{
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}
void SxSetModuleHandle(HMODULE module) { ThisModule = module; }

std::string GetTempFileWithPrefix(const std::string& prefix)
{
    wchar_t path[MAX_PATH + 1] = {}, name[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH, path) || !GetTempFileNameW(path, Utf8ToWide(prefix).c_str(), 0, name))
        throw ESxToolsError("Cannot create a temporary file: " + SysErrorMessage(GetLastError()));
    return WideToUtf8(name);
}

bool GetDllVersion(const std::string& libraryName, DLLVERSIONINFO& info)
{
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    HMODULE library = LoadLibraryW(Utf8ToWide(libraryName).c_str());
    if (!library)
        return false;
    bool ok = false;
    if (auto get = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetVersion"))))
        ok = SUCCEEDED(get(&info));
    FreeLibrary(library);
    return ok;
}

uint32_t GetShell32Version()
{
    DLLVERSIONINFO info;
    if (!GetDllVersion("Shell32.dll", info))
        return 0;
    return MakeVersion(static_cast<uint16_t>(info.dwMajorVersion), static_cast<uint16_t>(info.dwMinorVersion));
}

void DeleteEmptyRegKey(const std::string& key)
{
    // The wide form keeps UTF-8 names intact.
    if (ShlwapiLoaded() && SxShlwapi().SHDeleteEmptyKeyW)
        SxShlwapi().SHDeleteEmptyKeyW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str());
}

void DeleteEmptyRegKeyIfSet(const std::string& key)
{
    if (!key.empty())
        DeleteEmptyRegKey(key);
}

namespace {

void WriteRootDefault(const std::string& key, const std::string& value)
{
    TRegKey handle;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, handle.put(), nullptr);
    if (rc == ERROR_SUCCESS) {
        const std::wstring data = Utf8ToWide(value);
        rc = RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    if (rc != ERROR_SUCCESS)
        throw ESxToolsError("Cannot write HKEY_CLASSES_ROOT\\" + key + ": " + SysErrorMessage(static_cast<DWORD>(rc)));
}

} // namespace

void RegisterExtensionClass(const std::string& extension, const std::string& className, const std::string& description)
{
    if (!extension.empty())
        WriteRootDefault(extension, className);
    if (!className.empty())
        WriteRootDefault(className, description);
}

bool SetFileAttributesWide(const std::wstring& name, TSxAttributes set)
{
    return SetFileAttributesW(name.c_str(), SxToFileAttributes(set)) != FALSE;
}

HMODULE LockModule()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(SxModuleHandle(), path, MAX_PATH);
    return LoadLibraryW(path);
}

std::string GetFileTypeName(const std::string& name)
{
    SHFILEINFOW info = {};
    SHGetFileInfoW(Utf8ToWide(name).c_str(), 0, &info, sizeof info, SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES);
    return WideToUtf8(info.szTypeName);
}

namespace {

DWORD_PTR FileInfo(const std::string& name, bool isFolder, UINT flags, SHFILEINFOW& info)
{
    std::memset(&info, 0, sizeof info);
    return SHGetFileInfoW(Utf8ToWide(name).c_str(), isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL,
                          &info, sizeof info, flags | SHGFI_USEFILEATTRIBUTES);
}

} // namespace

int GetSystemIconIndex(const std::string& name, bool open, bool isFolder)
{
    // Windows 2000 gets the framework's own cache in place of the system image list.
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 0)
        return GetVirtualIconCache().GetIconIndex(name, isFolder, open);
#pragma GCC diagnostic pop
    SHFILEINFOW info;
    FileInfo(name, isFolder, SHGFI_SYSICONINDEX | (open ? SHGFI_OPENICON : 0), info);
    return info.iIcon;
}

HICON GetFileIconHandle(const std::string& name, bool large, bool open, bool isFolder)
{
    SHFILEINFOW info;
    FileInfo(name, isFolder, SHGFI_ICON | (large ? 0 : SHGFI_SMALLICON) | (open ? SHGFI_OPENICON : 0), info);
    return info.hIcon;
}

SYSTEMTIME SxSystemTimeOf(TSxDateTime dateTime)
{
    const TSxCalendarTime t = SxDecodeDateTime(dateTime);
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    st.wMilliseconds = static_cast<WORD>(t.millisecond);
    return st;
}

void DateTimeToFileTime(TSxDateTime dateTime, FILETIME& fileTime)
{
    const TSxCalendarTime t = SxDecodeDateTime(dateTime);
    SYSTEMTIME local = SxSystemTimeOf(dateTime), utc = {};
    if (t.year < 1601 || t.year > 30827 || !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !SystemTimeToFileTime(&utc, &fileTime))
        throw ESxToolsError("Date out of the range of a file time");
}

TSxDateTime FileTimeToDateTime(const FILETIME& fileTime)
{
    SYSTEMTIME utc, local;
    if ((fileTime.dwLowDateTime == 0 && fileTime.dwHighDateTime == 0) || !FileTimeToSystemTime(&fileTime, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return -1.0;
    return SxEncodeDateTime({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                             local.wMilliseconds});
}

void SetStrRet(STRRET& strRet, const std::wstring& text)
{
    if (strRet.uType == STRRET_WSTR) {
        const size_t bytes = 2 * (text.size() + 1);
        strRet.pOleStr = static_cast<LPWSTR>(SxShellAlloc(bytes));
        if (!strRet.pOleStr)
            throw std::bad_alloc();
        std::memset(strRet.pOleStr, 0, bytes);
        CopyWideToBuffer(strRet.pOleStr, text, static_cast<int>(std::min<size_t>(text.size() + 1, MAX_PATH)));
        return;
    }
    strRet.uType = STRRET_CSTR;
    std::memset(strRet.cStr, 0, sizeof strRet.cStr);
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(std::min<size_t>(text.size(), MAX_PATH - 1)),
                        strRet.cStr, MAX_PATH - 1, nullptr, nullptr);
}

HRESULT SxCopyToBuffer(const std::string& text, void* buffer, UINT size, bool wide)
{
    return SxCopyToBuffer(Utf8ToWide(text), buffer, size, wide);
}

HRESULT SxCopyToBuffer(std::wstring w, void* buffer, UINT size, bool wide)
{
    if (!buffer || size == 0)
        return E_INVALIDARG;
    // Never a half character: no lone surrogate in the wide text, no cut multi-byte character.
    auto cutAt = [&](size_t length) {
        if (length > 0 && length < w.size() && IS_HIGH_SURROGATE(w[length - 1]))
            --length;
        w.resize(length);
    };
    if (wide) {
        if (w.size() >= size)
            cutAt(size - 1);
        std::copy(w.begin(), w.end(), static_cast<wchar_t*>(buffer));
        static_cast<wchar_t*>(buffer)[w.size()] = L'\0';
        return S_OK;
    }
    auto* out = static_cast<char*>(buffer);
    for (;;) {
        const int needed = w.empty() ? 0
                                     : WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                                           0, nullptr, nullptr);
        if (needed >= 0 && static_cast<UINT>(needed) < size) {
            if (needed > 0)
                WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out, needed, nullptr, nullptr);
            out[needed] = '\0';
            return S_OK;
        }
        cutAt(w.size() - 1);
    }
}
#endif
