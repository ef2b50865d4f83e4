#pragma once
// The popup menu of the framework's shell menus and its items: a tree of items that the
// framework's menu objects turn into Windows menus (the item's position in the item list gives
// its command identifier).
#ifdef _WIN32
#include "SxComponent.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

class TSxPopupMenu : public TSxComponent {
public:
    explicit TSxPopupMenu(TSxComponent* owner = nullptr) : TSxComponent(owner) {}
    std::string ClassName() const override { return "TSxPopupMenu"; }

    TSxBaseMenuItem Items;              // the top-level items are its children
    HIMAGELIST Images = nullptr;        // not owned

    // A new item of this menu's item class.
    virtual std::unique_ptr<TSxBaseMenuItem> CreateMenuItem(TSxComponent* owner);
};
#endif
