#include "SettingsFixture.h"

#include <functional>
#include <optional>

namespace {
enum class Form { Absent, Text, Dword, Binary };
struct Stored {
    Form form = Form::Absent;
    const char* text = "";
    DWORD number = 0;
};

void Store(const std::string& name, const Stored& s)
{
    switch (s.form) {
    case Form::Absent: break;
    case Form::Text: StoreString("Connection", name, s.text); break;
    case Form::Dword: StoreDword("Connection", name, s.number); break;
    case Form::Binary: StoreRaw("Connection", name, REG_BINARY, "\1\0\0\0", 4); break;
    }
}

Stored Text(const char* t) { return {Form::Text, t, 0}; }
Stored Dword(DWORD n) { return {Form::Dword, "", n}; }
const Stored Absent{Form::Absent, "", 0};
} // namespace

using RegistryReaders = SettingsTest;

TEST_F(RegistryReaders, EachFormAgainstEachReader)
{
    // expected empty: the reader must raise ERegistryError.
    struct Case {
        const char* what;
        Stored stored;
        std::function<std::string()> read;
        std::optional<std::string> expected;
    };
    auto boolOf = [](bool def) {
        return [def] { return std::string(ReadRegistryBool("Connection", "v", def) ? "yes" : "no"); };
    };
    auto intOf = [](int32_t def) { return [def] { return std::to_string(ReadRegistryInteger("Connection", "v", def)); }; };
    auto intTextOf = [](int32_t def) {
        return [def] { return std::to_string(ReadRegistryIntText("Connection", "v", def)); };
    };
    auto stringOf = [](const char* def) { return [def] { return ReadRegistryString("Connection", "v", def); }; };
    const Case cases[] = {
        {"bool \"1\"", Text("1"), boolOf(false), "yes"},
        {"bool \"0\"", Text("0"), boolOf(true), "no"},
        {"bool empty", Text(""), boolOf(false), "no"},
        {"bool \"yes\" default no", Text("yes"), boolOf(false), "no"},
        {"bool \"true\" default yes", Text("true"), boolOf(true), "yes"},
        {"bool \"2\"", Text("2"), boolOf(true), "no"},
        {"bool absent default yes", Absent, boolOf(true), "yes"},
        {"bool absent default no", Absent, boolOf(false), "no"},
        {"bool stored as integer", Dword(1), boolOf(false), std::nullopt},
        {"integer", Dword(7), intOf(0), "7"},
        {"integer negative", Dword(0xFFFFFFFF), intOf(0), "-1"},
        {"integer absent", Absent, intOf(0), "0"},
        {"integer stored as string", Text("3"), intOf(0), std::nullopt},
        {"integer stored as binary", {Form::Binary, "", 0}, intOf(0), std::nullopt},
        {"int text", Text("-42"), intTextOf(5), "-42"},
        {"int text no number", Text("4x"), intTextOf(5), "5"},
        {"int text too big", Text("99999999999"), intTextOf(5), "5"},
        {"int text absent", Absent, intTextOf(5), "5"},
        {"string", Text("https://h\xC3\xB6st/dav"), stringOf("d"), "https://h\xC3\xB6st/dav"},
        {"string empty", Text(""), stringOf("d"), ""},
        {"string absent", Absent, stringOf("d"), "d"},
        {"string stored as integer", Dword(1), stringOf("d"), std::nullopt},
    };
    for (const Case& c : cases) {
        DeleteSettingsBranch();
        Store("v", c.stored);
        if (c.expected)
            EXPECT_EQ(c.read(), *c.expected) << c.what;
        else
            EXPECT_THROW(c.read(), ERegistryError) << c.what;
    }
}

TEST_F(RegistryReaders, AbsentBranchGivesTheDefaults)
{
    EXPECT_TRUE(ReadRegistryBool("Application", "startup", true));
    EXPECT_FALSE(ReadRegistryBool("Connection", "savepassword", false));
    for (const char* n : {"files", "folders", "size"}) EXPECT_EQ(ReadRegistryInteger("Application", n, 0), 0) << n;
    EXPECT_EQ(ReadRegistryString("Connection", "host", ""), "");
    EXPECT_FALSE(IsConnected());
}

TEST_F(RegistryReaders, StringWithoutTerminatorOrOddSize)
{
    StoreRaw("Connection", "v", REG_SZ, L"abc", 3 * sizeof(wchar_t));   // no NUL stored
    EXPECT_EQ(ReadRegistryString("Connection", "v", ""), "abc");
    StoreRaw("Connection", "v", REG_SZ, L"abc", 3 * sizeof(wchar_t) + 1);
    EXPECT_EQ(ReadRegistryString("Connection", "v", ""), "abc");
}

using RegistryWriters = SettingsTest;

TEST_F(RegistryWriters, KeepEachFormAndCreateTheKey)
{
    auto typeOf = [](const char* name) {
        TRegKey key;
        DWORD type = REG_NONE;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake\\Application", 0, KEY_READ,
                          key.put()) == ERROR_SUCCESS)
            RegQueryValueExW(key.get(), Utf8ToWide(name).c_str(), nullptr, &type, nullptr, nullptr);
        return type;
    };
    WriteRegistryInteger("Application", "files", -3);
    WriteRegistryString("Application", "userpath", "C:\\Users\\J\xC3\xBCrgen\\");
    WriteRegistryIntText("Application", "count", 12);
    WriteRegistryBool("Application", "startup", false);
    EXPECT_EQ(typeOf("files"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(typeOf("userpath"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(typeOf("count"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(typeOf("startup"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ReadRegistryInteger("Application", "files", 0), -3);
    EXPECT_EQ(ReadRegistryString("Application", "userpath", ""), "C:\\Users\\J\xC3\xBCrgen\\");
    EXPECT_EQ(ReadRegistryString("Application", "count", ""), "12");
    EXPECT_EQ(ReadRegistryString("Application", "startup", ""), "0");
    EXPECT_FALSE(ReadRegistryBool("Application", "startup", true));

    // Byte counts: a DWORD while they fit one (what 32-bit readers expect), a QWORD past it.
    WriteRegistryInt64("Application", "size", 1000);
    EXPECT_EQ(typeOf("size"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(ReadRegistryInteger("Application", "size", 0), 1000);
    EXPECT_EQ(ReadRegistryInt64("Application", "size", 0), 1000);
    WriteRegistryInt64("Application", "size", 5368709120);
    EXPECT_EQ(typeOf("size"), static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(ReadRegistryInt64("Application", "size", 0), 5368709120);
    EXPECT_THROW(ReadRegistryInteger("Application", "size", 0), ERegistryError);
    EXPECT_THROW(ReadRegistryInt64("Application", "userpath", 0), ERegistryError);

    SetConnected(true);
    EXPECT_TRUE(IsConnected());
    EXPECT_EQ(ReadRegistryString("Connection", "connected", ""), "1");
    SetConnected(false);
    EXPECT_FALSE(IsConnected());
}
