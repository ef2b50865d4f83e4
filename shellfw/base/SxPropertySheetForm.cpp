#include "SxPropertySheetForm.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxComponent.h"

#include <list>
#include <mutex>

namespace {

const wchar_t FormWindowClass[] = L"TSxShellPropSheetForm";

std::mutex& ClassesLock()
{
    static std::mutex lock;
    return lock;
}

// A list keeps the addresses of its entries, which FindPropSheetForm hands out.
std::list<TSxPropSheetFormClass>& Classes()
{
    static std::list<TSxPropSheetFormClass> classes;
    return classes;
}

} // namespace

bool RegisterPropSheetForm(const TSxPropSheetFormClass& formClass)
{
    std::lock_guard<std::mutex> guard(ClassesLock());
    Classes().push_back(formClass);
    return true;
}

const TSxPropSheetFormClass* FindPropSheetForm(const std::string& name)
{
    std::lock_guard<std::mutex> guard(ClassesLock());
    for (const auto& formClass : Classes())
        if (SxSameName(formClass.ClassName, name))
            return &formClass;
    return nullptr;
}

TSxShellPropSheetForm::~TSxShellPropSheetForm()
{
    if (FHandle && IsWindow(FHandle)) {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
}

bool TSxShellPropSheetForm::Create(HWND page)
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &TSxShellPropSheetForm::WindowProc;
        windowClass.hInstance = SxModuleHandle();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = FormWindowClass;
        RegisterClassExW(&windowClass);
    });
    RECT client{};
    GetClientRect(page, &client);
    FFont = reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0));
    FHandle = CreateWindowExW(WS_EX_CONTROLPARENT, FormWindowClass, L"", WS_CHILD | WS_VISIBLE, 0, 0,
                              client.right - client.left, client.bottom - client.top, page, nullptr,
                              SxModuleHandle(), nullptr);
    if (!FHandle)
        return false;
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    CreateControls();
    return true;
}

HWND TSxShellPropSheetForm::AddControl(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y,
                                       int width, int height, int id, DWORD exStyle)
{
    HWND control = CreateWindowExW(exStyle, windowClass, Utf8ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y,
                                   width, height, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   SxModuleHandle(), nullptr);
    if (control && FFont)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    return control;
}

LRESULT CALLBACK TSxShellPropSheetForm::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* form = reinterpret_cast<TSxShellPropSheetForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form && msg == WM_COMMAND) {
        try {
            form->Command(LOWORD(wParam), HIWORD(wParam));
        } catch (...) {
            // Nothing crosses into the window manager; the page stays as it is.
        }
        return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}
#endif
