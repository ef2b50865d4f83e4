#include "uTVersionInfo.h"
#include "uTrayTexts.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionInfo, CompareVersionNumberByNumber)
{
    struct {
        const char* Server;
        int Result;
    } const cases[] = {
        {"1.2.1.51", 0}, {"1.2.1.52", 1}, {"F1.3.0.0", 2}, {"U1.3.0.0", 1}, {"1.2.0.9", 0},
        {"FNIL", -1},
        // Number by number: 1.10 is newer than 1.9, 1.2.1.6 older than 1.2.1.51.
        {"1.10.0.0", 1}, {"1.2.1.6", 0}, {"1.2.1.100", 1}, {"F1.2.1.51", 0}, {"1.2.1.51.0", 0}, {"1.2.1.51.1", 1},
        {"2", 1}, {"1.2", 0}, {"", 0}, {"F99999999999999999999999.0", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareVersion(c.Server, "1.2.1.51"), c.Result) << c.Server;
    // The check compares with the program's own version.
    EXPECT_EQ(CompareVersion(SendrakeVersion), 0);
    EXPECT_EQ(CompareVersion(std::string(SendrakeVersion) + ".1"), 1);
    EXPECT_EQ(CompareVersion("1.10", "1.9"), 1);
    EXPECT_EQ(CompareVersion("1.9", "1.10"), 0);
}

TEST(VersionInfo, TagValuesAndParse)
{
    EXPECT_EQ(GetXMLTagValue("<version>1.2.3</version>", "version"), "1.2.3");
    EXPECT_EQ(GetXMLTagValue("x<version> 1.2 </version><version>9</version>", "version"), " 1.2 ");
    EXPECT_EQ(GetXMLTagValue("<version>1.2.3", "version"), "1.2.3");
    EXPECT_EQ(GetXMLTagValue("<system>win</system>", "version"), "FNIL");
    // A version element split across lines still parses once the lines are joined.
    TVersionInfo info;
    info.Parse(std::string("<system>Windows</system><language>de</language><vers") + "ion>1.3.0.0</version>"
               "<requirement>Windows 2000</requirement>");
    EXPECT_EQ(info.System, "Windows");
    EXPECT_EQ(info.Language, "de");
    EXPECT_EQ(info.Version, "1.3.0.0");
    EXPECT_EQ(info.Requirement, "Windows 2000");
}

TEST(TrayTexts, ReplaceCRAndFormat)
{
    EXPECT_EQ(ReplaceCR("Fenster ausblenden und\r\nals Symbol"), "Fenster ausblenden und \nals Symbol");
    EXPECT_EQ(ReplaceCR(""), "");
    EXPECT_EQ(FormatText("a %s b %s", "X"), "a X b %s");
    EXPECT_EQ(TrayTxt(TTrayText::VersionCaption, 1), "Versionsdownload");
}

} // namespace
