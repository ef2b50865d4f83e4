#pragma once
// The per-item helper objects a shell folder hands to Explorer through GetUIObjectOf: icon
// extractor, item and background menus, info tip and thumbnail extractor. Each holds its own
// copies of the grains concerned (and a reference on its folder) and reaches the product only
// through the grains and the provider's events. Also the menu items that carry a click of a grain
// menu to the product: TSxGrainMenuItem (design time, in a TSxGrainMenu) and TSxMenuItem (its
// run-time copy bound to grains).
#ifdef _WIN32
#include "SxComObject.h"
#include "SxException.h"
#include "SxPopupMenu.h"
#include "SxProvider.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TSxCustomProvider;
class TSxCustomShellFolder;
class TSxMenuItem;

// The item class of provider menus: its events get the run-time item and the grains it was
// chosen for.
class TSxGrainMenuItem : public TSxBaseMenuItem {
public:
    using TSxBaseMenuItem::TSxBaseMenuItem;
    std::string ClassName() const override { return "TSxGrainMenuItem"; }

    // Once per chosen grain.
    std::function<void(TSxMenuItem& sender, TSxCustomDataGrain& grain)> OnClickGrain;
    // Once per click with every chosen grain.
    std::function<void(TSxMenuItem& sender, const std::vector<TSxCustomDataGrain*>& grains)> OnClickGrainList;
};

// A provider menu: its new items are TSxGrainMenuItem.
class TSxGrainMenu : public TSxPopupMenu {
public:
    using TSxPopupMenu::TSxPopupMenu;
    std::string ClassName() const override { return "TSxGrainMenu"; }
    std::unique_ptr<TSxBaseMenuItem> CreateMenuItem(TSxComponent* owner) override;
};

class TSxMenuItem : public TSxBaseMenuItem {
public:
    // Bound to grain (nullptr: none) and copied from source (nullptr: nothing copied).
    TSxMenuItem(TSxComponent* owner, bool eventsOnly, TSxCustomDataGrain* grain, TSxBaseMenuItem* source);
    std::string ClassName() const override { return "TSxMenuItem"; }

    std::vector<TSxCustomDataGrain*> Grains;  // not owned
    HWND WindowHandle = nullptr;
    TSxCustomProvider* Provider = nullptr;    // the first grain's
    TSxCustomShellFolder* ShellFolder = nullptr;  // the folder the item acts in (not referenced)
    bool EventsOnly = false;
    TSxBaseMenuItem* SourceItem = nullptr;
    std::string Verb;  // the canonical verb of a basic verb item ("open", "delete", ...), else empty

    TSxCustomDataGrain* FirstGrain() const { return Grains.empty() ? nullptr : Grains.front(); }
    // The visible properties and the click handler of source, then a bound copy of each child.
    static void CopyMenuItem(const TSxBaseMenuItem& source, TSxMenuItem& target);

    // The click of a command chosen in Explorer on window: the copied click handler, the grain
    // list event, then the basic verb or the grain event for each grain (see the .cpp). A cut,
    // copy or paste that could not run answers its failure.
    HRESULT ClickWithWindow(HWND window);
};

// The base of the helper objects: the grains (owned copies), their provider, the owner window and
// the folder. The object counts toward DllCanUnloadNow while it lives.
class TSxNamespaceCustomUtil : public TSxSelfOwnedComObject {
public:
    // Copies every grain of grains (nullptr: none; FirstGrain then takes the folder's grain).
    TSxNamespaceCustomUtil(TSxCustomShellFolder& folder, HWND ownerWindow, const TSxDataGrainList* grains);
    ~TSxNamespaceCustomUtil() override;

    TSxDataGrainList Grains;
    TSxCustomProvider* Provider = nullptr;
    HWND OwnerWindow = nullptr;
    TSxCustomShellFolder* ShellFolder = nullptr;

    // The first grain; with an empty list the folder's own grain is added first. Raises when there
    // is none (no provider).
    TSxCustomDataGrain& FirstGrain();

    // A new object of class T handed out as iid (the caller's reference only).
    template <typename T, typename... Args> static HRESULT Make(REFIID iid, void** object, Args&&... args)
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        return SxComCall(nullptr, [&]() -> HRESULT {
            Microsoft::WRL::ComPtr<T> made = SxAdoptComPtr(new T(std::forward<Args>(args)...));
            return made->QueryInterface(iid, object);
        });
    }

private:
    Microsoft::WRL::ComPtr<IShellFolder> FFolderReference;
};

// The IUnknown of a helper class over its interface table.
#define SX_UTIL_IUNKNOWN                                                                  \
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;                      \
    SX_COUNTED_REFERENCES

// Whether icon locations name icon files: Wine's shell view draws the icon of the file that a
// location names and never asks Extract. True under Wine; tests choose (an empty function: the
// system decides).
bool SxIconLocationsAreFiles();
void SxSetIconLocationsAreFiles(std::function<bool()> choice);

// Icons of the first grain. The location is a text that changes on every call (Windows 5.0: the
// grain's name), so that Explorer always asks Extract, which takes the grain's icons by index.
// Where locations are icon files (Wine), the wide location names a file of the icon (index 0),
// and Extract of that file gives the same icons.
class TSxNamespaceExtractIcon final : public TSxNamespaceCustomUtil, public IExtractIconW, public IExtractIconA {
public:
    using TSxNamespaceCustomUtil::TSxNamespaceCustomUtil;
    SX_UTIL_IUNKNOWN
    STDMETHODIMP GetIconLocation(UINT flags, LPWSTR iconFile, UINT size, int* index, UINT* resultFlags) override;
    STDMETHODIMP Extract(LPCWSTR file, UINT index, HICON* large, HICON* small, UINT iconSize) override;
    STDMETHODIMP GetIconLocation(UINT flags, LPSTR iconFile, UINT size, int* index, UINT* resultFlags) override;
    STDMETHODIMP Extract(LPCSTR file, UINT index, HICON* large, HICON* small, UINT iconSize) override;

private:
    HRESULT Location(UINT flags, void* iconFile, UINT size, int* index, UINT* resultFlags, bool wide);
};

// The item menu: the first grain's menu (verbs, the provider's menus, the basic verbs unless
// noBasicVerbs) with the items that the other grains' menus share bound to them as well.
class TSxNamespaceContextMenu : public TSxNamespaceCustomUtil, public IContextMenu {
public:
    TSxNamespaceContextMenu(TSxCustomShellFolder& folder, HWND ownerWindow, const TSxDataGrainList* grains,
                            bool noBasicVerbs)
        : TSxNamespaceCustomUtil(folder, ownerWindow, grains), NoBasicVerbs(noBasicVerbs)
    {
    }
    ~TSxNamespaceContextMenu() override;
    SX_UTIL_IUNKNOWN
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* name, UINT size) override;

    std::unique_ptr<TSxPopupMenu> Menu;  // built by the last QueryContextMenu
    TSxMenuTable Items;                  // what it inserted; entry k answers firstCommand + k
    bool NoBasicVerbs;

protected:
    // The menu for the grains, or nullptr for none (nothing inserted).
    virtual std::unique_ptr<TSxPopupMenu> BuildMenu(UINT flags);
    HRESULT Insert(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags);
};

// The folder background menu (its Boolean is the no-paste switch); nothing for a file grain.
class TSxNamespaceBackgroundMenu final : public TSxNamespaceContextMenu {
public:
    using TSxNamespaceContextMenu::TSxNamespaceContextMenu;

protected:
    std::unique_ptr<TSxPopupMenu> BuildMenu(UINT flags) override;
};

// The info tip of the first grain (the provider's OnGetInfoTip).
class TSxNamespaceQueryInfo final : public TSxNamespaceCustomUtil, public IQueryInfo {
public:
    using TSxNamespaceCustomUtil::TSxNamespaceCustomUtil;
    SX_UTIL_IUNKNOWN
    STDMETHODIMP GetInfoTip(DWORD flags, LPWSTR* tip) override;
    STDMETHODIMP GetInfoFlags(DWORD* flags) override;
};

// The thumbnail of the first grain: GetLocation has the provider's OnGetDataGrainThumb make it at
// the size asked for; Extract hands out a copy.
class TSxNamespaceExtractImage final : public TSxNamespaceCustomUtil, public IExtractImage {
public:
    using TSxNamespaceCustomUtil::TSxNamespaceCustomUtil;
    SX_UTIL_IUNKNOWN
    STDMETHODIMP GetLocation(LPWSTR path, DWORD size, DWORD* priority, const SIZE* imageSize, DWORD colourDepth,
                             DWORD* flags) override;
    STDMETHODIMP Extract(HBITMAP* bitmap) override;

    TSxBitmap Thumb;
};
#endif
