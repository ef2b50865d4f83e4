// Brannock.dll as Windows and Explorer reach it: registered and unregistered with regsvr32 in the
// prefix, and the online folder under My Computer, bound through the desktop folder, showing the
// mirror that a real login listing of the seeded sandbox made.
#include "ExtensionTestSupport.h"
#include "SxTestFolderFixture.h"
#include "SxTestSelection.h"
#include "SxTestSupport.h"
#include "uGLBRegistry.h"
#include "uGLBTools.h"
#include "uGLBWin.h"
#include "SxPidl.h"
#include "SxTools.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using Microsoft::WRL::ComPtr;
using exttest::TOnlineUser;
using sxtest::StrRetText;
using sxtest::NameOf;

namespace {

const std::string FolderText = "{0738049E-478C-4D6D-B004-A767178A297C}";
const std::string HookText = "{808814DE-1689-460E-AC99-666580C569A5}";
const std::string MenuText = "{7C3298F7-6934-446E-8799-6A742F5A7419}";
const std::string SheetText = "{BA1C489F-A573-4D55-A755-2AA5A7076005}";
const CLSID MenuClsid = {0x7C3298F7, 0x6934, 0x446E, {0x87, 0x99, 0x6A, 0x74, 0x2F, 0x5A, 0x74, 0x19}};
const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + FolderText;
const std::string MyComputerNamespace = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\Namespace";
const std::string ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::string HooksKey = "Software\\Microsoft\\Internet Explorer\\UrlSearchHooks";

std::wstring Dll() { return PathBesideProgram(L"Brannock.dll"); }

DWORD RegSvr32(bool doRegister) { return ::RegSvr32(Dll(), doRegister); }

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

// What one set has that the other has not ("+name" and "-name"), or "".
std::string Difference(const std::set<std::string>& now, const std::set<std::string>& then)
{
    std::string text;
    for (const auto& name : now)
        if (!then.count(name))
            text += "+" + name + " ";
    for (const auto& name : then)
        if (!now.count(name))
            text += "-" + name + " ";
    return text;
}

// What registration may touch, as a whole.
std::map<std::string, std::set<std::string>> Snapshot()
{
    return {{"CLSID", Names(HKEY_CLASSES_ROOT, "CLSID")},
            {"Namespace", Names(HKEY_LOCAL_MACHINE, MyComputerNamespace)},
            {"Approved", Names(HKEY_LOCAL_MACHINE, ApprovedKey)},
            {"Hooks", Names(HKEY_CURRENT_USER, HooksKey)},
            {"AllFileSystemObjects", Names(HKEY_CLASSES_ROOT, "AllFileSystemObjects\\shellex\\ContextMenuHandlers")},
            {"AllFileSystemObjects\\shellex", Names(HKEY_CLASSES_ROOT, "AllFileSystemObjects\\shellex")},
            {"HKCR", Names(HKEY_CLASSES_ROOT, "")}};
}

}  // namespace

TEST(BrannockRegistration, RegSvr32WritesTheFolderJunctionHookHandlersAndRemovesExactlyThem)
{
    // Windows always has this class (its own handlers live below it); a fresh Wine prefix has it
    // only once some handler was registered there, which would make the snapshot depend on test order.
    HKEY system = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"AllFileSystemObjects", 0, nullptr, 0, KEY_WRITE, nullptr, &system,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(system);
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
    // The send-to item's context-menu handler of every local file and folder.
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "AllFileSystemObjects\\shellex\\ContextMenuHandlers\\Tandrel Vaultmere - Context menu"),
              MenuText);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "CLSID\\" + MenuText), "Tandrel Vaultmere - Context menu");
    EXPECT_NE(Value(HKEY_CLASSES_ROOT, "CLSID\\" + MenuText + "\\InprocServer32").find("Brannock.dll"), std::string::npos);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, MenuText), "Tandrel Vaultmere - Context menu");
    // The folder's own property page.
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\shellex\\PropertySheetHandlers\\sxVrqMainPropertySheet"), SheetText);
    EXPECT_NE(Value(HKEY_CLASSES_ROOT, "CLSID\\" + SheetText + "\\InprocServer32").find("Brannock.dll"), std::string::npos);
    EXPECT_NE(Value(HKEY_LOCAL_MACHINE, ApprovedKey, SheetText), "<none>");
    EXPECT_NE(Snapshot(), before);

    ASSERT_EQ(RegSvr32(false), 0u);
    const auto after = Snapshot();
    for (const auto& [part, names] : before)
        EXPECT_EQ(Difference(after.at(part), names), "") << part;
    // Registering twice and unregistering once leaves nothing either.
    ASSERT_EQ(RegSvr32(true), 0u);
    ASSERT_EQ(RegSvr32(true), 0u);
    ASSERT_EQ(RegSvr32(false), 0u);
    EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------------------------------------------

// One user for the whole process: the library's permanent module keeps the install and user path
// it found first, as it does in Explorer.
class OnlineFolder : public sxtest::FolderThroughDesktop {
protected:
    static void SetUpTestSuite()
    {
        if (User)
            return;
        CoInitialize(nullptr);
        User = new TOnlineUser("ext_com_folder");
        User->StartTray();
        ASSERT_TRUE(User->Login());
        ASSERT_EQ(RegSvr32(true), 0u);
    }
    void SetUp() override { BindRoot(Root); }

    static TOnlineUser* User;
    friend struct TOnlineCleanUp;
};
TOnlineUser* OnlineFolder::User = nullptr;

// After the last test: the registration and the user go.
struct TOnlineCleanUp : ::testing::Environment {
    void TearDown() override
    {
        if (!OnlineFolder::User)
            return;
        RegSvr32(false);
        delete OnlineFolder::User;
        OnlineFolder::User = nullptr;
        CoUninitialize();
    }
};
[[maybe_unused]] ::testing::Environment* const OnlineCleanUp = ::testing::AddGlobalTestEnvironment(new TOnlineCleanUp);

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

// The address bar shows the online folder's paths in the URL form, "Tandrel Vaultmere\...", and
// the URL search hook turns what the user types there back into a path the desktop parses.
TEST_F(OnlineFolder, TheAddressBarShowsTheURLFormWhichTheSearchHookTakesBack)
{
    constexpr SHGDNF address = SHGDN_FORPARSING | SHGDN_FORADDRESSBAR;
    EXPECT_EQ(NameOf(Desktop.Get(), RootList.get(), address), "Tandrel Vaultmere");
    EXPECT_EQ(NameOf(Desktop.Get(), RootList.get(), SHGDN_FORPARSING), Root);
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    auto urlaub = Item(fotos.Get(), "Urlaub 2024");
    ASSERT_TRUE(urlaub);
    EXPECT_EQ(NameOf(fotos.Get(), urlaub.get(), address), "Tandrel Vaultmere\\Fotos\\Urlaub 2024");
    auto notes = Item(fotos.Get(), "Notizen.txt");
    ASSERT_TRUE(notes);
    EXPECT_EQ(NameOf(fotos.Get(), notes.get(), address), "Tandrel Vaultmere\\Fotos\\Notizen.txt");

    CLSID hookClsid{};
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromString(Utf8ToWide(HookText).c_str(), &hookClsid));
    // IURLSearchHook, as the address bar asks for it (mingw's headers give no uuid of their own).
    const IID hookIid = {0xAC60F6A0, 0x0FD9, 0x11D0, {0x99, 0xCB, 0x00, 0xC0, 0x4F, 0xD6, 0x44, 0x97}};
    ComPtr<IURLSearchHook> hook;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(hookClsid, nullptr, CLSCTX_INPROC_SERVER, hookIid,
                                              reinterpret_cast<void**>(hook.GetAddressOf())));
    wchar_t typed[MAX_PATH] = L"Tandrel Vaultmere\\Fotos\\Urlaub 2024";
    ASSERT_EQ(hook->Translate(typed, MAX_PATH), S_OK);
    EXPECT_EQ(WideToUtf8(typed), Root + "\\Fotos\\Urlaub 2024");
    PIDLIST_RELATIVE parsed = nullptr;
    ASSERT_HRESULT_SUCCEEDED(Desktop->ParseDisplayName(nullptr, nullptr, typed, nullptr, &parsed, nullptr));
    TSxPidlPtr parsedList(parsed);
    EXPECT_EQ(NameOf(Desktop.Get(), reinterpret_cast<PCUITEMID_CHILD>(parsed), address),
              "Tandrel Vaultmere\\Fotos\\Urlaub 2024");
    // Another address is not the hook's: refused, the buffer as it was.
    wchar_t other[MAX_PATH] = L"http://example.invalid/Tandrel Vaultmere";
    EXPECT_EQ(hook->Translate(other, MAX_PATH), E_FAIL);
    EXPECT_EQ(WideToUtf8(other), "http://example.invalid/Tandrel Vaultmere");
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
    ASSERT_TRUE(notes && beach && holiday);
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

namespace {

// How many files and folders lie below a folder (0 when there is none).
size_t Entries(const std::string& folder)
{
    std::error_code ec;
    size_t count = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(davtest::U8Path(folder), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

}  // namespace

TEST_F(OnlineFolder, EveryNameOfEveryItemIsAnsweredWithoutAskingTheServer)
{
    // Explorer asks names all the time, on every thread: not one of them may cost a download.
    auto& dav = TOnlineUser::Dav();
    const size_t mark = dav.LogMark();
    const size_t downloads = Entries(User->Install + "Download");
    const SHGDNF forms[] = {SHGDN_NORMAL,
                            SHGDN_INFOLDER,
                            SHGDN_INFOLDER | SHGDN_FOREDITING,
                            SHGDN_FORPARSING,
                            SHGDN_FORPARSING | SHGDN_INFOLDER,
                            SHGDN_FORPARSING | SHGDN_FORADDRESSBAR,
                            SHGDN_FORPARSING | SHGDN_FORADDRESSBAR | SHGDN_INFOLDER,
                            SHGDN_FORADDRESSBAR};
    int files = 0, folders = 0;
    std::function<void(IShellFolder*, PCIDLIST_ABSOLUTE, const std::string&)> walk =
        [&](IShellFolder* folder, PCIDLIST_ABSOLUTE folderList, const std::string& path) {
            for (auto& [name, item] : Items(folder)) {
                SCOPED_TRACE(path + name);
                for (SHGDNF form : forms)
                    EXPECT_NE(NameOf(folder, item.get(), form), "<failed>") << form;
                EXPECT_EQ(NameOf(folder, item.get(), SHGDN_INFOLDER | SHGDN_FORPARSING), name);
                // The parsing name is the item's path in the online folder, which parses back to it.
                const std::string parsing = NameOf(folder, item.get(), SHGDN_FORPARSING);
                EXPECT_EQ(parsing, Root + "\\" + path + name);
                TSxPidlPtr absolute(ILCombine(folderList, item.get()));
                auto parsed = Parse(parsing);
                ASSERT_TRUE(parsed);
                EXPECT_EQ(HRESULT_CODE(Desktop->CompareIDs(0, parsed.get(), absolute.get())), 0);
                if (auto child = Bind(folder, item.get())) {
                    ++folders;
                    walk(child.Get(), absolute.get(), path + name + "\\");
                } else {
                    ++files;
                }
            }
        };
    walk(Folder.Get(), RootList.get(), "");
    EXPECT_GE(files, 12);
    EXPECT_GE(folders, 7);
    Sleep(500);  // Apache logs a request only after its answer
    std::vector<std::string> requests;
    for (const auto& line : dav.LogSince(mark, User->Prefix(), 0, 0))
        requests.push_back(line.Method + " " + line.Path);
    EXPECT_TRUE(requests.empty()) << requests.size() << " requests, the first " << requests.front();
    // Nor is anything fetched into the working folders on the way.
    EXPECT_EQ(Entries(User->Install + "Download"), downloads);
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

// ---- Helper objects of the items, as Explorer asks for them through GetUIObjectOf

namespace {

// The shell's own icon of a special folder.
std::vector<uint32_t> ShellIconPixels(int csidl, bool small)
{
    PIDLIST_ABSOLUTE list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)))
        return {};
    SHFILEINFOW info{};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &info, sizeof info,
                   SHGFI_PIDL | SHGFI_ICON | (small ? SHGFI_SMALLICON : 0));
    CoTaskMemFree(list);
    std::vector<uint32_t> pixels = info.hIcon ? IconPixels(info.hIcon, small ? 16 : 32) : std::vector<uint32_t>{};
    if (info.hIcon)
        DestroyIcon(info.hIcon);
    return pixels;
}

std::vector<uint32_t> ShellFolderIconPixels()
{
    SHFILEINFOW info{};
    SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_ICON);
    std::vector<uint32_t> pixels = info.hIcon ? IconPixels(info.hIcon, 32) : std::vector<uint32_t>{};
    if (info.hIcon)
        DestroyIcon(info.hIcon);
    return pixels;
}

// Two drawings of one icon: the same size and nearly every pixel the same (an image list may round
// the edges of a blended icon).
bool Looks(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    if (a.empty() || a.size() != b.size())
        return false;
    size_t same = 0;
    for (size_t i = 0; i < a.size(); ++i)
        same += a[i] == b[i];
    return same * 10 >= a.size() * 9;
}

struct TItemIcon {
    HRESULT Location = E_FAIL;
    int Index = -2;
    UINT Flags = 0;
    std::vector<uint32_t> Large, Small;  // what Extract gives
    std::vector<uint32_t> FromFile;      // what Wine's view draws: the icon of the file the location names
};

}  // namespace

class OnlineFolderItems : public OnlineFolder {
protected:
    // As Explorer asks: for the shell (GIL_FORSHELL).
    TItemIcon IconOf(IShellFolder* folder, const std::string& name, UINT flags = GIL_FORSHELL)
    {
        TItemIcon result;
        auto extract = UIObject<IExtractIconW>(folder, IID_IExtractIconW, {name});
        if (!extract)
            return result;
        wchar_t location[MAX_PATH] = {};
        result.Location = extract->GetIconLocation(flags, location, MAX_PATH, &result.Index, &result.Flags);
        HICON large = nullptr, small = nullptr;
        if (SUCCEEDED(extract->Extract(location, static_cast<UINT>(result.Index), &large, &small, MAKELONG(32, 16)))) {
            if (large)
                result.Large = IconPixels(large, 32);
            if (small)
                result.Small = IconPixels(small, 16);
        }
        if (large)
            DestroyIcon(large);
        if (small)
            DestroyIcon(small);
        HICON fromFile = nullptr;
        if (GetFileAttributesW(location) != INVALID_FILE_ATTRIBUTES &&
            PrivateExtractIconsW(location, result.Index, 32, 32, &fromFile, nullptr, 1, 0) == 1 && fromFile) {
            result.FromFile = IconPixels(fromFile, 32);
            DestroyIcon(fromFile);
        }
        return result;
    }
};

TEST_F(OnlineFolderItems, SpecialFoldersShowTheShellsIconsAndEveryOtherItemItsSystemIcon)
{
    const auto recycleBin = ShellIconPixels(CSIDL_BITBUCKET, false);
    const auto documents = ShellIconPixels(CSIDL_PERSONAL, false);
    const auto pictures = ShellIconPixels(CSIDL_MYPICTURES, false);
    ASSERT_FALSE(recycleBin.empty());
    const struct {
        const char* Name;
        int Index;  // -1: a system icon of the shared lists (4 or more)
        const std::vector<uint32_t>* Looks;
    } cases[] = {
        {"Gelöschte Dateien", 0, &recycleBin},
        {"Neue Dateianlagen", 1, &documents},
        {"Meine Bilder", 2, &pictures},
        {"Alte Gelöschte Dateien", -1, nullptr},
        {"Fotos", -1, nullptr},
        {"readme.txt", -1, nullptr},
        {"my.thumbs", -1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TItemIcon icon = IconOf(Folder.Get(), c.Name);
        ASSERT_EQ(icon.Location, S_OK);
        // Never taken from Explorer's cache: the location is no file and changes.
        EXPECT_EQ(icon.Flags, static_cast<UINT>(GIL_NOTFILENAME | GIL_DONTCACHE | GIL_PERINSTANCE));
        ASSERT_EQ(icon.Large.size(), 32u * 32u);
        ASSERT_EQ(icon.Small.size(), 16u * 16u);
        if (c.Looks)
            EXPECT_TRUE(Looks(icon.Large, *c.Looks));
        else
            EXPECT_FALSE(Looks(icon.Large, recycleBin));
        // Under Wine the location names an icon file of the same icon (see the extractor).
        if (SxRunsOnWine()) {
            EXPECT_EQ(icon.Index, 0);
            EXPECT_TRUE(Looks(icon.FromFile, icon.Large));
        } else if (c.Index >= 0) {
            EXPECT_EQ(icon.Index, c.Index);
        } else {
            EXPECT_GE(icon.Index, 4);
        }
    }
    // An ordinary folder looks like the shell's folders; the trash does not.
    EXPECT_TRUE(Looks(IconOf(Folder.Get(), "Alte Gelöschte Dateien").Large, ShellFolderIconPixels()));
    EXPECT_FALSE(Looks(recycleBin, ShellFolderIconPixels()));
    // Asked not for the shell, an item without an icon of its own leaves it to the caller.
    // (Under Wine, whose view never asks for the shell, it gets the system's icon as well.)
    const TItemIcon notForShell = IconOf(Folder.Get(), "readme.txt", 0);
    if (SxRunsOnWine()) {
        EXPECT_EQ(notForShell.Location, S_OK);
        EXPECT_TRUE(Looks(notForShell.FromFile, IconOf(Folder.Get(), "readme.txt").Large));
    } else {
        EXPECT_EQ(notForShell.Location, S_FALSE);
    }
    EXPECT_TRUE(Looks(IconOf(Folder.Get(), "Meine Bilder", 0).Large, pictures));
    // The ANSI interface answers the same.
    auto ansi = UIObject<IExtractIconA>(Folder.Get(), IID_IExtractIconA, {"Neue Dateianlagen"});
    ASSERT_TRUE(ansi);
    char location[MAX_PATH] = {};
    int index = -2;
    UINT flags = 0;
    ASSERT_EQ(ansi->GetIconLocation(0, location, MAX_PATH, &index, &flags), S_OK);
    EXPECT_EQ(index, 1);  // the ANSI location is always the random text: its index is the list's
    // A sub-folder's special folder too: "Neue Dateianlagen" at any depth is one.
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    EXPECT_TRUE(Looks(IconOf(fotos.Get(), "Urlaub 2024").Large, ShellFolderIconPixels()));
}

TEST_F(OnlineFolderItems, InfoTipsShowTypeDateAndSizeOfFilesAndTheNameOfFolders)
{
    auto tipOf = [](IShellFolder* folder, const std::string& name) {
        auto info = UIObject<IQueryInfo>(folder, IID_IQueryInfo, {name});
        if (!info)
            return std::string("<none>");
        LPWSTR tip = nullptr;
        if (FAILED(info->GetInfoTip(0, &tip)) || !tip)
            return std::string("<failed>");
        std::string text = WideToUtf8(tip);
        CoTaskMemFree(tip);
        return text;
    };
    const std::string readme = tipOf(Folder.Get(), "readme.txt");
    EXPECT_EQ(readme.rfind("Typ: ", 0), 0u) << readme;
    EXPECT_NE(readme.find("\r\nGeändert am: "), std::string::npos) << readme;
    EXPECT_NE(readme.find("\r\nGröße: " + FormatByteSize(1000)), std::string::npos) << readme;
    EXPECT_EQ(tipOf(Folder.Get(), "Gelöschte Dateien"), "Gelöschte Dateien");
    auto documents = Bind(Folder.Get(), "Dokumente");
    ASSERT_TRUE(documents);
    EXPECT_NE(tipOf(documents.Get(), "報告書.txt").find("\r\nGröße: " + FormatByteSize(1000)), std::string::npos);
}

TEST_F(OnlineFolderItems, ThumbnailsOfPicturesAreMadeByTheServerAndDrawn)
{
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    auto& dav = TOnlineUser::Dav();
    const size_t mark = dav.LogMark();
    auto image = UIObject<IExtractImage>(fotos.Get(), IID_IExtractImage, {"Düne #2.jpg"});
    ASSERT_TRUE(image);
    wchar_t location[MAX_PATH] = {};
    DWORD priority = 7, flags = IEIFLAG_ORIGSIZE;
    const SIZE size{96, 96};
    ASSERT_EQ(image->GetLocation(location, MAX_PATH, &priority, &size, 32, &flags), S_OK);
    EXPECT_STREQ(location, L"Düne #2.jpg");
    HBITMAP bitmap = nullptr;
    ASSERT_EQ(image->Extract(&bitmap), S_OK);
    ASSERT_TRUE(bitmap);
    BITMAP info{};
    ASSERT_TRUE(GetObjectW(bitmap, sizeof info, &info));
    EXPECT_GT(info.bmWidth, 0);
    EXPECT_NE(info.bmHeight, 0);
    DeleteObject(bitmap);
    // The server made the folder's thumbnails and the client fetched the ".thumb" pictures.
    const auto lines = dav.LogSince(mark, User->Prefix() + "Fotos", 2, 10000);
    bool made = false, fetched = false;
    for (const auto& line : lines) {
        made = made || (line.Method == "CREATETHUMBNAIL" && line.Path == User->Prefix() + "Fotos/Düne #2.jpg");
        fetched = fetched || (line.Method == "GET" && line.Path.find("/.thumb/Düne #2.jpg.thumb.jpg") != std::string::npos &&
                              line.Status == 200);
    }
    EXPECT_TRUE(made);
    EXPECT_TRUE(fetched);
    // A text file has no thumbnail, and nothing is asked of the server for it again.
    auto text = UIObject<IExtractImage>(fotos.Get(), IID_IExtractImage, {"Notizen.txt"});
    ASSERT_TRUE(text);
    EXPECT_EQ(text->GetLocation(location, MAX_PATH, &priority, &size, 32, &flags), E_FAIL);
    bitmap = nullptr;
    EXPECT_EQ(text->Extract(&bitmap), E_FAIL);
    EXPECT_EQ(bitmap, nullptr);
}

// ---- The send-to item in the context menu of local files and folders

namespace {

// Watches for the warning box of this process and answers it with OK; keeps its text.
class TWarningBoxWatcher {
public:
    TWarningBoxWatcher()
        : FThread([this] {
              for (int i = 0; i < 600 && !FStop; ++i, Sleep(50)) {
                  HWND box = FindWindowW(L"#32770", L"Fehler");
                  if (!box || !IsWindowVisible(box))
                      continue;
                  EnumChildWindows(box, Collect, reinterpret_cast<LPARAM>(this));
                  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                  ++Boxes;
                  Sleep(200);
              }
          })
    {
    }
    ~TWarningBoxWatcher()
    {
        FStop = true;
        FThread.join();
    }
    std::string Texts() const
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FTexts;
    }
    std::atomic<int> Boxes{0};

private:
    static BOOL CALLBACK Collect(HWND child, LPARAM data)
    {
        auto* self = reinterpret_cast<TWarningBoxWatcher*>(data);
        wchar_t text[512] = {};
        GetWindowTextW(child, text, 512);
        std::lock_guard<std::mutex> guard(self->FLock);
        self->FTexts += WideToUtf8(text) + "|";
        return TRUE;
    }
    mutable std::mutex FLock;
    std::string FTexts;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

}  // namespace

class SendToMenu : public OnlineFolder {
protected:
    // The handler as Explorer makes it for a selection, with its items in a fresh menu; the
    // command offset of the send-to item (-1 when it is missing).
    int Prepare(sxtest::TSelection& selection)
    {
        EXPECT_TRUE(selection.Data);
        if (!selection.Data)
            return -1;
        ComPtr<IShellExtInit> init;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(MenuClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&init)));
        if (!init)
            return -1;
        EXPECT_EQ(init->Initialize(nullptr, selection.Data.Get(), nullptr), S_OK);
        EXPECT_HRESULT_SUCCEEDED(init.As(&Menu));
        if (!Menu)
            return -1;
        Popup = CreatePopupMenu();
        AppendMenuW(Popup, MF_STRING, 1, L"Öffnen");
        const HRESULT hr = Menu->QueryContextMenu(Popup, 1, 100, 200, CMF_NORMAL);
        EXPECT_EQ(HRESULT_CODE(hr), 2);
        wchar_t text[128] = {};
        GetMenuStringW(Popup, 1, text, 128, MF_BYPOSITION);
        EXPECT_STREQ(text, L"Tandrel Vaultmere");
        HMENU sub = GetSubMenu(Popup, 1);
        if (!sub)
            return -1;
        GetMenuStringW(sub, 0, text, 128, MF_BYPOSITION);
        EXPECT_STREQ(text, L"In \"Neue Dateianlagen\" speichern");
        return static_cast<int>(GetMenuItemID(sub, 0)) - 100;
    }
    void TearDown() override
    {
        Menu.Reset();
        if (Popup)
            DestroyMenu(Popup);
    }
    HRESULT Invoke(int offset)
    {
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof info;
        info.lpVerb = MAKEINTRESOURCEA(offset);
        info.nShow = SW_SHOWNORMAL;
        return Menu->InvokeCommand(&info);
    }
    std::string Server(const std::string& path) const
    {
        return TOnlineUser::Dav().Exists(User->Srv(path)) ? TOnlineUser::Dav().ReadFile(User->Srv(path)) : "<none>";
    }
    ComPtr<IContextMenu> Menu;
    HMENU Popup = nullptr;
};

TEST_F(SendToMenu, LocalFilesAndAFolderGoIntoNeueDateianlagen)
{
    sxtest::TSelection selection({L"Brief an Jürgen.txt", L"Rechnung #7.txt", L"Projekt 2024\\"}, L"Eigene Dateien",
                                 {{L"Projekt 2024\\Plan.txt", std::string(1000, 'p')},
                                  {L"Projekt 2024\\Tiefer\\Notiz ü.txt", std::string(1000, 'n')}});
    const int offset = Prepare(selection);
    ASSERT_EQ(offset, 1);
    TWarningBoxWatcher watcher;
    ASSERT_EQ(Invoke(offset), S_OK);
    EXPECT_EQ(watcher.Boxes, 0) << watcher.Texts();
    EXPECT_EQ(Server("Neue Dateianlagen/Brief an Jürgen.txt"), "1234567890");
    EXPECT_EQ(Server("Neue Dateianlagen/Rechnung #7.txt"), "1234567890");
    EXPECT_EQ(Server("Neue Dateianlagen/Projekt 2024/Plan.txt"), std::string(1000, 'p'));
    EXPECT_EQ(Server("Neue Dateianlagen/Projekt 2024/Tiefer/Notiz ü.txt"), std::string(1000, 'n'));
    // The local files stay; the online folder shows what was sent.
    EXPECT_TRUE(exttest::LocalExists(WideToUtf8(selection.Path(L"Brief an Jürgen.txt"))));
    auto target = Bind(Folder.Get(), "Neue Dateianlagen");
    ASSERT_TRUE(target);
    EXPECT_EQ(NameSet(target.Get()), (std::set<std::string>{"Brief an Jürgen.txt", "Rechnung #7.txt", "Projekt 2024"}));
}

TEST_F(SendToMenu, AnUploadTheServerRefusesIsToldInTheWarningBox)
{
    // Below the base path ".../readonly" the server refuses every PUT.
    TOnlineUser::Dav().MakeFolder(User->Srv("readonly"));
    TOnlineUser::Dav().MakeFolder(User->Srv("readonly/Neue Dateianlagen"));
    const std::string host = ReadRegistryString("Connection", "host", "");
    sxtest::TSelection selection({L"Abgelehnt ä.txt"}, L"Eigene Dateien");
    const int offset = Prepare(selection);
    ASSERT_EQ(offset, 1);
    WriteRegistryString("Connection", "host", host + "/readonly");
    {
        TWarningBoxWatcher watcher;
        ASSERT_EQ(Invoke(offset), S_OK);
        EXPECT_EQ(watcher.Boxes, 1);
        EXPECT_NE(watcher.Texts().find("Die Datei \"Abgelehnt ä.txt\" konnte nicht kopiert werden!"), std::string::npos)
            << watcher.Texts();
    }
    WriteRegistryString("Connection", "host", host);
    EXPECT_EQ(Server("readonly/Neue Dateianlagen/Abgelehnt ä.txt"), "<none>");
    EXPECT_TRUE(exttest::LocalExists(WideToUtf8(selection.Path(L"Abgelehnt ä.txt"))));
}
