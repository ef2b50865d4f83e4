#pragma once
// File classes that a library registers for its handlers (an extension tied to a class key with a
// description and shell verbs), and the verb set that also serves a shell folder's own verbs under
// its CLSID key. Every key and default value this code writes is marked with the name of the one
// who registered it (the value "SxRegisteredBy"), so that unregistration removes exactly that, and
// a verb, command, class or association that another program wrote is never replaced or removed.
#ifdef _WIN32
#include "SxComponent.h"

#include <memory>
#include <string>
#include <vector>

// The value that marks what a registration wrote into a key; its data is the registrant.
extern const char* const SxRegisteredByValue;

class TSxCustomShellCommandsEditor {
public:
    virtual ~TSxCustomShellCommandsEditor() = default;

    // Command lines of the standard verbs (empty: verb not written).
    std::string Print, Properties, Find, Explore, Open, OpenAs;
    std::string AnotherCommands;  // kept with the design, not registered
    // Extended verb i: its key name, its display text and its command line.
    std::vector<std::string> ExtendedCommandNames, ExtendedCommandDescriptions, ExtendedCommandStrings;

    // Raises ESxRegistrationError for a set that cannot be written as given: a verb name that is
    // empty or is no single key name, or extended lists of different lengths.
    void Validate() const;
    // The verbs under HKCR\<classKey>\Shell, marked as owner's. A verb that another program has
    // already is left as it is. Raises ESxRegistrationError, before writing anything for invalid
    // input, or when a write fails (what this call wrote is removed again then).
    void Register(const std::string& classKey, const std::string& owner) const;
    // Removes the verbs that owner wrote (standard and extended), and "Shell" when it is left empty.
    void Unregister(const std::string& classKey, const std::string& owner) const;
    // The folder's own verbs under "CLSID\<clsid>" (clsid braced), registered as the class's.
    void RegisterCLSIDVerbs(const std::string& clsid) const;
    void UnregisterCLSIDVerbs(const std::string& clsid) const;
    void Assign(const TSxCustomShellCommandsEditor& other) { *this = other; }
};

class TSxShellCommandsEditor : public TSxCustomShellCommandsEditor {};
class TSxFileClassShellCommands : public TSxCustomShellCommandsEditor {};

class TSxFileClasses;

class TSxFileClassItem {
public:
    explicit TSxFileClassItem(TSxFileClasses& owner) : FOwner(owner) {}
    virtual ~TSxFileClassItem() = default;

    std::string ExtensionName;  // with or without its dot; only the part after the last dot counts
    std::string FileClassName;  // as stored; GetFileClassName gives the one in force
    TSxFileClassShellCommands ShellCommands;
    std::string Description;

    // ".ext" of ExtensionName.
    std::string ExtensionKey() const;
    // With StrongRegistration the stored name; otherwise the class the system maps the extension
    // to, when it maps it, else the stored name.
    std::string GetFileClassName() const;
    // HKCR\<file class name> exists.
    virtual bool Exists() const;
    // Writes the association (when the extension has none of another program), the class key's
    // description (when the class key is new) and the verbs, marked as owner's.
    virtual void Register(const std::string& owner);
    // Removes what owner wrote for this class, and keys left empty by that.
    virtual void Unregister(const std::string& owner);
    // Raises ESxRegistrationError for an extension or class name that is no single key name, or
    // an invalid verb set.
    void Validate() const;
    // The other's effective class name, extension and whole verb set.
    void Assign(const TSxFileClassItem& other);
    std::string DisplayName() const;

private:
    TSxFileClasses& FOwner;
};

class TSxFileClasses : public TSxComponent {
public:
    explicit TSxFileClasses(TSxComponent* owner = nullptr) : TSxComponent(owner) {}
    std::string ClassName() const override { return "TSxFileClasses"; }

    bool StrongRegistration = false;
    std::vector<std::unique_ptr<TSxFileClassItem>> FileClasses;

    TSxFileClassItem& Add();
    int Count() const { return static_cast<int>(FileClasses.size()); }
    // Every item's Validate.
    void Validate() const;
};
#endif
