// Brannock.dll as Windows and Explorer reach it: registered and unregistered with regsvr32 in the
// prefix, and the online folder under My Computer, bound through the desktop folder, showing the
// mirror that a real login listing of the seeded sandbox made.
#include "ExtensionTestSupport.h"
#include "SxTestSupport.h"
#include "uGLBWin.h"
#include "SxPidl.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <map>
#include <set>

using Microsoft::WRL::ComPtr;
using exttest::TOnlineUser;

namespace {

const std::string FolderText = "{0738049E-478C-4D6D-B004-A767178A297C}";
const std::string HookText = "{808814DE-1689-460E-AC99-666580C569A5}";
const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + FolderText;
const std::string MyComputerNamespace = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\Namespace";
const std::string ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::string HooksKey = "Software\\Microsoft\\Internet Explorer\\UrlSearchHooks";

std::wstring Dll() { return PathBesideProgram(L"Brannock.dll"); }

DWORD RegSvr32(bool doRegister)
{
    return RunProcess(std::wstring(L"regsvr32.exe /s ") + (doRegister ? L"" : L"/u ") + L"\"" + Dll() + L"\"");
}

// The names below a key: its sub-keys ("key\") and values ("=name").
std::set<std::string> Names(HKEY root, const std::string& key)
{
    std::set<std::string> names;
    TRegKey handle;
    if (RegOpenKeyExW(root, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return names;
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = 512;
        if (RegEnumKeyExW(handle.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(WideToUtf8(name) + "\\");
    }
    for (DWORD i = 0;; ++i) {
        DWORD size = 512;
        if (RegEnumValueW(handle.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(WideToUtf8(name).insert(0, 1, '='));
    }
    return names;
}

// What registration may touch, as a whole.
std::map<std::string, std::set<std::string>> Snapshot()
{
    return {{"CLSID", Names(HKEY_CLASSES_ROOT, "CLSID")},
            {"Namespace", Names(HKEY_LOCAL_MACHINE, MyComputerNamespace)},
            {"Approved", Names(HKEY_LOCAL_MACHINE, ApprovedKey)},
            {"Hooks", Names(HKEY_CURRENT_USER, HooksKey)},
            {"AllFileSystemObjects", Names(HKEY_CLASSES_ROOT, "AllFileSystemObjects\\shellex\\ContextMenuHandlers")},
            {"HKCR", Names(HKEY_CLASSES_ROOT, "")}};
}

std::string StrRetText(STRRET& strRet, PCUITEMID_CHILD item)
{
    LPWSTR text = nullptr;
    if (FAILED(StrRetToStrW(&strRet, item, &text)))
        return "<bad>";
    std::string result = WideToUtf8(text);
    CoTaskMemFree(text);
    return result;
}

std::string NameOf(IShellFolder* folder, PCUITEMID_CHILD item, SHGDNF flags = SHGDN_NORMAL)
{
    STRRET strRet;
    std::memset(&strRet, 0, sizeof strRet);
    if (FAILED(folder->GetDisplayNameOf(item, flags, &strRet)))
        return "<failed>";
    return StrRetText(strRet, item);
}

}  // namespace

TEST(BrannockRegistration, RegSvr32WritesTheFolderJunctionHookAndRemovesExactlyThem)
{
    RegSvr32(false);
    const auto before = Snapshot();
    const std::string classKey = "CLSID\\" + FolderText;
    ASSERT_EQ(RegSvr32(true), 0u);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey), "Tandrel Vaultmere");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey, "InfoTip"), "Tandrel Vaultmere");
    EXPECT_NE(Value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32").find("Brannock.dll"), std::string::npos);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "WantsFORPARSING"), "");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "LoadWithoutCOM"), "");
    // Browsable, has sub-folders, folder, drop target, property sheet; no rename after Windows 2000.
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "Attributes"), std::to_string(0xA8000140u));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, MyComputerNamespace + "\\" + FolderText), "Tandrel Vaultmere");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, FolderText), "Tandrel Vaultmere");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, HooksKey, HookText), "");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + HookText + "\\InprocServer32"));
    EXPECT_NE(Snapshot(), before);

    ASSERT_EQ(RegSvr32(false), 0u);
    const auto after = Snapshot();
    for (const auto& [part, names] : before)
        EXPECT_EQ(after.at(part), names) << part;
    // Registering twice and unregistering once leaves nothing either.
    ASSERT_EQ(RegSvr32(true), 0u);
    ASSERT_EQ(RegSvr32(true), 0u);
    ASSERT_EQ(RegSvr32(false), 0u);
    EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------------------------------------------

class OnlineFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        User = new TOnlineUser("ext_com_folder");
        User->StartTray();
        ASSERT_TRUE(User->Login());
        ASSERT_EQ(RegSvr32(true), 0u);
    }
    static void TearDownTestSuite()
    {
        RegSvr32(false);
        delete User;
        User = nullptr;
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(SHGetDesktopFolder(Desktop.ReleaseAndGetAddressOf()));
        std::wstring name = Utf8ToWide(Root);
        PIDLIST_RELATIVE list = nullptr;
        ULONG eaten = 0;
        ASSERT_HRESULT_SUCCEEDED(Desktop->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, &list, nullptr));
        RootList.reset(list);
        ASSERT_HRESULT_SUCCEEDED(Desktop->BindToObject(RootList.get(), nullptr, IID_PPV_ARGS(Folder.ReleaseAndGetAddressOf())));
    }

    static std::vector<std::pair<std::string, TSxPidlPtr>> Items(IShellFolder* folder) { return SxFolderItems(folder); }
    static std::set<std::string> NameSet(IShellFolder* folder)
    {
        std::set<std::string> names;
        for (auto& item : Items(folder))
            names.insert(item.first);
        return names;
    }
    TSxPidlPtr Item(IShellFolder* folder, const std::string& name)
    {
        for (auto& [n, item] : Items(folder))
            if (n == name)
                return std::move(item);
        ADD_FAILURE() << "no item " << name;
        return nullptr;
    }
    ComPtr<IShellFolder> Bind(IShellFolder* folder, const std::string& name)
    {
        auto item = Item(folder, name);
        ComPtr<IShellFolder> child;
        if (!item || FAILED(folder->BindToObject(item.get(), nullptr, IID_PPV_ARGS(&child))))
            return nullptr;
        return child;
    }
    SFGAOF Attributes(IShellFolder* folder, const std::string& name, SFGAOF asked)
    {
        auto item = Item(folder, name);
        PCUITEMID_CHILD items[1] = {item.get()};
        SFGAOF mask = asked;
        EXPECT_HRESULT_SUCCEEDED(folder->GetAttributesOf(1, items, &mask)) << name;
        return mask;
    }

    static TOnlineUser* User;
    ComPtr<IShellFolder> Desktop;
    TSxPidlPtr RootList;
    ComPtr<IShellFolder> Folder;
};
TOnlineUser* OnlineFolder::User = nullptr;

TEST_F(OnlineFolder, EnumeratesExactlyTheMirrorsItemsThroughTheDesktop)
{
    const auto& expected = exttest::RootNames();
    EXPECT_EQ(NameSet(Folder.Get()), std::set<std::string>(expected.begin(), expected.end()));
    // The folder's own name under My Computer and its parsing name.
    EXPECT_EQ(NameOf(Desktop.Get(), RootList.get()), "Tandrel Vaultmere");
    // Folders come before files in the enumeration.
    auto items = Items(Folder.Get());
    bool seenFile = false;
    for (auto& [name, item] : items) {
        PCUITEMID_CHILD one[1] = {item.get()};
        SFGAOF mask = SFGAO_FOLDER;
        ASSERT_HRESULT_SUCCEEDED(Folder->GetAttributesOf(1, one, &mask));
        const bool isFolder = (mask & SFGAO_FOLDER) != 0;
        EXPECT_FALSE(isFolder && seenFile) << name;
        seenFile = seenFile || !isFolder;
    }
}

TEST_F(OnlineFolder, SubFoldersBindAndEnumerateAtEveryDepth)
{
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    EXPECT_EQ(NameSet(fotos.Get()),
              (std::set<std::string>{"Strand 1.jpg", "Düne #2.jpg", "富士山.jpg", "Notizen.txt", "Urlaub 2024"}));
    auto urlaub = Bind(fotos.Get(), "Urlaub 2024");
    ASSERT_TRUE(urlaub);
    EXPECT_EQ(NameSet(urlaub.Get()), std::set<std::string>{"Tag 1.jpg"});
    auto documents = Bind(Folder.Get(), "Dokumente");
    ASSERT_TRUE(documents);
    EXPECT_EQ(NameSet(documents.Get()),
              (std::set<std::string>{"Bericht 100%.txt", "a b#c.txt", "Überblick.txt", "報告書.txt"}));
    auto empty = Bind(Folder.Get(), "Neue Dateianlagen");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(NameSet(empty.Get()).empty());
}

TEST_F(OnlineFolder, FoldersAreBrowsableFoldersAndFilesAreNot)
{
    const SFGAOF asked = SFGAO_FOLDER | SFGAO_BROWSABLE | SFGAO_HASSUBFOLDER;
    for (const char* name : {"Gelöschte Dateien", "Neue Dateianlagen", "Meine Bilder", "Alte Gelöschte Dateien", "Fotos"})
        EXPECT_EQ(Attributes(Folder.Get(), name, asked) & asked, asked) << name;
    for (const char* name : {"readme.txt", "my.thumbs"})
        EXPECT_EQ(Attributes(Folder.Get(), name, asked) & asked, 0u) << name;
}

TEST_F(OnlineFolder, ColumnsShowTheRecordsAndSortByThem)
{
    ComPtr<IShellFolder2> folder2;
    ASSERT_HRESULT_SUCCEEDED(Folder.As(&folder2));
    const char* captions[] = {"Name", "Größe", "Typ", "Letzte Änderung"};
    for (UINT column = 0; column < 4; ++column) {
        SHELLDETAILS details{};
        ASSERT_HRESULT_SUCCEEDED(folder2->GetDetailsOf(nullptr, column, &details)) << column;
        EXPECT_EQ(StrRetText(details.str, nullptr), captions[column]);
    }
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    ComPtr<IShellFolder2> fotos2;
    ASSERT_HRESULT_SUCCEEDED(fotos.As(&fotos2));
    auto cell = [&](IShellFolder2* f, PCUITEMID_CHILD item, UINT column) {
        SHELLDETAILS d{};
        EXPECT_HRESULT_SUCCEEDED(f->GetDetailsOf(item, column, &d));
        return StrRetText(d.str, item);
    };
    auto notes = Item(fotos.Get(), "Notizen.txt");
    auto beach = Item(fotos.Get(), "Strand 1.jpg");
    auto holiday = Item(fotos.Get(), "Urlaub 2024");
    EXPECT_EQ(cell(fotos2.Get(), notes.get(), 0), "Notizen.txt");
    EXPECT_EQ(cell(fotos2.Get(), notes.get(), 1), "1 KB");
    EXPECT_FALSE(cell(fotos2.Get(), notes.get(), 2).empty());
    // The record's date in the user's date form.
    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_NE(cell(fotos2.Get(), notes.get(), 3).find(std::to_string(now.wYear).substr(2)), std::string::npos);
    EXPECT_EQ(cell(fotos2.Get(), holiday.get(), 1), "");

    auto order = [&](LPARAM column, PCUITEMID_CHILD a, PCUITEMID_CHILD b) {
        HRESULT hr = fotos->CompareIDs(column, a, b);
        EXPECT_TRUE(SUCCEEDED(hr)) << column;
        return static_cast<int16_t>(HRESULT_CODE(hr));
    };
    // Size: the folder (size 0) first, then the 1000-byte text before the larger picture.
    EXPECT_LT(order(1, holiday.get(), notes.get()), 0);
    EXPECT_LT(order(1, notes.get(), beach.get()), 0);
    EXPECT_GT(order(1, beach.get(), notes.get()), 0);
    // Type: a folder before a file.
    EXPECT_LT(order(2, holiday.get(), beach.get()), 0);
    EXPECT_GT(order(2, beach.get(), holiday.get()), 0);
    // Modified: the text files were written 30 hours before the pictures.
    EXPECT_LT(order(3, notes.get(), beach.get()), 0);
    EXPECT_EQ(order(3, notes.get(), notes.get()), 0);
}

TEST_F(OnlineFolder, WithoutTheTrayProgramTheFolderIsEmptyAndStartsIt)
{
    User->StopTray();
    const std::string exe = User->Install + "Sendrake.exe";
    ASSERT_EQ(TOnlineUser::CountTrayProcesses(exe), 0);
    EXPECT_TRUE(NameSet(Folder.Get()).empty());
    for (int i = 0; i < 40 && TOnlineUser::CountTrayProcesses(exe) == 0; ++i)
        Sleep(50);
    EXPECT_EQ(TOnlineUser::CountTrayProcesses(exe), 1);
    // The tray program it started now runs: the folder shows its items again.
    const auto& expected = exttest::RootNames();
    EXPECT_EQ(NameSet(Folder.Get()), std::set<std::string>(expected.begin(), expected.end()));
    User->StopAllTrays();
    User->StartTray();
}
