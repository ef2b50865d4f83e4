// Registration of a shell folder and its junction in the prefix's real registry: the exact keys,
// and after unregistration none of them while the system's keys stay.
#include "SxTestSupport.h"
#include "SxVirtualFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "uGLBWin.h"

namespace {

const std::string Clsid = "{3F2B7A10-5C4D-4E8F-9A1B-7C6D5E4F3A21}";
const std::string ClassKey = "CLSID\\" + Clsid;
const std::string MyComputerNamespace = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\Namespace";

bool ReadString(HKEY root, const std::string& key, const std::string& name, std::string& value)
{
    wchar_t buffer[512];
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, Utf8ToWide(key).c_str(), name.empty() ? nullptr : Utf8ToWide(name).c_str(),
                     RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    value = WideToUtf8(buffer);
    return true;
}

bool ReadDword(HKEY root, const std::string& key, const std::string& name, DWORD& value)
{
    DWORD size = sizeof value;
    return RegGetValueW(root, Utf8ToWide(key).c_str(), Utf8ToWide(name).c_str(), RRF_RT_REG_DWORD, nullptr, &value,
                        &size) == ERROR_SUCCESS;
}

TSxFolderRegistration Registration()
{
    TSxFolderRegistration r;
    r.BracedClsid = Clsid;
    r.ShellFolderFlags = {"WantsFORPARSING", "LoadWithoutCOM", "HideAsDeletePerUser"};
    r.InfoTip = "Dateien im Tresor";
    r.DefaultIcon = "C:\\x\\Virtual.ico,0";
    r.Attributes = 0xA8000150;
    r.ExtensionName = "Test Vault Ä";
    r.HasPropertySheetHandler = true;
    return r;
}

class FolderRegistration : public ::testing::Test {
protected:
    void TearDown() override
    {
        UnregisterJunction("MyComputer", Clsid);
        UnregisterShellFolderKeys(Registration());
    }
};

TEST_F(FolderRegistration, WritesTheExactKeysAndRemovesOnlyItsOwn)
{
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, MyComputerNamespace));
    RegisterShellFolderKeys(Registration());
    RegisterJunction("MyComputer", Clsid, "Tandrel Vaultmere");

    std::string text;
    DWORD number = 0;
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, ClassKey + "\\ShellFolder", "", text));
    for (const char* flag : {"WantsFORPARSING", "LoadWithoutCOM", "HideAsDeletePerUser"})
        EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, ClassKey + "\\ShellFolder", flag, text) && text.empty()) << flag;
    EXPECT_FALSE(ReadString(HKEY_CLASSES_ROOT, ClassKey + "\\ShellFolder", "HideAsDelete", text));
    ASSERT_TRUE(ReadDword(HKEY_CLASSES_ROOT, ClassKey + "\\ShellFolder", "Attributes", number));
    EXPECT_EQ(number, 0xA8000150u);
    ASSERT_TRUE(ReadString(HKEY_CLASSES_ROOT, ClassKey, "InfoTip", text));
    EXPECT_EQ(text, "Dateien im Tresor");
    ASSERT_TRUE(ReadString(HKEY_CLASSES_ROOT, ClassKey + "\\DefaultIcon", "", text));
    EXPECT_EQ(text, "C:\\x\\Virtual.ico,0");
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                           Clsid, text));
    EXPECT_EQ(text, "Test Vault Ä");
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, MyComputerNamespace + "\\" + Clsid, "", text));
    EXPECT_EQ(text, "Tandrel Vaultmere");

    UnregisterJunction("MyComputer", Clsid);
    UnregisterShellFolderKeys(Registration());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MyComputerNamespace + "\\" + Clsid));
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                            Clsid, text));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, MyComputerNamespace));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved"));
}

TEST_F(FolderRegistration, AnEmptiedJunctionKeyStaysAndForeignKeysKeepTheClassKey)
{
    // A junction whose Namespace key held only this folder: the system's keys stay all the same.
    const std::string junction = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SxTestJunction";
    RegisterJunction("SxTestJunction", Clsid, "x");
    UnregisterJunction("SxTestJunction", Clsid);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, junction + "\\Namespace\\" + Clsid));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, junction + "\\Namespace"));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Utf8ToWide(junction + "\\Namespace").c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Utf8ToWide(junction).c_str());

    // A key another writer left below the class key keeps the class key in place.
    RegisterShellFolderKeys(Registration());
    TRegKey foreign;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(ClassKey + "\\Other").c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, foreign.put(), nullptr),
              ERROR_SUCCESS);
    foreign.reset();
    UnregisterShellFolderKeys(Registration());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKey + "\\Other"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey + "\\ShellFolder"));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, Utf8ToWide(ClassKey + "\\Other").c_str());
}

TEST_F(FolderRegistration, FailsWhenTheApprovedValueCannotBeWritten)
{
    // The Approved key is moved aside for the test and put back whatever happens.
    const std::wstring approved = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
    const std::wstring aside = L"SOFTWARE\\SxTestApprovedAside";
    TRegKey source, copy;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, approved.c_str(), 0, KEY_READ, source.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, aside.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, copy.put(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCopyTreeW(source.get(), nullptr, copy.get()), ERROR_SUCCESS);
    source.reset();
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, approved.c_str()), ERROR_SUCCESS);
    struct Restore {
        const std::wstring &approved, &aside;
        TRegKey& copy;
        ~Restore()
        {
            TRegKey target;
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, approved.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(),
                            nullptr);
            RegCopyTreeW(copy.get(), nullptr, target.get());
            copy.reset();
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, aside.c_str());
        }
    } restore{approved, aside, copy};

    EXPECT_THROW(RegisterShellFolderKeys(Registration()), ESxShellFolder);
}

} // namespace
