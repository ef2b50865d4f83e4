// The tray program: the main window and its message loop until the program ends.
#include "ufrmVaultmereMain.h"

#include "uGLBWin.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);

        // "HIDE" of the autostart entry changes nothing; "--login" connects with the stored account.
        bool login = false;
        int argc = 0;
        if (PWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
            for (int i = 1; i < argc; ++i)
                login = login || lstrcmpiW(argv[i], L"--login") == 0;
            LocalFree(argv);
        }
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
            if (n < path.size()) {
                path.resize(n);
                break;
            }
            path.resize(path.size() * 2);
        }
        TfrmVaultmereMain form(WideToUtf8(path));
        if (!form.FormCreate())
            return 0;
        form.QuitOnDestroy = true;
        form.Show();
        if (login)
            PostMessageW(form.Handle, WM_APP_LOGIN, 0, 0);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (form.Handle && IsDialogMessageW(form.Handle, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        CoUninitialize();
        return 0;
    } catch (...) {
        return 1;
    }
}
