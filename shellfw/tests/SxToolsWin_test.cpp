// The Win32 half of the tools and the ID-list enumerator, against the real system under wine.
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxComObject.h"
#include "SxEnumIDList.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <string>

TEST(SxToolsWin, RegistersTheEightClipboardFormats)
{
    const TSxClipboardFormats& f = SxClipboardFormats();
    const struct {
        UINT format;
        const char* name;
    } cases[] = {{f.SxPrivateFormat, "SxCF_PrivateFormat"},   {f.ShellIDList, "Shell IDList Array"},
                 {f.InShellDragLoop, "InShellDragLoop"},       {f.FileContents, "FileContents"},
                 {f.FileGroupDescriptor, "FileGroupDescriptor"}, {f.PreferredDropEffect, "Preferred DropEffect"},
                 {f.PerformedDropEffect, "Performed DropEffect"}, {f.PasteSucceeded, "Paste Succeeded"}};
    for (const auto& c : cases) {
        char name[128] = {};
        ASSERT_GE(c.format, 0xC000u) << c.name;
        GetClipboardFormatNameA(c.format, name, sizeof name);
        EXPECT_STREQ(name, c.name);
    }
    EXPECT_EQ(CF_SXPRIVATEFORMAT, RegisterClipboardFormatA("SxCF_PrivateFormat"));
}

TEST(SxToolsWin, SetsFileAttributes)
{
    const std::string name = GetTempFileWithPrefix("sxt");
    EXPECT_TRUE(SetFileAttributesWide(Utf8ToWide(name), SxReadOnly));
    EXPECT_EQ(FileAttributesToSx(GetFileAttributesW(Utf8ToWide(name).c_str())) & SxReadOnly, SxReadOnly);
    SetFileAttributesWide(Utf8ToWide(name), 0);
    DeleteFileW(Utf8ToWide(name).c_str());
}

TEST(SxToolsWin, FileTimesAreUtcAndRoundTrip)
{
    FILETIME zero = {};
    EXPECT_EQ(FileTimeToDateTime(zero), -1.0);

    // 2024-03-01 12:00:00.250 UTC and one hour later (no zone changes its clock that day).
    auto fileTime = [](uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; };
    const uint64_t noon = 133537680002500000ull, hour = 36000000000ull;
    const TSxDateTime converted = FileTimeToDateTime(fileTime(noon));
    EXPECT_NEAR(FileTimeToDateTime(fileTime(noon + hour)) - converted, 1.0 / 24, 1.0 / 86400000);
    TIME_ZONE_INFORMATION zone;
    const DWORD zoneKind = GetTimeZoneInformation(&zone);
    const long offsetMinutes = -zone.Bias - (zoneKind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
    if (zoneKind == TIME_ZONE_ID_UNKNOWN || (zone.Bias == 0 && zone.DaylightBias == 0))
        EXPECT_NEAR(converted, 45352.5 + 0.25 / 86400, 1.0 / 86400000) << "local time is UTC here";
    else
        EXPECT_NEAR(converted, 45352.5 + 0.25 / 86400 + offsetMinutes / 1440.0, 1.0 / 24) << "local time of the zone";

    for (TSxDateTime value : {converted, 45351.5 + 1.0 / 86400, 29221.0 /* 1980 */, 3.25 /* 1900 */}) {
        FILETIME ft;
        DateTimeToFileTime(value, ft);
        EXPECT_NEAR(FileTimeToDateTime(ft), value, 1.0 / 86400000) << value;
    }
    FILETIME ignored;
    EXPECT_THROW(DateTimeToFileTime(-200000.0, ignored), ESxToolsError);
}

TEST(SxToolsWin, FillsStrRetByItsType)
{
    STRRET wide = {};
    wide.uType = STRRET_WSTR;
    SetStrRet(wide, L"Gel\u00f6schte Dateien");
    ASSERT_TRUE(wide.pOleStr);
    EXPECT_STREQ(wide.pOleStr, L"Gel\u00f6schte Dateien");
    CoTaskMemFree(wide.pOleStr);

    STRRET offset = {};
    offset.uType = STRRET_OFFSET;
    SetStrRet(offset, std::wstring(300, L'x'));
    EXPECT_EQ(offset.uType, static_cast<UINT>(STRRET_CSTR));
    EXPECT_EQ(strlen(offset.cStr), 259u);
}

TEST(SxToolsWin, RegistersExtensionClasses)
{
    RegisterExtensionClass(".sxtestext", "SxTestExtClass", "Test files");
    wchar_t data[64] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, L"SxTestExtClass", nullptr, RRF_RT_REG_SZ, nullptr, data, &size), 0);
    EXPECT_STREQ(data, L"Test files");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SxTestExtClass\\shell");
    RegDeleteValueW(HKEY_CLASSES_ROOT, L"SxTestExtClass"); // no value, no subkey: empty
    TRegKey key;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"SxTestExtClass\\sub", 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr);
    key.reset();
    DeleteEmptyRegKey("SxTestExtClass"); // has a subkey: stays
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"SxTestExtClass", 0, KEY_READ, key.put()), 0);
    key.reset();
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"SxTestExtClass\\sub");
    DeleteEmptyRegKey("SxTestExtClass");
    EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"SxTestExtClass", 0, KEY_READ, key.put()), 0);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".sxtestext");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SxTestExtClass");
}

namespace {

std::string ContentOf(PCSxItemIDList item)
{
    return std::string(reinterpret_cast<const char*>(PIDLItemData(item)), PIDLItemSize(item) - 2u);
}

// The names of the items a Next call handed out (and frees them).
std::string TakeItems(PITEMID_CHILD* items, ULONG count)
{
    std::string seen;
    for (ULONG i = 0; i < count; ++i) {
        seen += ContentOf(reinterpret_cast<PCSxItemIDList>(items[i])) + ",";
        CoTaskMemFree(items[i]);
    }
    return seen;
}

} // namespace

TEST(SxEnumIDList, NextHandsOutUpToCeltAndSFalseOnlyWhenFewerRemain)
{
    TSxPidlPtr a(PIDLCreateItem("a", 1)), b(PIDLCreateItem("bb", 2)), c(PIDLCreateItem("ccc", 3));
    struct Case {
        ULONG skip, celt;
        bool withFetched;
        HRESULT result;
        ULONG fetched;
        const char* items;
    } cases[] = {
        {0, 1, true, S_OK, 1, "a,"},
        {0, 1, false, S_OK, 0, "a,"},
        {0, 2, true, S_OK, 2, "a,bb,"},
        {0, 3, true, S_OK, 3, "a,bb,ccc,"},
        {0, 10, true, S_FALSE, 3, "a,bb,ccc,"},
        {1, 10, true, S_FALSE, 2, "bb,ccc,"},
        {2, 2, true, S_FALSE, 1, "ccc,"},
        {3, 1, true, S_FALSE, 0, ""},
        {3, 1, false, S_FALSE, 0, ""},
        {0, 0, true, S_OK, 0, ""},
        {0, 2, false, E_INVALIDARG, 0, ""},  // more than one item needs the count
    };
    for (const Case& t : cases) {
        SCOPED_TRACE("skip " + std::to_string(t.skip) + " celt " + std::to_string(t.celt) +
                     (t.withFetched ? " fetched" : " no fetched"));
        Microsoft::WRL::ComPtr<IEnumIDList> e = SxAdoptComPtr(TSxEnumIDList::Create({a.get(), b.get(), c.get()}));
        ASSERT_TRUE(e);
        e->Skip(t.skip);
        PITEMID_CHILD items[12];
        std::fill(std::begin(items), std::end(items), reinterpret_cast<PITEMID_CHILD>(1));
        ULONG fetched = 99;
        EXPECT_EQ(e->Next(t.celt, items, t.withFetched ? &fetched : nullptr), t.result);
        const ULONG got = t.withFetched ? fetched : (t.result == S_OK ? t.celt : 0);
        if (t.withFetched) {
            EXPECT_EQ(fetched, t.fetched);
        }
        EXPECT_EQ(TakeItems(items, got), t.items);
        if (got == 0 && t.celt > 0 && t.result != E_INVALIDARG) {
            EXPECT_EQ(items[0], nullptr);
        }
        // The position moved by what was handed out: the next item follows.
        PITEMID_CHILD next = nullptr;
        const bool more = t.skip + got < 3;
        EXPECT_EQ(e->Next(1, &next, nullptr), more ? S_OK : S_FALSE);
        if (next)
            CoTaskMemFree(next);
        EXPECT_EQ(e.Reset(), 0u);
    }
}

TEST(SxEnumIDList, ClonesSkipAndResetKeepThePosition)
{
    TSxPidlPtr a(PIDLCreateItem("a", 1)), b(PIDLCreateItem("bb", 2)), c(PIDLCreateItem("ccc", 3));
    Microsoft::WRL::ComPtr<IEnumIDList> e = SxAdoptComPtr(TSxEnumIDList::Create({a.get(), b.get(), c.get()}));
    ASSERT_TRUE(e);
    a.reset(); // the enumerator holds its own clones

    PITEMID_CHILD items[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(2, items, &fetched), S_OK);
    EXPECT_EQ(TakeItems(items, fetched), "a,bb,");
    Microsoft::WRL::ComPtr<IEnumIDList> clone;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    ASSERT_EQ(clone->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(TakeItems(items, fetched), "ccc,");

    PITEMID_CHILD item = nullptr;
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(e->Skip(5), S_FALSE);
    EXPECT_EQ(e->Next(1, &item, nullptr), S_FALSE);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Next(1, &item, nullptr), S_OK);
    CoTaskMemFree(item);
    EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(e.Reset(), 0u);
    EXPECT_EQ(clone.Reset(), 0u);
}
