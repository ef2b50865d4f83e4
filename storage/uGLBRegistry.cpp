#include "uGLBRegistry.h"

#include "uGLBTools.h"
#include "uGLBWin.h"

#include <cstring>
#include <vector>

const char* const SettingsKey = "SOFTWARE\\Tandrel\\Tandrel Sendrake\\";

namespace {
std::wstring KeyPath(const std::string& section)
{
    return Utf8ToWide(std::string(SettingsKey) + section);
}

std::string Where(const std::string& section, const std::string& name)
{
    return section + "\\" + name;
}

// Opens the section for reading; an absent key gives an empty owner.
TRegKey OpenForRead(const std::string& section, const std::string& name)
{
    TRegKey key;
    const LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(section).c_str(), 0, KEY_READ, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) return TRegKey();
    if (rc != ERROR_SUCCESS)
        throw ERegistryError("Cannot open the settings for " + Where(section, name) + ": " +
                             SysErrorMessage(static_cast<DWORD>(rc)));
    return key;
}

TRegKey OpenForWrite(const std::string& section, const std::string& name)
{
    TRegKey key;
    const LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(section).c_str(), 0, nullptr, 0,
                                    KEY_WRITE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        throw ERegistryError("Cannot create the settings for " + Where(section, name) + ": " +
                             SysErrorMessage(static_cast<DWORD>(rc)));
    return key;
}

struct TRawValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

TRawValue ReadRaw(const std::string& section, const std::string& name)
{
    TRawValue v;
    TRegKey key = OpenForRead(section, name);
    if (!key) return v;
    const std::wstring wname = Utf8ToWide(name);
    // The value may change between the size query and the read; retry with the new size.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG rc = RegQueryValueExW(key.get(), wname.c_str(), nullptr, &v.type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) return v;
        if (rc != ERROR_SUCCESS) break;
        v.data.assign(size, 0);
        rc = RegQueryValueExW(key.get(), wname.c_str(), nullptr, &v.type, v.data.data(), &size);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc == ERROR_FILE_NOT_FOUND) return v;
        if (rc != ERROR_SUCCESS)
            throw ERegistryError("Cannot read the setting " + Where(section, name) + ": " +
                                 SysErrorMessage(static_cast<DWORD>(rc)));
        v.data.resize(size);
        v.present = true;
        return v;
    }
    throw ERegistryError("Cannot read the setting " + Where(section, name));
}

void WriteRaw(const std::string& section, const std::string& name, DWORD type, const void* data, DWORD size)
{
    TRegKey key = OpenForWrite(section, name);
    const LONG rc = RegSetValueExW(key.get(), Utf8ToWide(name).c_str(), 0, type,
                                   static_cast<const BYTE*>(data), size);
    if (rc != ERROR_SUCCESS)
        throw ERegistryError("Cannot write the setting " + Where(section, name) + ": " +
                             SysErrorMessage(static_cast<DWORD>(rc)));
}

[[noreturn]] void WrongForm(const std::string& section, const std::string& name, const char* expected)
{
    throw ERegistryError("Invalid data type for '" + Where(section, name) + "': " + expected + " expected");
}

// The stored string, or nothing when absent; a value of another form raises.
bool ReadStringValue(const std::string& section, const std::string& name, std::string& out)
{
    const TRawValue v = ReadRaw(section, name);
    if (!v.present) return false;
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) WrongForm(section, name, "string");
    // The stored size may be odd or lack the terminator: take whole characters up to the first NUL.
    std::wstring w(v.data.size() / sizeof(wchar_t), L'\0');
    if (!w.empty()) memcpy(w.data(), v.data.data(), w.size() * sizeof(wchar_t));
    const size_t nul = w.find(L'\0');
    if (nul != std::wstring::npos) w.resize(nul);
    out = WideToUtf8(w);
    return true;
}
} // namespace

std::string ReadRegistryString(const std::string& section, const std::string& name, const std::string& def)
{
    std::string value;
    return ReadStringValue(section, name, value) ? value : def;
}

int32_t ReadRegistryInteger(const std::string& section, const std::string& name, int32_t def)
{
    const TRawValue v = ReadRaw(section, name);
    if (!v.present) return def;
    if (v.type != REG_DWORD || v.data.size() != sizeof(DWORD)) WrongForm(section, name, "integer");
    DWORD value = 0;
    memcpy(&value, v.data.data(), sizeof value);
    return static_cast<int32_t>(value);
}

int64_t ReadRegistryInt64(const std::string& section, const std::string& name, int64_t def)
{
    const TRawValue v = ReadRaw(section, name);
    if (!v.present) return def;
    if (v.type == REG_DWORD && v.data.size() == sizeof(DWORD)) {
        DWORD value = 0;
        memcpy(&value, v.data.data(), sizeof value);
        return static_cast<int32_t>(value);
    }
    if (v.type != REG_QWORD || v.data.size() != sizeof(uint64_t)) WrongForm(section, name, "integer");
    int64_t value = 0;
    memcpy(&value, v.data.data(), sizeof value);
    return value;
}

int32_t ReadRegistryIntText(const std::string& section, const std::string& name, int32_t def)
{
    return StrToIntDef(ReadRegistryString(section, name, std::to_string(def)), def);
}

bool ReadRegistryBool(const std::string& section, const std::string& name, bool def)
{
    return ReadRegistryIntText(section, name, def ? 1 : 0) == 1;
}

bool IsConnected()
{
    return ReadRegistryBool("Connection", "connected", false);
}

void WriteRegistryInteger(const std::string& section, const std::string& name, int32_t value)
{
    const DWORD v = static_cast<DWORD>(value);
    WriteRaw(section, name, REG_DWORD, &v, sizeof v);
}

void WriteRegistryInt64(const std::string& section, const std::string& name, int64_t value)
{
    if (value >= INT32_MIN && value <= INT32_MAX) {
        WriteRegistryInteger(section, name, static_cast<int32_t>(value));
        return;
    }
    WriteRaw(section, name, REG_QWORD, &value, sizeof value);
}

void WriteRegistryString(const std::string& section, const std::string& name, const std::string& value)
{
    const std::wstring w = Utf8ToWide(value);
    WriteRaw(section, name, REG_SZ, w.c_str(), static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
}

void WriteRegistryIntText(const std::string& section, const std::string& name, int32_t value)
{
    WriteRegistryString(section, name, std::to_string(value));
}

void WriteRegistryBool(const std::string& section, const std::string& name, bool value)
{
    WriteRegistryIntText(section, name, value ? 1 : 0);
}

void SetConnected(bool flag)
{
    WriteRegistryBool("Connection", "connected", flag);
}
