#include "uGLBConst.h"

#include <gtest/gtest.h>

namespace {
struct LanguageGuard {
    int saved = GetLanguage();
    ~LanguageGuard() { SetLanguage(saved); }
};
} // namespace

TEST(TextTable, PicksTheMemberOfTheLanguageAndFallsBackToGerman)
{
    LanguageGuard guard;
    struct Case { int index; const char* first; int language; };
    const Case cases[] = {
        {0, "Neuer Ordner", 0},
        {1, "New folder", 1},
        {2, "Neuer Ordner", 2},     // no member: German
        {255, "Neuer Ordner", 255},
        {257, "New folder", 1},     // only the low byte counts
        {-1, "Neuer Ordner", 255},
    };
    for (const Case& c : cases) {
        SetLanguage(c.index);
        EXPECT_EQ(GetLanguage(), c.language) << c.index;
        EXPECT_EQ(Txt(1), c.first) << c.index;
    }
}

TEST(TextTable, HoldsTheListedPairsExactly)
{
    EXPECT_EQ(Txt(103, 0), "Verbindung konnte nicht hergestellt werden.\r\nBitte überprüfen Sie Ihre Kennung "
                           "und/oder Passwort.");
    EXPECT_EQ(Txt(103, 1), "Connection failed.\r\nPlease check your username or password.");
    EXPECT_EQ(Txt(89, 0), "Thumbnail wird gesucht ");   // trailing blank kept
    EXPECT_EQ(Txt(63, 0), "Umbennen nicht möglich, ein Objekt mit diesem Namen existiert bereits.");
    EXPECT_EQ(Txt(66, 1), "A filename cannot contain any of the following characters:\r\n\\/:*?\"<>|");
    EXPECT_EQ(Txt(35, 1), "move to folder \"Gelöschte Dateien\"");
    EXPECT_EQ(Txt(55, 1), "Folders");
    EXPECT_EQ(Txt(73, 0), "Sollen diese %d Elemente wirklich gelöscht werden?");
    for (int same : {9, 39, 42}) EXPECT_EQ(Txt(same, 0), Txt(same, 1)) << same;
    for (int n = 1; n <= TextCount; ++n) {
        EXPECT_FALSE(Txt(n, 0).empty()) << n;
        EXPECT_FALSE(Txt(n, 1).empty()) << n;
    }
    EXPECT_THROW(Txt(0), std::out_of_range);
    EXPECT_THROW(Txt(104), std::out_of_range);
}

TEST(TextTable, RequiredFilesInOrder)
{
    const char* expected[] = {"Sendrake.exe", "Brannock.dll", "msxml4.dll", "msxml4r.dll", "msxml4a.dll"};
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(RequiredFiles[i], expected[i]);
}
