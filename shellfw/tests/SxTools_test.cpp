#include "SxTools.h"

#include <gtest/gtest.h>

TEST(SxTools, ConvertsAttributeAndDropEffectSets)
{
    const struct {
        TSxAttributes set;
        uint32_t attributes;
    } cases[] = {
        {0, 0x80}, {SxReadOnly, 0x81}, {SxHidden, 0x82}, {SxSystem, 0x84}, {SxArchive, 0xA0},
        {SxReadOnly | SxHidden | SxSystem | SxArchive, 0xA7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SxToFileAttributes(c.set), c.attributes) << int(c.set);
        EXPECT_EQ(FileAttributesToSx(c.attributes), c.set) << int(c.set);
    }
    EXPECT_EQ(FileAttributesToSx(0x10 | 0x100 | 0x2000 | 0x01), SxReadOnly); // other bits dropped
    EXPECT_EQ(DropEffectToSx(0x80000007u), SxDropCopy | SxDropMove | SxDropLink);
    EXPECT_EQ(DropEffectToSx(0x02), SxDropMove);
    EXPECT_EQ(MakeVersion(6, 1), 0x00060001u);
}

TEST(SxTools, ChecksFileNames)
{
    const struct {
        const char* path;
        bool valid;
    } cases[] = {
        {"report.txt", true},       {"c:\\dir\\report.txt", true}, {"\xc3\xa4\xe2\x82\xac", true},
        {"dir\\.hidden", false},    {"dir\\what?", false},         {"", false},
        {"dir\\   ", false},        {" lead", false},              {"a:b", true},
        {"tab\there", false},       {"pipe|", false},              {"x\\", false},
        {"quote\"", false},         {"a<b", false},                {"braces {1}", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidFileName(c.path), c.valid) << c.path;
}

TEST(SxTools, SplitsPathsAndExtensions)
{
    const struct {
        const char* path;
        std::vector<std::string> parts;
    } cases[] = {
        {"a\\b\\", {"old", "a", "b"}},
        {"\\a", {"old", "", "a"}},
        {"a\\\\b", {"old", "a", "", "b"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> list{"old"};
        SplitPath(c.path, list);
        EXPECT_EQ(list, c.parts) << c.path;
    }
    const struct {
        const char* name;
        const char* extension;
    } extensions[] = {{"a.b.c", "c"}, {".txt", "txt"}, {"txt", "txt"}, {"abc.", "abc."}, {"a.", "a."}};
    for (const auto& e : extensions)
        EXPECT_EQ(ExtractLastExtension(e.name), e.extension) << e.name;
}

TEST(SxTools, FormatsKilobytes)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"0", "0 KB"}, {"", "0 KB"}, {"12", "12 KB"}, {"1234", "1 234 KB"},
                 {"123456789", "123 456 789 KB"}, {"0001000", "1 000 KB"}};
    for (const auto& c : cases)
        EXPECT_EQ(FormatKilobytes(c.in), c.out) << c.in;
}

TEST(SxTools, EncodesDateTimesAsDayCounts)
{
    const struct {
        TSxCalendarTime time;
        double value;
    } cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1900, 1, 1, 12, 0, 0, 0}, 2.5},
        {{2024, 2, 29, 18, 0, 0, 0}, 45351.75},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(SxEncodeDateTime(c.time), c.value) << c.value;
        const TSxCalendarTime back = SxDecodeDateTime(c.value);
        EXPECT_EQ(back.year, c.time.year);
        EXPECT_EQ(back.month, c.time.month);
        EXPECT_EQ(back.day, c.time.day);
        EXPECT_EQ(back.hour, c.time.hour);
    }
    const TSxCalendarTime odd{2031, 7, 3, 23, 59, 59, 999};
    const TSxCalendarTime back = SxDecodeDateTime(SxEncodeDateTime(odd));
    EXPECT_EQ(back.second, 59);
    EXPECT_EQ(back.millisecond, 999);
    EXPECT_EQ(back.day, 3);
}
