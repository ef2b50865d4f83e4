#include "uTVirtualFileStorage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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
    r.Size = -2;
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
    EXPECT_EQ(U32(&b[512]), 0xFFFFFFFEu);
    EXPECT_EQ(F64(&b[520]), 38328.5);
    EXPECT_EQ(F64(&b[528]), 38328.25);
    EXPECT_EQ(b[536], 0);
    EXPECT_EQ(b[537], 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[538]), 8), "3f1a.jpg");
    for (size_t i = 793; i < 800; ++i) EXPECT_EQ(b[i], 0) << i;

    const TVirtualFileRecord back = RecordFromBytes(b.data(), b.size());
    EXPECT_EQ(back.Name, r.Name);
    EXPECT_EQ(back.Path, r.Path);
    EXPECT_EQ(back.Size, -2);
    EXPECT_EQ(back.CreationDate, r.CreationDate);
    EXPECT_EQ(back.LastModified, r.LastModified);
    EXPECT_FALSE(back.IsFolder);
    EXPECT_EQ(back.CacheName, r.CacheName);
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
    e.ContentLength = "3000000000";
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
