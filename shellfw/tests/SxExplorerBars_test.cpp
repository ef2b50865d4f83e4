// The Explorer menu and toolbar components against a fake Explorer window that owns real
// toolbars (comctl32 under the display): the product's buttons show their own images and texts
// in every window's toolbar, images and texts go in once per toolbar, the menu entries take their
// identifiers in table order inside the range given, and the system view's merge never takes
// Explorer's menu bar down.
#include "SxExplorerMenu.h"
#include "SxExplorerToolbar.h"
#include "SxFakeShellBrowser.h"
#include "SxTestSupport.h"
#include "SxNamespaceUtils.h"
#include "SxPmtDataModule.h"
#include "SxProvider.h"
#include "uGLBWin.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A permanent module whose menu items the components name.
class TBarsModule : public TSxPermanentModule, public ISxMenuItemHolder {
public:
    TBarsModule() : TSxPermanentModule("TBarsModule")
    {
        for (const char* name : {"miRefresh", "miNewFolder", "miBlue", "miHidden", "miEdit1", "miEdit2", "miView",
                                 "miHelp", "miFileHide", "miFileGrey"}) {
            auto& item = Menu.Items.Add(Menu.CreateMenuItem(nullptr));
            item.SetName(name);
            item.Caption = std::string(name).substr(2);
            item.OnClick = [this](TSxBaseMenuItem& clicked) { Clicks += clicked.Caption + ";"; };
        }
        Item("miBlue").Checked = true;
        Item("miHidden").Visible = false;
        Item("miFileGrey").Enabled = true;
    }
    TSxBaseMenuItem* FindMenuItem(const std::string& name) override { return SxFindMenuItem(Menu.Items, name); }
    TSxBaseMenuItem& Item(const std::string& name) { return *FindMenuItem(name); }

    TSxGrainMenu Menu;
    std::string Clicks;
};

// A solid square of colour, as an image of a 16 x 16 list.
void AddSolid(HIMAGELIST list, COLORREF colour)
{
    HDC screen = GetDC(nullptr);
    HBITMAP image = CreateCompatibleBitmap(screen, 16, 16), mask = CreateBitmap(16, 16, 1, 1, nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, image);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all{0, 0, 16, 16};
    FillRect(dc, &all, brush);
    SelectObject(dc, mask);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));  // every pixel opaque
    SelectObject(dc, old);
    DeleteObject(brush);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    ImageList_Add(list, image, mask);
    DeleteObject(image);
    DeleteObject(mask);
}

// The 16 x 16 pixels of image index of list, drawn on white.
std::vector<COLORREF> Pixels(HIMAGELIST list, int index)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

HIMAGELIST ToolbarImages(HWND toolbar)
{
    return reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
}

int StringCount(HWND toolbar)
{
    int count = 0;
    wchar_t buffer[520];
    while (SendMessageW(toolbar, TB_GETSTRINGW, MAKEWPARAM(520, count), reinterpret_cast<LPARAM>(buffer)) >= 0)
        ++count;
    return count;
}

std::string ButtonText(HWND toolbar, int command)
{
    wchar_t buffer[260] = {};
    if (SendMessageW(toolbar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(command), reinterpret_cast<LPARAM>(buffer)) < 0)
        return "<none>";
    return WideToUtf8(buffer);
}

TSxExplorerButton Button(const std::string& item, const std::string& hint, TSxExplorerButtonImage image,
                         int imageIndex = 0)
{
    TSxExplorerButton button;
    if (!item.empty())
        button.SetMenuItem("TBarsModule", item);
    button.Hint = hint;
    button.Image = image;
    button.ImageIndex = imageIndex;
    return button;
}

struct ExplorerBars : ::testing::Test {
    void SetUp() override { OleInitialize(nullptr); }
    void TearDown() override { OleUninitialize(); }
};

} // namespace

TEST_F(ExplorerBars, EveryWindowsToolbarShowsTheProductsImagesAndTextsAddedOnce)
{
    TBarsModule module;
    HIMAGELIST own = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 2, 0);
    AddSolid(own, RGB(255, 0, 0));
    AddSolid(own, RGB(0, 0, 255));
    TSxExplorerToolbar toolbar;
    toolbar.Images = own;
    toolbar.Buttons = {Button("miRefresh", "Synchronisieren", TSxExplorerButtonImage::biCustom, 0),
                       Button("", "", TSxExplorerButtonImage::biCustom),
                       Button("miNewFolder", "Neuen Ordner erstellen", TSxExplorerButtonImage::biNewFolder),
                       Button("miBlue", "Blau \xC3\xA4", TSxExplorerButtonImage::biCustom, 1),
                       Button("miHidden", "Synchronisieren", TSxExplorerButtonImage::biCustom, 0),
                       Button("", "L\xC3\xB6schen", TSxExplorerButtonImage::buDelete)};
    toolbar.Buttons[1].Style = TSxExplorerButtonStyle::bsSeparator;
    toolbar.Buttons[3].CheckButton = true;

    // Two Explorer windows whose toolbars hold different images and texts already, and a
    // reference toolbar with the standard bitmaps alone.
    TFakeShellBrowser first, second, reference;
    TBADDBITMAP history{HINST_COMMCTRL, IDB_HIST_SMALL_COLOR};
    SendMessageW(second.Toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&history));
    SendMessageW(second.Toolbar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(L"Zur\u00FCck\0"));
    TBADDBITMAP standard{HINST_COMMCTRL, IDB_STD_SMALL_COLOR}, view{HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR};
    const int referenceStd = static_cast<int>(
        SendMessageW(reference.Toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&standard)));
    const int referenceView =
        static_cast<int>(SendMessageW(reference.Toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&view)));
    const auto red = Pixels(own, 0), blue = Pixels(own, 1);
    const auto newFolder = Pixels(ToolbarImages(reference.Toolbar), referenceView + VIEW_NEWFOLDER);
    const auto deleteImage = Pixels(ToolbarImages(reference.Toolbar), referenceStd + STD_DELETE);
    ASSERT_NE(red, blue);
    ASSERT_NE(newFolder, deleteImage);

    std::map<TFakeShellBrowser*, std::pair<int, int>> counts;  // images and texts after the first round
    for (int round = 0; round < 3; ++round) {
        for (TFakeShellBrowser* browser : {&first, &second}) {
            SCOPED_TRACE("round " + std::to_string(round) + (browser == &first ? " first" : " second"));
            toolbar.AttachControls({&module}, browser, SVUIA_ACTIVATE_FOCUS);
            HWND bar = browser->Toolbar;
            HIMAGELIST images = ToolbarImages(bar);
            ASSERT_TRUE(images);
            ASSERT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 6);
            TBBUTTON b[6] = {};
            for (int i = 0; i < 6; ++i) {
                SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&b[i]));
                EXPECT_EQ(b[i].idCommand, 2000 + i);
            }
            EXPECT_EQ(Pixels(images, b[0].iBitmap), red);
            EXPECT_EQ(b[1].fsStyle & TBSTYLE_SEP, TBSTYLE_SEP);
            EXPECT_EQ(Pixels(images, b[2].iBitmap), newFolder);
            EXPECT_EQ(Pixels(images, b[3].iBitmap), blue);
            EXPECT_EQ(Pixels(images, b[5].iBitmap), deleteImage);
            EXPECT_EQ(b[0].fsState, TBSTATE_ENABLED);
            EXPECT_EQ(b[3].fsState, TBSTATE_ENABLED | TBSTATE_CHECKED);
            EXPECT_EQ(b[3].fsStyle & TBSTYLE_CHECK, TBSTYLE_CHECK);
            EXPECT_EQ(b[4].fsState & TBSTATE_HIDDEN, TBSTATE_HIDDEN);
            EXPECT_EQ(b[5].fsState & TBSTATE_ENABLED, 0) << "a button without its item stays disabled";
            EXPECT_EQ(ButtonText(bar, 2000), "Synchronisieren");
            EXPECT_EQ(ButtonText(bar, 2002), "Neuen Ordner erstellen");
            EXPECT_EQ(ButtonText(bar, 2003), "Blau \xC3\xA4");
            EXPECT_EQ(ButtonText(bar, 2004), "Synchronisieren");
            EXPECT_EQ(ButtonText(bar, 2005), "L\xC3\xB6schen");
            const std::pair<int, int> now{ImageList_GetImageCount(images), StringCount(bar)};
            if (round == 0)
                counts[browser] = now;
            else
                EXPECT_EQ(now, counts[browser]) << "nothing is added to a toolbar twice";
        }
    }
    EXPECT_EQ(counts[&first].second, 4) << "one text each, the repeated one once";
    EXPECT_EQ(counts[&second].second, 5);

    // Commands: the buttons' items by identifier, nothing outside them.
    EXPECT_EQ(toolbar.GetMenuItemByCommand(1999), nullptr);
    EXPECT_EQ(toolbar.GetMenuItemByCommand(2006), nullptr);
    EXPECT_EQ(toolbar.GetMenuItemByCommand(2001), nullptr);
    EXPECT_EQ(toolbar.GetMenuItemByCommand(2000), &module.Item("miRefresh"));
    TSxDataGrainList none;
    EXPECT_TRUE(toolbar.ExecuteCommand(first.Window, 2003, none, nullptr));
    EXPECT_FALSE(toolbar.ExecuteCommand(first.Window, 2001, none, nullptr));
    EXPECT_FALSE(toolbar.ExecuteCommand(first.Window, 2006, none, nullptr));
    EXPECT_EQ(module.Clicks, "Blue;");

    // A going item runs no more.
    toolbar.ReleaseMenuItem(module.Item("miBlue"));
    EXPECT_EQ(toolbar.GetMenuItemByCommand(2003), nullptr);
    EXPECT_TRUE(toolbar.Buttons[3].MenuItemName.empty());

    // Taken down: no commands; the system view's array gets the buttons from its identifier on.
    toolbar.DetachControls(&first);
    EXPECT_EQ(toolbar.GetMenuItemByCommand(2000), nullptr);
    TBBUTTON filled[3] = {};
    EXPECT_EQ(toolbar.FillToolbarButtons({&module}, &first, filled, 3, 77), 3);
    EXPECT_EQ(filled[0].idCommand, 77);
    EXPECT_EQ(filled[2].idCommand, 79);
    EXPECT_EQ(Pixels(ToolbarImages(first.Toolbar), filled[0].iBitmap), red);
    EXPECT_EQ(toolbar.GetMenuItemByCommand(77), &module.Item("miRefresh"));
    EXPECT_EQ(toolbar.GetMenuItemByCommand(80), nullptr);
    ImageList_Destroy(own);
}

TEST_F(ExplorerBars, OwnMenuBarTakesTheEntriesInTableOrderAndComesDownAgain)
{
    TBarsModule module;
    TSxExplorerMenu menu;
    auto entry = [](const std::string& module, const std::string& item,
                    TSxNoFocusBehaviour behaviour = TSxNoFocusBehaviour::nfNoChange) {
        TSxExplorerMenuItem e;
        e.SetMenuItem(module, item);
        e.NoFocusBehaviour = behaviour;
        return e;
    };
    menu.FileMenu = {entry("TBarsModule", "miFileHide", TSxNoFocusBehaviour::nfHide),
                     entry("TBarsModule", "miFileGrey", TSxNoFocusBehaviour::nfDisable)};
    menu.EditMenu = {entry("TBarsModule", "miEdit1"), entry("TOtherModule", "miEdit1"), entry("TBarsModule", "miEdit2"),
                     entry("TBarsModule", "miHidden")};
    menu.ViewMenu = {entry("TBarsModule", "miView")};
    menu.HelpMenu = {entry("TBarsModule", "miHelp"), entry("tbarsmodule", "miHelp")};

    for (UINT state : {static_cast<UINT>(SVUIA_ACTIVATE_NOFOCUS), static_cast<UINT>(SVUIA_ACTIVATE_FOCUS)}) {
        const bool focus = state == SVUIA_ACTIVATE_FOCUS;
        SCOPED_TRACE(focus ? "focus" : "no focus");
        TFakeShellBrowser browser;
        menu.AttachControls({&module}, &browser, state);
        ASSERT_TRUE(menu.MenuHandle);
        EXPECT_EQ(browser.Calls, (std::vector<std::string>{"InsertMenusSB", "SetMenuSB menu"}));
        EXPECT_EQ(browser.InstalledMenu, menu.MenuHandle);
        const int file = focus ? 1 : 0;  // without the focus the hidden entry takes no number
        std::vector<std::string> fileItems{"Explorer 28673"};
        if (focus)
            fileItems.push_back("FileHide 1000");
        fileItems.push_back("FileGrey " + std::to_string(999 + file + 1) + (focus ? "" : " grey"));
        EXPECT_EQ(MenuItemLines(PopupOf(menu.MenuHandle, 0x8000)), fileItems);
        const int edit = 1000 + file + 1;
        EXPECT_EQ(MenuItemLines(PopupOf(menu.MenuHandle, 0x8040)),
                  (std::vector<std::string>{"Explorer 28674", "Edit1 " + std::to_string(edit),
                                            "Edit2 " + std::to_string(edit + 1)}));
        EXPECT_EQ(MenuItemLines(PopupOf(menu.MenuHandle, 0x8080)),
                  (std::vector<std::string>{"Explorer 28675", "-", "-", "Ordneroptionen 28688",
                                            "View " + std::to_string(edit + 2)}));
        EXPECT_EQ(MenuItemLines(PopupOf(menu.MenuHandle, 0x8100)),
                  (std::vector<std::string>{"Explorer 28677", "Help " + std::to_string(edit + 3)}));
        // The component's own items keep their settings.
        EXPECT_TRUE(module.Item("miFileHide").Visible);
        EXPECT_TRUE(module.Item("miFileGrey").Enabled);

        // Commands in range run their item once; outside it nothing.
        EXPECT_EQ(menu.GetMenuItemByCommand(999), nullptr);
        EXPECT_EQ(menu.GetMenuItemByCommand(edit + 4), nullptr);
        module.Clicks.clear();
        TSxDataGrainList none;
        EXPECT_TRUE(menu.ExecuteCommand(browser.Window, edit + 1, none, nullptr));
        EXPECT_FALSE(menu.ExecuteCommand(browser.Window, edit + 4, none, nullptr));
        EXPECT_EQ(module.Clicks, "Edit2;");

        menu.DetachControls(&browser);
        EXPECT_EQ(browser.Calls, (std::vector<std::string>{"InsertMenusSB", "SetMenuSB menu", "SetMenuSB none",
                                                           "RemoveMenusSB"}));
        EXPECT_EQ(menu.MenuHandle, nullptr);
        EXPECT_EQ(menu.GetMenuItemByCommand(edit), nullptr);
    }
}

TEST_F(ExplorerBars, SystemViewMergeStaysInItsRangeAndLeavesTheMenuBarToTheView)
{
    TBarsModule module;
    TSxExplorerMenu menu;
    TSxExplorerMenuItem edit1, edit2, help;
    edit1.SetMenuItem("TBarsModule", "miEdit1");
    edit2.SetMenuItem("TBarsModule", "miEdit2");
    help.SetMenuItem("TBarsModule", "miHelp");
    menu.EditMenu = {edit1, edit2};
    menu.HelpMenu = {help};
    menu.ViewMenu = {help};

    // The system view's menu bar, with Explorer's popups in it.
    TFakeShellBrowser browser;
    HMENU bar = CreateMenu();
    browser.InsertMenusSB(bar, nullptr);
    browser.Calls.clear();
    // Room for two identifiers: the third entry is left out.
    EXPECT_EQ(menu.MergeMenu(bar, 0, 5000, 5001, {&module}, &browser), 2);
    EXPECT_EQ(MenuItemLines(PopupOf(bar, 0x8040)),
              (std::vector<std::string>{"Edit1 5000", "Edit2 5001", "Explorer 28674"}));
    EXPECT_EQ(MenuItemLines(PopupOf(bar, 0x8100)), (std::vector<std::string>{"Explorer 28677"}));
    EXPECT_EQ(menu.GetMenuItemByCommand(5001), &module.Item("miEdit2"));
    EXPECT_TRUE(browser.Calls.empty()) << "the system view installs its own menu";

    menu.ReleaseMenuItem(module.Item("miEdit2"));
    EXPECT_EQ(menu.GetMenuItemByCommand(5001), nullptr);
    menu.DetachControls(&browser);
    EXPECT_TRUE(browser.Calls.empty()) << "never SetMenuSB with no menu for the system view's bar";
    EXPECT_EQ(menu.GetMenuItemByCommand(5000), nullptr);
    DestroyMenu(bar);
}
