#include "SxTrayIcon.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxComObject.h"
#include "SxException.h"
#include "SxTools.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

const IID IID_ISxTrayIcon = {0xA0083A59, 0x0085, 0x400D, {0x9F, 0xCB, 0xF5, 0x1B, 0x49, 0xCA, 0xD9, 0x76}};

namespace {

const wchar_t WindowClass[] = L"TSxTrayIconWindow";
std::atomic<UINT> NextIconID{1};

void RegisterWindowClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW; // replaced per window once its component is attached
        wc.hInstance = SxModuleHandle();
        wc.lpszClassName = WindowClass;
        RegisterClassExW(&wc);
    });
}

DWORD ShellInfoFlags(TSxTrayIconInfoFlags flags)
{
    switch (flags) {
    case TSxTrayIconInfoFlags::niifError:
        return NIIF_ERROR;
    case TSxTrayIconInfoFlags::niifInfo:
        return NIIF_INFO;
    case TSxTrayIconInfoFlags::niifWarning:
        return NIIF_WARNING;
    case TSxTrayIconInfoFlags::niifNone:
        break;
    }
    return NIIF_NONE;
}

// Copies text into a fixed field, cut to the field less its terminating zero.
template <size_t N> void CopyField(wchar_t (&field)[N], const std::string& text)
{
    CopyWideToBuffer(field, Utf8ToWide(text), static_cast<int>(N));
}

TSxShiftState CurrentShift()
{
    TSxShiftState shift = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        shift |= ssShift;
    if (GetKeyState(VK_MENU) < 0)
        shift |= ssAlt;
    if (GetKeyState(VK_CONTROL) < 0)
        shift |= ssCtrl;
    return shift;
}

} // namespace

UINT TSxTrayIcon::TaskbarCreatedMessage()
{
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

TSxTrayIcon::TSxTrayIcon(TSxComponent* owner) : TSxComponent(owner)
{
    RegisterWindowClass();
    TaskbarCreatedMessage();
    FIconData.uID = NextIconID++;
    // A hidden top-level window (not message-only), so that the "TaskbarCreated" broadcast reaches it.
    FWindow = CreateWindowExW(WS_EX_TOOLWINDOW, WindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              SxModuleHandle(), nullptr);
    if (!FWindow)
        throw ESxToolsError("Cannot create the tray icon window: " + SysErrorMessage(GetLastError()));
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(FWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TSxTrayIcon::WindowProc));
}

TSxTrayIcon::~TSxTrayIcon()
{
    if (FActive)
        DeleteIcon();
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
    DestroyWindow(FWindow);
    if (FIcon)
        DestroyIcon(FIcon);
}

void TSxTrayIcon::SetIcon(HICON icon)
{
    if (FIcon)
        DestroyIcon(FIcon);
    FIcon = icon ? CopyIcon(icon) : nullptr;
    ModifyIcon();
}

void TSxTrayIcon::SetActiveState(bool value)
{
    if (value == FActive)
        return;
    FActive = value;
    if (value)
        AddIcon();
    else
        DeleteIcon();
}

void TSxTrayIcon::SetTip(const std::string& value)
{
    FTip = value;
    ModifyIcon();
}

void TSxTrayIcon::SetInfoTitle(const std::string& value)
{
    if (value == FInfoTitle)
        return;
    FInfoTitle = value;
    ModifyIcon();
}

void TSxTrayIcon::EndUpdate()
{
    FUpdateLock = false;
    ModifyIcon();
}

void TSxTrayIcon::FillIconData()
{
    const UINT id = FIconData.uID;
    std::memset(&FIconData, 0, sizeof FIconData);
    FIconData.cbSize = (GetShell32Version() >> 16) >= 5 ? NOTIFYICONDATAW_V2_SIZE : NOTIFYICONDATAW_V1_SIZE;
    FIconData.hWnd = FWindow;
    FIconData.uID = id;
    FIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    FIconData.uCallbackMessage = CallbackMessage;
    FIconData.hIcon = FIcon;
    CopyField(FIconData.szTip, FTip);
}

bool TSxTrayIcon::ShellNotify(DWORD message)
{
    for (;;) {
        if (Shell_NotifyIconW(message, &FIconData))
            return true;
        bool doRetry = false;
        if (!OnFail)
            return false;
        OnFail(*this, doRetry);
        if (!doRetry)
            return false;
    }
}

bool TSxTrayIcon::AddIcon()
{
    FillIconData();
    return ShellNotify(NIM_ADD);
}

bool TSxTrayIcon::DeleteIcon() { return ShellNotify(NIM_DELETE); }

bool TSxTrayIcon::ModifyIcon()
{
    if (FUpdateLock || !FActive)
        return false;
    FillIconData();
    return ShellNotify(NIM_MODIFY);
}

bool TSxTrayIcon::ShowBalloon(const std::string& text, const std::string& title, TSxTrayIconInfoFlags flags)
{
    FillIconData();
    FIconData.dwInfoFlags = ShellInfoFlags(flags);
    FIconData.uFlags = NIF_INFO; // icon and tip stay as they are
    CopyField(FIconData.szInfo, text);
    CopyField(FIconData.szInfoTitle, title);
    FIconData.uTimeout = static_cast<UINT>(InfoTimeout);
    return ShellNotify(NIM_MODIFY);
}

bool TSxTrayIcon::HideBalloon()
{
    FillIconData();
    FIconData.dwInfoFlags = 0;
    FIconData.uFlags = NIF_INFO;
    FIconData.uTimeout = static_cast<UINT>(InfoTimeout);
    return ShellNotify(NIM_MODIFY);
}

void TSxTrayIcon::Click()
{
    if (OnClick)
        OnClick(*this);
}

void TSxTrayIcon::DblClick()
{
    ClickDefaultItem();
    if (OnDblClick)
        OnDblClick(*this);
}

void TSxTrayIcon::ClickDefaultItem()
{
    if (!PopupMenu)
        return;
    const UINT command = GetMenuDefaultItem(PopupMenu, FALSE, 0);
    if (command != static_cast<UINT>(-1) && OnMenuCommand)
        OnMenuCommand(*this, command);
}

void TSxTrayIcon::SetTipW(LPCWSTR tip) { FTip = WideToUtf8(tip); }

HRESULT TSxTrayIcon::LoadIconFromStream(IStream* stream)
{
    return SxComCall(this, [&]() -> HRESULT {
        if (!stream)
            return E_POINTER;
        std::vector<uint8_t> bytes;
        uint8_t chunk[4096];
        ULONG read = 0;
        while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &read)) && read > 0) {
            bytes.insert(bytes.end(), chunk, chunk + read);
            if (bytes.size() > 16u * 1024 * 1024)
                return E_INVALIDARG;
        }
        // An icon file: 6-byte header, 16-byte entries; the first image is taken. Every offset
        // is checked against what the stream held.
        auto u16 = [&](size_t at) { return static_cast<uint32_t>(bytes[at] | (bytes[at + 1] << 8)); };
        auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
        if (bytes.size() < 22 || u16(0) != 0 || u16(2) != 1 || u16(4) == 0)
            return E_INVALIDARG;
        const uint32_t size = u32(6 + 8), offset = u32(6 + 12);
        if (offset > bytes.size() || size > bytes.size() - offset || size == 0)
            return E_INVALIDARG;
        HICON icon = CreateIconFromResourceEx(bytes.data() + offset, size, TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        if (!icon)
            return E_FAIL;
        SetIcon(icon);
        DestroyIcon(icon);
        return S_OK;
    });
}

STDMETHODIMP TSxTrayIcon::QueryInterface(REFIID iid, void** object)
{
    // The component owns itself; AddRef and Release count nothing.
    static const QITAB table[] = {QITABENTMULTI2(TSxTrayIcon, IID_IUnknown, ISxTrayIcon),
                                  SX_QITABENT(TSxTrayIcon, ISxTrayIcon), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

void TSxTrayIcon::Popup(int x, int y)
{
    // The foreground switch lets the menu close when the user clicks elsewhere.
    SetForegroundWindow(FWindow);
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(PopupMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, FWindow, nullptr));
    PostMessageW(FWindow, WM_NULL, 0, 0);
    if (command && OnMenuCommand)
        OnMenuCommand(*this, command);
}

LRESULT CALLBACK TSxTrayIcon::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TSxTrayIcon*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->WndProc(message, wParam, lParam);
    } catch (...) {
        SxHandleException(self, std::current_exception());
        return 0;
    }
}

LRESULT TSxTrayIcon::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CallbackMessage) {
        POINT cursor = {};
        GetCursorPos(&cursor);
        const TSxShiftState shift = CurrentShift();
        switch (static_cast<UINT>(lParam)) {
        case WM_MOUSEMOVE:
            if (OnMouseMove)
                OnMouseMove(*this, shift, cursor.x, cursor.y);
            break;
        case WM_LBUTTONDOWN:
            FLeftDown = true;
            if (OnMouseDown)
                OnMouseDown(*this, TSxMouseButton::mbLeft, shift, cursor.x, cursor.y);
            break;
        case WM_LBUTTONUP:
            if (FLeftDown) {
                FLeftDown = false;
                Click();
            }
            if (OnMouseUp)
                OnMouseUp(*this, TSxMouseButton::mbLeft, shift, cursor.x, cursor.y);
            break;
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
            DblClick();
            break;
        case WM_RBUTTONDOWN:
            FRightDown = true;
            if (OnMouseDown)
                OnMouseDown(*this, TSxMouseButton::mbRight, shift, cursor.x, cursor.y);
            break;
        case WM_RBUTTONUP:
            if (FRightDown) {
                FRightDown = false;
                if (PopupMenu)
                    Popup(cursor.x, cursor.y);
            }
            if (OnMouseUp)
                OnMouseUp(*this, TSxMouseButton::mbRight, shift, cursor.x, cursor.y);
            break;
        case NIN_BALLOONSHOW:
            if (OnBalloonShow)
                OnBalloonShow(*this);
            break;
        case NIN_BALLOONHIDE:
            if (OnBalloonHide)
                OnBalloonHide(*this);
            break;
        case NIN_BALLOONTIMEOUT:
            if (OnBalloonTimeout)
                OnBalloonTimeout(*this);
            break;
        case NIN_BALLOONUSERCLICK:
            if (OnBalloonUserClick)
                OnBalloonUserClick(*this);
            break;
        default:
            break;
        }
        return 0;
    }
    if (message == TaskbarCreatedMessage()) {
        if (FActive)
            AddIcon();
        return 0;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}
#endif
