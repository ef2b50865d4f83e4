#pragma once
// The settings branch HKEY_CURRENT_USER "SOFTWARE\Tandrel\Tandrel Sendrake\" + section.
// Every call opens the key, does its one access and closes it again: nothing is cached, so what
// one deliverable writes the other sees at its next read.
#include <cstdint>
#include <stdexcept>
#include <string>

// A value stored in another form than its reader expects, or a refused read or write.
class ERegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern const char* const SettingsKey;   // "SOFTWARE\Tandrel\Tandrel Sendrake\"

// Readers: an absent key or value gives the default; a value of another form raises.
std::string ReadRegistryString(const std::string& section, const std::string& name, const std::string& def);
int32_t ReadRegistryInteger(const std::string& section, const std::string& name, int32_t def);
// A REG_DWORD, or a REG_QWORD for a value past the 32-bit range (byte counts).
int64_t ReadRegistryInt64(const std::string& section, const std::string& name, int64_t def);
// A REG_SZ holding a decimal integer; text that is no integer gives the default.
int32_t ReadRegistryIntText(const std::string& section, const std::string& name, int32_t def);
// Yes/no stored as "1" / "0"; any other text gives the default.
bool ReadRegistryBool(const std::string& section, const std::string& name, bool def);
bool IsConnected();

// Writers create the key when needed; a refused write raises ERegistryError.
void WriteRegistryInteger(const std::string& section, const std::string& name, int32_t value);
// A REG_DWORD while the value fits one (as every 32-bit reader expects), else a REG_QWORD.
void WriteRegistryInt64(const std::string& section, const std::string& name, int64_t value);
void WriteRegistryString(const std::string& section, const std::string& name, const std::string& value);
void WriteRegistryIntText(const std::string& section, const std::string& name, int32_t value);
void WriteRegistryBool(const std::string& section, const std::string& name, bool value);
void SetConnected(bool flag);
