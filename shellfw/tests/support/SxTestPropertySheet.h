#pragma once
// A real property sheet of a handler's pages for the tests: the pages the handler adds, the sheet
// shown modeless under the display, its messages pumped, and its tab titles read.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

namespace sxtest {

// The pages a handler's AddPages hands out (pass Add and the object's address).
struct TSheetPages {
    std::vector<HPROPSHEETPAGE> Pages;
    static BOOL CALLBACK Add(HPROPSHEETPAGE page, LPARAM param)
    {
        reinterpret_cast<TSheetPages*>(param)->Pages.push_back(page);
        return TRUE;
    }
};

// Runs the messages of the thread for rounds times 10 ms, the sheet's through its dialog handling.
inline void Pump(HWND sheet, int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            if (!sheet || !IsWindow(sheet) || !PropSheet_IsDialogMessage(sheet, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        Sleep(10);
    }
}

// The pages in a modeless sheet without an Apply button, shown and pumped; nullptr when it failed.
inline HWND ShowSheet(std::vector<HPROPSHEETPAGE>& pages, const wchar_t* caption)
{
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
    header.hInstance = GetModuleHandleW(nullptr);
    header.pszCaption = caption;
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();
    auto window = reinterpret_cast<HWND>(PropertySheetW(&header));
    if (window)
        Pump(window, 10);
    return window;
}

// The title of the sheet's tab at index.
inline std::wstring TabTitle(HWND sheet, int index = 0)
{
    wchar_t title[128] = {};
    TCITEMW tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = title;
    tab.cchTextMax = 128;
    SendMessageW(PropSheet_GetTabControl(sheet), TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&tab));
    return title;
}

} // namespace sxtest
