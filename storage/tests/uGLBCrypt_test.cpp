#include "uGLBCrypt.h"

#include <gtest/gtest.h>

TEST(PasswordCipher, StoredTextsOfTheCipherLibrary)
{
    struct Case { const char* plain; const char* stored; };
    const Case cases[] = {
        {"geheim123", "ObT5norKqGDs"},
        {"a", "Pw=="},
        {"Passwort!", "DuUQ2j6yHvcN"},
        {"Gr\xC3\xBC\xC3\x9F" "e\xE2\x82\xAC", "GWSFCk9qzvpKUA=="},   // UTF-8 bytes of "Grüße€"
        {"correct horse battery staple", "PU4PZhvDXhrGzKW9NuZ9iCPlhcDO8jKMzw8W4g=="},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncryptPassword(c.plain), c.stored) << c.plain;
        EXPECT_EQ(DecryptPassword(c.stored), c.plain) << c.stored;
    }
}

TEST(PasswordCipher, RoundTrips)
{
    std::string all;   // every byte that can stand in UTF-8 text, and multi-byte characters
    for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
    const std::string cases[] = {
        all, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x94\x91", std::string(1000, 'x'), "12345678",
        "1234567", "123456789", " ",
    };
    for (const std::string& plain : cases) {
        const std::string stored = EncryptPassword(plain);
        EXPECT_FALSE(stored.empty());
        EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(DecryptPassword(stored), plain);
        EXPECT_EQ(EncryptPassword(plain), stored);   // fresh cipher each time
    }
}

TEST(PasswordCipher, StoredTextThatIsNoValidOutput)
{
    EXPECT_EQ(DecryptPassword("!!! not base64 !!!"), "");
    EXPECT_EQ(DecryptPassword("oQ=="), "");   // deciphers to the lone byte 0xFF: no UTF-8 text
    EXPECT_EQ(DecryptPassword("===="), "");
    // Valid Base64 of other bytes gives some text or the empty text, never a crash.
    const std::string other = DecryptPassword("QUJDREVGR0g=");
    EXPECT_NE(other, "ABCDEFGH");
}
