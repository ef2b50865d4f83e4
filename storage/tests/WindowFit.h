#pragma once
// What every window of both programs must show whole: each visible control inside its parent's
// client area, and each caption inside its control in the font the control draws it with
// (buttons, check boxes and radio buttons, labels with their word wrap, edits' line height, the
// status bar's parts, the tabs of page controls). FitFaults gives one line per fault, so a test
// shows which control of which window is cut. Also a screenshot of a window as a PNG file.
#include "uGLBWin.h"
#include "uTDialogForm.h"

#include <windows.h>
#include <commctrl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace fittest {

inline std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

inline std::string Describe(HWND control)
{
    return WideToUtf8(ClassOf(control)) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" +
           WideToUtf8(WindowTextWide(control)) + "\"";
}

// The size text takes in the control's font; flags as for DrawText (DT_CALCRECT is added).
inline SIZE TextExtent(HWND control, const std::wstring& text, UINT flags, int width)
{
    HDC dc = GetDC(control);
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    RECT r{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    SIZE size{r.right - r.left, r.bottom - r.top};
    if (text.empty())
        size.cy = metrics.tmHeight;
    return size;
}

inline void CheckCaption(HWND control, std::vector<std::string>& faults)
{
    const std::wstring cls = ClassOf(control);
    const std::wstring text = WindowTextWide(control);
    const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    RECT client{};
    GetClientRect(control, &client);
    const int width = client.right, height = client.bottom;
    auto fault = [&](const std::string& what) { faults.push_back(Describe(control) + ": " + what); };
    if (!lstrcmpiW(cls.c_str(), L"Button")) {
        const LONG_PTR kind = style & BS_TYPEMASK;
        if (text.empty() || kind == BS_GROUPBOX || kind == BS_OWNERDRAW)
            return;
        const bool multi = (style & BS_MULTILINE) != 0;
        const bool choice = kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_RADIOBUTTON ||
                            kind == BS_AUTORADIOBUTTON || kind == BS_3STATE || kind == BS_AUTO3STATE;
        // A push button's caption keeps clear of its edge and focus frame; a choice's of its box.
        const int room = choice ? width - GetSystemMetrics(SM_CXMENUCHECK) - 4 : width - 8;
        const SIZE size = TextExtent(control, text, multi ? DT_WORDBREAK : DT_SINGLELINE, room);
        if (size.cx > room)
            fault("caption " + std::to_string(size.cx) + " wide, room " + std::to_string(room));
        if (size.cy > (choice ? height : height - 4))
            fault("caption " + std::to_string(size.cy) + " high, control " + std::to_string(height));
    } else if (!lstrcmpiW(cls.c_str(), L"Static")) {
        const LONG_PTR kind = style & SS_TYPEMASK;
        if (text.empty() || (kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT && kind != SS_LEFTNOWORDWRAP &&
                             kind != SS_SIMPLE))
            return;
        UINT flags = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
        flags |= (kind == SS_LEFTNOWORDWRAP || kind == SS_SIMPLE) ? DT_SINGLELINE : DT_WORDBREAK;
        const SIZE size = TextExtent(control, text, flags, width);
        if (size.cx > width)
            fault("text " + std::to_string(size.cx) + " wide, control " + std::to_string(width));
        if (size.cy > height)
            fault("text " + std::to_string(size.cy) + " high, control " + std::to_string(height));
    } else if (!lstrcmpiW(cls.c_str(), L"Edit")) {
        if (style & ES_MULTILINE)
            return;
        const SIZE size = TextExtent(control, L"Ag", DT_SINGLELINE, width);
        if (size.cy > height)
            fault("line " + std::to_string(size.cy) + " high, edit " + std::to_string(height));
    } else if (!lstrcmpiW(cls.c_str(), STATUSCLASSNAMEW)) {
        const int parts = static_cast<int>(SendMessageW(control, SB_GETPARTS, 0, 0));
        for (int i = 0; i < parts; ++i) {
            const auto length = LOWORD(SendMessageW(control, SB_GETTEXTLENGTHW, i, 0));
            std::wstring part(length + 1, L'\0');
            SendMessageW(control, SB_GETTEXTW, i, reinterpret_cast<LPARAM>(part.data()));
            part.resize(length);
            RECT r{};
            SendMessageW(control, SB_GETRECT, i, reinterpret_cast<LPARAM>(&r));
            const SIZE size = TextExtent(control, part, DT_SINGLELINE | DT_NOPREFIX, r.right - r.left);
            if (!part.empty() && size.cx + 6 > r.right - r.left)
                fault("part " + std::to_string(i) + " \"" + WideToUtf8(part) + "\" " + std::to_string(size.cx) +
                      " wide, part " + std::to_string(r.right - r.left));
        }
    } else if (!lstrcmpiW(cls.c_str(), WC_TABCONTROLW)) {
        const int count = static_cast<int>(SendMessageW(control, TCM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            RECT r{};
            SendMessageW(control, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
            if (r.right > width)
                fault("tab " + std::to_string(i) + " ends at " + std::to_string(r.right) + ", control " +
                      std::to_string(width));
        }
    }
}

struct TFitSearch {
    std::vector<std::string> Faults;
};

inline BOOL CALLBACK CheckChild(HWND control, LPARAM data)
{
    auto* search = reinterpret_cast<TFitSearch*>(data);
    if (!IsWindowVisible(control))
        return TRUE;
    HWND parent = GetParent(control);
    RECT inParent{}, area{};
    GetWindowRect(control, &inParent);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&inParent), 2);
    GetClientRect(parent, &area);
    if (inParent.left < 0 || inParent.top < 0 || inParent.right > area.right || inParent.bottom > area.bottom)
        search->Faults.push_back(Describe(control) + ": at " + std::to_string(inParent.left) + "," +
                                 std::to_string(inParent.top) + " to " + std::to_string(inParent.right) + "," +
                                 std::to_string(inParent.bottom) + ", outside its parent's " +
                                 std::to_string(area.right) + " x " + std::to_string(area.bottom));
    CheckCaption(control, search->Faults);
    return TRUE;
}

// The faults of every visible control below window, at any depth; empty when all fits.
inline std::vector<std::string> FitFaults(HWND window)
{
    TFitSearch search;
    if (!window) {
        search.Faults.push_back("no window");
        return search.Faults;
    }
    EnumChildWindows(window, CheckChild, reinterpret_cast<LPARAM>(&search));
    return search.Faults;
}

struct TTipSearch {
    HWND Owner;
    std::vector<HWND> Tips;
};

inline BOOL CALLBACK MatchTip(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<TTipSearch*>(data);
    if (ClassOf(window) == TOOLTIPS_CLASSW && GetWindow(window, GW_OWNER) == search->Owner)
        search->Tips.push_back(window);
    return TRUE;
}

// The hint a tooltip of the form shows over control, "(no tooltip)" when none does. (A tooltip of
// a child form is owned by the form's top-level window.)
inline std::string HintOf(HWND form, HWND control)
{
    TTipSearch search{GetAncestor(form, GA_ROOT), {}};
    EnumThreadWindows(GetWindowThreadProcessId(form, nullptr), MatchTip, reinterpret_cast<LPARAM>(&search));
    for (HWND tip : search.Tips) {
        wchar_t text[256] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = form;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = text;
        SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        if (text[0])
            return WideToUtf8(text);
    }
    return "(no tooltip)";
}

// The window as the screen shows it, written as a PNG file (false when it could not be).
inline bool SaveWindowShot(HWND window, const std::wstring& file)
{
    RECT r{};
    if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top)
        return false;
    // A window just shown gets its surface from the display's first messages: let them come.
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        for (int i = 0; i < 20; ++i) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    const int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    // The window's own surface (frame included): what it shows, whatever lies above it.
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP shot = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool done = false;
    if (memory && shot) {
        HGDIOBJ old = SelectObject(memory, shot);
        BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        using Microsoft::WRL::ComPtr;
        ComPtr<IWICImagingFactory> factory;
        ComPtr<IWICStream> stream;
        ComPtr<IWICBitmapEncoder> encoder;
        ComPtr<IWICBitmapFrameEncode> frame;
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
        done = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_PPV_ARGS(&factory))) &&
               SUCCEEDED(factory->CreateStream(&stream)) &&
               SUCCEEDED(stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) &&
               SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
               SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
               SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
               SUCCEEDED(frame->SetSize(w, h)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
               SUCCEEDED(frame->WritePixels(h, w * 4, w * h * 4, static_cast<BYTE*>(bits))) &&
               SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (shot)
        DeleteObject(shot);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(window, screen);
    if (SUCCEEDED(com))
        CoUninitialize();
    return done;
}

// <build>/artifacts/<name> (SX_BINARY_DIR as the tests' environment gives it, a Linux path,
// reached through the prefix's drive Z:).
inline std::wstring ArtifactPath(const std::string& name)
{
    wchar_t unixDir[1024] = {};
    if (!GetEnvironmentVariableW(L"SX_BINARY_DIR", unixDir, 1024))
        return Utf8ToWide(name);
    std::wstring dir = std::wstring(L"Z:") + unixDir + L"/artifacts";
    for (wchar_t& c : dir)
        if (c == L'/')
            c = L'\\';
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + Utf8ToWide(name);
}

} // namespace fittest
