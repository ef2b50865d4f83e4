#include "uTLoginSequence.h"

#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBWin.h"
#include "uTDialogForm.h"
#include "uTVersionInfo.h"
#include "uTWEBDAVClient.h"
#include "uTrayHttp.h"
#include "uTrayShellTools.h"
#include "uTrayTexts.h"

#include <shlobj.h>

#include <memory>

namespace {

const char* const Title = "Tandrel Sendrake";

// The files a login needs beside the program: the program and the shell extension. The system's
// own WinHTTP and XML reader are used, so no library of them is shipped or registered.
const char* const LoginRequiredFiles[] = {RequiredFiles[0], RequiredFiles[1]};

} // namespace

TLoginSequence::TLoginSequence(TApplicationEnviroment& environment, TvrqDialog& dialog, TLogger& logger,
                               TSxTrayIcon& trayIcon, TSxChangeNotifier& watcher, TOpenDocumentQueue& documents,
                               TLoginWindow& window)
    : Environment(environment), Dialog(dialog), Logger(logger), TrayIcon(trayIcon), Watcher(watcher),
      Documents(documents), Window(window)
{
}

std::string TLoginSequence::MissingFiles() const
{
    std::string missing;
    for (const char* name : LoginRequiredFiles)
        if (!shl_FileExists(Environment.Install + name))
            missing += Environment.Install + name + "\r\n";
    return missing;
}

void TLoginSequence::CreateWorkingFolders()
{
    for (const std::string* folder :
         {&Environment.Cache, &Environment.Temp, &Environment.Download, &Environment.Open, &Environment.Thumb})
        SHCreateDirectoryExW(nullptr, Utf8ToWide(*folder).c_str(), nullptr);
}

void TLoginSequence::DeleteWorkingFolders()
{
    for (const std::string* folder :
         {&Environment.Cache, &Environment.Temp, &Environment.Download, &Environment.Open, &Environment.Thumb})
        if (!(Documents.KeepsOpenFolder() && folder == &Environment.Open))
            DeleteFolderTree(*folder);   // a plain walk: the shell's folder delete costs many times more
    for (const char* name : {"content.$$$", "CurrentFolder.$$$"})
        DeleteFileW(Utf8ToWide(Environment.Install + name).c_str());
}

bool TLoginSequence::RegisterBrannock()
{
    try {
        RegisterDLL(Environment.ShellDll, 0);
        Sleep(1000);
        return RegisterDLL(Environment.ShellDll, 1);
    } catch (const std::exception& e) {
        Logger.Error(std::string("RegisterBrannock: ") + e.what());
        return false;
    }
}

bool TLoginSequence::UnregisterBrannock(const std::string& logStart, std::string& why)
{
    bool done = false;
    try {
        done = RegisterDLL(Environment.ShellDll, 0, &why);
    } catch (const std::exception& e) {
        why = e.what();
    }
    if (!done)
        Logger.Error(logStart + why);
    return done;
}

void TLoginSequence::Balloon(const std::string& text, TSxTrayIconInfoFlags flags)
{
    TrayIcon.InfoText = text;
    TrayIcon.InfoFlags = flags;
    TrayIcon.ShowInfo();
}

void TLoginSequence::ForgetUnsavedPassword()
{
    if (!Window.KeepsPassword())
        WriteRegistryString("Connection", "password", "");
}

void TLoginSequence::Click()
{
    const int lang = Environment.Language;
    const std::string missing = MissingFiles();
    // Documents changed in the open folder reach the server before anything goes (and while the
    // settings still hold the session's password); what cannot be sent stays where it is.
    const bool allSent = !missing.empty() || !Window.ShowsDisconnect() || Documents.Flush();
    Window.SaveSettings(false);
    // The storage client reads the account from the settings just written.
    auto client = std::make_unique<TWEBDAVClient>();

    if (!missing.empty()) {
        Window.SetStatusText(Txt(83, lang));
        Balloon(FormatText(Txt(68, lang), missing), TSxTrayIconInfoFlags::niifError);
        Window.EnableRefresh(false);
        SetConnected(Window.ShowsDisconnect());
        return;
    }
    if (Window.ShowsDisconnect()) {
        Disconnect(allSent);
        return;
    }

    FRunning = true;
    Window.EnableConnect(false);
    struct TLoginEnd {
        bool& running;
        ~TLoginEnd() { running = false; }
    } loginEnd{FRunning};

    if (!IsOnline()) {
        Balloon(Txt(97, lang), TSxTrayIconInfoFlags::niifError);
        Window.EnableRefresh(false);
        FRunning = false;
        Window.EnableConnect(true);
        ForgetUnsavedPassword();
        Sleep(1000);
        return;
    }
    Window.HideToTray();
    const int version = CompareVersion(HTTP_CheckVersion(Environment, Logger));
    Dialog.Progress.Start(Txt(90, lang), 2, true);
    TListingAnswer answer;
    if (client->GetContent("", -1, Dialog, answer)) {
        Dialog.Progress.StepBy(1);
        if (client->TranslateXML(answer, true, Dialog)) {
            CreateWorkingFolders();
            try {
                Watcher.Deactivate();
                Watcher.Root = Environment.Open;
                Watcher.Activate();
            } catch (const std::exception& e) {
                Logger.Error(std::string("btnConnectClick: ") + e.what());
            }
            if (!Window.KeepsPassword())
                Window.ClearPassword();
            const bool registered = RegisterBrannock();
            TrayIcon.EndUpdate();
            if (!registered) {
                // Without the extension there is no online folder: nothing is connected.
                Logger.Error("btnConnectClick: RegisterBrannock: \"" + Environment.ShellDll + "\" failed");
                Watcher.Deactivate();
                Balloon(TrayTxt(TTrayText::RegisterFailed, lang), TSxTrayIconInfoFlags::niifError);
                Window.EnableRefresh(false);
                ForgetUnsavedPassword();
                Window.Show();
            } else {
                TrayIcon.InfoText = Txt(99, lang);
                TrayIcon.InfoFlags = TSxTrayIconInfoFlags::niifInfo;
                TrayIcon.ShowInfo();
                Window.SetConnectCaption(true);
                Window.EnableRefresh(true);
                Window.OpenExplorer(true);
                FRunning = false;
                Window.EnableConnect(true);
                if (version == -1)
                    TrayIcon.InfoText += "\r\n\r\n" + Txt(94, lang);
                else if (version == 1 || version == 2) {
                    TrayIcon.InfoText += "\r\n\r\n" + Txt(93, lang);
                    Window.Show();
                    if (version == 2)
                        Window.ShowVersionWindow();
                }
                TrayIcon.ShowInfo();
            }
        } else {
            Balloon(Txt(103, lang), TSxTrayIconInfoFlags::niifError);
            Window.EnableRefresh(false);
            ForgetUnsavedPassword();
            Window.Show();
        }
    } else {
        Dialog.Progress.StepBy(1);
        // A refused account is told as such; no answer at all is the timeout.
        bool accountRefused = false;
        try {
            if (client->Execute("PROPFIND", client->BuildURL(""), {{"Depth", "0"}}, TWEBDAVClient::PropfindBody,
                                TWaitForm::Polled, nullptr)) {
                const int status = client->Connection->Status();
                accountRefused = status == 401 || status == 403;
            }
        } catch (const std::exception&) {
        }
        client->Connection->Disconnect();
        Balloon(Txt(accountRefused ? 103 : 96, lang), TSxTrayIconInfoFlags::niifError);
        Window.EnableRefresh(false);
        Logger.Debug("btnConnectClick: " + TrayIcon.InfoText);
        ForgetUnsavedPassword();
        Window.Show();
    }
    FRunning = false;
    Window.EnableConnect(true);
    Dialog.Progress.Close();
    SetConnected(Window.ShowsDisconnect());
}

void TLoginSequence::Disconnect(bool allSent)
{
    const int lang = Environment.Language;
    try {
        KillExplorer();
    } catch (const std::exception& e) {
        Logger.Error(std::string("btnConnectClick: KillExplorer: ") + e.what());
    }
    // Explorer may still load an extension that stayed registered: the user learns why.
    std::string why;
    const bool unregistered = UnregisterBrannock("btnConnectClick: RegisterDLL: \"" + Environment.ShellDll + "\": ", why);
    TrayIcon.SetInfoTitle(Title);
    std::string text = unregistered ? Txt(101, lang) : FormatText(TrayTxt(TTrayText::UnregisterFailed, lang), why);
    if (!allSent)
        text += "\r\n\r\n" + FormatText(TrayTxt(TTrayText::DocumentsKept, lang), Environment.Open);
    TrayIcon.InfoText = text;
    if (!unregistered)
        TrayIcon.InfoFlags = TSxTrayIconInfoFlags::niifError;
    else if (!allSent)
        TrayIcon.InfoFlags = TSxTrayIconInfoFlags::niifWarning;
    TrayIcon.ShowInfo();
    Window.SetConnectCaption(false);
    Window.SaveSettings(true);
    try {
        if (Window.PasswordEmpty())
            Window.EnableConnect(false);
        DeleteWorkingFolders();
    } catch (const std::exception& e) {
        Logger.Error(std::string("btnConnectClick: ") + e.what());
    }
    Window.EnableRefresh(false);
    SetConnected(false);
}
