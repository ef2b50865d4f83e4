#include "SxPopupMenu.h"

#include "uGLBWin.h"
#include "SxTools.h"

void TSxBaseMenuItem::Click()
{
    if (OnClick)
        OnClick(*this);
}

std::string TSxBaseMenuItem::LongHint() const
{
    const size_t bar = Hint.find('|');
    return bar == std::string::npos ? Hint : Hint.substr(bar + 1);
}

TSxBaseMenuItem& TSxBaseMenuItem::Add(std::unique_ptr<TSxBaseMenuItem> item)
{
    item->FParent = this;
    FItems.push_back(std::move(item));
    return *FItems.back();
}

void TSxFileClassMenuItem::ClickFileClass(TSxContextMenu& initiator)
{
    Click();
    if (OnClickFileClass)
        OnClickFileClass(*this, initiator);
}

std::unique_ptr<TSxBaseMenuItem> TSxPopupMenu::CreateMenuItem(TSxComponent* owner)
{
    return std::make_unique<TSxFileClassMenuItem>(owner);
}

void TSxMenuTable::Reset(UINT firstId, UINT lastId)
{
    FirstId = firstId;
    LastId = lastId;
    Items.clear();
    Popups.clear();
}

TSxBaseMenuItem* TSxMenuTable::ItemOfCommand(UINT id) const
{
    return id < FirstId ? nullptr : ItemOfOffset(id - FirstId);
}

TSxBaseMenuItem* TSxMenuTable::ItemOfOffset(UINT_PTR offset) const
{
    return offset < Items.size() ? Items[offset] : nullptr;
}

TSxMenuItemLook SxMenuItemLook(const TSxBaseMenuItem& item)
{
    TSxMenuItemLook look;
    if (item.Checked)
        look.State |= MFS_CHECKED;
    if (item.Default)
        look.State |= MFS_DEFAULT;
    if (!item.Enabled)
        look.State |= MFS_DISABLED | MFS_GRAYED;
    if (item.IsLine()) {
        look.Type = MFT_SEPARATOR;
    } else {
        look.Type = MFT_STRING;
        look.Text = Utf8ToWide(item.Caption);
    }
    if (item.RadioItem)
        look.Type |= MFT_RADIOCHECK;
    if (item.Break)
        look.Type |= MFT_MENUBARBREAK;
    return look;
}

namespace {

// The image as a bitmap of the menu's check-mark size, drawn on the menu colour.
TSxBitmap BitmapOfImage(HIMAGELIST images, int index)
{
    int width = 0, height = 0;
    if (!ImageList_GetIconSize(images, &width, &height) || width <= 0 || height <= 0)
        return nullptr;
    HDC screen = GetDC(nullptr);
    if (!screen)
        return nullptr;
    TSxBitmap bitmap(CreateCompatibleBitmap(screen, width, height));
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (!dc)
        return nullptr;
    if (bitmap) {
        HGDIOBJ old = SelectObject(dc, bitmap.get());
        RECT all{0, 0, width, height};
        FillRect(dc, &all, GetSysColorBrush(COLOR_MENU));
        const bool drawn = ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
        SelectObject(dc, old);
        if (!drawn)
            bitmap.reset();
    }
    DeleteDC(dc);
    return bitmap;
}

} // namespace

bool InsertMenuItemToHMenu(HMENU menu, TSxBaseMenuItem& item, int position, bool byPosition, TSxMenuTable& table,
                           HIMAGELIST images)
{
    if (!item.Visible)
        return true;
    // A separator takes no identifier, so that a narrow range holds as many commands as it can.
    if (item.IsLine())
        return InsertMenuSeparator(menu, position, byPosition);
    const UINT id = table.FirstId + static_cast<UINT>(table.Items.size());
    if (id < table.FirstId || id > table.LastId)
        return false;
    const TSxMenuItemLook look = SxMenuItemLook(item);
    std::wstring text = look.Text;
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE | MIIM_ID | MIIM_FTYPE | MIIM_DATA;
    info.fState = look.State;
    info.fType = look.Type;
    info.fMask |= MIIM_STRING;
    info.dwTypeData = text.data();
    info.cch = static_cast<UINT>(text.size());
    info.wID = id;
    const size_t before = table.Items.size();
    table.Items.push_back(&item);
    // The item data is only this marker: commands are found through the table, never through a
    // pointer read back from a menu.
    info.dwItemData = 0;
    HMENU popup = nullptr;
    bool complete = true;
    if (item.Count() > 0) {
        popup = CreatePopupMenu();
        if (popup) {
            info.fMask |= MIIM_SUBMENU;
            info.hSubMenu = popup;
            table.Popups.insert(popup);
            complete = InsertMenuItemsToHMenu(popup, item, 0, true, table,
                                              item.SubMenuImages ? item.SubMenuImages : images);
        }
    }
    if (!InsertMenuItemW(menu, static_cast<UINT>(position), byPosition ? TRUE : FALSE, &info)) {
        if (popup) {
            table.Popups.erase(popup);
            DestroyMenu(popup);
        }
        table.Items.resize(before);  // what Windows refused takes no identifier
        return false;
    }
    TSxBitmap bitmap;
    if (item.ImageIndex >= 0 && images)
        bitmap = BitmapOfImage(images, item.ImageIndex);
    else if (item.Bitmap)
        bitmap.reset(static_cast<HBITMAP>(CopyImage(item.Bitmap, IMAGE_BITMAP, 0, 0, 0)));
    if (bitmap) {
        const UINT flags = byPosition ? MF_BYPOSITION : MF_BYCOMMAND;
        if (SetMenuItemBitmaps(menu, static_cast<UINT>(position), flags, bitmap.get(), nullptr))
            table.Bitmaps.push_back(std::move(bitmap));
    }
    return complete;
}

bool InsertMenuItemsToHMenu(HMENU menu, const TSxBaseMenuItem& parent, int position, bool byPosition,
                            TSxMenuTable& table, HIMAGELIST images)
{
    for (int i = 0; i < parent.Count(); ++i) {
        TSxBaseMenuItem& child = *parent.Item(i);
        if (!child.Visible)
            continue;
        if (!InsertMenuItemToHMenu(menu, child, position, byPosition, table, images))
            return false;
        ++position;
    }
    return true;
}

bool InsertMenuSeparator(HMENU menu, int position, bool byPosition)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE | MIIM_ID | MIIM_FTYPE;
    info.fType = MFT_SEPARATOR;
    return InsertMenuItemW(menu, static_cast<UINT>(position), byPosition ? TRUE : FALSE, &info) != FALSE;
}
