// The tray program's main window under the display, against the private WebDAV server and the real
// registry of the prefix: start-up, login and logout, failures, language, autostart and exit.
#include "TrayFixture.h"

#include "TestFiles.h"

#include "uGLBConst.h"
#include "uGLBCrypt.h"
#include "uGLBVersion.h"
#include "uTVirtualFileStorage.h"
#include "uTrayTexts.h"
#include "uTvrqDialog.h"
#include "WindowFit.h"

#include <algorithm>

using namespace traytest;

namespace {

TEST_F(TrayTest, StartUpOnAFreshPrefixWritesDefaultsAndMakesTheFolders)
{
    // A password left by a session that crashed, not to be kept.
    StoreString("Connection", "password", EncryptPassword("geheim"));
    auto& f = Start();
    EXPECT_EQ(ReadRegistryString("Application", "install", ""), InstallFolder());
    EXPECT_EQ(ReadRegistryString("Application", "userpath", ""), UserPath);
    EXPECT_EQ(ReadRegistryString("Application", "update", ""), "http://127.0.0.1:9/downloads/");
    EXPECT_EQ(ReadRegistryString("Connection", "host", ""), Sandbox);
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_EQ(ReadRegistryString("Connection", "password", "x"), "");
    EXPECT_EQ(ReadRegistryInteger("Application", "language", -1), GetDefaultLanguage());
    for (const char* folder : {"Cache", "Temp", "Download", "Open", "Thumb"})
        EXPECT_TRUE(FolderExists(UserPath + folder)) << folder;
    EXPECT_TRUE(f.sxTrayIcon.Active());
    EXPECT_EQ(f.Text(f.Handle), "Tandrel Sendrake");
    EXPECT_EQ(f.ActivePage(), 0);
    EXPECT_TRUE(IsWindowVisible(f.Handle));
    EXPECT_FALSE(IsWindowEnabled(f.btnConnect));   // nothing typed yet
    EXPECT_FALSE(f.MenuEnabled(miTrayRefresh));
    EXPECT_EQ(f.MenuCaption(miTrayLanguage), "") << "the language menu shows only with changelanguage";
    // Hints: two lines show as one text, CR as a blank; no hint shows the version.
    f.DisplayHint(Txt(6, 0));
    std::string shown = f.StatusText();   // the status bar itself draws a line break as a blank
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    EXPECT_EQ(shown, "Fenster ausblenden und  als Symbol in der Taskleiste  darstellen.");
    f.DisplayHint("");
    EXPECT_EQ(f.StatusText(), "Tandrel Sendrake " SX_VERSION_TEXT);
}

TEST_F(TrayTest, LanguageFollowsWindowsUnlessTheUserMayChooseIt)
{
    StoreDword("Application", "language", GetDefaultLanguage() == 0 ? 1 : 0);
    Start();
    EXPECT_EQ(ReadRegistryInteger("Application", "language", -1), GetDefaultLanguage());
    Form.reset();

    StoreString("Application", "changelanguage", "1");
    StoreDword("Application", "language", 0);
    auto& f = Start();
    EXPECT_EQ(ReadRegistryInteger("Application", "language", -1), 0);
    EXPECT_EQ(f.MenuCaption(miTrayLanguageGerman), "&Deutsch");
    EXPECT_EQ(f.Text(f.btnConnect), "&Verbinden");
    f.miTrayLanguageEnglishClick();
    EXPECT_EQ(ReadRegistryInteger("Application", "language", -1), 1);
    EXPECT_EQ(f.Text(f.btnConnect), "&Connect");
    EXPECT_EQ(f.Text(f.btnHide), "&Hide");
    EXPECT_EQ(f.MenuCaption(miTrayShow), "&Show");
    EXPECT_EQ(f.MenuCaption(miTrayConnect), "&Connect");
    EXPECT_EQ(GetMenuState(f.miTrayLanguageMenu, miTrayLanguageEnglish, MF_BYCOMMAND) & MF_CHECKED, UINT(MF_CHECKED));
    EXPECT_EQ(GetMenuDefaultItem(f.popTrayIcon, FALSE, 0), UINT(miTrayShow));
}

TEST_F(TrayTest, ASecondStartEndsAtOnceAndChangesNothing)
{
    auto& first = Start();
    first.HideToTray();
    ASSERT_FALSE(IsWindowVisible(first.Handle));
    // Started from another folder, not connected: it shows the first window and ends.
    TfrmVaultmereMain second("C:\\Anderer Ordner\\Sendrake.exe");
    EXPECT_FALSE(second.FormCreate());
    EXPECT_EQ(ReadRegistryString("Application", "install", ""), InstallFolder());
    EXPECT_TRUE(IsWindowVisible(first.Handle));
    EXPECT_TRUE(Started.empty());
    // Connected: it opens Explorer on the online folder instead.
    StoreString("Connection", "connected", "1");
    TfrmVaultmereMain third("C:\\Anderer Ordner\\Sendrake.exe");
    EXPECT_FALSE(third.FormCreate());
    ASSERT_EQ(Started.size(), 1u);
    EXPECT_EQ(Started[0], std::string("explorer.exe /e,c:,::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::") + OnlineFolderCLSID);
    EXPECT_EQ(ReadRegistryString("Application", "install", ""), InstallFolder());
}

TEST_F(TrayTest, LoginMirrorsTheTreeRegistersAndOpensExplorerLogoutUndoesIt)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string box = Sandbox.substr(Sandbox.find_last_of('/') + 1);
    dav.MakeFolder(box + "/Gelöschte Dateien");
    dav.MakeFolder(box + "/Neue Dateianlagen");
    dav.WriteFile(box + "/Projekte/2024/Angebot Müller.txt", std::string(1000, 'a'));
    dav.WriteFile(box + "/Projekte/2024/Angebot Möller.txt", std::string(1000, 'a'));
    dav.PutPicture(box + "/Fotos/Strand ö.jpg");
    auto& f = Start();
    Login();
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "1");
    EXPECT_EQ(f.Text(f.btnConnect), Txt(3, f.Environment->Language));
    EXPECT_EQ(f.MenuCaption(miTrayConnect), Txt(3, f.Environment->Language));
    EXPECT_TRUE(f.MenuEnabled(miTrayRefresh));
    EXPECT_EQ(f.sxTrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifInfo);
    // The update server is not reachable here: the connected text, then the failed version check.
    EXPECT_EQ(f.sxTrayIcon.InfoText, Txt(99, f.Environment->Language) + "\r\n\r\n" + Txt(94, f.Environment->Language));
    EXPECT_TRUE(ExtensionRegistered());
    ASSERT_EQ(Started.size(), 1u);
    EXPECT_EQ(Started[0], ExplorerCommandLine());
    EXPECT_TRUE(f.SxChangeNotifier.Active());
    // The mirror equals the tree.
    TVirtualFileStorage mirror(f.Environment->Cache);
    const auto files = mirror.ListRecordFiles(mirror.FolderDirectory("Projekte\\2024"));
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(mirror.ListRecordFiles(mirror.FolderDirectory("Fotos")).size(), 1u);
    EXPECT_TRUE(FolderExists(mirror.FolderDirectory("Gelöschte Dateien")));
    EXPECT_TRUE(FolderExists(mirror.FolderDirectory("Neue Dateianlagen")));
    // The password edit is emptied, the stored one stays while the session needs it.
    EXPECT_EQ(f.Text(f.txtPwd), "");
    EXPECT_EQ(DecryptPassword(ReadRegistryString("Connection", "password", "")), dav.Password);

    f.btnConnectClick();
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_EQ(f.Text(f.btnConnect), Txt(2, f.Environment->Language));
    EXPECT_EQ(f.sxTrayIcon.InfoText, Txt(101, f.Environment->Language));
    EXPECT_FALSE(ExtensionRegistered());
    EXPECT_EQ(ReadRegistryString("Connection", "password", "x"), "");
    EXPECT_FALSE(IsWindowEnabled(f.btnConnect));
    EXPECT_FALSE(f.MenuEnabled(miTrayConnect));
    EXPECT_FALSE(f.MenuEnabled(miTrayRefresh));
    EXPECT_FALSE(f.SxChangeNotifier.Active());
    for (const char* folder : {"Cache", "Temp", "Download", "Open", "Thumb"})
        EXPECT_FALSE(FolderExists(UserPath + folder)) << folder;
}

TEST_F(TrayTest, FailedLoginsTellWhyAndRegisterNothing)
{
    auto& f = Start();
    const int l = f.Environment->Language;
    Login("falsches Passwort");
    EXPECT_EQ(f.sxTrayIcon.InfoText, Txt(103, l));
    EXPECT_EQ(f.sxTrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifError);
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_FALSE(ExtensionRegistered());
    EXPECT_TRUE(Started.empty());
    EXPECT_TRUE(IsWindowVisible(f.Handle));
    EXPECT_EQ(ReadRegistryString("Connection", "password", "x"), "") << "a password not to be kept";
    EXPECT_TRUE(IsWindowEnabled(f.btnConnect));

    // The server gone: no answer at all.
    StoreString("Connection", "host", "http://127.0.0.1:9/dav");
    Login();
    EXPECT_EQ(f.sxTrayIcon.InfoText, Txt(96, l));
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_TRUE(Started.empty());
}

TEST_F(TrayTest, MissingFilesAndAFailedRegistrationConnectNothing)
{
    // An install folder with the program only.
    const std::string bare = FreshFolder("bare");
    ASSERT_TRUE(CopyFileW(Utf8ToWide(InstallFolder() + "Sendrake.exe").c_str(), Utf8ToWide(bare + "Sendrake.exe").c_str(), FALSE));
    auto& f = Start(bare);
    const int l = f.Environment->Language;
    Login();
    EXPECT_EQ(f.sxTrayIcon.InfoText, FormatText(Txt(68, l), bare + "Brannock.dll\r\n"));
    EXPECT_EQ(f.StatusText(), Txt(83, l));
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");

    // A damaged extension: the login reaches the server but nothing is connected.
    {
        THandle file(CreateFileW(Utf8ToWide(bare + "Brannock.dll").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), "MZ kaputt", 9, &written, nullptr);
    }
    Login();
    EXPECT_EQ(f.sxTrayIcon.InfoText, TrayTxt(TTrayText::RegisterFailed, l));
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_EQ(f.Text(f.btnConnect), Txt(2, l));
    EXPECT_TRUE(Started.empty());
    EXPECT_FALSE(f.SxChangeNotifier.Active());
}

TEST_F(TrayTest, AnExtensionThatCannotBeUnregisteredIsLoggedAndToldAtDisconnectAndExit)
{
    // An install folder of its own whose extension is swapped once the login registered it.
    const std::string bare = FreshFolder("unregister");
    for (const char* name : {"Sendrake.exe", "Brannock.dll"})
        ASSERT_TRUE(CopyFileW(Utf8ToWide(InstallFolder() + name).c_str(), Utf8ToWide(bare + name).c_str(), FALSE));
    WriteRegistryInteger("Application", "debug", 1);
    struct Row {
        const char* what;
        std::string library;   // what takes the extension's place: a refusing DLL, or a damaged file
        std::string why;
    } rows[] = {
        {"refuses", InstallFolder() + "..\\RefusingExtension.dll", "DllUnregisterServer answered 0x80040201"},
        {"damaged", "", "\"" + bare + "Brannock.dll\" cannot be loaded: "},
    };
    for (const Row& row : rows) {
        auto& f = Start(bare);
        const int l = f.Environment->Language;
        Login();
        ASSERT_EQ(ReadRegistryString("Connection", "connected", ""), "1") << row.what;
        if (!row.library.empty()) {
            ASSERT_TRUE(CopyFileW(Utf8ToWide(row.library).c_str(), Utf8ToWide(bare + "Brannock.dll").c_str(), FALSE))
                << row.what;
        } else {
            THandle file(CreateFileW(Utf8ToWide(bare + "Brannock.dll").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     0, nullptr));
            DWORD written = 0;
            WriteFile(file.get(), "MZ kaputt", 9, &written, nullptr);
        }
        const std::string log = bare + "MainApp.log";
        const size_t before = FileExistsAt(log) ? ReadFileBytes(log).size() : 0;
        f.btnConnectClick();
        // Disconnected all the same, and the user learns that the extension stayed.
        EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0") << row.what;
        const std::string text = f.sxTrayIcon.InfoText;
        EXPECT_EQ(text.rfind(FormatText(TrayTxt(TTrayText::UnregisterFailed, l), row.why), 0), 0u) << row.what << text;
        EXPECT_EQ(text.find("successfully"), std::string::npos) << row.what;
        EXPECT_EQ(f.sxTrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifError) << row.what;
        const std::string logged = ReadFileBytes(log).substr(before);
        EXPECT_NE(logged.find("|ERROR|btnConnectClick: RegisterDLL: \"" + bare + "Brannock.dll\": " + row.why),
                  std::string::npos)
            << row.what << logged;
        // Exit tells it too, before the program ends.
        {
            TvrqScriptedAnswers answers({});
            f.btnExitClick();
            ASSERT_EQ(answers.Asked.size(), 1u) << row.what;
            EXPECT_EQ(answers.Asked[0].Text.rfind(FormatText(TrayTxt(TTrayText::UnregisterFailed, l), row.why), 0), 0u)
                << row.what << answers.Asked[0].Text;
        }
        EXPECT_NE(ReadFileBytes(log).find("|ERROR|btnExitClick: Unregister DLL \"" + bare + "Brannock.dll\": " + row.why),
                  std::string::npos)
            << row.what;
        Form.reset();
        ASSERT_TRUE(CopyFileW(Utf8ToWide(InstallFolder() + "Brannock.dll").c_str(), Utf8ToWide(bare + "Brannock.dll").c_str(),
                              FALSE));
        RegisterDLL(bare + "Brannock.dll", 0);
    }
}

TEST_F(TrayTest, LoginRefreshAndLogoutWithTheUserPathInTheLongFormAndOnAShare)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string box = Sandbox.substr(Sandbox.find_last_of('/') + 1);
    dav.WriteFile(box + "/Projekte/Angebot.txt", "angebot");
    // This test's APPDATA (on drive C:) in other forms of the same folder.
    const std::string appData = UserPath.substr(0, UserPath.size() - std::string("Tandrel Sendrake\\").size());
    std::vector<std::string> forms = {"\\\\?\\" + appData, UncFormOf(appData), UncFormOf(appData, true)};
    if (forms[1].empty()) {
        ADD_FAILURE() << "no share \\\\sxserver\\c: the UNC forms are not tried (ctest makes it: fixture \"unc\")";
        forms.resize(1);
    }
    for (const std::string& form : forms) {
        SetEnvironmentVariableW(L"APPDATA", Utf8ToWide(form.substr(0, form.size() - 1)).c_str());
        auto& f = Start();
        EXPECT_EQ(f.Environment->UserPath, form + "Tandrel Sendrake\\");
        Login();
        EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "1") << form;
        TVirtualFileStorage mirror(f.Environment->Cache);
        EXPECT_EQ(mirror.ListRecordFiles(mirror.FolderDirectory("Projekte")).size(), 1u) << form;
        dav.WriteFile(box + "/Projekte/Neu.txt", "neu");
        f.miTrayRefreshClick();
        EXPECT_NE(f.sxTrayIcon.InfoText, TrayTxt(TTrayText::RefreshFailed, f.Environment->Language)) << form;
        EXPECT_EQ(mirror.ListRecordFiles(mirror.FolderDirectory("Projekte")).size(), 2u) << form;
        f.btnConnectClick();
        EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0") << form;
        EXPECT_EQ(f.sxTrayIcon.InfoText, Txt(101, f.Environment->Language)) << form;
        for (const char* folder : {"Cache", "Temp", "Download", "Open", "Thumb"})
            EXPECT_FALSE(FolderExists(UserPath + folder)) << form << folder;
        Form.reset();
        dav.Sandbox(box);
        dav.WriteFile(box + "/Projekte/Angebot.txt", "angebot");
    }
}

TEST_F(TrayTest, LanguageSwitchWhileConnectedAndAutostartOnAndOff)
{
    StoreString("Application", "changelanguage", "1");
    auto& f = Start();
    Login();
    ASSERT_EQ(ReadRegistryString("Connection", "connected", ""), "1");
    f.miTrayLanguageGermanClick();
    EXPECT_EQ(f.Text(f.btnConnect), "&Trennen");
    EXPECT_EQ(f.MenuCaption(miTrayConnect), "&Trennen");
    f.miTrayLanguageEnglishClick();
    EXPECT_EQ(f.Text(f.btnConnect), "&Disconnect");
    EXPECT_EQ(f.MenuCaption(miTrayConnect), "&Disconnect");
    EXPECT_TRUE(f.MenuEnabled(miTrayRefresh)) << "the menu made afresh keeps its states";
    f.SetActivePage(1);
    EXPECT_EQ(f.Text(f.lblVersion), "Version: " SX_VERSION_TEXT);
    EXPECT_EQ(f.Text(f.btnVersioncheck), "Check &version");

    // The check box at start is ticked: the first save writes the run value.
    std::string runValue = "\"";
    runValue += InstallFolder();
    runValue += "Sendrake.exe\" HIDE";
    EXPECT_EQ(AutoStartValue(), runValue);
    f.SetChecked(f.optStartUp, false);
    f.optStartUpClick();
    EXPECT_EQ(AutoStartValue(), "<none>");
    f.SetChecked(f.optStartUp, true);
    f.optStartUpClick();
    EXPECT_EQ(AutoStartValue(), runValue);
    f.btnConnectClick();
}

// The main window in both languages, before and after the login, on both pages: every control
// inside the window and every caption whole.
TEST_F(TrayTest, TheMainWindowFitsInBothLanguagesOnBothPages)
{
    StoreString("Application", "changelanguage", "1");
    auto& f = Start();
    f.Show();
    for (bool connected : {false, true}) {
        if (connected)
            Login();
        for (int language : {0, 1}) {
            f.ApplyLanguage(language);
            for (int page : {0, 1}) {
                f.SetActivePage(page);
                EXPECT_EQ(fittest::FitFaults(f.Handle), std::vector<std::string>{})
                    << "language " << language << ", page " << page << (connected ? ", connected" : "");
            }
        }
    }
    f.btnConnectClick();
}

TEST_F(TrayTest, ClosingHidesExitEndsTheSessionAndForgetsTheUnsavedPassword)
{
    auto& f = Start();
    Login();
    ASSERT_EQ(ReadRegistryString("Connection", "connected", ""), "1");
    SendMessageW(f.Handle, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(f.Handle));
    EXPECT_FALSE(IsWindowVisible(f.Handle));
    f.btnExitClick();
    EXPECT_EQ(f.Handle, nullptr) << "the window is gone";
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_EQ(ReadRegistryString("Connection", "password", "x"), "");
    EXPECT_EQ(ReadRegistryString("Connection", "username", ""), davtest::ApacheFixture::Instance().User);
    EXPECT_FALSE(ExtensionRegistered());
    EXPECT_FALSE(f.sxTrayIcon.Active());
    for (const char* folder : {"Cache", "Temp", "Download", "Open", "Thumb"})
        EXPECT_FALSE(FolderExists(UserPath + folder)) << folder;
}

TEST_F(TrayTest, ExitChosenDuringTheLoginWaitsForItsEnd)
{
    auto& f = Start();
    // The tray menu's exit arrives while the listing waits for the server.
    PostMessageW(f.Handle, WM_COMMAND, miTrayClose, 0);
    Login();
    EXPECT_EQ(f.Handle, nullptr) << "the program ended once the login was over";
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_FALSE(ExtensionRegistered());
    EXPECT_FALSE(FolderExists(UserPath + "Cache"));
}

} // namespace
