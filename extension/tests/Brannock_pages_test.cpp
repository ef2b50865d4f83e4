// The property windows of the online folder, as Explorer shows them under the display: the page
// "Allgemein" of the folder itself through Brannock.dll's property-sheet handler in a real property
// sheet (with the button that empties the working folders, and the library free to go once the
// sheet is closed), then the properties dialog of its items as the default folder menu asks for it.
// A process of its own: until the items are reached, the library's permanent module (which keeps
// it loaded for good) is not made.
#include "ExtensionTestSupport.h"
#include "SxPidl.h"
#include "SxTestFolderFixture.h"
#include "SxTestPropertySheet.h"
#include "SxTestSupport.h"
#include "uGLBRegistry.h"
#include "uGLBTools.h"
#include "uGLBVersion.h"
#include "uGLBWin.h"
#include "WindowFit.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using Microsoft::WRL::ComPtr;
using exttest::TOnlineUser;

namespace {

const CLSID SheetClsid = {0xBA1C489F, 0xA573, 0x4D55, {0xA7, 0x55, 0x2A, 0xA5, 0xA7, 0x07, 0x60, 0x05}};
const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{0738049E-478C-4D6D-B004-A767178A297C}";
// The page form's controls (ufrmMainPropertySheet.h).
constexpr int VersionId = 300, LogoId = 301, FilesLabelId = 304, FoldersId = 306, FilesId = 307, SizeId = 308,
              DelTempId = 309, BannerId = 310;

std::wstring Dll() { return PathBesideProgram(L"Brannock.dll"); }

using sxtest::Pump;
using sxtest::TSheetPages;

std::wstring TextOf(HWND window, int id)
{
    wchar_t text[256] = {};
    GetDlgItemTextW(window, id, text, 256);
    return text;
}

// A suite's user with a mirror made by a login listing, and the library registered for it.
struct TSuiteUser {
    static void Begin(TOnlineUser*& user, const char* sandbox, const std::wstring& dll)
    {
        OleInitialize(nullptr);
        user = new TOnlineUser(sandbox);
        user->StartTray();
        ASSERT_TRUE(user->Login());
        ASSERT_EQ(RegSvr32(dll, true), 0u);
    }
    static void End(TOnlineUser*& user, const std::wstring& dll)
    {
        RegSvr32(dll, false);
        delete user;
        user = nullptr;
        OleUninitialize();
    }
};

class FolderPage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TSuiteUser::Begin(User, "ext_pages", Dll()); }
    static void TearDownTestSuite() { TSuiteUser::End(User, Dll()); }

    // The handler's pages for the folder, as Explorer asks for them.
    std::vector<HPROPSHEETPAGE> Pages()
    {
        ComPtr<IShellFolder> desktop;
        EXPECT_HRESULT_SUCCEEDED(SHGetDesktopFolder(&desktop));
        std::wstring name = Utf8ToWide(Root);
        PIDLIST_RELATIVE list = nullptr;
        EXPECT_HRESULT_SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &list, nullptr));
        TSxPidlPtr folder(list);
        ComPtr<IShellExtInit> init;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(SheetClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&init)));
        TSheetPages pages;
        if (!init)
            return pages.Pages;
        EXPECT_EQ(init->Initialize(reinterpret_cast<PCIDLIST_ABSOLUTE>(folder.get()), nullptr, nullptr), S_OK);
        ComPtr<IShellPropSheetExt> sheet;
        EXPECT_HRESULT_SUCCEEDED(init.As(&sheet));
        if (sheet) {
            EXPECT_EQ(sheet->AddPages(&TSheetPages::Add, reinterpret_cast<LPARAM>(&pages)), S_OK);
        }
        return pages.Pages;
    }
    static HRESULT CanUnloadNow()
    {
        auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"Brannock.dll"), "DllCanUnloadNow")));
        return entry ? entry() : E_UNEXPECTED;
    }

    static TOnlineUser* User;
};
TOnlineUser* FolderPage::User = nullptr;

TEST_F(FolderPage, ShowsVersionAndTheLastRefreshsStatisticsEmptiesTheWorkingFoldersAndLetsTheLibraryGo)
{
    exttest::WriteLocal(davtest::U8Path(User->Install + "Temp\\sp1\\x.tmp"), "t");
    exttest::WriteLocal(davtest::U8Path(User->Install + "Thumb\\A.thumb.bmp"), "b");
    {
        std::vector<HPROPSHEETPAGE> pages = Pages();
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the page holds the handler

        HWND window = sxtest::ShowSheet(pages, L"Eigenschaften von Tandrel Vaultmere");
        ASSERT_TRUE(window);
        EXPECT_EQ(sxtest::TabTitle(window), L"Allgemein");
        HWND page = PropSheet_GetCurrentPageHwnd(window);
        ASSERT_TRUE(page);
        HWND form = GetWindow(page, GW_CHILD);
        ASSERT_TRUE(form);
        EXPECT_EQ(TextOf(form, VersionId), L"Version " + Utf8ToWide(SX_VERSION_TEXT));
        EXPECT_EQ(TextOf(form, FilesLabelId), L"Anzahl Dateien:");
        // What the login listing counted.
        EXPECT_EQ(WideToUtf8(TextOf(form, FilesId)), std::to_string(ReadRegistryInteger("Application", "files", -1)));
        EXPECT_EQ(WideToUtf8(TextOf(form, FoldersId)),
                  std::to_string(ReadRegistryInteger("Application", "folders", -1)));
        EXPECT_EQ(WideToUtf8(TextOf(form, SizeId)), FormatByteSize(ReadRegistryInteger("Application", "size", -1)));
        EXPECT_NE(TextOf(form, FilesId), L"0");
        EXPECT_EQ(TextOf(form, DelTempId), L"Temporäre Dateien l&öschen");
        // The banner, the logo and every control and caption whole, as the screenshot shows.
        EXPECT_EQ(fittest::FitFaults(window), std::vector<std::string>{});
        EXPECT_NE(SendDlgItemMessageW(form, BannerId, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
        EXPECT_NE(SendDlgItemMessageW(form, LogoId, STM_GETICON, 0, 0), 0);
        EXPECT_EQ(fittest::HintOf(form, GetDlgItem(form, DelTempId)),
                  "Löscht den Cache. Die Dateien auf dem Server bleiben unberührt.");
        EXPECT_TRUE(fittest::SaveWindowShot(window, fittest::ArtifactPath("folder-page-de.png")));

        // The button empties the working folders; the mirror and the server stay.
        const size_t mark = TOnlineUser::Dav().LogMark();
        SendMessageW(GetDlgItem(form, DelTempId), BM_CLICK, 0, 0);
        Pump(window, 5);
        EXPECT_FALSE(exttest::LocalExists(User->Install + "Temp\\sp1"));
        EXPECT_TRUE(exttest::LocalExists(User->Install + "Temp"));
        EXPECT_FALSE(exttest::LocalExists(User->Install + "Thumb\\A.thumb.bmp"));
        EXPECT_TRUE(exttest::LocalExists(User->Install + "Thumb"));
        EXPECT_TRUE(exttest::LocalExists(User->Cache));
        EXPECT_TRUE(TOnlineUser::Dav().LogSince(mark, User->Prefix(), 1, 300).empty());

        PropSheet_PressButton(window, PSBTN_OK);
        Pump(window, 10);
        EXPECT_EQ(PropSheet_GetCurrentPageHwnd(window), nullptr);
        DestroyWindow(window);
        Pump(nullptr, 5);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(FolderPage, IsInTheUsersLanguage)
{
    WriteRegistryInteger("Application", "language", 1);
    std::vector<HPROPSHEETPAGE> pages = Pages();
    ASSERT_EQ(pages.size(), 1u);
    HWND window = sxtest::ShowSheet(pages, L"Properties of Tandrel Vaultmere");
    ASSERT_TRUE(window);
    EXPECT_EQ(sxtest::TabTitle(window), L"General");
    HWND form = GetWindow(PropSheet_GetCurrentPageHwnd(window), GW_CHILD);
    ASSERT_TRUE(form);
    EXPECT_EQ(TextOf(form, FilesLabelId), L"Number of files:");
    EXPECT_EQ(TextOf(form, DelTempId), L"&Delete temporary files");
    EXPECT_EQ(fittest::FitFaults(window), std::vector<std::string>{});
    EXPECT_TRUE(fittest::SaveWindowShot(window, fittest::ArtifactPath("folder-page-en.png")));
    PropSheet_PressButton(window, PSBTN_CANCEL);
    Pump(window, 10);
    DestroyWindow(window);
    Pump(nullptr, 5);
    WriteRegistryInteger("Application", "language", 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// ---- The properties dialog of items

// Wine's default folder menu never calls the folder's callback (Windows' does): the items' dialog is
// asked for through Brannock.dll's test twin, which hands the callback out.
std::wstring TestDll() { return PathBesideProgram(L"BrannockTest.dll"); }

class ItemProperties : public sxtest::FolderThroughDesktop {
protected:
    static void SetUpTestSuite() { TSuiteUser::Begin(User, "ext_item_pages", TestDll()); }
    static void TearDownTestSuite() { TSuiteUser::End(User, TestDll()); }
    void SetUp() override { BindRoot(Root); }

    struct TShown {
        bool Seen = false;
        int Pages = 0;
        std::wstring Size;
        std::vector<std::string> Faults, DetailsFaults;
        bool Banner = false, WindowIcon = false, Shot = false;
        bool Controls6 = false;  // the OK button is one of common controls 6 (only they know their ideal size)
    };
    // Properties of the item as the default folder menu's callback gets them; the dialog is read
    // and closed with OK as a user would.
    TShown Properties(IShellFolder* folder, const std::string& name, const std::string& caption_ = "Eigenschaften von ",
                      const std::string& shot = "")
    {
        TShown shown;
        auto data = UIObject<IDataObject>(folder, IID_IDataObject, {name});
        using TMenuCallback = HRESULT (*)(int, IShellFolder*, HWND, IDataObject*, UINT, WPARAM, LPARAM);
        auto callback = reinterpret_cast<TMenuCallback>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"BrannockTest.dll"), "BrTestMenuCallback")));
        if (!data || !callback) {
            ADD_FAILURE() << "no data object or no callback";
            return shown;
        }
        const std::wstring caption = Utf8ToWide(caption_ + name);
        std::thread user([&] {
            for (int i = 0; i < 400; ++i, Sleep(50)) {
                HWND window = FindWindowW(nullptr, caption.c_str());
                if (!window || !IsWindowVisible(window))
                    continue;
                shown.Seen = true;
                shown.Pages = static_cast<int>(SendDlgItemMessageW(window, 200, TCM_GETITEMCOUNT, 0, 0));
                shown.Size = TextOf(window, 205);
                shown.Faults = fittest::FitFaults(window);
                shown.Banner = SendDlgItemMessageW(window, 209, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
                shown.WindowIcon = SendMessageW(window, WM_GETICON, ICON_BIG, 0) != 0;
                SIZE ideal{};
                shown.Controls6 = SendDlgItemMessageW(window, 1, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) != 0;
                if (!shot.empty())
                    shown.Shot = fittest::SaveWindowShot(window, fittest::ArtifactPath(shot));
                if (shown.Pages > 1) {
                    // The details page with the thumbnail fits too.
                    HWND tabs = GetDlgItem(window, 200);
                    SendMessageW(tabs, TCM_SETCURSEL, 1, 0);
                    NMHDR change{tabs, 200, static_cast<UINT>(TCN_SELCHANGE)};
                    SendMessageW(window, WM_NOTIFY, 200, reinterpret_cast<LPARAM>(&change));
                    shown.DetailsFaults = fittest::FitFaults(window);
                    if (!shot.empty())
                        fittest::SaveWindowShot(window, fittest::ArtifactPath("details-" + shot));
                }
                PostMessageW(window, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
                return;
            }
        });
        constexpr UINT DfmInvokeCommand = 2;
        constexpr INT_PTR DfmCmdProperties = -5;
        EXPECT_EQ(callback(0, folder, nullptr, data.Get(), DfmInvokeCommand, static_cast<WPARAM>(DfmCmdProperties), 0),
                  S_OK);
        user.join();
        return shown;
    }

    static TOnlineUser* User;
};
TOnlineUser* ItemProperties::User = nullptr;

TEST_F(ItemProperties, OfAFileAPictureAndAFolderOpenAndCloseWithOk)
{
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    TShown notes = Properties(fotos.Get(), "Notizen.txt", "Eigenschaften von ", "item-properties-file-de.png");
    EXPECT_TRUE(notes.Seen);
    EXPECT_EQ(notes.Pages, 1);  // no details page for a text
    EXPECT_EQ(WideToUtf8(notes.Size), FormatByteSize(1000));
    EXPECT_TRUE(notes.Banner);
    EXPECT_TRUE(notes.WindowIcon);
    // The library's activation context: its controls are those of common controls 6, although this
    // process declares none.
    EXPECT_TRUE(notes.Controls6);
    EXPECT_TRUE(notes.Shot);
    // A picture: the details page with the server's thumbnail.
    TShown beach = Properties(fotos.Get(), "Strand 1.jpg", "Eigenschaften von ", "item-properties-picture-de.png");
    EXPECT_TRUE(beach.Seen);
    EXPECT_EQ(beach.Pages, 2);
    TShown folder = Properties(Folder.Get(), "Fotos", "Eigenschaften von ", "item-properties-folder-de.png");
    EXPECT_TRUE(folder.Seen);
    EXPECT_NE(WideToUtf8(folder.Size).find(" (1 Ordner, 5 Datei(en))"), std::string::npos) << WideToUtf8(folder.Size);
    // Every control and caption whole, on both pages, for each kind of item.
    for (const TShown* shown : {&notes, &beach, &folder}) {
        EXPECT_EQ(shown->Faults, std::vector<std::string>{});
        EXPECT_EQ(shown->DetailsFaults, std::vector<std::string>{});
    }
    // The dialogs are gone; the library stays, as it holds the online folder's provider for good.
    EXPECT_EQ(FindWindowW(nullptr, L"Eigenschaften von Fotos"), nullptr);
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"BrannockTest.dll"), "DllCanUnloadNow")));
    ASSERT_TRUE(canUnload);
    EXPECT_EQ(canUnload(), S_FALSE);
}

TEST_F(ItemProperties, AreInTheUsersLanguageAndFitThere)
{
    // A folder object made now reads the language anew.
    WriteRegistryInteger("Application", "language", 1);
    BindRoot(Root);
    auto fotos = Bind(Folder.Get(), "Fotos");
    ASSERT_TRUE(fotos);
    for (const auto& [folder, name, shot] :
         {std::tuple{fotos.Get(), "Notizen.txt", "item-properties-file-en.png"},
          std::tuple{fotos.Get(), "Strand 1.jpg", "item-properties-picture-en.png"},
          std::tuple{Folder.Get(), "Gelöschte Dateien", "item-properties-trash-en.png"}}) {
        TShown shown = Properties(folder, name, "Properties of ", shot);
        EXPECT_TRUE(shown.Seen) << name;
        EXPECT_EQ(shown.Faults, std::vector<std::string>{}) << name;
        EXPECT_EQ(shown.DetailsFaults, std::vector<std::string>{}) << name;
    }
    WriteRegistryInteger("Application", "language", 0);
}

}  // namespace
