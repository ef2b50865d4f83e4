// Drives the test folder DLL as Explorer does: registered with regsvr32, reached through the
// desktop folder under My Computer, enumerated, named, parsed, compared, renamed and shown in
// columns; then unregistered, leaving the system's keys.
#include "SxTestFolderFixture.h"
#include "SxFakeShellBrowser.h"
#include "SxURLHandler.h"
#include "uGLBWin.h"
#include "SxPidl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    ComPtr<IDropTarget> target;
    EXPECT_HRESULT_SUCCEEDED(Folder->CreateViewObject(owner, IID_PPV_ARGS(&target)));
    EXPECT_NE(target, nullptr);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(Folder->CreateViewObject(owner, IID_IPersistFile, &none), E_NOINTERFACE);
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

TEST_F(TestFolder, ViewMergesExplorerMenuAndToolbarAndRunsTheirCommandsForTheSelection)
{
    auto viewCallback = Entry<HRESULT (*)(IShellFolder*, HWND, IShellFolderViewCB**)>("SxTestViewCallbackFor");
    auto menuLog = Entry<void (*)(char*, int)>("SxTestMenuLog");
    ASSERT_TRUE(viewCallback && menuLog);
    char log[512] = {};
    menuLog(log, sizeof log);
    auto logged = [&] {
        menuLog(log, sizeof log);
        return std::string(log);
    };
    TFakeShellBrowser browser;
    ComPtr<IShellFolderViewCB> callback;
    ASSERT_HRESULT_SUCCEEDED(viewCallback(Folder.Get(), browser.Window, &callback));

    // The buttons, when the system view asks for them: identifiers from the first one it grants.
    TBINFO info{99, 99};
    EXPECT_EQ(callback->MessageSFVCB(5, 0, reinterpret_cast<LPARAM>(&info)), S_OK);
    EXPECT_EQ(info.cbuttons, 3u);
    EXPECT_EQ(info.uFlags, 0u);
    TBBUTTON buttons[3] = {};
    EXPECT_EQ(callback->MessageSFVCB(6, MAKEWPARAM(40, 3), reinterpret_cast<LPARAM>(buttons)), S_OK);
    EXPECT_EQ(buttons[0].idCommand, 40);
    EXPECT_EQ(buttons[1].idCommand, 41);
    EXPECT_EQ(buttons[1].fsStyle & TBSTYLE_SEP, TBSTYLE_SEP);
    EXPECT_EQ(buttons[2].idCommand, 42);
    EXPECT_EQ(buttons[0].fsState, TBSTATE_ENABLED);
    wchar_t text[520] = {};
    SendMessageW(browser.Toolbar, TB_GETSTRINGW, MAKEWPARAM(520, buttons[2].iString), reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(WideToUtf8(text), "Hochladen");

    // The menu merge: the upload item heads the Edit popup, numbered after the buttons; the
    // system view's menu bar stays the view's.
    HMENU bar = CreateMenu();
    browser.InsertMenusSB(bar, nullptr);
    browser.Calls.clear();
    QCMINFO merge{bar, 0, 60, 0x7FFF, nullptr};
    EXPECT_EQ(callback->MessageSFVCB(1, 0, reinterpret_cast<LPARAM>(&merge)), S_OK);
    EXPECT_EQ(MenuItemLines(PopupOf(bar, 0x8040)), (std::vector<std::string>{"&Hochladen 43", "Explorer 28674"}));
    EXPECT_TRUE(browser.Calls.empty());

    // A menu command for two selected files: the list once, each grain once.
    auto first = Item(Folder.Get(), "read me.txt");
    auto second = Item(Folder.Get(), "Größe ä.txt");
    PCUITEMID_CHILD items[2] = {first.get(), second.get()};
    ComPtr<IDataObject> data;
    ASSERT_HRESULT_SUCCEEDED(CIDLData_CreateFromIDArray(RootList.get(), 2, items, &data));
    browser.View.Selection = data.Get();
    EXPECT_EQ(callback->MessageSFVCB(2, 3, 0), S_OK);
    EXPECT_EQ(logged(), "list:read me.txt,Größe ä.txt;grain:read me.txt;grain:Größe ä.txt;");
    // A button with nothing selected runs for the folder itself; a separator or another
    // identifier runs nothing.
    browser.View.Selection = nullptr;
    EXPECT_EQ(callback->MessageSFVCB(2, 0, 0), S_OK);
    EXPECT_EQ(logged(), "sync:<root>;");
    EXPECT_EQ(callback->MessageSFVCB(2, 1, 0), S_OK);
    EXPECT_EQ(callback->MessageSFVCB(2, 4, 0), S_OK);
    EXPECT_EQ(logged(), "");

    // Unmerged: the menu's command goes, the buttons' stay; nothing takes the menu bar down.
    EXPECT_EQ(callback->MessageSFVCB(28, 0, 0), S_OK);
    EXPECT_TRUE(browser.Calls.empty());
    EXPECT_EQ(callback->MessageSFVCB(2, 3, 0), S_OK);
    EXPECT_EQ(logged(), "");
    // The next activation's merge goes on after the identifiers used so far.
    HMENU again = CreateMenu();
    browser.InsertMenusSB(again, nullptr);
    QCMINFO second_merge{again, 0, 60, 0x7FFF, nullptr};
    EXPECT_EQ(callback->MessageSFVCB(1, 0, reinterpret_cast<LPARAM>(&second_merge)), S_OK);
    EXPECT_EQ(MenuItemLines(PopupOf(again, 0x8040)), (std::vector<std::string>{"&Hochladen 44", "Explorer 28674"}));
    browser.HasActiveView = false;
    EXPECT_EQ(callback->MessageSFVCB(2, 0, 0), E_NOTIMPL);
    callback->MessageSFVCB(28, 0, 0);
    callback.Reset();
    DestroyMenu(bar);
    DestroyMenu(again);
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

    // An item's copy leaves the shell its own handling too; the background's paste is done
    // (here with nothing on the clipboard); an unknown message is not ours.
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, data.Get(), 2, static_cast<WPARAM>(-3), 0), S_FALSE);
    EXPECT_EQ(menuCallback(true, Folder.Get(), nullptr, data.Get(), 2, static_cast<WPARAM>(-7), 0), S_OK);
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

// ---------------------------------------------------------------------------------------------
// Transfer: the data object, the drop target, the clipboard

namespace {

namespace fs = std::filesystem;

// The bytes the test folder gives a file (the same rule as the test DLL's).
std::string ContentsOf(const std::string& path, uint32_t size)
{
    std::string text;
    while (text.size() < size)
        text += path + "\n";
    text.resize(size);
    return text;
}

// The test DLL's fingerprint of contents in its log.
std::string Fnv(const std::string& bytes)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 16777619u;
    return std::to_string(hash);
}

fs::path LocalPath(const std::string& utf8) { return fs::path(Utf8ToWide(utf8)); }


void WriteLocal(const std::string& path, const std::string& bytes)
{
    fs::create_directories(LocalPath(path).parent_path());
    std::ofstream out(LocalPath(path), std::ios::binary);
    out << bytes;
}

std::string ReadLocal(const std::string& path)
{
    std::ifstream in(LocalPath(path), std::ios::binary);
    if (!in)
        return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Size and fingerprint of bytes: short failure messages.
std::string Print(const std::string& bytes)
{
    return bytes == "<missing>" ? bytes : std::to_string(bytes.size()) + " bytes, " + Fnv(bytes);
}

std::multiset<std::string> TakeTransferLog()
{
    auto log = Entry<int (*)(char*, int)>("SxTestTransferLog");
    std::vector<char> buffer(64 * 1024);
    log(buffer.data(), static_cast<int>(buffer.size()));
    std::multiset<std::string> lines;
    std::string text(buffer.data());
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.insert(text.substr(start, end - start));
    return lines;
}

std::string TakeDeleteLog()
{
    auto deleteLog = Entry<int (*)(char*, int)>("SxTestDeleteLog");
    char log[1024] = {};
    deleteLog(log, sizeof log);
    return log;
}

// Hands through what the source gives, except the formats it hides.
class TFilterDataObject : public IDataObject {
public:
    TFilterDataObject(IDataObject* source, std::set<CLIPFORMAT> hidden) : Source(source), Hidden(std::move(hidden)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        *object = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* f, STGMEDIUM* m) override
    {
        return Hidden.count(f->cfFormat) ? DV_E_FORMATETC : Source->GetData(f, m);
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* f) override
    {
        return Hidden.count(f->cfFormat) ? DV_E_FORMATETC : Source->QueryGetData(f);
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC* f, STGMEDIUM* m, BOOL r) override { return Source->SetData(f, m, r); }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    IDataObject* Source;
    std::set<CLIPFORMAT> Hidden;
};

// Wine's file-system drop target only logs what it would copy. This one does what Explorer does
// with files on the clipboard: the platform's SHFileOperation copies or moves the CF_HDROP files
// into the folder; a move of real files is done by the target itself (an optimized move, so the
// source is told DROPEFFECT_NONE and deletes nothing).
class TLocalFolderTarget : public IDropTarget {
public:
    explicit TLocalFolderTarget(std::string folder) : Folder(std::move(folder)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        *object = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        FORMATETC f{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        if (data->QueryGetData(&f) != S_OK)
            *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD*) override { return S_OK; }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        FORMATETC f{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        HRESULT hr = data->GetData(&f, &medium);
        if (FAILED(hr))
            return hr;
        std::wstring from;
        HDROP drop = static_cast<HDROP>(medium.hGlobal);
        for (UINT i = 0, n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0); i < n; ++i) {
            std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
            name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
            Files.push_back(WideToUtf8(name));
            from += name + L'\0';
        }
        ReleaseStgMedium(&medium);
        from += L'\0';
        const std::wstring to = Utf8ToWide(Folder) + L'\0';
        const bool move = *effect & DROPEFFECT_MOVE;
        SHFILEOPSTRUCTW op{};
        op.wFunc = move ? FO_MOVE : FO_COPY;
        op.pFrom = from.c_str();
        op.pTo = to.c_str();
        op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT | FOF_NOCONFIRMMKDIR;
        Result = SHFileOperationW(&op);
        *effect = move ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
        FORMATETC performed = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Performed DropEffect")), nullptr,
                               DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM value{};
        value.tymed = TYMED_HGLOBAL;
        value.hGlobal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4);
        *static_cast<DWORD*>(GlobalLock(value.hGlobal)) = move ? DROPEFFECT_NONE : DROPEFFECT_COPY;
        GlobalUnlock(value.hGlobal);
        if (FAILED(data->SetData(&performed, &value, TRUE)))
            ReleaseStgMedium(&value);
        return S_OK;
    }
    std::string Folder;
    std::vector<std::string> Files;
    int Result = -1;
};

FORMATETC FormatOf(const wchar_t* name, LONG index = -1, DWORD tymed = TYMED_HGLOBAL)
{
    return {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name)), nullptr, DVASPECT_CONTENT, index, tymed};
}

std::string GlobalText(const STGMEDIUM& medium)
{
    const char* at = static_cast<const char*>(GlobalLock(medium.hGlobal));
    std::string bytes(at, GlobalSize(medium.hGlobal));
    GlobalUnlock(medium.hGlobal);
    return bytes;
}

class TransferFolder : public TestFolder {
protected:
    void SetUp() override
    {
        TestFolder::SetUp();
        OleInitialize(nullptr);
        TakeTransferLog();
        TakeDeleteLog();
    }
    void TearDown() override
    {
        OleSetClipboard(nullptr);
        OleUninitialize();
    }

    template <typename T> ComPtr<T> UIObject(IShellFolder* folder, const std::vector<PCUITEMID_CHILD>& items, REFIID iid)
    {
        void* object = nullptr;
        std::vector<PCUITEMID_CHILD> list(items);
        HRESULT hr = folder->GetUIObjectOf(nullptr, static_cast<UINT>(list.size()), const_cast<PCUITEMID_CHILD*>(list.data()),
                                           iid, nullptr, &object);
        EXPECT_HRESULT_SUCCEEDED(hr);
        ComPtr<T> result;
        if (SUCCEEDED(hr))
            result.Attach(static_cast<T*>(object));
        return result;
    }

    // The shell's folder of a local path.
    ComPtr<IShellFolder> LocalFolder(const std::string& path)
    {
        TSxPidlPtr list = Parse(path);
        EXPECT_TRUE(list) << path;
        if (!list)
            return nullptr;
        ComPtr<IShellFolder> folder;
        Desktop->BindToObject(list.get(), nullptr, IID_PPV_ARGS(&folder));
        return folder;
    }

    TSxPidlPtr LocalItem(IShellFolder* folder, const std::string& name)
    {
        std::wstring wide = Utf8ToWide(name);
        PIDLIST_RELATIVE item = nullptr;
        ULONG eaten = 0;
        EXPECT_HRESULT_SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, wide.data(), &eaten, &item, nullptr)) << name;
        return TSxPidlPtr(item);
    }

    // Drops source on target as a user would; the effect the drop answered.
    DWORD DropOn(IDropTarget* target, IDataObject* source, DWORD keys, DWORD allowed, HRESULT* result = nullptr)
    {
        DWORD effect = allowed;
        const POINTL point{0, 0};
        EXPECT_HRESULT_SUCCEEDED(target->DragEnter(source, keys, point, &effect));
        effect = allowed;
        HRESULT hr = target->DragOver(keys, point, &effect);
        EXPECT_HRESULT_SUCCEEDED(hr);
        effect = allowed;
        hr = target->Drop(source, keys, point, &effect);
        if (result)
            *result = hr;
        else
            EXPECT_HRESULT_SUCCEEDED(hr);
        return effect;
    }
};

} // namespace

TEST_F(TransferFolder, LocalFilesAndFoldersFromTheShellReachTheProviderOnceInTheirOwnFolders)
{
    const std::string source = FreshTempFolder("SxDropSource");
    WriteLocal(source + "\\a \xC3\xA4.txt", "alpha");
    WriteLocal(source + "\\Quelle\\b \xE6\x97\xA5\xE6\x9C\xAC.txt", std::string(3000, 'b'));
    WriteLocal(source + "\\Quelle\\Tief\\c \xF0\x9F\x8C\xB4.txt", std::string(70000, 'c'));
    fs::create_directories(LocalPath(source + "\\Quelle\\Leer"));
    auto local = LocalFolder(source);
    ASSERT_TRUE(local);
    auto a = LocalItem(local.Get(), "a \xC3\xA4.txt");
    auto quelle = LocalItem(local.Get(), "Quelle");
    auto data = UIObject<IDataObject>(local.Get(), {a.get(), quelle.get()}, IID_IDataObject);
    ASSERT_TRUE(data);

    auto neu = Item(Folder.Get(), "Neuer Ordner");
    auto target = UIObject<IDropTarget>(Folder.Get(), {neu.get()}, IID_IDropTarget);
    ASSERT_TRUE(target);
    // Files from outside are copied unless asked otherwise, and never beyond what the source allows.
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    const POINTL point{0, 0};
    ASSERT_HRESULT_SUCCEEDED(target->DragEnter(data.Get(), 0, point, &effect));
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    effect = DROPEFFECT_MOVE;
    ASSERT_HRESULT_SUCCEEDED(target->DragOver(MK_CONTROL, point, &effect));
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_MOVE)) << "copy asked, only move allowed";
    target->DragLeave();

    EXPECT_EQ(DropOn(target.Get(), data.Get(), 0, DROPEFFECT_COPY | DROPEFFECT_MOVE), static_cast<DWORD>(DROPEFFECT_COPY));
    const std::string into = "Neuer Ordner";
    EXPECT_EQ(TakeTransferLog(), (std::multiset<std::string>{
                                     "mkdir " + into + "|Quelle",
                                     "mkdir " + into + "\\Quelle|Tief",
                                     "mkdir " + into + "\\Quelle|Leer",
                                     "file " + into + "|a \xC3\xA4.txt|5|3",
                                     "file " + into + "\\Quelle|b \xE6\x97\xA5\xE6\x9C\xAC.txt|3000|3",
                                     "file " + into + "\\Quelle\\Tief|c \xF0\x9F\x8C\xB4.txt|70000|3",
                                 }));
}

TEST_F(TransferFolder, AMoveReportsOnlyWhatArrived)
{
    const std::string source = FreshTempFolder("SxMoveSource");
    WriteLocal(source + "\\eins.txt", "1");
    WriteLocal(source + "\\zwei fehlt.txt", "2");
    auto local = LocalFolder(source);
    ASSERT_TRUE(local);
    auto one = LocalItem(local.Get(), "eins.txt");
    auto two = LocalItem(local.Get(), "zwei fehlt.txt");
    auto target = UIObject<IDropTarget>(Folder.Get(), {Item(Folder.Get(), "Bilder").get()}, IID_IDropTarget);
    ASSERT_TRUE(target);

    // Both asked to move, one upload fails: the drop reports a copy, so the source keeps both.
    auto both = UIObject<IDataObject>(local.Get(), {one.get(), two.get()}, IID_IDataObject);
    EXPECT_EQ(DropOn(target.Get(), both.Get(), MK_SHIFT, DROPEFFECT_COPY | DROPEFFECT_MOVE),
              static_cast<DWORD>(DROPEFFECT_COPY));
    EXPECT_EQ(TakeTransferLog().size(), 2u);
    // Only the failing one: nothing arrived, nothing to report.
    auto failing = UIObject<IDataObject>(local.Get(), {two.get()}, IID_IDataObject);
    EXPECT_EQ(DropOn(target.Get(), failing.Get(), MK_SHIFT, DROPEFFECT_COPY | DROPEFFECT_MOVE),
              static_cast<DWORD>(DROPEFFECT_NONE));
    // All arrived as asked: a move.
    auto good = UIObject<IDataObject>(local.Get(), {one.get()}, IID_IDataObject);
    EXPECT_EQ(DropOn(target.Get(), good.Get(), MK_SHIFT, DROPEFFECT_COPY | DROPEFFECT_MOVE),
              static_cast<DWORD>(DROPEFFECT_MOVE));
    EXPECT_EQ(TakeTransferLog(), (std::multiset<std::string>{"file Bilder|zwei fehlt.txt|1|1", "file Bilder|eins.txt|1|1"}));
    EXPECT_EQ(Print(ReadLocal(source + "\\eins.txt")), Print("1"));
    EXPECT_EQ(Print(ReadLocal(source + "\\zwei fehlt.txt")), Print("2"));

    // A drop on a file is refused by the provider, at Drop as at DragOver.
    auto file = Item(Folder.Get(), "read me.txt");
    auto onFile = UIObject<IDropTarget>(Folder.Get(), {file.get()}, IID_IDropTarget);
    ASSERT_TRUE(onFile);
    HRESULT hr = S_OK;
    EXPECT_EQ(DropOn(onFile.Get(), good.Get(), 0, DROPEFFECT_COPY, &hr), static_cast<DWORD>(DROPEFFECT_NONE));
    EXPECT_TRUE(TakeTransferLog().empty());
}

TEST_F(TransferFolder, OwnGrainsMovedInsideTheFolderCompleteTheMoveOnlyForThoseThatArrived)
{
    auto readMe = Item(Folder.Get(), "read me.txt");
    auto groesse = Item(Folder.Get(), "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA4.txt");
    auto data = UIObject<IDataObject>(Folder.Get(), {readMe.get(), groesse.get()}, IID_IDataObject);
    auto target = UIObject<IDropTarget>(Folder.Get(), {Item(Folder.Get(), "Bilder").get()}, IID_IDropTarget);
    ASSERT_TRUE(data && target);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_HRESULT_SUCCEEDED(target->DragEnter(data.Get(), 0, POINTL{0, 0}, &effect));
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_MOVE)) << "own grains move by default";
    EXPECT_EQ(DropOn(target.Get(), data.Get(), 0, DROPEFFECT_COPY | DROPEFFECT_MOVE), static_cast<DWORD>(DROPEFFECT_MOVE));
    // "read me.txt" could not be copied on the server: its source stays.
    EXPECT_EQ(TakeTransferLog(), (std::multiset<std::string>{"grain Bilder|read me.txt",
                                                             "grain Bilder|Gr\xC3\xB6\xC3\x9F" "e \xC3\xA4.txt",
                                                             "moved Gr\xC3\xB6\xC3\x9F" "e \xC3\xA4.txt;"}));
}

// A target elsewhere (a file-system folder) copies from the descriptors and contents and then
// reports the move: only what it was handed in full may go from the folder.
TEST_F(TransferFolder, AMoveReportedFromOutsideCompletesOnlyWhatWasHandedOverInFull)
{
    const std::string groesse = "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA4.txt";
    auto readMe = Item(Folder.Get(), "read me.txt");
    auto g = Item(Folder.Get(), groesse);
    auto bilder = Item(Folder.Get(), "Bilder");
    auto neu = Item(Folder.Get(), "Neuer Ordner");  // its one file cannot be downloaded
    auto reportMove = [](IDataObject* data) {
        FORMATETC performed = FormatOf(L"Performed DropEffect");
        STGMEDIUM value{};
        value.tymed = TYMED_HGLOBAL;
        value.hGlobal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4);
        *static_cast<DWORD*>(GlobalLock(value.hGlobal)) = DROPEFFECT_MOVE;
        GlobalUnlock(value.hGlobal);
        EXPECT_EQ(data->SetData(&performed, &value, TRUE), S_OK);
    };
    auto data = UIObject<IDataObject>(Folder.Get(), {readMe.get(), g.get(), bilder.get(), neu.get()}, IID_IDataObject);
    ASSERT_TRUE(data);
    FORMATETC f = FormatOf(L"FileGroupDescriptorW");
    STGMEDIUM m{};
    ASSERT_EQ(data->GetData(&f, &m), S_OK);
    std::vector<std::pair<std::string, bool>> entries;
    if (auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(m.hGlobal))) {
        for (UINT i = 0; i < group->cItems; ++i)
            entries.emplace_back(WideToUtf8(group->fgd[i].cFileName), !(group->fgd[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
        GlobalUnlock(m.hGlobal);
    }
    ReleaseStgMedium(&m);
    ASSERT_EQ(entries.size(), 10u);
    int failed = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].second || entries[i].first == groesse)
            continue;  // the target skips this one
        FORMATETC c = FormatOf(L"FileContents", static_cast<LONG>(i));
        STGMEDIUM content{};
        if (FAILED(data->GetData(&c, &content)))
            ++failed;
        else
            ReleaseStgMedium(&content);
    }
    EXPECT_EQ(failed, 1) << "kaputt.bin";
    reportMove(data.Get());
    EXPECT_EQ(TakeTransferLog(), (std::multiset<std::string>{"moved read me.txt;Bilder;"}));

    // Reported without anything taken: nothing goes.
    auto untouched = UIObject<IDataObject>(Folder.Get(), {readMe.get()}, IID_IDataObject);
    ASSERT_TRUE(untouched);
    reportMove(untouched.Get());
    EXPECT_TRUE(TakeTransferLog().empty());
}

TEST_F(TransferFolder, DataObjectOffersWhatItRendersAndExpandsFoldersForDescriptors)
{
    auto bilder = Item(Folder.Get(), "Bilder");
    auto data = UIObject<IDataObject>(Folder.Get(), {bilder.get()}, IID_IDataObject);
    ASSERT_TRUE(data);
    IEnumFORMATETC* enumerator = nullptr;
    ASSERT_HRESULT_SUCCEEDED(data->EnumFormatEtc(DATADIR_GET, &enumerator));
    ComPtr<IEnumFORMATETC> keepEnum;
    keepEnum.Attach(enumerator);
    std::vector<std::string> names;
    FORMATETC f[16];
    ULONG fetched = 0;
    enumerator->Next(16, f, &fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        wchar_t name[128] = {};
        if (f[i].cfFormat == CF_HDROP)
            names.push_back("CF_HDROP");
        else if (GetClipboardFormatNameW(f[i].cfFormat, name, 128))
            names.push_back(WideToUtf8(name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"SxCF_PrivateFormat", "Shell IDList Array", "CF_HDROP",
                                               "FileGroupDescriptorW", "FileGroupDescriptor", "FileContents",
                                               "Preferred DropEffect"}));
    // A clone goes on where the original stands.
    enumerator->Reset();
    enumerator->Skip(2);
    IEnumFORMATETC* clone = nullptr;
    ASSERT_HRESULT_SUCCEEDED(enumerator->Clone(&clone));
    ComPtr<IEnumFORMATETC> keepClone;
    keepClone.Attach(clone);
    ASSERT_EQ(clone->Next(1, f, nullptr), S_OK);
    EXPECT_EQ(f[0].cfFormat, CF_HDROP);
    IEnumFORMATETC* none = reinterpret_cast<IEnumFORMATETC*>(1);
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_SET, &none), E_NOTIMPL);
    EXPECT_EQ(none, nullptr);

    FORMATETC dragLoop = FormatOf(L"InShellDragLoop");
    EXPECT_EQ(data->QueryGetData(&dragLoop), DV_E_FORMATETC) << "nothing it cannot render";
    FORMATETC descriptor = FormatOf(L"FileGroupDescriptorW");
    EXPECT_EQ(data->QueryGetData(&descriptor), S_OK);
    STGMEDIUM medium{};
    ASSERT_HRESULT_SUCCEEDED(data->GetData(&descriptor, &medium));
    const std::string block = GlobalText(medium);
    ReleaseStgMedium(&medium);
    // The folder first, then what it holds, breadth-first, each named by its path from the folder.
    ASSERT_GE(block.size(), 4u);
    uint32_t count = 0;
    std::memcpy(&count, block.data(), 4);
    ASSERT_EQ(count, 6u);
    ASSERT_GE(block.size(), 4 + 6 * sizeof(FILEDESCRIPTORW));
    std::vector<std::string> paths;
    std::vector<uint64_t> sizes;
    for (uint32_t i = 0; i < count; ++i) {
        FILEDESCRIPTORW d;
        std::memcpy(&d, block.data() + 4 + i * sizeof d, sizeof d);
        paths.push_back(WideToUtf8(d.cFileName));
        sizes.push_back((d.dwFlags & FD_FILESIZE) ? (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow : 0);
    }
    const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.doc", emoji = "Urlaub \xF0\x9F\x8C\xB4.jpg";
    EXPECT_EQ(paths, (std::vector<std::string>{"Bilder", "Bilder\\Urlaub 2024", "Bilder\\Strand \xC3\xB6.jpg",
                                               "Bilder\\Urlaub 2024\\D\xC3\xBCne.png", "Bilder\\Urlaub 2024\\" + cjk,
                                               "Bilder\\Urlaub 2024\\" + emoji}));
    EXPECT_EQ(sizes, (std::vector<uint64_t>{0, 0, 2048, 1, 3000, 4097}));

    // Contents by index of that list, in the medium asked for.
    FORMATETC contents = FormatOf(L"FileContents", 5, TYMED_ISTREAM);
    ASSERT_EQ(data->QueryGetData(&contents), S_OK);
    ASSERT_HRESULT_SUCCEEDED(data->GetData(&contents, &medium));
    ASSERT_EQ(medium.tymed, static_cast<DWORD>(TYMED_ISTREAM));
    std::string bytes(5000, '\0');
    ULONG read = 0;
    medium.pstm->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    bytes.resize(read);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(bytes, ContentsOf("Bilder\\Urlaub 2024\\" + emoji, 4097));
    for (LONG bad : {-1, 0, 6}) {
        contents = FormatOf(L"FileContents", bad);
        EXPECT_TRUE(FAILED(data->GetData(&contents, &medium))) << bad;
        EXPECT_EQ(medium.hGlobal, nullptr);
    }
    // The item list itself stays the one folder.
    FORMATETC ids = FormatOf(L"Shell IDList Array");
    ASSERT_HRESULT_SUCCEEDED(data->GetData(&ids, &medium));
    std::memcpy(&count, GlobalText(medium).data(), 4);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(count, 1u);

    // Preferred DropEffect: 0 until set.
    FORMATETC preferred = FormatOf(L"Preferred DropEffect");
    ASSERT_HRESULT_SUCCEEDED(data->GetData(&preferred, &medium));
    EXPECT_EQ(GlobalText(medium).substr(0, 4), std::string(4, '\0'));
    ReleaseStgMedium(&medium);

    // A download that fails fails GetData: never an empty file.
    auto neu = Item(Folder.Get(), "Neuer Ordner");
    auto broken = UIObject<IDataObject>(Folder.Get(), {neu.get()}, IID_IDataObject);
    ASSERT_HRESULT_SUCCEEDED(broken->GetData(&descriptor, &medium));
    ReleaseStgMedium(&medium);
    contents = FormatOf(L"FileContents", 1);
    EXPECT_TRUE(FAILED(broken->GetData(&contents, &medium)));
}

TEST_F(TransferFolder, DescriptorsDroppedGoIntoTheFoldersTheirPathsName)
{
    // The folder's own data object, offered by descriptors and contents only.
    auto bilder = Item(Folder.Get(), "Bilder");
    auto own = UIObject<IDataObject>(Folder.Get(), {bilder.get()}, IID_IDataObject);
    ASSERT_TRUE(own);
    TFilterDataObject source(own.Get(), {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"SxCF_PrivateFormat")),
                                         static_cast<CLIPFORMAT>(CF_HDROP)});
    auto target = UIObject<IDropTarget>(Folder.Get(), {Item(Folder.Get(), "Neuer Ordner").get()}, IID_IDropTarget);
    ASSERT_TRUE(target);
    EXPECT_EQ(DropOn(target.Get(), &source, 0, DROPEFFECT_COPY), static_cast<DWORD>(DROPEFFECT_COPY));
    const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.doc", emoji = "Urlaub \xF0\x9F\x8C\xB4.jpg";
    const std::string into = "Neuer Ordner\\Bilder";
    EXPECT_EQ(TakeTransferLog(),
              (std::multiset<std::string>{
                  "mkdir Neuer Ordner|Bilder", "mkdir " + into + "|Urlaub 2024",
                  "stream " + into + "|Strand \xC3\xB6.jpg|2048|" + Fnv(ContentsOf("Bilder\\Strand \xC3\xB6.jpg", 2048)),
                  "stream " + into + "\\Urlaub 2024|D\xC3\xBCne.png|1|" + Fnv(ContentsOf("Bilder\\Urlaub 2024\\D\xC3\xBCne.png", 1)),
                  "stream " + into + "\\Urlaub 2024|" + cjk + "|3000|" + Fnv(ContentsOf("Bilder\\Urlaub 2024\\" + cjk, 3000)),
                  "stream " + into + "\\Urlaub 2024|" + emoji + "|4097|" + Fnv(ContentsOf("Bilder\\Urlaub 2024\\" + emoji, 4097)),
              }));
}

TEST_F(TransferFolder, CopiedAndCutGrainsPasteIntoARealLocalFolder)
{
    auto menuCallback = Entry<HRESULT (*)(bool, IShellFolder*, HWND, IDataObject*, UINT, WPARAM, LPARAM)>(
        "SxTestMenuCallback");
    const std::string groesse = "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA4.txt";
    auto g = Item(Folder.Get(), groesse);
    auto readMe = Item(Folder.Get(), "read me.txt");
    auto bilder = Item(Folder.Get(), "Bilder");
    auto selection = UIObject<IDataObject>(Folder.Get(), {g.get(), readMe.get(), bilder.get()}, IID_IDataObject);
    ASSERT_TRUE(selection);

    // Copy from the item menu: the folder's data object goes onto the clipboard.
    EXPECT_EQ(menuCallback(false, Folder.Get(), nullptr, selection.Get(), 2, static_cast<WPARAM>(-3), 0), S_FALSE);
    IDataObject* clip = nullptr;
    ASSERT_HRESULT_SUCCEEDED(OleGetClipboard(&clip));
    ComPtr<IDataObject> keepClip;
    keepClip.Attach(clip);
    const std::string copyTo = FreshTempFolder("SxPasteCopy");
    TLocalFolderTarget copyTarget(copyTo);
    DropOn(&copyTarget, clip, 0, DROPEFFECT_COPY);
    EXPECT_EQ(copyTarget.Result, 0);
    const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.doc", emoji = "Urlaub \xF0\x9F\x8C\xB4.jpg";
    EXPECT_EQ(Print(ReadLocal(copyTo + "\\" + groesse)), Print(ContentsOf(groesse, 1025)));
    EXPECT_EQ(Print(ReadLocal(copyTo + "\\read me.txt")), Print(""));
    EXPECT_EQ(Print(ReadLocal(copyTo + "\\Bilder\\Strand \xC3\xB6.jpg")), Print(ContentsOf("Bilder\\Strand \xC3\xB6.jpg", 2048)));
    EXPECT_EQ(Print(ReadLocal(copyTo + "\\Bilder\\Urlaub 2024\\" + cjk)), Print(ContentsOf("Bilder\\Urlaub 2024\\" + cjk, 3000)));
    EXPECT_EQ(Print(ReadLocal(copyTo + "\\Bilder\\Urlaub 2024\\" + emoji)), Print(ContentsOf("Bilder\\Urlaub 2024\\" + emoji, 4097)));
    EXPECT_EQ(TakeDeleteLog(), "") << "a copy deletes nothing";

    // Cut "read me.txt" and the folder and paste them: what arrived is gone from the folder.
    auto cut = UIObject<IDataObject>(Folder.Get(), {readMe.get(), bilder.get()}, IID_IDataObject);
    EXPECT_EQ(menuCallback(true, Folder.Get(), nullptr, cut.Get(), 2, static_cast<WPARAM>(-2), 0), S_OK);
    keepClip.Reset();
    ASSERT_HRESULT_SUCCEEDED(OleGetClipboard(&clip));
    keepClip.Attach(clip);
    const std::string moveTo = FreshTempFolder("SxPasteMove");
    TLocalFolderTarget moveTarget(moveTo);
    // "read me.txt" is held open by another program: it cannot go, and it stays in the folder.
    std::string heldName;
    for (const auto& file : copyTarget.Files)
        if (file.size() >= 11 && file.compare(file.size() - 11, 11, "read me.txt") == 0)
            heldName = file;
    ASSERT_FALSE(heldName.empty());
    THandle held(CreateFileW(Utf8ToWide(heldName).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    DropOn(&moveTarget, clip, 0, DROPEFFECT_MOVE);
    EXPECT_EQ(Print(ReadLocal(moveTo + "\\read me.txt")), "<missing>");
    EXPECT_EQ(Print(ReadLocal(moveTo + "\\Bilder\\Urlaub 2024\\" + emoji)), Print(ContentsOf("Bilder\\Urlaub 2024\\" + emoji, 4097)));
    std::string deleted;
    for (int i = 0; i < 100 && deleted.find("Bilder;") == std::string::npos; ++i) {
        Sleep(100);
        deleted += TakeDeleteLog();
    }
    Sleep(1500);  // nothing more comes for the file that stayed
    deleted += TakeDeleteLog();
    std::multiset<std::string> gone;
    for (size_t start = 0, end; (end = deleted.find(';', start)) != std::string::npos; start = end + 1)
        gone.insert(deleted.substr(start, end - start));
    EXPECT_EQ(gone, (std::multiset<std::string>{"Strand \xC3\xB6.jpg", "D\xC3\xBCne.png", cjk, emoji, "Urlaub 2024",
                                                "Bilder"}));
    EXPECT_EQ(deleted.find("read me.txt"), std::string::npos);
    EXPECT_TRUE(TakeTransferLog().empty()) << "the target moved the files itself: no move to complete";
}
