// Works the running tray program from outside, as a user would with mouse and keyboard:
//   menu          right click on the tray icon (the tray menu opens)
//   close-menu    Esc to the open menu
//   fill U P      types account and password into the main window
//   login U P     the same, then presses Connect
//   exit          the tray menu's exit command
//   english       the tray menu's English language command
//   explorer      exit code 0 when an Explorer window is open
//   close-explorer  closes every Explorer window
// Exit code 0 when it found what it needed.
#include <windows.h>

#include <string>

namespace {
constexpr UINT TrayCallback = 0xB05A;   // the tray icon's callback message
constexpr int MenuClose = 209;          // the exit command of the tray menu
constexpr int MenuEnglish = 206;        // its English language command
constexpr int UsernameId = 302, PwdId = 304, ConnectId = 307;

HWND MainWindow() { return FindWindowW(L"TfrmVaultmereMain", L"Tandrel Sendrake"); }

HWND Explorer()
{
    HWND w = FindWindowW(L"ExplorerWClass", nullptr);
    return w ? w : FindWindowW(L"CabinetWClass", nullptr);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring command = argv[1];
    if (command == L"menu") {
        HWND icon = FindWindowW(L"TSxTrayIconWindow", nullptr);
        if (!icon)
            return 1;
        SetCursorPos(600, 300);
        PostMessageW(icon, TrayCallback, 0, WM_RBUTTONDOWN);
        PostMessageW(icon, TrayCallback, 0, WM_RBUTTONUP);
        return 0;
    }
    if (command == L"close-menu") {
        HWND menu = FindWindowW(L"#32768", nullptr);
        if (!menu)
            return 1;
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        return 0;
    }
    if ((command == L"login" || command == L"fill") && argc >= 4) {
        HWND main = MainWindow();
        if (!main)
            return 1;
        SendMessageW(GetDlgItem(main, UsernameId), WM_SETTEXT, 0, LPARAM(argv[2]));
        SendMessageW(GetDlgItem(main, PwdId), WM_SETTEXT, 0, LPARAM(argv[3]));
        if (command == L"login")
            PostMessageW(main, WM_COMMAND, MAKEWPARAM(ConnectId, BN_CLICKED), LPARAM(GetDlgItem(main, ConnectId)));
        return 0;
    }
    if (command == L"exit" || command == L"english") {
        HWND main = MainWindow();
        if (!main)
            return 1;
        PostMessageW(main, WM_COMMAND, command == L"exit" ? MenuClose : MenuEnglish, 0);
        return 0;
    }
    if (command == L"explorer")
        return Explorer() ? 0 : 1;
    if (command == L"close-explorer") {
        for (int i = 0; i < 20; ++i) {
            HWND w = Explorer();
            if (!w)
                return 0;
            PostMessageW(w, WM_CLOSE, 0, 0);
            Sleep(300);
        }
        return 1;
    }
    return 2;
}
