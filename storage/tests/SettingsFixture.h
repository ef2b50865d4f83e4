#pragma once
// Tests of the settings branch start and end with the branch removed from the prefix's registry.
#include "uGLBRegistry.h"
#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <string>

inline void DeleteSettingsBranch()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tandrel\\Tandrel Sendrake");
}

// Stores a value of any form directly, bypassing the writers under test.
inline void StoreRaw(const std::string& section, const std::string& name, DWORD type, const void* data,
                     DWORD size)
{
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(std::string(SettingsKey) + section).c_str(), 0,
                              nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), Utf8ToWide(name).c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
}

inline void StoreString(const std::string& section, const std::string& name, const std::string& text)
{
    const std::wstring w = Utf8ToWide(text);
    StoreRaw(section, name, REG_SZ, w.c_str(), static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
}

inline void StoreDword(const std::string& section, const std::string& name, DWORD value)
{
    StoreRaw(section, name, REG_DWORD, &value, sizeof value);
}

// A fresh folder below the prefix's temp folder, ending in "\".
inline std::string MakeTempFolder(const char* tag)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"sxtest_" + Utf8ToWide(tag) + L"_" +
                       std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(dir.c_str(), nullptr);
    return WideToUtf8(dir) + "\\";
}

// The same folder of drive C: through the share \\sxserver\c (the prefix's drive C:, which the
// ctest fixture "unc" shares): "\\sxserver\c\..." or, with longForm, "\\?\UNC\sxserver\c\...".
// "" when the path is not on C: or the share is not there (Wine knows no such server).
inline std::string UncFormOf(const std::string& path, bool longForm = false)
{
    if (path.size() < 3 || (path[0] != 'C' && path[0] != 'c') || path.compare(1, 2, ":\\") != 0 ||
        GetFileAttributesW(L"\\\\sxserver\\c\\windows") == INVALID_FILE_ATTRIBUTES)
        return std::string();
    return (longForm ? "\\\\?\\UNC\\sxserver\\c\\" : "\\\\sxserver\\c\\") + path.substr(3);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettingsBranch(); }
    void TearDown() override { DeleteSettingsBranch(); }
};
