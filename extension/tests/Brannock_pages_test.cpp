// The property page "Allgemein" of the online folder, as Explorer shows it: Brannock.dll's
// property-sheet handler made through COM for the folder, its page in a real property sheet under
// the display, the button that empties the working folders, and the library free to go once the
// sheet is closed. A process of its own: nothing here reaches the folder's items, so the library's
// permanent module (which keeps it loaded for good) is never made.
#include "ExtensionTestSupport.h"
#include "SxPidl.h"
#include "SxTestPropertySheet.h"
#include "SxTestSupport.h"
#include "uGLBRegistry.h"
#include "uGLBTools.h"
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
using exttest::TOnlineUser;

namespace {

const CLSID SheetClsid = {0xBA1C489F, 0xA573, 0x4D55, {0xA7, 0x55, 0x2A, 0xA5, 0xA7, 0x07, 0x60, 0x05}};
const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{0738049E-478C-4D6D-B004-A767178A297C}";
// The page form's controls (ufrmMainPropertySheet.h).
constexpr int VersionId = 300, FilesLabelId = 304, FoldersId = 306, FilesId = 307, SizeId = 308, DelTempId = 309;

std::wstring Dll() { return PathBesideProgram(L"Brannock.dll"); }

using sxtest::Pump;
using sxtest::TSheetPages;

std::wstring TextOf(HWND window, int id)
{
    wchar_t text[256] = {};
    GetDlgItemTextW(window, id, text, 256);
    return text;
}

class FolderPage : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        OleInitialize(nullptr);
        User = new TOnlineUser("ext_pages");
        User->StartTray();
        ASSERT_TRUE(User->Login());
        ASSERT_EQ(RegSvr32(Dll(), true), 0u);
    }
    static void TearDownTestSuite()
    {
        RegSvr32(Dll(), false);
        delete User;
        User = nullptr;
        OleUninitialize();
    }

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
        EXPECT_EQ(TextOf(form, VersionId), L"Version 1.2.1.51");
        EXPECT_EQ(TextOf(form, FilesLabelId), L"Anzahl Dateien:");
        // What the login listing counted.
        EXPECT_EQ(WideToUtf8(TextOf(form, FilesId)), std::to_string(ReadRegistryInteger("Application", "files", -1)));
        EXPECT_EQ(WideToUtf8(TextOf(form, FoldersId)),
                  std::to_string(ReadRegistryInteger("Application", "folders", -1)));
        EXPECT_EQ(WideToUtf8(TextOf(form, SizeId)), FormatByteSize(ReadRegistryInteger("Application", "size", -1)));
        EXPECT_NE(TextOf(form, FilesId), L"0");
        EXPECT_EQ(TextOf(form, DelTempId), L"Temporäre Dateien l&öschen");

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
    PropSheet_PressButton(window, PSBTN_CANCEL);
    Pump(window, 10);
    DestroyWindow(window);
    Pump(nullptr, 5);
    WriteRegistryInteger("Application", "language", 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
