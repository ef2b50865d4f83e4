// Drives Wine's Explorer window as a user would through its Location box: types the path given on
// the command line, presses Enter, waits until the window shows the folder named by the second
// argument and prints the number of items its view lists. Exit code 0 when it got that far.
#include <windows.h>
#include <commctrl.h>

#include "SxWindowSearch.h"

#include <cstdio>
#include <string>

namespace {

std::wstring TitleOf(HWND window)
{
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return title;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    HWND explorer = nullptr, edit = nullptr;
    for (int i = 0; i < 100 && !edit; ++i, Sleep(200)) {
        explorer = FindWindowW(L"ExplorerWClass", nullptr);
        if (explorer && IsWindowVisible(explorer))
            if (HWND combo = SxVisibleChildOfClass(explorer, L"ComboBoxEx32"))
                edit = SxVisibleChildOfClass(combo, L"Edit");
    }
    if (!edit) {
        std::printf("no Explorer window with a Location box\n");
        return 1;
    }
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[1]));
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
    for (int i = 0; i < 50 && TitleOf(explorer) != argv[2]; ++i)
        Sleep(200);
    if (TitleOf(explorer) != argv[2]) {
        std::printf("the folder did not open\n");
        return 1;
    }
    Sleep(500);
    HWND list = SxVisibleChildOfClass(explorer, L"SysListView32");
    LRESULT count = list ? SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) : -1;
    std::printf("items %d\n", static_cast<int>(count));
    return 0;
}
