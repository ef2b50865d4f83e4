#include "SettingsFixture.h"
#include "TestFiles.h"
#include "uTLogger.h"

#include <fstream>
#include <regex>
#include <sstream>

namespace {
bool Exists(const std::string& name)
{
    return GetFileAttributesW(Utf8ToWide(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

class LoggerTest : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        install = MakeTempFolder("log");
        StoreString("Application", "install", install);
        SetLogMessageBox([this](const std::string& line) { boxes.push_back(line); });
    }
    void TearDown() override
    {
        SetLogMessageBox(nullptr);
        DeleteFileW(Utf8ToWide(install + "\\Comp.log").c_str());
        RemoveDirectoryW(Utf8ToWide(install).c_str());
        SettingsTest::TearDown();
    }
    std::string install;
    std::vector<std::string> boxes;
};

// The words of the lines in a log text.
std::string Words(const std::string& text)
{
    std::string words;
    static const std::regex line(R"(([^|\r\n]+)\|(ERROR|INFO|DEBUG|STEP)\|(t\d)\r\n)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        words += (*it)[2].str().substr(0, 1);
    return words;
}
} // namespace

TEST_F(LoggerTest, LevelTableWithFileAndBox)
{
    // Letters of the types written (E I D S) and of those shown in a box.
    struct Case { int32_t level; const char* written; const char* boxed; };
    const Case cases[] = {
        {0, "", ""}, {1, "E", ""}, {2, "EI", ""}, {3, "EIDS", "S"}, {4, "EIDS", "EIDS"}, {5, "EIDS", "S"}, {9, "EIDS", "S"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        TLogger log(c.level, false, "Comp");
        EXPECT_EQ(log.FileName, install + "\\Comp.log");
        for (int type : {1, 2, 3, 4, 7, 0, -1}) {
            const std::string text = std::string("t").append(std::to_string(type < 0 ? 9 : type));
            log.Log(type, text);
        }
        if (*c.written == '\0') {
            EXPECT_FALSE(Exists(log.FileName)) << c.level;   // nothing logged: no file made
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        const std::string text = ReadFileBytes(log.FileName);
        EXPECT_EQ(Words(text), c.written) << c.level << ": " << text;
        std::string boxed;
        for (const std::string& b : boxes) boxed += Words(b + "\r\n");
        EXPECT_EQ(boxed, c.boxed) << c.level;
    }
}

TEST_F(LoggerTest, LineFormatAppendKeepAndDelete)
{
    {
        TLogger log(2, false, "Comp");
        log.Error("GetContent: Gr\xC3\xB6\xC3\x9F" "e");
        log.Info("second");
    }
    TLogger again(1, true, "Comp");   // keep: appends
    again.Error("third");
    const std::string text = ReadFileBytes(again.FileName);
    EXPECT_TRUE(std::regex_match(text, std::regex("[^|\\r\\n]+ [^|\\r\\n]+\\|ERROR\\|GetContent: Gr\xC3\xB6\xC3\x9F" "e\\r\\n"
                                                  "[^|\\r\\n]+\\|INFO\\|second\\r\\n"
                                                  "[^|\\r\\n]+\\|ERROR\\|third\\r\\n")))
        << text;
    TLogger fresh(1, false, "Comp");   // not kept: the old file goes
    EXPECT_FALSE(Exists(fresh.FileName));
}

TEST_F(LoggerTest, LevelFromTheSettingAndMissingFolderRaises)
{
    StoreDword("Application", "debug", 3);
    TLogger log(-1, true, "Comp");
    EXPECT_EQ(log.Level, 3);
    log.Log(4, "t4");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("|STEP|t4"), std::string::npos);
    EXPECT_EQ(Words(ReadFileBytes(log.FileName)), "S");

    StoreString("Application", "install", install + "missing\\");
    TLogger lost(1, true, "Comp");
    EXPECT_THROW(lost.Error("x"), std::runtime_error);
    EXPECT_NO_THROW(lost.Info("not written"));
}
