// The transfer formats' bytes: round trips of real-looking data, and tables of damaged blocks that
// every reader must refuse without reading past the block (run natively under ASan).
#include "SxTransferFormats.h"
#include "SxGrainRecord.h"
#include "SxStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

// A block exactly as large as its bytes (so ASan sees any read past it).
struct TBlock {
    explicit TBlock(const std::vector<uint8_t>& bytes) : Data(new uint8_t[bytes.size() ? bytes.size() : 1]), Size(bytes.size())
    {
        if (Size)
            std::memcpy(Data.get(), bytes.data(), Size);
    }
    std::unique_ptr<uint8_t[]> Data;
    size_t Size;
};

std::vector<uint8_t> U32Bytes(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return bytes;
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One grain item ("TessolarkPidl" signature) holding a record with the given name.
TSxPidlPtr GrainItem(const std::string& name)
{
    TSxGrainRecord record;
    record.Name = name;
    record.IsFile = true;
    TSxMemoryStream stream;
    SaveGrainRecord(stream, record, false);
    return MakeGrainItemID(stream.Bytes());
}

std::string ItemName(PCSxItemIDList item)
{
    TSxMemoryStream stream(GrainItemRecord(item));
    TSxGrainRecord record;
    LoadGrainRecord(stream, record);
    return record.Name;
}

struct TDamaged {
    const char* what;
    std::vector<uint8_t> bytes;
};

void ExpectRefused(const std::vector<TDamaged>& cases, const std::function<void(const void*, size_t)>& read)
{
    for (const auto& c : cases) {
        TBlock block(c.bytes);
        EXPECT_THROW(read(block.Data.get(), block.Size), ESxTransferFormatError) << c.what;
    }
}

const std::string Umlaut = "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA4.txt";            // Größe ä.txt
const std::string Cjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.doc";            // 日本語.doc
const std::string Emoji = "Urlaub \xF0\x9F\x8C\xB4.jpg";                       // Urlaub 🌴.jpg

TEST(TransferFormats, IDListArrayRoundTripKeepsFolderAndItemsInOrder)
{
    TSxPidlPtr folder = GrainItem("Bilder");
    std::vector<TSxPidlPtr> owned;
    for (const auto& name : {Umlaut, Cjk, Emoji})
        owned.push_back(GrainItem(name));
    std::vector<PCSxItemIDList> items{owned[0].get(), owned[1].get(), owned[2].get()};
    TBlock block(SxBuildIDListArray(folder.get(), items));

    TSxIDListArray read = SxReadIDListArray(block.Data.get(), block.Size);
    EXPECT_EQ(ItemName(read.Folder), "Bilder");
    ASSERT_EQ(read.Items.size(), 3u);
    EXPECT_EQ(ItemName(read.Items[0]), Umlaut);
    EXPECT_EQ(ItemName(read.Items[1]), Cjk);
    EXPECT_EQ(ItemName(read.Items[2]), Emoji);

    // An empty folder list (the desktop) and no items are valid too.
    TBlock empty(SxBuildIDListArray(nullptr, {}));
    read = SxReadIDListArray(empty.Data.get(), empty.Size);
    EXPECT_EQ(PIDLGetSize(read.Folder), 0u);
    EXPECT_TRUE(read.Items.empty());
}

TEST(TransferFormats, DamagedIDListArraysAreRefused)
{
    TSxPidlPtr item = GrainItem(Umlaut);
    std::vector<uint8_t> good = SxBuildIDListArray(nullptr, {item.get()});
    std::vector<uint8_t> cut(good.begin(), good.end() - 4);  // the item's list loses its terminator
    std::vector<uint8_t> countOne = good;
    countOne[0] = 0xFF, countOne[1] = 0xFF, countOne[2] = 0xFF, countOne[3] = 0x7F;
    std::vector<uint8_t> pastEnd = good;
    std::memcpy(pastEnd.data() + 8, U32Bytes({static_cast<uint32_t>(good.size())}).data(), 4);
    std::vector<uint8_t> intoHeader = good;
    std::memcpy(intoHeader.data() + 8, U32Bytes({2}).data(), 4);
    ExpectRefused({{"empty", {}},
                   {"count only", U32Bytes({0})},
                   {"count beyond the offsets", countOne},
                   {"two items, one offset", Cat(U32Bytes({2, 12}), {0, 0})},
                   {"offset past the end", pastEnd},
                   {"offset into the header", intoHeader},
                   {"list without terminator", cut},
                   {"item with count 1", Cat(U32Bytes({0, 8}), {1, 0, 0, 0})}},
                  [](const void* b, size_t n) { SxReadIDListArray(b, n); });
}

TEST(TransferFormats, PrivateFormatRoundTripAndDamagedHeaders)
{
    TSxMemoryStream records;
    for (const auto& name : {Umlaut, Emoji}) {
        TSxGrainRecord record;
        record.Name = name;
        record.IsFile = true;
        record.Values = {"vFilePath=Bilder\\" + name};
        SaveGrainRecord(records, record, true);
    }
    TBlock block(SxBuildPrivateFormat("TSxByHandProvider", 2, records.Bytes()));
    TSxPrivateFormatHeader header = SxReadPrivateFormatHeader(block.Data.get(), block.Size);
    EXPECT_EQ(header.ClassName, "TSxByHandProvider");
    ASSERT_EQ(header.Count, 2u);
    TSxMemoryStream in(block.Data.get() + header.RecordsOffset, header.RecordsSize);
    TSxGrainRecord a, b;
    LoadGrainRecord(in, a);
    LoadGrainRecord(in, b);
    EXPECT_EQ(a.Name, Umlaut);
    EXPECT_EQ(b.Values, std::vector<std::string>{"vFilePath=Bilder\\" + Emoji});

    std::vector<uint8_t> good = SxBuildPrivateFormat("TSxByHandProvider", 2, records.Bytes());
    std::vector<uint8_t> longer = good;
    longer[0] += 1;  // L one byte beyond the block
    ExpectRefused({{"empty", {}},
                   {"length only", U32Bytes({8})},
                   {"L beyond the block", longer},
                   {"L below its own fields", Cat(U32Bytes({4, 0, 0}), {})},
                   {"negative count", U32Bytes({8, 0xFFFFFFFF, 0})},
                   {"class name past L", U32Bytes({8, 0, 1})},
                   {"negative name length", U32Bytes({8, 0, 0x80000000})},
                   {"count past the bytes", Cat(U32Bytes({28, 1000000, 0}), std::vector<uint8_t>(20, 0))}},
                  [](const void* b, size_t n) { SxReadPrivateFormatHeader(b, n); });
}

std::vector<TSxFileDescriptor> SampleDescriptors()
{
    TSxFileDescriptor folder;
    folder.Flags = SxFD_ATTRIBUTES | SxFD_PROGRESSUI;
    folder.Attributes = SxFileAttributeDirectory;
    folder.Name = "Bilder";
    TSxFileDescriptor big;
    big.Flags = SxFD_ATTRIBUTES | SxFD_FILESIZE | SxFD_WRITESTIME | SxFD_PROGRESSUI;
    big.Attributes = 0x20;
    big.Size = 5ull * 1024 * 1024 * 1024 + 17;  // above 4 GiB
    big.LastWriteTime = 133'600'000'000'000'000ull;
    big.Name = "Bilder\\" + Cjk;
    TSxFileDescriptor emoji = big;
    emoji.Size = 1025;
    emoji.Name = "Bilder\\Urlaub 2024\\" + Emoji;
    return {folder, big, emoji};
}

TEST(TransferFormats, WideDescriptorsKeepNamesSizesAndTimes)
{
    const auto items = SampleDescriptors();
    std::vector<uint8_t> bytes = SxBuildFileGroupDescriptorW(items);
    EXPECT_EQ(bytes.size(), 4 + 3 * SxFileDescriptorWSize);
    TBlock block(bytes);
    const auto read = SxReadFileGroupDescriptorW(block.Data.get(), block.Size);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_TRUE(read[0].IsFolder());
    EXPECT_FALSE(read[1].IsFolder());
    EXPECT_EQ(read[1].Size, items[1].Size);
    EXPECT_EQ(read[1].LastWriteTime, items[1].LastWriteTime);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(read[i].Name, items[i].Name);

    // The ANSI form carries the same fields (names are the caller's code-page bytes).
    std::vector<TSxFileDescriptor> ansi = items;
    for (auto& d : ansi)
        d.Name = "Ordner\\read me.txt";
    TBlock a(SxBuildFileGroupDescriptorA(ansi));
    const auto readA = SxReadFileGroupDescriptorA(a.Data.get(), a.Size);
    ASSERT_EQ(readA.size(), 3u);
    EXPECT_EQ(readA[1].Size, items[1].Size);
    EXPECT_EQ(readA[2].Name, "Ordner\\read me.txt");
}

TEST(TransferFormats, DescriptorsRefuseNamesTheyCannotCarry)
{
    TSxFileDescriptor d;
    d.Name = std::string(200, 'a') + "\\" + std::string(59, 'b');  // 260 characters
    EXPECT_THROW(SxBuildFileGroupDescriptorW({d}), ESxTransferFormatError);
    d.Name.pop_back();
    EXPECT_NO_THROW(SxBuildFileGroupDescriptorW({d}));
    for (const char* bad : {"", "..\\evil.txt", "a\\..\\b", "\\abs.txt", "C:\\x.txt", "a\\\\b", "a/b"}) {
        d.Name = bad;
        EXPECT_THROW(SxBuildFileGroupDescriptorW({d}), ESxTransferFormatError) << bad;
    }
}

TEST(TransferFormats, DamagedDescriptorsAreRefused)
{
    const std::vector<uint8_t> good = SxBuildFileGroupDescriptorW(SampleDescriptors());
    std::vector<uint8_t> counted = good;
    counted[0] = 4;  // four items in a block of three
    std::vector<uint8_t> noTerminator = good;
    for (size_t i = 0; i < 260; ++i) {
        noTerminator[4 + 72 + 2 * i] = 'x';
        noTerminator[4 + 72 + 2 * i + 1] = 0;
    }
    std::vector<uint8_t> empty = good;
    std::memset(empty.data() + 4 + SxFileDescriptorWSize + 72, 0, 520);
    auto named = [&](const std::u16string& name) {
        std::vector<uint8_t> b = good;
        std::memset(b.data() + 4 + 72, 0, 520);
        std::memcpy(b.data() + 4 + 72, name.data(), 2 * name.size());
        return b;
    };
    ExpectRefused({{"empty", {}},
                   {"three bytes", {1, 0, 0}},
                   {"count beyond the block", counted},
                   {"huge count", Cat(U32Bytes({0xFFFFFFFF}), std::vector<uint8_t>(600, 0))},
                   {"cut descriptor", std::vector<uint8_t>(good.begin(), good.end() - 1)},
                   {"name without terminator", noTerminator},
                   {"empty name", empty},
                   {"parent path", named(u"..\\..\\Windows\\evil.dll")},
                   {"absolute path", named(u"C:\\evil.dll")}},
                  [](const void* b, size_t n) { SxReadFileGroupDescriptorW(b, n); });

    std::vector<uint8_t> ansi = SxBuildFileGroupDescriptorA({SampleDescriptors()[0]});
    std::memset(ansi.data() + 4 + 72, 'y', 260);
    ExpectRefused({{"ANSI name without terminator", ansi},
                   {"ANSI cut", std::vector<uint8_t>(ansi.begin(), ansi.end() - 100)}},
                  [](const void* b, size_t n) { SxReadFileGroupDescriptorA(b, n); });
}

TEST(TransferFormats, DropFilesCarryLongAndNonAsciiPaths)
{
    const std::string deep = "C:\\Users\\J\xC3\xBCrgen\\" + std::string(300, 'd') + "\\" + Emoji;  // past MAX_PATH
    const std::vector<std::string> paths{"C:\\Daten\\" + Umlaut, "C:\\Daten\\" + Cjk, deep};
    std::vector<uint8_t> bytes = SxBuildDropFiles(paths);
    TBlock block(bytes);
    TSxDropFiles read = SxReadDropFiles(block.Data.get(), block.Size);
    EXPECT_TRUE(read.Wide);
    EXPECT_EQ(read.Names, paths);
    // Each name with one zero character, then one more: the block ends with two zero units.
    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), std::vector<uint8_t>(4, 0));

    std::vector<uint8_t> header = U32Bytes({20, 0, 0, 0, 0});  // ANSI
    TBlock ansi(Cat(header, {'C', ':', '\\', 'a', 0, 'b', 0, 0}));
    read = SxReadDropFiles(ansi.Data.get(), ansi.Size);
    EXPECT_FALSE(read.Wide);
    EXPECT_EQ(read.Names, (std::vector<std::string>{"C:\\a", "b"}));
    EXPECT_THROW(SxBuildDropFiles({"C:\\a", ""}), ESxTransferFormatError);
}

TEST(TransferFormats, DamagedDropFilesAreRefused)
{
    const std::vector<uint8_t> wideHeader = U32Bytes({20, 0, 0, 0, 1});
    const std::vector<uint8_t> ansiHeader = U32Bytes({20, 0, 0, 0, 0});
    ExpectRefused({{"empty", {}},
                   {"header cut", std::vector<uint8_t>(19, 0)},
                   {"list inside the header", Cat(U32Bytes({8, 0, 0, 0, 1}), {0, 0, 0, 0})},
                   {"list past the end", Cat(U32Bytes({40, 0, 0, 0, 1}), {0, 0})},
                   {"header only", wideHeader},
                   {"wide name without terminator", Cat(wideHeader, {'C', 0, ':', 0})},
                   {"wide list without the closing name", Cat(wideHeader, {'a', 0, 0, 0})},
                   {"odd byte after a wide name", Cat(wideHeader, {'a', 0, 0, 0, 0})},
                   {"ANSI name without terminator", Cat(ansiHeader, {'C', ':', '\\', 'a'})},
                   {"ANSI list without the closing name", Cat(ansiHeader, {'a', 0})}},
                  [](const void* b, size_t n) { SxReadDropFiles(b, n); });
}

TEST(TransferFormats, DWordFormatsNeedFourBytes)
{
    TBlock move(U32Bytes({2}));
    EXPECT_EQ(SxReadDWordFormat(move.Data.get(), move.Size), 2u);
    ExpectRefused({{"empty", {}}, {"three bytes", {2, 0, 0}}},
                  [](const void* b, size_t n) { SxReadDWordFormat(b, n); });
}

} // namespace
