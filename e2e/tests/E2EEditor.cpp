// The test editor registered in the prefix for ".txt": it shows the document, "types" a line into
// it, saves it the way simple editors do (the file truncated and written again in place) and closes,
// as a user who opened the document, changed it and saved it would.
#include <windows.h>

#include <string>

namespace {

constexpr UINT_PTR TypeTimer = 1, SaveTimer = 2, CloseTimer = 3;
const wchar_t* const Added = L"\r\nZeile vom Test-Editor ergänzt";

std::wstring File;
HWND Edit = nullptr;

std::wstring FromUtf8(const std::string& s)
{
    std::wstring w(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), int(w.size()));
    return w;
}

std::string ToUtf8(const std::wstring& w)
{
    std::string s(WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), int(s.size()), nullptr, nullptr);
    return s;
}

std::string Load()
{
    std::string bytes;
    HANDLE h = CreateFileW(File.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

bool Save()
{
    const int length = GetWindowTextLengthW(Edit);
    std::wstring text(size_t(length) + 1, L'\0');
    GetWindowTextW(Edit, text.data(), length + 1);
    text.resize(size_t(length));
    const std::string bytes = ToUtf8(text);
    HANDLE h = CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(h);
    return ok;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        MoveWindow(Edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_TIMER:
        KillTimer(window, wParam);
        if (wParam == TypeTimer) {
            const int end = GetWindowTextLengthW(Edit);
            SendMessageW(Edit, EM_SETSEL, end, end);
            SendMessageW(Edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(Added));
        } else if (wParam == SaveTimer) {
            if (!Save())
                PostQuitMessage(3);
        } else
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2)
        return 2;
    File = argv[1];
    const std::string content = Load();
    WNDCLASSW cls{};
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    cls.lpszClassName = L"E2EEditorWindow";
    RegisterClassW(&cls);
    const std::wstring name = File.substr(File.find_last_of(L'\\') + 1);
    HWND window = CreateWindowExW(0, cls.lpszClassName, (name + L" - E2E-Editor").c_str(), WS_OVERLAPPEDWINDOW, 80, 80,
                                  560, 360, nullptr, nullptr, instance, nullptr);
    Edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", FromUtf8(content).c_str(),
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0, 100, 100, window,
                           nullptr, instance, nullptr);
    SendMessageW(Edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    // A user reads for a moment, types a line, saves a little later and closes the editor.
    SetTimer(window, TypeTimer, 1000, nullptr);
    SetTimer(window, SaveTimer, 3500, nullptr);
    SetTimer(window, CloseTimer, 5000, nullptr);
    MSG m;
    int rc = 0;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    if (m.message == WM_QUIT)
        rc = int(m.wParam);
    return rc;
}
