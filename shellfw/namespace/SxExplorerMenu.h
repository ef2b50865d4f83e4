#pragma once
// Commands of the product in Explorer's menu bar while the virtual folder is shown, and the base
// that the Explorer toolbar shares: entries that name a menu item of a permanent module (by the
// module's class name and the item's name, resolved when the view is activated), command
// identifiers from CommandOffset on, and the run of a command for the selected grains.
#ifdef _WIN32
#include "SxComponent.h"
#include "SxPopupMenu.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <vector>

class TSxPermanentModule;
class TSxCustomShellFolder;
class TSxDataGrainList;

// What a permanent module that holds menu items answers: its item of that name (nullptr: none).
// The product's permanent module implements it beside ISxProviderHolder, so that the Explorer
// menu and toolbar of its folders find the items (for example with SxFindMenuItem over its menus).
class ISxMenuItemHolder {
public:
    virtual ~ISxMenuItemHolder() = default;
    virtual TSxBaseMenuItem* FindMenuItem(const std::string& name) = 0;
};

// The item named name among the descendants of root (ASCII case-insensitive), or nullptr.
TSxBaseMenuItem* SxFindMenuItem(const TSxBaseMenuItem& root, const std::string& name);

using TSxModuleList = std::vector<TSxPermanentModule*>;

enum class TSxNoFocusBehaviour : uint8_t { nfNoChange, nfHide, nfDisable };

// One entry: the menu item it stands for, named by its module's class and its own name.
class TSxExplorerControl {
public:
    virtual ~TSxExplorerControl() = default;

    std::string ModuleClassName;
    std::string MenuItemName;
    TSxNoFocusBehaviour NoFocusBehaviour = TSxNoFocusBehaviour::nfNoChange;

    void SetMenuItem(const std::string& moduleClassName, const std::string& menuItemName)
    {
        ModuleClassName = moduleClassName;
        MenuItemName = menuItemName;
    }
    void ClearMenuItem() { SetMenuItem(std::string(), std::string()); }
    // In modules, the first module of class ModuleClassName (letter case counts, as for finding
    // permanent modules), and in it the item MenuItemName; nullptr
    // when either is missing.
    TSxBaseMenuItem* GetMenuItem(const TSxModuleList& modules) const;
    // "Module.Item" when both names are set, else the class name.
    virtual std::string DisplayName() const;
};

class TSxExplorerMenuItem : public TSxExplorerControl {};

class TSxExplorerCustomControls : public TSxComponent {
public:
    using TSxComponent::TSxComponent;
    std::string ClassName() const override { return "TSxExplorerCustomControls"; }

    TSxModuleList Modules;  // while attached: where the entries' items are looked up
    int32_t CommandOffset = 1000;

    virtual TSxBaseMenuItem* GetMenuItemByCommand(int32_t) const { return nullptr; }
    // The base keeps a copy of modules (detaching first when still attached).
    virtual void AttachControls(const TSxModuleList& modules, IShellBrowser* browser, UINT state);
    virtual void DetachControls(IShellBrowser* browser);
    // Runs the item of command for the grains (the folder's own grain when there are none) with
    // window as owner; false when command is none of this component's.
    virtual bool ExecuteCommand(HWND window, int32_t command, TSxDataGrainList& grains, TSxCustomShellFolder* folder);
    void SetCommandOffset(int32_t offset) { CommandOffset = offset; }
    // Every entry that resolves to item no longer names it, and no command runs it (the item is
    // going).
    virtual void ReleaseMenuItem(const TSxBaseMenuItem& item);

protected:
    // Every entry of the component.
    virtual std::vector<TSxExplorerControl*> Controls() { return {}; }
    bool FAttached = false;
};

// Explorer's popup identifiers (FCIDM_MENU_*) in merge order.
constexpr UINT SxExplorerPopupIds[] = {0x8000, 0x8040, 0x8080, 0x80C0, 0x8100};
constexpr UINT SxViewOptionsSeparatorId = 0x8081;  // FCIDM_MENU_VIEW_SEP_OPTIONS

class TSxExplorerMenu : public TSxExplorerCustomControls {
public:
    using TSxExplorerCustomControls::TSxExplorerCustomControls;
    ~TSxExplorerMenu() override;
    std::string ClassName() const override { return "TSxExplorerMenu"; }

    std::vector<TSxExplorerMenuItem> FileMenu, EditMenu, ViewMenu, ToolsMenu, HelpMenu;
    HMENU MenuHandle = nullptr;  // the menu bar built by AttachControls, or nullptr
    TSxMenuTable Commands;       // the inserted items; entry k has the command CommandOffset + k

    TSxBaseMenuItem* GetMenuItemByCommand(int32_t command) const override;
    void ReleaseMenuItem(const TSxBaseMenuItem& item) override;
    // The framework's own menu bar for an activated view: Explorer's popups through
    // InsertMenusSB, the entries appended to them, installed with SetMenuSB.
    void AttachControls(const TSxModuleList& modules, IShellBrowser* browser, UINT state) override;
    // Takes the own menu bar down (SetMenuSB with none, RemoveMenusSB) and frees the items' bitmaps.
    void DetachControls(IShellBrowser* browser) override;
    // The merge into the menu bar that the system folder view builds (its merge-menu
    // notification): entries inserted at position into the popups of menu, with identifiers from
    // firstCommand up to lastCommand, as for a focused view. The system view installs its menu
    // itself, so nothing here calls SetMenuSB. Returns the number of identifiers used.
    int MergeMenu(HMENU menu, UINT position, int32_t firstCommand, UINT lastCommand, const TSxModuleList& modules,
                  IShellBrowser* browser);

protected:
    std::vector<TSxExplorerControl*> Controls() override;

private:
    // The entries of each popup into menu (at position; UINT_MAX appends).
    void InsertEntries(HMENU menu, UINT position, UINT state);
    std::vector<TSxExplorerMenuItem>* Collection(size_t popup);
};
#endif
