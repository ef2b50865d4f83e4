#include "uTVirtualFileStorage.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <set>

namespace {

double Date(const char* text) {
    double d = -1;
    EXPECT_TRUE(DateTimeFromText(text, d)) << text;
    return d;
}

uint32_t U32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

double F64(const uint8_t* p) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(p[i]) << (8 * i);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

}  // namespace

TEST(VirtualFileRecord, BytesAtTheirOffsets) {
    TVirtualFileRecord r;
    r.Name = "Bild \xC3\xB6.jpg";   // UTF-8 bytes, length counts bytes
    r.Path = "Fotos\\Urlaub";
    r.Size = 5368709120;   // 5 GiB: the high half goes into the reserved field after the low one
    r.CreationDate = 38328.5;
    r.LastModified = 38328.25;
    r.IsFolder = false;
    r.CacheName = "3f1a.jpg";
    const auto b = RecordToBytes(r);
    ASSERT_EQ(b.size(), 800u);
    EXPECT_EQ(b[0], 11);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[1]), 11), r.Name);
    EXPECT_EQ(b[256], 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[257]), 12), r.Path);
    EXPECT_EQ(U32(&b[512]), 0x40000000u);
    EXPECT_EQ(U32(&b[516]), 1u);
    EXPECT_EQ(F64(&b[520]), 38328.5);
    EXPECT_EQ(F64(&b[528]), 38328.25);
    EXPECT_EQ(b[536], 0);
    EXPECT_EQ(b[537], 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[538]), 8), "3f1a.jpg");
    for (size_t i = 793; i < 800; ++i) EXPECT_EQ(b[i], 0) << i;

    const TVirtualFileRecord back = RecordFromBytes(b.data(), b.size());
    EXPECT_EQ(back.Name, r.Name);
    EXPECT_EQ(back.Path, r.Path);
    EXPECT_EQ(back.Size, 5368709120);
    EXPECT_EQ(back.CreationDate, r.CreationDate);
    EXPECT_EQ(back.LastModified, r.LastModified);
    EXPECT_FALSE(back.IsFolder);
    EXPECT_EQ(back.CacheName, r.CacheName);
}

TEST(VirtualFileRecord, SizesPast2GiBAndTheRecordsWrittenBefore) {
    TVirtualFileRecord r;
    r.Name = "a.iso";
    for (int64_t size : {int64_t(0), int64_t(2147483647), int64_t(3221225472), int64_t(4294967296),
                         int64_t(5368709121)}) {
        r.Size = size;
        const auto b = RecordToBytes(r);
        EXPECT_EQ(RecordFromBytes(b.data(), b.size()).Size, size) << size;
    }
    // A record of a 32-bit size reads as it always did; a negative size is stored as none.
    auto b = RecordToBytes(r);
    const uint8_t old[8] = {0xE8, 0x03, 0, 0, 0, 0, 0, 0};
    std::memcpy(&b[512], old, 8);
    EXPECT_EQ(RecordFromBytes(b.data(), b.size()).Size, 1000);
    r.Size = -2;
    EXPECT_EQ(RecordFromBytes(RecordToBytes(r).data(), 800).Size, 0);
}

TEST(VirtualFileRecord, LimitsAreChecked) {
    TVirtualFileRecord r;
    r.Name = std::string(255, 'a');
    r.IsFolder = true;
    auto b = RecordToBytes(r);
    EXPECT_EQ(b[0], 255);
    EXPECT_EQ(b[536], 1);
    EXPECT_EQ(RecordFromBytes(b.data(), 800).Name, r.Name);
    r.Name += 'a';
    EXPECT_THROW(RecordToBytes(r), ERecordError);   // never cut a name short
    EXPECT_THROW(RecordFromBytes(b.data(), 799), ERecordError);
    // Bytes after a text are not significant; a full length byte still stays inside its field.
    b.fill(0xFF);
    const TVirtualFileRecord junk = RecordFromBytes(b.data(), 800);
    EXPECT_EQ(junk.Name.size(), 255u);
    EXPECT_EQ(junk.CacheName.size(), 255u);
}

TEST(VirtualFileStorage, EncodeAndDecodePath) {
    EXPECT_EQ(TVirtualFileStorage::EncodePath("Fotos\\Urlaub"), "466F746F73\\_55726C617562");
    EXPECT_EQ(TVirtualFileStorage::EncodePath("a\\b"), "61\\_62");
    EXPECT_EQ(TVirtualFileStorage::EncodePath("\xC3\xB6 {"), "C3B6207B");
    EXPECT_EQ(TVirtualFileStorage::DecodePath("41\\_42"), "A\\B");
    EXPECT_EQ(TVirtualFileStorage::DecodePath("4G"), "_");
    EXPECT_EQ(TVirtualFileStorage::DecodePath("414"), "A");   // a last odd character is dropped
    const std::string name = "a b#%&+{|\xE6\x97\xA5\xF0\x9F\x98\x80";
    EXPECT_EQ(TVirtualFileStorage::DecodePath(TVirtualFileStorage::EncodePath(name)), name);
}

TEST(DateTime, TextAndDayNumbers) {
    EXPECT_EQ(Date("30.12.1899 00:00:00"), 0.0);
    EXPECT_EQ(Date("07.12.2004 10:00:00"), 38328.0 + 10.0 / 24);
    EXPECT_EQ(Date("29.02.2024"), 45351.0);
    EXPECT_EQ(DateTimeToText(38328.0 + 10.0 / 24), "07.12.2004 10:00:00");
    EXPECT_EQ(DateTimeToText(Date("31.12.2026 23:59:59")), "31.12.2026 23:59:59");
    double d;
    for (const char* bad : {"", "29.02.2023", "32.01.2004", "07.12.2004 24:00:00", "7.12.2004", "07.12.2004 10:00"}) {
        EXPECT_FALSE(DateTimeFromText(bad, d)) << bad;
    }
}

TEST(ParseListingEntry, FilesFoldersAndRoot) {
    TVirtualFileRecord r;
    std::string error;
    TListingEntry file;
    file.Href = "Fotos/a%20b%7B%7C.jpg";
    file.ContentLength = "10";
    file.LastModified = "Tue, 07 Dec 2004 10:00:00 GMT";
    file.CreationDate = "2004-12-06T09:30:15Z";
    file.ETag = "\"3f-1a\"";
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(file, r, error)) << error;
    EXPECT_EQ(r.Name, "a b{|.jpg");   // blank, brace and bar survive
    EXPECT_EQ(r.Path, "Fotos");
    EXPECT_EQ(r.Size, 10);
    EXPECT_FALSE(r.IsFolder);
    EXPECT_EQ(r.CacheName, "3f1a.jpg");
    EXPECT_EQ(r.LastModified, Date("07.12.2004 10:00:00"));
    EXPECT_EQ(r.CreationDate, Date("06.12.2004 09:30:15"));

    TListingEntry folder;
    folder.Href = "Fotos/Urlaub%20%c3%b6/";
    folder.IsCollection = true;
    folder.ETag = "\"1000-5\"";
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(folder, r, error)) << error;
    EXPECT_EQ(r.Name, "Urlaub \xC3\xB6");
    EXPECT_EQ(r.Path, "Fotos\\Urlaub \xC3\xB6");
    EXPECT_TRUE(r.IsFolder);
    EXPECT_EQ(r.CacheName, "");

    TListingEntry root;
    root.IsCollection = true;
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(root, r, error)) << error;
    EXPECT_EQ(r.Name, "");
    EXPECT_EQ(r.Path, "");

    TListingEntry top;
    top.Href = "a.jpg";
    top.ETag = "W/\"1-2\"";   // weak tag of a file written in the last second
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(top, r, error)) << error;
    EXPECT_EQ(r.Path, "");
    EXPECT_EQ(r.CacheName, "12.jpg");
}

TEST(ParseListingEntry, SizesAndDatesThatAreNoNumbers) {
    TVirtualFileRecord r;
    std::string error;
    TListingEntry e;
    e.Href = "x.bin";
    e.ETag = "\"9\"";
    e.ContentLength = "3e9";
    e.LastModified = "yesterday";
    e.CreationDate = "2004-13-01T00:00:00Z";
    const double before = NowDateTime();
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(e, r, error));
    EXPECT_EQ(r.Size, 0);
    EXPECT_GE(r.LastModified, before - 1e-4);   // unreadable dates give the current time
    EXPECT_GE(r.CreationDate, before - 1e-4);
    EXPECT_EQ(r.CacheName, "9.bin");
    e.ETag.clear();
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(e, r, error));
    EXPECT_EQ(r.CacheName, "");   // not stored later
    // Sizes of 2 GiB and more are sizes; a negative one is none.
    for (const auto& [text, size] : {std::pair<const char*, int64_t>{"3000000000", 3000000000},
                                     {"5368709120", 5368709120}, {"-5", 0}, {"99999999999999999999", 0}}) {
        e.ContentLength = text;
        ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(e, r, error));
        EXPECT_EQ(r.Size, size) << text;
    }
}

TEST(ParseListingEntry, UnsafeEntriesAreRefused) {
    struct Case { const char* href; const char* etag; };
    const Case cases[] = {
        {"Fotos/%2e%2e/x.jpg", "\"1\""}, {"%2E%2E", "\"1\""}, {"Fotos/./x", "\"1\""},
        {"Fotos//x.jpg", "\"1\""},       {"a%2Fb.jpg", "\"1\""}, {"a%5Cb.jpg", "\"1\""},
        {"a%0Ab.jpg", "\"1\""},          {"a%zzb.jpg", "\"1\""}, {"a%4", "\"1\""},
        {"ok.jpg", "\"1\\2\""},          {"ok.jpg", "\"..\""},  {"ok.jpg", "\"a/b\""},
        {"", "\"1\""},
    };
    for (const Case& c : cases) {
        TListingEntry e;
        e.Href = c.href;
        e.ETag = c.etag;
        TVirtualFileRecord r;
        std::string error;
        EXPECT_FALSE(TVirtualFileStorage::ParseListingEntry(e, r, error)) << c.href << " " << c.etag;
        EXPECT_FALSE(error.empty());
    }
    // Characters Windows refuses in file names are dropped from a cache name, the name is kept.
    TListingEntry e;
    e.Href = "a%3Fb.j%3Ap";
    e.ETag = "\"1*2<3\"";
    TVirtualFileRecord r;
    std::string error;
    ASSERT_TRUE(TVirtualFileStorage::ParseListingEntry(e, r, error)) << error;
    EXPECT_EQ(r.Name, "a?b.j:p");
    EXPECT_EQ(r.CacheName, "123.jp");
}

// ---- PlanMirror

namespace {

TVirtualFileRecord File(const std::string& path, const std::string& name, const std::string& tagName) {
    TVirtualFileRecord r;
    r.Path = path;
    r.Name = name;
    r.CacheName = tagName;   // as ParseListingEntry made it: tag + extension, "" without a tag
    return r;
}

TVirtualFileRecord Folder(const std::string& path) {
    TVirtualFileRecord r;
    r.IsFolder = true;
    r.Path = path;
    const size_t sep = path.rfind('\\');
    r.Name = sep == std::string::npos ? path : path.substr(sep + 1);
    return r;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const auto kFresh = [](const std::string&) { return std::vector<TMirrorDirEntry>(); };

}  // namespace

// Stock Apache derives the tag from size and time: files of one size saved in one second share it.
TEST(PlanMirror, EqualTagsAndMissingTagsGiveUniqueCacheNames) {
    std::vector<TVirtualFileRecord> records = {Folder("Fotos")};
    for (int i = 0; i < 12; ++i) records.push_back(File("Fotos", "IMG_" + std::to_string(i) + ".jpg", "3f1a.jpg"));
    records.push_back(File("Fotos", "readme", ""));
    records.push_back(File("Fotos", "notes.txt", ""));
    records.push_back(File("Fotos", "v1.2.jpg", "1.2.jpg"));   // a tag with a dot
    const TMirrorPlan plan = PlanMirror(records, 40, kFresh);
    EXPECT_TRUE(plan.Errors.empty());
    ASSERT_EQ(plan.Files.size(), 15u);
    std::set<std::string> names, stems;
    for (const TMirrorItem& f : plan.Files) {
        EXPECT_EQ(f.FileName, f.Record.CacheName);
        EXPECT_EQ(f.Directory, "466F746F73\\");
        EXPECT_TRUE(names.insert(Lower(f.FileName)).second) << f.FileName;
        // the part before the first "." names the local thumbnails
        EXPECT_TRUE(stems.insert(Lower(f.FileName.substr(0, f.FileName.find('.')))).second) << f.FileName;
    }
    EXPECT_EQ(plan.Files[0].FileName, "3f1a.jpg");   // the first keeps the tag's name
    EXPECT_EQ(plan.Files[1].FileName, "3f1a_" + NameDigest("IMG_1.jpg") + ".jpg");
    EXPECT_EQ(plan.Files[12].FileName, NameDigest("readme"));
    EXPECT_EQ(plan.Files[13].FileName, NameDigest("notes.txt") + ".txt");
    EXPECT_EQ(plan.Files[14].FileName, "1_2.jpg");
    // The same answer gives the same names again.
    const TMirrorPlan again = PlanMirror(records, 40, kFresh);
    for (size_t i = 0; i < plan.Files.size(); ++i) EXPECT_EQ(again.Files[i].FileName, plan.Files[i].FileName);
}

TEST(PlanMirror, CacheNamesNeverTakeAFoldersNamesOrADevice) {
    // Folder "AB" is the directory "4142" with the record "4142DIRTMPFILE.DIR".
    const std::vector<TVirtualFileRecord> records = {
        Folder("AB"), File("", "x", "4142"), File("", "y", "4142dirtmpfile.dir"), File("", "z", "nul.txt"),
        File("", "w", "com1"), File("", "v", "a_D_b.txt"),
    };
    const TMirrorPlan plan = PlanMirror(records, 40, kFresh);
    ASSERT_EQ(plan.Folders.size(), 1u);
    EXPECT_EQ(plan.Folders[0].FileName, "4142DIRTMPFILE.DIR");
    EXPECT_EQ(plan.Folders[0].Directory, "");
    ASSERT_EQ(plan.Files.size(), 5u);
    for (const TMirrorItem& f : plan.Files) {
        const std::string stem = Lower(f.FileName.substr(0, f.FileName.find('.')));
        EXPECT_NE(stem, "4142");
        EXPECT_EQ(Lower(f.FileName).find("dirtmpfile.dir"), std::string::npos);
        EXPECT_NE(stem, "nul");
        EXPECT_NE(stem, "com1");
        EXPECT_EQ(Lower(f.FileName).find("_d_"), std::string::npos);
    }
    EXPECT_EQ(plan.Files[0].FileName, "4142_" + NameDigest("x"));
}

TEST(PlanMirror, WellFormedTree) {
    const std::vector<TVirtualFileRecord> records = {
        Folder("A"),
        File("A", "a.txt", "1.txt"),
        File("A", "a.txt", "2.txt"),          // the same href twice
        Folder("A"),
        File("B\\C", "deep.txt", "3.txt"),    // parents B and B\C not listed
        File("", "f.txt", "4.txt"),
        File("f.txt", "below.txt", "5.txt"),  // below a file
        Folder("f.txt\\sub"),
        Folder("X\\.thumb"), File("X\\.thumb", "p.jpg.thumb.jpg", "6.jpg"),
        Folder(""),                           // the storage root
    };
    const TMirrorPlan plan = PlanMirror(records, 40, kFresh);
    std::vector<std::string> folders;
    for (const TMirrorItem& f : plan.Folders) folders.push_back(f.Record.Path + (f.Implied ? " (implied)" : ""));
    EXPECT_EQ(folders, (std::vector<std::string>{"A", "B (implied)", "B\\C (implied)"}));
    std::vector<std::string> files;
    for (const TMirrorItem& f : plan.Files) files.push_back(f.Directory + f.FileName);
    EXPECT_EQ(files, (std::vector<std::string>{"41\\1.txt", "42\\43\\3.txt", "4.txt"}));
    ASSERT_EQ(plan.Errors.size(), 4u);
    EXPECT_NE(plan.Errors[0].find("\"A\\a.txt\" is listed twice"), std::string::npos) << plan.Errors[0];
    EXPECT_NE(plan.Errors[1].find("\"A\" is listed twice"), std::string::npos) << plan.Errors[1];
    EXPECT_NE(plan.Errors[2].find("\"f.txt\" is a file"), std::string::npos) << plan.Errors[2];
    EXPECT_NE(plan.Errors[3].find("\"f.txt\" is a file"), std::string::npos) << plan.Errors[3];
    EXPECT_EQ(plan.Folders[1].Record.Name, "B");
    EXPECT_TRUE(plan.Folders[1].Record.IsFolder);
}

TEST(PlanMirror, PathsBeyondWhatWindowsOpensAreLeftOut) {
    std::vector<TVirtualFileRecord> records;
    std::string path;
    for (int depth = 1; depth <= 200; ++depth) {
        if (!path.empty()) path += '\\';
        path += 'd';
        records.push_back(Folder(path));
        records.push_back(File(path, "f.txt", "1.txt"));
    }
    const size_t root = 60;   // "C:\Users\...\Cache.new\"
    const TMirrorPlan plan = PlanMirror(records, root, kFresh);
    ASSERT_FALSE(plan.Folders.empty());
    ASSERT_FALSE(plan.Errors.empty());
    EXPECT_EQ(plan.Folders.size() + plan.Files.size() + plan.Errors.size(), records.size());
    for (const TMirrorItem& f : plan.Folders) EXPECT_LE(root + f.Directory.size() + f.FileName.size(), kMaxMirrorPath);
    for (const TMirrorItem& f : plan.Files) EXPECT_LE(root + f.Directory.size() + f.FileName.size(), kMaxMirrorPath);
    // 60 + 3 * 62 characters of directory fit, 63 levels do not; every folder that fits keeps its file.
    EXPECT_EQ(plan.Folders.size(), 62u);
    EXPECT_EQ(plan.Files.size(), 62u);
}

// Without statistics the records go over a mirror that holds some already.
TEST(PlanMirror, OverAnExistingMirrorOldRecordsOfAListedNameGoAndOthersAreKept) {
    auto existing = [](const std::string& dir) {
        std::vector<TMirrorDirEntry> e;
        if (dir == "") {
            e.push_back({"3f1a.jpg", false, "old.jpg"});    // another file (vanished from the server)
            e.push_back({"tmp4711.jpg", false, "a.jpg"});   // a.jpg, added locally before
            e.push_back({"77.jpg", false, "b.jpg"});        // b.jpg with its tag of last time
            e.push_back({"4142", true, ""});
        }
        return e;
    };
    const std::vector<TVirtualFileRecord> records = {
        File("", "a.jpg", "3f1a.jpg"), File("", "b.jpg", "77.jpg"), File("", "c", "4142"),
    };
    const TMirrorPlan plan = PlanMirror(records, 40, existing);
    ASSERT_EQ(plan.Files.size(), 3u);
    EXPECT_EQ(plan.Files[0].FileName, "3f1a_" + NameDigest("a.jpg") + ".jpg");   // old.jpg's record stays
    EXPECT_EQ(plan.Files[1].FileName, "77.jpg");                                   // its own place again
    EXPECT_EQ(plan.Files[2].FileName, "4142_" + NameDigest("c"));
    EXPECT_EQ(plan.Stale, (std::vector<std::string>{"tmp4711.jpg"}));
}
