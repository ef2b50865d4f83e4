#pragma once
// The framework's lowest layer besides the stream: attribute and drop-effect sets, name and path
// routines, date-time conversions, and (Windows) the framework lock, the registered clipboard
// formats, late-bound Shlwapi entries and small file, shell and registry routines.
// Names and paths are UTF-8 inside; Win32 is called with wide texts.
#include "SxExceptionClass.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxToolsError, std::runtime_error);

// Framework attribute set (one byte): bit 0 read-only, 1 hidden, 2 system, 3 archive.
using TSxAttributes = uint8_t;
constexpr TSxAttributes SxReadOnly = 0x01, SxHidden = 0x02, SxSystem = 0x04, SxArchive = 0x08;
// Framework drop-effect set: the bits of DROPEFFECT_COPY, _MOVE and _LINK.
using TSxDropEffects = uint8_t;
constexpr TSxDropEffects SxDropCopy = 0x01, SxDropMove = 0x02, SxDropLink = 0x04;

// FILE_ATTRIBUTE_NORMAL (0x80) always, plus 0x01, 0x02, 0x04 and 0x20 for the set's members.
uint32_t SxToFileAttributes(TSxAttributes set);
// 0x01, 0x02, 0x04 kept, 0x20 becomes the archive bit; every other bit dropped.
TSxAttributes FileAttributesToSx(uint32_t attributes);
TSxDropEffects DropEffectToSx(uint32_t effect);

uint32_t MakeVersion(uint16_t major, uint16_t minor);

// False when the part after the last "\" or ":" is blank, starts with a blank or ".", or holds a
// control character or one of " * / : < > ? \ |. Bytes of 128 and above (UTF-8) are allowed.
bool IsValidFileName(const std::string& path);
// Appends the parts between backslashes; an empty path clears the list instead.
void SplitPath(const std::string& path, std::vector<std::string>& list);
// The text after the last "."; the name itself without a "." or when its first "." ends it.
std::string ExtractLastExtension(const std::string& name);
// Digits in groups of three from the right, separated by blanks, then " KB" ("1234" -> "1 234 KB").
std::string FormatKilobytes(const std::string& digits);

// Date-time as a day count since 1899-12-30 with the time of day as its fraction (local time).
using TSxDateTime = double;
struct TSxCalendarTime {
    int year, month, day, hour, minute, second, millisecond;
};
TSxDateTime SxEncodeDateTime(const TSxCalendarTime& time);
TSxCalendarTime SxDecodeDateTime(TSxDateTime value);

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

// The date-time as a SYSTEMTIME of the same calendar fields (no zone conversion).
SYSTEMTIME SxSystemTimeOf(TSxDateTime dateTime);

// The framework lock: one re-entrant process-wide lock.
void EnterFrameworkLock();
void LeaveFrameworkLock();
class TSxFrameworkLock {
public:
    TSxFrameworkLock() { EnterFrameworkLock(); }
    ~TSxFrameworkLock() { LeaveFrameworkLock(); }
    TSxFrameworkLock(const TSxFrameworkLock&) = delete;
    TSxFrameworkLock& operator=(const TSxFrameworkLock&) = delete;
};

// The eight registered clipboard formats. Registered together on first use (not inside the
// loader lock); SxRegisterClipboardFormats does it at once.
struct TSxClipboardFormats {
    UINT SxPrivateFormat, ShellIDList, InShellDragLoop, FileContents, FileGroupDescriptor,
        PreferredDropEffect, PerformedDropEffect, PasteSucceeded;
};
const TSxClipboardFormats& SxClipboardFormats();
void SxRegisterClipboardFormats();
#define CF_SXPRIVATEFORMAT (SxClipboardFormats().SxPrivateFormat)
#define CF_SXSHELLIDLIST (SxClipboardFormats().ShellIDList)
#define CF_SXINSHELLDRAGLOOP (SxClipboardFormats().InShellDragLoop)
#define CF_SXFILECONTENTS (SxClipboardFormats().FileContents)
#define CF_SXFILEGROUPDESCRIPTOR (SxClipboardFormats().FileGroupDescriptor)
#define CF_SXPREFERREDDROPEFFECT (SxClipboardFormats().PreferredDropEffect)
#define CF_SXPERFORMEDDROPEFFECT (SxClipboardFormats().PerformedDropEffect)
#define CF_SXPASTESUCCEEDED (SxClipboardFormats().PasteSucceeded)

// Shlwapi entries bound by name from "Shlwapi.dll" on first use; a missing export stays empty.
struct TSxShlwapi {
    bool Loaded = false;
    BOOL(WINAPI* PathIsFileSpecA)(LPCSTR) = nullptr;
    BOOL(WINAPI* PathIsFileSpecW)(LPCWSTR) = nullptr;
    BOOL(WINAPI* PathIsURLA)(LPCSTR) = nullptr;
    BOOL(WINAPI* PathIsURLW)(LPCWSTR) = nullptr;
    BOOL(WINAPI* PathIsUNCA)(LPCSTR) = nullptr;
    BOOL(WINAPI* PathIsUNCW)(LPCWSTR) = nullptr;
    int(WINAPI* PathParseIconLocationA)(LPSTR) = nullptr;
    int(WINAPI* PathParseIconLocationW)(LPWSTR) = nullptr;
    DWORD(WINAPI* SHDeleteEmptyKeyA)(HKEY, LPCSTR) = nullptr;
    DWORD(WINAPI* SHDeleteEmptyKeyW)(HKEY, LPCWSTR) = nullptr;
    BOOL(WINAPI* SHCreateThread)(LPTHREAD_START_ROUTINE, void*, DWORD, LPTHREAD_START_ROUTINE) = nullptr;
    BOOL(WINAPI* PathMatchSpecA)(LPCSTR, LPCSTR) = nullptr;
    BOOL(WINAPI* PathMatchSpecW)(LPCWSTR, LPCWSTR) = nullptr;
};
const TSxShlwapi& SxShlwapi();
bool ShlwapiLoaded();

// Wide-string routines.
size_t WideStrLen(const wchar_t* text);
std::wstring PWideCharToWideString(const wchar_t* text);
// lstrcpynW semantics: at most maxLength - 1 units and a terminating zero.
void CopyWideToBuffer(wchar_t* dest, const std::wstring& text, int maxLength);

// The library's own module handle (set by the COM server entry; the exe otherwise).
HMODULE SxModuleHandle();
// True inside Wine (its ntdll exports wine_get_version): where its shell does less than Windows',
// the framework and the product take the ways that Wine does go.
bool SxRunsOnWine();
void SxSetModuleHandle(HMODULE module);

std::string GetTempFileWithPrefix(const std::string& prefix);
bool GetDllVersion(const std::string& libraryName, DLLVERSIONINFO& info);
uint32_t GetShell32Version();
void DeleteEmptyRegKey(const std::string& key);
void DeleteEmptyRegKeyIfSet(const std::string& key);
void RegisterExtensionClass(const std::string& extension, const std::string& className, const std::string& description);
bool SetFileAttributesWide(const std::wstring& name, TSxAttributes set);
// File and folder existence, locks and waits for access: uGLBShellTools (shl_FileExists,
// shl_DirectoryExists, shl_ForceDirectories, shl_IsFileLocked, shl_WaitForFileAccess).
// One more load reference on this library, so that it stays loaded for the process.
HMODULE LockModule();
std::string GetFileTypeName(const std::string& name);
int GetSystemIconIndex(const std::string& name, bool open, bool isFolder);
HICON GetFileIconHandle(const std::string& name, bool large, bool open, bool isFolder);

// FILETIME is UTC, the date-time local: both directions convert the time zone, at millisecond
// resolution, so a round trip keeps the time. A zero FILETIME (no time) gives -1.0, and
// DateTimeToFileTime raises ESxToolsError for a date-time Windows cannot represent.
void DateTimeToFileTime(TSxDateTime dateTime, FILETIME& fileTime);
TSxDateTime FileTimeToDateTime(const FILETIME& fileTime);

// Fills a STRRET by the type already in it (wide from the shell allocator, or ANSI in cStr).
void SetStrRet(STRRET& strRet, const std::wstring& text);

// Copies text into a caller's buffer of size characters, terminator included: UTF-16 for wide,
// else converted to the ANSI code page. E_INVALIDARG for no buffer or a size of 0; a text that
// does not fit is cut at a whole character (S_OK).
HRESULT SxCopyToBuffer(const std::string& utf8, void* buffer, UINT size, bool wide);
HRESULT SxCopyToBuffer(std::wstring text, void* buffer, UINT size, bool wide);
#endif
