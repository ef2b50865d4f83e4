// The framework's shell-extension handlers of the handler test DLL: registration with regsvr32
// (beside other handlers' keys), and each handler made through its class factory and driven as
// Explorer does: the context-menu handler on real files of the prefix, the icon handler on a file
// it loads, the property-sheet handler's pages in a real property sheet.
#include "SxTestSupport.h"
#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const CLSID MenuClsid = {0x9A3C5E20, 0x6D1B, 0x4F27, {0x8C, 0x44, 0x2B, 0x1E, 0x7A, 0x0D, 0x5F, 0x31}};
const CLSID IconClsid = {0x9A3C5E21, 0x6D1B, 0x4F27, {0x8C, 0x44, 0x2B, 0x1E, 0x7A, 0x0D, 0x5F, 0x31}};
const CLSID SheetClsid = {0x9A3C5E22, 0x6D1B, 0x4F27, {0x8C, 0x44, 0x2B, 0x1E, 0x7A, 0x0D, 0x5F, 0x31}};
const std::string MenuText = "{9A3C5E20-6D1B-4F27-8C44-2B1E7A0D5F31}";
const std::string IconText = "{9A3C5E21-6D1B-4F27-8C44-2B1E7A0D5F31}";
const std::string SheetText = "{9A3C5E22-6D1B-4F27-8C44-2B1E7A0D5F31}";
const std::string ApprovedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::string IconHandlerKey = "SxTestIconFile\\shellex\\IconHandler";

std::wstring HandlerDll() { return PathBesideProgram(L"SxTestHandlers.dll"); }

DWORD RegSvr32(bool doRegister)
{
    return RunProcess(std::wstring(L"regsvr32.exe /s ") + (doRegister ? L"" : L"/u ") + L"\"" + HandlerDll() + L"\"");
}

void SetDefault(const std::string& key, const std::string& value)
{
    ASSERT_TRUE(SetClassesRootDefault(key, value));
}

void DeleteTree(const std::string& key) { RegDeleteTreeW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str()); }

// ---------------------------------------------------------------------------------------------

TEST(SxHandlerRegistration, WritesTheHandlerKeysAndRemovesOnlyItsOwn)
{
    DeleteTree("SxTestIconFile");
    ASSERT_EQ(RegSvr32(true), 0u);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "AllFileSystemObjects\\shellex\\ContextMenuHandlers\\sxTestContextMenu"),
              MenuText);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, IconHandlerKey), IconText);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxTestIconFile\\shellex\\PropertySheetHandlers\\sxTestSheet"), SheetText);
    for (const std::string& clsid : {MenuText, IconText, SheetText}) {
        EXPECT_NE(Value(HKEY_LOCAL_MACHINE, ApprovedKey, clsid), "<none>");
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32"));
    }
    ASSERT_EQ(RegSvr32(false), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "AllFileSystemObjects\\shellex\\ContextMenuHandlers\\sxTestContextMenu"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "SxTestIconFile\\shellex"));
    for (const std::string& clsid : {MenuText, IconText, SheetText}) {
        EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, clsid), "<none>");
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + clsid));
    }
    // The system's own keys stay.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "AllFileSystemObjects"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ApprovedKey));
}

TEST(SxHandlerRegistration, AnotherIconHandlersKeyIsNeitherReplacedNorRemoved)
{
    // Another handler's CLSID, and a value that is no GUID at all: neither fails the registration.
    for (const std::string foreign : {"{0B9F3B10-1111-4222-8333-944455556666}", "kein Handler"}) {
        SCOPED_TRACE(foreign);
        DeleteTree("SxTestIconFile");
        SetDefault(IconHandlerKey, foreign);
        ASSERT_EQ(RegSvr32(true), 0u);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, IconHandlerKey), foreign);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxTestIconFile\\shellex\\PropertySheetHandlers\\sxTestSheet"), SheetText);
        ASSERT_EQ(RegSvr32(false), 0u);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, IconHandlerKey), foreign);
    }
    DeleteTree("SxTestIconFile");
}

// ---------------------------------------------------------------------------------------------

class SxHandlers : public ::testing::Test {
protected:
    static void SetUpTestSuite() { OleInitialize(nullptr); }
    static void TearDownTestSuite() { OleUninitialize(); }
    void SetUp() override
    {
        Library = LoadLibraryW(HandlerDll().c_str());
        ASSERT_TRUE(Library);
        GetClassObject = reinterpret_cast<decltype(GetClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(Library, "DllGetClassObject")));
        CanUnloadNow = reinterpret_cast<decltype(CanUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(Library, "DllCanUnloadNow")));
        HandlerLog = reinterpret_cast<decltype(HandlerLog)>(
            reinterpret_cast<void*>(GetProcAddress(Library, "SxTestHandlerLog")));
        ASSERT_TRUE(GetClassObject && CanUnloadNow && HandlerLog);
        Log();
    }
    void TearDown() override { FreeLibrary(Library); }

    // A new object of the class through its factory, as iid.
    template <typename T> ComPtr<T> Make(const CLSID& clsid, REFIID iid)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_HRESULT_SUCCEEDED(GetClassObject(clsid, IID_IClassFactory,
                                                reinterpret_cast<void**>(factory.GetAddressOf())));
        ComPtr<T> object;
        if (factory) {
            EXPECT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(object.GetAddressOf())));
        }
        return object;
    }
    std::string Log()
    {
        char buffer[2048] = {};
        HandlerLog(buffer, sizeof buffer);
        return buffer;
    }

    HMODULE Library = nullptr;
    HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
    void (*HandlerLog)(char*, int) = nullptr;
};

// Real files and a folder in a folder of the prefix, and the data object the shell makes for them.
struct TSelection {
    std::wstring Folder;
    ComPtr<IDataObject> Data;
    std::vector<std::wstring> Names{L"Bericht ä.txt", L"Zahlen 2024.csv", L"Ordner 日本"};

    TSelection()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        Folder = std::wstring(temp) + L"SxHandlers Auswahl";
        CreateDirectoryW(Folder.c_str(), nullptr);
        for (size_t i = 0; i < Names.size(); ++i) {
            const std::wstring path = Folder + L"\\" + Names[i];
            if (i + 1 == Names.size()) {
                CreateDirectoryW(path.c_str(), nullptr);
            } else {
                HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                DWORD written = 0;
                WriteFile(file, "1234567890", 10, &written, nullptr);
                CloseHandle(file);
            }
        }
        ComPtr<IShellFolder> desktop, parent;
        SHGetDesktopFolder(&desktop);
        PIDLIST_RELATIVE folderList = nullptr;
        std::wstring path = Folder;
        if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &folderList, nullptr)))
            return;
        desktop->BindToObject(folderList, nullptr, IID_IShellFolder, reinterpret_cast<void**>(parent.GetAddressOf()));
        CoTaskMemFree(folderList);
        if (!parent)
            return;
        std::vector<PIDLIST_RELATIVE> items;
        for (std::wstring name : Names) {
            PIDLIST_RELATIVE item = nullptr;
            if (SUCCEEDED(parent->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &item, nullptr)))
                items.push_back(item);
        }
        parent->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), const_cast<PCUITEMID_CHILD*>(
                                  reinterpret_cast<PCUITEMID_CHILD const*>(items.data())),
                              IID_IDataObject, nullptr, reinterpret_cast<void**>(Data.GetAddressOf()));
        for (auto* item : items)
            CoTaskMemFree(item);
    }
    ~TSelection()
    {
        for (size_t i = 0; i < Names.size(); ++i) {
            const std::wstring path = Folder + L"\\" + Names[i];
            if (i + 1 == Names.size())
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        }
        RemoveDirectoryW(Folder.c_str());
    }
};

TEST_F(SxHandlers, ContextMenuHandlerOnRealFilesInsertsItsItemsAndRunsTheCommandOnce)
{
    TSelection selection;
    ASSERT_TRUE(selection.Data);
    auto init = Make<IShellExtInit>(MenuClsid, IID_IShellExtInit);
    ASSERT_TRUE(init);
    ASSERT_EQ(init->Initialize(nullptr, selection.Data.Get(), nullptr), S_OK);
    ComPtr<IContextMenu3> menu;
    ASSERT_HRESULT_SUCCEEDED(init->QueryInterface(IID_IContextMenu3, reinterpret_cast<void**>(menu.GetAddressOf())));

    // The default-only and verbs-only questions get nothing.
    HMENU popup = CreatePopupMenu();
    EXPECT_EQ(menu->QueryContextMenu(popup, 0, 200, 300, CMF_DEFAULTONLY), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
    EXPECT_EQ(GetMenuItemCount(popup), 0);
    // A range of one identifier holds the parent item only.
    EXPECT_EQ(HRESULT_CODE(menu->QueryContextMenu(popup, 0, 200, 200, CMF_NORMAL)), 1);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(popup, 0)), 0);
    DestroyMenu(popup);
    Log();
    popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 1, L"Öffnen");
    ASSERT_EQ(HRESULT_CODE(menu->QueryContextMenu(popup, 1, 200, 300, CMF_NORMAL)), 2);
    EXPECT_EQ(Log(), "popup:sxTestContextMenu;");
    ASSERT_EQ(GetMenuItemCount(popup), 2);  // the hidden item is left out
    HMENU sub = GetSubMenu(popup, 1);
    ASSERT_TRUE(sub);
    wchar_t text[64] = {};
    GetMenuStringW(popup, 1, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Tandrel Vaultmere");
    EXPECT_EQ(GetMenuItemID(sub, 0), 201u);

    // Help texts in both forms, cut to the buffer; no verbs.
    char a[64];
    wchar_t w[64];
    ASSERT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(w), 64), S_OK);
    EXPECT_STREQ(w, L"Lädt die Auswahl auf den Server");
    ASSERT_EQ(menu->GetCommandString(1, GCS_HELPTEXTA, nullptr, a, 8), S_OK);
    EXPECT_EQ(strlen(a), 7u);
    EXPECT_EQ(menu->GetCommandString(1, GCS_VERBA, nullptr, a, 64), E_INVALIDARG);
    EXPECT_EQ(menu->GetCommandString(2, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(w), 64), E_INVALIDARG);

    // A popup of another handler passes untouched; the handler's own popup is prepared.
    HMENU foreign = CreatePopupMenu();
    AppendMenuW(foreign, MF_STRING, 201, L"Fremd");
    LRESULT result = 77;
    EXPECT_EQ(menu->HandleMenuMsg2(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(foreign), 0, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(menu->HandleMenuMsg2(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), 0, nullptr), S_OK);
    EXPECT_EQ(Log(), "prepare;");
    DestroyMenu(foreign);

    // The command by offset, once, with the three selected names; string verbs fail.
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(1);
    ASSERT_EQ(menu->InvokeCommand(&info), S_OK);
    EXPECT_EQ(Log(), "upload:Bericht ä.txt|Zahlen 2024.csv|Ordner 日本|;");
    info.lpVerb = "open";
    EXPECT_EQ(menu->InvokeCommand(&info), E_FAIL);
    info.lpVerb = MAKEINTRESOURCEA(2);
    EXPECT_EQ(menu->InvokeCommand(&info), E_FAIL);
    EXPECT_EQ(Log(), "");
    DestroyMenu(popup);
}

TEST_F(SxHandlers, IconHandlerReportsTheWideIconFileOrItsOwnIcons)
{
    auto persist = Make<IPersistFile>(IconClsid, IID_IPersistFile);
    ASSERT_TRUE(persist);
    ComPtr<IExtractIconW> wide;
    ComPtr<IExtractIconA> ansi;
    ASSERT_HRESULT_SUCCEEDED(persist->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(wide.GetAddressOf())));
    ASSERT_HRESULT_SUCCEEDED(persist->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(ansi.GetAddressOf())));
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring shell32 = std::wstring(system) + L"\\shell32.dll";

    // A "*.sxi" file: the shell32 icon file (the wide name), cut to each buffer, never overrun.
    ASSERT_EQ(persist->Load(L"C:\\Bilder\\Plan ä.sxi", STGM_READ), S_OK);
    for (UINT size : {1u, 8u, 260u}) {
        wchar_t w[300];
        char a[300];
        std::fill(std::begin(w), std::end(w), L'#');
        std::fill(std::begin(a), std::end(a), '#');
        int index = -1;
        UINT flags = 0;
        ASSERT_EQ(wide->GetIconLocation(GIL_OPENICON, w, size, &index, &flags), S_OK);
        EXPECT_EQ(index, 4);
        EXPECT_EQ(flags, static_cast<UINT>(GIL_DONTCACHE));
        EXPECT_EQ(std::wstring(w), shell32.substr(0, size - 1));
        EXPECT_EQ(w[size], L'#');
        ASSERT_EQ(ansi->GetIconLocation(0, a, size, &index, &flags), S_OK);
        EXPECT_EQ(index, 3);
        EXPECT_EQ(std::string(a), WideToUtf8(shell32).substr(0, size - 1));
        EXPECT_EQ(a[size], '#');
    }
    int index = 0;
    UINT flags = 0;
    wchar_t location[MAX_PATH];
    EXPECT_EQ(wide->GetIconLocation(GIL_ASYNC, location, MAX_PATH, &index, &flags), E_PENDING);
    HICON large = nullptr, small = nullptr;
    ASSERT_EQ(wide->Extract(shell32.c_str(), 3, &large, &small, MAKELONG(32, 16)), S_OK);
    EXPECT_TRUE(large && small);
    DestroyIcon(large);
    DestroyIcon(small);
    large = nullptr;
    ASSERT_EQ(wide->Extract(shell32.c_str(), 3, &large, nullptr, MAKELONG(32, 16)), S_OK);
    DestroyIcon(large);

    // Any other file: no icon file, the location still written, the handler's own icons.
    ASSERT_EQ(persist->Load(L"C:\\Bilder\\Plan.txt", STGM_READ), S_OK);
    std::fill(std::begin(location), std::end(location), L'#');
    ASSERT_EQ(wide->GetIconLocation(0, location, MAX_PATH, &index, &flags), S_OK);
    EXPECT_EQ(flags, static_cast<UINT>(GIL_DONTCACHE | GIL_NOTFILENAME));
    EXPECT_STREQ(location, L"C:\\fehlt\\nicht da.ico");
    large = small = nullptr;
    ASSERT_EQ(wide->Extract(location, static_cast<UINT>(index), &large, &small, MAKELONG(32, 16)), S_OK);
    EXPECT_TRUE(large && small);
    DestroyIcon(large);
    DestroyIcon(small);
    char a[MAX_PATH];
    small = nullptr;
    ASSERT_EQ(ansi->GetIconLocation(0, a, MAX_PATH, &index, &flags), S_OK);
    ASSERT_EQ(ansi->Extract(a, static_cast<UINT>(index), nullptr, &small, MAKELONG(32, 16)), S_OK);
    EXPECT_TRUE(small);
    DestroyIcon(small);
}

// A property sheet of the handler's pages, kept while it runs.
struct TSheetPages {
    std::vector<HPROPSHEETPAGE> Pages;
    static BOOL CALLBACK Add(HPROPSHEETPAGE page, LPARAM param)
    {
        reinterpret_cast<TSheetPages*>(param)->Pages.push_back(page);
        return TRUE;
    }
};

void Pump(HWND sheet, int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            if (!sheet || !IsWindow(sheet) || !PropSheet_IsDialogMessage(sheet, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        Sleep(10);
    }
}

TEST_F(SxHandlers, PropertySheetPagesShowTheirFormsAndReleaseTheLibraryWhenTheSheetCloses)
{
    TSelection selection;
    ASSERT_TRUE(selection.Data);
    {
        auto init = Make<IShellExtInit>(SheetClsid, IID_IShellExtInit);
        ASSERT_TRUE(init);
        ASSERT_EQ(init->Initialize(nullptr, selection.Data.Get(), nullptr), S_OK);
        ComPtr<IShellPropSheetExt> sheet;
        ASSERT_HRESULT_SUCCEEDED(init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(sheet.GetAddressOf())));
        TSheetPages pages;
        ASSERT_EQ(sheet->AddPages(&TSheetPages::Add, reinterpret_cast<LPARAM>(&pages)), S_OK);
        ASSERT_EQ(pages.Pages.size(), 2u);  // the line of an unregistered class makes no page
        init.Reset();
        sheet.Reset();
        EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the pages hold the handler

        PROPSHEETHEADERW header{};
        header.dwSize = sizeof header;
        header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
        header.hInstance = GetModuleHandleW(nullptr);
        header.pszCaption = L"Eigenschaften von Bericht ä.txt";
        header.nPages = static_cast<UINT>(pages.Pages.size());
        header.phpage = pages.Pages.data();
        auto window = reinterpret_cast<HWND>(PropertySheetW(&header));
        ASSERT_TRUE(window);
        Pump(window, 10);
        EXPECT_EQ(Log(), "form;");  // the first page's form is made when it is shown
        HWND page = PropSheet_GetCurrentPageHwnd(window);
        ASSERT_TRUE(page);
        wchar_t title[64] = {};
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = title;
        tab.cchTextMax = 64;
        SendMessageW(PropSheet_GetTabControl(window), TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tab));
        EXPECT_STREQ(title, L"Allgemein ä");
        // The form fills the page and holds the selected file's name.
        HWND form = GetWindow(page, GW_CHILD);
        ASSERT_TRUE(form);
        RECT pageRect{}, formRect{};
        GetClientRect(page, &pageRect);
        GetClientRect(form, &formRect);
        EXPECT_EQ(formRect.right, pageRect.right);
        EXPECT_EQ(formRect.bottom, pageRect.bottom);
        wchar_t name[MAX_PATH] = {};
        GetDlgItemTextW(form, 101, name, MAX_PATH);
        EXPECT_EQ(std::wstring(name), selection.Folder + L"\\Bericht ä.txt");
        SendDlgItemMessageW(form, 102, BM_SETCHECK, BST_CHECKED, 0);
        // OK applies the page and ends the sheet.
        PropSheet_PressButton(window, PSBTN_OK);
        Pump(window, 10);
        EXPECT_EQ(Log(), "apply:1;");
        EXPECT_EQ(PropSheet_GetCurrentPageHwnd(window), nullptr);
        DestroyWindow(window);
        Pump(nullptr, 5);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);

    // Pages that are never shown let go of the handler too.
    {
        auto init = Make<IShellExtInit>(SheetClsid, IID_IShellExtInit);
        ASSERT_EQ(init->Initialize(nullptr, selection.Data.Get(), nullptr), S_OK);
        ComPtr<IShellPropSheetExt> sheet;
        ASSERT_HRESULT_SUCCEEDED(init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(sheet.GetAddressOf())));
        TSheetPages pages;
        ASSERT_EQ(sheet->AddPages(&TSheetPages::Add, reinterpret_cast<LPARAM>(&pages)), S_OK);
        init.Reset();
        sheet.Reset();
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        for (HPROPSHEETPAGE page : pages.Pages)
            DestroyPropertySheetPage(page);
        EXPECT_EQ(Log(), "");
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

} // namespace
