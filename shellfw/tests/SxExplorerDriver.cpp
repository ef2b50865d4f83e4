// Drives Wine's Explorer window as a user would through its Location box: types the path given on
// the command line, presses Enter, waits until the window shows the folder named by the second
// argument and prints the number of items its view lists (with a third argument "--images" also the
// number of different images they show). Exit code 0 when it got that far.
#include <windows.h>
#include <commctrl.h>

#include "SxWindowSearch.h"

#include <cstdio>
#include <set>
#include <string>

namespace {

std::wstring TitleOf(HWND window)
{
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return title;
}

// How many different images the list's items show. The list lives in Explorer's process, so the
// item record is read and written in that process's memory.
int DistinctImages(HWND list, int count)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process)
        return 0;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW), MEM_COMMIT, PAGE_READWRITE);
    std::set<int> images;
    for (int i = 0; remote && i < count; ++i) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        SIZE_T done = 0;
        if (!WriteProcessMemory(process, remote, &item, sizeof item, &done) ||
            !SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) ||
            !ReadProcessMemory(process, remote, &item, sizeof item, &done))
            continue;
        images.insert(item.iImage);
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return static_cast<int>(images.size());
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
    if (argc > 3 && lstrcmpW(argv[3], L"--images") == 0)
        std::printf("items %d images %d\n", static_cast<int>(count),
                    list ? DistinctImages(list, static_cast<int>(count)) : 0);
    else
        std::printf("items %d\n", static_cast<int>(count));
    return 0;
}
