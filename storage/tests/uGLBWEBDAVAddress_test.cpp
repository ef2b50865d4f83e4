#include "uGLBWEBDAVAddress.h"

#include <gtest/gtest.h>

TEST(WebDAVAddresses, EncodedBelowTheHost) {
    const std::string host = "http://h:8/dav";
    struct Case { const char* path; const char* url; };
    const Case cases[] = {
        {"", "http://h:8/dav"},
        {"Fotos\\Neu", "http://h:8/dav/Fotos/Neu"},
        {"Fotos\\", "http://h:8/dav/Fotos/"},
        {"a b#c%d?e&f+g{h|i", "http://h:8/dav/a%20b%23c%25d%3Fe%26f%2Bg%7Bh%7Ci"},
        {"M\xC3\xBCller\\\xE6\x97\xA5\xF0\x9F\x98\x80.txt", "http://h:8/dav/M%C3%BCller/%E6%97%A5%F0%9F%98%80.txt"},
        {"keep-._~", "http://h:8/dav/keep-._~"},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildURLOf(host, c.path), c.url) << c.path;
    EXPECT_EQ(BuildThumbURLOf(host, "Fotos\\a b.jpg"), "http://h:8/dav/Fotos/.thumb/a%20b.jpg.thumb.jpg");
    EXPECT_EQ(BuildThumbURLOf(host, "a.jpg"), "http://h:8/dav/.thumb/a.jpg.thumb.jpg");
}

TEST(WebDAVAddresses, HrefsRelativeToTheBasePath) {
    struct Case { const char* href; const char* base; bool ok; const char* relative; };
    const Case cases[] = {
        {"/dav/", "/dav", true, ""},
        {"/dav", "/dav", true, ""},
        {"/dav/Fotos/a%20b.jpg", "/dav", true, "Fotos/a%20b.jpg"},
        {"http://h:8/dav/Fotos/", "/dav", true, "Fotos/"},
        {"/%64av/x", "/dav", true, "x"},       // compared decoded
        {"/a/b/", "", true, "a/b/"},
        {"/a/b/", "/", true, "a/b/"},
        {"/other/x", "/dav", false, ""},
        {"/davx/x", "/dav", false, ""},
        {"/", "/dav", false, ""},
        {"x", "/dav", false, ""},
        {"/d%zz/x", "/dav", false, ""},
        {"http://h/dav/hash#1.txt", "/dav", true, "hash#1.txt"},   // raw "#" and "?" are part of the name
        {"/dav/a?b.txt", "/dav", true, "a?b.txt"},
        {"/dav/x/#", "/dav", true, "x/#"},
    };
    for (const Case& c : cases) {
        std::string relative, error;
        EXPECT_EQ(RelativeHref(c.href, c.base, relative, error), c.ok) << c.href;
        if (c.ok) {
            EXPECT_EQ(relative, c.relative) << c.href;
        }
    }
    EXPECT_EQ(URLPathOf("https://s/dav/x?y=1"), "/dav/x");
    EXPECT_EQ(URLPathOf("http://s"), "");
}
