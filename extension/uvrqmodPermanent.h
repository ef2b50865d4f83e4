#pragma once
// The online folder's one process-wide module: the data provider and every handler of its events,
// which bind the framework's grains to the local mirror and to the storage server. It is made at the
// first access to the folder and stays until the process ends.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "uvrqNameRules.h"

#ifdef _WIN32
#include "SxShellFolder.h"
#include "SxPopupMenu.h"
#include "SxProvider.h"
#include "SxIconList.h"
#include "SxPmtDataModule.h"
#include "SxException.h"
#include "SxExplorerMenu.h"
#include "uvrqLauncher.h"

#include <windows.h>

class TApplicationEnviroment;
class TVirtualFileStorage;
class TLogger;
class TvrqDialog;
class TSystemIcon;
struct TVirtualFileRecord;
struct TElementProperties;

// How long a failed connection check waits before it starts the tray program again (5 s; tests
// shorten it). Also forgets the last start.
void SetTrayStartPause(unsigned milliseconds);

class TvrqmodPermanent : public TSxPermanentModule, public ISxProviderHolder, public ISxMenuItemHolder {
public:
    TvrqmodPermanent();
    ~TvrqmodPermanent() override;

    // The live module of the process, or nullptr before the folder was first reached.
    static TvrqmodPermanent* Instance();

    TSxCustomProvider* FindProvider(const std::string& name) override;
    // The items the folder's toolbar names (miRefresh, miNewFolder, ...).
    TSxBaseMenuItem* FindMenuItem(const std::string& name) override;

    // Components.
    TSxPopupMenu mnuSpezial, mnuFileFolder;
    TSxBaseMenuItem* miRefresh = nullptr;
    TSxBaseMenuItem* miNew = nullptr;
    TSxBaseMenuItem* miNewFolder = nullptr;
    TSxBaseMenuItem* miEmptyRecycleBin = nullptr;
    TSxIconList imgFolderIconListBig, imgFolderIconListSmall;
    HIMAGELIST imgContextMenu = nullptr;  // the menu images, 12 x 12 (owned)
    TSxByHandProvider sxVrqProvider;
    TSxExceptionController sxVrqExceptionControl;

    std::unique_ptr<TApplicationEnviroment> Env;
    std::unique_ptr<TVirtualFileStorage> Storage;
    std::unique_ptr<TLogger> Logger;

    static bool IsSpecialFolder(const std::string& name, bool& isProtected);
    // The tray program runs and the settings say connected; when not, the tray program is started
    // (at most once in a few seconds, through the shell: it asks for administrator rights) and false
    // is returned. A start that failed or whose elevation prompt the user refused is logged, and
    // told when userActed (a command of the user, not a question Explorer asks on its own).
    bool CheckMainAppConnection(bool userActed = false);
    void CheckMyName();
    // Lists the server folder again into the mirror (clearCache: the folder's mirror directory is
    // replaced by the new listing, never emptied before it is complete) and tells the open views.
    // False, with the mirror as it was, when the listing failed or was cancelled.
    bool ReloadFolder(const std::string& path, bool clearCache, int32_t depth);
    bool ReloadFolder(const std::string& path, bool clearCache, int32_t depth, TvrqDialog& dialog);
    bool ReloadAll(bool statistics, TvrqDialog& dialog);
    void miRefreshClick();

    // Provider handlers.
    void sxVrqProviderPopulate(TSxByHandDataGrain& folder, TSxDataGrainList& list);
    void sxVrqProviderGetGrainTempPath(TSxCustomDataGrain& grain, std::string& tempPath);
    void sxVrqProviderGetGrainFileInfo(TSxCustomDataGrain& grain, TSxFileInfoDescriptor& info);
    void sxVrqProviderValidateDataGrain(TSxCustomDataGrain& grain, bool& valid);
    void sxVrqProviderPrepareGrainApperance(TSxCustomDataGrain& grain, TSxPrepareIconParams& params);
    void sxVrqProviderGetIcon(TSxCustomDataGrain& grain, int32_t& iconIndex, int32_t& openIconIndex);
    void sxVrqProviderGetInfoTip(TSxCustomDataGrain& grain, std::string& infoTip);
    void sxVrqProviderGrainOpen(TSxCustomDataGrain& grain, std::string& command, std::string& parameters,
                                std::string& directory);
    void sxVrqProviderGetGrainFileContents(TSxCustomDataGrain& grain, TSxMemoryStream& stream);
    void sxVrqProviderGetDataGrainThumb(TSxCustomDataGrain& grain, HBITMAP& thumb);
    void sxVrqProviderPreparePropertySheets(TSxCustomDataGrain& grain, TSxCustomNamespacePropSheet*& sheets);
    // What the properties dialog of a grain shows; the icon object keeps the dialog's icon.
    TElementProperties ElementPropertiesOf(TSxCustomDataGrain& grain, TSystemIcon& icon);

    // Thumbnails: the local picture and bitmap of a server file, and their fetch.
    std::string ThumbJpegOf(const std::string& serverPath) const;
    std::string ThumbBitmapOf(const std::string& serverPath) const;
    void LoadThumbnails(const std::string& folderPath, const std::vector<std::string>& recordFiles);
    void LoadThumbnail(const std::string& filePath, const std::string& recordFile);
    // Where open puts the document of a server file ("Open\<slot>\<name>").
    std::string OpenFileOf(const std::string& serverPath) const;
    // The server path of a grain's "vFilePath" (the mirror root taken off).
    std::string ServerPathOf(const std::string& filePath) const;

    // The mirror record of a grain's record file (an initialised record when it is missing).
    TVirtualFileRecord ReadRecord(const std::string& recordFile);
    // The absolute item ID list of a server folder below the root (nullptr before the folder was
    // reached): the grains populate makes for each of its folders.
    TSxPidlPtr FolderPidl(const std::string& serverFolder);

    // ---- Write path: rename, new folder, delete into the trash, emptying it, drop and paste.
    // Every change is asked of the server first; the mirror and the views follow only what the
    // server did, and every refusal reaches the user.
    void sxVrqProviderRenameDataGrain(TSxCustomDataGrain& parent, TSxCustomDataGrain& grain, std::string& newName,
                                      bool& performRename);
    void sxVrqProviderCreateNewFolder(TSxCustomDataGrain& owner, const std::string& newFolderName,
                                      std::unique_ptr<TSxCustomDataGrain>& newFolder);
    void miNewFolderClickGrain(TSxCustomDataGrain& folder);
    void sxVrqProviderConfirmDelete(TSxDataGrainList& grains, HWND ownerWindow, bool& allowDelete);
    void sxVrqProviderHandleDelete(TSxCustomDataGrain& grain);
    void miEmptyRecycleBinClickGrain(TSxCustomDataGrain& trash);
    void sxVrqProviderGetFolderContextMenu(TSxCustomDataGrain& folder);
    void sxVrqProviderBeforeDrop(TSxCustomDataGrain& folder, bool& allowDrop);
    void sxVrqProviderAfterDrop(TSxCustomDataGrain& folder);
    void sxVrqProviderQueryDataGrainDrop(TSxCustomDataGrain& target, bool& allowDrop);
    void sxVrqProviderNewGrainFromFileEx2(TSxCustomDataGrain& folder, const std::string& fileName,
                                          std::unique_ptr<TSxCustomDataGrain>& newGrain, TSxDropInfo& dropInfo,
                                          int remainingFiles, bool& cont);
    void sxVrqProviderDataGrainDropEx(TSxCustomDataGrain& folder, TSxCustomDataGrain& grain, TSxDropInfo& dropInfo);
    void sxVrqProviderGrainMoved(TSxDataGrainList& grains);
    void sxVrqProviderConfirmOverwriteFolder(TSxCustomDataGrain& folder, bool& allowOverwrite);
    // The server path of a grain ("" for the root), without a final "\".
    std::string ServerPathOf(const TSxCustomDataGrain& grain) const;

private:
    void BindWritePath();
    // Deletes one item for good or moves it into the trash; true when the server did it (the
    // mirror then follows). A refusal is told to the user and leaves the mirror as it was.
    bool DeleteItem(TSxCustomDataGrain& grain, bool permanent, TvrqDialog& dialog);
    // The mirror after the server moved or renamed a folder from oldPath to newPath: its directory
    // moves along, its own record and every record below it carry the new path.
    void MoveMirrorFolder(const std::string& oldPath, const std::string& newPath);
    // Open documents whose server item was renamed or moved: their sidecars follow, so a later save
    // goes to where the file now is.
    void MoveOpenSidecars(const std::string& oldPath, const std::string& newPath);
    // The one delete confirmed last: what may be deleted and whether for good. Each item is taken
    // once; nothing else deletes a server item.
    struct TConfirmedDelete {
        std::vector<std::string> Paths;
        bool Permanent = false;
    } ConfirmedDelete;

    // One drop or paste: the replace answer kept across its items (start 6), its progress window,
    // and the sources whose own copy the server made (source, target), which alone a following
    // move completion may delete.
    int Answer = 6;
    std::unique_ptr<TvrqDialog> DropDialog;
    std::vector<std::pair<std::string, std::string>> DropCopied;
    // Server files whose whole content was just handed to a target outside the folder (a drag
    // or paste out); a move reported by that target may delete them.
    // (Contents are asked on any window's thread: the set has a lock of its own, held only while
    // it is read or changed.)
    std::set<std::string> DeliveredOut;
    std::mutex DeliveredOutLock;
    void NoteDeliveredOut(const std::string& path);
    bool TakeDeliveredOut(const std::string& path);
    bool IsDeliveredOut(const std::string& path);
    // True when every file the server holds below folder now was handed out; those leave the set.
    bool FolderHandedOut(const std::string& folder, TvrqDialog& dialog);
    TvrqDialog& TheDropDialog();
    // The grain of a file just stored at serverPath with its record file.
    std::unique_ptr<TSxCustomDataGrain> MakeFileGrain(const std::string& serverPath, const std::string& recordFile);

    std::unique_ptr<TSxCustomDataGrain> MakeFolderGrain(const std::string& parentPath, const std::string& directory,
                                                        const std::string& entryName, const std::string& name);
    void TellViews(const std::string& serverFolder);
    void LogError(const std::string& text);
    void LogDebug(const std::string& text);
};
#endif
