#pragma once
// The module that declares every shell object the library publishes: the online folder under My
// Computer with its details columns and view, and the send-to command of local files and folders.
// Every COM object Explorer creates gets a module instance of its own.
#ifdef _WIN32
#include "SxDataModule.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

class TApplicationEnviroment;
class TVirtualFileStorage;
class TLogger;
class TSxNamespaceDetails;
class TSxVirtualFolder;
class TSxSysShellView;
class TSxCustomDataGrain;
class TSxContextMenu;
class TSxPopupMenu;
class TSxShellPropSheetExt;
class TSxExplorerToolbar;
class TSxStatusBar;
class TvrqDialog;

extern const TSxModuleClass vrqmodMainClass;

class TvrqmodMain : public TSxModule {
public:
    explicit TvrqmodMain(const TSxModuleClass& moduleClass);
    ~TvrqmodMain() override;

    TSxNamespaceDetails* sxVrqNamespaceDetails = nullptr;
    TSxSysShellView* sxVrqSysShellView = nullptr;
    TSxVirtualFolder* sxVrqDrive = nullptr;
    // Explorer's toolbar while the folder is shown (refresh, new folder) and the status bar's parts.
    TSxExplorerToolbar* sxVrqSysExplorerToolbar = nullptr;
    TSxStatusBar* sxVrqStatusBar = nullptr;
    // The folder's own property page "Allgemein".
    TSxShellPropSheetExt* sxVrqMainPropertySheet = nullptr;
    // The send-to item in the context menu of every local file and folder.
    TSxContextMenu* sxVrqContextMenu = nullptr;
    TSxPopupMenu* sxVrqContextPopup = nullptr;

    std::unique_ptr<TApplicationEnviroment> Env;
    std::unique_ptr<TVirtualFileStorage> Storage;
    std::unique_ptr<TLogger> Logger;

    // Sorts of the size, type and modified columns: -1 when grain1 goes first.
    int32_t SortBySize(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2);
    int32_t SortByType(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2);
    int32_t SortByModified(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2);

    // Uploads local files and folders into "Neue Dateianlagen". False when any item failed; the
    // user was told.
    bool sxVrqContextPopup_SendToClick(const std::vector<std::string>& paths);

private:
    void LogError(const std::string& text);
    // The context menu's and the toolbar's images, shared by all modules of the process.
    HIMAGELIST imgIconList = nullptr;
    HIMAGELIST imgExplorerToolBarSmall = nullptr, imgExplorerToolBar = nullptr;
    bool ImagesShared = false;
};

// The folder's name (its class identity is OnlineFolderCLSID, uGLBConst.h).
extern const char* const vrqFolderName;
extern const char* const vrqPropertySheetClsid;
extern const char* const vrqContextMenuClsid;
#endif
