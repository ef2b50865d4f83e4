// Drop and paste: upload, copy and move, and what a target outside the folder took.
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

TvrqDialog& TvrqmodPermanent::TheDropDialog()
{
    if (!DropDialog)
        DropDialog = std::make_unique<TvrqDialog>();
    return *DropDialog;
}

std::unique_ptr<TSxCustomDataGrain> TvrqmodPermanent::MakeFileGrain(const std::string& serverPath,
                                                                     const std::string& recordFile)
{
    auto grain = sxVrqProvider.CreateGrain();
    grain->Name = NamePartOf(serverPath);
    grain->IsFile = true;
    grain->SetValue("vFilePath", shl_WithSlash(Env->Cache) + serverPath);
    grain->SetValue("vCacheName", recordFile);
    grain->SetValue("vCanDelete", "1");
    grain->SetValue("vUseSystemIcon", "1");
    return grain;
}

void TvrqmodPermanent::sxVrqProviderBeforeDrop(TSxCustomDataGrain&, bool&)
{
    SetBusyCursor(true);
    Answer = mrYes;
    DropCopied.clear();
    ConfirmedDelete = {};
    DropDialog.reset();
}

void TvrqmodPermanent::sxVrqProviderAfterDrop(TSxCustomDataGrain&)
{
    SetBusyCursor(false);
    Answer = mrYes;
    DropDialog.reset();   // closes the progress window
}

void TvrqmodPermanent::sxVrqProviderQueryDataGrainDrop(TSxCustomDataGrain& target, bool& allowDrop)
{
    allowDrop = !target.IsFile;
}

void TvrqmodPermanent::sxVrqProviderNewGrainFromFileEx2(TSxCustomDataGrain& folder, const std::string& fileName,
                                                        std::unique_ptr<TSxCustomDataGrain>& newGrain, TSxDropInfo&,
                                                        int remainingFiles, bool& cont)
{
    newGrain.reset();
    TBusyCursor busy;
    try {
        if (!CheckMainAppConnection(true)) {
            cont = false;
            return;
        }
        LogDebug("NewGrainFromFileEx2: \"" + fileName + "\"");
        TvrqDialog& dialog = TheDropDialog();
        TWEBDAVClient client;
        cont = true;
        if (Answer == mrNo)
            Answer = mrYes;   // a No holds for its own file only
        const std::string name = shl_ExtractFileName(fileName);
        const std::string folderPath = ServerPathOf(folder);
        const std::string target = JoinServer(folderPath, name);
        const TItemState state = client.ItemState(target);
        if (state == TItemState::Unknown) {
            // The server did not say whether it holds a file of that name: nothing is sent over it.
            LogError("NewGrainFromFileEx2: the server did not tell whether \"" + target + "\" exists; \"" +
                     fileName + "\" is not sent");
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
        } else if (state == TItemState::There) {
            if (!TvrqDialog::IsFinalAnswer(Answer))
                Answer = dialog.ConfirmReplaceFileAll(name);
        }
        if (state != TItemState::Unknown && TvrqDialog::IsPositiveAnswer(Answer)) {
            int32_t position = 0, maximum = 0;
            dialog.Progress.GetState(position, maximum);
            if (remainingFiles >= maximum)
                dialog.Progress.Start(Txt(84), remainingFiles, false);
            dialog.Progress.SetDetail(fileName);
            // The PUT replaces a file of that name; nothing is deleted before it.
            if (client.Upload(fileName, target, dialog)) {
                const std::string recordFile = Storage->AddUploadedFile(target, fileName);
                if (recordFile.empty())
                    LogError("NewGrainFromFileEx2: the mirror record of \"" + target + "\" could not be written");
                newGrain = MakeFileGrain(target, recordFile);
                sxVrqProvider.NotifyGrainUpdated(folder);
                // Cancel ends the drop; what is stored stays.
                if (dialog.Progress.Cancelled())
                    cont = false;
            } else {
                LogError("NewGrainFromFileEx2: the upload of \"" + fileName + "\" to \"" + target + "\" failed");
                dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
                if (dialog.Progress.Cancelled())
                    cont = false;
            }
        }
    } catch (const std::exception& e) {
        LogError(std::string("NewGrainFromFileEx2 GLOBAL: ") + e.what() + " Filename: " + fileName);
        TheDropDialog().ShowWarning(Txt(83), FormatTableText(Txt(64), shl_ExtractFileName(fileName)));
    }
    if (Answer == mrCancel)
        cont = false;
}

void TvrqmodPermanent::sxVrqProviderDataGrainDropEx(TSxCustomDataGrain& folder, TSxCustomDataGrain& grain,
                                                    TSxDropInfo& dropInfo)
{
    // Unless the server made the copy, a move completion must leave the source alone.
    const TSxDropEffects copyOnly = SxDropCopy;
    const bool wantsMove = (dropInfo.Effect & SxDropMove) != 0;
    TBusyCursor busy;
    std::string name = grain.Name;
    try {
        if (!CheckMainAppConnection(true)) {
            dropInfo.Effect = copyOnly;
            return;
        }
        TvrqDialog& dialog = TheDropDialog();
        if (!TvrqDialog::IsFinalAnswer(Answer))
            Answer = mrYes;
        const bool isFolder = !grain.IsFile;
        const std::string source = ServerPathOf(grain);
        const std::string targetFolder = ServerPathOf(folder);
        if (source.empty()) {
            dropInfo.Effect = copyOnly;
            return;
        }
        // A folder onto itself or into its own subtree: nothing, silently.
        if (isFolder && (targetFolder == source || targetFolder.rfind(source + "\\", 0) == 0)) {
            dropInfo.Effect = copyOnly;
            return;
        }
        bool isProtected = false;
        if (isFolder && IsSpecialFolder(name, isProtected) && isProtected) {
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(62), name));
            dropInfo.Effect = copyOnly;
            return;
        }
        TWEBDAVClient client;
        const std::string target = JoinServer(targetFolder, name);
        bool ok = false;
        std::string made;   // where the copy went
        if (target == source) {
            dropInfo.Effect = copyOnly;
            if (wantsMove)
                return;   // a move onto its own place
            made = client.GetUniquePath(targetFolder, name);
            ok = !made.empty() && client.Copy(ItemPath(source, isFolder), ItemPath(made, isFolder), dialog);
        } else {
            const TItemState state = ServerItemState(client, target, isFolder);
            if (state == TItemState::Unknown) {
                // Whether the target is taken is not known: nothing is copied over it.
                LogError("DataGrainDropEx: the server did not tell whether \"" + target + "\" exists; \"" + source +
                         "\" is not copied");
                dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
                dropInfo.Effect = copyOnly;
                return;
            }
            const bool exists = state == TItemState::There;
            if (exists && isFolder) {
                // A copy onto a folder would replace it whole on the server: refused, nothing lost.
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("Der Ordner \"%s\" ist dort bereits vorhanden und wird nicht ersetzt.",
                                                            "The folder \"%s\" is there already and is not replaced."),
                                                       name));
                dropInfo.Effect = copyOnly;
                return;
            }
            if (exists && !TvrqDialog::IsFinalAnswer(Answer))
                Answer = dialog.ConfirmReplaceFile(name);
            if (!TvrqDialog::IsPositiveAnswer(Answer)) {
                dropInfo.Effect = copyOnly;
                return;
            }
            made = target;
            ok = client.Copy(ItemPath(source, isFolder), ItemPath(target, isFolder), dialog, exists);
        }
        if (!ok) {
            LogError("DataGrainDropEx: the server did not copy \"" + source + "\" to \"" + made + "\"");
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
            dropInfo.Effect = copyOnly;
            return;
        }
        const std::string madeFolder = shl_WithoutSlash(FolderPartOf(made));
        if (isFolder) {
            ReloadFolder(made, true, -1, dialog);
        } else {
            if (Storage->CopyFileRecord(grain.GetValue("vCacheName"), made).empty())
                LogError("DataGrainDropEx: the mirror record of \"" + made + "\" could not be written");
        }
        sxVrqProvider.NotifyGrainUpdated(folder);
        TellViews(madeFolder);
        if (target != source && wantsMove)
            DropCopied.emplace_back(source, made);
    } catch (const std::exception& e) {
        LogError(std::string("DataGrainDropEx: ") + e.what());
        dropInfo.Effect = copyOnly;
        TheDropDialog().ShowWarning(Txt(83), FormatTableText(Txt(64), name));
    }
}

void TvrqmodPermanent::sxVrqProviderGrainMoved(TSxDataGrainList& grains)
{
    LogDebug("GrainMoved: Items=" + std::to_string(grains.Count()));
    TBusyCursor busy;
    TvrqDialog dialog;
    for (int i = 0; i < grains.Count(); ++i) {
        TSxCustomDataGrain& grain = *grains.GetItem(i);
        try {
            const std::string source = ServerPathOf(grain);
            const bool isFolder = !grain.IsFile;
            auto copied = std::find_if(DropCopied.begin(), DropCopied.end(),
                                       [&](const auto& pair) { return pair.first == source; });
            // Only a source whose own copy the server made in this drop goes, or what a target
            // outside took in whole.
            const bool handedOut = copied == DropCopied.end() && !source.empty() &&
                                   (isFolder ? FolderHandedOut(source, dialog) : TakeDeliveredOut(source));
            if (source.empty() || (copied == DropCopied.end() && !handedOut) || grain.GetValue("vCanDelete") != "1") {
                LogError("GrainMoved: \"" + source + "\" was not copied; it stays");
                continue;
            }
            std::string target;
            if (copied != DropCopied.end()) {
                target = copied->second;
                DropCopied.erase(copied);
            }
            TWEBDAVClient client;
            if (!client.Delete(ItemPath(source, isFolder))) {
                LogError("GrainMoved: the server did not delete \"" + source + "\"");
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht gelöscht werden.",
                                                            "\"%s\" cannot be deleted."),
                                                       grain.Name));
                continue;
            }
            Storage->RemoveItem(grain.GetValue("vCacheName"), isFolder);
            if (!target.empty())
                MoveOpenSidecars(source, target);
            sxVrqProvider.NotifyGrainDeleted(grain);
            TellViews(shl_WithoutSlash(FolderPartOf(source)));
        } catch (const std::exception& e) {
            LogError(std::string("GrainMoved: ") + e.what());
        }
    }
}

bool TvrqmodPermanent::FolderHandedOut(const std::string& folder, TvrqDialog& dialog)
{
    // The server's tree as it is now, not as it was listed when the drag began: a file another
    // client put there since was never handed over, and the folder must then stay.
    if (!Storage || !ReloadFolder(folder, true, -1, dialog))
        return false;
    std::vector<std::string> files;
    bool whole = true;
    ForEachFileBelow(Storage->FolderDirectory(folder), [&](const std::string& file) {
        TVirtualFileRecord record;
        try {
            Storage->LoadVirtualFileStorageFromFile(file, record);
        } catch (const std::exception&) {
            whole = false;
            return;
        }
        if (record.IsFolder)
            return;
        const std::string path = JoinServer(record.Path, record.Name);
        if (IsDeliveredOut(path))
            files.push_back(path);
        else
            whole = false;
    });
    if (!whole) {
        LogError("GrainMoved: the folder \"" + folder + "\" holds files that were not handed over; it stays");
        return false;
    }
    for (const std::string& file : files)
        TakeDeliveredOut(file);
    return true;
}

void TvrqmodPermanent::sxVrqProviderConfirmOverwriteFolder(TSxCustomDataGrain& folder, bool& allowOverwrite)
{
    allowOverwrite = false;
    try {
        if (!CheckMainAppConnection())
            return;
        if (!TvrqDialog::IsFinalAnswer(Answer))
            Answer = TheDropDialog().ConfirmReplaceFolder(folder.Name);
        allowOverwrite = TvrqDialog::IsPositiveAnswer(Answer);
    } catch (const std::exception& e) {
        LogError(std::string("ConfirmOverwriteFolder: ") + e.what());
    }
}

void TvrqmodPermanent::NoteDeliveredOut(const std::string& path)
{
    std::lock_guard<std::mutex> guard(DeliveredOutLock);
    DeliveredOut.insert(path);
}

bool TvrqmodPermanent::TakeDeliveredOut(const std::string& path)
{
    std::lock_guard<std::mutex> guard(DeliveredOutLock);
    return DeliveredOut.erase(path) > 0;
}

bool TvrqmodPermanent::IsDeliveredOut(const std::string& path)
{
    std::lock_guard<std::mutex> guard(DeliveredOutLock);
    return DeliveredOut.count(path) > 0;
}
