#include "SettingsFixture.h"
#include "uGLBShellTools.h"

namespace {
void SetClass(const wchar_t* key, const wchar_t* value)
{
    TRegKey k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    if (value)
        RegSetValueExW(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}
void DropClasses()
{
    for (const wchar_t* k : {L".sxtesta", L".sxtestb", L".sxtestc", L"SxTestClassA", L"SxTestClassB"})
        RegDeleteTreeW(HKEY_CLASSES_ROOT, k);
}
} // namespace

TEST(FileTypeName, FromTheClassesOfTheRegistry)
{
    DropClasses();
    SetClass(L".sxtesta", L"SxTestClassA");
    SetClass(L"SxTestClassA", L"Sx Test Dokument");
    SetClass(L".sxtestb", L"SxTestClassB");   // class key missing
    SetClass(L".sxtestc", nullptr);           // no class name
    struct Case { const char* name; const char* type; };
    for (const Case& c : {Case{"C:\\x\\a.sxtesta", "Sx Test Dokument"}, Case{"a.b.sxtestb", "SxTestClassB"},
                          Case{"a.sxtestc", ".sxtestc File"}, Case{"a.sxnonesuch", ".sxnonesuch File"}})
        EXPECT_EQ(shl_GetFileTypeName(c.name), c.type) << c.name;
    DropClasses();
}
