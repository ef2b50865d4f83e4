// The mirror's record operations on a real mirror in the prefix's temp folder: what the handlers of
// the online folder call after each server change.
#include "MirrorFixture.h"
#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <vector>

namespace {

class RecordsTest : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        Cache = Root + "Cache\\";
        ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(Cache).c_str(), nullptr));
        Mirror = std::make_unique<TVirtualFileStorage>(Cache);
    }
    TVirtualFileRecord Load(const std::string& file) {
        TVirtualFileRecord r;
        Mirror->LoadVirtualFileStorageFromFile(file, r);
        return r;
    }
    // The records of a mirror directory by Name, as the folder view would list them.
    std::vector<std::string> NamesIn(const std::string& dir) {
        std::vector<std::string> names;
        for (const std::string& file : Mirror->ListRecordFiles(dir)) names.push_back(Load(file).Name);
        std::sort(names.begin(), names.end());
        return names;
    }
    static void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream out(std::filesystem::path(Utf8ToWide(name)), std::ios::binary);
        out << bytes;
    }
    static std::string ReadFile(const std::string& name) {
        std::ifstream in(std::filesystem::path(Utf8ToWide(name)), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Another program holding the file open: without sharing it, or letting it be deleted only.
    static THandle Hold(const std::string& name, DWORD share = 0) {
        THandle h(CreateFileW(Utf8ToWide(name).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(h) << name << ": " << GetLastError();
        return h;
    }
    std::string Dir(const std::string& serverFolder) { return Mirror->FolderDirectory(serverFolder); }

    std::string Cache;
    std::unique_ptr<TVirtualFileStorage> Mirror;
};

TEST_F(RecordsTest, ServerPathsAndMirrorPathsTurnIntoEachOther) {
    struct Case {
        std::string root, path, server;
    } cases[] = {
        {"C:\\u\\Cache\\", "C:\\u\\Cache\\Fotos\\a.jpg", "Fotos\\a.jpg"},
        {"C:\\u\\Cache", "C:\\u\\Cache\\Fotos\\", "Fotos\\"},                  // a root without its "\"
        {"C:\\u\\Cache\\", "c:\\U\\cache\\Fotos", "Fotos"},                    // case ignored
        {"C:\\u\\Cache\\", "C:\\u\\Cache\\", ""},                               // the root itself
        {"C:\\u\\Cache\\", "C:\\u\\Cache", ""},
        {"C:\\u\\Cache\\", "Fotos\\a.jpg", "Fotos\\a.jpg"},                     // a server path already
        {"C:\\u\\Cache\\", "C:\\u\\Cache2\\a.jpg", "C:\\u\\Cache2\\a.jpg"},     // no prefix of a name
        {"C:\\M\xC3\xBC\x6Cler\\Cache\\", "C:\\M\xC3\x9C\x4CLER\\Cache\\\xC3\x84pfel", "\xC3\x84pfel"},
        {"", "C:\\x", "C:\\x"},
    };
    for (const Case& c : cases) EXPECT_EQ(TVirtualFileStorage::StripRoot(c.root, c.path), c.server) << c.path;

    EXPECT_EQ(Mirror->ServerPathOf(Cache + "Fotos\\Urlaub\\"), "Fotos\\Urlaub");
    EXPECT_EQ(Mirror->ServerPathOf(Cache), "");
    EXPECT_EQ(Mirror->FilePathOf("Fotos\\a.jpg", false), Cache + "Fotos\\a.jpg");
    EXPECT_EQ(Mirror->FilePathOf("Fotos", true), Cache + "Fotos\\");
    EXPECT_EQ(Mirror->FilePathOf("", true), Cache);
    // A server folder's mirror directory and back, the root and names of any bytes included.
    for (const std::string path : {"", "Fotos", "Fotos\\Urlaub 2024", "M\xC3\xBCller\\{a}.b", "Gel\xC3\xB6schte Dateien"}) {
        std::string back = "x";
        EXPECT_TRUE(Mirror->ServerFolderOf(Mirror->FolderDirectory(path), back)) << path;
        EXPECT_EQ(back, path);
    }
    std::string back;
    EXPECT_TRUE(Mirror->ServerFolderOf(Cache + "466F746F73", back));   // without its final "\"
    EXPECT_EQ(back, "Fotos");
    EXPECT_FALSE(Mirror->ServerFolderOf(Root + "Other\\466F746F73\\", back));   // outside the mirror
    EXPECT_FALSE(Mirror->ServerFolderOf(Cache + "466F746F73.old1234\\", back));   // a directory set aside
    EXPECT_FALSE(Mirror->ServerFolderOf(Cache + "466f746f73\\", back));   // the mirror writes upper case
    EXPECT_EQ(back, "");
}

TEST_F(RecordsTest, AnUploadedFileGetsItsRecordAndReplacesTheOlderOne) {
    const std::string local = Root + "Bericht.docx";
    WriteFile(local, "12345");
    // Into a folder the mirror has no directory for yet, and into the storage root.
    const std::string made = Mirror->AddUploadedFile("Fotos\\Urlaub\\Bericht.docx", local);
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(shl_ExtractFilePath(made), Dir("Fotos\\Urlaub"));
    TVirtualFileRecord r = Load(made);
    EXPECT_EQ(r.Name, "Bericht.docx");
    EXPECT_EQ(r.Path, "Fotos\\Urlaub");
    EXPECT_EQ(r.Size, 5);
    EXPECT_FALSE(r.IsFolder);
    EXPECT_EQ(r.CacheName, shl_ExtractFileName(made));
    EXPECT_TRUE(std::regex_match(r.CacheName, std::regex("tmp[0-9]{1,4}\\.docx"))) << r.CacheName;
    const std::string top = Mirror->AddUploadedFile("Bericht.docx", local);
    EXPECT_EQ(shl_ExtractFilePath(top), Cache);
    EXPECT_EQ(Load(top).Path, "");

    // Sent again, larger: one record of that name, the new one; the older record file is gone.
    WriteFile(local, "1234567890");
    const std::string again = Mirror->AddUploadedFile("Fotos\\Urlaub\\Bericht.docx", local);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(NamesIn(Dir("Fotos\\Urlaub")), std::vector<std::string>{"Bericht.docx"});
    EXPECT_EQ(Load(again).Size, 10);
    if (!SameText(again, made)) {
        EXPECT_FALSE(Exists(made));
    }

    // A record file name that another item's record has: that one stays, the new one gets its own.
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "alt.jpg", "3f1a.jpg", 7)));
    TVirtualFileRecord copy = File("", "x", "3f1a.jpg", 9);
    const std::string beside = Mirror->PutFileRecord("Fotos\\neu.jpg", copy);
    EXPECT_EQ(beside, Dir("Fotos") + "k23f1a.jpg");
    EXPECT_EQ(Load(Dir("Fotos") + "3f1a.jpg").Name, "alt.jpg");
    EXPECT_EQ(Load(beside).Name, "neu.jpg");
    EXPECT_EQ(Load(beside).Size, 9);
}

TEST_F(RecordsTest, ARecordThatCannotBeStoredChangesNothing) {
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("", "a.txt", "1.txt", 1)));
    const std::string before = ReadFile(Cache + "1.txt");
    // A name over 255 bytes, a folder whose directory cannot be made (a file stands in its place),
    // and a server path without a name.
    EXPECT_EQ(Mirror->PutFileRecord(std::string(256, 'n') + ".txt", File("", "", "2.txt", 1)), "");
    ASSERT_TRUE(Mirror->MakeFolder("Fotos"));
    WriteFile(Dir("Fotos") + TVirtualFileStorage::EncodePath("Sub"), "not a directory");
    EXPECT_EQ(Mirror->PutFileRecord("Fotos\\Sub\\a.txt", File("", "", "3.txt", 1)), "");
    EXPECT_EQ(Mirror->PutFileRecord("Fotos\\", File("", "", "4.txt", 1)), "");
    // The record of that name in use by another program: the new one is not written over it.
    {
        THandle held = Hold(Cache + "1.txt");
        EXPECT_EQ(Mirror->MoveFileRecord(Cache + "1.txt", "b.txt"), "");
    }
    EXPECT_EQ(ReadFile(Cache + "1.txt"), before);
    EXPECT_EQ(NamesIn(Cache), std::vector<std::string>({"Fotos", "a.txt"}));
    const std::string log = LogText();
    EXPECT_NE(log.find("longer than 255 bytes"), std::string::npos) << log;
    EXPECT_NE(log.find("|ERROR|PutFileRecord: "), std::string::npos) << log;
    EXPECT_NE(log.find("|ERROR|SaveVirtualFileStorageToFile: "), std::string::npos) << log;
}

TEST_F(RecordsTest, CopiedMovedAndRenamedFileRecords) {
    ASSERT_TRUE(Mirror->MakeFolder("Fotos"));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "a.jpg", "3f1a.jpg", 42)));
    const std::string source = Dir("Fotos") + "3f1a.jpg";

    // A copy into another folder keeps its record file name and the source's size and dates.
    const std::string copied = Mirror->CopyFileRecord(source, "Archiv\\a.jpg");
    EXPECT_EQ(copied, Dir("Archiv") + "3f1a.jpg");
    TVirtualFileRecord r = Load(copied);
    EXPECT_EQ(r.Path, "Archiv");
    EXPECT_EQ(r.Size, 42);
    EXPECT_EQ(r.LastModified, Load(source).LastModified);
    // A duplicate in the same folder: both records stay.
    const std::string duplicate = Mirror->CopyFileRecord(source, "Fotos\\Kopie von a.jpg");
    EXPECT_EQ(duplicate, Dir("Fotos") + "k23f1a.jpg");
    EXPECT_EQ(NamesIn(Dir("Fotos")), std::vector<std::string>({"Kopie von a.jpg", "a.jpg"}));

    // A rename keeps the record file; a move takes the record away from the source's folder.
    EXPECT_EQ(Mirror->MoveFileRecord(source, "Fotos\\b.jpg"), source);
    EXPECT_EQ(Load(source).Name, "b.jpg");
    const std::string moved = Mirror->MoveFileRecord(source, "Gel\xC3\xB6schte Dateien\\b.jpg");
    EXPECT_EQ(moved, Dir("Gel\xC3\xB6schte Dateien") + "3f1a.jpg");
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(Load(moved).Path, "Gel\xC3\xB6schte Dateien");
    EXPECT_EQ(Load(moved).Size, 42);

    // A damaged source record gives no copy.
    WriteFile(Dir("Fotos") + "short.jpg", std::string(799, 'x'));
    EXPECT_EQ(Mirror->CopyFileRecord(Dir("Fotos") + "short.jpg", "Archiv\\short.jpg"), "");
    EXPECT_EQ(NamesIn(Dir("Archiv")), std::vector<std::string>{"a.jpg"});
}

TEST_F(RecordsTest, RemoveItemTakesFilesAndFoldersOutOfTheMirrorOnly) {
    ASSERT_TRUE(Mirror->MakeFolder("Fotos\\Urlaub"));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos\\Urlaub", "c.txt", "77.txt", 5)));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "a.jpg", "3f1a.jpg", 1)));
    const std::string fotos = Dir("Fotos");

    EXPECT_TRUE(Mirror->RemoveItem(fotos + "3f1a.jpg", false));
    EXPECT_FALSE(Exists(fotos + "3f1a.jpg"));
    EXPECT_TRUE(Mirror->RemoveItem(fotos + "3f1a.jpg", false));   // gone already
    // A folder: its directory with all below, and its record beside it.
    EXPECT_TRUE(Mirror->RemoveItem(Dir("Fotos\\Urlaub"), true));
    EXPECT_FALSE(Exists(Dir("Fotos\\Urlaub")));
    EXPECT_FALSE(Exists(fotos + "55726C617562DIRTMPFILE.DIR"));
    EXPECT_TRUE(Exists(fotos));

    // Nothing outside the mirror, nor the mirror's root, whatever an item ID says.
    const std::string outside = Root + "Outside\\";
    ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(outside).c_str(), nullptr));
    WriteFile(outside + "keep.txt", "x");
    for (const std::string& name : {outside, Cache, Cache + "..\\Outside\\", Cache + "466F746F73\\..\\..\\Outside",
                                    Cache + "*", std::string("Outside")}) {
        EXPECT_FALSE(Mirror->RemoveItem(name, true)) << name;
    }
    EXPECT_FALSE(Mirror->RemoveItem(Cache + "..\\Outside\\keep.txt", false));
    EXPECT_TRUE(Exists(outside + "keep.txt"));
    EXPECT_TRUE(Exists(fotos));

    // A record in use by another program stays, and says so.
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "b.jpg", "3f1b.jpg", 1)));
    {
        THandle held = Hold(fotos + "3f1b.jpg");
        EXPECT_FALSE(Mirror->RemoveItem(fotos + "3f1b.jpg", false));
    }
    EXPECT_TRUE(Exists(fotos + "3f1b.jpg"));
    EXPECT_NE(LogText().find("|ERROR|RemoveItem: "), std::string::npos);
}

TEST_F(RecordsTest, MakeFolderWritesTheRecordAndTheDirectory) {
    // Missing parents are made too.
    ASSERT_TRUE(Mirror->MakeFolder("Fotos\\Urlaub 2024\\"));
    EXPECT_TRUE(shl_DirectoryExists(Dir("Fotos\\Urlaub 2024")));
    TVirtualFileRecord r = Load(Dir("Fotos") + TVirtualFileStorage::EncodePath("Urlaub 2024") + "DIRTMPFILE.DIR");
    EXPECT_TRUE(r.IsFolder);
    EXPECT_EQ(r.Name, "Urlaub 2024");
    EXPECT_EQ(r.Path, "Fotos\\Urlaub 2024");
    EXPECT_EQ(r.CacheName, "");
    EXPECT_GT(r.LastModified, 0);
    // The root has no record; the server's thumbnail folders are not mirrored.
    ASSERT_TRUE(RemoveDirectoryW(Utf8ToWide(Cache + "466F746F73\\" + TVirtualFileStorage::EncodePath("Urlaub 2024")).c_str()));
    const auto before = Mirror->ListRecordFiles(Cache);
    EXPECT_TRUE(Mirror->MakeFolder(""));
    EXPECT_TRUE(Mirror->MakeFolder("Fotos\\.thumb"));
    EXPECT_FALSE(Exists(Dir("Fotos\\.thumb")));
    EXPECT_EQ(Mirror->ListRecordFiles(Cache), before);
    // A name of 128 characters needs a directory name of 256: refused and logged.
    EXPECT_FALSE(Mirror->MakeFolder(std::string(128, 'n')));
    EXPECT_NE(LogText().find("|ERROR|SaveVirtualFileStorageToFile: "), std::string::npos);
}

TEST_F(RecordsTest, AMovedFolderTakesItsWholeSubtreeAlong) {
    ASSERT_TRUE(Mirror->MakeFolder("Fotos\\Urlaub"));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "a.jpg", "3f1a.jpg", 1)));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos\\Urlaub", "c.txt", "77.txt", 5)));
    // What the mirror still held at the new place is not on the server any more.
    ASSERT_TRUE(Mirror->MakeFolder("Archiv\\Bilder"));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Archiv\\Bilder", "alt.txt", "9.txt", 1)));

    ASSERT_TRUE(Mirror->MoveFolder("Fotos", "Archiv\\Bilder"));
    EXPECT_FALSE(Exists(Dir("Fotos")));
    EXPECT_FALSE(Exists(Cache + "466F746F73DIRTMPFILE.DIR"));
    const std::string bilder = Dir("Archiv\\Bilder");
    TVirtualFileRecord own = Load(bilder.substr(0, bilder.size() - 1) + "DIRTMPFILE.DIR");
    EXPECT_EQ(own.Name, "Bilder");
    EXPECT_EQ(own.Path, "Archiv\\Bilder");
    EXPECT_TRUE(own.IsFolder);
    EXPECT_EQ(NamesIn(bilder), std::vector<std::string>({"Urlaub", "a.jpg"}));
    EXPECT_EQ(Load(bilder + "3f1a.jpg").Path, "Archiv\\Bilder");
    EXPECT_EQ(Load(bilder + "55726C617562DIRTMPFILE.DIR").Path, "Archiv\\Bilder\\Urlaub");
    TVirtualFileRecord c = Load(Dir("Archiv\\Bilder\\Urlaub") + "77.txt");
    EXPECT_EQ(c.Path, "Archiv\\Bilder\\Urlaub");
    EXPECT_EQ(c.CacheName, "77.txt");
    EXPECT_EQ(c.Size, 5);

    // A rename in place, and what never moves: the root, a folder into itself.
    ASSERT_TRUE(Mirror->MoveFolder("Archiv\\Bilder", "Archiv\\Fotos"));
    EXPECT_EQ(Load(Dir("Archiv\\Fotos\\Urlaub") + "77.txt").Path, "Archiv\\Fotos\\Urlaub");
    EXPECT_FALSE(Mirror->MoveFolder("", "Neu"));
    EXPECT_FALSE(Mirror->MoveFolder("Archiv", "Archiv\\Fotos\\Archiv"));
    EXPECT_EQ(Load(Dir("Archiv\\Fotos\\Urlaub") + "77.txt").Path, "Archiv\\Fotos\\Urlaub");
}

// A record below that another program reads (letting it be deleted, not written) while its folder
// moves: the directory moves (on Windows the move itself may be refused; then the old place goes),
// and that record cannot be rewritten there. The mirror then holds no record that names the old
// place: every other record has its new path, the read one is removed, and the answer tells the
// caller to list the folder anew. (A record held without any sharing can be neither rewritten nor
// removed: it alone keeps its old Path until that listing.)
TEST_F(RecordsTest, AFolderMoveThatFailsHalfWayLeavesNoRecordOfTheOldPlace) {
    ASSERT_TRUE(Mirror->MakeFolder("Fotos\\Urlaub"));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "a.jpg", "3f1a.jpg", 1)));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos\\Urlaub", "c.txt", "77.txt", 5)));
    const std::string held = Dir("Fotos\\Urlaub") + "77.txt";
    THandle holder = Hold(held, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT_FALSE(Mirror->MoveFolder("Fotos", "Bilder"));
    holder.reset();
    EXPECT_FALSE(Exists(Dir("Fotos")));
    EXPECT_FALSE(Exists(Dir("Bilder\\Urlaub") + "77.txt"));
    EXPECT_EQ(Load(Dir("Bilder") + "3f1a.jpg").Path, "Bilder");
    // Every record the mirror holds now names the place it lies in.
    int records = 0;
    std::vector<std::string> pending{Cache};
    while (!pending.empty()) {
        const std::string dir = pending.back();
        pending.pop_back();
        std::string folder;
        ASSERT_TRUE(Mirror->ServerFolderOf(dir, folder)) << dir;
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(Utf8ToWide(dir)))) {
            const std::string name = WideToUtf8(entry.path().filename().wstring());
            if (entry.is_directory()) {
                pending.push_back(dir + name + "\\");
                continue;
            }
            const TVirtualFileRecord r = Load(dir + name);
            ++records;
            EXPECT_EQ(r.Path.rfind("Fotos", 0), std::string::npos) << dir + name << ": " << r.Path;
            if (!r.IsFolder) {
                EXPECT_EQ(r.Path, folder) << dir + name;
            }
        }
    }
    EXPECT_EQ(records, 3);   // Bilder, Urlaub and a.jpg
    EXPECT_NE(LogText().find("|ERROR|MoveFolder: "), std::string::npos);
}

TEST_F(RecordsTest, AFolderListedAnewKeepsItsOldMirrorUnlessTheListingIsComplete) {
    ASSERT_TRUE(Mirror->MakeFolder("Fotos"));
    ASSERT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "alt.jpg", "1.jpg", 1)));
    const std::string fotos = Dir("Fotos");
    auto listing = [&](bool complete) {
        return [this, complete] {
            // The listing writes into a fresh directory: the old records are not there.
            EXPECT_EQ(NamesIn(Dir("Fotos")), std::vector<std::string>{});
            EXPECT_TRUE(Mirror->SaveVirtualFileStorageToFile(File("Fotos", "neu.jpg", "2.jpg", 2)));
            return complete;
        };
    };
    // Failed, raised: the old mirror as it was. Complete: the new one, nothing set aside left.
    EXPECT_FALSE(Mirror->RelistFolder("Fotos", listing(false)));
    EXPECT_EQ(NamesIn(fotos), std::vector<std::string>{"alt.jpg"});
    EXPECT_THROW(Mirror->RelistFolder("Fotos\\", [] () -> bool { throw std::runtime_error("cut"); }), std::runtime_error);
    EXPECT_EQ(NamesIn(fotos), std::vector<std::string>{"alt.jpg"});
    EXPECT_TRUE(Mirror->RelistFolder("Fotos", listing(true)));
    EXPECT_EQ(NamesIn(fotos), std::vector<std::string>{"neu.jpg"});
    std::vector<std::string> entries;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(Utf8ToWide(Cache))))
        entries.push_back(WideToUtf8(e.path().filename().wstring()));
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"466F746F73", "466F746F73DIRTMPFILE.DIR"}));
    // The root and a folder the mirror does not hold yet: listed into the mirror as it is.
    bool called = false;
    EXPECT_TRUE(Mirror->RelistFolder("", [&] { return called = true; }));
    EXPECT_TRUE(called);
    EXPECT_TRUE(Mirror->RelistFolder("Neu", [] { return true; }));
    EXPECT_EQ(NamesIn(fotos), std::vector<std::string>{"neu.jpg"});
}

TEST_F(RecordsTest, ASidecarIsWrittenWholeWithTheDocumentsMark) {
    const std::string open = Root + "Open\\";
    ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(open).c_str(), nullptr));
    const std::string document = open + "a.jpg";
    WriteFile(document, "picture");
    const uint64_t mark = shl_FileLastWrite(document) - 10000000;   // one second before
    // The record says where it was listed; the sidecar names the place the document came from.
    TVirtualFileRecord r = File("Alt", "alt.jpg", "3f1a.jpg", 7);
    ASSERT_TRUE(Mirror->WriteSidecar(document, r, "Fotos\\Urlaub\\a.jpg", mark));
    const std::string bytes = ReadFile(document + ".sxc");
    ASSERT_EQ(bytes.size(), VirtualFileRecordSize);
    TVirtualFileRecord s = RecordFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(s.Name, "a.jpg");
    EXPECT_EQ(s.Path, "Fotos\\Urlaub");
    EXPECT_EQ(s.Size, 7);
    EXPECT_EQ(s.CacheName, "3f1a.jpg");
    EXPECT_EQ(shl_FileLastWrite(document + ".sxc"), mark);
    EXPECT_FALSE(shl_OpenDocumentSent(document));
    EXPECT_TRUE(Mirror->WriteSidecar(document, r, "a.jpg", shl_FileLastWrite(document)));
    EXPECT_TRUE(shl_OpenDocumentSent(document));
    EXPECT_EQ(Load(document + ".sxc").Path, "");

    // Held by the tray program's reader, or a name too long: the older sidecar stays whole.
    const std::string before = ReadFile(document + ".sxc");
    {
        THandle held = Hold(document + ".sxc");
        EXPECT_FALSE(Mirror->WriteSidecar(document, r, "Neu\\a.jpg", mark));
    }
    EXPECT_FALSE(Mirror->WriteSidecar(document, r, "Neu\\" + std::string(256, 'n'), mark));
    EXPECT_EQ(ReadFile(document + ".sxc"), before);
    EXPECT_FALSE(Exists(document + ".sxc.~part"));
    EXPECT_FALSE(Mirror->WriteSidecar(Root + "Missing\\a.jpg", r, "a.jpg", 0));   // no folder
    EXPECT_NE(LogText().find("|ERROR|WriteSidecar: "), std::string::npos);
}

}  // namespace
