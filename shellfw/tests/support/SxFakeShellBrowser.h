#pragma once
// An Explorer window for tests: a top-level window that answers WM_USER + 7 with its
// IShellBrowser, owning a real toolbar (comctl32 ToolbarWindow32) that control messages and
// merged buttons reach, a menu bar protocol that records what the view did, and an active view
// whose selection is a prepared data object. It lives on the test's stack, so its reference
// counts are not kept.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "SxComObject.h"
#include "SxFakeDataObject.h"

#include <string>
#include <vector>

class TFakeShellView : public IShellView {
public:
    HWND Window = nullptr;
    IDataObject* Selection = nullptr;  // nullptr: nothing selected

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        static const QITAB table[] = {QITABENTMULTI2(TFakeShellView, IID_IUnknown, IShellView),
                                      QITABENTMULTI(TFakeShellView, IOleWindow, IShellView),
                                      SX_QITABENT(TFakeShellView, IShellView), {nullptr, 0}};
        return SxQueryInterface(this, table, iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = Window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
    STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP UIActivate(UINT) override { return S_OK; }
    STDMETHODIMP Refresh() override { return S_OK; }
    STDMETHODIMP CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*, HWND*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP DestroyViewWindow() override { return S_OK; }
    STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SaveViewState() override { return S_OK; }
    STDMETHODIMP SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemObject(UINT which, REFIID iid, void** object) override
    {
        *object = nullptr;
        if (which != SVGIO_SELECTION || !Selection)
            return E_FAIL;
        return Selection->QueryInterface(iid, object);
    }
};

class TFakeShellBrowser : public IShellBrowser {
public:
    // The window and its toolbar; the toolbar's own image list is made by its first bitmap.
    TFakeShellBrowser()
    {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
        InitCommonControlsEx(&init);
        static const ATOM atom = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &TFakeShellBrowser::WindowProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"SxFakeExplorer";
            return RegisterClassW(&wc);
        }();
        (void)atom;
        Window = CreateWindowExW(0, L"SxFakeExplorer", L"Sx fake Explorer", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), this);
        Toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS | TBSTYLE_LIST,
                                  0, 0, 400, 30, Window, nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(Toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        View.Window = Window;
    }
    ~TFakeShellBrowser()
    {
        if (Window)
            DestroyWindow(Window);
    }
    TFakeShellBrowser(const TFakeShellBrowser&) = delete;
    TFakeShellBrowser& operator=(const TFakeShellBrowser&) = delete;

    HWND Window = nullptr, Toolbar = nullptr;
    TFakeShellView View;
    bool HasActiveView = true;
    std::vector<std::string> Calls;     // "SetMenuSB menu", "SetMenuSB none", "RemoveMenusSB", ...
    HMENU InstalledMenu = nullptr;      // what the last SetMenuSB installed
    int MergedButtons = 0;              // buttons SetToolbarItems put on the toolbar now

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        static const QITAB table[] = {QITABENTMULTI2(TFakeShellBrowser, IID_IUnknown, IShellBrowser),
                                      QITABENTMULTI(TFakeShellBrowser, IOleWindow, IShellBrowser),
                                      SX_QITABENT(TFakeShellBrowser, IShellBrowser), {nullptr, 0}};
        return SxQueryInterface(this, table, iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = Window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // Explorer's five popups; View holds its options separator 0x8081.
    STDMETHODIMP InsertMenusSB(HMENU menu, LPOLEMENUGROUPWIDTHS) override
    {
        Calls.push_back("InsertMenusSB");
        const wchar_t* names[] = {L"&Datei", L"&Bearbeiten", L"&Ansicht", L"E&xtras", L"&?"};
        const UINT ids[] = {0x8000, 0x8040, 0x8080, 0x80C0, 0x8100};
        for (int i = 0; i < 5; ++i) {
            HMENU popup = CreatePopupMenu();
            AppendMenuW(popup, MF_STRING, 0x7001 + i, L"Explorer");
            if (ids[i] == 0x8080) {
                AppendMenuW(popup, MF_SEPARATOR, 0x8081, nullptr);
                AppendMenuW(popup, MF_STRING, 0x7010, L"Ordneroptionen");
            }
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
            info.wID = ids[i];
            info.hSubMenu = popup;
            info.dwTypeData = const_cast<wchar_t*>(names[i]);
            InsertMenuItemW(menu, static_cast<UINT>(i), TRUE, &info);
        }
        return S_OK;
    }
    STDMETHODIMP SetMenuSB(HMENU menu, HOLEMENU, HWND) override
    {
        Calls.push_back(menu ? "SetMenuSB menu" : "SetMenuSB none");
        InstalledMenu = menu;
        return S_OK;
    }
    STDMETHODIMP RemoveMenusSB(HMENU menu) override
    {
        Calls.push_back("RemoveMenusSB");
        // Explorer takes its popups back out of the shared menu (and destroys them here).
        while (GetMenuItemCount(menu) > 0)
            DeleteMenu(menu, 0, MF_BYPOSITION);
        return S_OK;
    }
    STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return S_OK; }
    STDMETHODIMP EnableModelessSB(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetControlWindow(UINT id, HWND* window) override
    {
        *window = id == FCW_TOOLBAR ? Toolbar : nullptr;
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP SendControlMsg(UINT id, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override
    {
        if (id != FCW_TOOLBAR)
            return E_FAIL;
        const LRESULT answer = SendMessageW(Toolbar, msg, wParam, lParam);
        if (result)
            *result = answer;
        return S_OK;
    }
    STDMETHODIMP QueryActiveShellView(IShellView** view) override
    {
        *view = HasActiveView ? &View : nullptr;
        return HasActiveView ? S_OK : E_FAIL;
    }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
    // FCT_MERGE: the view's buttons replace the ones it merged before (none: they go).
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB buttons, UINT count, UINT flags) override
    {
        Calls.push_back("SetToolbarItems " + std::to_string(count));
        if (flags != FCT_MERGE)
            return E_INVALIDARG;
        while (MergedButtons > 0) {
            SendMessageW(Toolbar, TB_DELETEBUTTON, 0, 0);
            --MergedButtons;
        }
        if (buttons && count) {
            SendMessageW(Toolbar, TB_ADDBUTTONSW, count, reinterpret_cast<LPARAM>(buttons));
            MergedButtons = static_cast<int>(count);
        }
        return S_OK;
    }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        if (msg == WM_USER + 7) {
            auto* self = reinterpret_cast<TFakeShellBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            return reinterpret_cast<LRESULT>(static_cast<IShellBrowser*>(self));
        }
        return DefWindowProcW(window, msg, wParam, lParam);
    }
};
