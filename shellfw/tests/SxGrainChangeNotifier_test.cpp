// The grain change notifier on real files of a temporary folder (its own thread, real change
// notifications), and the temporary folders of folder grains.
#include "SxGrainChangeNotifier.h"
#include "SxTestSupport.h"
#include "SxProvider.h"
#include "SxTools.h"
#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

namespace {

namespace fs = std::filesystem;

fs::path Local(const std::string& utf8) { return fs::path(Utf8ToWide(utf8)); }


void Write(const std::string& path, const std::string& bytes, std::ios::openmode mode = std::ios::trunc)
{
    std::ofstream out(Local(path), std::ios::binary | mode);
    out << bytes;
}

// What the watcher thread handed back, by event and grain name.
class TEvents {
public:
    void Add(const std::string& what)
    {
        std::lock_guard<std::mutex> guard(FLock);
        FSeen.push_back(what);
        FChanged.notify_all();
    }
    // Waits until what has been seen (at most timeout); how often it was seen.
    int WaitFor(const std::string& what, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return CountLocked(what) > 0; });
        return CountLocked(what);
    }
    int Count(const std::string& what)
    {
        std::lock_guard<std::mutex> guard(FLock);
        return CountLocked(what);
    }
    std::vector<std::string> All()
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FSeen;
    }

private:
    int CountLocked(const std::string& what) { return static_cast<int>(std::count(FSeen.begin(), FSeen.end(), what)); }
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::string> FSeen;
};

class GrainFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        Folder = FreshTempFolder("SxNotifierTest");
        Provider.OnHandleModify = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxByteStream& data) {
            std::string bytes(static_cast<size_t>(data.GetSize()), '\0');
            bytes.resize(data.Read(bytes.data(), bytes.size()));
            Events.Add("modify " + grain.Name + " " + bytes);
        };
        Provider.OnHandleDelete = [this](TSxCustomProvider&, TSxCustomDataGrain& grain) { Events.Add("delete " + grain.Name); };
        Provider.OnNewGrainFromFile = [this](TSxCustomProvider& p, TSxCustomDataGrain& folder, const std::string& file,
                                             std::unique_ptr<TSxCustomDataGrain>& grain) {
            Events.Add("new " + folder.Name + " " + file.substr(file.find_last_of('\\') + 1));
            grain = p.CreateGrain();
            grain->Name = "neu";
            grain->IsFile = true;
        };
    }

    std::unique_ptr<TSxCustomDataGrain> Grain(const std::string& name, bool file = true)
    {
        auto grain = Provider.CreateGrain();
        grain->Name = name;
        grain->IsFile = file;
        return grain;
    }

    // A file of the folder, watched for a grain of the same name.
    std::string Watched(TSxGrainChangeNotifier& notifier, const std::string& name, const std::string& bytes)
    {
        const std::string path = Folder + "\\" + name;
        Write(path, bytes);
        notifier.AddWatch(nullptr, Grain(name).get(), path);
        return path;
    }

    TSxByHandProvider Provider{"sxNotifierProvider"};
    std::string Folder;
    TEvents Events;
};

TEST_F(GrainFiles, ChangedDeletedRenamedAndLockedFilesAreHandedBackOnce)
{
    const std::string umlaut = "\xC3\xA4nderung.txt", emoji = "\xF0\x9F\x8C\xB4 weg.txt";
    std::string held;
    THandle holder;  // still holds its changed file when the notifier ends
    {
        TSxGrainChangeNotifier notifier(Provider, Folder);
        notifier.MissingGrace = 300;
        const std::string changed = Watched(notifier, umlaut, "alt");
        const std::string renamed = Watched(notifier, emoji, "x");
        const std::string deleted = Watched(notifier, "weg.txt", "x");
        const std::string locked = Watched(notifier, "gesperrt.txt", "alt");
        const std::string saved = Watched(notifier, "gespeichert.txt", "alt");
        const std::string untouched = Watched(notifier, "unber\xC3\xBChrt.txt", "bleibt");
        EXPECT_TRUE(notifier.IsWatched(changed));
        EXPECT_FALSE(notifier.IsWatched(Folder + "\\fremd.txt"));
        notifier.AddWatch(nullptr, Grain("x").get(), Folder + "\\.versteckt");  // not a valid file name
        EXPECT_FALSE(notifier.IsWatched(Folder + "\\.versteckt"));

        Write(changed, " neu", std::ios::app);
        EXPECT_EQ(Events.WaitFor("modify " + umlaut + " alt neu"), 1) << ::testing::PrintToString(Events.All());
        MoveFileW(Utf8ToWide(renamed).c_str(), Utf8ToWide(Folder + "\\anderswo.txt").c_str());
        DeleteFileW(Utf8ToWide(deleted).c_str());
        EXPECT_EQ(Events.WaitFor("delete " + emoji), 1);
        EXPECT_EQ(Events.WaitFor("delete weg.txt"), 1);
        EXPECT_FALSE(notifier.IsWatched(deleted));

        // A program that saves by writing a new file and renaming it over the old one: a change,
        // not a delete.
        Write(Folder + "\\gespeichert.tmp", "neu gespeichert");
        MoveFileExW(Utf8ToWide(Folder + "\\gespeichert.tmp").c_str(), Utf8ToWide(saved).c_str(), MOVEFILE_REPLACE_EXISTING);
        EXPECT_EQ(Events.WaitFor("modify gespeichert.txt neu gespeichert"), 1);

        // A change of a file another program holds comes once that program lets go.
        THandle writer(CreateFileW(Utf8ToWide(locked).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        DWORD written = 0;
        SetFilePointer(writer.get(), 0, nullptr, FILE_END);
        WriteFile(writer.get(), " neu", 4, &written, nullptr);
        FlushFileBuffers(writer.get());
        EXPECT_EQ(Events.WaitFor("modify gesperrt.txt alt neu", 800), 0) << "nothing while it is held";
        writer.reset();
        EXPECT_EQ(Events.WaitFor("modify gesperrt.txt alt neu"), 1);

        // A file that changes while it is held when the notifier ends is not deleted.
        held = Watched(notifier, "offen.txt", "alt");
        holder.reset(CreateFileW(Utf8ToWide(held).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
        SetFilePointer(holder.get(), 0, nullptr, FILE_END);
        WriteFile(holder.get(), " neu", 4, &written, nullptr);
        FlushFileBuffers(holder.get());
        Sleep(300);
        (void)untouched;
    }
    // Each change once; nothing for the untouched file, which the notifier's end removes.
    const auto all = Events.All();
    for (const auto& e : all)
        EXPECT_EQ(std::count(all.begin(), all.end(), e), 1) << e;
    for (const auto& e : all)
        EXPECT_EQ(e.find("unber\xC3\xBChrt"), std::string::npos) << e;
    EXPECT_FALSE(fs::exists(Local(Folder + "\\unber\xC3\xBChrt.txt")));
    EXPECT_FALSE(fs::exists(Local(Folder + "\\" + umlaut))) << "handed back: removed at the end";
    EXPECT_TRUE(fs::exists(Local(Folder + "\\anderswo.txt"))) << "not the notifier's file";
    EXPECT_EQ(Events.Count("modify offen.txt alt neu"), 0);
    EXPECT_TRUE(fs::exists(Local(held))) << "a change not handed back keeps its file";
    holder.reset();
}

TEST_F(GrainFiles, AnExpectedNewFileIsTakenOnceAndThenWatched)
{
    TSxGrainChangeNotifier notifier(Provider, Folder);
    auto folder = Grain("Bilder", false);
    const std::string path = Folder + "\\Bericht \xE6\x97\xA5\xE6\x9C\xAC.doc";
    notifier.AddWatch(folder.get(), nullptr, path);
    Write(Folder + "\\anderes.txt", "x");
    Sleep(300);
    EXPECT_TRUE(Events.All().empty()) << "nothing before the file comes";
    Write(path, "erste Fassung");
    EXPECT_EQ(Events.WaitFor("new Bilder Bericht \xE6\x97\xA5\xE6\x9C\xAC.doc"), 1);
    Write(path, "zweite Fassung");
    EXPECT_EQ(Events.WaitFor("modify neu zweite Fassung"), 1);
    EXPECT_EQ(Events.Count("new Bilder Bericht \xE6\x97\xA5\xE6\x9C\xAC.doc"), 1);
}

TEST_F(GrainFiles, AFailingHandlerCostsNeitherTheThreadNorTheOtherFiles)
{
    Provider.OnHandleModify = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxByteStream&) {
        Events.Add("modify " + grain.Name);
        if (grain.Name == "a.txt")
            throw std::runtime_error("the upload failed");
    };
    TSxGrainChangeNotifier notifier(Provider, Folder);
    const std::string a = Watched(notifier, "a.txt", "1"), b = Watched(notifier, "b.txt", "1");
    Write(a, "22");
    EXPECT_EQ(Events.WaitFor("modify a.txt"), 1);
    Write(b, "22");
    EXPECT_EQ(Events.WaitFor("modify b.txt"), 1);
}

TEST_F(GrainFiles, AHandlerThatTakesItsTimeHoldsUpNoOtherThread)
{
    // A product's handler talks to its server and may ask the user; meanwhile every Explorer
    // window's thread needs the framework lock (icons, watches, temporary files).
    THandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Provider.OnHandleModify = [&](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxByteStream&) {
        SetEvent(entered.get());
        WaitForSingleObject(release.get(), 10000);
        Events.Add("modify " + grain.Name);
    };
    TSxGrainChangeNotifier notifier(Provider, Folder);
    const std::string slow = Watched(notifier, "langsam.txt", "alt");
    Write(slow, " neu", std::ios::app);
    ASSERT_EQ(WaitForSingleObject(entered.get(), 5000), WAIT_OBJECT_0);
    bool took = false;
    std::thread other([&] {
        TSxFrameworkLock lock;
        took = true;
    });
    const ULONGLONG start = GetTickCount64();
    while (!took && GetTickCount64() - start < 3000)
        Sleep(10);
    EXPECT_TRUE(took) << "the framework lock is held while the handler works";
    // Watching another file meanwhile works too; the watched file's grain was not disturbed.
    const std::string more = Watched(notifier, "weiter.txt", "x");
    EXPECT_TRUE(notifier.IsWatched(more));
    SetEvent(release.get());
    other.join();
    EXPECT_EQ(Events.WaitFor("modify langsam.txt"), 1);
}

TEST(GrainFolders, ExtensionsOfParsingNames)
{
    const std::string myComputer = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
    const std::string folder = "::{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}";
    const std::pair<std::string, std::string> cases[] = {
        {myComputer + "\\" + folder + "\\A", ".{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}"},
        {myComputer, ".{20D04FE0-3AEA-1069-A2D8-08002B30309D}"},
        {"A\\B", ".tmp"},
        {"A\\" + folder, ".tmp"},
        {"::{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D5}\\A", ".tmp"},
        {"", ".tmp"},
    };
    for (const auto& [key, extension] : cases)
        EXPECT_EQ(SxGrainFolderExtension(key), extension) << key;
}

TEST_F(GrainFiles, FolderManagerMakesJunctionsAndHandsBackOnlyWhatAnEventTook)
{
    auto manager = std::make_unique<TSxGrainFolderManager>(Provider, Folder + "\\");
    const std::string key = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}\\Bilder";
    auto bilder = Grain("Bilder", false);
    const std::string junction = manager->GetFolder(*bilder, key);
    EXPECT_EQ(manager->GetFolder(*bilder, key), junction) << "one folder per key";
    EXPECT_NE(junction.find("\\sp"), std::string::npos);
    EXPECT_EQ(junction.substr(junction.size() - 39), ".{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}");
    EXPECT_TRUE(GetFileAttributesW(Utf8ToWide(junction).c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const std::string plain = manager->GetFolder(*Grain("B", false), "A\\B");
    EXPECT_EQ(plain.substr(plain.size() - 4), ".tmp");
    auto found = manager->GrainForFolder(junction + "\\");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Name, "Bilder");
    EXPECT_FALSE(manager->GrainForFolder(Folder));

    Write(junction + "\\genommen.txt", "1");
    Write(plain + "\\liegt.txt", "2");
    EXPECT_TRUE(manager->RegisterFile(junction + "\\genommen.txt"));
    EXPECT_TRUE(manager->RegisterFile(plain + "\\liegt.txt"));
    EXPECT_FALSE(manager->RegisterFile(Folder + "\\fremd.txt"));
    EXPECT_EQ(manager->PendingFiles.size(), 2u);
    // The product takes one of them: only that one goes.
    Provider.OnNewGrainFromFile = [this](TSxCustomProvider& p, TSxCustomDataGrain& folder, const std::string& file,
                                         std::unique_ptr<TSxCustomDataGrain>& grain) {
        Events.Add("new " + folder.Name + " " + file.substr(file.find_last_of('\\') + 1));
        if (folder.Name == "Bilder")
            grain = p.CreateGrain();
    };
    manager->FlushFiles();
    EXPECT_EQ(Events.All(), (std::vector<std::string>{"new Bilder genommen.txt", "new B liegt.txt"}));
    EXPECT_FALSE(fs::exists(Local(junction + "\\genommen.txt")));
    EXPECT_TRUE(fs::exists(Local(plain + "\\liegt.txt")));
    manager.reset();
    EXPECT_FALSE(fs::exists(Local(junction))) << "an empty folder goes";
    EXPECT_TRUE(fs::exists(Local(plain))) << "a folder that still holds a file stays";
}

} // namespace
