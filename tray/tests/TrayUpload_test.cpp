// Documents opened from the online folder and saved: uploaded once per save, told when the server
// refuses, and never lost at disconnect.
#include "TrayFixture.h"

#include "uGLBConst.h"
#include "uGLBShellTools.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"
#include "uTrayTexts.h"

#include <algorithm>
#include <fstream>

using namespace traytest;

namespace {

class TrayUploadTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        Box = Sandbox.substr(Sandbox.find_last_of('/') + 1);
        davtest::ApacheFixture::Instance().WriteFile(Box + "/Dokumente/Brief an Jörg.txt", "Fassung 1");
        Start();
        Login();
        ASSERT_EQ(ReadRegistryString("Connection", "connected", ""), "1");
        Local = Form->Environment->Open + "Brief an Jörg.txt";
    }

    // What the extension does when the user opens the file: download into the open folder and
    // write the sidecar with the file's record.
    void OpenDocument() { OpenDocumentAt(Local); }
    void OpenDocumentAt(const std::string& local, const std::string& folder = "Dokumente",
                        const std::string& name = "Brief an Jörg.txt")
    {
        CreateDirectoryW(Utf8ToWide(local.substr(0, local.find_last_of('\\'))).c_str(), nullptr);
        TWEBDAVClient client;
        TvrqDialog dialog;
        ASSERT_TRUE(client.Download(folder + "\\" + name, local, dialog));
        ASSERT_TRUE(WriteOpenSidecar(local, folder, name));
        PumpUntil([] { return false; }, 500);
    }
    // The download happened a while ago.
    void AgeSidecar() { AgeSidecarOf(Local); }
    void AgeSidecarOf(const std::string& local)
    {
        THandle h(CreateFileW(Utf8ToWide(local + ".sxc").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart -= 60ULL * 10000000ULL;
        FILETIME old{t.LowPart, t.HighPart};
        SetFileTime(h.get(), &old, &old, &old);
    }
    // The editor saves the document.
    void Save(const std::string& text)
    {
        THandle h(CreateFileW(Utf8ToWide(Local).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(bool(h));
        DWORD written = 0;
        WriteFile(h.get(), text.data(), DWORD(text.size()), &written, nullptr);
        SetEndOfFile(h.get());
    }
    std::string OnServer() const
    {
        return davtest::ApacheFixture::Instance().ReadFile(Box + "/Dokumente/Brief an Jörg.txt");
    }
    size_t Puts(size_t mark) const
    {
        auto lines = davtest::ApacheFixture::Instance().LogSince(mark, "/dav/" + Box, 0, 300);
        return size_t(std::count_if(lines.begin(), lines.end(), [](const davtest::TDavLogLine& l) { return l.Method == "PUT"; }));
    }

    std::string Box, Local;
};

TEST_F(TrayUploadTest, ASaveUploadsOnceAFreshDownloadDoesNotAndTwoQuickSavesBothArrive)
{
    auto& dav = davtest::ApacheFixture::Instance();
    size_t mark = dav.LogMark();
    OpenDocument();
    OpenDocument();   // opened again: the file and its sidecar are new together
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(Puts(mark), 0u) << "a download is no save";

    AgeSidecar();
    mark = dav.LogMark();
    Save("Fassung 2, geändert");
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 2, geändert"; }, 5000));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Puts(mark), 1u);

    // Two saves within one second, of the same size.
    mark = dav.LogMark();
    Save("Fassung 3, geändert");
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 3, geändert"; }, 5000));
    Save("Fassung 4, geändert");
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 4, geändert"; }, 5000));
    EXPECT_EQ(Puts(mark), 2u);

    // A change of the sidecar itself, and a file without one, upload nothing.
    mark = dav.LogMark();
    AgeSidecar();
    {
        std::ofstream(Utf8ToWide(Form->Environment->Open + "ohne Beiwagen.txt").c_str()) << "lokal";
    }
    PumpUntil([] { return false; }, 800);
    EXPECT_EQ(Puts(mark), 0u);
}

// The extension opens each document into a sub-folder of the open folder, made when the document
// is opened; an editor that saves by truncating and writing again changes the file in steps.
TEST_F(TrayUploadTest, ADocumentInASubFolderIsUploadedOncePerSave)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string local = Form->Environment->Open + "0123456789ABCDEF\\Brief an Jörg.txt";
    OpenDocumentAt(local);
    AgeSidecarOf(local);
    PumpUntil([] { return false; }, 500);
    const size_t mark = dav.LogMark();
    {
        THandle h(CreateFileW(Utf8ToWide(local).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(bool(h));
        const std::string text = "Fassung 2, im Unterordner";
        DWORD written = 0;
        for (size_t at = 0; at < text.size(); at += 5) {   // written in pieces, as it is typed out
            WriteFile(h.get(), text.data() + at, DWORD(std::min<size_t>(5, text.size() - at)), &written, nullptr);
            FlushFileBuffers(h.get());
            Sleep(20);
        }
    }
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 2, im Unterordner"; }, 8000)) << OnServer();
    PumpUntil([] { return false; }, 1500);
    EXPECT_EQ(Puts(mark), 1u);
}

TEST_F(TrayUploadTest, ARefusedUploadReachesTheUserAndDisconnectSendsOrKeepsTheDocument)
{
    OpenDocument();
    AgeSidecar();
    // The server refuses every request now.
    const std::string refusing = davtest::ApacheFixture::Instance().Canned("tray_refuse", "403 Forbidden", "text/plain", "nein");
    StoreString("Connection", "host", refusing);
    Save("Fassung 2, nicht angekommen");
    const int l = Form->Environment->Language;
    const std::string told = FormatText(TrayTxt(TTrayText::UploadFailed, l), "Brief an Jörg.txt");
    EXPECT_TRUE(PumpUntil([&] { return Form->sxTrayIcon.InfoText == told; }, 5000)) << Form->sxTrayIcon.InfoText;
    EXPECT_EQ(Form->sxTrayIcon.InfoFlags, TSxTrayIconInfoFlags::niifError);
    EXPECT_EQ(OnServer(), "Fassung 1");

    // Disconnect while the server still refuses: the document stays, and the user is told where.
    Form->btnConnectClick();
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "0");
    EXPECT_NE(Form->sxTrayIcon.InfoText.find(Form->Environment->Open), std::string::npos) << Form->sxTrayIcon.InfoText;
    EXPECT_TRUE(FileExistsAt(Local));
    EXPECT_FALSE(FolderExists(Form->Environment->Cache));

    // The next login sends it, without another save.
    StoreString("Connection", "host", Sandbox);
    const size_t mark = davtest::ApacheFixture::Instance().LogMark();
    Login();
    ASSERT_EQ(ReadRegistryString("Connection", "connected", ""), "1");
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 2, nicht angekommen"; }, 5000)) << OnServer();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Puts(mark), 1u);
    EXPECT_TRUE(shl_OpenDocumentSent(Local));
}

// Names with blanks, "#", "%", umlauts and CJK, and one name in two folders (two slots): each save
// reaches its own server file, once.
TEST_F(TrayUploadTest, EachSavedDocumentReachesItsOwnServerFileWhateverItsName)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const struct {
        const char *folder, *name, *slot;
    } rows[] = {
        {"Dokumente", "报告 #1 100%.txt", "1111111111111111"},
        {"Fotos", "报告 #1 100%.txt", "2222222222222222"},
        {"Dokumente", "Übersicht ä+ö (neu).txt", "1111111111111111"},
    };
    std::vector<std::string> locals;
    for (const auto& row : rows) {
        dav.WriteFile(Box + "/" + row.folder + "/" + row.name, "vom Server");
        locals.push_back(Form->Environment->Open + row.slot + "\\" + row.name);
        OpenDocumentAt(locals.back(), row.folder, row.name);
        AgeSidecarOf(locals.back());
    }
    PumpUntil([] { return false; }, 300);
    const size_t mark = dav.LogMark();
    for (size_t i = 0; i < locals.size(); ++i) {
        std::ofstream(Utf8ToWide(locals[i]).c_str(), std::ios::binary) << "Fassung " << i;
    }
    for (size_t i = 0; i < locals.size(); ++i) {
        const std::string server = Box + "/" + rows[i].folder + "/" + rows[i].name;
        EXPECT_TRUE(PumpUntil([&] { return dav.ReadFile(server) == "Fassung " + std::to_string(i); }, 8000))
            << server << ": " << dav.ReadFile(server);
    }
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Puts(mark), locals.size());
}

// Editors that save by renaming the document away and writing a new one in its place, or by
// writing a new file and renaming it over the document: one upload of the final bytes each.
TEST_F(TrayUploadTest, ASaveThatReplacesTheDocumentByAnotherFileIsUploadedOnce)
{
    auto& dav = davtest::ApacheFixture::Instance();
    OpenDocument();
    const std::wstring local = Utf8ToWide(Local);
    auto writeNew = [](const std::wstring& name, const std::string& text) {
        THandle h(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(bool(h));
        DWORD written = 0;
        WriteFile(h.get(), text.data(), DWORD(text.size()), &written, nullptr);
    };
    // Renamed away to a backup, the watcher sees the document gone, then the new one comes.
    size_t mark = dav.LogMark();
    ASSERT_TRUE(MoveFileW(local.c_str(), (local + L"~").c_str()));
    PumpUntil([] { return false; }, 600);
    writeNew(local, "Fassung 2, neu geschrieben");
    DeleteFileW((local + L"~").c_str());
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 2, neu geschrieben"; }, 5000)) << OnServer();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Puts(mark), 1u);

    // A new file renamed over the document.
    mark = dav.LogMark();
    writeNew(local + L".tmp4711", "Fassung 3, ersetzt");
    ASSERT_TRUE(MoveFileExW((local + L".tmp4711").c_str(), local.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(PumpUntil([&] { return OnServer() == "Fassung 3, ersetzt"; }, 5000)) << OnServer();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Puts(mark), 1u);

    // Everything is on the server: a disconnect sends nothing more.
    mark = dav.LogMark();
    Form->btnConnectClick();
    EXPECT_EQ(Puts(mark), 0u);
    EXPECT_FALSE(FolderExists(Form->Environment->Open));
}

TEST_F(TrayUploadTest, DisconnectUploadsAChangedDocumentBeforeItsFolderGoes)
{
    OpenDocument();
    AgeSidecar();
    // Saved while the watcher could not tell (the upload failed), then the server is back.
    const std::string refusing = davtest::ApacheFixture::Instance().Canned("tray_refuse2", "503 Service Unavailable", "text/plain", "später");
    StoreString("Connection", "host", refusing);
    Save("Fassung 2, beim Trennen gesendet");
    PumpUntil([&] { return !Form->sxTrayIcon.InfoText.empty() && Form->sxTrayIcon.InfoFlags == TSxTrayIconInfoFlags::niifError; }, 5000);
    StoreString("Connection", "host", Sandbox);
    Form->btnConnectClick();
    EXPECT_EQ(OnServer(), "Fassung 2, beim Trennen gesendet");
    EXPECT_FALSE(FolderExists(Form->Environment->Open));
    EXPECT_EQ(Form->sxTrayIcon.InfoText, Txt(101, Form->Environment->Language));
}

TEST_F(TrayUploadTest, ADocumentStillHeldByItsProgramIsKeptAtExit)
{
    OpenDocument();
    THandle held(CreateFileW(Utf8ToWide(Local).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(bool(held));
    TvrqScriptedAnswers answers({});
    Form->btnExitClick();
    held.reset();
    EXPECT_TRUE(FileExistsAt(Local));
    EXPECT_FALSE(FolderExists(UserPath + "Cache"));
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_NE(answers.Asked[0].Text.find("Open"), std::string::npos);
}

} // namespace
