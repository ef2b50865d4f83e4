// Drives the test folder DLL as Explorer does: registered with regsvr32, reached through the
// desktop folder under My Computer, enumerated, named, parsed, compared, renamed and shown in
// columns; then unregistered, leaving the system's keys.
#include "SxTestFolderFixture.h"
#include "SxURLHandler.h"
#include "uGLBWin.h"
#include "SxPidl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <set>

using namespace sxtest;

namespace {

const CLSID FolderClsid = {0x5D1C8F22, 0x7A3B, 0x4C6E, {0x9E, 0x41, 0x2B, 0x7F, 0x0C, 0x3A, 0x8D, 0x55}};
const CLSID HookClsid = {0x5D1C8F23, 0x7A3B, 0x4C6E, {0x9E, 0x41, 0x2B, 0x7F, 0x0C, 0x3A, 0x8D, 0x55}};
const std::string HookText = "{5D1C8F23-7A3B-4C6E-9E41-2B7F0C3A8D55}";
const std::string MyComputerNamespace = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\Namespace";
const std::string ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// The events of the 1361 messages waiting for window, each dispatched to it.
std::vector<WPARAM> Notices(HWND window)
{
    std::vector<WPARAM> events;
    MSG msg;
    while (PeekMessageW(&msg, window, WM_USER + 337, WM_USER + 337, PM_REMOVE)) {
        events.push_back(msg.wParam);
        DispatchMessageW(&msg);
    }
    return events;
}

// ---------------------------------------------------------------------------------------------

TEST(TestFolderRegistration, RegSvr32WritesTheExactKeysAndUnregistersThemAll)
{
    const std::string classKey = "CLSID\\" + FolderText;
    std::set<std::string> otherJunctions;
    ASSERT_EQ(RegSvr32(true), 0u);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey), "Tandrel Testtresor");
    EXPECT_NE(Value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32").find("SxTestFolder.dll"), std::string::npos);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "WantsFORPARSING"), "");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "LoadWithoutCOM"), "");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "HideAsDelete"), "<none>");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\ShellFolder", "Attributes"), std::to_string(0xA8000150u));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey, "InfoTip"), "<none>");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\DefaultIcon"));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, FolderText), "sxTestFolder");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, MyComputerNamespace + "\\" + FolderText), "Tandrel Testtresor");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\UrlSearchHooks", HookText), "");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + HookText + "\\InprocServer32"));

    ASSERT_EQ(RegSvr32(false), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + HookText));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "SxTestFolder.sxTestFolder"));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, FolderText), "<none>");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MyComputerNamespace + "\\" + FolderText));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\UrlSearchHooks", HookText), "<none>");
    // The system's keys and the other junctions stay.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, MyComputerNamespace));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, MyComputerNamespace + "\\{21EC2020-3AEA-1069-A2DD-08002B30309D}"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ApprovedKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\UrlSearchHooks"));
}

// ---------------------------------------------------------------------------------------------

TEST_F(TestFolder, EnumeratesFoldersFilesAndHiddenItemsAsAsked)
{
    std::set<std::string> all, folders, withHidden;
    for (auto& item : Items(Folder.Get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS))
        all.insert(item.first);
    for (auto& item : Items(Folder.Get(), SHCONTF_FOLDERS))
        folders.insert(item.first);
    for (auto& item : Items(Folder.Get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN))
        withHidden.insert(item.first);
    EXPECT_EQ(all, (std::set<std::string>{"Bilder", "Neuer Ordner", "Größe ä.txt", "read me.txt"}));
    EXPECT_EQ(folders, (std::set<std::string>{"Bilder", "Neuer Ordner"}));
    EXPECT_EQ(withHidden.count("versteckt.txt"), 1u);
}

TEST_F(TestFolder, MyComputerListsTheJunction)
{
    auto myComputer = Parse("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    ASSERT_TRUE(myComputer);
    auto computer = Bind(Desktop.Get(), myComputer.get());
    ASSERT_TRUE(computer);
    std::set<std::string> names;
    for (auto& item : Items(computer.Get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS))
        names.insert(item.first);
    EXPECT_EQ(names.count("Tandrel Testtresor"), 1u);
}

TEST_F(TestFolder, NamesForEveryDisplayForm)
{
    auto file = Item(Folder.Get(), "Größe ä.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(NameOf(Folder.Get(), file.get(), SHGDN_NORMAL), "Größe ä.txt");
    EXPECT_EQ(NameOf(Folder.Get(), file.get(), SHGDN_INFOLDER), "Größe ä.txt");
    EXPECT_EQ(NameOf(Folder.Get(), file.get(), SHGDN_INFOLDER | SHGDN_FOREDITING), "Größe ä.txt");
    EXPECT_EQ(NameOf(Folder.Get(), file.get(), SHGDN_INFOLDER | SHGDN_FORPARSING), "Größe ä.txt");
    EXPECT_EQ(NameOf(Folder.Get(), file.get(), SHGDN_FORPARSING), Root + "\\Größe ä.txt");
    EXPECT_EQ(NameOf(Folder.Get(), file.get(), SHGDN_FORPARSING | SHGDN_FORADDRESSBAR), Root + "\\Größe ä.txt");

    auto bilder = Item(Folder.Get(), "Bilder");
    auto child = Bind(Folder.Get(), bilder.get());
    ASSERT_TRUE(child);
    auto beach = Item(child.Get(), "Strand ö.jpg");
    ASSERT_TRUE(beach);
    EXPECT_EQ(NameOf(child.Get(), beach.get(), SHGDN_FORPARSING), Root + "\\Bilder\\Strand ö.jpg");
    // A two-level list asked of the root folder names both levels.
    TSxPidlPtr twoLevels(PIDLCombine(bilder.get(), beach.get()));
    EXPECT_EQ(NameOf(Folder.Get(), twoLevels.get(), SHGDN_FORPARSING), Root + "\\Bilder\\Strand ö.jpg");
    EXPECT_EQ(NameOf(Folder.Get(), twoLevels.get(), SHGDN_NORMAL), "Strand ö.jpg");
}

TEST_F(TestFolder, ParsesNestedPathsThroughTheDesktopAndFailsOnAMissingPart)
{
    auto deep = Parse(Root + "\\Bilder\\Urlaub 2024\\Düne.png");
    ASSERT_TRUE(deep);
    EXPECT_EQ(PIDLGetItemCount(deep.get()), PIDLGetItemCount(RootList.get()) + 3);
    // The parsing name of an item parses back to the same item.
    auto file = Item(Folder.Get(), "read me.txt");
    auto byName = Parse(NameOf(Folder.Get(), file.get(), SHGDN_FORPARSING));
    ASSERT_TRUE(byName);
    TSxPidlPtr expected(PIDLCombine(RootList.get(), file.get()));
    EXPECT_EQ(HRESULT_CODE(Desktop->CompareIDs(0, byName.get(), expected.get())), 0);

    HRESULT hr = S_OK;
    EXPECT_FALSE(Parse(Root + "\\Fehlt", &hr));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(Parse(Root + "\\Fehlt\\read me.txt", &hr));
    EXPECT_FALSE(Parse(Root + "\\Bilder\\Fehlt\\Düne.png", &hr));
    EXPECT_FALSE(Parse(Root + "\\read me.txt\\x", &hr));

    // Directly on the folder: the error of a missing part, no list, nothing eaten.
    std::wstring missing = L"Fehlt\\read me.txt";
    PIDLIST_RELATIVE list = reinterpret_cast<PIDLIST_RELATIVE>(1);
    ULONG eaten = 77;
    EXPECT_EQ(Folder->ParseDisplayName(nullptr, nullptr, missing.data(), &eaten, &list, nullptr),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(eaten, 0u);
    std::wstring found = Utf8ToWide("BILDER\\urlaub 2024");
    ULONG attributes = SFGAO_FOLDER;
    ASSERT_HRESULT_SUCCEEDED(Folder->ParseDisplayName(nullptr, nullptr, found.data(), &eaten, &list, &attributes));
    TSxPidlPtr owned(list);
    EXPECT_EQ(PIDLGetItemCount(list), 2);
    EXPECT_EQ(eaten, found.size());
    EXPECT_EQ(attributes, static_cast<ULONG>(SFGAO_FOLDER));
}

TEST_F(TestFolder, BindsFoldersOnlyAndKnowsItsOwnList)
{
    auto bilder = Item(Folder.Get(), "Bilder");
    auto file = Item(Folder.Get(), "read me.txt");
    HRESULT hr = S_OK;
    EXPECT_FALSE(Bind(Folder.Get(), file.get(), &hr));
    EXPECT_EQ(hr, E_INVALIDARG);
    auto child = Bind(Folder.Get(), bilder.get());
    ASSERT_TRUE(child);
    ComPtr<IPersistFolder2> persist;
    ASSERT_HRESULT_SUCCEEDED(child.As(&persist));
    PIDLIST_ABSOLUTE current = nullptr;
    ASSERT_HRESULT_SUCCEEDED(persist->GetCurFolder(&current));
    TSxPidlPtr owned(current);
    TSxPidlPtr expected(PIDLCombine(RootList.get(), bilder.get()));
    ASSERT_EQ(PIDLGetSize(current), PIDLGetSize(expected.get()));
    EXPECT_EQ(std::memcmp(current, expected.get(), PIDLGetSize(current)), 0);
    CLSID clsid{};
    persist->GetClassID(&clsid);
    EXPECT_TRUE(IsEqualCLSID(clsid, FolderClsid));
    ComPtr<IRemoteComputer> remote;
    ASSERT_HRESULT_SUCCEEDED(child->QueryInterface(IID_IRemoteComputer, reinterpret_cast<void**>(remote.GetAddressOf())));
    EXPECT_EQ(remote->Initialize(L"SERVER", TRUE), S_OK);
}

TEST_F(TestFolder, AttributesOfFoldersAndFiles)
{
    auto bilder = Item(Folder.Get(), "Bilder");
    auto file = Item(Folder.Get(), "read me.txt");
    PCUITEMID_CHILD items[1] = {bilder.get()};
    SFGAOF mask = SFGAO_FOLDER;
    ASSERT_HRESULT_SUCCEEDED(Folder->GetAttributesOf(1, items, &mask));
    EXPECT_EQ(mask, 0xF8000043u);
    // Bits the folder does not know are never echoed back.
    items[0] = file.get();
    mask = 0xFFFFFFFF;
    ASSERT_HRESULT_SUCCEEDED(Folder->GetAttributesOf(1, items, &mask));
    EXPECT_EQ(mask, 0x40000043u | SFGAO_CANRENAME | SFGAO_CANDELETE);
    // Several items share what all of them have; none asks for the folder's own.
    PCUITEMID_CHILD both[2] = {bilder.get(), file.get()};
    mask = SFGAO_FOLDER | SFGAO_CANRENAME;
    ASSERT_HRESULT_SUCCEEDED(Folder->GetAttributesOf(2, both, &mask));
    EXPECT_EQ(mask & SFGAO_FOLDER, 0u);
    mask = 0;
    ASSERT_HRESULT_SUCCEEDED(Folder->GetAttributesOf(0, nullptr, &mask));
    EXPECT_EQ(mask, 0xA8000150u);
}

TEST_F(TestFolder, ComparesByEachColumnInBothOrders)
{
    auto bilder = Item(Folder.Get(), "Bilder");
    auto big = Item(Folder.Get(), "Größe ä.txt");
    auto empty = Item(Folder.Get(), "read me.txt");
    auto order = [&](LPARAM column, PCUITEMID_CHILD a, PCUITEMID_CHILD b) {
        HRESULT hr = Folder->CompareIDs(column, a, b);
        EXPECT_TRUE(SUCCEEDED(hr)) << column;
        return static_cast<int16_t>(HRESULT_CODE(hr));
    };
    for (LPARAM column : {0, 2, 3}) {
        EXPECT_LT(order(column, bilder.get(), big.get()), 0) << column;  // folders first
        EXPECT_GT(order(column, big.get(), bilder.get()), 0) << column;
        EXPECT_EQ(order(column, big.get(), big.get()), 0) << column;
    }
    EXPECT_NE(order(0, big.get(), empty.get()), 0);
    EXPECT_EQ(order(0, big.get(), empty.get()), -order(0, empty.get(), big.get()));
    // The size column's own order: 0 bytes before 1025 bytes, whatever the names say.
    EXPECT_LT(order(1, empty.get(), big.get()), 0);
    EXPECT_GT(order(1, big.get(), empty.get()), 0);
    EXPECT_EQ(Folder->CompareIDs(4, big.get(), empty.get()), E_INVALIDARG);
    EXPECT_EQ(Folder->CompareIDs(0, nullptr, empty.get()), E_INVALIDARG);
}

TEST_F(TestFolder, RenamesAndReportsARefusal)
{
    auto file = Item(Folder.Get(), "read me.txt");
    PITEMID_CHILD renamed = reinterpret_cast<PITEMID_CHILD>(1);
    ASSERT_HRESULT_SUCCEEDED(Folder->SetNameOf(nullptr, file.get(), Utf8ToWide("lies mich ü.txt").c_str(),
                                               SHGDN_INFOLDER, &renamed));
    ASSERT_NE(renamed, nullptr);
    TSxPidlPtr owned(renamed);
    EXPECT_EQ(NameOf(Folder.Get(), renamed, SHGDN_NORMAL), "lies mich ü.txt");

    renamed = reinterpret_cast<PITEMID_CHILD>(1);
    EXPECT_TRUE(FAILED(Folder->SetNameOf(nullptr, file.get(), L"verboten", SHGDN_INFOLDER, &renamed)));
    EXPECT_EQ(renamed, nullptr);
}

TEST_F(TestFolder, DetailsColumnsAndTheirDefinitions)
{
    SHELLDETAILS details{};
    ComPtr<IShellFolder2> folder2;
    ASSERT_HRESULT_SUCCEEDED(Folder.As(&folder2));
    const char* captions[] = {"Name", "Größe", "Typ", "Letzte Änderung"};
    for (UINT column = 0; column < 4; ++column) {
        ASSERT_HRESULT_SUCCEEDED(folder2->GetDetailsOf(nullptr, column, &details)) << column;
        EXPECT_EQ(StrRetText(details.str, nullptr), captions[column]);
        EXPECT_EQ(details.fmt, column == 1 ? 1 : 0);
    }
    EXPECT_EQ(folder2->GetDetailsOf(nullptr, 4, &details), E_INVALIDARG);

    auto big = Item(Folder.Get(), "Größe ä.txt");
    auto cell = [&](PCUITEMID_CHILD item, UINT column) {
        SHELLDETAILS d{};
        EXPECT_HRESULT_SUCCEEDED(folder2->GetDetailsOf(item, column, &d));
        return StrRetText(d.str, item);
    };
    EXPECT_EQ(cell(big.get(), 0), "Größe ä.txt");
    EXPECT_EQ(cell(big.get(), 1), "2 KB");
    EXPECT_EQ(cell(big.get(), 2), "Testdatei");
    EXPECT_NE(cell(big.get(), 3).find("2024"), std::string::npos);
    auto bilder = Item(Folder.Get(), "Bilder");
    EXPECT_EQ(cell(bilder.get(), 0), "Bilder");
    EXPECT_EQ(cell(bilder.get(), 1), "");

    SHCOLSTATEF state = 0;
    ASSERT_EQ(folder2->GetDefaultColumnState(1, &state), S_OK);
    // Integer type, on by default, and off the header menu (0x80) since it is not on the popup menu.
    EXPECT_EQ(state, 0x92u);
    EXPECT_EQ(folder2->GetDefaultColumnState(4, &state), S_FALSE);
    ULONG sort = 9, display = 9;
    ASSERT_HRESULT_SUCCEEDED(folder2->GetDefaultColumn(0, &sort, &display));
    EXPECT_EQ(sort, 0u);
    EXPECT_EQ(display, 0u);
}

TEST_F(TestFolder, CreatesAViewAndTheUrlHookFindsTheFolder)
{
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    ComPtr<IShellView> view;
    EXPECT_HRESULT_SUCCEEDED(Folder->CreateViewObject(owner, IID_PPV_ARGS(&view)));
    EXPECT_NE(view, nullptr);
    view.Reset();
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(Folder->CreateViewObject(owner, IID_IDropTarget, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    DestroyWindow(owner);

    ComPtr<ISxURLSearchHook> hook;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(HookClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISxURLSearchHook,
                                              reinterpret_cast<void**>(hook.GetAddressOf())));
    wchar_t url[300] = L"testvault:Bilder";
    EXPECT_EQ(hook->Translate(url, 300), S_OK);
    EXPECT_EQ(WideToUtf8(url), Root + "Bilder");
    wchar_t other[300] = L"http://testvault:x";
    EXPECT_EQ(hook->Translate(other, 300), E_FAIL);
    EXPECT_EQ(WideToUtf8(other), "http://testvault:x");
    wchar_t small[20] = L"testvault:";
    EXPECT_EQ(hook->Translate(small, 20), S_OK);
    EXPECT_EQ(WideToUtf8(small), Root.substr(0, 19));
    // A buffer without its zero: only its own characters count, the ones behind it are not read.
    wchar_t unterminated[32] = L"testvault:x";
    EXPECT_EQ(hook->Translate(unterminated, 5), E_FAIL);
    EXPECT_EQ(WideToUtf8(unterminated), "testvault:x");
    EXPECT_EQ(hook->Translate(unterminated, 0), E_INVALIDARG);
}

TEST_F(TestFolder, ViewCallbackAnswersAndItsWindowGetsTheFoldersNotices)
{
    auto viewCallback = Entry<HRESULT (*)(IShellFolder*, IShellFolderViewCB**)>("SxTestViewCallback");
    auto notify = Entry<void (*)(LONG, PCIDLIST_ABSOLUTE, PCIDLIST_ABSOLUTE)>("SxTestNotify");
    auto registrations = Entry<int (*)(HWND)>("SxTestViewRegistrations");
    ASSERT_TRUE(viewCallback && notify && registrations);
    ComPtr<IShellFolderViewCB> callback;
    ASSERT_HRESULT_SUCCEEDED(viewCallback(Folder.Get(), &callback));

    FOLDERVIEWMODE mode = FVM_AUTO;
    EXPECT_EQ(callback->MessageSFVCB(27, 0, reinterpret_cast<LPARAM>(&mode)), S_OK);
    EXPECT_EQ(mode, FVM_DETAILS);
    PCIDLIST_ABSOLUTE notifyList = nullptr;
    LONG events = 77;
    EXPECT_EQ(callback->MessageSFVCB(49, reinterpret_cast<WPARAM>(&notifyList), reinterpret_cast<LPARAM>(&events)),
              E_NOTIMPL);
    EXPECT_EQ(notifyList, nullptr);
    EXPECT_EQ(events, 77);
    PIDLIST_ABSOLUTE self = nullptr;
    EXPECT_EQ(callback->MessageSFVCB(41, 0, reinterpret_cast<LPARAM>(&self)), S_OK);
    TSxPidlPtr ownedSelf(self);
    ASSERT_EQ(PIDLGetSize(self), PIDLGetSize(RootList.get()));
    EXPECT_EQ(std::memcmp(self, RootList.get(), PIDLGetSize(self)), 0);
    EXPECT_EQ(callback->MessageSFVCB(24, 0, 0), S_FALSE);
    EXPECT_EQ(callback->MessageSFVCB(999, 0, 0), E_NOTIMPL);

    HWND window = CreateWindowExW(0, L"STATIC", L"view", WS_CHILD, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    LONG_PTR before = GetWindowLongPtrW(window, GWLP_WNDPROC);
    EXPECT_EQ(callback->MessageSFVCB(15, reinterpret_cast<WPARAM>(window), 0), S_OK);
    EXPECT_NE(GetWindowLongPtrW(window, GWLP_WNDPROC), before);
    EXPECT_EQ(registrations(window), 1);
    // The system view lets go of its callback; the window keeps what it needs.
    callback.Reset();

    auto file = Item(Folder.Get(), "read me.txt");
    TSxPidlPtr absolute(PIDLCombine(RootList.get(), file.get()));
    notify(SHCNE_CREATE, absolute.get(), nullptr);
    EXPECT_EQ(Notices(window), std::vector<WPARAM>{SHCNE_CREATE});
    notify(SHCNE_UPDATEDIR, RootList.get(), nullptr);
    EXPECT_EQ(Notices(window), std::vector<WPARAM>{SHCNE_UPDATEDIR});
    notify(SHCNE_UPDATEDIR, absolute.get(), nullptr);  // a notice of another folder
    EXPECT_TRUE(Notices(window).empty());
    SendMessageW(window, WM_USER + 337, 0, 0);  // no browser: passed on and nothing else
    DestroyWindow(window);
    EXPECT_EQ(registrations(window), 0);
}

TEST_F(TestFolder, DeleteFromTheDefaultMenuAsksOnceAndAnnouncesOnlyWhatWent)
{
    auto viewCallback = Entry<HRESULT (*)(IShellFolder*, IShellFolderViewCB**)>("SxTestViewCallback");
    auto menuCallback = Entry<HRESULT (*)(bool, IShellFolder*, HWND, IDataObject*, UINT, WPARAM, LPARAM)>(
        "SxTestMenuCallback");
    auto deleteLog = Entry<int (*)(char*, int)>("SxTestDeleteLog");
    ASSERT_TRUE(viewCallback && menuCallback && deleteLog);
    char log[512] = {};
    deleteLog(log, sizeof log);

    // A view window of the folder, to see the notices.
    ComPtr<IShellFolderViewCB> callback;
    ASSERT_HRESULT_SUCCEEDED(viewCallback(Folder.Get(), &callback));
    HWND window = CreateWindowExW(0, L"STATIC", L"view", WS_CHILD, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    callback->MessageSFVCB(15, reinterpret_cast<WPARAM>(window), 0);
    callback.Reset();

    auto good = Item(Folder.Get(), "read me.txt");
    auto refused = Item(Folder.Get(), "Größe ä.txt");
    PCUITEMID_CHILD items[2] = {good.get(), refused.get()};
    ComPtr<IDataObject> data;
    ASSERT_HRESULT_SUCCEEDED(CIDLData_CreateFromIDArray(RootList.get(), 2, items, &data));
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 2, static_cast<WPARAM>(-1), 0), S_OK);
    int confirmations = deleteLog(log, sizeof log);
    EXPECT_EQ(confirmations, 1);
    EXPECT_EQ(std::string(log), "read me.txt;");
    EXPECT_EQ(Notices(window), std::vector<WPARAM>{SHCNE_DELETE});

    // Copy and paste leave the shell its own handling; an unknown message is not ours.
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 2, static_cast<WPARAM>(-3), 0), S_FALSE);
    EXPECT_EQ(menuCallback(true, Folder.Get(), nullptr, data.Get(), 2, static_cast<WPARAM>(-7), 0), S_FALSE);
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 99, 0, 0), E_NOTIMPL);
    EXPECT_EQ(menuCallback(false, nullptr, nullptr, data.Get(), 2, static_cast<WPARAM>(-1), 0), E_INVALIDARG);
    EXPECT_EQ(deleteLog(log, sizeof log), 0);
    DestroyWindow(window);
}

TEST_F(TestFolder, IconsAndOverlaysComeFromTheProvider)
{
    ComPtr<IShellIcon> icons;
    ASSERT_HRESULT_SUCCEEDED(Folder.As(&icons));
    auto systemIndex = [](const wchar_t* name, DWORD attributes, UINT extra) {
        SHFILEINFOW info = {};
        SHGetFileInfoW(name, attributes, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | extra);
        return info.iIcon;
    };
    auto file = Item(Folder.Get(), "read me.txt");
    auto bilder = Item(Folder.Get(), "Bilder");
    auto ownIcon = Item(Folder.Get(), "versteckt.txt");
    ASSERT_TRUE(file && bilder && ownIcon);
    int index = -7;
    ASSERT_EQ(icons->GetIconOf(file.get(), 0, &index), S_OK);
    EXPECT_EQ(index, systemIndex(L"read me.txt", FILE_ATTRIBUTE_NORMAL, 0));
    // The open form also when the shell adds its own flags.
    ASSERT_EQ(icons->GetIconOf(bilder.get(), GIL_OPENICON | GIL_FORSHELL, &index), S_OK);
    EXPECT_EQ(index, systemIndex(L"Bilder", FILE_ATTRIBUTE_DIRECTORY, SHGFI_OPENICON));
    // A grain that does not show the system icon leaves it to IExtractIcon.
    EXPECT_EQ(icons->GetIconOf(ownIcon.get(), 0, &index), S_FALSE);

    ComPtr<IShellIconOverlay> overlays;
    ASSERT_HRESULT_SUCCEEDED(
        Folder->QueryInterface(IID_IShellIconOverlay, reinterpret_cast<void**>(overlays.GetAddressOf())));
    auto marked = Item(Folder.Get(), "Größe ä.txt");
    index = -7;
    ASSERT_EQ(overlays->GetOverlayIndex(marked.get(), &index), S_OK);
    const int first = index;
    EXPECT_GE(first, 3);
    EXPECT_LE(first, 15);
    ASSERT_EQ(overlays->GetOverlayIndex(marked.get(), &index), S_OK);
    EXPECT_EQ(index, first) << "registered once, the same number again";
    index = -7;
    EXPECT_EQ(overlays->GetOverlayIndex(file.get(), &index), S_FALSE);
    EXPECT_EQ(index, 0);
    // An item that is not the framework's: no overlay, no grain.
    auto myComputer = Parse("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    ASSERT_TRUE(myComputer);
    index = -7;
    EXPECT_EQ(overlays->GetOverlayIndex(myComputer.get(), &index), S_FALSE);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(overlays->GetOverlayIconIndex(marked.get(), &index), E_NOTIMPL);
}

TEST_F(TestFolder, UIObjectsNeedItems)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(Folder->GetUIObjectOf(nullptr, 0, nullptr, IID_IContextMenu, nullptr, &object), E_INVALIDARG);
    EXPECT_EQ(object, nullptr);
    auto file = Item(Folder.Get(), "read me.txt");
    PCUITEMID_CHILD items[1] = {file.get()};
    ComPtr<IContextMenu> menu;
    EXPECT_HRESULT_SUCCEEDED(
        Folder->GetUIObjectOf(nullptr, 1, items, IID_IContextMenu, nullptr, reinterpret_cast<void**>(menu.GetAddressOf())));
    ASSERT_NE(menu, nullptr);
}

} // namespace
