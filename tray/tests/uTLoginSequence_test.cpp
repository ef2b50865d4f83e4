// Connect and disconnect on their own, without the main window: a window that writes down what the
// login asks of it, the real registry, the extension in the install folder and the private WebDAV
// server.
#include "TrayFixture.h"

#include "uGLBCrypt.h"
#include "uTLoginSequence.h"
#include "uTVirtualFileStorage.h"
#include "uTrayTexts.h"

#include <fstream>

using namespace traytest;

namespace {

class TRecordingWindow : public TLoginWindow {
public:
    std::vector<std::string> Calls;
    bool Disconnect = false, KeepPassword = false;
    std::string Password = "x", Status;

    void SaveSettings(bool clear) override { Calls.push_back(clear ? "SaveSettings(clear)" : "SaveSettings"); }
    void SetStatusText(const std::string& text) override { Status = text; }
    bool ShowsDisconnect() const override { return Disconnect; }
    void SetConnectCaption(bool disconnect) override
    {
        Disconnect = disconnect;
        Calls.push_back(disconnect ? "Caption(disconnect)" : "Caption(connect)");
    }
    void EnableConnect(bool value) override { Calls.push_back(value ? "EnableConnect" : "DisableConnect"); }
    void EnableRefresh(bool value) override { Calls.push_back(value ? "EnableRefresh" : "DisableRefresh"); }
    bool KeepsPassword() const override { return KeepPassword; }
    bool PasswordEmpty() const override { return Password.empty(); }
    void ClearPassword() override
    {
        Password.clear();
        Calls.push_back("ClearPassword");
    }
    void HideToTray() override { Calls.push_back("HideToTray"); }
    void Show() override { Calls.push_back("Show"); }
    void OpenExplorer(bool force) override { Calls.push_back(force ? "OpenExplorer(force)" : "OpenExplorer"); }
    void ShowVersionWindow() override { Calls.push_back("ShowVersionWindow"); }
};

class LoginSequenceTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        auto& dav = davtest::ApacheFixture::Instance();
        Box = Sandbox.substr(Sandbox.find_last_of('/') + 1);
        dav.WriteFile(Box + "/Dokumente/Brief.txt", "Fassung 1");
        dav.ConnectClient(Sandbox, UserPath);
        StoreString("Application", "install", InstallFolder());
        Make();
    }
    void TearDown() override
    {
        Login.reset();
        RegisterDLL(InstallFolder() + "Brannock.dll", 0);
        TrayTest::TearDown();
    }
    void Make()
    {
        Login.reset();
        Documents.reset();
        Environment = std::make_unique<TApplicationEnviroment>();
        Logger = std::make_unique<TLogger>(-1, true, "LoginTest");
        Documents = std::make_unique<TOpenDocumentQueue>(*Environment, Dialog, *Logger, Watcher);
        Login = std::make_unique<TLoginSequence>(*Environment, Dialog, *Logger, TrayIcon, Watcher, *Documents, Window);
    }
    std::string Connected() const { return ReadRegistryString("Connection", "connected", ""); }

    std::string Box;
    std::unique_ptr<TApplicationEnviroment> Environment;
    std::unique_ptr<TLogger> Logger;
    TvrqDialog Dialog;
    TSxTrayIcon TrayIcon;
    TSxChangeNotifier Watcher;
    TRecordingWindow Window;
    std::unique_ptr<TOpenDocumentQueue> Documents;
    std::unique_ptr<TLoginSequence> Login;
};

TEST_F(LoginSequenceTest, ConnectBuildsTheMirrorRegistersAndOpensExplorerThenDisconnectUndoesIt)
{
    const int l = Environment->Language;
    StoreString("Connection", "connected", "0");
    Login->Click();
    EXPECT_FALSE(Login->Running());
    EXPECT_EQ(Window.Calls, (std::vector<std::string>{"SaveSettings", "DisableConnect", "HideToTray", "ClearPassword",
                                                      "Caption(disconnect)", "EnableRefresh", "OpenExplorer(force)",
                                                      "EnableConnect", "EnableConnect"}));
    EXPECT_EQ(Connected(), "1");
    EXPECT_TRUE(ExtensionRegistered());
    EXPECT_TRUE(Watcher.Active());
    EXPECT_EQ(Watcher.Root, Environment->Open);
    for (const std::string* folder : {&Environment->Cache, &Environment->Temp, &Environment->Download,
                                      &Environment->Open, &Environment->Thumb})
        EXPECT_TRUE(FolderExists(*folder)) << *folder;
    TVirtualFileStorage mirror(Environment->Cache);
    EXPECT_TRUE(FolderExists(mirror.FolderDirectory("Dokumente"))) << "the server's folder is in the mirror";
    // The update server does not answer: connected, and told that the version is unknown.
    EXPECT_EQ(TrayIcon.InfoText, Txt(99, l) + "\r\n\r\n" + Txt(94, l));
    EXPECT_EQ(TrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifInfo);

    Window.Calls.clear();
    Window.Password.clear();
    Login->Click();
    EXPECT_EQ(Window.Calls, (std::vector<std::string>{"SaveSettings", "Caption(connect)", "SaveSettings(clear)",
                                                      "DisableConnect", "DisableRefresh"}));
    EXPECT_EQ(Connected(), "0");
    EXPECT_FALSE(ExtensionRegistered());
    EXPECT_EQ(TrayIcon.InfoText, Txt(101, l));
    for (const std::string* folder : {&Environment->Cache, &Environment->Temp, &Environment->Download,
                                      &Environment->Open, &Environment->Thumb})
        EXPECT_FALSE(FolderExists(*folder)) << *folder;
}

TEST_F(LoginSequenceTest, AFailedConnectLeavesNothingConnectedAndTellsWhy)
{
    const int l = Environment->Language;
    const struct {
        const char* what;
        std::string host, password;
        int text;
    } rows[] = {
        {"wrong password", Sandbox, "falsch", 103},
        {"no server", "http://127.0.0.1:9", davtest::ApacheFixture::Instance().Password, 96},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        StoreString("Connection", "host", row.host);
        StoreString("Connection", "password", EncryptPassword(row.password));
        StoreString("Connection", "connected", "0");
        Window.Calls.clear();
        Login->Click();
        EXPECT_EQ(TrayIcon.InfoText, Txt(row.text, l));
        EXPECT_EQ(TrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifError);
        EXPECT_EQ(Window.Calls, (std::vector<std::string>{"SaveSettings", "DisableConnect", "HideToTray",
                                                          "DisableRefresh", "Show", "EnableConnect"}));
        EXPECT_EQ(Connected(), "0");
        EXPECT_FALSE(ExtensionRegistered());
        EXPECT_FALSE(Watcher.Active());
        EXPECT_EQ(ReadRegistryString("Connection", "password", "x"), "") << "a password not to be kept is gone";
    }
}

// A computer without a connection (the test machine has one, so the system's answer is replaced):
// no request goes out, the window stays as it was, and after a pause Connect may be tried again.
TEST_F(LoginSequenceTest, OfflineTheConnectStopsBeforeAnyRequestAndLeavesTheStateAsItWas)
{
    const int l = Environment->Language;
    SetConnectedStateSeam([] { return false; });
    struct TRestore {
        ~TRestore() { SetConnectedStateSeam(nullptr); }
    } restore;
    StoreString("Connection", "connected", "0");
    auto& dav = davtest::ApacheFixture::Instance();
    const size_t mark = dav.LogMark();
    const auto start = std::chrono::steady_clock::now();
    Login->Click();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(Login->Running());
    EXPECT_EQ(TrayIcon.InfoText, Txt(97, l));
    EXPECT_EQ(TrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifError);
    EXPECT_EQ(Window.Calls, (std::vector<std::string>{"SaveSettings", "DisableConnect", "DisableRefresh",
                                                      "EnableConnect"}));
    EXPECT_EQ(Connected(), "0");
    EXPECT_EQ(ReadRegistryString("Connection", "password", "x"), "");
    EXPECT_TRUE(dav.LogSince(mark, "/dav/" + Box, 0, 300).empty());
}

TEST_F(LoginSequenceTest, AMissingRequiredFileStopsEitherDirection)
{
    const std::string install = FreshFolder("login_install");
    std::ofstream(Utf8ToWide(install + "Sendrake.exe").c_str()) << "MZ";
    StoreString("Application", "install", install);
    Make();
    const int l = Environment->Language;
    for (bool disconnect : {false, true}) {
        SCOPED_TRACE(disconnect ? "disconnect" : "connect");
        Window.Disconnect = disconnect;
        Window.Calls.clear();
        StoreString("Connection", "connected", disconnect ? "1" : "0");
        Login->Click();
        EXPECT_EQ(Window.Status, Txt(83, l));
        EXPECT_EQ(TrayIcon.InfoText, FormatText(Txt(68, l), install + "Brannock.dll\r\n"));
        EXPECT_EQ(Window.Calls, (std::vector<std::string>{"SaveSettings", "DisableRefresh"}));
        EXPECT_EQ(Connected(), disconnect ? "1" : "0") << "the state stays as it was";
        EXPECT_FALSE(ExtensionRegistered());
    }
}

} // namespace
