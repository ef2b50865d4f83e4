#include "SxExplorerToolbar.h"

#include "SxTools.h"
#include "uGLBWin.h"

#include <algorithm>
#include <mutex>

std::string TSxExplorerButton::DisplayName() const
{
    return Style == TSxExplorerButtonStyle::bsSeparator ? "--- Separator ---" : TSxExplorerControl::DisplayName();
}

TSxStandardImage SxStandardImageOf(TSxExplorerButtonImage image)
{
    using B = TSxExplorerButtonImage;
    switch (image) {
    case B::biCopy: return {false, STD_COPY};
    case B::biCut: return {false, STD_CUT};
    case B::buDelete: return {false, STD_DELETE};
    case B::biFileNew: return {false, STD_FILENEW};
    case B::biFileOpen: return {false, STD_FILEOPEN};
    case B::biFileSave: return {false, STD_FILESAVE};
    case B::biFind: return {false, STD_FIND};
    case B::biHelp: return {false, STD_HELP};
    case B::biPaste: return {false, STD_PASTE};
    case B::biPrint: return {false, STD_PRINT};
    case B::biPrintPre: return {false, STD_PRINTPRE};
    case B::biProperties: return {false, STD_PROPERTIES};
    case B::biRedow: return {false, STD_REDOW};
    case B::biReplace: return {false, STD_REPLACE};
    case B::biUndo: return {false, STD_UNDO};
    case B::biViewDetails: return {true, VIEW_DETAILS};
    case B::biViewLargeIcons: return {true, VIEW_LARGEICONS};
    case B::biViewList: return {true, VIEW_LIST};
    case B::biViewSmallIcons: return {true, VIEW_SMALLICONS};
    case B::biSortDate: return {true, VIEW_SORTDATE};
    case B::biSortName: return {true, VIEW_SORTNAME};
    case B::biSortSize: return {true, VIEW_SORTSIZE};
    case B::biSortType: return {true, VIEW_SORTTYPE};
    case B::biParentFolder: return {true, VIEW_PARENTFOLDER};
    case B::biNetConnect: return {true, VIEW_NETCONNECT};
    case B::biNetDisconnect: return {true, VIEW_NETDISCONNECT};
    case B::biNewFolder: return {true, VIEW_NEWFOLDER};
    case B::biViewMenu: return {true, VIEW_VIEWMENU};
    case B::biCustom: break;
    }
    return {false, 0};
}

namespace {

// Where the product's images went: into which toolbar image list, from which own list, at which
// index and how many. Keyed by the toolbar's list, so that every Explorer window's toolbar gets
// them; an entry whose list no longer holds that many images is stale (the handle was reused).
struct TAddedImages {
    HIMAGELIST Toolbar, Own;
    int Offset, Count;
};

std::mutex& ImageTableLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<TAddedImages>& ImageTable()
{
    static std::vector<TAddedImages> table;
    return table;
}

LRESULT ToolbarMessage(IShellBrowser* browser, UINT message, WPARAM wParam, LPARAM lParam, LRESULT fallback)
{
    LRESULT result = fallback;
    if (FAILED(browser->SendControlMsg(FCW_TOOLBAR, message, wParam, lParam, &result)))
        return fallback;
    return result;
}

// The index of the product's first image in the toolbar's image list (added there, and to the
// hot list, when this list has not had them yet); -1 without own images or a toolbar list.
int OwnImageOffset(IShellBrowser* browser, HIMAGELIST images, HIMAGELIST largeImages)
{
    if (!images && !largeImages)
        return -1;
    auto toolbar = reinterpret_cast<HIMAGELIST>(ToolbarMessage(browser, TB_GETIMAGELIST, 0, 0, 0));
    auto hot = reinterpret_cast<HIMAGELIST>(ToolbarMessage(browser, TB_GETHOTIMAGELIST, 0, 0, 0));
    if (!toolbar)
        return -1;
    int width = 0, height = 0;
    ImageList_GetIconSize(toolbar, &width, &height);
    HIMAGELIST own = width < 24 ? (images ? images : largeImages) : (largeImages ? largeImages : images);
    const int count = ImageList_GetImageCount(own);
    if (count <= 0)
        return -1;
    std::lock_guard<std::mutex> guard(ImageTableLock());
    auto& table = ImageTable();
    const int present = ImageList_GetImageCount(toolbar);
    for (const auto& entry : table)
        if (entry.Toolbar == toolbar && entry.Own == own && entry.Offset >= 0 && entry.Offset + entry.Count <= present)
            return entry.Offset;
    table.erase(std::remove_if(table.begin(), table.end(),
                               [&](const TAddedImages& e) { return e.Toolbar == toolbar && e.Own == own; }),
                table.end());
    // Image by image: an image list keeps its images in a grid, so its bitmap is no strip.
    int offset = -1;
    for (int i = 0; i < count; ++i) {
        HICON icon = ImageList_GetIcon(own, i, ILD_NORMAL);
        if (!icon)
            break;
        const int at = ImageList_ReplaceIcon(toolbar, -1, icon);
        if (hot)
            ImageList_ReplaceIcon(hot, -1, icon);
        DestroyIcon(icon);
        if (at < 0)
            break;
        if (i == 0)
            offset = at;
    }
    if (offset >= 0)
        table.push_back({toolbar, own, offset, count});
    return offset;
}

// The toolbar's index of text: an existing string of the toolbar when it has it, else added.
int StringIndex(IShellBrowser* browser, const std::wstring& text)
{
    // Up to 259 characters; the buffer holds 520, whether the toolbar counts the size in
    // characters or in bytes.
    const std::wstring wanted = text.substr(0, 259);
    for (int i = 0; i < 4096; ++i) {
        wchar_t buffer[520] = {};
        const LRESULT length =
            ToolbarMessage(browser, TB_GETSTRINGW, MAKEWPARAM(520, i), reinterpret_cast<LPARAM>(buffer), -1);
        if (length < 0)
            break;
        buffer[519] = L'\0';
        if (wanted == buffer)
            return i;
    }
    std::wstring list = wanted;
    list.push_back(L'\0');  // a list of one text, closed by a second zero
    return static_cast<int>(ToolbarMessage(browser, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(list.c_str()), 0));
}

bool ShellShowsRightText()
{
    static const bool shows = GetShell32Version() >= MakeVersion(5, 80);
    return shows;
}

} // namespace

std::vector<TSxExplorerControl*> TSxExplorerToolbar::Controls()
{
    std::vector<TSxExplorerControl*> all;
    for (auto& button : Buttons)
        all.push_back(&button);
    return all;
}

std::vector<TBBUTTON> TSxExplorerToolbar::Fill(IShellBrowser* browser, int32_t firstId, size_t count)
{
    TBADDBITMAP standard{HINST_COMMCTRL, IDB_STD_SMALL_COLOR}, view{HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR};
    const int stdOffset =
        static_cast<int>(ToolbarMessage(browser, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&standard), 0));
    const int viewOffset =
        static_cast<int>(ToolbarMessage(browser, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&view), 0));
    const int ownOffset = OwnImageOffset(browser, Images, LargeImages);
    CommandOffset = firstId;
    FCommands.clear();
    std::vector<TBBUTTON> buttons;
    for (size_t i = 0; i < std::min(count, Buttons.size()); ++i) {
        const TSxExplorerButton& button = Buttons[i];
        TBBUTTON b{};
        b.idCommand = firstId + static_cast<int>(i);
        b.iString = -1;
        if (button.Style == TSxExplorerButtonStyle::bsSeparator) {
            b.fsStyle = TBSTYLE_SEP;
            FCommands.push_back(nullptr);
            buttons.push_back(b);
            continue;
        }
        if (button.Image == TSxExplorerButtonImage::biCustom) {
            b.iBitmap = ownOffset >= 0 ? ownOffset + button.ImageIndex : I_IMAGENONE;
        } else {
            const TSxStandardImage image = SxStandardImageOf(button.Image);
            b.iBitmap = (image.View ? viewOffset : stdOffset) + image.Index;
        }
        TSxBaseMenuItem* item = button.GetMenuItem(Modules);
        if (item) {
            b.fsState = static_cast<BYTE>((item->Enabled ? TBSTATE_ENABLED : 0) | (item->Checked ? TBSTATE_CHECKED : 0) |
                                          (item->Visible ? 0 : TBSTATE_HIDDEN));
            b.fsStyle = static_cast<BYTE>((button.ShowRightText && ShellShowsRightText() ? BTNS_SHOWTEXT : 0) |
                                          (button.CheckButton ? TBSTYLE_CHECK : 0));
        }
        if (!button.Hint.empty())
            b.iString = StringIndex(browser, Utf8ToWide(button.Hint));
        FCommands.push_back(item);
        buttons.push_back(b);
    }
    return buttons;
}

void TSxExplorerToolbar::AttachControls(const TSxModuleList& modules, IShellBrowser* browser, UINT state)
{
    TSxExplorerCustomControls::AttachControls(modules, browser, state);
    if (!browser)
        return;
    browser->SetToolbarItems(nullptr, 0, FCT_MERGE);
    FCommands.clear();
    std::vector<TBBUTTON> buttons = Fill(browser, 2000, Buttons.size());
    if (!buttons.empty())
        browser->SetToolbarItems(buttons.data(), static_cast<UINT>(buttons.size()), FCT_MERGE);
}

int TSxExplorerToolbar::FillToolbarButtons(const TSxModuleList& modules, IShellBrowser* browser, TBBUTTON* buttons,
                                           int capacity, int32_t firstId)
{
    TSxExplorerCustomControls::AttachControls(modules, browser, SVUIA_ACTIVATE_FOCUS);
    if (!browser || !buttons || capacity <= 0)
        return 0;
    const std::vector<TBBUTTON> filled = Fill(browser, firstId, static_cast<size_t>(capacity));
    std::copy(filled.begin(), filled.end(), buttons);
    return static_cast<int>(filled.size());
}

TSxBaseMenuItem* TSxExplorerToolbar::GetMenuItemByCommand(int32_t command) const
{
    if (command < CommandOffset || static_cast<size_t>(command - CommandOffset) >= FCommands.size())
        return nullptr;
    return FCommands[static_cast<size_t>(command - CommandOffset)];
}

void TSxExplorerToolbar::DetachControls(IShellBrowser* browser)
{
    FCommands.clear();
    TSxExplorerCustomControls::DetachControls(browser);
}

void TSxExplorerToolbar::ReleaseMenuItem(const TSxBaseMenuItem& item)
{
    TSxExplorerCustomControls::ReleaseMenuItem(item);
    std::replace(FCommands.begin(), FCommands.end(), const_cast<TSxBaseMenuItem*>(&item),
                 static_cast<TSxBaseMenuItem*>(nullptr));
}
