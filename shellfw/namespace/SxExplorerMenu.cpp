#include "SxExplorerMenu.h"

#include "SxNamespaceUtils.h"
#include "SxPmtDataModule.h"
#include "SxProvider.h"
#include "SxShellFolder.h"

#include <wrl/client.h>

#include <algorithm>
#include <climits>

TSxBaseMenuItem* SxFindMenuItem(const TSxBaseMenuItem& root, const std::string& name)
{
    for (int i = 0; i < root.Count(); ++i) {
        TSxBaseMenuItem* child = root.Item(i);
        if (SxSameName(child->Name(), name))
            return child;
        if (TSxBaseMenuItem* found = SxFindMenuItem(*child, name))
            return found;
    }
    return nullptr;
}

TSxBaseMenuItem* TSxExplorerControl::GetMenuItem(const TSxModuleList& modules) const
{
    if (ModuleClassName.empty() || MenuItemName.empty())
        return nullptr;
    for (TSxPermanentModule* module : modules) {
        if (!module || module->ClassName() != ModuleClassName)
            continue;
        auto* holder = dynamic_cast<ISxMenuItemHolder*>(module);
        return holder ? holder->FindMenuItem(MenuItemName) : nullptr;
    }
    return nullptr;
}

std::string TSxExplorerControl::DisplayName() const
{
    if (!ModuleClassName.empty() && !MenuItemName.empty())
        return ModuleClassName + "." + MenuItemName;
    return "TSxExplorerControl";
}

// ---------------------------------------------------------------------------------------------

void TSxExplorerCustomControls::AttachControls(const TSxModuleList& modules, IShellBrowser* browser, UINT)
{
    if (FAttached)
        DetachControls(browser);
    Modules = modules;
    FAttached = true;
}

void TSxExplorerCustomControls::DetachControls(IShellBrowser*)
{
    Modules.clear();
    FAttached = false;
}

bool TSxExplorerCustomControls::ExecuteCommand(HWND window, int32_t command, TSxDataGrainList& grains,
                                               TSxCustomShellFolder* folder)
{
    TSxBaseMenuItem* source = GetMenuItemByCommand(command);
    if (!source)
        return false;
    // Without a selection the command is for the folder itself.
    std::unique_ptr<TSxCustomDataGrain> folderGrain;
    TSxCustomDataGrain* first = grains.Count() > 0 ? grains.GetItem(0) : nullptr;
    if (!first && folder) {
        folderGrain = folder->MakeFolderGrain();
        first = folderGrain.get();
    }
    TSxMenuItem item(nullptr, false, first, source);
    for (int i = 1; i < grains.Count(); ++i)
        item.Grains.push_back(grains.GetItem(i));
    item.ShellFolder = folder;
    item.ClickWithWindow(window);
    return true;
}

void TSxExplorerCustomControls::ReleaseMenuItem(const TSxBaseMenuItem& item)
{
    for (TSxExplorerControl* control : Controls())
        if (control->GetMenuItem(Modules) == &item)
            control->ClearMenuItem();
}

// ---------------------------------------------------------------------------------------------

TSxExplorerMenu::~TSxExplorerMenu()
{
    if (MenuHandle)
        DestroyMenu(MenuHandle);
}

std::vector<TSxExplorerMenuItem>* TSxExplorerMenu::Collection(size_t popup)
{
    std::vector<TSxExplorerMenuItem>* collections[] = {&FileMenu, &EditMenu, &ViewMenu, &ToolsMenu, &HelpMenu};
    return popup < 5 ? collections[popup] : nullptr;
}

std::vector<TSxExplorerControl*> TSxExplorerMenu::Controls()
{
    std::vector<TSxExplorerControl*> all;
    for (size_t p = 0; p < 5; ++p)
        for (auto& entry : *Collection(p))
            all.push_back(&entry);
    return all;
}

void TSxExplorerMenu::ReleaseMenuItem(const TSxBaseMenuItem& item)
{
    TSxExplorerCustomControls::ReleaseMenuItem(item);
    std::replace(Commands.Items.begin(), Commands.Items.end(), const_cast<TSxBaseMenuItem*>(&item),
                 static_cast<TSxBaseMenuItem*>(nullptr));
}

TSxBaseMenuItem* TSxExplorerMenu::GetMenuItemByCommand(int32_t command) const
{
    if (!FAttached || command < CommandOffset)
        return nullptr;
    return Commands.ItemOfOffset(static_cast<UINT_PTR>(command - CommandOffset));
}

void TSxExplorerMenu::InsertEntries(HMENU menu, UINT position, UINT state)
{
    for (size_t p = 0; p < 5; ++p) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_SUBMENU;
        if (!GetMenuItemInfoW(menu, SxExplorerPopupIds[p], FALSE, &info) || !info.hSubMenu)
            continue;  // a popup that Explorer's menu lacks
        HMENU popup = info.hSubMenu;
        std::vector<TSxBaseMenuItem*> items;
        std::vector<TSxNoFocusBehaviour> behaviours;
        for (const auto& entry : *Collection(p))
            if (TSxBaseMenuItem* item = entry.GetMenuItem(Modules)) {
                items.push_back(item);
                behaviours.push_back(entry.NoFocusBehaviour);
            }
        if (items.empty())
            continue;
        const bool room = Commands.FirstId + static_cast<UINT>(Commands.Count()) >= Commands.FirstId &&
                          Commands.FirstId + static_cast<UINT>(Commands.Count()) <= Commands.LastId;
        if (!room)
            return;  // out of identifiers
        if (p == 2)  // the View popup: the entries after a line of their own
            InsertMenuSeparator(popup, SxViewOptionsSeparatorId, false);
        const int count = GetMenuItemCount(popup);
        UINT at = position == UINT_MAX ? static_cast<UINT>(std::max(count, 0))
                                       : std::min(position, static_cast<UINT>(std::max(count, 0)));
        for (size_t i = 0; i < items.size(); ++i) {
            TSxBaseMenuItem& item = *items[i];
            const bool visible = item.Visible, enabled = item.Enabled;
            // Without the focus the File popup leaves out or greys what asks for it.
            if (p == 0 && state != SVUIA_ACTIVATE_FOCUS) {
                if (behaviours[i] == TSxNoFocusBehaviour::nfHide)
                    item.Visible = false;
                else if (behaviours[i] == TSxNoFocusBehaviour::nfDisable)
                    item.Enabled = false;
            }
            const bool shown = item.Visible;
            const bool inserted = InsertMenuItemToHMenu(popup, item, static_cast<int>(at), true, Commands);
            item.Visible = visible;
            item.Enabled = enabled;
            if (!inserted)
                return;  // out of identifiers
            if (shown)
                ++at;
        }
    }
}

void TSxExplorerMenu::AttachControls(const TSxModuleList& modules, IShellBrowser* browser, UINT state)
{
    TSxExplorerCustomControls::AttachControls(modules, browser, state);
    if (MenuHandle || !browser)
        return;
    Commands.Reset(static_cast<UINT>(CommandOffset), UINT_MAX);
    Commands.ClearBitmaps();
    MenuHandle = CreateMenu();
    if (!MenuHandle)
        return;
    OLEMENUGROUPWIDTHS widths{};
    if (FAILED(browser->InsertMenusSB(MenuHandle, &widths))) {
        DestroyMenu(MenuHandle);
        MenuHandle = nullptr;
        return;
    }
    InsertEntries(MenuHandle, UINT_MAX, state);
    Microsoft::WRL::ComPtr<IShellView> view;
    HWND window = nullptr;
    if (SUCCEEDED(browser->QueryActiveShellView(&view)) && view)
        view->GetWindow(&window);
    browser->SetMenuSB(MenuHandle, nullptr, window);
}

int TSxExplorerMenu::MergeMenu(HMENU menu, UINT position, int32_t firstCommand, UINT lastCommand,
                               const TSxModuleList& modules, IShellBrowser* browser)
{
    TSxExplorerCustomControls::AttachControls(modules, browser, SVUIA_ACTIVATE_FOCUS);
    SetCommandOffset(firstCommand);
    Commands.Reset(static_cast<UINT>(firstCommand), lastCommand);
    Commands.ClearBitmaps();
    if (menu)
        InsertEntries(menu, position, SVUIA_ACTIVATE_FOCUS);
    return Commands.Count();
}

void TSxExplorerMenu::DetachControls(IShellBrowser* browser)
{
    if (MenuHandle) {
        if (browser) {
            browser->SetMenuSB(nullptr, nullptr, nullptr);
            browser->RemoveMenusSB(MenuHandle);
        }
        DestroyMenu(MenuHandle);
        MenuHandle = nullptr;
    }
    Commands.Reset(static_cast<UINT>(CommandOffset), UINT_MAX);
    Commands.ClearBitmaps();
    TSxExplorerCustomControls::DetachControls(browser);
}
