// The online folder's write path in-process, against the private WebDAV server: rename, new folder
// through the folder menu, delete into the trash, for good and inside the trash, emptying the trash,
// drops of local files and of the folder's own items (copy, move, duplicate).
// Each journey is checked in the access log, the server tree, the mirror and the change notices;
// the user's answers come from the dialog seam.
#include "ExtensionTestSupport.h"
#include "SxNamespaceUtils.h"
#include "SxPopupMenu.h"
#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"
#include "uTvrqDialog.h"
#include "uvrqmodPermanent.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <set>

namespace fs = std::filesystem;
using davtest::TDavLogLine;
using davtest::U8Path;
using exttest::TOnlineUser;

namespace {

class WritePath : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        std::string box = std::string("wp_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : box)
            c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        User = std::make_unique<TOnlineUser>(box);
        User->StartTray();
    }
    // The login listing and the module, after a test seeded what it needs beyond the common tree.
    void Connect()
    {
        ASSERT_TRUE(User->Login());
        Module = std::make_unique<TvrqmodPermanent>();
        SetSxChangeNotice([this](LONG eventId, PCSxItemIDList) { Notices.push_back(eventId); });
    }
    void TearDown() override
    {
        SetSxChangeNotice(nullptr);
        Module.reset();
        User.reset();
        CoUninitialize();
    }

    // The grain at a "/" separated path ("" the root), as the folder's populate gives it.
    std::unique_ptr<TSxCustomDataGrain> Grain(const std::string& path)
    {
        std::unique_ptr<TSxCustomDataGrain> current = Module->sxVrqProvider.CreateRootGrain();
        size_t start = 0;
        while (start < path.size()) {
            const size_t slash = path.find('/', start);
            const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            TSxDataGrainList list;
            current->Populate(list);
            std::unique_ptr<TSxCustomDataGrain> found;
            for (int i = 0; i < list.Count(); ++i)
                if (list.GetItem(i)->Name == name) {
                    found = list.Extract(i);
                    break;
                }
            if (!found)
                return nullptr;
            found->PlaceUnder(*current);
            current = std::move(found);
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        return current;
    }
    std::set<std::string> Names(const std::string& folder)
    {
        std::set<std::string> names;
        auto grain = Grain(folder);
        if (!grain)
            return names;
        TSxDataGrainList list;
        grain->Populate(list);
        for (int i = 0; i < list.Count(); ++i)
            names.insert(list.GetItem(i)->Name);
        return names;
    }
    bool OnServer(const std::string& path) const { return TOnlineUser::Dav().Exists(User->Srv(path)); }
    std::vector<TDavLogLine> Requests(size_t mark, size_t atLeast) const
    {
        return TOnlineUser::Dav().LogSince(mark, User->Prefix(), atLeast, 5000);
    }
    // The requests that change something (no listing and no existence tests).
    static std::vector<std::string> Changes(const std::vector<TDavLogLine>& lines)
    {
        std::vector<std::string> changes;
        for (const auto& line : lines)
            if (line.Method != "PROPFIND")
                changes.push_back(line.Method + " " + line.Path + " " + std::to_string(line.Status));
        return changes;
    }
    // Explorer's delete of a selection: the confirmation once, then each item, announced only
    // when its handler did not fail.
    int Delete(const std::vector<std::string>& paths)
    {
        TSxDataGrainList grains;
        for (const auto& path : paths) {
            auto grain = Grain(path);
            if (!grain)
                return -2;
            grains.Add(std::move(grain));
        }
        if (!Module->sxVrqProvider.DoConfirmDelete(grains, nullptr))
            return -1;
        int deleted = 0;
        for (int i = 0; i < grains.Count(); ++i) {
            try {
                Module->sxVrqProvider.DoHandleDelete(*grains.GetItem(i));
                Module->sxVrqProvider.NotifyGrainDeleted(*grains.GetItem(i));
                ++deleted;
            } catch (const std::exception&) {
            }
        }
        return deleted;
    }
    // Clicks the item of a folder's context menu with that caption path ("Neu/Ordner").
    bool ClickMenu(TSxCustomDataGrain& folder, const std::vector<std::string>& captions)
    {
        auto menu = folder.BuildContextMenu(false, false, false, nullptr);
        TSxBaseMenuItem* item = &menu->Items;
        for (const auto& caption : captions) {
            TSxBaseMenuItem* next = nullptr;
            for (int i = 0; i < item->Count(); ++i)
                if (item->Item(i)->Caption == caption && item->Item(i)->Visible)
                    next = item->Item(i);
            if (!next)
                return false;
            item = next;
        }
        item->Click();
        return true;
    }
    TVirtualFileRecord Record(const std::string& path)
    {
        auto grain = Grain(path);
        EXPECT_TRUE(grain) << path;
        return grain ? Module->ReadRecord(grain->GetValue("vCacheName")) : TVirtualFileRecord{};
    }
    bool Contains(const std::vector<LONG>& events, LONG id) const
    {
        return std::find(events.begin(), events.end(), id) != events.end();
    }

    std::unique_ptr<TOnlineUser> User;
    std::unique_ptr<TvrqmodPermanent> Module;
    std::vector<LONG> Notices;
};

void PressShift(bool down)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

} // namespace

// ---- Rename

TEST_F(WritePath, RenamingAFileMovesItOnTheServerAndItsRecordFollows)
{
    Connect();
    auto parent = Grain("Dokumente");
    auto grain = Grain("Dokumente/Überblick.txt");
    ASSERT_TRUE(grain);
    TvrqScriptedAnswers answers({});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(Module->sxVrqProvider.RenameGrain(*parent, *grain, "Überblick 2025.txt"), S_OK);
    const auto lines = Requests(mark, 2);
    ASSERT_FALSE(lines.empty());
    auto move = std::find_if(lines.begin(), lines.end(), [](const TDavLogLine& l) { return l.Method == "MOVE"; });
    ASSERT_NE(move, lines.end());
    EXPECT_EQ(move->Path, User->Prefix() + "Dokumente/Überblick.txt");
    EXPECT_NE(move->Destination.find("Dokumente/%C3%9Cberblick%202025.txt"), std::string::npos) << move->Destination;
    EXPECT_EQ(move->Overwrite, "F");
    EXPECT_TRUE(answers.Asked.empty());
    EXPECT_EQ(TOnlineUser::Dav().ReadFile(User->Srv("Dokumente/Überblick 2025.txt")),
              exttest::SeededText("Dokumente/Überblick.txt"));
    EXPECT_FALSE(OnServer("Dokumente/Überblick.txt"));
    EXPECT_EQ(grain->Name, "Überblick 2025.txt");
    EXPECT_NE(grain->GetValue("vFilePath").find("Dokumente\\Überblick 2025.txt"), std::string::npos);
    const auto names = Names("Dokumente");
    EXPECT_TRUE(names.count("Überblick 2025.txt"));
    EXPECT_FALSE(names.count("Überblick.txt"));
}

TEST_F(WritePath, RenamingAFolderCarriesTheRecordsBelowAndAnOpenDocumentsSidecar)
{
    Connect();
    // A document opened from the folder before: its sidecar names the server place.
    TVirtualFileRecord open = Record("Fotos/Urlaub 2024/Tag 1.jpg");
    ASSERT_EQ(open.Path, "Fotos\\Urlaub 2024");
    const fs::path sidecar = U8Path(Module->OpenFileOf("Fotos\\Urlaub 2024\\Tag 1.jpg") + ".sxc");
    const auto bytes = RecordToBytes(open);
    exttest::WriteLocal(sidecar, std::string(bytes.begin(), bytes.end()));
    // Changed after its download, and not sent yet.
    const std::string document = Module->OpenFileOf("Fotos\\Urlaub 2024\\Tag 1.jpg");
    Sleep(20);
    exttest::WriteLocal(U8Path(document), "lokal bearbeitet");
    ASSERT_FALSE(shl_OpenDocumentSent(document));

    auto root = Grain("");
    auto grain = Grain("Fotos");
    TvrqScriptedAnswers answers({});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(Module->sxVrqProvider.RenameGrain(*root, *grain, "Bilder 2024"), S_OK);
    const auto changes = Changes(Requests(mark, 2));
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front(), "MOVE " + User->Prefix() + "Fotos/ 201");
    EXPECT_TRUE(OnServer("Bilder 2024/Urlaub 2024/Tag 1.jpg"));
    EXPECT_FALSE(OnServer("Fotos"));
    EXPECT_EQ(grain->GetValue("vCacheName"), Module->Storage->FolderDirectory("Bilder 2024"));
    // The records below carry the new path; the old folder is gone from the mirror.
    EXPECT_EQ(Record("Bilder 2024/Urlaub 2024/Tag 1.jpg").Path, "Bilder 2024\\Urlaub 2024");
    EXPECT_EQ(Record("Bilder 2024/Strand 1.jpg").Path, "Bilder 2024");
    const auto rootNames = Names("");
    EXPECT_TRUE(rootNames.count("Bilder 2024"));
    EXPECT_FALSE(rootNames.count("Fotos"));
    TVirtualFileRecord moved;
    Module->Storage->LoadVirtualFileStorageFromFile(davtest::PathU8(sidecar), moved);
    EXPECT_EQ(moved.Path, "Bilder 2024\\Urlaub 2024");
    EXPECT_EQ(moved.Name, "Tag 1.jpg");
    // The rewritten sidecar still tells that the document holds changes the server has not got.
    EXPECT_FALSE(shl_OpenDocumentSent(document));
}

TEST_F(WritePath, ARenameThatWouldReplaceOrHasAForbiddenCharacterIsRefusedAndTold)
{
    Connect();
    struct Row {
        std::string item, newName, warning;
    } rows[] = {
        {"Dokumente/a b#c.txt", "Überblick.txt", Txt(63)},     // a file of that name
        {"Fotos", "Dokumente", Txt(63)},                       // a folder of that name
        {"readme.txt", "Fotos", Txt(63)},                      // a file onto a folder's name
        {"Dokumente/a b#c.txt", "a:b.txt", Txt(66)},           // Explorer's edit lets a colon through
    };
    for (const auto& row : rows) {
        auto grain = Grain(row.item);
        ASSERT_TRUE(grain) << row.item;
        auto parent = Grain(row.item.find('/') == std::string::npos ? "" : row.item.substr(0, row.item.rfind('/')));
        const std::string before = grain->Name;
        TvrqScriptedAnswers answers({});
        const size_t mark = TOnlineUser::Dav().LogMark();
        EXPECT_EQ(Module->sxVrqProvider.RenameGrain(*parent, *grain, row.newName), HRESULT_FROM_WIN32(ERROR_CANCELLED))
            << row.item << " -> " << row.newName;
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
        EXPECT_EQ(answers.Asked[0].Text, row.warning);
        EXPECT_EQ(grain->Name, before);
        EXPECT_TRUE(Changes(Requests(mark, 0)).empty()) << row.item;
        EXPECT_TRUE(OnServer(row.item));
    }
}

// ---- New folder

TEST_F(WritePath, NewFolderProposesTheFirstFreeNameMakesItOnTheServerAndAnnouncesIt)
{
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Neuer Ordner"));
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Neuer Ordner 1"));
    Connect();
    auto folder = Grain("Dokumente");
    {
        // Typing a name the mirror holds: told, nothing made.
        TvrqScriptedAnswers answers({{mrOk, false, "Neuer Ordner 1"}});
        const size_t mark = TOnlineUser::Dav().LogMark();
        ASSERT_TRUE(ClickMenu(*folder, {"Neu", "Ordner"}));
        ASSERT_EQ(answers.Asked.size(), 2u);
        EXPECT_EQ(answers.Asked[0].Name, "Neuer Ordner 2");
        EXPECT_EQ(answers.Asked[1].Text, Txt(61));
        EXPECT_TRUE(Changes(Requests(mark, 0)).empty());
    }
    Notices.clear();
    TvrqScriptedAnswers answers({{mrOk, false, "Neuer Ordner 2"}});
    const size_t mark = TOnlineUser::Dav().LogMark();
    ASSERT_TRUE(ClickMenu(*folder, {"Neu", "Ordner"}));
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::NewFolderForm);
    EXPECT_EQ(answers.Asked[0].Name, "Neuer Ordner 2");   // the proposal
    const auto changes = Changes(Requests(mark, 2));
    ASSERT_GE(changes.size(), 1u);
    EXPECT_EQ(changes[0], "MKCOL " + User->Prefix() + "Dokumente/Neuer Ordner 2/ 201");
    EXPECT_TRUE(OnServer("Dokumente/Neuer Ordner 2"));
    EXPECT_TRUE(Names("Dokumente").count("Neuer Ordner 2"));
    EXPECT_TRUE(Contains(Notices, SHCNE_MKDIR));
    EXPECT_TRUE(Contains(Notices, SHCNE_UPDATEDIR));
    // It can be renamed and deleted at once.
    auto made = Grain("Dokumente/Neuer Ordner 2");
    ASSERT_TRUE(made);
    EXPECT_TRUE(Module->sxVrqProvider.CanRenameGrain(*made));
    EXPECT_TRUE(Module->sxVrqProvider.CanDeleteGrain(*made));
}

TEST_F(WritePath, ANewFolderTheServerRefusesIsToldAndNotShown)
{
    Connect();
    auto folder = Grain("Dokumente");
    // The server has the folder, the mirror does not know it yet: MKCOL is refused.
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Neuer Ordner"));
    TvrqScriptedAnswers answers({{mrOk, false, "Neuer Ordner"}});
    Notices.clear();
    ASSERT_TRUE(ClickMenu(*folder, {"Neu", "Ordner"}));
    ASSERT_EQ(answers.Asked.size(), 2u);
    EXPECT_EQ(answers.Asked[1].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_FALSE(Contains(Notices, SHCNE_MKDIR));
}

// ---- Delete, trash, emptying

TEST_F(WritePath, DeleteMovesIntoTheTrashWithTheNextFreeNameThere)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Gelöschte Dateien/readme.txt"), "the one already in the trash");
    Connect();
    const std::string before = TOnlineUser::Dav().ReadFile(User->Srv("readme.txt"));
    TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(Delete({"readme.txt"}), 1);
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::DeleteForm);
    const auto lines = Requests(mark, 3);
    auto move = std::find_if(lines.begin(), lines.end(), [](const TDavLogLine& l) { return l.Method == "MOVE"; });
    ASSERT_NE(move, lines.end());
    EXPECT_EQ(move->Status, 201);
    EXPECT_EQ(move->Overwrite, "F");
    EXPECT_EQ(TOnlineUser::Dav().ReadFile(User->Srv("Gelöschte Dateien/readme.txt")), "the one already in the trash");
    EXPECT_EQ(TOnlineUser::Dav().ReadFile(User->Srv("Gelöschte Dateien/Kopie von readme.txt")), before);
    EXPECT_FALSE(OnServer("readme.txt"));
    EXPECT_FALSE(Names("").count("readme.txt"));
    EXPECT_TRUE(Names("Gelöschte Dateien").count("Kopie von readme.txt"));
    EXPECT_EQ(Record("Gelöschte Dateien/Kopie von readme.txt").Path, "Gelöschte Dateien");
    EXPECT_TRUE(Contains(Notices, SHCNE_DELETE));

    // A folder goes whole, its records below with the trash's path.
    TvrqScriptedAnswers second({TvrqScriptedAnswer(mrYes)});
    EXPECT_EQ(Delete({"Fotos"}), 1);
    EXPECT_TRUE(OnServer("Gelöschte Dateien/Fotos/Urlaub 2024/Tag 1.jpg"));
    EXPECT_FALSE(OnServer("Fotos"));
    EXPECT_EQ(Record("Gelöschte Dateien/Fotos/Urlaub 2024/Tag 1.jpg").Path, "Gelöschte Dateien\\Fotos\\Urlaub 2024");
    EXPECT_FALSE(Names("").count("Fotos"));
}

TEST_F(WritePath, TheFirstDeleteMakesTheTrashOnTheServerAndInTheMirror)
{
    fs::remove_all(TOnlineUser::Dav().Local(User->Srv("Gelöschte Dateien")));
    Connect();
    ASSERT_FALSE(Names("").count("Gelöschte Dateien"));
    TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(Delete({"Dokumente/報告書.txt"}), 1);
    const auto changes = Changes(Requests(mark, 4));
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes[0], "MKCOL " + User->Prefix() + "Gelöschte Dateien/ 201");
    EXPECT_TRUE(OnServer("Gelöschte Dateien/報告書.txt"));
    EXPECT_TRUE(Names("").count("Gelöschte Dateien"));
    EXPECT_EQ(Names("Gelöschte Dateien"), std::set<std::string>{"報告書.txt"});
}

TEST_F(WritePath, ShiftDeleteInsideTheTrashAndThePermanentChoiceDeleteForGood)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Alte Gelöschte Dateien/noch da.txt"), std::string(100, 'n'));
    Connect();
    struct Row {
        std::string item;
        bool shift;
        TvrqScriptedAnswer answer;
        TvrqQuestionKind asked;
        std::string trashed;   // where it lands in the trash, "" when deleted for good
    } rows[] = {
        {"Dokumente/a b#c.txt", true, {mrYes}, TvrqQuestionKind::YesNoBox, ""},
        {"Gelöschte Dateien/alt.txt", false, {mrYes}, TvrqQuestionKind::YesNoBox, ""},
        {"Dokumente/Bericht 100%.txt", false, {mrYes, true}, TvrqQuestionKind::DeleteForm, ""},
        // A folder whose name merely contains the trash's name is no trash.
        {"Alte Gelöschte Dateien/noch da.txt", false, {mrYes}, TvrqQuestionKind::DeleteForm,
         "Gelöschte Dateien/noch da.txt"},
    };
    for (const auto& row : rows) {
        PressShift(row.shift);
        TvrqScriptedAnswers answers({row.answer});
        const size_t mark = TOnlineUser::Dav().LogMark();
        EXPECT_EQ(Delete({row.item}), 1) << row.item;
        PressShift(false);
        ASSERT_EQ(answers.Asked.size(), 1u) << row.item;
        EXPECT_EQ(answers.Asked[0].Kind, row.asked) << row.item;
        const auto changes = Changes(Requests(mark, 1));
        ASSERT_FALSE(changes.empty()) << row.item;
        EXPECT_EQ(changes[0].substr(0, changes[0].find(' ')), row.trashed.empty() ? "DELETE" : "MOVE") << row.item;
        EXPECT_FALSE(OnServer(row.item)) << row.item;
        if (!row.trashed.empty()) {
            EXPECT_TRUE(OnServer(row.trashed)) << row.item;
        }
        EXPECT_FALSE(Grain(row.item)) << row.item;
    }
    EXPECT_EQ(Names("Gelöschte Dateien"), std::set<std::string>{"noch da.txt"});
}

TEST_F(WritePath, EmptyingTheTrashDeletesEachItemForGood)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Gelöschte Dateien/Ordner alt/x.txt"), "x");
    Connect();
    auto trash = Grain("Gelöschte Dateien");
    auto root = Grain("");
    // Only the trash offers the command; every other folder offers "Neu".
    EXPECT_FALSE(ClickMenu(*Grain("Dokumente"), {Txt(52)}));
    TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
    const size_t mark = TOnlineUser::Dav().LogMark();
    ASSERT_TRUE(ClickMenu(*trash, {Txt(52)}));
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
    EXPECT_EQ(answers.Asked[0].Text, "Sollen diese 2 Elemente wirklich gelöscht werden?");
    std::multiset<std::string> deletes;
    for (const auto& change : Changes(Requests(mark, 3)))
        if (change.rfind("DELETE ", 0) == 0 && change.find(".thumb") == std::string::npos)
            deletes.insert(change);
    EXPECT_EQ(deletes, (std::multiset<std::string>{"DELETE " + User->Prefix() + "Gelöschte Dateien/Ordner alt/ 204",
                                                   "DELETE " + User->Prefix() + "Gelöschte Dateien/alt.txt 204"}));
    EXPECT_TRUE(OnServer("Gelöschte Dateien"));
    EXPECT_TRUE(Names("Gelöschte Dateien").empty());
    // Emptying an empty trash asks nothing.
    TvrqScriptedAnswers none({});
    ASSERT_TRUE(ClickMenu(*Grain("Gelöschte Dateien"), {Txt(52)}));
    EXPECT_TRUE(none.Asked.empty());
}

TEST_F(WritePath, AProtectedFolderAnywhereInASelectionStopsTheDeleteAndTheUserIsTold)
{
    Connect();
    TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(Delete({"readme.txt", "Neue Dateianlagen"}), -1);
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_NE(answers.Asked[0].Text.find("Neue Dateianlagen"), std::string::npos);
    EXPECT_TRUE(Changes(Requests(mark, 0)).empty());
    EXPECT_TRUE(OnServer("readme.txt"));
    EXPECT_TRUE(OnServer("Neue Dateianlagen"));
    EXPECT_TRUE(Names("").count("readme.txt"));
}

TEST_F(WritePath, ADeleteNobodyConfirmedNeverReachesTheServer)
{
    Connect();
    {
        // The user confirms permanent deletion of one item ...
        PressShift(true);
        TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
        EXPECT_EQ(Delete({"Dokumente/a b#c.txt"}), 1);
        PressShift(false);
    }
    // ... and later a vanished temporary copy reports another item deleted.
    auto grain = Grain("readme.txt");
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_THROW(Module->sxVrqProvider.DoHandleDelete(*grain), std::exception);
    EXPECT_TRUE(Changes(Requests(mark, 0)).empty());
    EXPECT_TRUE(OnServer("readme.txt"));
    EXPECT_TRUE(Names("").count("readme.txt"));
}

// ---- Drop and paste

namespace {

// Local files of a user: equal sizes and one modification time, non-ASCII names.
std::vector<std::string> LocalFiles(const std::string& folder, const std::vector<std::string>& names,
                                    const std::string& fill)
{
    std::vector<std::string> paths;
    for (const auto& name : names) {
        const std::string path = folder + name;
        exttest::WriteLocal(U8Path(path), std::string(1000, fill[0]));
        paths.push_back(path);
    }
    return paths;
}

} // namespace

class Drop : public WritePath {
protected:
    // The framework's file drop: BeforeDrop, one event per file with the drop's count, AfterDrop.
    int DropFiles(TSxCustomDataGrain& folder, const std::vector<std::string>& files)
    {
        auto& provider = Module->sxVrqProvider;
        if (!provider.DoBeforeDrop(folder, nullptr))
            return -1;
        int stored = 0;
        for (const auto& file : files) {
            TSxDropInfo info;
            info.Effect = SxDropCopy;
            std::unique_ptr<TSxCustomDataGrain> grain;
            bool cont = true;
            provider.DoNewGrainFromFile(folder, file, grain, info, static_cast<int>(files.size()), cont);
            if (grain)
                ++stored;
            if (!cont)
                break;
        }
        provider.DoAfterDrop(folder, nullptr);
        return stored;
    }
    // The framework's drop of own grains (paste or drag inside the folder); for a move, the
    // completion with the grains whose effect stayed move. Returns the grains moved.
    int DropGrains(const std::string& target, const std::vector<std::string>& items, TSxDropEffects effect)
    {
        auto& provider = Module->sxVrqProvider;
        auto folder = Grain(target);
        if (!folder || !provider.DoBeforeDrop(*folder, nullptr))
            return -1;
        TSxDataGrainList moved;
        for (const auto& item : items) {
            auto grain = Grain(item);
            if (!grain)
                return -2;
            auto sent = grain->Clone();
            sent->PlaceUnder(*folder);
            TSxDropInfo info;
            info.Effect = effect;
            provider.DoDataGrainDrop(*folder, *sent, info);
            if (info.ReportedEffect() & SxDropMove)
                moved.Add(std::move(grain));
        }
        provider.DoAfterDrop(*folder, nullptr);
        if (effect & SxDropMove && moved.Count() > 0 && provider.OnGrainMoved)
            provider.OnGrainMoved(provider, moved);
        return moved.Count();
    }
    std::string Server(const std::string& path) const
    {
        return OnServer(path) ? TOnlineUser::Dav().ReadFile(User->Srv(path)) : "<none>";
    }
};

TEST_F(Drop, LocalFilesAreUploadedAndAReplaceHappensOnlyOnYes)
{
    Connect();
    const std::string local = User->Install + "Eigene Dateien\\";
    const auto files = LocalFiles(local, {"Brief an Jürgen.txt", "Überblick.txt", "Rechnung #7.txt"}, "b");
    const std::string old = exttest::SeededText("Dokumente/Überblick.txt");
    auto folder = Grain("Dokumente");
    {
        // No for the existing file holds for it only: the file after it goes up.
        TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrNo)});
        const size_t mark = TOnlineUser::Dav().LogMark();
        EXPECT_EQ(DropFiles(*folder, files), 2);
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::OverwriteForm);
        const auto changes = Changes(Requests(mark, 4));
        EXPECT_EQ(changes, (std::vector<std::string>{"PUT " + User->Prefix() + "Dokumente/Brief an Jürgen.txt 201",
                                                     "PUT " + User->Prefix() + "Dokumente/Rechnung #7.txt 201"}));
        EXPECT_EQ(Server("Dokumente/Überblick.txt"), old);
        EXPECT_EQ(Server("Dokumente/Brief an Jürgen.txt"), std::string(1000, 'b'));
        const auto names = Names("Dokumente");
        EXPECT_TRUE(names.count("Brief an Jürgen.txt") && names.count("Rechnung #7.txt"));
        EXPECT_TRUE(Contains(Notices, SHCNE_UPDATEDIR));
    }
    // Yes: the PUT replaces it; no DELETE before it; one record of that name.
    TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(DropFiles(*folder, {files[1]}), 1);
    const auto changes = Changes(Requests(mark, 2));
    EXPECT_EQ(changes, std::vector<std::string>{"PUT " + User->Prefix() + "Dokumente/Überblick.txt 204"});
    EXPECT_EQ(Server("Dokumente/Überblick.txt"), std::string(1000, 'b'));
    int records = 0;
    for (const auto& file : Module->Storage->ListRecordFiles(Module->Storage->FolderDirectory("Dokumente")))
        records += Module->ReadRecord(file).Name == "Überblick.txt";
    EXPECT_EQ(records, 1);
    EXPECT_EQ(Record("Dokumente/Überblick.txt").Size, 1000);
}

TEST_F(Drop, AnUploadTheServerRefusesKeepsItsFileAndTellsTheUser)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/readonly/Plan.txt"), "the server's plan");
    Connect();
    const auto files = LocalFiles(User->Install + "Eigene Dateien\\", {"Plan.txt", "Neu.txt"}, "p");
    auto folder = Grain("Dokumente/readonly");
    ASSERT_TRUE(folder);
    TvrqScriptedAnswers answers({TvrqScriptedAnswer(mrYes)});
    EXPECT_EQ(DropFiles(*folder, files), 0);
    ASSERT_EQ(answers.Asked.size(), 3u);   // the replace question, then a warning per refused file
    EXPECT_EQ(answers.Asked[1].Text, FormatTableText(Txt(64), "Plan.txt"));
    EXPECT_EQ(answers.Asked[2].Text, FormatTableText(Txt(64), "Neu.txt"));
    EXPECT_EQ(Server("Dokumente/readonly/Plan.txt"), "the server's plan");
    EXPECT_EQ(Names("Dokumente/readonly"), std::set<std::string>{"Plan.txt"});
    EXPECT_EQ(Record("Dokumente/readonly/Plan.txt").Size, 17);
}

TEST_F(Drop, TheServerGoneInMidDropLosesNothingAndIsTold)
{
    Connect();
    const auto files = LocalFiles(User->Install + "Eigene Dateien\\", {"Überblick.txt", "Neu.txt"}, "g");
    auto folder = Grain("Dokumente");
    // While the user answers the first file's replace question the server goes away: that file
    // still goes on the connection it had, the next one cannot.
    std::vector<TvrqQuestion> asked;
    SetDialogAnswers([&](TvrqQuestion& question) {
        asked.push_back(question);
        if (question.Kind == TvrqQuestionKind::OverwriteForm)
            WriteRegistryString("Connection", "host", "http://127.0.0.1:9/dav");
        return mrYes;
    });
    const int stored = DropFiles(*folder, files);
    SetDialogAnswers(nullptr);
    EXPECT_EQ(stored, 1);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_EQ(asked[1].Text, FormatTableText(Txt(64), "Neu.txt"));
    EXPECT_EQ(Server("Dokumente/Überblick.txt"), std::string(1000, 'g'));
    EXPECT_FALSE(OnServer("Dokumente/Neu.txt"));
    const auto names = Names("Dokumente");
    EXPECT_TRUE(names.count("Überblick.txt"));
    EXPECT_FALSE(names.count("Neu.txt"));
}

TEST_F(Drop, CopyAndMoveInsideTheFolder)
{
    Connect();
    TvrqScriptedAnswers answers({});
    size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(DropGrains("Fotos", {"Dokumente/Überblick.txt"}, SxDropCopy), 0);
    auto lines = Requests(mark, 2);
    auto copy = std::find_if(lines.begin(), lines.end(), [](const TDavLogLine& l) { return l.Method == "COPY"; });
    ASSERT_NE(copy, lines.end());
    EXPECT_EQ(copy->Status, 201);
    EXPECT_EQ(copy->Overwrite, "F");
    EXPECT_EQ(Server("Fotos/Überblick.txt"), exttest::SeededText("Dokumente/Überblick.txt"));
    EXPECT_EQ(Server("Dokumente/Überblick.txt"), exttest::SeededText("Dokumente/Überblick.txt"));
    EXPECT_EQ(Record("Fotos/Überblick.txt").Path, "Fotos");
    EXPECT_TRUE(Names("Dokumente").count("Überblick.txt"));

    // A move: the copy, then the source goes once the copy is stored.
    EXPECT_EQ(DropGrains("Dokumente", {"readme.txt", "Fotos/Urlaub 2024"}, SxDropMove), 2);
    EXPECT_EQ(Server("Dokumente/readme.txt"), exttest::SeededText("readme.txt"));
    EXPECT_TRUE(OnServer("Dokumente/Urlaub 2024/Tag 1.jpg"));
    EXPECT_FALSE(OnServer("readme.txt"));
    EXPECT_FALSE(OnServer("Fotos/Urlaub 2024"));
    EXPECT_FALSE(Names("").count("readme.txt"));
    EXPECT_FALSE(Names("Fotos").count("Urlaub 2024"));
    EXPECT_TRUE(Names("Dokumente/Urlaub 2024").count("Tag 1.jpg"));
    EXPECT_EQ(Record("Dokumente/Urlaub 2024/Tag 1.jpg").Path, "Dokumente\\Urlaub 2024");
    EXPECT_TRUE(answers.Asked.empty());
}

TEST_F(Drop, ACopyIntoItsOwnFolderGetsTheNextCopyName)
{
    Connect();
    TvrqScriptedAnswers answers({});
    EXPECT_EQ(DropGrains("Dokumente", {"Dokumente/Überblick.txt"}, SxDropCopy), 0);
    EXPECT_EQ(DropGrains("Dokumente", {"Dokumente/Überblick.txt"}, SxDropCopy), 0);
    EXPECT_EQ(Server("Dokumente/Kopie von Überblick.txt"), exttest::SeededText("Dokumente/Überblick.txt"));
    EXPECT_EQ(Server("Dokumente/Kopie (2) von Überblick.txt"), exttest::SeededText("Dokumente/Überblick.txt"));
    const auto names = Names("Dokumente");
    EXPECT_TRUE(names.count("Überblick.txt") && names.count("Kopie von Überblick.txt") &&
                names.count("Kopie (2) von Überblick.txt"));
    // A move onto its own place does nothing.
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(DropGrains("Dokumente", {"Dokumente/Überblick.txt"}, SxDropMove), 0);
    EXPECT_TRUE(Changes(Requests(mark, 0)).empty());
    EXPECT_TRUE(OnServer("Dokumente/Überblick.txt"));
}

// A move out of the folder (to a local folder): the target takes the contents, then reports the
// move. Only what was handed over in whole goes from the server.
TEST_F(Drop, AMoveOutDeletesOnlyWhatWasHandedOverInWhole)
{
    Connect();
    auto& provider = Module->sxVrqProvider;
    TvrqScriptedAnswers answers({});
    auto handOut = [&](const std::string& path, const std::string& expected) {
        auto file = Grain(path);
        ASSERT_TRUE(file) << path;
        TSxMemoryStream contents;
        provider.OnGetGrainFileContents(provider, *file, contents);
        std::string bytes(static_cast<size_t>(contents.GetSize()), '\0');
        bytes.resize(contents.Read(bytes.data(), bytes.size()));
        EXPECT_EQ(bytes, expected) << path;
    };
    auto reportMoved = [&](const std::vector<std::string>& items) {
        TSxDataGrainList moved;
        for (const auto& item : items)
            moved.Add(Grain(item));
        const size_t mark = TOnlineUser::Dav().LogMark();
        provider.OnGrainMoved(provider, moved);
        const auto changes = Changes(Requests(mark, 0));
        return std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("DELETE", 0) == 0; });
    };
    handOut("Dokumente/Überblick.txt", exttest::SeededText("Dokumente/Überblick.txt"));
    EXPECT_EQ(reportMoved({"Dokumente/Überblick.txt", "readme.txt", "Fotos/Urlaub 2024"}), 2) << "the file and its thumbnail";
    EXPECT_FALSE(OnServer("Dokumente/Überblick.txt"));
    EXPECT_FALSE(Names("Dokumente").count("Überblick.txt"));
    EXPECT_TRUE(OnServer("readme.txt")) << "never handed over";
    EXPECT_TRUE(OnServer("Fotos/Urlaub 2024/Tag 1.jpg"));

    // A folder goes only when every file the server holds in it now was handed over: here another
    // client put one there after the drag began.
    handOut("Fotos/Urlaub 2024/Tag 1.jpg", Server("Fotos/Urlaub 2024/Tag 1.jpg"));
    TOnlineUser::Dav().WriteFile(User->Srv("Fotos/Urlaub 2024/vom Kollegen.txt"), "neu");
    EXPECT_EQ(reportMoved({"Fotos/Urlaub 2024"}), 0);
    EXPECT_EQ(Server("Fotos/Urlaub 2024/vom Kollegen.txt"), "neu");
    EXPECT_TRUE(Names("Fotos/Urlaub 2024").count("vom Kollegen.txt")) << "the listing of the folder is new";
    handOut("Fotos/Urlaub 2024/vom Kollegen.txt", "neu");
    EXPECT_GE(reportMoved({"Fotos/Urlaub 2024"}), 1);
    EXPECT_FALSE(OnServer("Fotos/Urlaub 2024"));
    EXPECT_FALSE(Names("Fotos").count("Urlaub 2024"));
    EXPECT_TRUE(answers.Asked.empty());

    // A failed download hands nothing over: the move report deletes nothing.
    auto lost = Grain("readme.txt");
    ASSERT_TRUE(lost);
    fs::remove(TOnlineUser::Dav().Local(User->Srv("readme.txt")));
    TSxMemoryStream none;
    EXPECT_ANY_THROW(provider.OnGetGrainFileContents(provider, *lost, none));
    TSxDataGrainList again;
    again.Add(std::move(lost));
    const size_t before = TOnlineUser::Dav().LogMark();
    provider.OnGrainMoved(provider, again);
    const auto after = Changes(Requests(before, 0));
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const std::string& c) { return c.rfind("DELETE", 0) == 0; }), 0);
    EXPECT_TRUE(Names("").count("readme.txt"));
}

TEST_F(Drop, FaultsOfAMoveLeaveEverySourceWhoseCopyFailed)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/Urlaub 2024/eigenes.txt"), "kept");
    TOnlineUser::Dav().MakeFolder(User->Srv("Leer"));
    Connect();
    // Two folders; the first has a namesake at the target (refused), the second goes.
    TvrqScriptedAnswers answers({});
    EXPECT_EQ(DropGrains("Dokumente", {"Fotos/Urlaub 2024", "Leer"}, SxDropMove), 1);
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_TRUE(OnServer("Fotos/Urlaub 2024/Tag 1.jpg"));
    EXPECT_EQ(Server("Dokumente/Urlaub 2024/eigenes.txt"), "kept");
    EXPECT_FALSE(OnServer("Dokumente/Urlaub 2024/Tag 1.jpg"));
    EXPECT_TRUE(OnServer("Dokumente/Leer"));
    EXPECT_FALSE(OnServer("Leer"));
    EXPECT_TRUE(Names("Fotos").count("Urlaub 2024"));

    // A refused COPY (the target folder went from the server behind the mirror's back).
    fs::remove_all(TOnlineUser::Dav().Local(User->Srv("Meine Bilder")));
    TvrqScriptedAnswers second({});
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(DropGrains("Meine Bilder", {"readme.txt"}, SxDropMove), 0);
    const auto changes = Changes(Requests(mark, 1));
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0].substr(0, 5), "COPY ");
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("DELETE", 0) == 0; }), 0);
    ASSERT_EQ(second.Asked.size(), 1u);
    EXPECT_EQ(second.Asked[0].Text, FormatTableText(Txt(64), "readme.txt"));
    EXPECT_TRUE(OnServer("readme.txt"));
    EXPECT_TRUE(Names("").count("readme.txt"));
}

// ---- Texts with a name or a number

// Every warning and question of the online folder that names an item or counts items, as the
// user reads it: the whole text, never a "%s" or "%d" left in it.
TEST_F(Drop, EveryTextWithANameOrANumberReachesTheUserWhole)
{
    TOnlineUser::Dav().WriteFile(User->Srv("nocopy/Vertrag.txt"), "vertrag");
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/readme.txt"), "the documents' own");
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Fotos"));
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/readonly/Plan.txt"), "plan");
    TOnlineUser::Dav().WriteFile(User->Srv("Ablage/Brief.txt"), "brief");
    TOnlineUser::Dav().WriteFile(User->Srv("Weg/alt.txt"), "alt");
    Connect();
    const std::string local = User->Install + "Eigene Dateien\\";
    exttest::WriteLocal(U8Path(local + "Überblick.txt"), "mine");
    exttest::WriteLocal(U8Path(local + "Plan.txt"), "mine");
    auto gone = [&](const std::string& path) { fs::remove_all(TOnlineUser::Dav().Local(User->Srv(path))); };
    auto open = [&](const std::string& path) {
        std::string command, parameters, directory;
        Module->sxVrqProviderGrainOpen(*Grain(path), command, parameters, directory);
    };
    auto& provider = Module->sxVrqProvider;
    const std::string replaceFile = "Dieser Ordner enthält bereits eine Datei \"%s\".\r\n\r\nMöchten Sie die "
                                    "existierende Datei mit dieser ersetzen?";
    struct Row {
        const char* what;
        int language;
        std::vector<TvrqScriptedAnswer> script;   // the user's answers; beyond them Cancel
        std::function<void()> act;
        std::vector<std::string> texts;           // every text shown, in order
    } rows[] = {
        {"open fails", 0, {}, [&] { gone("Dokumente/a b#c.txt"); open("Dokumente/a b#c.txt"); },
         {"Die Datei \"a b#c.txt\" konnte nicht geöffnet werden."}},
        {"open fails, English", 1, {}, [&] { open("Dokumente/a b#c.txt"); },
         {"The file \"a b#c.txt\" cannot be opened."}},
        {"delete a file", 0, {}, [&] { Delete({"readme.txt"}); },
         {"Möchten Sie \"readme.txt\" in den Ordner \"Gelöschte Dateien\" verschieben\r\noder unwiderruflich löschen?"}},
        {"delete a file for good", 0, {},
         [&] {
             PressShift(true);
             Delete({"readme.txt"});
             PressShift(false);
         },
         {"Möchten Sie \"readme.txt\" wirklich löschen?"}},
        {"delete two items", 0, {}, [&] { Delete({"readme.txt", "Fotos"}); },
         {"Sollen diese 2 Elemente in den Ordner \"Gelöschte Dateien\" verschoben\r\noder unwiderruflich gelöscht "
          "werden?"}},
        {"delete a folder", 0, {}, [&] { Delete({"Fotos"}); },
         {"Soll der Ordner \"Fotos\" gelöscht und sein\r\ngesamter Inhalt in den Ordner \"Gelöschte Dateien\" "
          "verschoben\r\noder unwiderruflich gelöscht werden?"}},
        {"delete a protected folder", 0, {}, [&] { Delete({"Neue Dateianlagen"}); },
         {"\"Neue Dateianlagen\" darf nicht gelöscht werden."}},
        {"a delete the server refuses", 0, {TvrqScriptedAnswer(mrYes)},
         [&] {
             gone("Weg");
             PressShift(true);
             Delete({"Weg/alt.txt"});
             PressShift(false);
         },
         {"Möchten Sie \"alt.txt\" wirklich löschen?", "\"alt.txt\" konnte nicht gelöscht werden."}},
        {"move a protected folder", 0, {}, [&] { DropGrains("Dokumente", {"Neue Dateianlagen"}, SxDropMove); },
         {"Der Ordner \"Neue Dateianlagen\" darf nicht verschoben werden."}},
        {"a copy the server refuses", 0, {}, [&] { DropGrains("Dokumente", {"nocopy/Vertrag.txt"}, SxDropCopy); },
         {"Die Datei \"Vertrag.txt\" konnte nicht kopiert werden!"}},
        {"a folder of that name there", 0, {}, [&] { DropGrains("Dokumente", {"Fotos"}, SxDropCopy); },
         {"Der Ordner \"Fotos\" ist dort bereits vorhanden und wird nicht ersetzt."}},
        {"move onto a file of that name", 0, {}, [&] { DropGrains("Dokumente", {"readme.txt"}, SxDropMove); },
         {FormatTableText(replaceFile, "readme.txt")}},
        {"upload onto a file of that name", 0, {}, [&] { DropFiles(*Grain("Dokumente"), {local + "Überblick.txt"}); },
         {FormatTableText(replaceFile, "Überblick.txt")}},
        {"an upload the server refuses", 0, {TvrqScriptedAnswer(mrYes)},
         [&] { DropFiles(*Grain("Dokumente/readonly"), {local + "Plan.txt"}); },
         {FormatTableText(replaceFile, "Plan.txt"), "Die Datei \"Plan.txt\" konnte nicht kopiert werden!"}},
        {"merge into a folder of that name", 0, {},
         [&] {
             auto folder = Grain("Fotos");
             provider.DoBeforeDrop(*folder, nullptr);
             provider.DoConfirmOverwriteFolder(*folder, nullptr);
             provider.DoAfterDrop(*folder, nullptr);
         },
         {"Dieser Ordner enthält einen Ordner \"Fotos\". \r\n\r\nDateien im vorhandenen Ordner werden ggf. durch "
          "gleichnamige\r\nDateien des verschobenen bzw. kopierten Ordners ersetzt. Soll der \r\nOrdner trotzdem "
          "verschoben bzw. kopiert werden?"}},
        {"a rename the server refuses", 0, {},
         [&] {
             gone("Ablage/Brief.txt");
             auto grain = Grain("Ablage/Brief.txt");
             provider.RenameGrain(*Grain("Ablage"), *grain, "Brief 2.txt");
         },
         {"\"Brief.txt\" konnte nicht umbenannt werden."}},
        {"a new folder the server refuses", 0, {},
         [&] {
             auto folder = Grain("Ablage");
             gone("Ablage");
             std::unique_ptr<TSxCustomDataGrain> made;
             Module->sxVrqProviderCreateNewFolder(*folder, "Neu", made);
         },
         {"Der Ordner \"Neu\" konnte nicht erstellt werden."}},
    };
    for (const auto& row : rows) {
        // The language setting, as the tray program's menu writes it; every operation reads it.
        WriteRegistryInteger("Application", "language", row.language);
        TvrqScriptedAnswers answers(row.script);
        row.act();
        WriteRegistryInteger("Application", "language", 0);
        SetLanguage(0);
        std::vector<std::string> shown;
        for (const auto& question : answers.Asked)
            shown.push_back(question.Text);
        EXPECT_EQ(shown, row.texts) << row.what;
    }
}
