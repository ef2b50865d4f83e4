// The user's journeys through the installed product: Sendrake.exe started from its install folder
// and worked through its own window and tray menu, Explorer and the online folder through the
// desktop folder, the test editor registered for ".txt", against a seeded sandbox of the private
// WebDAV server. The journeys run in order, one after the other, as one user's session would; what
// a journey takes over from earlier ones is listed in Takes and checked where it starts. Each keeps
// screenshots of the windows the user saw.
#include "ApacheFixture.h"
#include "E2ESupport.h"
#include "ufrmVaultmereMain.h"
#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBTools.h"
#include "uGLBVersion.h"
#include "uTvrqDialog.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

using namespace e2e;

namespace {

const std::string Box = "e2e";
const std::string Document = "Dokumente\\Notiz über #1.txt";
const std::string DocumentText = "Erste Zeile der Notiz\r\n";
const std::string EditorLine = "\r\nZeile vom Test-Editor ergänzt";

davtest::ApacheFixture& Dav() { return davtest::ApacheFixture::Instance(); }
std::string Srv(const std::string& path) { return Box + "/" + path; }

// The seeded tree: pictures with the thumbnails the server made for them, text files, the two
// protected folders, and names with umlauts, CJK, blanks, "#" and "%".
void Seed()
{
    Dav().Sandbox(Box);
    for (const char* picture : {"Fotos/Strand 1.jpg", "Fotos/Düne #2.jpg", "Fotos/富士山.jpg", "Fotos/Urlaub 2024/Tag 1.jpg"}) {
        const std::string p = picture;
        Dav().PutPicture(Srv(p));
        const size_t cut = p.find_last_of('/');
        Dav().PutPicture(Srv(p.substr(0, cut) + "/.thumb/" + p.substr(cut + 1) + ".thumb.jpg"));
    }
    // A picture the server cannot make a thumbnail of.
    Dav().WriteFile(Srv("Fotos/Urlaub 2024/Kaputt.jpg"), "kein Bild");
    Dav().WriteFile(Srv("Dokumente/Notiz über #1.txt"), DocumentText);
    Dav().WriteFile(Srv("Dokumente/Bericht 100%.txt"), "Bericht\r\n");
    Dav().WriteFile(Srv("Dokumente/報告書.txt"), "報告書\r\n");
    Dav().WriteFile(Srv("readme.txt"), "Lies mich\r\n");
    Dav().MakeFolder(Srv("Gelöschte Dateien"));
    Dav().MakeFolder(Srv("Neue Dateianlagen"));
}

const std::set<std::string> RootNames = {"Fotos", "Dokumente", "Gelöschte Dateien", "Neue Dateianlagen", "readme.txt"};

std::set<std::string> NamesOf(const std::vector<TItem>& items)
{
    std::set<std::string> names;
    for (const TItem& i : items)
        names.insert(i.Name);
    return names;
}

// True once the online folder's sub-folder lists every one of names.
bool ShowsSoon(const std::string& folder, const std::vector<std::string>& names)
{
    return WaitUntil(
        [&] {
            const auto shown = NamesOf(Items(BindOnline(folder).Get()));
            return std::all_of(names.begin(), names.end(), [&](const std::string& n) { return shown.count(n) > 0; });
        },
        5000);
}

size_t Requests(size_t mark, const std::string& method, const std::string& path, int waitMs = 0)
{
    const auto lines = Dav().LogSince(mark, "/dav/" + Box, 0, waitMs);
    return size_t(std::count_if(lines.begin(), lines.end(), [&](const davtest::TDavLogLine& l) {
        return (method.empty() || l.Method == method) && (path.empty() || l.Path == "/dav/" + Box + "/" + path);
    }));
}

bool Registered() { return ClassValue(std::string("CLSID\\") + FolderClsid + "\\InprocServer32") != "<none>"; }

// A screenshot that must show something.
void Shot(HWND window, const std::string& name, int least = 20)
{
    const int colours = Screenshot(window, name);
    EXPECT_GT(colours, least) << "the screenshot " << name << " is blank or missing";
}

// Explorer on a folder of the online folder, as the user types its path; a screenshot of it.
void ShotFolder(const std::string& relative, const std::string& name)
{
    const std::string title = relative.substr(relative.find_last_of('\\') + 1);
    EXPECT_GE(ExplorerShow(std::string(RootParsingName) + "\\" + relative, title), 0) << "Explorer did not show " << relative;
    Shot(ExplorerWindow(), name);
}

// The test editor that an open started: a screenshot of it showing the document (with its title
// when one is given), then its saved change at the server's path and the editor gone.
void EditorSaves(const std::string& path, const std::string& expected, const std::string& shot,
                 const std::string& title = "")
{
    HWND editor = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (editor = FindWindowW(L"E2EEditorWindow", nullptr)) != nullptr; }, 30000))
        << "the editor did not start";
    if (!title.empty()) {
        EXPECT_EQ(TextOf(editor), title);
    }
    Pause(1800);
    Shot(editor, shot);
    EXPECT_TRUE(WaitUntil([&] { return Dav().ReadFile(Srv(path)) == expected; }, 20000)) << Dav().ReadFile(Srv(path));
    EXPECT_TRUE(WaitUntil([] { return FindWindowW(L"E2EEditorWindow", nullptr) == nullptr; }, 10000));
    Pause(2500);
}

// What a journey takes over from the earlier ones of the session, beyond the connection that
// J01 makes and every later journey uses.
const std::map<std::string, std::vector<std::string>> Takes = {
    // the other client's changes that J11 refreshes, the folder that J06 renames
    {"J07_DeleteToTheTrashForGoodInsideItAndEmptyIt",
     {"J11_RefreshShowsWhatAnotherClientChanged", "J06_RenameAFileAndAFolderThenOpenBelowTheRenamedFolder"}},
    {"J09_CopyAndMoveInsideTheFolderAndCtrlCopyInPlace", {"J06_RenameAFileAndAFolderThenOpenBelowTheRenamedFolder"}},
    {"J05_DragOutCopiesAndMovesToALocalFolder", {"J06_RenameAFileAndAFolderThenOpenBelowTheRenamedFolder"}},
    // the changed document that the server refused, which the exit must keep
    {"J13_ExitAndLogOffCloseEverything", {"J03_FaultARefusedSaveKeepsTheDocumentAndTellsTheUser"}},
};
const char* const FirstJourney = "J01_ConnectListsRegistersAndOpensExplorer";

class Journey : public ::testing::Test {
protected:
    // A journey starts only on what the earlier ones it takes over from left: each must have run
    // to its end before it in this session.
    void SetUp() override
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::vector<std::string> needed;
        if (name != FirstJourney)
            needed.push_back(FirstJourney);
        if (const auto it = Takes.find(name); it != Takes.end())
            needed.insert(needed.end(), it->second.begin(), it->second.end());
        for (const std::string& earlier : needed)
            ASSERT_TRUE(Ran.count(earlier)) << name << " takes over what " << earlier
                                            << " leaves, and that did not run to its end before it";
    }
    void TearDown() override
    {
        if (!HasFatalFailure())
            Ran.insert(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        Seed();
        Version(SX_VERSION_TEXT);
        // What the installer leaves: the storage's address; the language menu and German texts.
        SetSetting("Connection", "host", Dav().Url + "/" + Box);
        SetSetting("Application", "changelanguage", "1");
        WriteRegistryInteger("Application", "language", 0);
        WriteRegistryInteger("Application", "debug", 2);
        Program = std::make_unique<TProgram>();
    }
    static void TearDownTestSuite()
    {
        if (Program && Program->Running()) {
            TrayMenu(miTrayClose);
            Program->WaitEnd(20000);
        }
        Program.reset();
        CoUninitialize();
    }
    // The update server's version file announces this version.
    static void Version(const std::string& version)
    {
        const std::string url = Dav().Canned("e2e_update", "200 OK", "text/plain",
                                             "<system>win</system>\n<version>" + version + "</version>\n");
        SetSetting("Application", "update", url + "/downloads/");
    }
    // The user types the account and presses Connect; true when the program says connected.
    static bool Connect(const std::string& password)
    {
        if (!WaitUntil([] { return MainWindow() && IsWindowVisible(MainWindow()); }, 20000))
            TrayMenu(miTrayShow);
        if (!WaitUntil([] { return MainWindow() != nullptr; }, 5000))
            return false;
        Type(Control(idUsername), Dav().User);
        Type(Control(idPwd), password);
        if (!WaitUntil([] { return IsWindowEnabled(Control(idConnect)) != FALSE; }, 5000))
            return false;
        Press(Control(idConnect));
        return WaitUntil([] { return Setting("Connection", "connected") == "1" && Registered(); }, 60000);
    }

    static std::unique_ptr<TProgram> Program;
    static std::set<std::string> Ran;   // the journeys that ran to their end
};

std::unique_ptr<TProgram> Journey::Program;
std::set<std::string> Journey::Ran;

TEST_F(Journey, J01_ConnectListsRegistersAndOpensExplorer)
{
    ASSERT_TRUE(Program->Start());
    ASSERT_TRUE(WaitUntil([] { return MainWindow() && IsWindowVisible(MainWindow()); }, 30000)) << "no main window";
    EXPECT_EQ(Setting("Connection", "connected"), "0");
    Type(Control(idUsername), Dav().User);
    Type(Control(idPwd), Dav().Password);
    Shot(MainWindow(), "e2e-01-login");
    EXPECT_FALSE(Registered()) << "registered before the login";

    const size_t mark = Dav().LogMark();
    ASSERT_TRUE(Connect(Dav().Password)) << "the login did not connect";
    // The whole tree in one PROPFIND, into the mirror.
    const auto lines = Dav().LogSince(mark, "/dav/" + Box, 1, 3000);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const davtest::TDavLogLine& l) { return l.Method == "PROPFIND" && l.Depth == "infinity"; }),
              1);
    EXPECT_GT(CountEntries(UserPath() + "Cache"), 10u);
    EXPECT_NE(ClassValue(std::string("CLSID\\") + FolderClsid + "\\InprocServer32").find("Brannock.dll"), std::string::npos);
    // Explorer opened, and the window went to the tray.
    ASSERT_TRUE(WaitUntil([] { return ExplorerWindow() != nullptr; }, 20000)) << "no Explorer window";
    EXPECT_TRUE(WaitUntil([] { return !IsWindowVisible(MainWindow()); }, 5000));
    EXPECT_EQ(TextOf(Control(idConnect)), "&Trennen");
    // The folder as the user sees it in Explorer.
    EXPECT_EQ(ExplorerShow(RootParsingName, "Tandrel Vaultmere"), int(RootNames.size()));
    Shot(ExplorerWindow(), "e2e-01-explorer");
}

TEST_F(Journey, J02_BrowseShowsNamesColumnsAndProtectsTheSpecialFolders)
{
    HRESULT hr = S_OK;
    auto root = BindOnline("", &hr);
    ASSERT_TRUE(root) << HResultText(hr);
    const auto items = Items(root.Get());
    EXPECT_EQ(NamesOf(items), RootNames);
    for (const char* name : {"Gelöschte Dateien", "Neue Dateianlagen"}) {
        const TItem* item = Find(items, name);
        ASSERT_TRUE(item) << name;
        EXPECT_TRUE(item->Attributes & SFGAO_FOLDER) << name;
        EXPECT_FALSE(item->Attributes & (SFGAO_CANDELETE | SFGAO_CANRENAME)) << name << " is not protected";
        // Their own icons come from the folder's icon lists.
        PCUITEMID_CHILD one = item->Pidl.get();
        ComPtr<IExtractIconW> icon;
        EXPECT_EQ(root->GetUIObjectOf(nullptr, 1, &one, IID_IExtractIconW, nullptr,
                                      reinterpret_cast<void**>(icon.GetAddressOf())),
                  S_OK)
            << name;
    }
    const TItem* fotos = Find(items, "Fotos");
    ASSERT_TRUE(fotos);
    EXPECT_TRUE(fotos->Attributes & (SFGAO_CANDELETE | SFGAO_CANRENAME));
    const TItem* readme = Find(items, "readme.txt");
    ASSERT_TRUE(readme);
    ASSERT_EQ(readme->Details.size(), 4u);
    EXPECT_EQ(readme->Details[0], "readme.txt");
    EXPECT_FALSE(readme->Details[1].empty()) << "no size";
    EXPECT_FALSE(readme->Details[3].empty()) << "no date";
    // The column headers.
    ComPtr<IShellFolder2> details;
    ASSERT_EQ(root.As(&details), S_OK);
    std::vector<std::string> headers;
    for (UINT column = 0; column < 4; ++column) {
        SHELLDETAILS d{};
        ASSERT_EQ(details->GetDetailsOf(nullptr, column, &d), S_OK);
        LPWSTR w = nullptr;
        StrRetToStrW(&d.str, nullptr, &w);
        headers.push_back(WideToUtf8(w));
        CoTaskMemFree(w);
    }
    EXPECT_EQ(headers, (std::vector<std::string>{"Name", "Größe", "Typ", "Letzte Änderung"}));

    // A sub-folder: every name as the server has it, the thumbnails folder hidden.
    auto photos = BindOnline("Fotos", &hr);
    ASSERT_TRUE(photos) << HResultText(hr);
    EXPECT_EQ(NamesOf(Items(photos.Get())),
              (std::set<std::string>{"Strand 1.jpg", "Düne #2.jpg", "富士山.jpg", "Urlaub 2024"}));
    auto documents = BindOnline("Dokumente", &hr);
    ASSERT_TRUE(documents) << HResultText(hr);
    EXPECT_EQ(NamesOf(Items(documents.Get())),
              (std::set<std::string>{"Notiz über #1.txt", "Bericht 100%.txt", "報告書.txt"}));
    Shot(ExplorerWindow(), "e2e-02-browse");
}

// Files of a local folder (not below it) whose names end so.
std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& end)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(Utf8ToWide(folder)), ec)) {
        const std::string name = WideToUtf8(entry.path().filename().wstring());
        if (entry.is_regular_file() && name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0)
            files.push_back(WideToUtf8(entry.path().wstring()));
    }
    return files;
}

TEST_F(Journey, J16_ThumbnailsOfPicturesAreMadeByTheServer)
{
    auto photos = BindOnline("Fotos");
    ASSERT_TRUE(photos);
    const std::vector<std::string> pictures = {"Strand 1.jpg", "Düne #2.jpg", "富士山.jpg"};
    const size_t mark = Dav().LogMark();
    // What Explorer's thumbnail view asks for one picture.
    const SIZE asked{96, 96};
    const TThumbnail beach = Thumbnail(photos.Get(), "Strand 1.jpg", asked);
    ASSERT_EQ(beach.Location, S_OK) << HResultText(beach.Location);
    EXPECT_EQ(beach.Name, "Strand 1.jpg");
    ASSERT_EQ(beach.Extract, S_OK) << HResultText(beach.Extract);
    // The first request has the server make the thumbnails of the folder's pictures, once each,
    // and fetches them.
    const auto lines = Dav().LogSince(mark, "/dav/" + Box + "/Fotos/", 2 * pictures.size(), 10000);
    for (const std::string& p : pictures) {
        const auto made = std::count_if(lines.begin(), lines.end(), [&](const davtest::TDavLogLine& l) {
            return l.Method == "CREATETHUMBNAIL" && l.Path == "/dav/" + Box + "/Fotos/" + p && l.Status / 100 == 2;
        });
        const auto fetched = std::count_if(lines.begin(), lines.end(), [&](const davtest::TDavLogLine& l) {
            return l.Method == "GET" && l.Path == "/dav/" + Box + "/Fotos/.thumb/" + p + ".thumb.jpg" && l.Status == 200;
        });
        EXPECT_EQ(made, 1) << p;
        EXPECT_EQ(fetched, 1) << p;
    }
    // The picture as the server made it: the seed's 160 x 120 gradient from red at the top to
    // blue at the bottom, within the size asked, given as it is.
    const SIZE server = PictureSize(Dav().ReadFile(Srv("Fotos/.thumb/Strand 1.jpg.thumb.jpg")));
    EXPECT_EQ(server.cx, 96);
    EXPECT_EQ(server.cy, 72);
    EXPECT_EQ(beach.Width, server.cx);
    EXPECT_EQ(beach.Height, server.cy);
    ASSERT_EQ(beach.Pixels.size(), size_t(beach.Width) * size_t(beach.Height));
    EXPECT_GT(beach.Colours(), 20u) << "a blank thumbnail";
    const uint32_t top = beach.Pixels[size_t(beach.Width) / 2];
    const uint32_t bottom = beach.Pixels[beach.Pixels.size() - size_t(beach.Width) / 2];
    EXPECT_GT(top >> 16 & 0xFF, 0xC0u) << std::hex << top;
    EXPECT_LT(top & 0xFF, 0x40u) << std::hex << top;
    EXPECT_GT(bottom & 0xFF, 0xC0u) << std::hex << bottom;
    EXPECT_LT(bottom >> 16 & 0xFF, 0x40u) << std::hex << bottom;
    // The server's thumbnails are kept in the working folder "Thumb", each beside its bitmap.
    const std::string thumbs = UserPath() + "Thumb";
    const auto jpegs = FilesEndingIn(thumbs, ".thumb.jpg");
    EXPECT_EQ(jpegs.size(), pictures.size());
    EXPECT_EQ(FilesEndingIn(thumbs, ".thumb.bmp").size(), pictures.size());
    for (const std::string& p : pictures) {
        const std::string bytes = Dav().ReadFile(Srv("Fotos/.thumb/" + p + ".thumb.jpg"));
        EXPECT_TRUE(std::any_of(jpegs.begin(), jpegs.end(), [&](const std::string& f) { return ReadFileText(f) == bytes; }))
            << "the thumbnail of " << p << " is not in " << thumbs;
    }
    // Another picture of the folder comes from there; the server is asked nothing.
    const size_t again = Dav().LogMark();
    const TThumbnail dune = Thumbnail(photos.Get(), "Düne #2.jpg", asked);
    EXPECT_EQ(dune.Extract, S_OK);
    EXPECT_GT(dune.Colours(), 20u);
    EXPECT_TRUE(Dav().LogSince(again, "/dav/" + Box, 1, 500).empty());

    // The server could not make a picture's thumbnail: a failure, no picture; the folder's other
    // picture still gets its own.
    auto holiday = BindOnline("Fotos\\Urlaub 2024");
    ASSERT_TRUE(holiday);
    const TThumbnail broken = Thumbnail(holiday.Get(), "Kaputt.jpg", asked);
    EXPECT_EQ(broken.Location, E_FAIL);
    EXPECT_EQ(broken.Extract, E_FAIL);
    EXPECT_FALSE(broken.Bitmap);
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/Urlaub 2024/.thumb/Kaputt.jpg.thumb.jpg")));
    const TThumbnail day = Thumbnail(holiday.Get(), "Tag 1.jpg", asked);
    EXPECT_EQ(day.Extract, S_OK);
    EXPECT_GT(day.Colours(), 20u);
    EXPECT_EQ(FilesEndingIn(thumbs, ".thumb.bmp").size(), pictures.size() + 1);
    ShotFolder("Fotos", "e2e-16-fotos");
}

TEST_F(Journey, J03_OpenEditSaveSendsTheChangeInOnePut)
{
    auto documents = BindOnline("Dokumente");
    ASSERT_TRUE(documents);
    const auto items = Items(documents.Get());
    const TItem* note = Find(items, "Notiz über #1.txt");
    ASSERT_TRUE(note);
    const size_t mark = Dav().LogMark();
    ASSERT_EQ(InvokeDefault(documents.Get(), *note), S_OK);
    // The editor shows the document, the user types a line; saved and closed, the change reaches
    // the server once.
    EditorSaves("Dokumente/Notiz über #1.txt", DocumentText + EditorLine, "e2e-03-editor", "Notiz über #1.txt - E2E-Editor");
    EXPECT_EQ(Requests(mark, "GET", "Dokumente/Notiz über #1.txt"), 1u);
    EXPECT_EQ(Requests(mark, "PUT", "Dokumente/Notiz über #1.txt"), 1u);
}

TEST_F(Journey, J12_DisconnectLeavesTheFolderInertAndForgetsThePassword)
{
    auto root = BindOnline();
    ASSERT_TRUE(root);
    // Beside the online folder's window, one of the user's own disk whose folder is named like
    // a folder of the online folder: the disconnect must leave it open.
    HWND online = ExplorerWindow();
    ASSERT_TRUE(online) << "no Explorer window on the online folder";
    const std::string local = "C:\\Eigene Ablage\\Dokumente";
    WriteLocalFile(local + "\\eigene Notiz.txt", "meins");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"explorer.exe \"" + Utf8ToWide(local) + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    auto localWindow = [online] {
        for (const wchar_t* type : {L"ExplorerWClass", L"ExploreWClass", L"CabinetWClass"})
            for (HWND w = FindWindowExW(nullptr, nullptr, type, nullptr); w; w = FindWindowExW(nullptr, w, type, nullptr))
                if (w != online && IsWindowVisible(w) && TextOf(w) == "Dokumente")
                    return w;
        return HWND(nullptr);
    };
    ASSERT_TRUE(WaitUntil([&] { return localWindow() != nullptr; }, 20000)) << "no Explorer window on the local folder";
    HWND mine = localWindow();
    Pause(1500);
    TrayMenu(miTrayShow);
    ASSERT_TRUE(WaitUntil([] { return IsWindowVisible(MainWindow()) != FALSE; }, 5000));
    Press(Control(idConnect));
    ASSERT_TRUE(WaitUntil([] { return Setting("Connection", "connected") == "0"; }, 30000));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(online); }, 10000)) << "the online folder's Explorer still open";
    Pause(1000);
    EXPECT_TRUE(IsWindow(mine) && TextOf(mine) == "Dokumente") << "the local folder's Explorer was closed";
    CloseExplorers();
    EXPECT_TRUE(WaitUntil([] { return ExplorerWindow() == nullptr; }, 10000)) << "Explorer still open";
    EXPECT_FALSE(Registered());
    EXPECT_EQ(Setting("Connection", "password"), "");
    for (const char* folder : {"Cache", "Temp", "Download", "Open", "Thumb"})
        EXPECT_FALSE(Exists(UserPath() + folder)) << folder;
    EXPECT_EQ(TextOf(Control(idConnect)), "&Verbinden");
    EXPECT_EQ(TextOf(Control(idPwd)), "");
    EXPECT_FALSE(IsWindowEnabled(Control(idConnect))) << "Connect without a password";
    Shot(MainWindow(), "e2e-12-disconnected");
    // The folder is inert: it is gone from My Computer, and an open one lists nothing and asks
    // the server nothing.
    HRESULT hr = S_OK;
    EXPECT_FALSE(BindOnline("", &hr) && !Items(BindOnline().Get()).empty());
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(Items(root.Get()).empty());
    Pause(500);
    EXPECT_EQ(Requests(mark, "", ""), 0u);
    // A second start brings the first window up while not connected.
    ShowWindow(MainWindow(), SW_HIDE);
    TProgram second;
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitEnd(20000), 0);
    EXPECT_TRUE(WaitUntil([] { return IsWindowVisible(MainWindow()) != FALSE; }, 5000));
    EXPECT_TRUE(Program->Running());

    // Connect again with the password typed anew; the connect opens Explorer, whose window is
    // waited for here, so that it cannot come up in a later journey.
    ASSERT_TRUE(Connect(Dav().Password));
    EXPECT_TRUE(BindOnline());
    EXPECT_TRUE(WaitUntil([] { HWND w = ExplorerWindow(); return w && IsWindowVisible(w); }, 20000))
        << "the connect opened no Explorer";
}

TEST_F(Journey, J15_ASecondStartWhileConnectedOpensExplorerAndEnds)
{
    ASSERT_EQ(Setting("Connection", "connected"), "1");
    WaitUntil([] { return ExplorerWindow() != nullptr; }, 10000);
    CloseExplorers();
    ASSERT_TRUE(WaitUntil([] { return ExplorerWindow() == nullptr; }, 10000));
    const std::string install = Setting("Application", "install");
    TProgram second;
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitEnd(20000), 0);
    EXPECT_TRUE(Program->Running());
    EXPECT_EQ(Setting("Connection", "connected"), "1");
    EXPECT_EQ(Setting("Application", "install"), install);
    ASSERT_TRUE(WaitUntil([] { return ExplorerWindow() != nullptr; }, 20000)) << "the second start opened no Explorer";
    EXPECT_EQ(ExplorerShow(RootParsingName, "Tandrel Vaultmere"), int(RootNames.size()));
    Shot(ExplorerWindow(), "e2e-15-second-start");
}

TEST_F(Journey, J14_VersionCheckOffersTheNewerVersion)
{
    Version("1.2.1.52");
    TrayMenu(miTrayInfo);
    ASSERT_TRUE(WaitUntil([] { return IsWindowVisible(MainWindow()) && IsWindowVisible(Control(idVersioncheck)); }, 5000));
    Shot(MainWindow(), "e2e-14-info");
    Press(Control(idVersioncheck));
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = WindowOfProcess(Program->Pid(), MainWindow())) != nullptr; }, 20000))
        << "no version window";
    Pause(500);
    EXPECT_EQ(TextOf(GetDlgItem(window, 110)), EscapeAmpersands(Txt(92, 0)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, 1))) << "no download button";
    Shot(window, "e2e-14-version");
    Press(GetDlgItem(window, 2));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 5000));
    Version(SX_VERSION_TEXT);
}

}  // namespace

namespace {

TEST_F(Journey, J11_RefreshShowsWhatAnotherClientChanged)
{
    auto root = BindOnline();
    ASSERT_TRUE(root);
    // An Explorer window of its own on the folder, which the user refreshes at the end.
    CloseExplorers();
    TrayMenu(miTrayExplore);
    ASSERT_TRUE(WaitUntil([] { return ExplorerWindow() != nullptr; }, 20000)) << "no Explorer window";
    HWND explorer = nullptr;
    ASSERT_EQ(ExplorerShow(RootParsingName, "Tandrel Vaultmere", &explorer), int(RootNames.size()));
    const auto before = Items(root.Get());
    ASSERT_TRUE(Find(before, "readme.txt"));
    const std::string sizeBefore = Find(before, "readme.txt")->Details.at(1);
    // Another client changes the server's tree.
    Dav().WriteFile(Srv("Dokumente/Neu vom Kollegen.txt"), "neu\r\n");
    Dav().WriteFile(Srv("readme.txt"), std::string(5000, 'x'));
    std::error_code ec;
    std::filesystem::remove(Dav().Local(Srv("Dokumente/報告書.txt")), ec);
    Dav().MakeFolder(Srv("Projekt X"));
    // The user refreshes from the tray menu.
    TrayMenu(miTrayRefresh);
    ASSERT_TRUE(WaitUntil([] { return Find(Items(BindOnline("Dokumente").Get()), "Neu vom Kollegen.txt") != nullptr; },
                          30000))
        << "the new file did not appear";
    EXPECT_EQ(NamesOf(Items(BindOnline("Dokumente").Get())),
              (std::set<std::string>{"Notiz über #1.txt", "Bericht 100%.txt", "Neu vom Kollegen.txt"}));
    const auto after = Items(BindOnline().Get());
    std::set<std::string> names = RootNames;
    names.insert("Projekt X");
    EXPECT_EQ(NamesOf(after), names);
    ASSERT_TRUE(Find(after, "readme.txt"));
    EXPECT_NE(Find(after, "readme.txt")->Details.at(1), sizeBefore) << "the changed size is not shown";
    // Explorer, still on the folder, shows it after the user's F5.
    EXPECT_EQ(ExplorerRefresh(explorer, int(names.size())), int(names.size()));
    Shot(explorer, "e2e-11-refreshed");
}

}  // namespace

namespace {

// ---- the folder's own interfaces: rename, new folder, delete, drop in, copy and move, drag out

const std::string Upload = "C:\\e2e\\lokal";

// The context-menu handler Explorer makes for local files, as the login registered it.
const CLSID SendToClsid = {0x7C3298F7, 0x6934, 0x446E, {0x87, 0x99, 0x6A, 0x74, 0x2F, 0x5A, 0x74, 0x19}};

TEST_F(Journey, J10_SendToPutsLocalFilesIntoNeueDateianlagen)
{
    WriteLocalFile(Upload + "\\Senden\\Angebot für Müller.txt", "Angebot\r\n");
    WriteLocalFile(Upload + "\\Senden\\Mappe 2024\\Liste #3.txt", "Liste\r\n");
    auto data = LocalData(Upload + "\\Senden", {"Angebot für Müller.txt", "Mappe 2024"});
    ASSERT_TRUE(data);
    ComPtr<IShellExtInit> init;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(SendToClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&init)));
    ASSERT_EQ(init->Initialize(nullptr, data.Get(), nullptr), S_OK);
    ComPtr<IContextMenu> menu;
    ASSERT_HRESULT_SUCCEEDED(init.As(&menu));
    HMENU popup = CreatePopupMenu();
    ASSERT_HRESULT_SUCCEEDED(menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL));
    // The user's click: "Tandrel Vaultmere" > 'In "Neue Dateianlagen" speichern'.
    int offset = -1;
    for (int i = 0; i < GetMenuItemCount(popup) && offset < 0; ++i) {
        HMENU sub = GetSubMenu(popup, i);
        wchar_t text[128] = {};
        for (int k = 0; sub && k < GetMenuItemCount(sub); ++k)
            if (GetMenuStringW(sub, k, text, 128, MF_BYPOSITION) && std::wstring(text) == L"In \"Neue Dateianlagen\" speichern")
                offset = int(GetMenuItemID(sub, k)) - 100;
    }
    DestroyMenu(popup);
    ASSERT_GE(offset, 0) << "the send-to item is missing";
    const size_t mark = Dav().LogMark();
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    EXPECT_EQ(Dav().ReadFile(Srv("Neue Dateianlagen/Angebot für Müller.txt")), "Angebot\r\n");
    EXPECT_EQ(Dav().ReadFile(Srv("Neue Dateianlagen/Mappe 2024/Liste #3.txt")), "Liste\r\n");
    EXPECT_EQ(Requests(mark, "PUT", ""), 2u);
    EXPECT_TRUE(Exists(Upload + "\\Senden\\Angebot für Müller.txt")) << "send-to took the local file";
    EXPECT_TRUE(ShowsSoon("Neue Dateianlagen", {"Angebot für Müller.txt", "Mappe 2024"}));
    ShotFolder("Neue Dateianlagen", "e2e-10-sent-to");
}

TEST_F(Journey, J06_RenameAFileAndAFolderThenOpenBelowTheRenamedFolder)
{
    auto root = BindOnline();
    ASSERT_TRUE(root);
    const auto items = Items(root.Get());
    const TItem* folder = Find(items, "Dokumente");
    ASSERT_TRUE(folder);
    size_t mark = Dav().LogMark();
    PITEMID_CHILD renamed = nullptr;
    ASSERT_EQ(root->SetNameOf(nullptr, folder->Pidl.get(), L"Dokumente 2025 #ä", SHGDN_INFOLDER, &renamed), S_OK);
    CoTaskMemFree(renamed);
    EXPECT_GE(Requests(mark, "MOVE", "", 3000), 1u);
    EXPECT_TRUE(Dav().Exists(Srv("Dokumente 2025 #ä/Notiz über #1.txt")));
    EXPECT_FALSE(Dav().Exists(Srv("Dokumente")));
    auto documents = BindOnline("Dokumente 2025 #ä");
    ASSERT_TRUE(documents) << "the renamed folder is not there";
    const auto inside = Items(documents.Get());
    const TItem* report = Find(inside, "Bericht 100%.txt");
    ASSERT_TRUE(report);
    ASSERT_EQ(documents->SetNameOf(nullptr, report->Pidl.get(), L"Bericht 100% (final).txt", SHGDN_INFOLDER, &renamed), S_OK);
    CoTaskMemFree(renamed);
    EXPECT_TRUE(Dav().Exists(Srv("Dokumente 2025 #ä/Bericht 100% (final).txt")));
    EXPECT_FALSE(Dav().Exists(Srv("Dokumente 2025 #ä/Bericht 100%.txt")));
    EXPECT_TRUE(Find(Items(documents.Get()), "Bericht 100% (final).txt"));

    // Opened below the renamed folder and saved: the change goes to the new place, once.
    const auto now = Items(documents.Get());
    const TItem* note = Find(now, "Notiz über #1.txt");
    ASSERT_TRUE(note);
    const std::string before = Dav().ReadFile(Srv("Dokumente 2025 #ä/Notiz über #1.txt"));
    mark = Dav().LogMark();
    ASSERT_EQ(InvokeDefault(documents.Get(), *note), S_OK);
    EditorSaves("Dokumente 2025 #ä/Notiz über #1.txt", before + EditorLine, "e2e-06-editor-renamed-folder");
    EXPECT_EQ(Requests(mark, "PUT", "Dokumente 2025 #ä/Notiz über #1.txt"), 1u);
    EXPECT_EQ(Requests(mark, "PUT", ""), 1u);
}

TEST_F(Journey, J08_NewFolderFromTheMenu)
{
    auto root = BindOnline();
    ASSERT_TRUE(root);
    TAnswerer user({{1, 0, "Reise 2025 – Ü", "e2e-08-new-folder"}});
    ASSERT_EQ(InvokeMenu(root.Get(), {"Fotos"}, "Ordner"), S_OK);
    EXPECT_EQ(user.Asked().size(), 1u) << "no name was asked";
    EXPECT_GT(user.ShotColours(), 4);
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/Reise 2025 – Ü")));
    EXPECT_TRUE(WaitUntil([] { return Find(Items(BindOnline("Fotos").Get()), "Reise 2025 – Ü") != nullptr; }, 5000));
}

TEST_F(Journey, J07_DeleteToTheTrashForGoodInsideItAndEmptyIt)
{
    auto root = BindOnline();
    ASSERT_TRUE(root);
    {
        // Delete: the question (the trash preset), then the item is in "Gelöschte Dateien".
        TAnswerer user({{6, 0, "", "e2e-07-delete-question"}});
        ASSERT_EQ(InvokeMenu(root.Get(), {"readme.txt"}, "delete"), S_OK);
        ASSERT_EQ(user.Asked().size(), 1u);
        EXPECT_NE(user.Asked()[0].find("readme.txt"), std::string::npos) << user.Asked()[0];
    }
    EXPECT_FALSE(Dav().Exists(Srv("readme.txt")));
    EXPECT_EQ(Dav().ReadFile(Srv("Gelöschte Dateien/readme.txt")), std::string(5000, 'x'));
    EXPECT_FALSE(Find(Items(root.Get()), "readme.txt"));
    auto trash = BindOnline("Gelöschte Dateien");
    ASSERT_TRUE(trash);
    EXPECT_TRUE(Find(Items(trash.Get()), "readme.txt"));
    {
        // The permanent choice in the question: gone for good, nothing in the trash.
        auto photos = BindOnline("Fotos");
        TAnswerer user({TAnswer(6, 103)});
        ASSERT_EQ(InvokeMenu(photos.Get(), {"Düne #2.jpg"}, "delete"), S_OK);
        EXPECT_EQ(user.Asked().size(), 1u);
        EXPECT_FALSE(Dav().Exists(Srv("Fotos/Düne #2.jpg")));
        EXPECT_FALSE(Dav().Exists(Srv("Gelöschte Dateien/Düne #2.jpg")));
    }
    {
        // Shift held while deleting: the question of deleting for good, then gone from the server,
        // nothing in the trash, gone from the view.
        auto documents = BindOnline("Dokumente 2025 #ä");
        ASSERT_TRUE(documents);
        const size_t mark = Dav().LogMark();
        TAnswerer user({{6, 0, "", "e2e-07-shift-delete-question"}});
        {
            THeldKey shift(VK_SHIFT);
            ASSERT_TRUE(shift.Down()) << "Shift is not down";
            ASSERT_EQ(InvokeMenu(documents.Get(), {"Neu vom Kollegen.txt"}, "delete"), S_OK);
        }
        EXPECT_FALSE(GetAsyncKeyState(VK_SHIFT) & 0x8000) << "Shift stayed down";
        ASSERT_EQ(user.Asked().size(), 1u);
        EXPECT_EQ(user.Asked()[0], FormatTableText(Txt(70, 0), "Neu vom Kollegen.txt"));
        Dav().LogSince(mark, "/dav/" + Box + "/Dokumente 2025 #ä/Neu vom Kollegen.txt", 1, 3000);
        EXPECT_EQ(Requests(mark, "DELETE", "Dokumente 2025 #ä/Neu vom Kollegen.txt"), 1u);
        EXPECT_EQ(Requests(mark, "MOVE", ""), 0u);
        EXPECT_FALSE(Dav().Exists(Srv("Dokumente 2025 #ä/Neu vom Kollegen.txt")));
        EXPECT_FALSE(Dav().Exists(Srv("Gelöschte Dateien/Neu vom Kollegen.txt")));
        EXPECT_FALSE(Find(Items(trash.Get()), "Neu vom Kollegen.txt"));
        EXPECT_FALSE(Find(Items(documents.Get()), "Neu vom Kollegen.txt"));
    }
    {
        // Inside the trash: for good.
        TAnswerer user({TAnswer(6)});
        ASSERT_EQ(InvokeMenu(trash.Get(), {"readme.txt"}, "delete"), S_OK);
        EXPECT_EQ(user.Asked().size(), 1u);
        EXPECT_FALSE(Dav().Exists(Srv("Gelöschte Dateien/readme.txt")));
    }
    {
        // Emptying: one question for all, then the trash is empty on the server.
        TAnswerer first({TAnswer(6)});
        ASSERT_EQ(InvokeMenu(root.Get(), {"Projekt X"}, "delete"), S_OK);
        EXPECT_TRUE(Dav().Exists(Srv("Gelöschte Dateien/Projekt X")));
    }
    {
        TAnswerer user({{6, 0, "", "e2e-07-empty-question"}});
        ASSERT_EQ(InvokeMenu(root.Get(), {"Gelöschte Dateien"}, "Gelöschte Dateien leeren"), S_OK);
        EXPECT_EQ(user.Asked().size(), 1u);
    }
    EXPECT_FALSE(Dav().Exists(Srv("Gelöschte Dateien/Projekt X")));
    EXPECT_TRUE(Dav().Exists(Srv("Gelöschte Dateien")));
    EXPECT_TRUE(Items(BindOnline("Gelöschte Dateien").Get()).empty());
}

TEST_F(Journey, J04_DragInFilesAndAFolderTree)
{
    WriteLocalFile(Upload + "\\Brief an Jörg.txt", "Lieber Jörg\r\n");
    WriteLocalFile(Upload + "\\Plan #2 50%.txt", "Plan\r\n");
    WriteLocalFile(Upload + "\\Ordner 旅行\\Tag 1.txt", "erster Tag\r\n");
    WriteLocalFile(Upload + "\\Ordner 旅行\\Unter\\tief.txt", "ganz unten\r\n");
    auto data = LocalData(Upload, {"Brief an Jörg.txt", "Plan #2 50%.txt", "Ordner 旅行"});
    ASSERT_TRUE(data);
    auto root = BindOnline();
    auto target = DropTargetOf(root.Get(), "Fotos");
    ASSERT_TRUE(target);
    DWORD performed = 0;
    EXPECT_EQ(DragDrop(target.Get(), data.Get(), DROPEFFECT_COPY, &performed), S_OK);
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Brief an Jörg.txt")), "Lieber Jörg\r\n");
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Plan #2 50%.txt")), "Plan\r\n");
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Ordner 旅行/Tag 1.txt")), "erster Tag\r\n");
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Ordner 旅行/Unter/tief.txt")), "ganz unten\r\n");
    EXPECT_TRUE(Exists(Upload + "\\Brief an Jörg.txt")) << "a copy took the local file";
    EXPECT_TRUE(ShowsSoon("Fotos", {"Brief an Jörg.txt", "Ordner 旅行"}));
    ShotFolder("Fotos", "e2e-04-dropped-in");
}

TEST_F(Journey, J04_FaultARefusedUploadLosesNothingAndIsTold)
{
    Dav().MakeFolder(Srv("readonly"));
    TrayMenu(miTrayRefresh);
    ASSERT_TRUE(WaitUntil([] { return Find(Items(BindOnline().Get()), "readonly") != nullptr; }, 30000));
    WriteLocalFile(Upload + "\\abgelehnt.txt", "bleibt lokal\r\n");
    auto data = LocalData(Upload, {"abgelehnt.txt"});
    auto target = DropTargetOf(BindOnline().Get(), "readonly");
    ASSERT_TRUE(data && target);
    TAnswerer user({{IDOK, 0, "", "e2e-04-refused"}});
    DragDrop(target.Get(), data.Get(), DROPEFFECT_COPY);
    ASSERT_EQ(user.Asked().size(), 1u) << "the user was not told";
    EXPECT_NE(user.Asked()[0].find("abgelehnt.txt"), std::string::npos) << user.Asked()[0];
    EXPECT_FALSE(Dav().Exists(Srv("readonly/abgelehnt.txt")));
    EXPECT_EQ(ReadFileText(Upload + "\\abgelehnt.txt"), "bleibt lokal\r\n");
    EXPECT_FALSE(Find(Items(BindOnline("readonly").Get()), "abgelehnt.txt"));
}

TEST_F(Journey, J09_CopyAndMoveInsideTheFolderAndCtrlCopyInPlace)
{
    auto photos = BindOnline("Fotos");
    auto root = BindOnline();
    ASSERT_TRUE(photos && root);
    // The seeded bytes of this one picture: a copy of any other picture would not match.
    const std::string picture = Dav().Picture(Srv("Fotos/Strand 1.jpg"));
    ASSERT_EQ(Dav().ReadFile(Srv("Fotos/Strand 1.jpg")), picture);
    // Copy into another folder.
    DWORD performed = 0;
    EXPECT_EQ(DragDrop(DropTargetOf(root.Get(), "Dokumente 2025 #ä").Get(),
                       OnlineData(photos.Get(), {"Strand 1.jpg"}).Get(), DROPEFFECT_COPY, &performed),
              S_OK);
    EXPECT_EQ(Dav().ReadFile(Srv("Dokumente 2025 #ä/Strand 1.jpg")), picture);
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Strand 1.jpg")), picture);
    // Move: the source goes only after the copy is there.
    EXPECT_EQ(DragDrop(DropTargetOf(root.Get(), "Neue Dateianlagen").Get(),
                       OnlineData(photos.Get(), {"富士山.jpg"}).Get(), DROPEFFECT_MOVE, &performed),
              S_OK);
    EXPECT_TRUE(Dav().Exists(Srv("Neue Dateianlagen/富士山.jpg")));
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/富士山.jpg")));
    // Ctrl-copy onto its own folder: a copy under the first free copy name.
    EXPECT_EQ(DragDrop(DropTargetOf(photos.Get()).Get(), OnlineData(photos.Get(), {"Strand 1.jpg"}).Get(),
                       DROPEFFECT_COPY, &performed),
              S_OK);
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Kopie von Strand 1.jpg")), picture);
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Strand 1.jpg")), picture);
    ShotFolder("Neue Dateianlagen", "e2e-09-moved");
}

TEST_F(Journey, J05_DragOutCopiesAndMovesToALocalFolder)
{
    const std::string out = "C:\\e2e\\heraus";
    WriteLocalFile(out + "\\.keep", "");
    auto documents = BindOnline("Dokumente 2025 #ä");
    ASSERT_TRUE(documents);
    // Windows' file-system folders take the online folder's file descriptors and contents; Wine's
    // take file names only, so a drop target that does what Windows' does stands in for them.
    auto target = FileDropTarget(out);
    const std::string text = Dav().ReadFile(Srv("Dokumente 2025 #ä/Notiz über #1.txt"));
    DWORD performed = 0;
    EXPECT_EQ(DragDrop(target.Get(), OnlineData(documents.Get(), {"Notiz über #1.txt"}).Get(), DROPEFFECT_COPY, &performed),
              S_OK);
    EXPECT_EQ(performed, DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(WaitUntil([&] { return ReadFileText(out + "\\Notiz über #1.txt") == text; }, 10000));
    EXPECT_TRUE(Dav().Exists(Srv("Dokumente 2025 #ä/Notiz über #1.txt")));
    // A move out: the target reports the move once its local copy is complete; only then does the
    // server item go, from the server, the mirror and the view.
    const std::string report = Dav().ReadFile(Srv("Dokumente 2025 #ä/Bericht 100% (final).txt"));
    ASSERT_FALSE(report.empty());
    const size_t mark = Dav().LogMark();
    EXPECT_EQ(DragDrop(target.Get(), OnlineData(documents.Get(), {"Bericht 100% (final).txt"}).Get(), DROPEFFECT_MOVE,
                       &performed),
              S_OK);
    EXPECT_EQ(performed, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(ReadFileText(out + "\\Bericht 100% (final).txt"), report);
    EXPECT_TRUE(WaitUntil([] { return !Dav().Exists(Srv("Dokumente 2025 #ä/Bericht 100% (final).txt")); }, 10000));
    const auto lines = Dav().LogSince(mark, "/dav/" + Box, 2, 5000);
    const auto get = std::find_if(lines.begin(), lines.end(), [](const davtest::TDavLogLine& l) { return l.Method == "GET"; });
    const auto del = std::find_if(lines.begin(), lines.end(), [](const davtest::TDavLogLine& l) { return l.Method == "DELETE"; });
    EXPECT_TRUE(get != lines.end() && del != lines.end() && get < del) << "the server item went before its download";
    EXPECT_TRUE(WaitUntil([&] { return !Find(Items(BindOnline("Dokumente 2025 #ä").Get()), "Bericht 100% (final).txt"); }, 5000));
    // A folder moved out: its tree arrives, and then the folder goes from the server.
    auto photos = BindOnline("Fotos");
    ASSERT_TRUE(photos);
    const std::string day = Dav().Picture(Srv("Fotos/Urlaub 2024/Tag 1.jpg"));
    ASSERT_EQ(Dav().ReadFile(Srv("Fotos/Urlaub 2024/Tag 1.jpg")), day);
    EXPECT_EQ(DragDrop(target.Get(), OnlineData(photos.Get(), {"Urlaub 2024"}).Get(), DROPEFFECT_MOVE, &performed), S_OK);
    EXPECT_EQ(ReadFileText(out + "\\Urlaub 2024\\Tag 1.jpg"), day);
    EXPECT_TRUE(WaitUntil([] { return !Dav().Exists(Srv("Fotos/Urlaub 2024")); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !Find(Items(BindOnline("Fotos").Get()), "Urlaub 2024"); }, 5000));
    ShotFolder("Dokumente 2025 #ä", "e2e-05-dragged-out");
}

}  // namespace


namespace {

// ---- faults: the server refuses, or is gone; nothing is lost on either side, and the user is told

// The host setting (read by every request) pointed at a server that refuses everything, for the
// life of this object.
class TRefusingServer {
public:
    TRefusingServer()
        : Host(Setting("Connection", "host")),
          Refusing(Dav().Canned("e2e_refuse", "403 Forbidden", "text/plain", "nein"))
    {
        SetSetting("Connection", "host", Refusing);
    }
    ~TRefusingServer() { SetSetting("Connection", "host", Host); }

private:
    std::string Host, Refusing;
};

TEST_F(Journey, J03_FaultARefusedSaveKeepsTheDocumentAndTellsTheUser)
{
    Dav().WriteFile(Srv("readonly/Vertrag.txt"), DocumentText);
    TrayMenu(miTrayRefresh);
    ASSERT_TRUE(WaitUntil([] { return Find(Items(BindOnline("readonly").Get()), "Vertrag.txt") != nullptr; }, 30000));
    auto folder = BindOnline("readonly");
    const auto items = Items(folder.Get());
    const size_t logBefore = ReadFileText(InstallFolder() + "MainApp.log").size();
    ASSERT_EQ(InvokeDefault(folder.Get(), *Find(items, "Vertrag.txt")), S_OK);
    ASSERT_TRUE(WaitUntil([] { return FindWindowW(L"E2EEditorWindow", nullptr) != nullptr; }, 30000));
    EXPECT_TRUE(WaitUntil([] { return FindWindowW(L"E2EEditorWindow", nullptr) == nullptr; }, 20000));
    // The upload was refused: the user is told (the tray's balloon, logged with it), the server
    // keeps its version and the changed document stays in the open folder.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ReadFileText(InstallFolder() + "MainApp.log").substr(logBefore).find("SxChangeNotifierChange: UploadForm") !=
                   std::string::npos;
        },
        10000));
    EXPECT_EQ(Dav().ReadFile(Srv("readonly/Vertrag.txt")), DocumentText);
    bool kept = false;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(Utf8ToWide(UserPath() + "Open\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string slot = UserPath() + "Open\\" + WideToUtf8(found.cFileName) + "\\Vertrag.txt";
            if (found.cFileName[0] != L'.' && ReadFileText(slot) == DocumentText + EditorLine)
                kept = true;
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    EXPECT_TRUE(kept) << "the changed document is gone";
    ShotFolder("readonly", "e2e-03-refused-save");
}

TEST_F(Journey, J07_FaultARefusedDeleteKeepsTheItemAndTellsTheUser)
{
    auto photos = BindOnline("Fotos");
    ASSERT_TRUE(photos);
    TRefusingServer refusing;
    TAnswerer user({TAnswer(6), TAnswer(IDOK, 0, "", "e2e-07-refused")});
    InvokeMenu(photos.Get(), {"Strand 1.jpg"}, "delete");
    WaitUntil([&] { return user.Asked().size() == 2; }, 10000);
    ASSERT_EQ(user.Asked().size(), 2u) << "the user was not told";
    EXPECT_NE(user.Asked()[1].find("Strand 1.jpg"), std::string::npos) << user.Asked()[1];
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/Strand 1.jpg")));
    EXPECT_FALSE(Dav().Exists(Srv("Gelöschte Dateien/Strand 1.jpg")));
    EXPECT_TRUE(Find(Items(photos.Get()), "Strand 1.jpg")) << "the view lost the item";
}

TEST_F(Journey, J09_FaultARefusedCopyKeepsTheSourceOfAMove)
{
    Dav().WriteFile(Srv("nocopy/Quelle.txt"), "Quelle\r\n");
    TrayMenu(miTrayRefresh);
    ASSERT_TRUE(WaitUntil([] { return Find(Items(BindOnline("nocopy").Get()), "Quelle.txt") != nullptr; }, 30000));
    auto source = BindOnline("nocopy");
    auto root = BindOnline();
    TAnswerer user({TAnswer(IDOK, 0, "", "e2e-09-refused")});
    DragDrop(DropTargetOf(root.Get(), "Neue Dateianlagen").Get(), OnlineData(source.Get(), {"Quelle.txt"}).Get(),
             DROPEFFECT_MOVE);
    WaitUntil([&] { return user.Asked().size() == 1; }, 10000);
    ASSERT_EQ(user.Asked().size(), 1u) << "the user was not told";
    EXPECT_NE(user.Asked()[0].find("Quelle.txt"), std::string::npos) << user.Asked()[0];
    EXPECT_EQ(Dav().ReadFile(Srv("nocopy/Quelle.txt")), "Quelle\r\n");
    EXPECT_FALSE(Dav().Exists(Srv("Neue Dateianlagen/Quelle.txt")));
}

TEST_F(Journey, J05_FaultAFailedDownloadWritesNothingAndKeepsTheServerItem)
{
    const std::string out = "C:\\e2e\\heraus2";
    WriteLocalFile(out + "\\.keep", "");
    auto photos = BindOnline("Fotos");
    ASSERT_TRUE(photos);
    auto data = OnlineData(photos.Get(), {"Strand 1.jpg"});
    ASSERT_TRUE(data);
    TRefusingServer refusing;
    EXPECT_NE(DragDrop(FileDropTarget(out).Get(), data.Get(), DROPEFFECT_MOVE), S_OK) << "the drop reported success";
    EXPECT_FALSE(Exists(out + "\\Strand 1.jpg")) << "a file without its content was written";
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/Strand 1.jpg")));
    ShotFolder("Fotos", "e2e-05-failed-download");
}

}  // namespace

namespace {

TEST_F(Journey, J13_ExitAndLogOffCloseEverything)
{
    // The tray menu as the user opens it with a right click on the icon.
    HWND icon = FindWindowW(L"TSxTrayIconWindow", nullptr);
    ASSERT_TRUE(icon);
    SetCursorPos(600, 300);
    PostMessageW(icon, 0xB05A, 0, WM_RBUTTONDOWN);
    PostMessageW(icon, 0xB05A, 0, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }, 5000));
    Pause(300);
    Shot(menu, "e2e-13-tray-menu", 4);   // a menu has few colours
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    Pause(300);
    // Exit from the tray menu. The document the server refused stays, and the user is told where.
    {
        TAnswerer user({TAnswer(IDOK, 0, "", "e2e-13-documents-kept")}, Program->Pid());
        TrayMenu(miTrayClose);
        EXPECT_EQ(Program->WaitEnd(30000), 0) << "the program did not end";
        ASSERT_EQ(user.Asked().size(), 1u) << "the user was not told of the kept document";
        EXPECT_NE(user.Asked()[0].find(UserPath() + "Open"), std::string::npos) << user.Asked()[0];
    }
    EXPECT_GT(CountEntries(UserPath() + "Open"), 0u) << "the refused document is gone";
    EXPECT_TRUE(WaitUntil([] { return ExplorerWindow() == nullptr; }, 10000)) << "an Explorer window outlived the exit";
    EXPECT_FALSE(Registered());
    EXPECT_EQ(Setting("Connection", "connected"), "0");
    EXPECT_EQ(Setting("Connection", "password"), "");
    for (const char* folder : {"Cache", "Temp", "Download", "Thumb"})
        EXPECT_FALSE(Exists(UserPath() + folder)) << folder;

    // Started again and connected, then Windows logs off.
    Program = std::make_unique<TProgram>();
    ASSERT_TRUE(Program->Start());
    ASSERT_TRUE(WaitUntil([] { return MainWindow() && IsWindowVisible(MainWindow()); }, 30000));
    ASSERT_TRUE(Connect(Dav().Password));
    ASSERT_TRUE(WaitUntil([] { return ExplorerWindow() != nullptr; }, 20000));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"wineboot.exe --end-session";
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(Program->WaitEnd(30000), 0) << "the program outlived the log-off";
    EXPECT_FALSE(Registered());
    EXPECT_EQ(Setting("Connection", "password"), "");
}

}  // namespace
