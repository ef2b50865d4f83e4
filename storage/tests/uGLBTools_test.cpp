#include "uGLBShellTools.h"
#include "uGLBTools.h"

#include <gtest/gtest.h>

TEST(FormatByteSize, UnitsSeparatorsAndRounding)
{
    struct Case { int64_t n; const char* expected; };
    const Case cases[] = {
        {0, "0,00 B"},
        {1023, "1.023,00 B"},
        {1024, "1.024,00 B"},          // only above 1024 goes up a unit
        {1025, "1,00 KB"},
        {1536, "1,50 KB"},
        {1152, "1,13 KB"},             // 1.125 rounds half up
        {1048576, "1.024,00 KB"},
        {1048577, "1,00 MB"},
        {1073741825, "1,00 GB"},
        {2147483647, "2,00 GB"},
        {1234567, "1,18 MB"},
        {-1536, "-1.536,00 B"},
        {-2147483647 - 1, "-2.147.483.648,00 B"},
        {5368709120LL, "5,00 GB"},              // folder sums pass 2 GB
    };
    for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.n, ".", ","), c.expected) << c.n;
    EXPECT_EQ(FormatByteSize(1536, ",", "."), "1.50 KB");
    EXPECT_EQ(FormatByteSize(1048000, "\xC2\xA0", ","), "1\xC2\xA0" "023,44 KB");
}

TEST(HttpDateToText, Table)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"Tue, 07 Dec 2004 10:00:00 GMT", "07.12.2004 10:00:00"},
        {"Mon, 03 Jan 2005 08:05:00 GMT", "03.01.2005 08:05:00"},
        {"Sun, 30 Sep 2012 23:59:59 GMT", "30.09.2012 23:59:59"},
        {"Sun, 30 sep 2012 23:59:59 GMT", "30..2012 23:59:59"},   // month names are case-sensitive
        {"Sun, 30 Sep 2012", ""},                                  // too short: no date
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(HttpDateToText(c.in), c.out) << c.in;
}

TEST(SmallTools, EscapeAmpersandsAndStrToIntDef)
{
    EXPECT_EQ(EscapeAmpersands("A&B && C"), "A&&B &&&& C");
    struct Case { const char* text; int32_t out; };
    const Case cases[] = {{"42", 42},     {"-7", -7},           {"+3", 3},   {"", 99},
                          {"4x", 99},     {" 4", 99},           {"-", 99},   {"2147483647", 2147483647},
                          {"-2147483648", -2147483647 - 1},     {"2147483648", 99}, {"99999999999999999999", 99}};
    for (const Case& c : cases) EXPECT_EQ(StrToIntDef(c.text, 99), c.out) << c.text;
    struct Case64 { const char* text; int64_t out; };
    const Case64 wide[] = {{"5368709120", 5368709120},          {"-2147483649", -2147483649LL},
                           {"9223372036854775807", INT64_MAX},  {"-9223372036854775808", INT64_MIN},
                           {"9223372036854775808", 99},         {"18446744073709551616", 99},
                           {"", 99},                            {"1 2", 99}};
    for (const Case64& c : wide) EXPECT_EQ(StrToInt64Def(c.text, 99), c.out) << c.text;
}

TEST(SmallTools, WindowsVersionCodes)
{
    struct Case { uint32_t platform, major, minor; int code; };
    const Case cases[] = {{1, 4, 0, 0}, {1, 4, 10, 1}, {1, 4, 90, 3}, {1, 4, 20, -1}, {2, 3, 51, 4},
                          {2, 4, 0, 4}, {2, 5, 0, 5},  {2, 5, 1, 6},  {2, 5, 2, 7},   {2, 6, 0, 8},
                          {2, 10, 0, 8}, {0, 3, 10, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(WindowsVersionCode(c.platform, c.major, c.minor), c.code) << c.major << "." << c.minor;
}

TEST(NameRoutines, Table)
{
    struct Base { const char* in; const char* out; };
    for (const Base& c : {Base{"C:\\a\\photo.jpg.thumb.jpg", "photo"}, Base{"C:\\a\\README", ""},
                          Base{"C:\\a.b\\README", ""}, Base{"x.txt", "x"}, Base{".hidden", ""}})
        EXPECT_EQ(shl_ExtractFileBaseName(c.in), c.out) << c.in;
    for (const Base& c : {Base{"Fotos\\Urlaub\\", "Urlaub"}, Base{"http://h/dav/x/a.jpg", "a.jpg"},
                          Base{"Fotos\\Urlaub", "Urlaub"}, Base{"single", "single"}, Base{"", ""},
                          Base{"\\", ""}})
        EXPECT_EQ(shl_ExtractPathName(c.in), c.out) << c.in;

    for (const char* bad : {"a?b", "a/b", "a\\b", "a:b", "a*b", "a\"b", "a<b", "a>b", "a|b"})
        EXPECT_FALSE(shl_IsValidFileName(bad)) << bad;
    for (const char* good : {"Größe & Co (1).txt", "", "{a} b.c"}) EXPECT_TRUE(shl_IsValidFileName(good)) << good;

    struct Image { const char* name; bool image; };
    for (const Image& c : {Image{"a.JPG", true}, Image{"a.jpeg", true}, Image{"a.pcx", true}, Image{"a.jp", true},
                           Image{"a.pn", true}, Image{"a.txt", false}, Image{"README", false},
                           Image{"dir.png\\file", false}, Image{"a.gif.doc", false}})
        EXPECT_EQ(shl_IsImageFile(c.name), c.image) << c.name;
}

TEST(NameRoutines, SlashesAndFolderParts)
{
    struct Case { const char* in; const char* with; const char* without; const char* folder; const char* name; };
    for (const Case& c : {Case{"C:\\a\\b.txt", "C:\\a\\b.txt\\", "C:\\a\\b.txt", "C:\\a\\", "b.txt"},
                          Case{"C:\\a\\", "C:\\a\\", "C:\\a", "C:\\a\\", ""},
                          Case{"C:\\a\\\\/", "C:\\a\\\\/\\", "C:\\a", "C:\\a\\\\/", ""},
                          Case{"Fotos/Urlaub", "Fotos/Urlaub\\", "Fotos/Urlaub", "Fotos/", "Urlaub"},
                          Case{"C:x", "C:x\\", "C:x", "C:", "x"},
                          Case{"\\\\?\\UNC\\srv\\s\\d", "\\\\?\\UNC\\srv\\s\\d\\", "\\\\?\\UNC\\srv\\s\\d",
                               "\\\\?\\UNC\\srv\\s\\", "d"},
                          Case{"name", "name\\", "name", "", "name"}, Case{"", "", "", "", ""},
                          Case{"\\", "\\", "", "\\", ""}}) {
        EXPECT_EQ(shl_WithSlash(c.in), c.with) << c.in;
        EXPECT_EQ(shl_WithoutSlash(c.in), c.without) << c.in;
        EXPECT_EQ(shl_ExtractFilePath(c.in), c.folder) << c.in;
        EXPECT_EQ(shl_ExtractFilePath(c.in) + shl_ExtractFileName(c.in), c.in) << c.in;
        EXPECT_EQ(shl_ExtractFileName(c.in), c.name) << c.in;
    }
}

TEST(PathRoots, EveryAbsoluteFormHasItsRootAndRelativeOrDevicePathsNone)
{
    struct Case { const char* path; size_t root; bool removable; };
    const Case cases[] = {
        {"C:\\Users\\a\\Tandrel Sendrake\\Cache\\", 3, true},
        {"z:\\x", 3, true},
        {"C:\\", 3, false},                                   // a drive root is never removed
        {"\\\\server\\share\\Profile\\AppData\\", 15, true},
        {"\\\\server\\share", 14, false},
        {"\\\\server\\share\\", 15, false},
        {"\\\\?\\C:\\Users\\a\\", 7, true},
        {"\\\\?\\c:\\", 7, false},
        {"\\\\?\\UNC\\server\\share\\Profile\\", 21, true},
        {"\\\\?\\unc\\server\\share", 20, false},
        {"\\\\?\\UNC\\server\\", 0, false},                  // no share
        {"\\\\server\\", 0, false},
        {"\\\\server", 0, false},
        {"\\\\.\\C:\\x", 0, false},                           // device paths
        {"\\\\.\\pipe\\x", 0, false},
        {"\\\\?\\GLOBALROOT\\Device\\x", 0, false},
        {"\\\\?\\Volume{1b3b1146-4076-11e1-84aa-806e6f6e6963}\\x", 0, false},
        {"\\??\\C:\\x", 0, false},
        {"Cache\\", 0, false},                                // relative
        {"\\Users\\a", 0, false},
        {"C:Users", 0, false},
        {"", 0, false},
        {"C:\\a\\*", 3, false},                               // wildcards
        {"\\\\?\\C:\\a?b", 7, false},
        {"C:\\a\\\\b", 3, false},                             // an empty level
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shl_PathRootLength(c.path), c.root) << c.path;
        EXPECT_EQ(shl_IsRemovableFolder(c.path), c.removable) << c.path;
    }
}

TEST(SameTextAscii, OnlyAsciiLettersFoldCase)
{
    struct Case { const char* a; const char* b; bool same; };
    const Case cases[] = {
        {"", "", true},
        {"Sendrake", "sENDRAKE", true},
        {"Key1", "key1", true},
        {"Key", "Key1", false},
        {"[", "{", false},                    // neighbours of the letters do not fold
        {"@", "`", false},
        {"\xC3\x84", "\xC3\xA4", false},      // "Ä" / "ä": beyond ASCII bytes compare as they are
    };
    for (const Case& c : cases) EXPECT_EQ(SameTextAscii(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(AsciiLower("AbZ[\xC3\x84"), "abz[\xC3\x84");
}

TEST(DayNumberOfDate, CountsFromTheLastDayOf1899BothWays)
{
    struct Case { int y, m, d; int64_t n; };
    const Case cases[] = {
        {1899, 12, 30, 0}, {1900, 1, 1, 2}, {1900, 3, 1, 61}, {1899, 12, 29, -1},
        {2000, 2, 29, 36585}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DayNumberOfDate(c.y, c.m, c.d), c.n) << c.y << "-" << c.m << "-" << c.d;
        int y = 0, m = 0, d = 0;
        DateOfDayNumber(c.n, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d) << c.n;
    }
}
