// The folder watcher on real folders: what each kind of change reports, and how it stops.
#include "SxChangeNotifier.h"

#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

struct TEvent {
    char Kind;   // 'A' add, 'C' change, 'D' delete
    TSxFileInfoEventData Info;
    std::string Name() const
    {
        const std::string p = Info.Path();
        return p.substr(p.find_last_of('\\') + 1);
    }
};

std::wstring FreshFolder(const char* tag)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"sxwatch_" + Utf8ToWide(tag) + L"_" + std::to_wstring(GetCurrentProcessId()) +
                       L"_" + std::to_wstring(GetTickCount64());
    SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    return dir;
}

void WriteBytes(const std::wstring& file, const std::string& bytes)
{
    THandle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(bool(h)) << WideToUtf8(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
}

// One write over the start of an existing file: size and time change in one step.
void WriteInPlace(const std::wstring& file, const std::string& bytes)
{
    THandle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(bool(h)) << WideToUtf8(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
}

class Watcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        Folder = FreshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        W.Root = WideToUtf8(Folder);
        // As the tray program sets it up for its open folder.
        W.PersistentRoot = true;
        W.MaxLevels = 10000;
        W.MaxThreadCount = 10000;
        W.ChangeNotifyFilter = FncSet(fncFileName) | FncSet(fncSize) | FncSet(fncLastWrite) | FncSet(fncCreation);
        W.OnAddFile = [this](TSxChangeNotifier&, TSxFileInfoEventData& i) { Events.push_back({'A', i}); };
        W.OnChange = [this](TSxChangeNotifier&, TSxFileInfoEventData& i) { Events.push_back({'C', i}); };
        W.OnDelete = [this](TSxChangeNotifier&, TSxFileInfoEventData& i) { Events.push_back({'D', i}); };
    }
    void TearDown() override
    {
        W.Deactivate();
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(Folder), ec);
    }
    std::wstring Path(const std::wstring& name) const { return Folder + L"\\" + name; }

    // Pumps the thread's messages until `count` events are there or the time is up; then a little
    // longer, so that extra events would show.
    void WaitFor(size_t count, int timeoutMs = 5000, int settleMs = 300)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        auto pump = [] {
            MSG m;
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
        };
        while (Events.size() < count && std::chrono::steady_clock::now() < until) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            pump();
        }
        const auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(settleMs);
        while (std::chrono::steady_clock::now() < settle) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            pump();
        }
    }
    std::string Kinds() const
    {
        std::string s;
        for (const TEvent& e : Events)
            s += std::string(1, e.Kind) + ":" + e.Name() + " ";
        return s;
    }

    std::wstring Folder;
    TSxChangeNotifier W;
    std::vector<TEvent> Events;
};

TEST_F(Watcher, ExistingFilesAreAddedOnceAndUnchangedFilesStayQuiet)
{
    // Same size, same time, non-ASCII names: only the path tells them apart.
    for (const wchar_t* name : {L"Angebot Müller.docx", L"Angebot Möller.docx", L"Übersicht 2024.xlsx"})
        WriteBytes(Path(name), std::string(4096, 'x'));
    CreateDirectoryW(Path(L"Unterordner").c_str(), nullptr);
    WriteBytes(Path(L"Unterordner\\tief.txt"), "nicht beobachtet");
    W.Activate();
    WaitFor(3, 5000, 800);
    ASSERT_EQ(Events.size(), 3u) << Kinds();
    for (const TEvent& e : Events) {
        EXPECT_EQ(e.Kind, 'A');
        EXPECT_EQ(e.Info.Size, 4096u);
        EXPECT_EQ(e.Info.OldLastWriteTime, 0);
        EXPECT_GT(e.Info.LastWriteTime, 40000);   // a date-time value of this century
    }
}

// One row per kind of change: what the user does, and the events that must follow.
TEST_F(Watcher, EachKindOfChangeGivesItsEvents)
{
    const std::wstring doc = Path(L"Bericht Jörg.txt");
    WriteBytes(doc, "erste Fassung");
    WriteBytes(Path(L"bleibt.txt"), "erste Fassung");
    W.Activate();
    WaitFor(2);
    ASSERT_EQ(Events.size(), 2u) << Kinds();

    struct TRow {
        const char* What;
        std::function<void()> Do;
        std::string Expected;   // kinds and names, in order
    };
    const TRow rows[] = {
        {"save", [&] { WriteInPlace(doc, "zweite, längere Fassung"); }, "C:Bericht Jörg.txt "},
        // An editor's save in steps (truncated, written in pieces, the end set) is one change.
        {"save in steps",
         [&] {
             THandle h(CreateFileW(doc.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
             ASSERT_TRUE(bool(h));
             const std::string text = "dritte Fassung, in Stücken geschrieben";
             DWORD written = 0;
             for (size_t at = 0; at < text.size(); at += 8) {
                 WriteFile(h.get(), text.data() + at, DWORD(std::min<size_t>(8, text.size() - at)), &written, nullptr);
                 FlushFileBuffers(h.get());
                 Sleep(30);
             }
             SetEndOfFile(h.get());
         },
         "C:Bericht Jörg.txt "},
        // Written elsewhere and moved in whole, as a download arrives.
        {"add",
         [&] {
             WriteBytes(Folder + L".neu", "neu");
             ASSERT_TRUE(MoveFileW((Folder + L".neu").c_str(), Path(L"neu ä.txt").c_str()));
         },
         "A:neu ä.txt "},
        {"rename",
         [&] { ASSERT_TRUE(MoveFileW(Path(L"neu ä.txt").c_str(), Path(L"umbenannt ö.txt").c_str())); },
         "*D:neu ä.txt A:umbenannt ö.txt "},
        {"delete", [&] { ASSERT_TRUE(DeleteFileW(Path(L"umbenannt ö.txt").c_str())); }, "D:umbenannt ö.txt "},
        {"attributes only stay below the filter",
         [&] { SetFileAttributesW(Path(L"bleibt.txt").c_str(), FILE_ATTRIBUTE_READONLY); }, ""},
    };
    for (const TRow& row : rows) {
        Events.clear();
        row.Do();
        std::string expected = row.Expected;
        const bool anyOrder = !expected.empty() && expected[0] == '*';
        if (anyOrder)
            expected.erase(0, 1);
        const size_t count = size_t(std::count(expected.begin(), expected.end(), ':'));
        WaitFor(count, 5000, count ? 300 : 800);
        std::string got = Kinds();
        if (anyOrder && got != expected) {   // the two threads may report in either order
            std::string swapped = Events.size() == 2
                                      ? std::string(1, Events[1].Kind) + ":" + Events[1].Name() + " " +
                                            std::string(1, Events[0].Kind) + ":" + Events[0].Name() + " "
                                      : got;
            got = swapped;
        }
        EXPECT_EQ(got, expected) << row.What;
        if (std::string(row.What) == "save" && Events.size() == 1) {
            EXPECT_EQ(Events[0].Info.OldSize, 13u);
            EXPECT_EQ(Events[0].Info.Size, std::string("zweite, längere Fassung").size());
            EXPECT_NE(Events[0].Info.LastWriteTicks, Events[0].Info.OldLastWriteTicks);
        }
        if (std::string(row.What) == "delete" && Events.size() == 1) {
            EXPECT_EQ(Events[0].Info.OldSize, 3u);
        }
    }
    SetFileAttributesW(Path(L"bleibt.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// As the tray program watches its open folder: the whole tree, and sub-folders made later.
TEST_F(Watcher, TheSubtreeIsWatchedAlsoInFoldersMadeLater)
{
    W.WatchSubtree = true;
    W.ChangeNotifyFilter |= FncSet(fncDirName);
    W.Activate();
    WaitFor(0, 300, 300);
    ASSERT_TRUE(CreateDirectoryW(Path(L"0123456789ABCDEF").c_str(), nullptr));
    const std::wstring doc = Path(L"0123456789ABCDEF\\Notiz ü.txt");
    WriteBytes(doc, "geladen");
    WaitFor(1, 5000, 500);
    EXPECT_EQ(Kinds(), "A:Notiz ü.txt ");
    Events.clear();
    WriteInPlace(doc, "gespeichert");
    WaitFor(1, 5000, 800);
    EXPECT_EQ(Kinds(), "C:Notiz ü.txt ") << "one save, one event";
}

TEST_F(Watcher, TwoSavesWithinOneSecondAndALockedFileAreBothSeen)
{
    const std::wstring doc = Path(L"Protokoll.txt");
    WriteBytes(doc, "Stand 1");
    W.Activate();
    WaitFor(1);
    Events.clear();
    // Same size each time: only the sub-second last-write time differs.
    WriteInPlace(doc, "Stand 2");
    WaitFor(1, 3000, 0);
    WriteInPlace(doc, "Stand 3");
    WaitFor(2, 3000, 300);
    ASSERT_EQ(Kinds(), "C:Protokoll.txt C:Protokoll.txt ");
    EXPECT_EQ(Events[1].Info.OldLastWriteTicks, Events[0].Info.LastWriteTicks);

    // A program holds the file open exclusively while it writes, for a while.
    Events.clear();
    {
        THandle held(CreateFileW(doc.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(bool(held));
        DWORD written = 0;
        SetFilePointer(held.get(), 0, nullptr, FILE_END);
        WriteFile(held.get(), " und mehr", 9, &written, nullptr);
        FlushFileBuffers(held.get());
        WaitFor(1, 3000, 500);
        EXPECT_EQ(Kinds(), "C:Protokoll.txt ") << "a change while the file is held";
    }
    WaitFor(1, 500, 300);
    EXPECT_LE(Events.size(), 2u);
}

TEST_F(Watcher, SizesBeyondFourGigabytesAreToldApart)
{
    const std::wstring big = Path(L"Sicherung.bin");
    WriteBytes(big, "0123456789");
    W.Activate();
    WaitFor(1);
    Events.clear();
    {
        // Grow by exactly 4 GiB (sparse) and put the old times back: only the high half of the size
        // differs.
        THandle h(CreateFileW(big.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(bool(h));
        FILETIME created, accessed, written;
        GetFileTime(h.get(), &created, &accessed, &written);
        LARGE_INTEGER size;
        size.QuadPart = (1LL << 32) + 10;
        ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h.get()));
        SetFileTime(h.get(), &created, &accessed, &written);
    }
    WaitFor(1);
    ASSERT_EQ(Kinds(), "C:Sicherung.bin ");
    EXPECT_EQ(Events[0].Info.Size, (1ULL << 32) + 10);
    EXPECT_EQ(Events[0].Info.OldSize, 10u);
}

TEST_F(Watcher, MissingRootRaisesAndDeactivateEndsEverything)
{
    W.Root = WideToUtf8(Folder) + "\\fehlt";
    try {
        W.Activate();
        FAIL() << "no exception";
    } catch (const ESxChangeNotifierException& e) {
        EXPECT_STREQ(e.what(), "The scanning directory does not exists");
    }
    EXPECT_FALSE(W.Active());

    W.Root = WideToUtf8(Folder);
    W.Activate();
    W.Deactivate();
    EXPECT_FALSE(W.Active());
    WriteBytes(Path(L"danach.txt"), "x");
    WaitFor(1, 800, 0);
    EXPECT_TRUE(Events.empty()) << Kinds();
}

TEST(WatcherWindow, EventsPostedToAGoneWatcherAreFreed)
{
    const std::wstring folder = FreshFolder("gone");
    for (int i = 0; i < 50; ++i)
        WriteBytes(folder + L"\\Datei " + std::to_wstring(i) + L".txt", "gleich");
    {
        TSxChangeNotifier w;
        w.Root = WideToUtf8(folder);
        int delivered = 0;
        w.OnAddFile = [&](TSxChangeNotifier&, TSxFileInfoEventData&) { ++delivered; };
        w.Activate();
        // Wait until the scan posted its events, but deliver none of them.
        for (int i = 0; i < 100 && TSxChangeNotifier::PendingEvents() < 50; ++i)
            Sleep(20);
        EXPECT_EQ(TSxChangeNotifier::PendingEvents(), 50u);
        EXPECT_EQ(delivered, 0);
    }
    EXPECT_EQ(TSxChangeNotifier::PendingEvents(), 0u);
    // The messages still in the queue find nothing and do nothing.
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
}

TEST(WatcherSnapshot, ImageRoundTripAndDamagedImage)
{
    TRootStorage s;
    TRootEntry e{L"C:\\Open\\Straße ü.txt", FILE_ATTRIBUTE_ARCHIVE, 1, 2, 3, (1ULL << 32) + 5};
    s.Update(e.FileName, e);
    s.Update(L"C:\\Open\\b.txt", TRootEntry{L"C:\\Open\\b.txt"});
    const auto image = s.Save();
    TRootStorage t;
    t.Load(image);
    ASSERT_EQ(t.GetCount(), 2u);
    ASSERT_NE(t.Find(e.FileName), nullptr);
    EXPECT_EQ(t.Find(e.FileName)->Size, e.Size);
    EXPECT_EQ(t.GetName(0), s.GetName(0));
    EXPECT_EQ(t.GetName(0).size(), 32u);
    auto cut = image;
    cut.resize(cut.size() - 3);
    EXPECT_ANY_THROW(t.Load(cut));
    EXPECT_EQ(t.GetCount(), 2u);
}

} // namespace
