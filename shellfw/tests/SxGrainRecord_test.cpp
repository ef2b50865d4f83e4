// The grain record and the framework item that carries it: fixed bytes, old versions, and damaged
// items from outside (run natively under ASan, so a read past an item fails the test).
#include "SxGrainRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

std::vector<uint8_t> Save(const TSxGrainRecord& record, bool withList = true)
{
    TSxMemoryStream stream;
    SaveGrainRecord(stream, record, withList);
    return stream.Bytes();
}

TSxGrainRecord Load(const std::vector<uint8_t>& bytes)
{
    TSxMemoryStream stream(bytes);
    TSxGrainRecord record;
    LoadGrainRecord(stream, record);
    EXPECT_EQ(stream.GetPosition(), bytes.size()) << "the reader stops at the record's end";
    return record;
}

void Append32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An item of exactly cb bytes in its own heap block, so that ASan sees any read beyond it.
std::vector<uint8_t> Item(const std::vector<uint8_t>& record, uint32_t lengthField, size_t cb,
                          const char* signature = "TessolarkPidl")
{
    std::vector<uint8_t> item(std::max<size_t>(cb, 2), 0);
    item[0] = static_cast<uint8_t>(cb);
    item[1] = static_cast<uint8_t>(cb >> 8);
    if (cb >= 16)
        std::memcpy(item.data() + 2, signature, 14);
    if (cb >= 20)
        for (int i = 0; i < 4; ++i)
            item[16 + i] = static_cast<uint8_t>(lengthField >> (8 * i));
    for (size_t i = 0; i < record.size() && 20 + i < cb; ++i)
        item[20 + i] = record[i];
    return item;
}

PCSxItemIDList AsItem(const std::vector<uint8_t>& bytes)
{
    return reinterpret_cast<PCSxItemIDList>(bytes.data());
}

TSxGrainRecord Full()
{
    TSxGrainRecord r;
    r.Name = "B\xc3\xbc" "cher \xf0\x9f\x93\x9a";  // two units for the last character
    r.IsFile = true;
    r.Values = {"vFilePath=Docs\\a b.txt", "vCanDelete=1", ""};
    r.IconIndex = 7;
    r.OpenIconIndex = -1;
    r.Data = {1, 2, 3, 0, 255};
    // One item of 5 bytes and the terminator.
    r.AbsoluteList = {5, 0, 'x', 'y', 'z', 0, 0};
    r.Attributes = gaReadOnly | gaHidden | gaArchive;
    return r;
}

void ExpectSame(const TSxGrainRecord& a, const TSxGrainRecord& b)
{
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.IsFile, b.IsFile);
    EXPECT_EQ(a.Values, b.Values);
    EXPECT_EQ(a.IconIndex, b.IconIndex);
    EXPECT_EQ(a.OpenIconIndex, b.OpenIconIndex);
    EXPECT_EQ(a.Data, b.Data);
    EXPECT_EQ(a.AbsoluteList, b.AbsoluteList);
    EXPECT_EQ(a.Attributes, b.Attributes);
}

} // namespace

TEST(GrainRecord, EmptyGrainIs34BytesAndItsItem55)
{
    const std::vector<uint8_t> bytes = Save(TSxGrainRecord{});
    const std::vector<uint8_t> expected = {
        0x04, 0xAA,              // header, version 4
        0, 0, 0, 0,              // name
        0, 0, 0, 0,              // folder
        0, 0, 0, 0,              // no values
        0xFF, 0xFF, 0xFF, 0xFF,  // icon -1
        0xFF, 0xFF, 0xFF, 0xFF,  // open icon -1
        0, 0, 0, 0,              // data
        0, 0, 0, 0,              // no list
        0, 0, 0, 0,              // attributes
    };
    EXPECT_EQ(bytes, expected);

    TSxPidlPtr item = MakeGrainItemID(bytes);
    const auto* p = reinterpret_cast<const uint8_t*>(item.get());
    EXPECT_EQ(p[0] | (p[1] << 8), 55);
    EXPECT_EQ(std::memcmp(p + 2, "TessolarkPidl", 14), 0);
    EXPECT_EQ(p[16], 34);
    EXPECT_EQ(std::memcmp(p + 20, bytes.data(), 34), 0);
    // Terminator and zero bytes up to the block's end (59 bytes; ASan knows the block).
    for (int i = 55; i < 59; ++i)
        EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(PIDLGetSize(item.get()), 55u);
    EXPECT_EQ(PIDLGetItemCount(item.get()), 1);
    EXPECT_TRUE(IsGrainItem(item.get()));
    EXPECT_EQ(GrainItemRecord(item.get()), bytes);
}

TEST(GrainRecord, RoundTripKeepsEveryField)
{
    const TSxGrainRecord r = Full();
    const TSxGrainRecord back = Load(Save(r));
    ExpectSame(back, r);
    EXPECT_EQ(back.Version, 4);

    // Field 8 is the list's size + 4: its items, the terminator and two spare bytes.
    const std::vector<uint8_t> bytes = Save(r);
    const size_t at = bytes.size() - 4 - 9 - 4;
    EXPECT_EQ(bytes[at], 9);
    EXPECT_EQ(bytes[bytes.size() - 4], gaReadOnly | gaHidden | gaArchive);
}

TEST(GrainRecord, ItemRecordsLeaveTheAbsoluteListOut)
{
    TSxGrainRecord r = Full();
    TSxGrainRecord back = Load(Save(r, false));
    EXPECT_TRUE(back.AbsoluteList.empty());
    r.AbsoluteList.clear();
    ExpectSame(back, r);
}

TEST(GrainRecord, LoneSurrogatesSurviveTheRoundTrip)
{
    // A name as Explorer may hand it: a high surrogate alone, then a low one alone.
    const std::u16string name = {u'a', char16_t(0xD800), u'b', char16_t(0xDFFF)};
    EXPECT_EQ(SxUtf8ToUtf16(SxUtf16ToUtf8(name)), name);
    EXPECT_EQ(SxUtf8ToUtf16("\xff" "a\xc3"), (std::u16string{0xFFFD, u'a', 0xFFFD}));
    EXPECT_EQ(SxUtf8ToUtf16("\xc0\xaf"), (std::u16string{0xFFFD, 0xFFFD})) << "overlong";
}

TEST(GrainRecord, OlderVersionsLoadAndSaveBackAsVersion4)
{
    // Version 0: no header, fields 2-6 only.
    std::vector<uint8_t> v0;
    Append32(v0, 2);
    v0.insert(v0.end(), {'h', 0, 'i', 0});
    Append32(v0, 0x101);  // only the low byte counts: a file
    Append32(v0, 1);
    Append32(v0, 3);
    v0.insert(v0.end(), {'k', '=', 'v'});
    Append32(v0, 5);
    Append32(v0, 6);
    TSxGrainRecord r = Load(v0);
    EXPECT_EQ(r.Version, 0);
    EXPECT_EQ(r.Name, "hi");
    EXPECT_TRUE(r.IsFile);
    EXPECT_EQ(r.Values, std::vector<std::string>{"k=v"});
    EXPECT_EQ(r.IconIndex, 5);
    EXPECT_EQ(r.OpenIconIndex, 6);
    EXPECT_TRUE(r.Data.empty());
    EXPECT_TRUE(r.AbsoluteList.empty());
    EXPECT_EQ(r.Attributes, 0);
    const std::vector<uint8_t> saved = Save(r);
    EXPECT_EQ(saved[0], 0x04);
    EXPECT_EQ(saved[1], 0xAA);
    EXPECT_EQ(Load(saved).Name, "hi");

    // Versions 1 and 2 add the data, 3 the list, 4 the attributes.
    for (uint8_t version : {1, 2, 3}) {
        std::vector<uint8_t> b = {version, 0xAA};
        b.insert(b.end(), v0.begin(), v0.end());
        Append32(b, 2);
        b.insert(b.end(), {9, 8});
        if (version == 3) {
            Append32(b, 8);
            b.insert(b.end(), {4, 0, 'q', 'r', 0, 0, 0xEE, 0xEE});
        }
        const TSxGrainRecord rv = Load(b);
        EXPECT_EQ(rv.Version, version);
        EXPECT_EQ(rv.Data, (std::vector<uint8_t>{9, 8}));
        EXPECT_EQ(rv.AbsoluteList.empty(), version < 3);
        EXPECT_EQ(rv.Attributes, 0);
    }
}

TEST(GrainRecord, NameLengthWithAaSecondByteReadsAsVersionedRecord)
{
    // A version-0 record whose name has 0xAA01 code units starts with the bytes 01 AA: the reader
    // takes them as the header of a version-1 record (a fixed property of the format). The
    // misread then runs into a huge length and is refused instead of loading nonsense.
    std::vector<uint8_t> v0;
    Append32(v0, 0xAA01);
    for (int i = 0; i < 0xAA01; ++i)
        v0.insert(v0.end(), {'A', 0});
    for (int i = 0; i < 5; ++i)
        Append32(v0, 0);
    TSxMemoryStream stream(v0);
    TSxGrainRecord r;
    EXPECT_THROW(LoadGrainRecord(stream, r), std::runtime_error);
    EXPECT_EQ(r.Version, 1);
}

TEST(GrainRecord, AttributeBitsAboveThreeAreIgnored)
{
    std::vector<uint8_t> b = Save(TSxGrainRecord{});
    b[b.size() - 4] = 0xFF;
    b[b.size() - 1] = 0x80;
    EXPECT_EQ(Load(b).Attributes, 0x0F);
}

TEST(GrainRecord, DamagedRecordsAreRefused)
{
    const std::vector<uint8_t> good = Save(Full());
    // Every cut of a good record is refused.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + n);
        TSxMemoryStream stream(cut);
        TSxGrainRecord r;
        EXPECT_THROW(LoadGrainRecord(stream, r), std::runtime_error) << "cut at " << n;
    }
    // Huge or negative inner lengths, and a list whose items do not fit it.
    struct Case { const char* what; size_t at; uint32_t value; };
    const std::vector<uint8_t> empty = Save(TSxGrainRecord{});
    const Case cases[] = {
        {"name length", 2, 0x7FFFFFFF}, {"name length negative", 2, 0xFFFFFFFF},
        {"value count", 10, 0x40000000}, {"value count negative", 10, 0x80000000},
        {"data size", 22, 0xFFFFFFFF},   {"list length", 26, 0x7FFFFFF0},
        {"list length negative", 26, 0xFFFFFFFE},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = empty;
        for (int i = 0; i < 4; ++i)
            b[c.at + i] = static_cast<uint8_t>(c.value >> (8 * i));
        TSxMemoryStream stream(b);
        TSxGrainRecord r;
        EXPECT_THROW(LoadGrainRecord(stream, r), std::runtime_error) << c.what;
    }
    // A list length that fits the record but items that run past the list, or a count of 1.
    for (const std::vector<uint8_t>& list : {std::vector<uint8_t>{9, 0, 1, 2, 0, 0},
                                             std::vector<uint8_t>{1, 0, 0, 0},
                                             std::vector<uint8_t>{3, 0, 7, 3}}) {
        std::vector<uint8_t> b(empty.begin(), empty.begin() + 26);
        Append32(b, static_cast<uint32_t>(list.size()));
        b.insert(b.end(), list.begin(), list.end());
        Append32(b, 0);
        TSxMemoryStream stream(b);
        TSxGrainRecord r;
        EXPECT_THROW(LoadGrainRecord(stream, r), ESxGrainRecordError);
    }
}

TEST(GrainItem, SignatureMustMatchExactly)
{
    const std::vector<uint8_t> record = Save(TSxGrainRecord{});
    const size_t cb = record.size() + 21;
    EXPECT_TRUE(IsGrainItem(AsItem(Item(record, 34, cb))));
    for (const char* other : {"tessolarkPidl", "TessolarkPIDL", "TessolarkPidm", "TessolarkPid\0"}) {
        const std::vector<uint8_t> item = Item(record, 34, cb, other);
        EXPECT_FALSE(IsGrainItem(AsItem(item))) << other;
        EXPECT_THROW(GrainItemRecord(AsItem(item)), ESxGrainRecordError);
    }
    EXPECT_FALSE(IsGrainItem(nullptr));
}

TEST(GrainItem, MalformedItemsAreNotGrainItems)
{
    const std::vector<uint8_t> record = Save(Full());
    const uint32_t n = static_cast<uint32_t>(record.size());
    struct Case { const char* what; uint32_t length; size_t cb; bool valid; };
    const Case cases[] = {
        {"well formed", n, n + 21, true},
        {"no spare byte", n, n + 20, false},
        {"room to spare", n, n + 40, true},
        {"cb 0", 0, 0, false},
        {"cb 2", 0, 2, false},
        {"cb 16: signature only", 0, 16, false},
        {"cb 20: no room for the spare", 0, 20, false},
        {"cb 21, empty record", 0, 21, true},
        {"length past cb", n + 1, n + 21, false},
        {"huge length", 0xFFFFFFF0u, n + 21, false},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> item = Item(record, c.length, c.cb);
        EXPECT_EQ(IsGrainItem(AsItem(item)), c.valid) << c.what;
        if (!c.valid) {
            EXPECT_THROW(GrainItemRecord(AsItem(item)), ESxGrainRecordError) << c.what;
        }
    }
    // A record cut short inside an item whose lengths agree: the item is well formed, its record
    // is not, so it gives no grain.
    const std::vector<uint8_t> cut(record.begin(), record.begin() + record.size() / 2);
    const std::vector<uint8_t> item = Item(cut, static_cast<uint32_t>(cut.size()), cut.size() + 21);
    ASSERT_TRUE(IsGrainItem(AsItem(item)));
    TSxMemoryStream stream(GrainItemRecord(AsItem(item)));
    TSxGrainRecord r;
    EXPECT_THROW(LoadGrainRecord(stream, r), std::runtime_error);
}

TEST(GrainItem, RecordsTooLargeForAnItemAreAnError)
{
    EXPECT_NO_THROW(MakeGrainItemID(std::vector<uint8_t>(SxGrainItemMaxRecord)));
    EXPECT_THROW(MakeGrainItemID(std::vector<uint8_t>(SxGrainItemMaxRecord + 1)), ESxGrainRecordError);
    TSxPidlPtr big = MakeGrainItemID(std::vector<uint8_t>(SxGrainItemMaxRecord, 7));
    EXPECT_EQ(PIDLGetSize(big.get()), 0xFFFFu);
    EXPECT_TRUE(IsGrainItem(big.get()));
}

TEST(GrainValues, CommaTextAndValueLines)
{
    const struct { std::vector<std::string> lines; const char* text; } cases[] = {
        {{}, ""},
        {{"a", "b"}, "a,b"},
        {{"a b", ""}, "\"a b\",\"\""},
        {{"x,y", "say \"hi\""}, "\"x,y\",\"say \"\"hi\"\"\""},
        {{"k=v", "\xc3\xa4"}, "k=v,\xc3\xa4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SxCommaText(c.lines), c.text);

    std::vector<std::string> lines = {"vFilePath=a\\b", "vCanDelete=1"};
    EXPECT_EQ(SxGetValue(lines, "VFILEPATH"), "a\\b");
    EXPECT_EQ(SxGetValue(lines, "vFile"), "");
    SxSetValue(lines, "vCanDelete", "0");
    SxSetValue(lines, "vCacheName", "c");
    EXPECT_EQ(lines, (std::vector<std::string>{"vFilePath=a\\b", "vCanDelete=0", "vCacheName=c"}));
    SxSetValue(lines, "vfilepath", "");
    EXPECT_EQ(lines, (std::vector<std::string>{"vCanDelete=0", "vCacheName=c"}));
}
