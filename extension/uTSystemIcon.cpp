#include "uTSystemIcon.h"

#include "SxPidl.h"
#include "uGLBWin.h"

#include <shellapi.h>
#include <shlobj.h>

TSystemIcon::~TSystemIcon() { Take(nullptr); }

void TSystemIcon::Take(HICON icon)
{
    if (FHandle && FHandle != icon)
        DestroyIcon(FHandle);
    FHandle = icon;
}

HICON TSystemIcon::LoadSystemIcon(int csidl, UINT flags)
{
    PIDLIST_ABSOLUTE list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list)
        return FHandle;
    TSxPidlPtr owned(list);
    SHFILEINFOW info{};
    if (SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &info, sizeof info, SHGFI_PIDL | SHGFI_ICON | flags) &&
        info.hIcon)
        Take(info.hIcon);
    return FHandle;
}

HICON TSystemIcon::LoadFolderIcon(bool small)
{
    SHFILEINFOW info{};
    if (SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | (small ? SHGFI_SMALLICON : SHGFI_LARGEICON)) &&
        info.hIcon)
        Take(info.hIcon);
    return FHandle;
}

HICON TSystemIcon::LoadFileIcon(const std::string& fileName)
{
    SHFILEINFOW info{};
    if (SHGetFileInfoW(Utf8ToWide(fileName).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_LARGEICON) &&
        info.hIcon)
        Take(info.hIcon);
    return FHandle;
}
