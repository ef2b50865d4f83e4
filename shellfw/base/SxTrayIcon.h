#pragma once
// One icon in the notification area: a hidden window of its own receives the icon's mouse and
// balloon notifications and turns them into events; the popup menu opens on a right click, the
// menu's default item runs on a double click, and the icon comes back when the taskbar is re-made.
// Main thread only (the hidden window belongs to the creating thread).
#ifdef _WIN32
#include "SxComObject.h"
#include "SxComponent.h"

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

enum class TSxTrayIconInfoFlags : uint8_t { niifError, niifInfo, niifNone, niifWarning };
enum class TSxMouseButton : uint8_t { mbLeft, mbRight };
// Shift state: the Shift, Alt and Ctrl keys.
using TSxShiftState = uint8_t;
constexpr TSxShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4;

class TSxTrayIcon;

// {A0083A59-0085-400D-9FCB-F51B49CAD976}; counted by the component, never freed through it.
extern const IID IID_ISxTrayIcon;
struct ISxTrayIcon : public IUnknown {
    virtual void STDMETHODCALLTYPE Click() = 0;
    virtual void STDMETHODCALLTYPE DblClick() = 0;
    virtual BOOL STDMETHODCALLTYPE GetActive() = 0;
    virtual void STDMETHODCALLTYPE SetActive(BOOL value) = 0;
    virtual void STDMETHODCALLTYPE SetTipW(LPCWSTR tip) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadIconFromStream(IStream* stream) = 0;
    virtual TSxTrayIcon* STDMETHODCALLTYPE GetTrayIcon() = 0;
};

class TSxTrayIcon : public TSxComponent, public ISxTrayIcon, public TSxOwnerHeldComObject {
public:
    // The callback message of the icon.
    static constexpr UINT CallbackMessage = 0xB05A;

    explicit TSxTrayIcon(TSxComponent* owner = nullptr);
    ~TSxTrayIcon() override;
    std::string ClassName() const override { return "TSxTrayIcon"; }

    // The icon shown; a copy is kept (owned).
    void SetIcon(HICON icon);
    HICON Icon() const { return FIcon; }
    bool Active() const { return FActive; }
    void SetActiveState(bool value);
    bool ShowDesignTime() const { return FShowDesignTime; }
    void SetShowDesignTime(bool value) { FShowDesignTime = value; }
    const std::string& Tip() const { return FTip; }
    void SetTip(const std::string& value);
    const std::string& InfoTitle() const { return FInfoTitle; }
    void SetInfoTitle(const std::string& value);
    void SetInfoText(const std::string& value) { InfoText = value; }
    // Not owned; the tray program's menu.
    HMENU PopupMenu = nullptr;

    void BeginUpdate() { FUpdateLock = true; }
    void EndUpdate();
    bool ShowBalloon(const std::string& text, const std::string& title, TSxTrayIconInfoFlags flags);
    bool HideBalloon();
    bool ShowInfo() { return ShowBalloon(InfoText, FInfoTitle, InfoFlags); }
    // Runs the popup menu's default item (through OnMenuCommand).
    void ClickDefaultItem();

    // The shell calls; each answers whether Shell_NotifyIcon succeeded (after OnFail's retries).
    virtual void FillIconData();
    virtual bool AddIcon();
    virtual bool DeleteIcon();
    virtual bool ModifyIcon();

    HWND Handle() const { return FWindow; }
    UINT IconID() const { return FIconData.uID; }
    const NOTIFYICONDATAW& IconData() const { return FIconData; }

    std::string InfoText;
    int InfoTimeout = 10000;
    TSxTrayIconInfoFlags InfoFlags = TSxTrayIconInfoFlags::niifNone;

    std::function<void(TSxTrayIcon&)> OnClick, OnDblClick, OnBalloonShow, OnBalloonHide, OnBalloonTimeout,
        OnBalloonUserClick;
    std::function<void(TSxTrayIcon&, TSxShiftState, int x, int y)> OnMouseMove;
    std::function<void(TSxTrayIcon&, TSxMouseButton, TSxShiftState, int x, int y)> OnMouseDown, OnMouseUp;
    std::function<void(TSxTrayIcon&, bool& doRetry)> OnFail;
    // A command chosen from the popup menu (or its default item on a double click).
    std::function<void(TSxTrayIcon&, UINT command)> OnMenuCommand;

    // ISxTrayIcon
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    SX_COUNTED_REFERENCES
    void STDMETHODCALLTYPE Click() override;
    void STDMETHODCALLTYPE DblClick() override;
    BOOL STDMETHODCALLTYPE GetActive() override { return FActive; }
    void STDMETHODCALLTYPE SetActive(BOOL value) override { SetActiveState(value != FALSE); }
    void STDMETHODCALLTYPE SetTipW(LPCWSTR tip) override;
    HRESULT STDMETHODCALLTYPE LoadIconFromStream(IStream* stream) override;
    TSxTrayIcon* STDMETHODCALLTYPE GetTrayIcon() override { return this; }

    // The registered "TaskbarCreated" message.
    static UINT TaskbarCreatedMessage();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    bool ShellNotify(DWORD message);
    void Popup(int x, int y);

    bool FUpdateLock = false;
    NOTIFYICONDATAW FIconData{};
    bool FLeftDown = false, FRightDown = false;
    HICON FIcon = nullptr;
    bool FActive = false, FShowDesignTime = false;
    HWND FWindow = nullptr;
    std::string FTip, FInfoTitle;
};
#endif
