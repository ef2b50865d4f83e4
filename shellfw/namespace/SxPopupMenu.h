#pragma once
// The popup menu of the framework's shell menus and its items: a tree of items that the
// framework's menu objects turn into Windows menus (the item's position in the item list gives
// its command identifier), and the menu copier that does it.
#ifdef _WIN32
#include "SxComponent.h"

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

// One menu item. A parent owns its child items; Caption "-" makes a separator.
class TSxBaseMenuItem : public TSxComponent {
public:
    explicit TSxBaseMenuItem(TSxComponent* owner = nullptr) : TSxComponent(owner) {}
    std::string ClassName() const override { return "TSxBaseMenuItem"; }

    HBITMAP Bitmap = nullptr;  // not owned
    bool Break = false;
    std::string Caption;
    bool Checked = false;
    bool Default = false;
    bool Enabled = true;
    int GroupIndex = 0;
    int HelpContext = 0;
    std::string Hint;
    int ImageIndex = -1;
    bool RadioItem = false;
    uint32_t ShortCut = 0;
    HIMAGELIST SubMenuImages = nullptr;
    bool Visible = true;
    std::function<void(TSxBaseMenuItem&)> OnClick;

    bool IsLine() const { return Caption == "-"; }
    // The long part of the hint: after the first "|", or the whole hint without one.
    std::string LongHint() const;
    virtual void Click();

    TSxBaseMenuItem* Parent() const { return FParent; }
    int Count() const { return static_cast<int>(FItems.size()); }
    TSxBaseMenuItem* Item(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    TSxBaseMenuItem* Last() const { return FItems.empty() ? nullptr : FItems.back().get(); }
    // Appends an item, which this item then owns.
    TSxBaseMenuItem& Add(std::unique_ptr<TSxBaseMenuItem> item);

private:
    TSxBaseMenuItem* FParent = nullptr;
    std::vector<std::unique_ptr<TSxBaseMenuItem>> FItems;
};

class TSxContextMenu;

// The item class of shell menus: after its ordinary click it tells the context-menu handler that
// ran it.
class TSxFileClassMenuItem : public TSxBaseMenuItem {
public:
    using TSxBaseMenuItem::TSxBaseMenuItem;
    std::string ClassName() const override { return "TSxFileClassMenuItem"; }

    std::function<void(TSxFileClassMenuItem& sender, TSxContextMenu& initiator)> OnClickFileClass;
    // The ordinary click, then OnClickFileClass.
    void ClickFileClass(TSxContextMenu& initiator);
};

class TSxPopupMenu : public TSxComponent {
public:
    explicit TSxPopupMenu(TSxComponent* owner = nullptr) : TSxComponent(owner) {}
    std::string ClassName() const override { return "TSxPopupMenu"; }

    TSxBaseMenuItem Items;              // the top-level items are its children
    HIMAGELIST Images = nullptr;        // not owned
    // Fires before the menu is shown, so that handlers can adjust the items (Sender: the shell
    // object that shows the menu).
    std::function<void(TSxPopupMenu& menu, TSxComponent& sender)> OnPopup;

    // A new item of this menu's item class.
    virtual std::unique_ptr<TSxBaseMenuItem> CreateMenuItem(TSxComponent* owner);
};

// Owner of a GDI bitmap.
struct TSxBitmapDeleter {
    void operator()(HBITMAP bitmap) const
    {
        if (bitmap)
            DeleteObject(bitmap);
    }
};
using TSxBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, TSxBitmapDeleter>;

// What one run of the menu copier fills: the items in command-offset order (entry k has the
// identifier FirstId + k), the menu bitmaps handed to Windows (freed with the table) and the
// popups it made, so that a popup of another handler is never taken for one of these.
class TSxMenuTable {
public:
    explicit TSxMenuTable(UINT firstId = 0, UINT lastId = UINT_MAX) : FirstId(firstId), LastId(lastId) {}

    UINT FirstId, LastId;
    std::vector<TSxBaseMenuItem*> Items;  // not owned
    std::vector<TSxBitmap> Bitmaps;
    std::set<HMENU> Popups;

    // Forgets the items and popups and sets the identifier range; the bitmaps stay (Windows may
    // still show them) until the table goes or ClearBitmaps.
    void Reset(UINT firstId, UINT lastId);
    void ClearBitmaps() { Bitmaps.clear(); }
    int Count() const { return static_cast<int>(Items.size()); }
    // The item of a command identifier, or nullptr.
    TSxBaseMenuItem* ItemOfCommand(UINT id) const;
    TSxBaseMenuItem* ItemOfOffset(UINT_PTR offset) const;
};

// The menu copier. Copies each visible child of parent into menu at position, position + 1, ...
// (hidden children take no position and no identifier, separators a position but no identifier);
// an item's identifier precedes those of its children. Stops at the first insertion that Windows refuses and where the identifiers would
// pass the table's LastId; false then. images: the image list of the items' menu (nullptr: none).
bool InsertMenuItemsToHMenu(HMENU menu, const TSxBaseMenuItem& parent, int position, bool byPosition,
                            TSxMenuTable& table, HIMAGELIST images = nullptr);
// The same for one item (nothing when it is hidden).
bool InsertMenuItemToHMenu(HMENU menu, TSxBaseMenuItem& item, int position, bool byPosition, TSxMenuTable& table,
                           HIMAGELIST images = nullptr);
bool InsertMenuSeparator(HMENU menu, int position, bool byPosition);
// Text, type and state of a Windows menu item as the copier writes them for item.
struct TSxMenuItemLook {
    std::wstring Text;
    UINT Type = 0, State = 0;
};
TSxMenuItemLook SxMenuItemLook(const TSxBaseMenuItem& item);
#endif
