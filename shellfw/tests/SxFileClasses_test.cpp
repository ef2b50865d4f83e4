// File classes and verb sets against the prefix's real registry (HKEY_CLASSES_ROOT): what a
// registration writes, that it never replaces or removes what another program wrote, that
// unregistration takes back exactly its own, and that bad input writes nothing.
#include "SxFileClasses.h"
#include "SxBaseShellObject.h"
#include "SxTestSupport.h"
#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const char* const Owner = "{6A0E3C11-2B4D-4F5A-9C7E-1D2F3A4B5C6D}";

// Every key below HKCR\key as "sub\sub" paths, and its values as "path=name:data".
void Walk(HKEY key, const std::string& path, std::set<std::string>& out)
{
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        wchar_t data[512];
        DWORD dataSize = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &size, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
            ERROR_SUCCESS)
            break;
        std::string valueName = WideToUtf8(name);
        if (valueName == SxRegisteredByValue)
            continue;  // the mark is checked on its own
        out.insert(path + "=" + valueName + ":" + (type == REG_SZ ? WideToUtf8(data) : "?"));
    }
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        TRegKey sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) != ERROR_SUCCESS)
            continue;
        const std::string subPath = path.empty() ? WideToUtf8(name) : path + "\\" + WideToUtf8(name);
        out.insert(subPath);
        Walk(sub.get(), subPath, out);
    }
}

// The content of HKCR\key, or {"<none>"} when it does not exist.
std::set<std::string> Tree(const std::string& key)
{
    TRegKey handle;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return {"<none>"};
    std::set<std::string> out;
    Walk(handle.get(), "", out);
    return out;
}

void SetDefault(const std::string& key, const std::string& value)
{
    ASSERT_TRUE(SetClassesRootDefault(key, value));
}

struct FileClasses : ::testing::Test {
    const std::vector<std::string> Keys{".sxfc", ".gz", "SxFcOwn", "SxFcOther", "CLSID\\" + std::string(Owner)};
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean()
    {
        for (const auto& key : Keys)
            RegDeleteTreeW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str());
    }
};

} // namespace

TEST_F(FileClasses, VerbSetWritesItsVerbsAndTakesBackExactlyThem)
{
    struct Case {
        const char* what;
        TSxShellCommandsEditor set;
        std::set<std::string> written;
    };
    TSxShellCommandsEditor onlyOpen;
    onlyOpen.Open = "sx.exe \"%1\"";
    TSxShellCommandsEditor all;
    all.Print = "sx.exe /p \"%1\"";
    all.Explore = "sx.exe /e";
    all.AnotherCommands = "never written";
    all.ExtendedCommandNames = {"Hochladen"};
    all.ExtendedCommandDescriptions = {"Hochladen \xC3\xA4"};
    all.ExtendedCommandStrings = {"sx.exe /u \"%1\""};
    const Case cases[] = {
        {"open only", onlyOpen, {"Shell", "Shell\\Open", "Shell\\Open\\Command", "Shell\\Open\\Command=:sx.exe \"%1\""}},
        {"standard and extended",
         all,
         {"Shell", "Shell\\Print", "Shell\\Print\\Command", "Shell\\Print\\Command=:sx.exe /p \"%1\"",
          "Shell\\Explore", "Shell\\Explore\\Command", "Shell\\Explore\\Command=:sx.exe /e", "Shell\\Hochladen",
          "Shell\\Hochladen=:Hochladen \xC3\xA4", "Shell\\Hochladen\\Command",
          "Shell\\Hochladen\\Command=:sx.exe /u \"%1\""}},
        {"empty", TSxShellCommandsEditor(), {"<none>"}},
    };
    const std::string classKey = "CLSID\\" + std::string(Owner);
    for (const Case& t : cases) {
        SCOPED_TRACE(t.what);
        t.set.RegisterCLSIDVerbs(Owner);
        std::set<std::string> shell;
        for (const auto& entry : Tree(classKey))
            shell.insert(entry);
        EXPECT_EQ(shell, t.written);
        t.set.UnregisterCLSIDVerbs(Owner);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\Shell"));
        Clean();
    }
}

TEST_F(FileClasses, AnotherProgramsVerbsClassAndAssociationStayAsTheyAre)
{
    // Another program's class with an open verb of its own, and its association.
    SetDefault(".sxfc", "SxFcOther");
    SetDefault("SxFcOther", "Andere Datei");
    SetDefault("SxFcOther\\Shell\\Open\\Command", "other.exe \"%1\"");
    const std::set<std::string> before = Tree("SxFcOther");

    for (bool strong : {false, true}) {
        SCOPED_TRACE(strong ? "strong" : "weak");
        TSxFileClasses classes;
        classes.StrongRegistration = strong;
        TSxFileClassItem& item = classes.Add();
        item.ExtensionName = "sxfc";
        item.FileClassName = "SxFcOwn";
        item.Description = "Eigene Datei";
        item.ShellCommands.Open = "sx.exe \"%1\"";
        item.ShellCommands.Print = "sx.exe /p \"%1\"";
        EXPECT_EQ(item.GetFileClassName(), strong ? "SxFcOwn" : "SxFcOther");
        item.Register(Owner);

        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, ".sxfc"), "SxFcOther");  // the association is the other's
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOther\\Shell\\Open\\Command"), "other.exe \"%1\"");
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOther"), "Andere Datei");
        if (strong) {
            EXPECT_EQ(Tree("SxFcOwn"), (std::set<std::string>{"=:Eigene Datei", "Shell", "Shell\\Open",
                                                              "Shell\\Open\\Command", "Shell\\Open\\Command=:sx.exe \"%1\"",
                                                              "Shell\\Print", "Shell\\Print\\Command",
                                                              "Shell\\Print\\Command=:sx.exe /p \"%1\""}));
        } else {
            // The verbs go into the class the system has; only the missing one is added.
            EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOther\\Shell\\Print\\Command"), "sx.exe /p \"%1\"");
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "SxFcOwn"));
        }
        // Registering again changes nothing.
        const std::set<std::string> other = Tree("SxFcOther"), own = Tree("SxFcOwn");
        item.Register(Owner);
        EXPECT_EQ(Tree("SxFcOther"), other);
        EXPECT_EQ(Tree("SxFcOwn"), own);

        item.Unregister(Owner);
        EXPECT_EQ(Tree("SxFcOther"), before);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, ".sxfc"), "SxFcOther");
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "SxFcOwn"));
    }
}

TEST_F(FileClasses, NewClassIsWrittenWholeAndRemovedWhole)
{
    TSxFileClasses classes;
    classes.StrongRegistration = true;
    TSxFileClassItem& item = classes.Add();
    item.ExtensionName = "archiv.tar.gz";  // only the part after the last dot counts
    item.FileClassName = "SxFcOwn";
    item.Description = "Archiv \xE6\x97\xA5\xE6\x9C\xAC";
    item.ShellCommands.Open = "sx.exe \"%1\"";
    item.Register(Owner);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, ".gz"), "SxFcOwn");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOwn"), "Archiv \xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOwn\\Shell\\Open\\Command"), "sx.exe \"%1\"");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOwn", SxRegisteredByValue), Owner);

    // What another program adds to the class later stays when this one goes.
    SetDefault("SxFcOwn\\Shell\\Edit\\Command", "editor.exe \"%1\"");
    item.Unregister("{00000000-0000-0000-0000-000000000001}");  // not its registrant: nothing goes
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOwn\\Shell\\Open\\Command"), "sx.exe \"%1\"");
    item.Unregister(Owner);
    EXPECT_EQ(Tree("SxFcOwn"), (std::set<std::string>{"Shell", "Shell\\Edit", "Shell\\Edit\\Command",
                                                      "Shell\\Edit\\Command=:editor.exe \"%1\""}));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".gz"));
}

TEST_F(FileClasses, BadInputIsRefusedBeforeAnyKeyIsWritten)
{
    struct Case {
        const char* what;
        const char* extension;
        const char* className;
        std::vector<std::string> names, descriptions, commands;
    } cases[] = {
        {"lists of different lengths", "sxfc", "SxFcOwn", {"A", "B"}, {"a", "b"}, {"a.exe"}},
        {"verb name with a path", "sxfc", "SxFcOwn", {"..\\..\\Evil"}, {"e"}, {"e.exe"}},
        {"empty verb name", "sxfc", "SxFcOwn", {""}, {"e"}, {"e.exe"}},
        {"class name with a path", "sxfc", "CLSID\\{00000000-0000-0000-0000-000000000002}", {}, {}, {}},
        {"empty class name", "sxfc", "", {}, {}, {}},
        {"empty extension", "", "SxFcOwn", {}, {}, {}},
        {"extension with a path", "a\\b", "SxFcOwn", {}, {}, {}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.what);
        TSxFileClasses classes;
        classes.StrongRegistration = true;
        TSxFileClassItem& item = classes.Add();
        item.ExtensionName = t.extension;
        item.FileClassName = t.className;
        item.Description = "x";
        item.ShellCommands.Open = "sx.exe";
        item.ShellCommands.ExtendedCommandNames = t.names;
        item.ShellCommands.ExtendedCommandDescriptions = t.descriptions;
        item.ShellCommands.ExtendedCommandStrings = t.commands;
        EXPECT_THROW(item.Register(Owner), ESxRegistrationError);
        for (const auto& key : Keys)
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    }
}

TEST_F(FileClasses, HandlerRegistersUnderEachClassAndWritesOnlyMissingOnes)
{
    struct THandler : TSxShellLink {
        using TSxShellLink::TSxShellLink;
        std::vector<std::string> Seen;
        void RegisterFileType(const std::string& fileType, bool doRegister) override
        {
            Seen.push_back((doRegister ? "+" : "-") + fileType);
            TSxShellLink::RegisterFileType(fileType, doRegister);
        }
    } handler(nullptr);
    handler.SetCLSID(Owner);
    handler.SetDescription("Testhandler");
    SetDefault("SxFcOther", "Andere Datei");  // exists: not written, still used
    TSxFileClasses classes;
    classes.StrongRegistration = true;
    auto& own = classes.Add();
    own.ExtensionName = ".sxfc";
    own.FileClassName = "SxFcOwn";
    own.Description = "Eigene";
    auto& other = classes.Add();
    other.ExtensionName = ".gz";
    other.FileClassName = "SxFcOther";
    other.Description = "never written";
    handler.FileClasses = &classes;

    handler.UpdateRegistry(true);
    EXPECT_EQ(handler.Seen, (std::vector<std::string>{"+SxFcOwn", "+SxFcOther"}));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOwn"), "Eigene");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOther"), "Andere Datei");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".gz"));
    handler.UpdateRegistry(false);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "SxFcOwn"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".sxfc"));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxFcOther"), "Andere Datei");

    // A bad class refuses the whole registration before anything is written.
    handler.Seen.clear();
    Clean();
    own.FileClassName = "Bad\\Name";
    EXPECT_THROW(handler.UpdateRegistry(true), ESxRegistrationError);
    EXPECT_TRUE(handler.Seen.empty());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + std::string(Owner)));
}
