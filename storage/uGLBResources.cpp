#include "uGLBResources.h"

#ifdef _WIN32
#include "uGLBWin.h"

#include <commctrl.h>

HMODULE ResourceModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ResourceModule), &module);
    return module;
}

HBITMAP LoadBanner(int width)
{
    HBITMAP whole = static_cast<HBITMAP>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDB_SX_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!whole)
        return nullptr;
    BITMAP size{};
    GetObjectW(whole, sizeof size, &size);
    HBITMAP cut = nullptr;
    if (width > 0 && width != size.bmWidth) {
        // A window narrower than the banner shows its left part; a wider one its last column
        // stretched, so the band always spans the window.
        HDC screen = GetDC(nullptr);
        HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
        cut = CreateCompatibleBitmap(screen, width, size.bmHeight);
        if (from && to && cut) {
            HGDIOBJ oldFrom = SelectObject(from, whole), oldTo = SelectObject(to, cut);
            const int common = width < size.bmWidth ? width : size.bmWidth;
            BitBlt(to, 0, 0, common, size.bmHeight, from, 0, 0, SRCCOPY);
            if (width > common)
                StretchBlt(to, common, 0, width - common, size.bmHeight, from, size.bmWidth - 1, 0, 1, size.bmHeight,
                           SRCCOPY);
            SelectObject(from, oldFrom);
            SelectObject(to, oldTo);
        }
        if (from)
            DeleteDC(from);
        if (to)
            DeleteDC(to);
        ReleaseDC(nullptr, screen);
        DeleteObject(whole);
        return cut;
    }
    return whole;
}

HICON LoadProductIcon(int size)
{
    return static_cast<HICON>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_SX_PRODUCT), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void AddHint(HWND& tip, HWND owner, HWND control, const std::string& hint)
{
    if (!tip) {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&classes);
        tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, nullptr, nullptr);
        if (!tip)
            return;
        SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 400);   // hints of two lines break where they say
    }
    std::wstring text = Utf8ToWide(hint);
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text.data();
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}
#endif
