#include "uTUrl.h"

#include <gtest/gtest.h>

TEST(URLDecode, DecodesEscapesAndKeepsEverythingElse)
{
    const struct { const char* in; const char* out; } cases[] = {
        {"a%20b", "a b"},
        {"a+b", "a+b"},
        {"%41%4a", "AJ"},
        {"", ""},
        {"%c3%b6", "\xc3\xb6"},
        {"%C3%B6%25", "\xc3\xb6%"},
        {"%7b%7C%23", "{|#"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URLDecode(c.in), c.out) << c.in;
}

TEST(URLDecode, RaisesForBadEscapes)
{
    const struct { const char* in; const char* message; } cases[] = {
        {"50%", "Invalid URL-encoded string passed to URLDecode."},
        {"%4", "Invalid URL-encoded string passed to URLDecode."},
        {"ab%4", "Invalid URL-encoded string passed to URLDecode."},
        {"%G1", "Invalid HEX digits in string passed to URLDecode."},
        {"%1G", "Invalid HEX digits in string passed to URLDecode."},
        {"%%41", "Invalid HEX digits in string passed to URLDecode."},
    };
    for (const auto& c : cases) {
        try {
            URLDecode(c.in);
            ADD_FAILURE() << "no exception for " << c.in;
        } catch (const EURLDecode& e) {
            EXPECT_STREQ(e.what(), c.message) << c.in;
        }
    }
}
