// The write path: rename, new folder, delete into the trash and emptying it.
#include "uvrqmodPermanent.h"
#include "uvrqmodWritePath.h"

#include "uGLBConst.h"
#include "uGLBTools.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"
#include "uvrqmodTools.h"

#include <algorithm>

namespace {

bool IsInTrash(const std::string& serverPath)
{
    const size_t slash = serverPath.find('\\');
    return SameTextAscii(serverPath.substr(0, slash), TrashFolderName);
}

// path re-based from oldPath to newPath when it is oldPath or lies below it.
bool Rebase(std::string& path, const std::string& oldPath, const std::string& newPath)
{
    if (path == oldPath) {
        path = newPath;
        return true;
    }
    if (path.size() > oldPath.size() && path.compare(0, oldPath.size() + 1, oldPath + "\\") == 0) {
        path = newPath + path.substr(oldPath.size());
        return true;
    }
    return false;
}

} // namespace

std::string JoinServer(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : shl_WithoutSlash(folder) + "\\" + name;
}

// A server item's address for the requests: folders with their final "\".
std::string ItemPath(const std::string& serverPath, bool isFolder)
{
    return isFolder ? shl_WithSlash(serverPath) : serverPath;
}

// Whether the server holds an item at serverPath; a folder is also asked for with its final "\".
TItemState ServerItemState(TWEBDAVClient& client, const std::string& serverPath, bool isFolder)
{
    const TItemState state = client.ItemState(serverPath);
    if (!isFolder || state == TItemState::There)
        return state;
    const TItemState folder = client.ItemState(shl_WithSlash(serverPath));
    return folder == TItemState::Absent ? state : folder;
}

void TvrqmodPermanent::MoveMirrorFolder(const std::string& oldPath, const std::string& newPath)
{
    // A mirror that could not follow whole is listed anew from the server.
    if (!Storage->MoveFolder(oldPath, newPath)) {
        LogError("MoveMirrorFolder: the mirror of \"" + oldPath + "\" did not follow whole; \"" + newPath +
                 "\" is listed anew");
        ReloadFolder(newPath, true, -1);
    }
}

void TvrqmodPermanent::MoveOpenSidecars(const std::string& oldPath, const std::string& newPath)
{
    if (!Env || Env->Open.empty())
        return;
    ForEachFileBelow(Env->Open, [&](const std::string& file) {
        try {
            if (!EndsWithAscii(file, ".sxc"))
                return;
            TVirtualFileRecord record;
            Storage->LoadVirtualFileStorageFromFile(file, record);
            std::string full = JoinServer(record.Path, record.Name);
            if (!Rebase(full, oldPath, newPath))
                return;
            // Its time marks what the server has of the document: it stays.
            if (!Storage->WriteSidecar(file.substr(0, file.size() - 4), record, full, shl_FileLastWrite(file)))
                throw std::runtime_error("cannot write " + file);
        } catch (const std::exception& e) {
            LogError(std::string("MoveOpenSidecars: ") + e.what());
        }
    });
}

void TvrqmodPermanent::sxVrqProviderRenameDataGrain(TSxCustomDataGrain&, TSxCustomDataGrain& grain,
                                                    std::string& newName, bool& performRename)
{
    performRename = false;
    TBusyCursor busy;
    TvrqDialog dialog;
    try {
        if (!shl_IsValidFileName(newName) || newName.empty() || newName.size() > vfrMaxText) {
            dialog.ShowWarning(Txt(83), Txt(66));
            return;
        }
        // The item's own veto holds whoever asks (Explorer offers no rename for it): the
        // special folders keep their names on the server.
        if (grain.GetValue("vCanDelete") != "1") {
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(62), grain.Name));
            return;
        }
        if (newName == grain.Name) {
            performRename = true;
            return;
        }
        if (!CheckMainAppConnection(true))
            return;
        ConfirmedDelete = {};
        TWEBDAVClient client;
        const std::string oldPath = ServerPathOf(grain);
        if (oldPath.empty())
            throw std::runtime_error("the item \"" + grain.Name + "\" has no server path");
        const std::string newPath = JoinServer(FolderPartOf(oldPath), newName);
        const bool isFolder = !grain.IsFile;
        LogDebug("Rename: \"" + grain.Name + "\" to \"" + newName + "\"");
        // A differently cased name of the same item is no clash.
        const TItemState state =
            SameText(newPath, oldPath) ? TItemState::Absent : ServerItemState(client, newPath, isFolder);
        if (state == TItemState::There) {
            dialog.ShowWarning(Txt(83), Txt(63));
            return;
        }
        if (state == TItemState::Unknown) {
            LogError("Rename: the server did not tell whether \"" + newPath + "\" exists; nothing is renamed");
            dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht umbenannt werden.",
                                                        "\"%s\" cannot be renamed."),
                                                   grain.Name));
            return;
        }
        if (!client.Rename(ItemPath(oldPath, isFolder), ItemPath(newPath, isFolder))) {
            LogError("Rename: the server refused to rename \"" + oldPath + "\" to \"" + newPath + "\"");
            dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht umbenannt werden.",
                                                        "\"%s\" cannot be renamed."),
                                                   grain.Name));
            return;
        }
        performRename = true;
        const std::string cacheName = grain.GetValue("vCacheName");
        if (grain.IsFile) {
            if (Storage->MoveFileRecord(cacheName, newPath).empty())
                LogError("Rename: the mirror record of \"" + newPath + "\" could not be written");
            grain.SetValue("vFilePath", shl_WithSlash(Env->Cache) + newPath);
        } else {
            MoveMirrorFolder(oldPath, newPath);
            grain.SetValue("vFilePath", shl_WithSlash(Env->Cache) + newPath + "\\");
            grain.SetValue("vCacheName", Storage->FolderDirectory(newPath));
        }
        MoveOpenSidecars(oldPath, newPath);
    } catch (const std::exception& e) {
        LogError(std::string("RenameDataGrain: ") + e.what());
        if (!performRename)
            dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht umbenannt werden.",
                                                        "\"%s\" cannot be renamed."),
                                                   grain.Name));
    }
}

void TvrqmodPermanent::sxVrqProviderCreateNewFolder(TSxCustomDataGrain& owner, const std::string& newFolderName,
                                                    std::unique_ptr<TSxCustomDataGrain>& newFolder)
{
    newFolder.reset();
    TBusyCursor busy;
    TvrqDialog dialog;
    try {
        LogDebug("CreateNewFolder: \"" + newFolderName + "\"");
        if (!CheckMainAppConnection(true))
            return;
        if (!shl_IsValidFileName(newFolderName) || newFolderName.empty() || newFolderName.size() > vfrMaxText) {
            dialog.ShowWarning(Txt(83), Txt(66));
            return;
        }
        TWEBDAVClient client;
        const std::string parentPath = ServerPathOf(owner);
        const std::string path = JoinServer(parentPath, newFolderName);
        if (!client.MakeDir(shl_WithSlash(path))) {
            const bool there = client.FileExists(shl_WithSlash(path));
            LogError("CreateNewFolder: the server did not make \"" + path + "\"");
            dialog.ShowWarning(Txt(83), there ? Txt(61)
                                              : FormatTableText(Pair("Der Ordner \"%s\" konnte nicht erstellt werden.",
                                                                "The folder \"%s\" cannot be created."),
                                                           newFolderName));
            return;
        }
        if (!Storage->MakeFolder(path))
            LogError("CreateNewFolder: the mirror of \"" + path + "\" could not be written");
        const std::string directory = Storage->FolderDirectory(path);
        // The folder can be renamed and deleted at once, as Explorer offers right after making it.
        newFolder = MakeFolderGrain(shl_WithSlash(Env->Cache) + (parentPath.empty() ? "" : parentPath + "\\"),
                                    FolderPartOf(shl_WithoutSlash(directory)), NamePartOf(shl_WithoutSlash(directory)),
                                    newFolderName);
        sxVrqProvider.NotifyGrainCreated(owner, *newFolder);
    } catch (const std::exception& e) {
        newFolder.reset();
        LogError(std::string("CreateNewFolder: ") + e.what());
        dialog.ShowWarning(Txt(83), FormatTableText(Pair("Der Ordner \"%s\" konnte nicht erstellt werden.",
                                                    "The folder \"%s\" cannot be created."),
                                               newFolderName));
    }
}

void TvrqmodPermanent::miNewFolderClickGrain(TSxCustomDataGrain& folder)
{
    try {
        if (!CheckMainAppConnection(true))
            return;
        const std::string parentPath = ServerPathOf(folder);
        const std::string directory = Storage->FolderDirectory(parentPath);
        auto taken = [&](const std::string& name) {
            return shl_DirectoryExists(directory + TVirtualFileStorage::EncodePath(name));
        };
        std::string name = Txt(1);
        for (unsigned n = 1; taken(name); ++n)
            name = Txt(1) + " " + std::to_string(n);
        TvrqDialog dialog;
        if (dialog.AskNewFolderName(name) != mrOk)
            return;
        if (!shl_IsValidFileName(name) || name.empty()) {
            dialog.ShowWarning(Txt(83), Txt(66));
            return;
        }
        if (taken(name)) {
            dialog.ShowWarning(Txt(83), Txt(61));
            return;
        }
        std::unique_ptr<TSxCustomDataGrain> created;
        sxVrqProvider.CreateNewFolder(folder, name, created);
    } catch (const std::exception& e) {
        LogError(std::string("NewFolderClickGrain: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderConfirmDelete(TSxDataGrainList& grains, HWND, bool& allowDelete)
{
    allowDelete = false;
    ConfirmedDelete = {};
    try {
        if (grains.Count() == 0)
            return;
        TvrqDialog dialog;
        // Each item's own veto: a protected folder stays wherever it stands in the selection.
        for (int i = 0; i < grains.Count(); ++i) {
            TSxCustomDataGrain& grain = *grains.GetItem(i);
            if (grain.GetValue("vCanDelete") != "1") {
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" darf nicht gelöscht werden.",
                                                            "\"%s\" cannot be deleted."),
                                                       grain.Name));
                return;
            }
        }
        if (!CheckMainAppConnection(true))
            return;
        TSxCustomDataGrain& first = *grains.First();
        bool permanent = IsShiftPressed() || IsInTrash(ServerPathOf(first));
        int answer;
        if (grains.Count() > 1)
            answer = dialog.ConfirmDeleteItems(grains.Count(), permanent);
        else if (first.IsFile)
            answer = dialog.ConfirmDeleteFile(first.Name, permanent);
        else
            answer = dialog.ConfirmDeleteFolder(first.Name, permanent);
        allowDelete = answer == mrYes;
        if (!allowDelete)
            return;
        for (int i = 0; i < grains.Count(); ++i)
            ConfirmedDelete.Paths.push_back(ServerPathOf(*grains.GetItem(i)));
        ConfirmedDelete.Permanent = permanent;
    } catch (const std::exception& e) {
        allowDelete = false;
        ConfirmedDelete = {};
        LogError(std::string("ConfirmDelete: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderHandleDelete(TSxCustomDataGrain& grain)
{
    LogDebug("HandleDelete: \"" + grain.Name + "\"");
    // Only what the user confirmed just now is deleted, each item once; anything else asking
    // (a temporary copy that vanished, a repeated call) leaves the server item alone.
    const std::string path = ServerPathOf(grain);
    auto confirmed = std::find(ConfirmedDelete.Paths.begin(), ConfirmedDelete.Paths.end(), path);
    if (path.empty() || confirmed == ConfirmedDelete.Paths.end()) {
        LogError("HandleDelete: \"" + path + "\" was not confirmed for deletion; the server item stays");
        throw EProviderException("HandleDelete: not confirmed");
    }
    ConfirmedDelete.Paths.erase(confirmed);
    TvrqDialog dialog;
    if (!DeleteItem(grain, ConfirmedDelete.Permanent, dialog))
        throw EProviderException("HandleDelete: \"" + path + "\" was not deleted");
}

bool TvrqmodPermanent::DeleteItem(TSxCustomDataGrain& grain, bool permanent, TvrqDialog& dialog)
{
    TBusyCursor busy;
    const std::string path = ServerPathOf(grain);
    auto refused = [&](const std::string& why) {
        LogError("HandleDelete: \"" + path + "\": " + why);
        dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht gelöscht werden.",
                                                    "\"%s\" cannot be deleted."),
                                               grain.Name));
        return false;
    };
    try {
        if (!CheckMainAppConnection())
            return false;
        if (path.empty() || grain.GetValue("vCanDelete") != "1")
            return refused("the item may not be deleted");
        const bool isFolder = !grain.IsFile;
        const std::string cacheName = grain.GetValue("vCacheName");
        TWEBDAVClient client;
        if (permanent || IsInTrash(path)) {
            if (!client.Delete(ItemPath(path, isFolder)))
                return refused("the server refused the delete");
            Storage->RemoveItem(cacheName, isFolder);
            return true;
        }
        // Into the trash, made on the first delete on the server and in the mirror.
        const std::string trash = TrashFolderName;
        if (!client.FileExists(shl_WithSlash(trash)) && !client.MakeDir(shl_WithSlash(trash)))
            return refused("the folder \"" + trash + "\" cannot be made");
        const std::string trashDirectory = Storage->FolderDirectory(trash);
        if (!shl_DirectoryExists(trashDirectory))
            Storage->MakeFolder(trash);
        // A name the trash holds already gets the next free copy name; nothing there is replaced.
        const std::string target = client.GetUniquePath(trash, grain.Name);
        if (target.empty())
            return refused("no free name in the trash");
        if (!client.Move(ItemPath(path, isFolder), ItemPath(target, isFolder), dialog))
            return refused("the server refused the move into the trash");
        if (isFolder) {
            MoveMirrorFolder(path, target);
        } else if (Storage->MoveFileRecord(cacheName, target).empty()) {
            // The server moved it: the mirror must not show it at its old place.
            LogError("HandleDelete: the mirror record of \"" + target + "\" could not be written");
            Storage->RemoveItem(cacheName, false);
        }
        MoveOpenSidecars(path, target);
        TellViews(trash);
        return true;
    } catch (const std::exception& e) {
        return refused(e.what());
    }
}

void TvrqmodPermanent::miEmptyRecycleBinClickGrain(TSxCustomDataGrain& trash)
{
    TvrqDialog dialog;
    try {
        LogDebug("EmptyRecycleBin: \"" + trash.Name + "\"");
        if (!CheckMainAppConnection(true))
            return;
        auto* folder = dynamic_cast<TSxByHandDataGrain*>(&trash);
        if (!folder || !IsInTrash(ServerPathOf(trash)))
            return;
        TSxDataGrainList children;
        sxVrqProviderPopulate(*folder, children);
        TBusyCursor busy;
        if (children.Count() == 0)
            return;
        bool permanent = true;
        if (dialog.ConfirmDeleteItems(children.Count(), permanent) != mrYes)
            return;
        dialog.Progress.Start(Txt(85), children.Count() + 1, true);
        for (int i = 0; i < children.Count(); ++i) {
            TSxCustomDataGrain& child = *children.GetItem(i);
            child.PlaceUnder(trash);
            dialog.Progress.SetDetail(child.Name);
            if (DeleteItem(child, true, dialog))
                sxVrqProvider.NotifyGrainDeleted(child);
            dialog.Progress.StepBy(1);
            if (dialog.Progress.Cancelled())
                break;
        }
        ReloadFolder(TrashFolderName, true, -1, dialog);
        dialog.Progress.StepBy(1);
        sxVrqProvider.NotifyGrainUpdated(trash);
    } catch (const std::exception& e) {
        LogError(std::string("EmptyRecycleBin: ") + e.what());
    }
    dialog.Progress.Close();
}

void TvrqmodPermanent::sxVrqProviderGetFolderContextMenu(TSxCustomDataGrain& folder)
{
    if (!miEmptyRecycleBin || !miNew)
        return;
    const std::string path = ServerPathOf(folder);
    miEmptyRecycleBin->Visible = !path.empty() && path == TrashFolderName;
    miNew->Visible = !miEmptyRecycleBin->Visible;
}
