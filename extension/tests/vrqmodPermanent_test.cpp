// The permanent module's handlers in-process, over a mirror made by a real login listing of a
// seeded sandbox on the private WebDAV server: the connection check, populate and presentation,
// open, file contents, thumbnails and the reload of a folder.
#include "ExtensionTestSupport.h"
#include "FaultProxy.h"
#include "uGLBConst.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBVersion.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"
#include "SxShellView.h"
#include "uvrqmodMain.h"
#include "uvrqmodPermanent.h"
#include "ufrmElementPropertySheet.h"
#include "ufrmMainPropertySheet.h"
#include "uTApplicationEnviroment.h"
#include "uGLBTools.h"
#include "uTSystemIcon.h"
#include "SxExplorerToolbar.h"
#include "SxFakeShellBrowser.h"
#include "SxStatusBar.h"
#include "SxNamespaceDetails.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using davtest::PathU8;
using davtest::TDavLogLine;
using davtest::U8Path;
using exttest::TOnlineUser;

namespace {

std::string BoxName(const char* prefix)
{
    std::string box = std::string(prefix) + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : box)
        c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    return box;
}

class PermanentModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        User = std::make_unique<TOnlineUser>(BoxName("ext_"));
        User->StartTray();
        ASSERT_TRUE(User->Login());
        Module = std::make_unique<TvrqmodPermanent>();
        SetLauncher([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(Lock);
            Launched.push_back(line);
            return true;
        });
    }
    void TearDown() override
    {
        SetLauncher(nullptr);
        SetTrayStartPause(5000);
        Module.reset();
        User.reset();
        CoUninitialize();
    }

    // The children of a folder grain (the root for nullptr) as populate gives them.
    std::vector<std::unique_ptr<TSxCustomDataGrain>> Children(TSxCustomDataGrain* folder = nullptr)
    {
        TSxDataGrainList list;
        std::unique_ptr<TSxCustomDataGrain> root;
        if (!folder) {
            root = Module->sxVrqProvider.CreateRootGrain();
            folder = root.get();
        }
        Module->sxVrqProviderPopulate(dynamic_cast<TSxByHandDataGrain&>(*folder), list);
        std::vector<std::unique_ptr<TSxCustomDataGrain>> grains;
        while (list.Count() > 0)
            grains.push_back(list.Extract(0));
        return grains;
    }
    // The grain at a "/" separated path below the root.
    std::unique_ptr<TSxCustomDataGrain> Grain(const std::string& path)
    {
        std::unique_ptr<TSxCustomDataGrain> folder;
        size_t start = 0;
        while (true) {
            const size_t slash = path.find('/', start);
            const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            std::unique_ptr<TSxCustomDataGrain> found;
            for (auto& g : Children(folder.get()))
                if (g->Name == name)
                    found = std::move(g);
            if (!found || slash == std::string::npos)
                return found;
            folder = std::move(found);
            start = slash + 1;
        }
    }
    std::set<std::string> Names(TSxCustomDataGrain* folder = nullptr)
    {
        std::set<std::string> names;
        for (auto& g : Children(folder))
            names.insert(g->Name);
        return names;
    }
    std::vector<TDavLogLine> Requests(size_t mark, size_t atLeast, int timeoutMs = 5000) const
    {
        return TOnlineUser::Dav().LogSince(mark, User->Prefix(), atLeast, timeoutMs);
    }
    std::string Log() const { return exttest::ReadLocal(U8Path(User->Install + "PermanentModule.log")); }

    std::unique_ptr<TOnlineUser> User;
    std::unique_ptr<TvrqmodPermanent> Module;
    std::mutex Lock;
    std::vector<std::string> Launched;
};

// ---- Connection check

TEST_F(PermanentModule, ConnectionCheckAsATable)
{
    SetTrayStartPause(0);
    const std::string exe = User->Install + "Sendrake.exe";
    struct Row {
        bool running, connected, result;
        int traysAfter;  // running stand-ins once the check is done
    } rows[] = {
        {true, true, true, 1},
        {true, false, false, 2},   // a second start: the real program's single instance then shows the first
        {false, true, false, 1},
        {false, false, false, 1},
    };
    for (const auto& row : rows) {
        User->StopTray();
        User->StopAllTrays();
        if (row.running)
            User->StartTray();
        SetConnected(row.connected);
        SetTrayStartPause(0);
        EXPECT_EQ(Module->CheckMainAppConnection(), row.result) << row.running << row.connected;
        for (int i = 0; i < 40 && TOnlineUser::CountTrayProcesses(exe) < row.traysAfter; ++i)
            Sleep(50);
        EXPECT_EQ(TOnlineUser::CountTrayProcesses(exe), row.traysAfter) << row.running << row.connected;
    }
    User->StopTray();
    User->StopAllTrays();
    // Nothing is shown; one ERROR line per start.
    EXPECT_NE(Log().find("CheckMainAppConnection: Verbindung zu Tandrel Sendrake fehlgeschlagen."), std::string::npos);
}

TEST_F(PermanentModule, AFailedCheckStartsTheTrayProgramOnceInAFewSeconds)
{
    const std::string exe = User->Install + "Sendrake.exe";
    User->StopTray();
    SetConnected(false);
    SetTrayStartPause(5000);
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(Children().empty());
        EXPECT_FALSE(Module->CheckMainAppConnection());
    }
    Sleep(500);
    EXPECT_EQ(TOnlineUser::CountTrayProcesses(exe), 1);
    // Once the user has connected, the next attempt works.
    SetConnected(true);
    EXPECT_TRUE(Module->CheckMainAppConnection());
    EXPECT_FALSE(Children().empty());
}

TEST_F(PermanentModule, TheTrayProgramStartsThroughTheShellAndAFailedStartIsTold)
{
    struct TCall {
        std::string Verb, File, Parameters;
    };
    std::vector<TCall> calls;
    DWORD refusal = 0;   // 0: the start works
    SetShellExecuteSeam([&](SHELLEXECUTEINFOW& info) {
        calls.push_back({WideToUtf8(info.lpVerb), WideToUtf8(info.lpFile),
                         info.lpParameters ? WideToUtf8(info.lpParameters) : std::string("<none>")});
        SetLastError(refusal);
        return refusal == 0;
    });
    User->StopTray();
    SetConnected(false);
    struct Row {
        const char* what;
        DWORD refusal;
        bool userActed;
        bool told;
    } rows[] = {
        {"started by a command", 0, true, false},
        {"prompt refused, by a command", ERROR_CANCELLED, true, true},
        {"start failed, by a command", ERROR_FILE_NOT_FOUND, true, true},
        {"prompt refused, Explorer asking", ERROR_CANCELLED, false, false},
    };
    for (const Row& row : rows) {
        calls.clear();
        refusal = row.refusal;
        SetTrayStartPause(0);
        TvrqScriptedAnswers answers({});
        const std::string logBefore = Log();
        EXPECT_FALSE(Module->CheckMainAppConnection(row.userActed)) << row.what;
        ASSERT_EQ(calls.size(), 1u) << row.what;
        EXPECT_EQ(calls[0].Verb, "open") << row.what;
        EXPECT_EQ(calls[0].File, User->Install + "Sendrake.exe") << row.what;
        EXPECT_EQ(calls[0].Parameters, "<none>") << row.what;
        const std::string logged = Log().substr(logBefore.size());
        EXPECT_EQ(logged.find("shl_StartExe (\"" + User->Install + "Sendrake.exe\") failed: ") != std::string::npos,
                  row.refusal != 0)
            << row.what << logged;
        if (row.told) {
            ASSERT_EQ(answers.Asked.size(), 1u) << row.what;
            EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
            EXPECT_EQ(answers.Asked[0].Text,
                      "Tandrel Sendrake konnte nicht gestartet werden: " + SysErrorMessage(row.refusal))
                << row.what;
        } else {
            EXPECT_TRUE(answers.Asked.empty()) << row.what;
        }
    }
    // A command of the user asks through the same check: the send-to item with the start refused.
    refusal = ERROR_CANCELLED;
    SetTrayStartPause(0);
    calls.clear();
    {
        TvrqScriptedAnswers answers({});
        TvrqmodMain main(vrqmodMainClass);
        EXPECT_FALSE(main.sxVrqContextPopup_SendToClick({User->Install + "Sendrake.exe"}));
        EXPECT_EQ(calls.size(), 1u);
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_NE(answers.Asked[0].Text.find("Tandrel Sendrake"), std::string::npos);
    }
    SetShellExecuteSeam(nullptr);
}

// ---- Populate and presentation

TEST_F(PermanentModule, PopulateGivesTheMirrorsItemsWithTheirValues)
{
    auto root = Children();
    std::set<std::string> names;
    for (auto& g : root)
        names.insert(g->Name);
    const auto& expected = exttest::RootNames();
    EXPECT_EQ(names, std::set<std::string>(expected.begin(), expected.end()));
    for (auto& g : root) {
        const bool isFolder = !g->IsFile;
        const std::string path = g->GetValue("vFilePath"), cache = g->GetValue("vCacheName");
        EXPECT_EQ(path, User->Cache + g->Name + (isFolder ? "\\" : "")) << g->Name;
        EXPECT_EQ(cache.rfind(User->Cache, 0), 0u) << g->Name;
        EXPECT_EQ(cache.back() == '\\', isFolder) << g->Name;
        bool allowDelete = false, allowRename = false;
        Module->sxVrqProvider.OnQueryDeleteGrain(Module->sxVrqProvider, *g, allowDelete);
        Module->sxVrqProvider.OnQueryRenameGrain(Module->sxVrqProvider, *g, allowRename);
        const bool isProtected = g->Name == "Gelöschte Dateien" || g->Name == "Neue Dateianlagen";
        EXPECT_EQ(allowDelete, !isProtected) << g->Name;
        EXPECT_EQ(allowRename, !isProtected) << g->Name;
        TSxPrepareIconParams params;
        Module->sxVrqProviderPrepareGrainApperance(*g, params);
        const bool special = isProtected || g->Name == "Meine Bilder";
        EXPECT_EQ(params.UseSystemIcon, !special) << g->Name;
        if (special) {
            int32_t icon = -1, open = -1;
            Module->sxVrqProviderGetIcon(*g, icon, open);
            EXPECT_EQ(icon, g->Name == "Gelöschte Dateien" ? 0 : g->Name == "Neue Dateianlagen" ? 1 : 2);
            EXPECT_EQ(open, icon);
        }
    }
    // The deep folder and the protected one below another folder.
    auto deep = Grain("Fotos/Urlaub 2024");
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->GetValue("vFilePath"), User->Cache + "Fotos\\Urlaub 2024\\");
    EXPECT_EQ(Names(deep.get()), std::set<std::string>{"Tag 1.jpg"});
    // Every special folder has its icon in both lists, at its index.
    EXPECT_EQ(Module->imgFolderIconListBig.Count(), 4);
    EXPECT_EQ(Module->imgFolderIconListSmall.Count(), 4);
}

TEST_F(PermanentModule, PopulateSkipsThumbnailsFolderRecordsAndDamagedRecordsOnly)
{
    // A ".thumb" mirror folder, a folder named like it but longer, and a record cut short.
    const std::string cache = User->Cache;
    CreateDirectoryW(Utf8ToWide(cache + TVirtualFileStorage::EncodePath(".thumb")).c_str(), nullptr);
    CreateDirectoryW(Utf8ToWide(cache + TVirtualFileStorage::EncodePath(".thumbnails")).c_str(), nullptr);
    exttest::WriteLocal(U8Path(cache + "kaputt.txt"), std::string(100, 'k'));
    auto names = Names();
    EXPECT_EQ(names.count(".thumb"), 0u);
    EXPECT_EQ(names.count(".thumbnails"), 1u);
    EXPECT_EQ(names.count("Thumbs.db"), 0u);
    EXPECT_EQ(names.count("my.thumbs"), 1u);
    EXPECT_EQ(names.count("Urlaub.thumb.jpg.txt"), 1u);
    EXPECT_EQ(names.count("readme.txt"), 1u);
    EXPECT_NE(Log().find("Populate: "), std::string::npos);
    // A missing mirror directory gives an empty list and an ERROR line.
    auto fotos = Grain("Fotos");
    ASSERT_TRUE(fotos);
    fotos->SetValue("vCacheName", cache + "4E49434854\\");
    EXPECT_TRUE(Children(fotos.get()).empty());
}

TEST_F(PermanentModule, FileInformationInfoTipAndValidity)
{
    auto notes = Grain("Fotos/Notizen.txt");
    ASSERT_TRUE(notes);
    TSxFileInfoDescriptor info;
    Module->sxVrqProviderGetGrainFileInfo(*notes, info);
    EXPECT_EQ(info.DisplayName, "Notizen.txt");
    EXPECT_EQ(info.Size, 1000u);
    EXPECT_FALSE(info.IsFolder);
    EXPECT_GT(info.LastWriteTime, 40000.0);
    EXPECT_EQ(info.CreationTime, info.LastWriteTime);

    std::string tip;
    Module->sxVrqProviderGetInfoTip(*notes, tip);
    const TVirtualFileRecord record = Module->ReadRecord(notes->GetValue("vCacheName"));
    EXPECT_EQ(tip.substr(0, 5), "Typ: ");
    EXPECT_NE(tip.find("\r\nGeändert am: " + DateTimeToText(record.LastModified) + "\r\nGröße: "), std::string::npos);
    auto fotos = Grain("Fotos");
    Module->sxVrqProviderGetInfoTip(*fotos, tip);
    EXPECT_EQ(tip, "Fotos");

    // A folder's information: its name and the folder flag, never "deleted" while it is there.
    TSxFileInfoDescriptor folderInfo;
    Module->sxVrqProviderGetGrainFileInfo(*fotos, folderInfo);
    EXPECT_TRUE(folderInfo.IsFolder);
    EXPECT_EQ(folderInfo.DisplayName, "Fotos");

    auto root = Module->sxVrqProvider.CreateRootGrain();
    bool valid = false;
    Module->sxVrqProviderValidateDataGrain(*notes, valid);
    EXPECT_TRUE(valid);
    DeleteFileW(Utf8ToWide(notes->GetValue("vCacheName")).c_str());
    Module->sxVrqProviderValidateDataGrain(*notes, valid);
    EXPECT_FALSE(valid);
    Module->sxVrqProviderValidateDataGrain(*fotos, valid);
    EXPECT_TRUE(valid);
}

TEST_F(PermanentModule, AUserRenameOfTheFolderIsWrittenBack)
{
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CLSID\\"
                             L"{0738049E-478C-4D6D-B004-A767178A297C}";
    TRegKey handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, handle.put(),
                              nullptr),
              ERROR_SUCCESS);
    const std::wstring renamed = L"Mein Speicher";
    RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(renamed.c_str()),
                   static_cast<DWORD>((renamed.size() + 1) * 2));
    Children();
    wchar_t value[256] = {};
    DWORD size = sizeof value;
    RegQueryValueExW(handle.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    EXPECT_EQ(WideToUtf8(value), "Tandrel Vaultmere");
    handle.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// ---- Open

TEST_F(PermanentModule, OpenDownloadsOnceWritesTheSidecarAndStartsTheProgram)
{
    // Two "a.txt" of two folders.
    TOnlineUser::Dav().WriteFile(User->Srv("Fotos/a.txt"), "Fotos-Inhalt");
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/a.txt"), "Dokumente-Inhalt");
    ASSERT_TRUE(User->Login());
    std::string command, parameters, directory;
    std::vector<std::string> locals;
    for (const char* path : {"Fotos/a.txt", "Dokumente/a.txt"}) {
        auto grain = Grain(path);
        ASSERT_TRUE(grain) << path;
        const size_t mark = TOnlineUser::Dav().LogMark();
        Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
        EXPECT_TRUE(command.empty() && parameters.empty() && directory.empty());
        auto requests = Requests(mark, 1);
        auto all = Requests(mark, 2, 400);
        ASSERT_EQ(all.size(), 1u) << path;
        EXPECT_EQ(all[0].Method, "GET");
        EXPECT_EQ(all[0].Status, 200);
        const std::string local = Module->OpenFileOf(TVirtualFileStorage::DecodePath("") +
                                                     (std::string(path) == "Fotos/a.txt" ? "Fotos\\a.txt" : "Dokumente\\a.txt"));
        locals.push_back(local);
        EXPECT_EQ(exttest::ReadLocal(U8Path(local)), std::string(path) == "Fotos/a.txt" ? "Fotos-Inhalt" : "Dokumente-Inhalt");
        // The sidecar is the item's 800-byte mirror record.
        EXPECT_EQ(exttest::ReadLocal(U8Path(local + ".sxc")), exttest::ReadLocal(U8Path(grain->GetValue("vCacheName"))));
        EXPECT_EQ(exttest::ReadLocal(U8Path(local + ".sxc")).size(), 800u);
    }
    EXPECT_NE(locals[0], locals[1]);
    ASSERT_EQ(Launched.size(), 2u);
    EXPECT_EQ(Launched[0], "rundll32.exe url.dll,FileProtocolHandler \"" + locals[0] + "\"");
    // A second open replaces the document with the server's bytes again.
    TOnlineUser::Dav().WriteFile(User->Srv("Fotos/a.txt"), "neu");
    auto grain = Grain("Fotos/a.txt");
    Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
    EXPECT_EQ(exttest::ReadLocal(U8Path(locals[0])), "neu");
    EXPECT_EQ(Launched.size(), 3u);
}

// A record that still names an older place (a mirror that could not follow a move, an older
// listing): the sidecar names the place the document came from, so that its save goes back there.
TEST_F(PermanentModule, TheSidecarNamesThePlaceTheDocumentCameFrom)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Fotos/a.txt"), "Fotos-Inhalt");
    ASSERT_TRUE(User->Login());
    auto grain = Grain("Fotos/a.txt");
    ASSERT_TRUE(grain);
    const std::string recordFile = grain->GetValue("vCacheName");
    const std::string bytes = exttest::ReadLocal(U8Path(recordFile));
    TVirtualFileRecord stale = RecordFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    stale.Path = "Archiv";
    stale.Name = "alt.txt";
    const auto staleBytes = RecordToBytes(stale);
    exttest::WriteLocal(U8Path(recordFile), std::string(staleBytes.begin(), staleBytes.end()));
    std::string command, parameters, directory;
    Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
    const std::string local = Module->OpenFileOf("Fotos\\a.txt");
    ASSERT_EQ(exttest::ReadLocal(U8Path(local)), "Fotos-Inhalt");
    const std::string sidecar = exttest::ReadLocal(U8Path(local + ".sxc"));
    ASSERT_EQ(sidecar.size(), 800u);
    const TVirtualFileRecord written = RecordFromBytes(reinterpret_cast<const uint8_t*>(sidecar.data()), sidecar.size());
    EXPECT_EQ(written.Path, "Fotos");
    EXPECT_EQ(written.Name, "a.txt");
    EXPECT_EQ(written.Size, stale.Size);
    EXPECT_TRUE(shl_OpenDocumentSent(local));
    EXPECT_EQ(Launched.size(), 1u);
}

// A document saved here whose upload failed (or that the tray program never saw) holds the user's
// work: opening the item again, and emptying the working folders, keep it.
TEST_F(PermanentModule, ADocumentChangedHereAndNotYetSentSurvivesASecondOpenAndTheEmptying)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Fotos/a.txt"), "Server 1");
    ASSERT_TRUE(User->Login());
    std::string command, parameters, directory;
    auto grain = Grain("Fotos/a.txt");
    ASSERT_TRUE(grain);
    Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
    const std::string local = Module->OpenFileOf("Fotos\\a.txt");
    ASSERT_EQ(exttest::ReadLocal(U8Path(local)), "Server 1");
    // As it came from the server: nothing for the tray program to send.
    EXPECT_TRUE(shl_OpenDocumentSent(local));

    Sleep(20);
    exttest::WriteLocal(U8Path(local), "lokal geändert");
    ASSERT_FALSE(shl_OpenDocumentSent(local));
    TOnlineUser::Dav().WriteFile(User->Srv("Fotos/a.txt"), "Server 2");
    const size_t mark = TOnlineUser::Dav().LogMark();
    Launched.clear();
    Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
    EXPECT_EQ(exttest::ReadLocal(U8Path(local)), "lokal geändert");
    EXPECT_TRUE(exttest::LocalExists(local + ".sxc"));
    EXPECT_TRUE(Requests(mark, 1, 400).empty()) << "nothing fetched over the changed copy";
    ASSERT_EQ(Launched.size(), 1u);
    EXPECT_EQ(Launched[0], "rundll32.exe url.dll,FileProtocolHandler \"" + local + "\"");

    EmptyWorkingFolders(TApplicationEnviroment());
    EXPECT_EQ(exttest::ReadLocal(U8Path(local)), "lokal geändert");
    EXPECT_TRUE(exttest::LocalExists(local + ".sxc"));

    // Once the server has it (the tray program marks it so), a later open fetches the server's bytes.
    ASSERT_TRUE(shl_MarkOpenDocumentSent(local, shl_FileLastWrite(local)));
    Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
    EXPECT_EQ(exttest::ReadLocal(U8Path(local)), "Server 2");
    EXPECT_TRUE(shl_OpenDocumentSent(local));
    // Saved after the clock went back: earlier than the mark, and still a change.
    ASSERT_TRUE(shl_SetFileLastWrite(local, shl_FileLastWrite(local) - 5 * 10000000ULL));
    EXPECT_FALSE(shl_OpenDocumentSent(local));
}

TEST_F(PermanentModule, AnOpenThatFailsWritesNothingStartsNothingAndTellsTheUser)
{
    auto grain = Grain("Dokumente/a b#c.txt");
    ASSERT_TRUE(grain);
    const std::string local = Module->OpenFileOf("Dokumente\\a b#c.txt");
    const std::string canned500 = TOnlineUser::Dav().Canned("ext500", "500 Internal Server Error", "text/plain", "kaputt");
    const std::string cannedSlow = TOnlineUser::Dav().Canned("extslow", "200 OK", "text/plain", "spät", 4);
    struct Row {
        const char* name;
        std::function<void()> arrange;
        bool warned;
    } rows[] = {
        {"401", [&] { WriteRegistryString("Connection", "password", EncryptPassword("falsch")); }, true},
        {"500", [&] { WriteRegistryString("Connection", "host", canned500); }, true},
        {"cancel", [&] { WriteRegistryString("Connection", "host", cannedSlow); }, false},
        {"404", [&] { DeleteFileW(TOnlineUser::Dav().Local(User->Srv("Dokumente/a b#c.txt")).wstring().c_str()); }, true},
    };
    for (const auto& row : rows) {
        // Each row starts from the user's own settings and a fresh mirror of the item.
        WriteRegistryString("Connection", "host", User->Host);
        WriteRegistryString("Connection", "password", EncryptPassword(TOnlineUser::Dav().Password));
        row.arrange();
        std::atomic<bool> done{false};
        std::thread canceller;
        if (std::string(row.name) == "cancel") {
            canceller = std::thread([&] {
                for (int i = 0; i < 100 && !done; ++i) {
                    HWND window = FindWindowW(nullptr, Utf8ToWide(Txt(87)).c_str());
                    if (window && GetDlgItem(window, IDCANCEL)) {
                        Sleep(300);
                        SendMessageW(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
                        return;
                    }
                    Sleep(50);
                }
            });
        }
        TvrqScriptedAnswers answers({});
        std::string command, parameters, directory;
        Launched.clear();
        Module->sxVrqProviderGrainOpen(*grain, command, parameters, directory);
        done = true;
        if (canceller.joinable())
            canceller.join();
        const std::string slot = Module->OpenFileOf("Dokumente\\a b#c.txt");
        EXPECT_FALSE(exttest::LocalExists(slot)) << row.name;
        EXPECT_FALSE(exttest::LocalExists(slot + ".sxc")) << row.name;
        EXPECT_TRUE(Launched.empty()) << row.name;
        ASSERT_EQ(answers.Asked.size(), row.warned ? 1u : 0u) << row.name;
        if (row.warned) {
            EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
            EXPECT_NE(answers.Asked[0].Text.find("konnte nicht geöffnet werden"), std::string::npos);
        }
    }
}

TEST_F(PermanentModule, FileContentsOfADragOutFailWhenTheDownloadFails)
{
    auto grain = Grain("Fotos/Notizen.txt");
    ASSERT_TRUE(grain);
    TSxMemoryStream stream;
    Module->sxVrqProviderGetGrainFileContents(*grain, stream);
    std::string bytes(static_cast<size_t>(stream.GetSize()), '\0');
    stream.SetPosition(0);
    bytes.resize(stream.Read(bytes.data(), bytes.size()));
    EXPECT_EQ(bytes, exttest::SeededText("Fotos/Notizen.txt"));
    DeleteFileW(TOnlineUser::Dav().Local(User->Srv("Fotos/Notizen.txt")).wstring().c_str());
    TSxMemoryStream empty;
    EXPECT_THROW(Module->sxVrqProviderGetGrainFileContents(*grain, empty), std::exception);
    EXPECT_EQ(empty.GetSize(), 0u);
}

TEST_F(PermanentModule, FileContentsOfEachPictureAreThatPicturesBytes)
{
    // The seeded pictures differ only in their bytes: a mix-up of two items shows here.
    for (const char* name : {"Fotos/Strand 1.jpg", "Fotos/Düne #2.jpg", "Fotos/富士山.jpg", "Fotos/Urlaub 2024/Tag 1.jpg"}) {
        auto grain = Grain(name);
        ASSERT_TRUE(grain) << name;
        TSxMemoryStream stream;
        Module->sxVrqProviderGetGrainFileContents(*grain, stream);
        std::string bytes(static_cast<size_t>(stream.GetSize()), '\0');
        stream.SetPosition(0);
        bytes.resize(stream.Read(bytes.data(), bytes.size()));
        EXPECT_TRUE(bytes == TOnlineUser::Dav().Picture(User->Srv(name))) << name;
    }
}

// ---- Thumbnails

TEST_F(PermanentModule, ThumbnailsAreFetchedOncePerFolderAndKeptPerServerPath)
{
    // The same picture name in two folders.
    TOnlineUser::Dav().PutPicture(User->Srv("Fotos/Urlaub 2024/Strand 1.jpg"));
    ASSERT_TRUE(User->Login());
    auto beach = Grain("Fotos/Strand 1.jpg");
    ASSERT_TRUE(beach);
    const size_t mark = TOnlineUser::Dav().LogMark();
    HBITMAP thumb = nullptr;
    Module->sxVrqProviderGetDataGrainThumb(*beach, thumb);
    ASSERT_TRUE(thumb);
    BITMAP info{};
    GetObjectW(thumb, sizeof info, &info);
    EXPECT_GT(info.bmWidth, 10);
    EXPECT_LE(info.bmWidth, 96);
    DeleteObject(thumb);
    // One CREATETHUMBNAIL and one GET of its ".thumb" picture for each of the folder's three
    // pictures; nothing for the text file or the sub-folder.
    auto requests = Requests(mark, 6);
    std::multiset<std::string> seen;
    for (const auto& r : requests)
        seen.insert(r.Method + " " + r.Path.substr(User->Prefix().size()));
    const std::multiset<std::string> expected = {
        "CREATETHUMBNAIL Fotos/Strand 1.jpg",        "GET Fotos/.thumb/Strand 1.jpg.thumb.jpg",
        "CREATETHUMBNAIL Fotos/Düne #2.jpg",         "GET Fotos/.thumb/Düne #2.jpg.thumb.jpg",
        "CREATETHUMBNAIL Fotos/富士山.jpg",          "GET Fotos/.thumb/富士山.jpg.thumb.jpg",
    };
    EXPECT_EQ(seen, expected);
    for (const auto& r : requests)
        EXPECT_EQ(r.Status / 100, 2) << r.Method << " " << r.Path;
    // Later requests find the bitmap locally.
    const size_t again = TOnlineUser::Dav().LogMark();
    auto dune = Grain("Fotos/Düne #2.jpg");
    thumb = nullptr;
    Module->sxVrqProviderGetDataGrainThumb(*dune, thumb);
    EXPECT_TRUE(thumb);
    DeleteObject(thumb);
    EXPECT_TRUE(Requests(again, 1, 400).empty());
    // The other folder's "Strand 1.jpg" has a thumbnail of its own.
    EXPECT_NE(Module->ThumbBitmapOf("Fotos\\Strand 1.jpg"), Module->ThumbBitmapOf("Fotos\\Urlaub 2024\\Strand 1.jpg"));
    EXPECT_FALSE(exttest::LocalExists(Module->ThumbBitmapOf("Fotos\\Urlaub 2024\\Strand 1.jpg")));
    // A text file: nothing fetched, no bitmap.
    const size_t text = TOnlineUser::Dav().LogMark();
    auto notes = Grain("Fotos/Notizen.txt");
    thumb = nullptr;
    Module->sxVrqProviderGetDataGrainThumb(*notes, thumb);
    EXPECT_EQ(thumb, nullptr);
    EXPECT_TRUE(Requests(text, 1, 400).empty());
}

// ---- Reload

TEST_F(PermanentModule, AFailedReloadKeepsTheFolderAndTellsTheUser)
{
    auto before = Names(Grain("Dokumente").get());
    ASSERT_FALSE(before.empty());
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/neu.txt"), "neu");
    DeleteFileW(TOnlineUser::Dav().Local(User->Srv("Dokumente/a b#c.txt")).wstring().c_str());
    {
        // The server answers 500: the folder keeps what it showed.
        const std::string host = User->Host;
        WriteRegistryString("Connection", "host",
                            TOnlineUser::Dav().Canned("ext500r", "500 Internal Server Error", "text/plain", "x"));
        TvrqScriptedAnswers answers({});
        EXPECT_FALSE(Module->ReloadFolder("Dokumente", true, -1));
        EXPECT_EQ(Names(Grain("Dokumente").get()), before);
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
        WriteRegistryString("Connection", "host", host);
    }
    // A complete listing replaces the folder's mirror: the new file comes, the deleted one goes.
    TvrqScriptedAnswers answers({});
    EXPECT_TRUE(Module->ReloadFolder("Dokumente", true, -1));
    auto after = Names(Grain("Dokumente").get());
    EXPECT_EQ(after.count("neu.txt"), 1u);
    EXPECT_EQ(after.count("a b#c.txt"), 0u);
    EXPECT_TRUE(answers.Asked.empty());
    // The other folders are untouched.
    EXPECT_EQ(Names(Grain("Fotos").get()).count("Notizen.txt"), 1u);
}

TEST_F(PermanentModule, AReloadTellsTheFoldersOpenViewsAndNoWindowGetsAKeyStroke)
{
    // The folder's root as a folder object gives it, and a view window of "Dokumente" registered
    // with the list that populate's own grain makes.
    const char rootBytes[] = "online folder root";
    TSxPidlPtr root(PIDLCreateItem(rootBytes, sizeof rootBytes));
    Module->sxVrqProvider.SetRootPidl(root.get());
    auto documents = Grain("Dokumente");
    ASSERT_TRUE(documents);
    TSxPidlPtr item = documents->GetItemID();
    TSxPidlPtr list(PIDLCombine(root.get(), item.get()));
    HWND view = CreateWindowExW(0, L"STATIC", L"view", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND focus = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(view && focus);
    SetForegroundWindow(focus);
    SetFocus(focus);
    RegisterShellView(TSxChangeNotifyType::cntLocal, list.get(), view);
    TvrqScriptedAnswers answers({});
    ASSERT_TRUE(Module->ReloadFolder("Dokumente", false, -1));
    std::vector<WPARAM> notices;
    MSG msg;
    while (PeekMessageW(&msg, view, SxShellChangeMessage, SxShellChangeMessage, PM_REMOVE))
        notices.push_back(msg.wParam);
    EXPECT_EQ(notices, std::vector<WPARAM>{SHCNE_UPDATEDIR});
    int keys = 0;
    while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE))
        ++keys;
    EXPECT_EQ(keys, 0);
    UnregisterShellView(view);
    DestroyWindow(view);
    DestroyWindow(focus);
}

// ---- The folder view's toolbar

TEST_F(PermanentModule, TheViewsToolbarHoldsRefreshASeparatorAndNewFolderOfThisModule)
{
    TvrqmodMain main(vrqmodMainClass);
    ASSERT_TRUE(main.sxVrqSysExplorerToolbar);
    EXPECT_EQ(main.sxVrqSysShellView->ExplorerToolbar, main.sxVrqSysExplorerToolbar);
    TFakeShellBrowser browser;
    TBBUTTON filled[4] = {};
    ASSERT_EQ(main.sxVrqSysExplorerToolbar->FillToolbarButtons({Module.get()}, &browser, filled, 4, 100), 3);
    EXPECT_EQ(filled[0].idCommand, 100);
    EXPECT_TRUE(filled[0].fsState & TBSTATE_ENABLED);
    EXPECT_EQ(filled[1].fsStyle, TBSTYLE_SEP);
    EXPECT_EQ(filled[2].idCommand, 102);
    EXPECT_TRUE(filled[2].fsState & TBSTATE_ENABLED);
    EXPECT_EQ(main.sxVrqSysExplorerToolbar->GetMenuItemByCommand(100), Module->miRefresh);
    EXPECT_EQ(main.sxVrqSysExplorerToolbar->GetMenuItemByCommand(102), Module->miNewFolder);
    EXPECT_EQ(main.sxVrqSysExplorerToolbar->GetMenuItemByCommand(103), nullptr);
    EXPECT_EQ(main.sxVrqStatusBar->Parts.at(0).Text, SX_VERSION_TEXT);
}

// ---- Properties

TEST_F(PermanentModule, PropertiesOfAFileAPictureAndAFolder)
{
    TSystemIcon icon;
    auto notes = Grain("Fotos/Notizen.txt");
    ASSERT_TRUE(notes);
    TElementProperties file = Module->ElementPropertiesOf(*notes, icon);
    EXPECT_EQ(file.Caption, "Eigenschaften von Notizen.txt");
    EXPECT_EQ(file.Name, "Notizen.txt");
    EXPECT_EQ(file.FullName, User->Host + "/Fotos/Notizen.txt");
    EXPECT_EQ(file.Size, FormatByteSize(1000));
    EXPECT_EQ(file.TypeTitle, "Typ:");
    EXPECT_FALSE(file.ShowDetails);
    EXPECT_TRUE(file.Icon);

    // A picture: the details page with the server's thumbnail, fetched when missing.
    auto beach = Grain("Fotos/Strand 1.jpg");
    TElementProperties picture = Module->ElementPropertiesOf(*beach, icon);
    EXPECT_TRUE(picture.ShowDetails);
    EXPECT_TRUE(exttest::LocalExists(picture.PreviewFile));

    // A folder: its whole tree counted, with 64-bit sums.
    // Every seeded picture is as long as every other one.
    const auto sample = static_cast<int64_t>(TOnlineUser::Dav().Picture(User->Srv("Fotos/Strand 1.jpg")).size());
    auto fotos = Grain("Fotos");
    TElementProperties folder = Module->ElementPropertiesOf(*fotos, icon);
    EXPECT_EQ(folder.Type, "Ordner");
    EXPECT_EQ(folder.Size, FormatByteSize(4 * sample + 1000) + " (1 Ordner, 5 Datei(en))");
    EXPECT_EQ(folder.FullName, User->Host + "/Fotos");
    TElementProperties trash = Module->ElementPropertiesOf(*Grain("Gelöschte Dateien"), icon);
    EXPECT_EQ(trash.Size, FormatByteSize(1000) + " (0 Ordner, 1 Datei(en))");
    EXPECT_TRUE(trash.Icon);
}

// Files of 3 and 5 GiB (sparse on the server's disk): their sizes, past 32 bits, whole in the
// record, the size column, the info tip, the properties dialog, the folder page's statistics and
// the file descriptor of a drag out.
TEST_F(PermanentModule, SizesOf3And5GiBAreWholeEverywhere)
{
    const int64_t three = 3221225472, five = 5368709120;
    for (const auto& [name, size] : {std::pair<const char*, int64_t>{"Gross/drei.iso", three}, {"Gross/fünf.iso", five}}) {
        TOnlineUser::Dav().WriteFile(User->Srv(name), "x");
        fs::resize_file(TOnlineUser::Dav().Local(User->Srv(name)), static_cast<uintmax_t>(size));
    }
    ASSERT_TRUE(User->Login());
    auto big = Grain("Gross/drei.iso"), bigger = Grain("Gross/fünf.iso");
    ASSERT_TRUE(big && bigger);
    EXPECT_EQ(Module->ReadRecord(big->GetValue("vCacheName")).Size, three);
    EXPECT_EQ(Module->ReadRecord(bigger->GetValue("vCacheName")).Size, five);

    TvrqmodMain main(vrqmodMainClass);
    ASSERT_TRUE(main.sxVrqNamespaceDetails);
    auto cell = [&](TSxCustomDataGrain& grain) {
        SHELLDETAILS details{};
        EXPECT_EQ(main.sxVrqNamespaceDetails->GetDetailsOf(&Module->sxVrqProvider, &grain, &details, 1), S_OK);
        std::string text = details.str.uType == STRRET_WSTR ? WideToUtf8(details.str.pOleStr) : std::string();
        if (details.str.uType == STRRET_WSTR)
            CoTaskMemFree(details.str.pOleStr);
        return text;
    };
    EXPECT_EQ(cell(*big), "3 145 728 KB");
    EXPECT_EQ(cell(*bigger), "5 242 880 KB");

    for (auto* grain : {big.get(), bigger.get()}) {
        const int64_t size = grain == big.get() ? three : five;
        SCOPED_TRACE(grain->Name);
        ASSERT_NE(FormatByteSize(size).find(" GB"), std::string::npos);
        std::string tip;
        Module->sxVrqProviderGetInfoTip(*grain, tip);
        const TVirtualFileRecord record = Module->ReadRecord(grain->GetValue("vCacheName"));
        EXPECT_EQ(tip, "Typ: " + shl_GetFileTypeName(grain->Name) + "\r\nGeändert am: " +
                           DateTimeToText(record.LastModified) + "\r\nGröße: " + FormatByteSize(size));
        TSystemIcon icon;
        EXPECT_EQ(Module->ElementPropertiesOf(*grain, icon).Size, FormatByteSize(size));
    }
    TSystemIcon icon;
    EXPECT_EQ(Module->ElementPropertiesOf(*Grain("Gross"), icon).Size,
              FormatByteSize(three + five) + " (0 Ordner, 2 Datei(en))");
    // The login's statistics: past 2 GiB, in a 64-bit value.
    const int64_t total = ReadRegistryInt64("Application", "size", 0);
    EXPECT_GT(total, three + five);
    EXPECT_EQ(MainPageValues().Size, FormatByteSize(total));

    // A drag out announces both sizes whole: FILEDESCRIPTORW's nFileSizeHigh and nFileSizeLow.
    TSxDataGrainList grains;
    grains.Add(big->Clone());
    grains.Add(bigger->Clone());
    const std::vector<uint8_t> block = Module->sxVrqProvider.BuildFileGroupDescriptor(grains, {}, true);
    ASSERT_GE(block.size(), 4 + 2 * sizeof(FILEDESCRIPTORW));
    const auto* group = reinterpret_cast<const FILEGROUPDESCRIPTORW*>(block.data());
    ASSERT_EQ(group->cItems, 2u);
    for (UINT i = 0; i < 2; ++i) {
        const FILEDESCRIPTORW& d = group->fgd[i];
        EXPECT_TRUE(d.dwFlags & FD_FILESIZE) << i;
        const uint64_t size = (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
        EXPECT_EQ(size, static_cast<uint64_t>(i == 0 ? three : five)) << i;
    }
    EXPECT_EQ(group->fgd[0].nFileSizeHigh, 0u);
    EXPECT_EQ(group->fgd[0].nFileSizeLow, 0xC0000000u);
    EXPECT_EQ(group->fgd[1].nFileSizeHigh, 1u);
    EXPECT_EQ(group->fgd[1].nFileSizeLow, 0x40000000u);
}

TEST_F(PermanentModule, ThePropertiesDialogShowsAndClosesWithOk)
{
    auto notes = Grain("Fotos/Notizen.txt");
    ASSERT_TRUE(notes);
    std::atomic<bool> seen{false};
    std::thread user([&] {
        for (int i = 0; i < 200; ++i) {
            HWND window = FindWindowW(nullptr, L"Eigenschaften von Notizen.txt");
            if (window && IsWindowVisible(window)) {
                seen = GetDlgItem(window, TfrmElementPropertySheet::SizeId) != nullptr;
                PostMessageW(window, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
                return;
            }
            Sleep(50);
        }
    });
    TSxCustomNamespacePropSheet* sheets = reinterpret_cast<TSxCustomNamespacePropSheet*>(1);
    Module->sxVrqProviderPreparePropertySheets(*notes, sheets);
    user.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(sheets, nullptr);
}

TEST_F(PermanentModule, TheFolderPageShowsTheLastRefreshsStatistics)
{
    // The login listing wrote them.
    TMainPageValues values = MainPageValues();
    EXPECT_EQ(values.Version, "Version " SX_VERSION_TEXT);
    EXPECT_EQ(values.FilesLabel, "Anzahl Dateien:");
    EXPECT_EQ(values.Files, std::to_string(ReadRegistryInteger("Application", "files", -1)));
    EXPECT_NE(values.Files, "0");
    // Before any full refresh: 0; a value in the wrong form: "?".
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake\\Application", L"files");
    WriteRegistryString("Application", "size", "viel");
    values = MainPageValues();
    EXPECT_EQ(values.Files, "0");
    EXPECT_EQ(values.Size, "?");
}

TEST_F(PermanentModule, EmptyingTheWorkingFoldersKeepsOpenDocumentsAndTheirSidecars)
{
    TApplicationEnviroment env;
    exttest::WriteLocal(U8Path(env.Temp + "sp1\\x.tmp"), "t");
    exttest::WriteLocal(U8Path(env.Thumb + "A.thumb.bmp"), "b");
    const std::string open = env.Open + "0123456789ABCDEF\\";
    exttest::WriteLocal(U8Path(open + "offen.txt"), "in Arbeit");
    exttest::WriteLocal(U8Path(open + "offen.txt.sxc"), std::string(800, 's'));
    exttest::WriteLocal(U8Path(open + "fertig.txt"), "fertig");
    exttest::WriteLocal(U8Path(open + "fertig.txt.sxc"), std::string(800, 's'));
    ASSERT_TRUE(shl_MarkOpenDocumentSent(open + "fertig.txt", shl_FileLastWrite(open + "fertig.txt")));
    exttest::WriteLocal(U8Path(open + "waise.txt.sxc"), std::string(800, 's'));
    // A program holds "offen.txt" as editors do: no one else may delete or write it.
    THandle held(CreateFileW(Utf8ToWide(open + "offen.txt").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const size_t mark = TOnlineUser::Dav().LogMark();
    EmptyWorkingFolders(env);
    EXPECT_TRUE(exttest::LocalExists(open + "offen.txt"));
    EXPECT_TRUE(exttest::LocalExists(open + "offen.txt.sxc"));
    EXPECT_FALSE(exttest::LocalExists(open + "fertig.txt"));
    EXPECT_FALSE(exttest::LocalExists(open + "fertig.txt.sxc"));
    EXPECT_FALSE(exttest::LocalExists(open + "waise.txt.sxc"));
    EXPECT_FALSE(exttest::LocalExists(env.Temp + "sp1"));
    EXPECT_TRUE(exttest::LocalExists(env.Temp));
    EXPECT_FALSE(exttest::LocalExists(env.Thumb + "A.thumb.bmp"));
    EXPECT_TRUE(exttest::LocalExists(env.Thumb));
    // The mirror stays, and the server heard nothing.
    EXPECT_FALSE(Children().empty());
    EXPECT_TRUE(Requests(mark, 1, 400).empty());
}

// ---- Send to "Neue Dateianlagen"

class SendTo : public PermanentModule {
protected:
    void SetUp() override
    {
        PermanentModule::SetUp();
        Main = std::make_unique<TvrqmodMain>(vrqmodMainClass);
        Local = User->Install + "Eigene Dateien\\";
        exttest::WriteLocal(U8Path(Local + "Brief an Jürgen.txt"), std::string(1000, 'b'));
        exttest::WriteLocal(U8Path(Local + "Rechnung #7.txt"), std::string(1000, 'r'));
        exttest::WriteLocal(U8Path(Local + "Projekt 2024\\Plan.txt"), std::string(1000, 'p'));
        exttest::WriteLocal(U8Path(Local + "Projekt 2024\\Tiefer\\Notiz ü.txt"), std::string(1000, 'n'));
    }
    void TearDown() override
    {
        Main.reset();
        PermanentModule::TearDown();
    }
    std::string Server(const std::string& path) const
    {
        return TOnlineUser::Dav().Exists(User->Srv(path)) ? TOnlineUser::Dav().ReadFile(User->Srv(path)) : "<none>";
    }
    std::unique_ptr<TvrqmodMain> Main;
    std::string Local;
};

TEST_F(SendTo, FilesAndAFolderGoIntoTheSendToFolderWhichIsMadeWhenMissing)
{
    RemoveDirectoryW(TOnlineUser::Dav().Local(User->Srv("Neue Dateianlagen")).wstring().c_str());
    ASSERT_FALSE(TOnlineUser::Dav().Exists(User->Srv("Neue Dateianlagen")));
    TvrqScriptedAnswers answers({});
    EXPECT_TRUE(Main->sxVrqContextPopup_SendToClick(
        {Local + "Brief an Jürgen.txt", Local + "Rechnung #7.txt", Local + "Projekt 2024"}));
    EXPECT_TRUE(answers.Asked.empty());
    EXPECT_EQ(Server("Neue Dateianlagen/Brief an Jürgen.txt"), std::string(1000, 'b'));
    EXPECT_EQ(Server("Neue Dateianlagen/Rechnung #7.txt"), std::string(1000, 'r'));
    EXPECT_EQ(Server("Neue Dateianlagen/Projekt 2024/Plan.txt"), std::string(1000, 'p'));
    EXPECT_EQ(Server("Neue Dateianlagen/Projekt 2024/Tiefer/Notiz ü.txt"), std::string(1000, 'n'));
    // The local files stay, and the folder's mirror shows what was sent.
    EXPECT_TRUE(exttest::LocalExists(Local + "Brief an Jürgen.txt"));
    EXPECT_EQ(Names(Grain("Neue Dateianlagen").get()),
              (std::set<std::string>{"Brief an Jürgen.txt", "Rechnung #7.txt", "Projekt 2024"}));
}

TEST_F(SendTo, AnExistingFileIsReplacedOnlyOnYesAndANoHoldsForItsItemOnly)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Neue Dateianlagen/Brief an Jürgen.txt"), "alt");
    TOnlineUser::Dav().WriteFile(User->Srv("Neue Dateianlagen/Rechnung #7.txt"), "alt");
    TvrqScriptedAnswers answers({mrNo, mrYes});
    EXPECT_TRUE(Main->sxVrqContextPopup_SendToClick({Local + "Brief an Jürgen.txt", Local + "Rechnung #7.txt"}));
    ASSERT_EQ(answers.Asked.size(), 2u);
    EXPECT_EQ(Server("Neue Dateianlagen/Brief an Jürgen.txt"), "alt");
    EXPECT_EQ(Server("Neue Dateianlagen/Rechnung #7.txt"), std::string(1000, 'r'));
}

TEST_F(SendTo, AnUploadTheServerRefusesReachesTheUser)
{
    // Below a base path ".../readonly" the server refuses every PUT.
    TOnlineUser::Dav().MakeFolder(User->Srv("readonly"));
    WriteRegistryString("Connection", "host", User->Host + "/readonly");
    TvrqScriptedAnswers answers({});
    EXPECT_FALSE(Main->sxVrqContextPopup_SendToClick({Local + "Brief an Jürgen.txt"}));
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_NE(answers.Asked[0].Text.find("Brief an Jürgen.txt"), std::string::npos);
    EXPECT_EQ(Server("readonly/Neue Dateianlagen/Brief an Jürgen.txt"), "<none>");
    EXPECT_TRUE(exttest::LocalExists(Local + "Brief an Jürgen.txt"));
}

TEST_F(SendTo, AnExistenceCheckTheServerCannotAnswerSendsNothingOverTheItem)
{
    // A file and a folder the server holds; a stand-in in front of it answers their existence check.
    TOnlineUser::Dav().WriteFile(User->Srv("Neue Dateianlagen/Brief an Jürgen.txt"), "alt");
    TOnlineUser::Dav().WriteFile(User->Srv("Neue Dateianlagen/Projekt 2024/Plan.txt"), "alt");
    davtest::TFaultProxy proxy(TOnlineUser::Dav().Port);
    WriteRegistryString("Connection", "host", proxy.Url("/dav/" + User->Box));
    struct TRow {
        std::string Item;        // the local name sent
        std::string KeptFile;    // a server file of that item, which keeps "alt"
    };
    bool secondFileThere = false;   // from the round before
    for (const TRow& row : {TRow{"Brief an Jürgen.txt", "Neue Dateianlagen/Brief an Jürgen.txt"},
                            TRow{"Projekt 2024", "Neue Dateianlagen/Projekt 2024/Plan.txt"}}) {
        const std::string item = User->Prefix() + "Neue Dateianlagen/" + row.Item;
        for (const auto fault : {davtest::TProbeFault::Forbidden, davtest::TProbeFault::ServerError,
                                 davtest::TProbeFault::Dropped}) {
            const std::string what = row.Item + " " + std::to_string(static_cast<int>(fault));
            proxy.Fail(item, fault);
            TvrqScriptedAnswers answers({mrYes, mrYes});
            const size_t mark = TOnlineUser::Dav().LogMark();
            const std::string mainLog = User->Install + "MainModule.log";
            const std::string logBefore = exttest::ReadLocal(U8Path(mainLog));
            EXPECT_FALSE(Main->sxVrqContextPopup_SendToClick({Local + row.Item, Local + "Rechnung #7.txt"})) << what;
            // The stopped item told, never asked to be replaced; the file after it asked (once an
            // earlier round sent it) and sent.
            std::vector<std::string> told;
            size_t replaceQuestions = 0;
            for (const auto& asked : answers.Asked) {
                if (asked.Kind == TvrqQuestionKind::WarningBox)
                    told.push_back(asked.Text);
                else
                    EXPECT_EQ(asked.Text.find(row.Item), std::string::npos) << what << ": " << asked.Text;
                replaceQuestions += asked.Kind != TvrqQuestionKind::WarningBox;
            }
            EXPECT_EQ(replaceQuestions, secondFileThere ? 1u : 0u) << what;
            secondFileThere = true;
            EXPECT_EQ(told, (std::vector<std::string>{FormatTableText(Txt(64), row.Item)})) << what;
            for (const auto& line : Requests(mark, 3)) {
                const bool write = line.Method == "PUT" || line.Method == "MKCOL" || line.Method == "DELETE";
                EXPECT_TRUE(!write || line.Path == User->Prefix() + "Neue Dateianlagen/Rechnung #7.txt")
                    << what << ": " << line.Method << " " << line.Path;
            }
            EXPECT_EQ(Server(row.KeptFile), "alt") << what;
            EXPECT_EQ(Server("Neue Dateianlagen/Rechnung #7.txt"), std::string(1000, 'r')) << what;
            EXPECT_NE(exttest::ReadLocal(U8Path(mainLog)).substr(logBefore.size()).find("SendToClick: the upload of"),
                      std::string::npos)
                << what;
        }
        proxy.Fail(item, davtest::TProbeFault::None);
    }
    EXPECT_GE(proxy.Faulted(), 6);
}

TEST_F(SendTo, WithoutTheTrayProgramNothingIsSent)
{
    User->StopTray();
    SetTrayStartPause(0);
    TvrqScriptedAnswers answers({});
    EXPECT_FALSE(Main->sxVrqContextPopup_SendToClick({Local + "Brief an Jürgen.txt"}));
    EXPECT_EQ(Server("Neue Dateianlagen/Brief an Jürgen.txt"), "<none>");
    User->StopAllTrays();
}

}  // namespace
