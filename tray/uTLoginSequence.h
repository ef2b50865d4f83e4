#pragma once
// Connect and disconnect of the tray program, without a window: the required files, the online
// and version checks, the listing into the mirror, the working folders, the watcher of the open
// folder, the extension's registration and the result in the tray icon's balloon and the
// Connection\connected setting. What it shows on the window and asks of it goes through
// TLoginWindow, which the main form is.
#ifdef _WIN32
#include "SxChangeNotifier.h"
#include "SxTrayIcon.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTOpenDocumentQueue.h"
#include "uTvrqDialog.h"

#include <string>

class TLoginWindow {
public:
    // Writes the login values of the window to the settings (clear: first drop a password that is
    // not to be kept).
    virtual void SaveSettings(bool clear) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // The window shows the disconnect caption (the program is connected).
    virtual bool ShowsDisconnect() const = 0;
    virtual void SetConnectCaption(bool disconnect) = 0;
    virtual void EnableConnect(bool value) = 0;
    virtual void EnableRefresh(bool value) = 0;
    // The "save password" box is ticked.
    virtual bool KeepsPassword() const = 0;
    virtual bool PasswordEmpty() const = 0;
    // Empties the password edit (and repaints, so it is not seen during the rest of the login).
    virtual void ClearPassword() = 0;
    virtual void HideToTray() = 0;
    virtual void Show() = 0;
    virtual void OpenExplorer(bool force) = 0;
    // The version window (modal) for a newer version the server marks as needed.
    virtual void ShowVersionWindow() = 0;

protected:
    ~TLoginWindow() = default;
};

class TLoginSequence {
public:
    TLoginSequence(TApplicationEnviroment& environment, TvrqDialog& dialog, TLogger& logger, TSxTrayIcon& trayIcon,
                   TSxChangeNotifier& watcher, TOpenDocumentQueue& documents, TLoginWindow& window);
    TLoginSequence(const TLoginSequence&) = delete;
    TLoginSequence& operator=(const TLoginSequence&) = delete;

    // One click of Connect/Disconnect: the direction is what the window's caption says. With a
    // required file missing neither is carried out.
    void Click();
    // A login is under way (its requests pump messages further up the stack).
    bool Running() const { return FRunning; }

    // The required files missing from the install folder, each full path followed by CR LF.
    std::string MissingFiles() const;
    void CreateWorkingFolders();
    // The working folders and the login's leftovers; the open folder stays while it keeps a
    // document that could not be sent.
    void DeleteWorkingFolders();
    // Registers the extension afresh (unregister, a second's pause, register); false when the
    // registration failed.
    bool RegisterBrannock();
    // DllUnregisterServer of the extension; a failure (the reason in why) is logged as ERROR with
    // the given start of the line, followed by the reason.
    bool UnregisterBrannock(const std::string& logStart, std::string& why);

private:
    void Connect();
    // allSent: every changed document reached the server before.
    void Disconnect(bool allSent);
    void Balloon(const std::string& text, TSxTrayIconInfoFlags flags);
    // A password the user did not ask to keep leaves the settings when the login failed.
    void ForgetUnsavedPassword();

    TApplicationEnviroment& Environment;
    TvrqDialog& Dialog;
    TLogger& Logger;
    TSxTrayIcon& TrayIcon;
    TSxChangeNotifier& Watcher;
    TOpenDocumentQueue& Documents;
    TLoginWindow& Window;
    bool FRunning = false;
};
#endif
