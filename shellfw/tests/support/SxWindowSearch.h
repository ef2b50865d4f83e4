#pragma once
// The first visible child window of a class (case-insensitive), as drivers of other programs'
// windows look for an edit or a list view.
#include <windows.h>

inline HWND SxVisibleChildOfClass(HWND parent, const wchar_t* className)
{
    struct TSearch {
        const wchar_t* Name;
        HWND Found;
    } search{className, nullptr};
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<TSearch*>(data);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (lstrcmpiW(name, s->Name) == 0 && IsWindowVisible(window)) {
                s->Found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}
