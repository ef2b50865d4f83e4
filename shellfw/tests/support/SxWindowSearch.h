#pragma once
// The first visible child window of a class (case-insensitive), as drivers of other programs'
// windows look for an edit or a list view.
#include <windows.h>

struct TSxWindowSearch {
    const wchar_t* Name;
    HWND Found;
};

inline BOOL CALLBACK SxMatchVisibleChild(HWND window, LPARAM data)
{
    auto* s = reinterpret_cast<TSxWindowSearch*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (lstrcmpiW(name, s->Name) == 0 && IsWindowVisible(window)) {
        s->Found = window;
        return FALSE;
    }
    return TRUE;
}

inline HWND SxVisibleChildOfClass(HWND parent, const wchar_t* className)
{
    TSxWindowSearch search{className, nullptr};
    EnumChildWindows(parent, SxMatchVisibleChild, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}
