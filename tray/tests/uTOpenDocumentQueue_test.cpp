// The upload queue of open documents on its own, without the main window: real documents with
// their sidecars in an open folder of the prefix, sent to the private WebDAV server.
#include "TrayFixture.h"

#include "TestFiles.h"

#include "uGLBCrypt.h"
#include "uGLBShellTools.h"
#include "uTOpenDocumentQueue.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"

#include <algorithm>
#include <fstream>

using namespace traytest;

namespace {

// Equal length, other bytes: an upload of the wrong file or of stale bytes shows.
const std::string ServerBytes = "Fassung 1 vom Server";
const std::string SavedBytes = "Fassung 2 gespeichert";
const std::string OtherBytes = "Fassung 3 ganz anders";

class OpenDocumentQueueTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        auto& dav = davtest::ApacheFixture::Instance();
        Box = Sandbox.substr(Sandbox.find_last_of('/') + 1);
        dav.ConnectClient(Sandbox, UserPath);
        Environment = std::make_unique<TApplicationEnviroment>();
        CreateDirectoryW(Utf8ToWide(UserPath).c_str(), nullptr);
        CreateDirectoryW(Utf8ToWide(Environment->Open).c_str(), nullptr);
        Logger = std::make_unique<TLogger>(-1, true, "QueueTest");
        Queue = std::make_unique<TOpenDocumentQueue>(*Environment, Dialog, *Logger, Watcher);
        Queue->OnUploadFailed = [this](const std::string& file) { Failed.push_back(file); };
        Queue->OnSent = [this] { ++Runs; };
    }
    void TearDown() override
    {
        Queue.reset();
        TrayTest::TearDown();
    }

    // What the extension does when the user opens a file: the download into a slot folder of the
    // open folder and the sidecar with the file's record, marked with the document's time.
    std::string OpenDocument(const std::string& folder, const std::string& name, const std::string& slot = "0001")
    {
        auto& dav = davtest::ApacheFixture::Instance();
        dav.WriteFile(Box + "/" + folder + "/" + name, ServerBytes);
        const std::string local = Environment->Open + slot + "\\" + name;
        CreateDirectoryW(Utf8ToWide(Environment->Open + slot).c_str(), nullptr);
        TWEBDAVClient client;
        EXPECT_TRUE(client.Download(folder + "\\" + name, local, Dialog));
        EXPECT_TRUE(WriteOpenSidecar(local, folder, name));
        return local;
    }
    // The editor saves: new bytes, a last-write time ten seconds after the download.
    static void Save(const std::string& local, const std::string& bytes)
    {
        const uint64_t before = shl_FileLastWrite(local);
        std::ofstream(Utf8ToWide(local).c_str(), std::ios::binary | std::ios::trunc) << bytes;
        ASSERT_TRUE(shl_SetFileLastWrite(local, before + 10ULL * 10000000ULL));
    }
    // The watcher's record of a change of the file: its last-write time moved, or only its
    // attributes.
    static TSxFileInfoEventData Event(const std::string& file, bool written = true)
    {
        TSxFileInfoEventData info;
        const std::wstring name = Utf8ToWide(file);
        std::copy(name.begin(), name.end(), info.FileName);
        info.LastWriteTicks = shl_FileLastWrite(file);
        info.OldLastWriteTicks = written ? info.LastWriteTicks - 10ULL * 10000000ULL : info.LastWriteTicks;
        info.OldAttributes = 0x20;
        return info;
    }
    std::string OnServer(const std::string& path) const { return davtest::ApacheFixture::Instance().ReadFile(Box + "/" + path); }
    std::vector<std::string> Puts(size_t mark) const
    {
        std::vector<std::string> paths;
        for (const auto& l : davtest::ApacheFixture::Instance().LogSince(mark, "/dav/" + Box, 0, 300))
            if (l.Method == "PUT")
                paths.push_back(l.Path.substr(("/dav/" + Box + "/").size()));
        return paths;
    }

    std::string Box;
    std::unique_ptr<TApplicationEnviroment> Environment;
    std::unique_ptr<TLogger> Logger;
    TvrqDialog Dialog;
    TSxChangeNotifier Watcher;
    std::unique_ptr<TOpenDocumentQueue> Queue;
    std::vector<std::string> Failed;
    int Runs = 0;
};

TEST_F(OpenDocumentQueueTest, ASaveGoesOnceToTheFolderAndNameOfItsSidecar)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string brief = OpenDocument("Dokumente", "Brief an Jörg.txt");
    const std::string notiz = OpenDocument("Notizen", "Brief an Jörg.txt", "0002");   // the same name elsewhere
    Save(brief, SavedBytes);
    size_t mark = dav.LogMark();
    Queue->FileChanged(Event(brief));
    EXPECT_EQ(Puts(mark), std::vector<std::string>{"Dokumente/Brief an Jörg.txt"});
    EXPECT_EQ(OnServer("Dokumente/Brief an Jörg.txt"), SavedBytes);
    EXPECT_EQ(OnServer("Notizen/Brief an Jörg.txt"), ServerBytes);
    EXPECT_TRUE(shl_OpenDocumentSent(brief)) << "the sidecar carries the time of the bytes sent";
    EXPECT_TRUE(Failed.empty());
    EXPECT_EQ(Runs, 1);
    EXPECT_FALSE(Queue->Sending());

    // The same event once more (the watcher saw the upload's own touch): nothing new goes.
    mark = dav.LogMark();
    Queue->FileChanged(Event(brief));
    EXPECT_TRUE(Puts(mark).empty());

    // A document kept from an earlier session goes when the watcher first sees it.
    Save(notiz, OtherBytes);
    mark = dav.LogMark();
    Queue->FileAdded(Event(notiz));
    EXPECT_EQ(Puts(mark), std::vector<std::string>{"Notizen/Brief an Jörg.txt"});
    EXPECT_EQ(OnServer("Notizen/Brief an Jörg.txt"), OtherBytes);
    EXPECT_EQ(OnServer("Dokumente/Brief an Jörg.txt"), SavedBytes);
}

TEST_F(OpenDocumentQueueTest, WhatIsNoSaveOfAnOpenDocumentSendsNothing)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string fresh = OpenDocument("Dokumente", "frisch.txt");
    const std::string touched = OpenDocument("Dokumente", "berührt.txt");
    Save(touched, SavedBytes);
    const std::string loose = Environment->Open + "0001\\ohne Beiwagen.txt";
    std::ofstream(Utf8ToWide(loose).c_str(), std::ios::binary) << SavedBytes;
    const struct {
        const char* what;
        TSxFileInfoEventData info;
        bool added;
    } rows[] = {
        {"a fresh download", Event(fresh), false},
        {"a fresh download seen first", Event(fresh), true},
        {"the sidecar itself", Event(fresh + ".sxc"), false},
        {"a file without a sidecar", Event(loose), false},
        {"a file without a sidecar seen first", Event(loose), true},
        {"attributes only", Event(touched, false), false},
    };
    const size_t mark = dav.LogMark();
    for (const auto& row : rows) {
        if (row.added)
            Queue->FileAdded(row.info);
        else
            Queue->FileChanged(row.info);
        EXPECT_EQ(Runs, 0) << row.what;
    }
    EXPECT_TRUE(Puts(mark).empty());
    EXPECT_EQ(OnServer("Dokumente/berührt.txt"), ServerBytes);
    EXPECT_TRUE(Failed.empty());
}

TEST_F(OpenDocumentQueueTest, ARefusedUploadIsReportedAndTheDocumentWaitsForTheFlush)
{
    const std::string local = OpenDocument("Dokumente", "Brief.txt");
    Save(local, SavedBytes);
    StoreString("Connection", "host", davtest::ApacheFixture::Instance().Canned("queue_refuse", "403 Forbidden", "text/plain", "nein"));
    Queue->FileChanged(Event(local));
    EXPECT_EQ(Failed, std::vector<std::string>{local});
    EXPECT_FALSE(shl_OpenDocumentSent(local)) << "not marked: the server does not have it";
    EXPECT_EQ(OnServer("Dokumente/Brief.txt"), ServerBytes);

    // Still refused at the flush: kept, and the folder with it.
    EXPECT_FALSE(Queue->Flush());
    EXPECT_TRUE(Queue->KeepsOpenFolder());
    EXPECT_EQ(OnServer("Dokumente/Brief.txt"), ServerBytes);

    // The server is back: the flush sends it, and the folder may go.
    StoreString("Connection", "host", Sandbox);
    const size_t mark = davtest::ApacheFixture::Instance().LogMark();
    EXPECT_TRUE(Queue->Flush());
    EXPECT_FALSE(Queue->KeepsOpenFolder());
    EXPECT_EQ(Puts(mark), std::vector<std::string>{"Dokumente/Brief.txt"});
    EXPECT_EQ(OnServer("Dokumente/Brief.txt"), SavedBytes);
    EXPECT_EQ(Failed.size(), 1u) << "the flush reports through its result, not the event";
}

TEST_F(OpenDocumentQueueTest, TheFlushStopsTheWatcherSendsWhatChangedAndKeepsWhatIsStillHeld)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string saved = OpenDocument("Dokumente", "gespeichert.txt");
    const std::string same = OpenDocument("Dokumente", "unverändert.txt", "0002");
    const std::string held = OpenDocument("Fotos", "offen.txt", "0003");
    Save(saved, SavedBytes);
    Save(held, OtherBytes);
    Watcher.Root = Environment->Open;
    Watcher.WatchSubtree = true;
    Watcher.Activate();
    ASSERT_TRUE(Watcher.Active());
    THandle program(CreateFileW(Utf8ToWide(held).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(bool(program));
    const size_t mark = dav.LogMark();
    EXPECT_FALSE(Queue->Flush());
    EXPECT_FALSE(Watcher.Active()) << "no save may slip in behind the flush";
    EXPECT_TRUE(Queue->KeepsOpenFolder());
    EXPECT_EQ(Puts(mark), std::vector<std::string>{"Dokumente/gespeichert.txt"});
    EXPECT_EQ(OnServer("Dokumente/gespeichert.txt"), SavedBytes);
    EXPECT_EQ(OnServer("Fotos/offen.txt"), ServerBytes);
    EXPECT_TRUE(shl_OpenDocumentSent(same));
    program.reset();
    EXPECT_TRUE(Queue->Flush());
    EXPECT_EQ(OnServer("Fotos/offen.txt"), OtherBytes);
}

// An upload pumps messages while it waits. A save let through then waits for its turn: the uploads
// never nest, the newest bytes go last, and the run ends once.
LRESULT CALLBACK SaveDuringUpload(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP) {
        auto* step = reinterpret_cast<std::function<void()>*>(lParam);
        (*step)();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(OpenDocumentQueueTest, ASaveDuringAnUploadWaitsForItsTurn)
{
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string first = OpenDocument("Dokumente", "erstes.txt");
    const std::string second = OpenDocument("Dokumente", "zweites.txt", "0002");
    Save(first, SavedBytes);
    Save(second, OtherBytes);
    WNDCLASSW cls{};
    cls.lpfnWndProc = SaveDuringUpload;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"QueueTestSaver";
    RegisterClassW(&cls);
    HWND saver = CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
    ASSERT_TRUE(saver);
    bool sendingThen = false, ranDuringUpload = false;
    std::function<void()> step = [&] {
        ranDuringUpload = true;
        sendingThen = Queue->Sending();
        Queue->FileChanged(Event(second));
    };
    PostMessageW(saver, WM_APP, 0, reinterpret_cast<LPARAM>(&step));
    const size_t mark = dav.LogMark();
    Queue->FileChanged(Event(first));
    DestroyWindow(saver);
    ASSERT_TRUE(ranDuringUpload) << "the upload pumped no message";
    EXPECT_TRUE(sendingThen);
    EXPECT_EQ(Runs, 1);
    EXPECT_EQ(Puts(mark), (std::vector<std::string>{"Dokumente/erstes.txt", "Dokumente/zweites.txt"}));
    EXPECT_EQ(OnServer("Dokumente/erstes.txt"), SavedBytes);
    EXPECT_EQ(OnServer("Dokumente/zweites.txt"), OtherBytes);
}

} // namespace
