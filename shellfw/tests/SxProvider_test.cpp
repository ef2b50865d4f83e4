// The provider with a small tree of grains, under wine: enumeration and its filters, sorting,
// comparison of item IDs, the events and their answers, new folder / rename / delete with the
// change notices they send, and grains written as temporary files.
#include "SxProvider.h"

#include "uGLBRegistry.h"
#include "uGLBWin.h"
#include "SxIconList.h"
#include "SxDataModule.h"
#include "SxException.h"
#include "SxNamespaceUtils.h"
#include "SxPopupMenu.h"

#include <shlobj.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstring>
#include <set>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace {

struct Node {
    const char* name;
    bool file;
    TSxGrainAttributes attributes;
    const char* size;
};

// root: files and folders in an order that sorting must change; Docs has two children.
const std::map<std::string, std::vector<Node>> Tree = {
    {"", {{"b.txt", true, 0, "30"}, {"Docs", false, 0, ""}, {"a.txt", true, 0, "20"},
          {"secret", true, gaHidden, "1"}, {"Bilder", false, 0, ""}, {".cache", false, gaHidden, ""}}},
    {"Docs", {{"x.txt", true, 0, "5"}, {"y.txt", true, gaReadOnly, "6"}}},
};

class TreeProvider : public ::testing::Test {
protected:
    void SetUp() override
    {
        provider.OnPopulate = [this](TSxByHandProvider& p, TSxByHandDataGrain& folder, TSxDataGrainList& list) {
            populated.push_back(folder.Root ? "<root>" : folder.Name);
            auto it = Tree.find(folder.Root ? "" : folder.Name);
            if (it == Tree.end())
                return;
            for (const Node& n : it->second) {
                auto g = p.CreateGrain();
                g->Name = n.name;
                g->IsFile = n.file;
                g->Attributes = n.attributes;
                g->SetValue("size", n.size);
                list.Add(std::move(g));
            }
        };
        SetSxChangeNotice([this](LONG e, PCSxItemIDList list) { notices.push_back({e, Names(list)}); });
    }
    void TearDown() override { SetSxChangeNotice(nullptr); }

    // The names of the grains of a list, "/"-joined; "-" for no list.
    std::string Names(PCSxItemIDList list)
    {
        if (!list)
            return "-";
        std::string out;
        for (PCSxItemIDList i = list; i && PIDLItemSize(i); i = PIDLGetNext(i)) {
            auto g = provider.CreateGrain();
            g->LoadFromItemID(i);
            out += (out.empty() ? "" : "/") + g->Name;
        }
        return out;
    }

    std::vector<std::string> Enum(PCSxItemIDList item, uint32_t flags)
    {
        std::vector<TSxPidlPtr> items;
        EXPECT_TRUE(provider.EnumObjects(item, flags, items));
        std::vector<std::string> names;
        for (auto& i : items)
            names.push_back(Names(i.get()));
        return names;
    }

    std::unique_ptr<TSxCustomDataGrain> MakeGrain(const char* name, bool file)
    {
        auto g = provider.CreateGrain();
        g->Name = name;
        g->IsFile = file;
        return g;
    }

    TSxPidlPtr Item(const char* name, bool file) { return MakeGrain(name, file)->GetItemID(); }

    TSxByHandProvider provider{"sxTestProvider"};
    std::vector<std::string> populated;
    std::vector<std::pair<LONG, std::string>> notices;
};

} // namespace

TEST_F(TreeProvider, EnumerationFollowsPopulateOrderAndFilters)
{
    const uint32_t folders = 1, files = 2, hidden = 4;
    EXPECT_EQ(Enum(nullptr, folders | files), (std::vector<std::string>{"b.txt", "Docs", "a.txt", "Bilder"}));
    EXPECT_EQ(Enum(nullptr, folders), (std::vector<std::string>{"Docs", "Bilder"}));
    EXPECT_EQ(Enum(nullptr, files | hidden), (std::vector<std::string>{"b.txt", "a.txt", "secret"}));
    EXPECT_EQ(Enum(nullptr, folders | files | hidden).size(), 6u);
    EXPECT_TRUE(Enum(nullptr, hidden).empty());
    // A sub-folder is enumerated from its item.
    TSxPidlPtr docs = Item("Docs", false);
    EXPECT_EQ(Enum(docs.get(), files), (std::vector<std::string>{"x.txt", "y.txt"}));
    EXPECT_EQ(populated, (std::vector<std::string>{"<root>", "<root>", "<root>", "<root>", "<root>", "Docs"}));
    // The enumerator a shell folder hands on carries the same items.
    Microsoft::WRL::ComPtr<IEnumIDList> enumerator;
    ASSERT_EQ(provider.EnumObjects(nullptr, folders | files, &enumerator), S_OK);
    ASSERT_TRUE(enumerator);
    std::vector<std::string> fromEnum;
    PITEMID_CHILD child = nullptr;
    ULONG fetched = 0;
    while (enumerator->Next(1, &child, &fetched) == S_OK && fetched == 1) {
        TSxPidlPtr owned(child);
        fromEnum.push_back(Names(owned.get()));
    }
    enumerator.Reset();
    EXPECT_EQ(fromEnum, (std::vector<std::string>{"b.txt", "Docs", "a.txt", "Bilder"}));
    TSxCustomProvider plain("plain");
    IEnumIDList* none = reinterpret_cast<IEnumIDList*>(1);
    EXPECT_EQ(plain.EnumObjects(nullptr, 3, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    // An exception of the handler passes on, and the lock is free again.
    provider.OnPopulate = [](TSxByHandProvider&, TSxByHandDataGrain&, TSxDataGrainList&) { throw std::runtime_error("boom"); };
    std::vector<TSxPidlPtr> items;
    EXPECT_THROW(provider.EnumObjects(nullptr, 3, items), std::runtime_error);
    std::thread([this] { provider.Lock(); provider.Unlock(); }).join();
}

TEST_F(TreeProvider, APopulateThatTakesItsTimeHoldsUpNoOtherWindow)
{
    // Each Explorer window asks from a thread of its own: while one window's folder lists its
    // items, another window makes grains, asks icons and lists a folder of its own.
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr), release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto populate = provider.OnPopulate;
    provider.OnPopulate = [&](TSxByHandProvider& p, TSxByHandDataGrain& folder, TSxDataGrainList& list) {
        if (folder.Name == "Docs") {
            SetEvent(entered);
            WaitForSingleObject(release, 10000);
        }
        populate(p, folder, list);
    };
    std::vector<std::string> slow;
    std::thread window([&] { slow = Enum(Item("Docs", false).get(), 7); });
    ASSERT_EQ(WaitForSingleObject(entered, 5000), WAIT_OBJECT_0);
    std::vector<std::string> quick;
    int32_t icon = -1, openIcon = -1;
    std::thread other([&] {
        auto grain = MakeGrain("a.txt", true);
        provider.DoGetIcon(*grain, icon, openIcon);
        quick = Enum(nullptr, 3);
    });
    const ULONGLONG start = GetTickCount64();
    while (quick.empty() && GetTickCount64() - start < 3000)
        Sleep(10);
    EXPECT_EQ(quick.size(), 4u) << "the other window waited for the populate";
    EXPECT_EQ(icon, provider.ItemIcon());
    SetEvent(release);
    window.join();
    other.join();
    EXPECT_EQ(slow, (std::vector<std::string>{"x.txt", "y.txt"}));
    CloseHandle(entered);
    CloseHandle(release);
}

TEST_F(TreeProvider, SortsByEachColumn)
{
    std::vector<TSxPidlPtr> items;
    provider.EnumObjects(nullptr, 7, items);
    auto sorted = [&](int column) {
        std::vector<PCSxItemIDList> order;
        for (auto& i : items)
            order.push_back(i.get());
        std::stable_sort(order.begin(), order.end(), [&](PCSxItemIDList a, PCSxItemIDList b) {
            return provider.CompareItemIDs(column, a, b) < 0;
        });
        std::vector<std::string> names;
        for (auto i : order)
            names.push_back(Names(i));
        return names;
    };
    // Column 0: folders first, then by name (UTF-16 order: upper case before lower case).
    EXPECT_EQ(sorted(0), (std::vector<std::string>{".cache", "Bilder", "Docs", "a.txt", "b.txt", "secret"}));
    // The product orders column 1 by size and column 2 by name backwards; folders stay first.
    std::vector<int> columns;
    provider.OnCompareGrains = [&](TSxCustomProvider&, int column, TSxCustomDataGrain& a, TSxCustomDataGrain& b, int& result) {
        columns.push_back(column);
        auto size = [](TSxCustomDataGrain& g) { return g.GetValue("size").empty() ? 0 : std::stoi(g.GetValue("size")); };
        if (column == 1 && size(a) != size(b))
            result = size(a) - size(b);
        else if (column == 2)
            result = -result;
    };
    EXPECT_EQ(sorted(1), (std::vector<std::string>{".cache", "Bilder", "Docs", "secret", "a.txt", "b.txt"}));
    EXPECT_EQ(sorted(0x10002), (std::vector<std::string>{"Docs", "Bilder", ".cache", "secret", "b.txt", "a.txt"}));
    EXPECT_TRUE(std::all_of(columns.begin(), columns.end(), [](int c) { return c == 1 || c == 2; }))
        << "the handler gets the column's low 16 bits";
    // BeforeCompareGrains can decide alone.
    provider.BeforeCompareGrains = [](TSxCustomProvider&, int, TSxCustomDataGrain& a, TSxCustomDataGrain& b, int& result, bool& cont) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(cont);
        if (a.Name == "secret" || b.Name == "secret") {
            result = a.Name == "secret" ? -1 : 1;
            cont = false;
        }
    };
    EXPECT_EQ(sorted(0).front(), "secret");
}

TEST_F(TreeProvider, CompareItemIDsIsAConsistentOrder)
{
    // A and B folders, x and y files below them; the expected order of the lists, smallest first.
    TSxPidlPtr a = Item("A", false), b = Item("B", false), x = Item("x", true), y = Item("y", true);
    std::vector<TSxPidlPtr> lists;
    lists.emplace_back(PIDLClone(a.get()));
    lists.emplace_back(PIDLCombine(a.get(), x.get()));
    lists.emplace_back(PIDLCombine(a.get(), y.get()));
    lists.emplace_back(PIDLClone(b.get()));
    lists.emplace_back(PIDLCombine(b.get(), x.get()));
    lists.emplace_back(PIDLClone(x.get()));
    for (size_t i = 0; i < lists.size(); ++i)
        for (size_t j = 0; j < lists.size(); ++j) {
            const int r = provider.CompareItemIDs(0, lists[i].get(), lists[j].get());
            const int expected = i < j ? -1 : i > j ? 1 : 0;
            EXPECT_EQ((r > 0) - (r < 0), expected) << Names(lists[i].get()) << " vs " << Names(lists[j].get());
        }
    // A list whose deeper item is not a grain item, and a missing list, are errors, not orders.
    const uint8_t foreign[] = {4, 0, 'z', 'z', 0, 0};
    TSxPidlPtr mixed(PIDLCombine(a.get(), reinterpret_cast<PCSxItemIDList>(foreign)));
    TSxPidlPtr ax(PIDLCombine(a.get(), x.get()));
    EXPECT_THROW(provider.CompareItemIDs(0, mixed.get(), ax.get()), EProviderException);
    EXPECT_THROW(provider.CompareItemIDs(0, nullptr, ax.get()), EProviderException);
    // Lists of the shell (not starting with a grain item) go to the desktop folder.
    LPITEMIDLIST drives = nullptr, windows = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_WINDOWS, &windows), S_OK);
    EXPECT_EQ(provider.CompareItemIDs(0, drives, drives), 0);
    const int dw = provider.CompareItemIDs(0, drives, windows), wd = provider.CompareItemIDs(0, windows, drives);
    EXPECT_EQ((dw > 0) - (dw < 0), -((wd > 0) - (wd < 0)));
    EXPECT_LT(provider.CompareItemIDs(0, drives, a.get()), 0);
    EXPECT_GT(provider.CompareItemIDs(0, a.get(), drives), 0);
    CoTaskMemFree(drives);
    CoTaskMemFree(windows);
}

TEST_F(TreeProvider, GrainFromPidlRootAndDamagedItems)
{
    LPITEMIDLIST drives = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
    provider.SetRootPidl(drives);
    auto root = provider.GrainFromPidl(drives);
    ASSERT_TRUE(root);
    EXPECT_TRUE(static_cast<TSxByHandDataGrain&>(*root).Root);
    EXPECT_EQ(PIDLGetSize(root->AbsolutePidl()), PIDLGetSize(drives));

    // A grain below the root gets the whole list as its absolute list.
    TSxPidlPtr docs = Item("Docs", false);
    TSxPidlPtr full(PIDLCombine(drives, docs.get()));
    auto g = provider.GrainFromPidl(full.get());
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Name, "Docs");
    EXPECT_FALSE(static_cast<TSxByHandDataGrain&>(*g).Root);
    EXPECT_EQ(PIDLGetSize(g->AbsolutePidl()), PIDLGetSize(full.get()));
    // Clone keeps everything but the cached ID, Root included.
    auto rootClone = root->Clone();
    EXPECT_TRUE(static_cast<TSxByHandDataGrain&>(*rootClone).Root);
    EXPECT_EQ(PIDLGetSize(rootClone->AbsolutePidl()), PIDLGetSize(drives));

    // A damaged framework item gives no grain: its record is cut short.
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(docs.get()),
                               reinterpret_cast<const uint8_t*>(docs.get()) + PIDLGetSize(docs.get()) + 2);
    bytes[22] = 0x7F;  // the name length runs past the record
    EXPECT_FALSE(provider.GrainFromPidl(reinterpret_cast<PCSxItemIDList>(bytes.data())));
    EXPECT_FALSE(provider.GrainFromPidl(nullptr));
    CoTaskMemFree(drives);
}

TEST_F(TreeProvider, EventsFireAndTheirAnswersCount)
{
    auto grain = MakeGrain("a.txt", true);
    auto folder = MakeGrain("Docs", false);

    // Without handlers: permissive answers, but nothing can be deleted or renamed.
    TSxDataGrainList list;
    EXPECT_TRUE(provider.DoConfirmDelete(list, nullptr));
    EXPECT_FALSE(provider.CanDeleteGrain(*grain));
    EXPECT_FALSE(provider.CanRenameGrain(*grain));
    EXPECT_TRUE(provider.DoValidateDataGrain(*folder, *grain));
    EXPECT_TRUE(provider.DoQueryDataGrainDrop(*folder, *grain));
    EXPECT_TRUE(provider.DoBeforeDrop(*folder, nullptr));
    EXPECT_FALSE(provider.DoConfirmOverwriteFolder(*folder, nullptr));
    std::string tip;
    provider.DoGetInfoTip(*grain, tip);
    EXPECT_EQ(tip, "a.txt");

    // Handlers get the permissive starting values and their answers count.
    provider.OnHandleDelete = [](TSxCustomProvider&, TSxCustomDataGrain&) {};
    provider.OnQueryDeleteGrain = [](TSxCustomProvider&, TSxCustomDataGrain& g, bool& allow) {
        EXPECT_TRUE(allow);
        allow = g.Name != "a.txt";
    };
    EXPECT_FALSE(provider.CanDeleteGrain(*grain));
    EXPECT_TRUE(provider.CanDeleteGrain(*folder));
    provider.OnConfirmDelete = [](TSxCustomProvider&, TSxDataGrainList&, HWND, bool& allow) { allow = false; };
    EXPECT_FALSE(provider.DoConfirmDelete(list, nullptr));
    provider.OnGetInfoTip = [](TSxCustomProvider&, TSxCustomDataGrain& g, std::string& t) { t = "tip of " + t + g.GetValue("x"); };
    provider.DoGetInfoTip(*grain, tip);
    EXPECT_EQ(tip, "tip of a.txt");

    // Only the most extended assigned variant fires.
    std::vector<std::string> fired;
    provider.OnNewGrainFromFile = [&](TSxCustomProvider&, TSxCustomDataGrain&, const std::string&, TSxCustomProvider::GrainPtr&) { fired.push_back("base"); };
    provider.OnNewGrainFromFileEx = [&](TSxCustomProvider&, TSxCustomDataGrain&, const std::string&, TSxCustomProvider::GrainPtr&, TSxDropInfo&) { fired.push_back("ex"); };
    TSxDropInfo drop;
    TSxCustomProvider::GrainPtr made;
    bool cont = false;
    EXPECT_TRUE(provider.DoNewGrainFromFile(*folder, "c:\\f", made, drop, 0, cont));
    provider.OnNewGrainFromFileEx2 = [&](TSxCustomProvider&, TSxCustomDataGrain&, const std::string&, TSxCustomProvider::GrainPtr&,
                                         TSxDropInfo& d, int remaining, bool& c) {
        EXPECT_TRUE(c);
        fired.push_back("ex2:" + std::to_string(remaining));
        d.Effect = SxDropCopy | SxDropMove;
        c = false;
    };
    EXPECT_TRUE(provider.DoNewGrainFromFile(*folder, "c:\\f", made, drop, 3, cont));
    EXPECT_FALSE(cont);
    EXPECT_EQ(drop.ReportedEffect(), SxDropMove);
    EXPECT_EQ(fired, (std::vector<std::string>{"ex", "ex2:3"}));

    // Grain IDs are asked until one is given, then cached.
    int asked = 0;
    provider.OnGetGrainID = [&](TSxCustomProvider&, TSxCustomDataGrain& g, std::optional<std::string>& id) {
        if (++asked > 1)
            id = g.Name;
    };
    EXPECT_FALSE(grain->GetGrainID());
    EXPECT_EQ(grain->GetGrainID().value_or(""), "a.txt");
    EXPECT_EQ(grain->GetGrainID().value_or(""), "a.txt");
    EXPECT_EQ(asked, 2);

    // Icons: -1 takes the defaults; with both lists unassigned the system's indexes.
    int32_t icon = -1, open = -1;
    provider.DoGetIcon(*folder, icon, open);
    EXPECT_EQ(icon, provider.FolderIcon());
    EXPECT_EQ(open, provider.FolderOpenIcon());
    bool system = false;
    provider.DoPrepareGrainApperance(*grain, system);
    EXPECT_TRUE(system);
    provider.OnGetIcon = [](TSxCustomProvider&, TSxCustomDataGrain&, int32_t& i, int32_t&) { i = 42; };
    provider.DoPrepareGrainApperance(*grain, system);
    EXPECT_FALSE(system);
    icon = -1;
    provider.DoGetIcon(*grain, icon, open);
    EXPECT_EQ(icon, 42);
}

TEST_F(TreeProvider, NewFolderRenameDeleteAndTheirNotices)
{
    LPITEMIDLIST drives = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
    provider.SetRootPidl(drives);
    auto root = provider.CreateRootGrain();
    TSxCustomProvider::GrainPtr made;

    EXPECT_FALSE(provider.CreateNewFolder(*root, "Neu", made)) << "no handler";
    provider.OnCreateNewFolder = [](TSxCustomProvider& p, TSxCustomDataGrain&, const std::string& name, TSxCustomProvider::GrainPtr& g) {
        if (name == "refused")
            return;
        g = p.CreateGrain();
        g->Name = name;
    };
    EXPECT_FALSE(provider.CreateNewFolder(*root, "refused", made));
    ASSERT_TRUE(provider.CreateNewFolder(*root, "Neu", made));
    ASSERT_TRUE(made);
    EXPECT_EQ(PIDLGetItemCount(made->AbsolutePidl()), PIDLGetItemCount(drives) + 1);
    EXPECT_EQ(Names(PIDLFindLast(made->AbsolutePidl())), "Neu");
    provider.NotifyGrainCreated(*root, *made);
    auto file = MakeGrain("n.txt", true);
    file->PlaceUnder(*made);
    provider.NotifyGrainCreated(*made, *file);
    provider.NotifyGrainDeleted(*file);
    provider.NotifyGrainDeleted(*made);
    provider.NotifyGrainUpdated(*file);
    auto loose = provider.CreateGrain();
    provider.NotifyGrainDeleted(*loose);     // no list: nothing
    provider.NotifyGrainCreated(*loose, *file);  // parent without a list: nothing
    provider.NotifyGrainUpdated(*loose);     // sent without a list
    ASSERT_EQ(notices.size(), 7u);
    const std::pair<LONG, int> expected[] = {
        {SHCNE_UPDATEDIR, -1}, {SHCNE_MKDIR, 1}, {SHCNE_CREATE, 2}, {SHCNE_DELETE, 2},
        {SHCNE_RMDIR, 1}, {SHCNE_UPDATEITEM, 2}, {SHCNE_UPDATEDIR, 0},
    };
    for (size_t i = 0; i < notices.size(); ++i)
        EXPECT_EQ(notices[i].first, expected[i].first) << i;
    EXPECT_EQ(notices[2].second.substr(notices[2].second.size() - 9), "Neu/n.txt");
    EXPECT_EQ(notices[6].second, "-");

    // Rename: applied without a handler (though never offered), refused as a failure.
    EXPECT_EQ(provider.RenameGrain(*root, *file, "m.txt"), S_OK);
    EXPECT_EQ(file->Name, "m.txt");
    provider.OnRenameDataGrain = [](TSxCustomProvider&, TSxCustomDataGrain&, TSxCustomDataGrain&, std::string& name, bool& perform) {
        EXPECT_TRUE(perform);
        if (name == "bad")
            perform = false;
        else
            name += ".renamed";
    };
    EXPECT_TRUE(provider.CanRenameGrain(*file));
    EXPECT_EQ(provider.RenameGrain(*root, *file, "bad"), HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_EQ(file->Name, "m.txt");
    EXPECT_EQ(provider.RenameGrain(*root, *file, "k"), S_OK);
    EXPECT_EQ(file->Name, "k.renamed");

    // Delete reaches the handler.
    std::vector<std::string> deleted;
    provider.OnHandleDelete = [&](TSxCustomProvider&, TSxCustomDataGrain& g) { deleted.push_back(g.Name); };
    provider.DoHandleDelete(*file);
    EXPECT_EQ(deleted, std::vector<std::string>{"k.renamed"});
    CoTaskMemFree(drives);
}

TEST_F(TreeProvider, GrainsAsTemporaryFiles)
{
    wchar_t buffer[MAX_PATH];
    GetTempPathW(MAX_PATH, buffer);
    const std::string temp = WideToUtf8(buffer) + "sxgrains\\";
    CreateDirectoryW(Utf8ToWide(temp).c_str(), nullptr);
    provider.OnGetGrainTempPath = [&](TSxCustomProvider&, TSxCustomDataGrain&, std::string& path) { path = temp; };
    auto grain = provider.CreateGrain();
    grain->IsFile = true;
    std::string name;
    EXPECT_FALSE(provider.GetGrainFileName(*grain, "a_b", name)) << "without info and contents handlers";

    std::string contents = "hello";
    uint32_t size = 0;
    TSxGrainAttributes attributes = gaReadOnly;
    provider.OnGetGrainFileInfo = [&](TSxCustomProvider&, TSxCustomDataGrain&, TSxFileInfoDescriptor& info) {
        EXPECT_EQ(info.Attributes, gaArchive);
        EXPECT_FALSE(info.IsFolder);
        info.Size = size;
        info.Attributes = attributes;
    };
    int fetched = 0;  // for a remote provider each request of the contents is a download
    provider.OnGetGrainFileContents = [&](TSxCustomProvider&, TSxCustomDataGrain&, TSxMemoryStream& s) {
        ++fetched;
        s.Write(contents.data(), contents.size());
    };
    // A path that no file can have is no file name, and its contents are not asked for: the
    // parsing path of an item of a folder under My Computer, a drive-letter name.
    for (const char* path : {"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}\\a.txt",
                             "C:\\a.txt", "a\\b?.txt", "a\\\\b.txt"}) {
        EXPECT_FALSE(provider.GetGrainFileName(*grain, path, name)) << path;
        EXPECT_EQ(name, "") << path;
    }
    EXPECT_EQ(fetched, 0);
    auto read = [](const std::string& file) {
        std::ifstream in(Utf8ToWide(file).c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // Names that the old flat form made equal ("a\b" and "a_b") get files of their own.
    std::string n1, n2;
    ASSERT_TRUE(provider.GetGrainFileName(*grain, "a\\b", n1));
    contents = "other";
    ASSERT_TRUE(provider.GetGrainFileName(*grain, "a_b", n2));
    EXPECT_NE(n1, n2);
    EXPECT_EQ(read(n1), "hello") << "no size: the whole contents";
    EXPECT_EQ(read(n2), "other");
    EXPECT_TRUE(GetFileAttributesW(Utf8ToWide(n1).c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(fetched, 2);
    // A watched file is written once, and its contents asked for once.
    contents = "changed";
    ASSERT_TRUE(provider.GetGrainFileName(*grain, "a\\b", name));
    EXPECT_EQ(name, n1);
    EXPECT_EQ(read(n1), "hello");
    EXPECT_EQ(fetched, 2);
    // A new provider (nothing watched) rewrites the read-only file; a size cuts the contents,
    // a size beyond them writes only what there is.
    {
        TSxByHandProvider second("second");
        second.OnGetGrainTempPath = provider.OnGetGrainTempPath;
        second.OnGetGrainFileInfo = provider.OnGetGrainFileInfo;
        second.OnGetGrainFileContents = provider.OnGetGrainFileContents;
        auto g2 = second.CreateGrain();
        g2->IsFile = true;
        size = 3;
        ASSERT_TRUE(second.GetGrainFileName(*g2, "a\\b", name));
        EXPECT_EQ(read(name), "cha");
        size = 100;
        ASSERT_TRUE(second.GetGrainFileName(*g2, "c", name));
        EXPECT_EQ(read(name), "changed");
        // A name Windows cannot use is a failure, not a mangled file.
        EXPECT_FALSE(second.GetGrainFileName(*g2, "x:y", name));
        // The handler's existing file wins; a missing one falls back to the temporary file.
        second.OnGetGrainFilename = [&](TSxCustomProvider&, TSxCustomDataGrain&, std::string& f) { f = n2; };
        ASSERT_TRUE(second.GetGrainFileName(*g2, "d", name));
        EXPECT_EQ(name, n2);
        second.OnGetGrainFilename = [&](TSxCustomProvider&, TSxCustomDataGrain&, std::string& f) { f = temp + "missing"; };
        ASSERT_TRUE(second.GetGrainFileName(*g2, "d", name));
        EXPECT_EQ(name, temp + "d");
    }
    // A changed file reaches OnHandleModify; a locked one does not.
    std::string seen;
    provider.OnHandleModify = [&](TSxCustomProvider&, TSxCustomDataGrain&, TSxByteStream& s) {
        seen.resize(static_cast<size_t>(s.GetSize()));
        s.Read(seen.data(), seen.size());
    };
    provider.DoHandleModify(*grain, n2);
    EXPECT_EQ(seen, "other");
    seen.clear();
    {
        // A file that stays locked is not handed on, and the log says so at level ERROR.
        RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
        WriteRegistryString("Application", "install", temp);
        WriteRegistryInteger("Application", "debug", 1);
        const std::string log = temp + "\\SxProvider.log";
        DeleteFileW(Utf8ToWide(log).c_str());
        THandle lock(CreateFileW(Utf8ToWide(n2).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        provider.ModifyWaitTries = 20;
        provider.DoHandleModify(*grain, n2);
        EXPECT_EQ(seen, "");
        const std::string text = read(log);
        EXPECT_NE(text.find("|ERROR|DoHandleModify: " + n2 + " stays locked"), std::string::npos) << text;
        RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
        DeleteFileW(Utf8ToWide(log).c_str());
    }
    for (const std::string& f : {n1, n2, temp + "c", temp + "d"}) {
        SetFileAttributesW(Utf8ToWide(f).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Utf8ToWide(f).c_str());
    }
}

TEST(ProviderFiles, AFileIsHandedOnWholeOrNotAtAll)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::string path = WideToUtf8(dir) + "SxReadWhole.bin";
    std::string bytes(200 * 1024 + 7, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31);
    {
        std::ofstream out(std::filesystem::path(Utf8ToWide(path)), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    {
        THandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        TSxMemoryStream data = SxReadWholeFile(file.get(), path);
        std::string read(static_cast<size_t>(data.GetSize()), '\0');
        data.Read(read.data(), read.size());
        EXPECT_TRUE(read == bytes);
    }
    {
        // A handle that cannot read: an error, never an empty or cut-off copy.
        THandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        EXPECT_THROW(SxReadWholeFile(file.get(), path), std::runtime_error);
    }
    DeleteFileW(Utf8ToWide(path).c_str());
}

TEST_F(TreeProvider, OpenReportsAProgramThatCannotStart)
{
    auto grain = provider.CreateGrain();
    grain->IsFile = true;
    std::string command = "   ";
    provider.OnGrainOpen = [&](TSxCustomProvider&, TSxCustomDataGrain&, std::string& c, std::string& p, std::string& d) {
        EXPECT_TRUE(c.empty() && p.empty() && d.empty());
        c = command;
    };
    EXPECT_NO_THROW(grain->Open(nullptr, nullptr)) << "a blank command opens nothing";
    command = "c:\\no\\such\\program.exe";
    EXPECT_THROW(grain->Open(nullptr, nullptr), std::runtime_error);
}

TEST_F(TreeProvider, GrainListsAndLiveGrains)
{
    TSxDataGrainList list, copy;
    for (const char* n : {"one", "two"}) {
        auto g = provider.CreateGrain();
        g->Name = n;
        g->Data.Write("xy", 2);
        list.Add(std::move(g));
    }
    copy.Assign(list);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.GetItem(1)->Name, "two");
    EXPECT_EQ(copy.GetItem(1)->Data.Bytes(), list.GetItem(1)->Data.Bytes());
    EXPECT_NE(copy.GetItem(1), list.GetItem(1));
    TSxCustomDataGrain* raw = copy.First();
    EXPECT_TRUE(provider.IsLiveGrain(raw));
    copy.Clear();
    EXPECT_FALSE(provider.IsLiveGrain(raw));
    // Grains left alive are freed with their provider.
    auto other = std::make_unique<TSxByHandProvider>("other");
    other->CreateGrain().release();
    other.reset();
}

TEST_F(TreeProvider, SystemIconsAreCachedAndHandlesFreed)
{
    // Neither lists nor OnGetIcon: every grain shows its system icon, through the provider's own
    // lists over the system image lists.
    auto grain = MakeGrain("report.txt", true);
    EXPECT_EQ(grain->GetIconIndex(false, true), -1) << "a system icon is not wanted";
    const int count = provider.GetLargeIcons()->Count();
    const int index = grain->GetIconIndex(false, false);
    ASSERT_GE(index, 0);
    // Without a grain ID Explorer's repeated requests reuse the slot of the same system image.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(grain->GetIconIndex(false, false), index);
    auto other = MakeGrain("notes.txt", true);
    EXPECT_EQ(other->GetIconIndex(true, false), index);
    EXPECT_LE(provider.GetLargeIcons()->Count(), count + 1);
    EXPECT_EQ(provider.GetLargeIcons()->Count(), provider.GetSmallIcons()->Count());

    // Equal grain IDs share one slot; the first form loaded is shown for both states.
    provider.OnGetGrainID = [](TSxCustomProvider&, TSxCustomDataGrain& g, std::optional<std::string>& id) {
        id = "id:" + g.Name;
    };
    auto folder = MakeGrain("Docs", false);
    const int folderIndex = folder->GetIconIndex(false, false);
    auto twin = MakeGrain("Docs", false);
    EXPECT_EQ(twin->GetIconIndex(true, false), folderIndex);

    HICON large = nullptr, small = nullptr;
    ASSERT_TRUE(grain->GetIconHandles(index, large, small));
    EXPECT_TRUE(large && small);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(small, &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(large);
    DestroyIcon(small);
    EXPECT_FALSE(grain->GetIconHandles(100000, large, small));
    EXPECT_TRUE(large == nullptr && small == nullptr);
    HICON only = nullptr;
    ASSERT_TRUE(grain->GetIcons(index, nullptr, &only));
    EXPECT_TRUE(only);
    DestroyIcon(only);

    // The system icons added no GDI objects that stay behind.
    const DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 50; ++i)
        grain->GetIconIndex(i % 2 == 0, false);
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), before + 4);
}

TEST_F(TreeProvider, ProductIconsAndDefaults)
{
    TSxIconList large, small;
    provider.LargeIcons = &large;
    provider.SmallIcons = &small;
    provider.FolderIconProperty = 7;
    provider.FolderOpenIconProperty = 8;
    provider.ItemIconProperty = 9;
    provider.ItemOpenIconProperty = 10;
    auto folder = MakeGrain("Docs", false);
    auto file = MakeGrain("a.txt", true);
    EXPECT_EQ(folder->GetIconIndex(false, false), 7);
    EXPECT_EQ(folder->GetIconIndex(true, true), 8);
    EXPECT_EQ(file->GetIconIndex(true, false), 10);
    file->IconIndex = 2;
    EXPECT_EQ(file->GetIconIndex(false, false), 2);
    provider.OnGetIcon = [](TSxCustomProvider&, TSxCustomDataGrain& g, int32_t& icon, int32_t& open) {
        if (g.IsFile)
            icon = open = 1;
    };
    EXPECT_EQ(file->GetIconIndex(true, false), 1);
    // With only one list assigned the system indexes count.
    provider.SmallIcons = nullptr;
    EXPECT_NE(folder->GetIconIndex(false, false), 7);
    provider.LargeIcons = nullptr;
}

TEST_F(TreeProvider, OverlaysKeepTheirNumbersAndRunOut)
{
    auto grain = MakeGrain("a.txt", true);
    int32_t index = -1;
    EXPECT_FALSE(provider.GetOverlayIndex(*grain, index)) << "no OnGetOverlayIndex";
    int32_t wanted = 0;
    bool display = true;
    provider.OnGetOverlayIndex = [&](TSxCustomProvider&, TSxCustomDataGrain&, int32_t& overlay, bool& show) {
        EXPECT_EQ(overlay, 0);
        EXPECT_FALSE(show);
        overlay = wanted;
        show = display;
    };
    EXPECT_FALSE(provider.GetOverlayIndex(*grain, index)) << "no overlay lists";
    TSxIconList overlays;
    overlays.SetWidth(16);
    overlays.SetHeight(16);
    const HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    for (int i = 0; i < 16; ++i)
        overlays.AddIcon(icon, "");
    provider.SmallOverlayIcons = &overlays;
    display = false;
    EXPECT_FALSE(provider.GetOverlayIndex(*grain, index));
    display = true;
    ASSERT_TRUE(provider.GetOverlayIndex(*grain, index));
    const int32_t first = index;
    EXPECT_GE(first, 3);
    EXPECT_LE(first, 15);
    const int images = ImageList_GetImageCount(provider.GetSmallIcons()->Handle());
    ASSERT_TRUE(provider.GetOverlayIndex(*grain, index));
    EXPECT_EQ(index, first);
    EXPECT_EQ(ImageList_GetImageCount(provider.GetSmallIcons()->Handle()), images) << "registered once";
    wanted = 99;
    EXPECT_FALSE(provider.GetOverlayIndex(*grain, index)) << "no such overlay icon";
    // New keys get new numbers up to the last overlay slot; then the answer is a failure, and
    // the first key still has its number.
    std::set<int32_t> numbers{first};
    for (wanted = 1; wanted < 16; ++wanted) {
        if (!provider.GetOverlayIndex(*grain, index))
            break;
        EXPECT_TRUE(numbers.insert(index).second) << index;
        EXPECT_LE(index, 15);
    }
    EXPECT_LT(wanted, 16) << "the overlay slots ran out";
    EXPECT_FALSE(provider.GetOverlayIndex(*grain, index));
    wanted = 0;
    ASSERT_TRUE(provider.GetOverlayIndex(*grain, index));
    EXPECT_EQ(index, first);
    provider.SmallOverlayIcons = nullptr;
}

TEST_F(TreeProvider, RefusedOnAPerObjectModule)
{
    std::vector<std::string> boxes;
    SetSxProviderMessage([&](const std::string& text) { boxes.push_back(text); });
    TSxModule module(TSxModuleClass{"TTestModule", nullptr});
    EXPECT_THROW(TSxByHandProvider(&module, "onModule"), EAbort);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "This component cannot be placed on TSxDataModule. Please refer the \r\ncomponent documentation.");
    TSxComponent owner;
    EXPECT_NO_THROW(TSxByHandProvider(&owner, "onComponent"));
    EXPECT_EQ(boxes.size(), 1u);
    SetSxProviderMessage(nullptr);
}

namespace {
LONG noticeCount;
LRESULT CALLBACK NoticeProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 17)
        InterlockedIncrement(&noticeCount);
    return DefWindowProcW(window, message, wParam, lParam);
}
} // namespace

TEST_F(TreeProvider, DefaultChangeNoticeReachesTheShell)
{
    // The real SHChangeNotify path: a window registered for the desktop's notices sees ours.
    SetSxChangeNotice(nullptr);
    const UINT message = WM_APP + 17;
    noticeCount = 0;
    WNDCLASSW cls = {};
    cls.lpfnWndProc = NoticeProbeProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"SxNoticeProbe";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, L"SxNoticeProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    PIDLIST_ABSOLUTE desktop = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop), S_OK);
    SHChangeNotifyEntry entry = {desktop, TRUE};
    const ULONG id = SHChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                            SHCNE_ALLEVENTS, message, 1, &entry);
    auto grain = MakeGrain("Docs", false);
    EXPECT_NO_THROW(provider.NotifyGrainUpdated(*grain)) << "a notice without a list";
    TSxPidlPtr item = grain->GetItemID();
    grain->SetAbsolutePidl(item.get());
    provider.NotifyGrainUpdated(*grain);
    bool seen = false;
    for (int i = 0; i < 200 && !seen && id; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        seen = noticeCount > 0;
        if (!seen)
            Sleep(10);
    }
    if (id) {
        EXPECT_TRUE(seen) << "no notice arrived";
        SHChangeNotifyDeregister(id);
    }
    CoTaskMemFree(desktop);
    DestroyWindow(window);
}

namespace {

// A menu as text: one entry per item, "caption[verb]", "*" for default, "~" for disabled,
// children in braces.
std::string MenuText(const TSxBaseMenuItem& parent)
{
    std::string out;
    for (int i = 0; i < parent.Count(); ++i) {
        const TSxBaseMenuItem& item = *parent.Item(i);
        out += (out.empty() ? "" : " ") + item.Caption;
        if (auto* bound = dynamic_cast<const TSxMenuItem*>(&item); bound && !bound->Verb.empty())
            out += "[" + bound->Verb + "]";
        out += std::string(item.Default ? "*" : "") + (item.Enabled ? "" : "~");
        if (item.Count())
            out += "{" + MenuText(item) + "}";
    }
    return out;
}

} // namespace

TEST_F(TreeProvider, GrainMenusCarryVerbsAndProductItems)
{
    auto file = MakeGrain("a.txt", true);
    auto folder = MakeGrain("Docs", false);
    // The basic verbs are made before the first menu.
    EXPECT_EQ(MenuText(file->BuildContextMenu(false, false, false, nullptr)->Items),
              "\xC3\x96" "ffnen[open]* - Ausschneiden[cut] Kopieren[copy] - L\xC3\xB6schen[delete]~ Umbenennen[rename]~ - "
              "Eigenschaften[properties]");
    ASSERT_TRUE(provider.BasicVerbs.Open && provider.BasicVerbs.Properties);

    // Product menus: common items for every grain, then the file or folder menu; verb items in
    // them are left out, children are copied bound to the grain.
    TSxPopupMenu common, files, folders;
    auto add = [](TSxPopupMenu& menu, const char* caption, bool isDefault = false) -> TSxBaseMenuItem& {
        auto item = std::make_unique<TSxBaseMenuItem>();
        item->Caption = caption;
        item->Default = isDefault;
        return menu.Items.Add(std::move(item));
    };
    TSxBaseMenuItem& send = add(common, "Senden", true);
    auto sub = std::make_unique<TSxBaseMenuItem>();
    sub->Caption = "Mail";
    int clicks = 0;
    sub->OnClick = [&](TSxBaseMenuItem&) { ++clicks; };
    send.Add(std::move(sub));
    common.Items.Add(std::make_unique<TSxBaseMenuItem>()).Caption = "x";
    provider.BasicVerbs.Rename->Caption = "Umbenennen";
    add(files, "Drucken");
    add(folders, "Leeren");
    provider.CommonContextMenu = &common;
    provider.FileContextMenu = &files;
    provider.OnGetFolderContextMenu = [&](TSxCustomProvider&, TSxCustomDataGrain&, TSxPopupMenu*& menu) {
        EXPECT_EQ(menu, nullptr);
        menu = &folders;
    };
    provider.OnHandleDelete = [](TSxCustomProvider&, TSxCustomDataGrain&) {};
    provider.OnQueryDeleteGrain = [](TSxCustomProvider&, TSxCustomDataGrain& g, bool& allow) { allow = g.IsFile; };
    auto menu = file->BuildContextMenu(false, false, true, nullptr);
    EXPECT_EQ(MenuText(menu->Items), "\xC3\x96" "ffnen[open]* Senden*{Mail} x Drucken");
    auto* mail = dynamic_cast<TSxMenuItem*>(menu->Items.Item(1)->Item(0));
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->FirstGrain(), file.get());
    EXPECT_EQ(mail->Provider, &provider);
    mail->Click();
    EXPECT_EQ(clicks, 1);

    // A folder explored: Explore first and default, Open second, Paste among the verbs; with
    // noDefault the verb items keep their own state and copied items lose theirs.
    EXPECT_EQ(MenuText(folder->BuildContextMenu(true, false, false, nullptr)->Items),
              "Explore[explore]* \xC3\x96" "ffnen[open] Senden*{Mail} x Leeren - Ausschneiden[cut] Kopieren[copy] "
              "Einf\xC3\xBCgen[paste]~ - L\xC3\xB6schen[delete]~ Umbenennen[rename]~ - Eigenschaften[properties]");
    EXPECT_EQ(MenuText(folder->BuildContextMenu(false, false, true, nullptr)->Items),
              "\xC3\x96" "ffnen[open]* Explore[explore] Senden*{Mail} x Leeren");
    provider.BasicVerbs.Explore->Default = true;
    EXPECT_EQ(MenuText(folder->BuildContextMenu(false, true, true, nullptr)->Items),
              "\xC3\x96" "ffnen[open] Explore[explore]* Senden{Mail} x Leeren");
    // Delete is enabled by the provider's answer for the grain (here: files only).
    EXPECT_NE(MenuText(file->BuildContextMenu(false, false, false, nullptr)->Items).find("L\xC3\xB6schen[delete] "),
              std::string::npos);

    // The background menu: the provider's background items, then Paste unless noPaste.
    EXPECT_EQ(MenuText(folder->BuildBackgroundMenu(nullptr, false)->Items), "Einf\xC3\xBCgen[paste]~");
    provider.BackgroundContextMenu = &files;
    EXPECT_EQ(MenuText(folder->BuildBackgroundMenu(nullptr, false)->Items), "Drucken - Einf\xC3\xBCgen[paste]~");
    EXPECT_EQ(MenuText(folder->BuildBackgroundMenu(nullptr, true)->Items), "Drucken");

    // A verb item set by the product stays; the menu images are the provider's.
    TSxBaseMenuItem own;
    own.Caption = "Anzeigen";
    provider.BasicVerbs.Open = &own;
    provider.CreateBasicVerbs();
    EXPECT_EQ(provider.BasicVerbs.Open, &own);
    provider.MenuImages = reinterpret_cast<HIMAGELIST>(static_cast<uintptr_t>(0x1234));
    menu = file->BuildContextMenu(false, false, true, nullptr);
    EXPECT_EQ(menu->Items.Item(0)->Caption, "Anzeigen");
    EXPECT_EQ(menu->Images, provider.MenuImages);
}

TEST(ProviderDrops, OneRuleForTheFolderAndTheDropTarget)
{
    using G = TSxCustomDataGrain;
    using P = TSxCustomProvider;
    // Each event assigned alone; an Ex event whose base event is missing does not make a drop.
    const struct {
        const char* event;
        std::function<void(P&)> assign;
        bool accepts;
    } cases[] = {
        {"none", [](P&) {}, false},
        {"OnDataGrainDrop", [](P& p) { p.OnDataGrainDrop = [](P&, G&, G&) {}; }, true},
        {"OnDataGrainDropEx", [](P& p) { p.OnDataGrainDropEx = [](P&, G&, G&, TSxDropInfo&) {}; }, true},
        {"OnNewGrainFromPidl", [](P& p) { p.OnNewGrainFromPidl = [](P&, G&, PCSxItemIDList) {}; }, true},
        {"OnNewGrainFromPidlEx", [](P& p) { p.OnNewGrainFromPidlEx = [](P&, G&, PCSxItemIDList, TSxDropInfo&) {}; },
         false},
        {"OnNewGrainFromFile",
         [](P& p) { p.OnNewGrainFromFile = [](P&, G&, const std::string&, P::GrainPtr&) {}; }, true},
        {"OnNewGrainFromFileEx2",
         [](P& p) {
             p.OnNewGrainFromFileEx2 = [](P&, G&, const std::string&, P::GrainPtr&, TSxDropInfo&, int, bool&) {};
         },
         false},
        {"OnNewGrainFromStream",
         [](P& p) { p.OnNewGrainFromStream = [](P&, G&, const TSxFileInfoDescriptor&, TSxByteStream&) {}; }, true},
        {"OnNewGrainFromStreamEx",
         [](P& p) {
             p.OnNewGrainFromStreamEx = [](P&, G&, const TSxFileInfoDescriptor&, TSxByteStream&, TSxDropInfo&) {};
         },
         false},
    };
    for (const auto& c : cases) {
        P provider("drops");
        c.assign(provider);
        EXPECT_EQ(provider.AcceptsDrops(), c.accepts) << c.event;
    }
}

TEST_F(TreeProvider, PasteIsOfferedForWhatTheProductTakes)
{
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    const wchar_t name[] = L"C:\\a.txt\0";
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + sizeof name);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(global));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, name, sizeof name);
    GlobalUnlock(global);
    SetClipboardData(CF_HDROP, global);
    CloseClipboard();
    EXPECT_FALSE(provider.CanPaste()) << "no drop handlers";
    provider.OnNewGrainFromFileEx2 = [](TSxCustomProvider&, TSxCustomDataGrain&, const std::string&,
                                        TSxCustomProvider::GrainPtr&, TSxDropInfo&, int, bool&) {};
    EXPECT_FALSE(provider.CanPaste()) << "the Ex2 event alone does not count";
    provider.OnNewGrainFromFile = [](TSxCustomProvider&, TSxCustomDataGrain&, const std::string&, TSxCustomProvider::GrainPtr&) {};
    EXPECT_TRUE(provider.CanPaste());
    provider.OnDataGrainDrop = [](TSxCustomProvider&, TSxCustomDataGrain&, TSxCustomDataGrain&) {};
    EXPECT_TRUE(provider.CanPaste());
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
    EXPECT_FALSE(provider.CanPaste());
    OleUninitialize();
}

TEST_F(TreeProvider, AGoingComponentIsNoLongerReferred)
{
    TSxIconList large, small;
    TSxPopupMenu files, folders;
    TSxBaseMenuItem open, other;
    provider.LargeIcons = &large;
    provider.SmallIcons = &small;
    provider.SmallOverlayIcons = &small;
    provider.FileContextMenu = &files;
    provider.FolderContextMenu = &folders;
    provider.BackgroundContextMenu = &files;
    provider.BasicVerbs.Open = &open;
    provider.BasicVerbs.Explore = &open;
    provider.BasicVerbs.Delete = &other;

    provider.Notification(&small);
    provider.Notification(&files);
    provider.Notification(&open);
    provider.Notification(nullptr);
    EXPECT_EQ(provider.LargeIcons, &large);
    EXPECT_EQ(provider.SmallIcons, nullptr);
    EXPECT_EQ(provider.SmallOverlayIcons, nullptr);
    EXPECT_EQ(provider.FileContextMenu, nullptr);
    EXPECT_EQ(provider.BackgroundContextMenu, nullptr);
    EXPECT_EQ(provider.FolderContextMenu, &folders);
    EXPECT_EQ(provider.BasicVerbs.Open, nullptr);
    EXPECT_EQ(provider.BasicVerbs.Explore, nullptr);
    EXPECT_EQ(provider.BasicVerbs.Delete, &other);
    // Menus built afterwards leave the gone ones out.
    auto file = MakeGrain("a.txt", true);
    EXPECT_TRUE(file->BuildContextMenu(false, false, true, nullptr) != nullptr);
    provider.LargeIcons = nullptr;
    provider.FolderContextMenu = nullptr;
    provider.BasicVerbs.Delete = nullptr;
}
