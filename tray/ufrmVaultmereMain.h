#pragma once
// The tray program's main window: the login page and the info page, the tray icon with its menu,
// the folder watcher of the open documents, and the handlers of start-up, the tray menu, language,
// autostart and the end of the program. The login sequence (uTLoginSequence) and the upload of
// saved documents (uTOpenDocumentQueue) have no window: the form hands them its clicks and events.
#ifdef _WIN32
#include <windows.h>

#include "SxChangeNotifier.h"
#include "uGLBWin.h"
#include "uTApplicationEnviroment.h"
#include "uTLoginSequence.h"
#include "uTOpenDocumentQueue.h"
#include "uTLogger.h"
#include "uTSeam.h"
#include "SxTrayIcon.h"
#include "uTvrqDialog.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Posted by the program block for "--login": connect with the stored account once shown.
constexpr UINT WM_APP_LOGIN = WM_APP + 1;

// Menu and control identifiers.
enum : int {
    miTrayExplore = 201, miTrayRefresh, miTrayInfo, miTrayLanguage, miTrayLanguageGerman, miTrayLanguageEnglish,
    miTrayShow, miTrayConnect, miTrayClose,
    idPages = 300, idUsernameLabel, idUsername, idPwdLabel, idPwd, idSavePwd, idStartUp, idConnect, idHide, idExit,
    idBevel, idInfoText, idVersion, idVersioncheck, idStatus,
};

class TfrmVaultmereMain : public TLoginWindow {
public:
    // programFile: the full path of the program (its folder is the install folder).
    explicit TfrmVaultmereMain(std::string programFile);
    ~TfrmVaultmereMain();
    TfrmVaultmereMain(const TfrmVaultmereMain&) = delete;
    TfrmVaultmereMain& operator=(const TfrmVaultmereMain&) = delete;

    // Start-up; false when the process is to end at once (another instance runs, or no
    // administrator rights).
    bool FormCreate();
    void FormActivate();
    // Shows the window (and activates it, which loads the login values).
    void Show() override;

    // Handlers.
    void btnConnectClick();
    void btnHideClick();
    void btnExitClick();
    void optStartUpClick();
    void txtUsernameChange();
    void tbsInfoShow();
    void btnVersioncheckClick();
    void miTrayExploreClick();
    void miTrayRefreshClick();
    void miTrayInfoClick();
    void miTrayShowClick();
    void sxTrayIconClick();
    void miTrayLanguageGermanClick();
    void miTrayLanguageEnglishClick();
    bool FormCloseQuery();
    void FormClose();
    void SxChangeNotifierChange(TSxFileInfoEventData& info);
    void SxChangeNotifierAddFile(TSxFileInfoEventData& info);
    void WMQueryEndSession();
    void WMEndSession();

    // Operations.
    void ApplyLanguage(int index);
    void SaveSettings(bool clear) override;
    void ClearUnsavedPassword();
    void HideToTray() override;
    void OpenExplorer(bool force) override;
    void DisplayHint(const std::string& hint);
    void SetActivePage(int index);
    int ActivePage() const { return Page; }
    // The disconnect caption shows (the program is connected).
    bool ShowsDisconnect() const override;

    // The window and its controls.
    HWND Handle = nullptr;
    HWND pgcMain = nullptr, txtUsername = nullptr, txtPwd = nullptr, optSavePwd = nullptr, optStartUp = nullptr,
         btnConnect = nullptr, btnHide = nullptr, btnExit = nullptr, lblInfoText = nullptr, lblVersion = nullptr,
         btnVersioncheck = nullptr, stbMain = nullptr;
    HMENU popTrayIcon = nullptr, miTrayLanguageMenu = nullptr;
    TSxTrayIcon sxTrayIcon;
    TSxChangeNotifier SxChangeNotifier;

    std::unique_ptr<TApplicationEnviroment> Environment;
    std::unique_ptr<TvrqDialog> Dialog;
    std::unique_ptr<TLogger> Logger;
    std::unique_ptr<TOpenDocumentQueue> Documents;
    std::unique_ptr<TLoginSequence> Login;
    bool CanExit = false;

    // Text helpers for tests and handlers.
    std::string Text(HWND control) const;
    void SetText(HWND control, const std::string& text);
    bool Checked(HWND control) const;
    void SetChecked(HWND control, bool value);
    std::string StatusText() const;
    std::string MenuCaption(int id) const;
    bool MenuEnabled(int id) const;

    // The program block ends its message loop when the window goes.
    bool QuitOnDestroy = false;
    // Test seam: starts a process (Explorer) in place of the real start (empty: the real one).
    static TSeam<std::function<bool(const std::string& commandLine)>> ProcessStarter;

    const std::string ProgramFile;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateWindows();
    void Layout();
    void SetHint(HWND control, const std::string& hint);
    void SetConnectCaption(bool disconnect) override;
    void SyncTrayConnect();
    void EnableConnect(bool value) override;
    void SetStatusText(const std::string& text) override;
    void EnableRefresh(bool value) override;
    bool KeepsPassword() const override;
    bool PasswordEmpty() const override;
    void ClearPassword() override;
    void ShowVersionWindow() override;
    void Balloon(const std::string& text, TSxTrayIconInfoFlags flags);
    void MenuCommand(UINT id);
    void SetMenuCaption(int id, const std::string& caption);
    // The uploads of saved documents have ended: a click that waited for them runs.
    void DocumentsSent();
    std::string InstallFolder() const;

    HANDLE Semaphore = nullptr;
    HFONT Font = nullptr;
    HICON BigIcon = nullptr, SmallIcon = nullptr;
    int Dpi = 96;
    int Page = 0;
    HWND HintControl = nullptr;
    std::map<HWND, std::string> Hints;
    std::string ConnectHint;
    bool ExitAfterLogin = false, Closed = false, ConnectAfterSend = false;
};
#endif
