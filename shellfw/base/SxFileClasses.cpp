#include "SxFileClasses.h"

#ifdef _WIN32
#include "SxBaseShellObject.h"
#include "SxTools.h"
#include "uGLBWin.h"

#include <windows.h>

const char* const SxRegisteredByValue = "SxRegisteredBy";

namespace {

[[noreturn]] void Refuse(const std::string& what)
{
    throw ESxRegistrationError("Registration refused: " + what);
}

// One key name below HKEY_CLASSES_ROOT: not empty, no path separator, no control character.
bool IsKeyName(const std::string& name)
{
    if (name.empty() || name.size() > 255)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '\\' || c == '/')
            return false;
    return true;
}

bool KeyExists(const std::string& key)
{
    TRegKey handle;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

// The string value name (empty: the default value) of HKCR\key; empty when there is none.
std::string ReadValue(const std::string& key, const std::string& name)
{
    TRegKey handle;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS)
        return std::string();
    const std::wstring valueName = Utf8ToWide(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return std::string();
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return std::string();
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0')
        data.pop_back();
    return WideToUtf8(data);
}

std::string MarkOf(const std::string& key) { return ReadValue(key, SxRegisteredByValue); }

void SetValue(HKEY key, const std::string& name, const std::string& data)
{
    const std::wstring wide = Utf8ToWide(data);
    if (RegSetValueExW(key, Utf8ToWide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        throw ESxRegistrationError("Registration failed");
}

// Whether owner may write the default value of HKCR\key: the key is new, or marked as owner's, or
// unmarked with no default value yet (only then owner's mark goes in as well).
bool MayWrite(const std::string& key, const std::string& owner)
{
    if (!KeyExists(key))
        return true;
    const std::string mark = MarkOf(key);
    if (!mark.empty())
        return mark == owner;
    return ReadValue(key, "").empty();
}

// HKCR\key's default value := data, marked as owner's. The caller has asked MayWrite.
void WriteOwned(const std::string& key, const std::string& data, const std::string& owner, bool withDefault = true)
{
    TRegKey handle;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        handle.put(), nullptr) != ERROR_SUCCESS)
        throw ESxRegistrationError("Registration failed");
    SetValue(handle.get(), SxRegisteredByValue, owner);
    if (withDefault)
        SetValue(handle.get(), "", data);
}

// Takes back what owner wrote into HKCR\key (its default value and its mark), then the key when
// nothing else is in it. A key of another program stays untouched.
void RemoveOwned(const std::string& key, const std::string& owner)
{
    if (owner.empty() || MarkOf(key) != owner)
        return;
    {
        TRegKey handle;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_SET_VALUE, handle.put()) != ERROR_SUCCESS)
            return;
        RegDeleteValueW(handle.get(), nullptr);
        RegDeleteValueW(handle.get(), Utf8ToWide(SxRegisteredByValue).c_str());
    }
    DeleteEmptyRegKey(key);
}

struct TVerb {
    std::string Name, Description, Command;
    bool HasDescription;
};

std::vector<TVerb> VerbsOf(const TSxCustomShellCommandsEditor& set)
{
    std::vector<TVerb> verbs;
    const std::pair<const char*, const std::string*> standard[] = {
        {"Print", &set.Print}, {"Properties", &set.Properties}, {"Find", &set.Find},
        {"Explore", &set.Explore}, {"Open", &set.Open},          {"OpenAs", &set.OpenAs}};
    for (const auto& [name, command] : standard)
        if (!command->empty())
            verbs.push_back({name, std::string(), *command, false});
    for (size_t i = 0; i < set.ExtendedCommandNames.size(); ++i)
        verbs.push_back({set.ExtendedCommandNames[i], set.ExtendedCommandDescriptions[i],
                         set.ExtendedCommandStrings[i], true});
    return verbs;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The verb set

void TSxCustomShellCommandsEditor::Validate() const
{
    if (ExtendedCommandDescriptions.size() != ExtendedCommandNames.size() ||
        ExtendedCommandStrings.size() != ExtendedCommandNames.size())
        Refuse("the extended verbs' names, descriptions and commands differ in number");
    for (const auto& name : ExtendedCommandNames)
        if (!IsKeyName(name))
            Refuse("the verb name \"" + name + "\" is no key name");
}

void TSxCustomShellCommandsEditor::Register(const std::string& classKey, const std::string& owner) const
{
    Validate();
    if (!IsKeyName(owner))
        Refuse("no registrant");
    try {
        for (const TVerb& verb : VerbsOf(*this)) {
            const std::string verbKey = classKey + "\\Shell\\" + verb.Name;
            // A verb that is already there belongs to whoever made it.
            if (KeyExists(verbKey) && MarkOf(verbKey) != owner)
                continue;
            WriteOwned(verbKey, verb.Description, owner, verb.HasDescription);
            WriteOwned(verbKey + "\\Command", verb.Command, owner);
        }
    } catch (...) {
        Unregister(classKey, owner);
        throw;
    }
}

void TSxCustomShellCommandsEditor::Unregister(const std::string& classKey, const std::string& owner) const
{
    if (ExtendedCommandDescriptions.size() != ExtendedCommandNames.size() ||
        ExtendedCommandStrings.size() != ExtendedCommandNames.size())
        return;  // nothing of such a set was ever written
    for (const TVerb& verb : VerbsOf(*this)) {
        if (!IsKeyName(verb.Name))
            continue;
        const std::string verbKey = classKey + "\\Shell\\" + verb.Name;
        if (MarkOf(verbKey) != owner)
            continue;
        RemoveOwned(verbKey + "\\Command", owner);
        RemoveOwned(verbKey, owner);
    }
    DeleteEmptyRegKey(classKey + "\\Shell");
}

void TSxCustomShellCommandsEditor::RegisterCLSIDVerbs(const std::string& clsid) const
{
    Register("CLSID\\" + clsid, clsid);
}

void TSxCustomShellCommandsEditor::UnregisterCLSIDVerbs(const std::string& clsid) const
{
    Unregister("CLSID\\" + clsid, clsid);
}

// ---------------------------------------------------------------------------------------------
// File classes

std::string TSxFileClassItem::ExtensionKey() const
{
    std::string key(1, '.');
    return key.append(ExtractLastExtension(ExtensionName));
}

std::string TSxFileClassItem::GetFileClassName() const
{
    if (FOwner.StrongRegistration)
        return FileClassName;
    const std::string mapped = ReadValue(ExtensionKey(), "");
    return mapped.empty() ? FileClassName : mapped;
}

bool TSxFileClassItem::Exists() const
{
    const std::string name = GetFileClassName();
    return IsKeyName(name) && KeyExists(name);
}

void TSxFileClassItem::Validate() const
{
    const std::string extension = ExtractLastExtension(ExtensionName);
    if (!IsKeyName(extension) || extension.find('.') != std::string::npos)
        Refuse("the extension \"" + ExtensionName + "\" is no file extension");
    const std::string className = GetFileClassName();
    if (!IsKeyName(className))
        Refuse("the file class name \"" + className + "\" is no key name");
    ShellCommands.Validate();
}

void TSxFileClassItem::Register(const std::string& owner)
{
    Validate();
    if (!IsKeyName(owner))
        Refuse("no registrant");
    const std::string className = GetFileClassName();
    try {
        // The association and the class's description only where no other program has its own.
        if (MayWrite(ExtensionKey(), owner))
            WriteOwned(ExtensionKey(), className, owner);
        if (MayWrite(className, owner))
            WriteOwned(className, Description, owner);
        ShellCommands.Register(className, owner);
    } catch (...) {
        Unregister(owner);
        throw;
    }
}

void TSxFileClassItem::Unregister(const std::string& owner)
{
    // The class this item wrote into is the stored one or the one the extension names.
    std::vector<std::string> classes{FileClassName};
    const std::string mapped = ReadValue(ExtensionKey(), "");
    if (!mapped.empty() && mapped != FileClassName)
        classes.push_back(mapped);
    for (const auto& className : classes) {
        if (!IsKeyName(className))
            continue;
        ShellCommands.Unregister(className, owner);
        RemoveOwned(className, owner);
    }
    if (IsKeyName(ExtractLastExtension(ExtensionName)))
        RemoveOwned(ExtensionKey(), owner);
}

void TSxFileClassItem::Assign(const TSxFileClassItem& other)
{
    FileClassName = other.GetFileClassName();
    ExtensionName = other.ExtensionName;
    ShellCommands.Assign(other.ShellCommands);
}

std::string TSxFileClassItem::DisplayName() const
{
    return Description.empty() ? "TSxFileClassItem" : Description;
}

TSxFileClassItem& TSxFileClasses::Add()
{
    FileClasses.push_back(std::make_unique<TSxFileClassItem>(*this));
    return *FileClasses.back();
}

void TSxFileClasses::Validate() const
{
    for (const auto& item : FileClasses)
        item->Validate();
}
#endif
