// Stands in for the tray program at its install path: it only runs, for a minute at most, or until
// a file "quit" appears beside it.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring quit = self;
    quit = quit.substr(0, quit.find_last_of(L'\\') + 1) + L"quit";
    for (int i = 0; i < 600; ++i) {
        if (GetFileAttributesW(quit.c_str()) != INVALID_FILE_ATTRIBUTES)
            return 0;
        Sleep(100);
    }
    return 0;
}
