#pragma once
// The shell view of a virtual folder: the registry of open view windows that every change notice
// of the framework reaches, the view component that makes menus and extractors for the folder, and
// the view built on the system folder view.
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include "SxPidl.h"

// The message a view window gets when its folder changed (WM_USER + 337).
constexpr UINT SxShellChangeMessage = WM_USER + 337;

enum class TSxChangeNotifyType : uint8_t { cntLocal, cntGlobal };

// The framework's one way to announce a shell change: SHChangeNotify, then message 1361 to every
// view window registered locally for the affected folder (the parent of item1 for item events,
// item1 itself otherwise). item1 and item2 are absolute lists; the caller keeps them.
void NotifyShellChange(LONG event, UINT flags, PCSxItemIDList item1, PCSxItemIDList item2);

// Routes the provider's change notices through NotifyShellChange (once; the folder does it when
// it is made, after the library's start-up).
void InstallShellViewChangeNotice();

// Registers window as a view of the folder list: with cntGlobal through SHChangeNotifyRegister
// (its answer is returned, 0 on failure), with cntLocal in the framework's own registry (the
// registration number is returned).
uint32_t RegisterShellView(TSxChangeNotifyType type, PCSxItemIDList list, HWND window);
// Ends every registration of window (both kinds); called when the window goes.
void UnregisterShellView(HWND window);
// Number of local registrations of window (for tests and diagnostics).
size_t ShellViewRegistrationCount(HWND window);

#include <functional>

#include <wrl/client.h>

#include "SxComponent.h"

class TSxCustomShellFolder;
class TSxCustomDataGrain;
class TSxDataGrainList;
class TSxNamespaceDetails;
class TSxExplorerMenu;
class TSxExplorerToolbar;
class TSxStatusBar;

enum class TSxContextMenuOrigin : uint8_t { cmoSystemDefault, cmoTessolark };
enum class TSxViewStyle : uint8_t { svsIcon, svsSmallIcon, svsList, svsDetails, svsThumbnail, svsTile, svsThumbStrip };

struct TSxDragAndDropSetup {
    uint8_t DefaultDropEffect = 1;  // copy
    uint8_t DropEffect = 7;         // copy, move, link
    bool Scroll = false;
};

struct TSxShellViewSettings {
    TSxContextMenuOrigin ContextMenuOrigin = TSxContextMenuOrigin::cmoSystemDefault;
};

// The view component of a folder: view settings, the menus the folder hands out, the view.
class TSxCustomShellView : public TSxComponent {
public:
    explicit TSxCustomShellView(TSxComponent* owner = nullptr) : TSxComponent(owner) {}
    std::string ClassName() const override { return "TSxCustomShellView"; }

    TSxChangeNotifyType ChangeNotifyType = TSxChangeNotifyType::cntLocal;
    TSxNamespaceDetails* Details = nullptr;
    // Commands merged into Explorer's menu bar and toolbar while the view is active, and the
    // status bar's description (none of them owned).
    TSxExplorerMenu* ExplorerMenu = nullptr;
    TSxExplorerToolbar* ExplorerToolbar = nullptr;
    TSxStatusBar* StatusBar = nullptr;
    TSxDragAndDropSetup DragAndDropSetup;
    TSxShellViewSettings Settings;
    // The grain menu merged last into a system default menu: it carries out the merged commands.
    Microsoft::WRL::ComPtr<IContextMenu> MenuObject;

    // The system's default folder menu for the background (callback BackgroundMenuCallback).
    virtual HRESULT CreateBackgroundMenu(PCSxItemIDList folderList, HWND ownerWindow, IContextMenu** menu,
                                         TSxCustomShellFolder* folder, PCUITEMID_CHILD_ARRAY items, UINT count);
    // The menu of selected items: the system's default folder menu (callback ItemMenuCallback).
    virtual HRESULT CreateItemMenu(PCSxItemIDList folderList, HWND ownerWindow, IContextMenu** menu,
                                   TSxCustomShellFolder* folder, TSxDataGrainList& grains,
                                   PCUITEMID_CHILD_ARRAY items, UINT count);
    // The icon extractor (as iid: IExtractIconW or IExtractIconA) and the thumbnail extractor of
    // the grains.
    virtual HRESULT CreateExtractIcon(TSxCustomShellFolder* folder, TSxDataGrainList& grains, REFIID iid,
                                      void** object, HWND ownerWindow);
    virtual HRESULT CreateExtractImage(TSxCustomShellFolder* folder, TSxDataGrainList& grains, void** object,
                                       HWND ownerWindow);
    // Keeps folder and owner window; this class makes no view.
    virtual HRESULT CreateView(TSxCustomShellFolder* folder, HWND ownerWindow, IShellView** view);

protected:
    TSxCustomShellFolder* Folder = nullptr;
    HWND OwnerWindow = nullptr;
};

// The view on the system folder view (SHCreateShellFolderView). Its callback is a COM object of
// its own that holds the folder and the browser for as long as the system view keeps it, and the
// view window's subclass holds the callback until the window goes.
class TSxSysShellView : public TSxCustomShellView {
public:
    explicit TSxSysShellView(TSxComponent* owner = nullptr) : TSxCustomShellView(owner) {}
    std::string ClassName() const override { return "TSxSysShellView"; }

    TSxViewStyle DefaultViewStyle = TSxViewStyle::svsIcon;
    std::function<void(TSxSysShellView& sender, TSxCustomDataGrain* folderGrain, TSxViewStyle& style)>
        OnGetDefaultViewStyle;
    std::function<void(TSxSysShellView& sender, HWND viewWindow)> OnWindowCreated;

    HRESULT CreateView(TSxCustomShellFolder* folder, HWND ownerWindow, IShellView** view) override;
    // The callback object the system view gets (also what tests drive, since some shells never
    // call it).
    Microsoft::WRL::ComPtr<IShellFolderViewCB> CreateCallback(TSxCustomShellFolder* folder, HWND ownerWindow);
    // FVM_* value of the first view mode.
    int GetViewMode(TSxCustomShellFolder* folder);

    int32_t CommandBase = -1;
    int32_t CommandCount = 0;
};

// The callbacks of the system's default folder menus (CDefFolderMenu_Create2).
HRESULT CALLBACK ItemMenuCallback(IShellFolder* folder, HWND ownerWindow, IDataObject* dataObject, UINT msg,
                                  WPARAM wParam, LPARAM lParam);
HRESULT CALLBACK BackgroundMenuCallback(IShellFolder* folder, HWND ownerWindow, IDataObject* dataObject, UINT msg,
                                        WPARAM wParam, LPARAM lParam);
#endif
