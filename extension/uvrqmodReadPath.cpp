// The read path: the folder's listing from the mirror, the grains' values, icons and info tips,
// and the reload of server folders into the mirror.
#include "uvrqmodPermanent.h"

#include "SxNamespaceUtils.h"
#include "SxShellView.h"
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

std::unique_ptr<TSxCustomDataGrain> TvrqmodPermanent::MakeFolderGrain(const std::string& parentPath,
                                                                      const std::string& directory,
                                                                      const std::string& entryName,
                                                                      const std::string& name)
{
    auto grain = sxVrqProvider.CreateGrain();
    grain->Name = name;
    grain->IsFile = false;
    grain->SetValue("vFilePath", shl_WithSlash(parentPath) + name + "\\");
    grain->SetValue("vCacheName", directory + entryName + "\\");
    grain->SetValue("vCanDelete", "1");
    grain->SetValue("vUseSystemIcon", "1");
    bool isProtected = false;
    if (IsSpecialFolder(name, isProtected)) {
        grain->SetValue("vUseSystemIcon", "0");
        if (isProtected)
            grain->SetValue("vCanDelete", "0");
    }
    return grain;
}

void TvrqmodPermanent::sxVrqProviderPopulate(TSxByHandDataGrain& folder, TSxDataGrainList& list)
{
    try {
        if (!CheckMainAppConnection())
            return;
        CheckMyName();
        if (!Env || Env->UserPath.empty())
            throw std::runtime_error("no user path in the settings");
        const std::string cache = shl_WithSlash(Env->Cache);
        const std::string directory = folder.Root ? cache : shl_WithSlash(folder.GetValue("vCacheName"));
        std::string serverFolder = folder.Root ? cache : shl_WithSlash(folder.GetValue("vFilePath"));
        if (directory.empty() || serverFolder.empty())
            throw std::runtime_error("the folder \"" + folder.Name + "\" has no mirror place");

        WIN32_FIND_DATAW data;
        TFindHandle find(FindFirstFileExW(Utf8ToWide(directory + "*").c_str(), FindExInfoBasic, &data,
                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!find)
            throw std::runtime_error("cannot list " + directory + ": " + SysErrorMessage(GetLastError()));
        std::vector<std::string> files;
        do {
            const std::string entry = WideToUtf8(data.cFileName);
            if (entry == "." || entry == "..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                const std::string name = TVirtualFileStorage::DecodePath(entry);
                if (name.empty() || IsHiddenMirrorFolder(name))
                    continue;
                list.Add(MakeFolderGrain(serverFolder, directory, entry, name));
            } else {
                files.push_back(entry);
            }
        } while (FindNextFileW(find.get(), &data));

        for (const std::string& entry : files) {
            if (IsHiddenMirrorFile(entry, ""))
                continue;
            TVirtualFileRecord record;
            try {
                record = ReadRecord(directory + entry);
            } catch (const std::exception& e) {
                // One damaged record hides only its own item.
                LogError(std::string("Populate: ") + e.what());
                continue;
            }
            if (record.Name.empty() || record.IsFolder || IsHiddenMirrorFile(entry, record.Name))
                continue;
            auto grain = sxVrqProvider.CreateGrain();
            grain->Name = record.Name;
            grain->IsFile = true;
            grain->SetValue("vFilePath", serverFolder + record.Name);
            grain->SetValue("vCacheName", directory + entry);
            grain->SetValue("vCanDelete", "1");
            grain->SetValue("vUseSystemIcon", "1");
            list.Add(std::move(grain));
        }
    } catch (const std::exception& e) {
        LogError(std::string("Populate: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderGetGrainTempPath(TSxCustomDataGrain&, std::string& tempPath)
{
    if (Env)
        tempPath = Env->Temp;
}

void TvrqmodPermanent::sxVrqProviderGetGrainFileInfo(TSxCustomDataGrain& grain, TSxFileInfoDescriptor& info)
{
    const std::string cacheName = grain.GetValue("vCacheName");
    if (!grain.IsFile) {
        // A folder (dragged out): its name and the folder flag; announced gone only when its
        // mirror directory really went.
        if (!cacheName.empty() && !shl_DirectoryExists(cacheName)) {
            sxVrqProvider.NotifyGrainDeleted(grain);
            return;
        }
        info.DisplayName = grain.Name;
        info.IsFolder = true;
        info.Attributes = grain.Attributes;
        return;
    }
    if (!shl_FileExists(cacheName)) {
        sxVrqProvider.NotifyGrainDeleted(grain);
        return;
    }
    const TVirtualFileRecord record = ReadRecord(cacheName);
    info.Attributes = grain.Attributes;
    info.DisplayName = record.Name;
    info.TypeName = shl_GetFileTypeName(record.Name);
    info.Size = record.Size < 0 ? 0u : static_cast<uint64_t>(record.Size);
    info.CreationTime = info.LastAccessTime = info.LastWriteTime = record.LastModified;
    info.IsFolder = false;
    info.ShowProgress = true;
}

void TvrqmodPermanent::sxVrqProviderValidateDataGrain(TSxCustomDataGrain& grain, bool& valid)
{
    const std::string cacheName = grain.GetValue("vCacheName");
    valid = grain.IsFile ? shl_FileExists(cacheName) : shl_DirectoryExists(cacheName);
}

void TvrqmodPermanent::sxVrqProviderPrepareGrainApperance(TSxCustomDataGrain& grain, TSxPrepareIconParams& params)
{
    params.UseSystemIcon = grain.GetValue("vUseSystemIcon") == "1";
}

void TvrqmodPermanent::sxVrqProviderGetIcon(TSxCustomDataGrain& grain, int32_t& iconIndex, int32_t& openIconIndex)
{
    const int index = grain.IsFile ? -1 : SpecialFolderIndex(grain.Name, GetWindowsVersion());
    if (index < 0) {
        LogError("GetIcon: Invalid datagrain: " + grain.Name);
        return;
    }
    iconIndex = openIconIndex = index;
}

void TvrqmodPermanent::sxVrqProviderGetInfoTip(TSxCustomDataGrain& grain, std::string& infoTip)
{
    infoTip = grain.Name;
    try {
        if (GetWindowsVersion() <= 5 || !grain.IsFile)
            return;
        const TVirtualFileRecord record = ReadRecord(grain.GetValue("vCacheName"));
        infoTip = Txt(43) + ": " + shl_GetFileTypeName(grain.Name) + "\r\n" + Txt(45) + ": " +
                  DateTimeToText(record.LastModified) + "\r\n" + Txt(44) + ": " + FormatByteSize(record.Size);
    } catch (const std::exception& e) {
        infoTip = grain.Name;
        LogError(std::string("GetInfoTip: ") + e.what());
    }
}

// ---- Server folders and the views that show them

TSxPidlPtr TvrqmodPermanent::FolderPidl(const std::string& serverFolder)
{
    PCSxItemIDList root = sxVrqProvider.RootPidl();
    if (!root || !Env)
        return nullptr;
    TSxPidlPtr list(PIDLClone(root));
    std::string parentPath = shl_WithSlash(Env->Cache), directory = parentPath;
    const std::string path = shl_WithoutSlash(serverFolder);
    size_t start = 0;
    while (list && start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        const std::string entry = TVirtualFileStorage::EncodePath(name);
        auto grain = MakeFolderGrain(parentPath, directory, entry, name);
        TSxPidlPtr item = grain->GetItemID();
        list.reset(PIDLCombine(list.get(), item.get()));
        parentPath += name + "\\";
        directory += entry + "\\";
        start = end + 1;
    }
    return list;
}

void TvrqmodPermanent::TellViews(const std::string& serverFolder)
{
    try {
        if (TSxPidlPtr list = FolderPidl(serverFolder))
            NotifyShellChange(SHCNE_UPDATEDIR, SHCNF_IDLIST, list.get(), nullptr);
    } catch (const std::exception& e) {
        LogError(std::string("TellViews: ") + e.what());
    }
}

bool TvrqmodPermanent::ReloadFolder(const std::string& path, bool clearCache, int32_t depth)
{
    TvrqDialog dialog;
    return ReloadFolder(path, clearCache, depth, dialog);
}

bool TvrqmodPermanent::ReloadFolder(const std::string& path, bool clearCache, int32_t depth, TvrqDialog& dialog)
{
    try {
        TWEBDAVClient client;
        const std::string server = shl_WithoutSlash(client.StripCacheRoot(path));
        TListingAnswer answer;
        if (!client.GetContent(server, depth, dialog, answer)) {
            if (!dialog.Progress.Cancelled())
                dialog.ShowWarning(Txt(83), Txt(95));
            LogError("ReloadFolder: the listing of \"" + server + "\" failed; the mirror stays as it was");
            return false;
        }
        // The folder's old mirror goes aside and comes back unless the new listing is complete.
        auto translate = [&] { return client.TranslateXML(answer, false, dialog); };
        const bool ok = clearCache && !server.empty() && Storage ? Storage->RelistFolder(server, translate) : translate();
        if (!ok) {
            dialog.ShowWarning(Txt(83), Txt(95));
            LogError("ReloadFolder: the answer for \"" + server + "\" could not be read; the mirror stays as it was");
            return false;
        }
        TellViews(server);
        return true;
    } catch (const std::exception& e) {
        LogError(std::string("ReloadFolder: ") + e.what());
        return false;
    }
}

bool TvrqmodPermanent::ReloadAll(bool statistics, TvrqDialog& dialog)
{
    try {
        TWEBDAVClient client;
        dialog.Progress.ExtendBy(2);
        TListingAnswer answer;
        bool ok = client.GetContent("", -1, dialog, answer);
        if (ok) {
            dialog.Progress.StepBy(1);
            ok = client.TranslateXML(answer, statistics, dialog);
            dialog.Progress.StepBy(1);
        }
        if (!ok) {
            if (!dialog.Progress.Cancelled())
                dialog.ShowWarning(Txt(83), Txt(95));
            LogError("ReloadAll: the listing failed; the mirror stays as it was");
            return false;
        }
        TellViews("");
        return true;
    } catch (const std::exception& e) {
        LogError(std::string("ReloadAll: ") + e.what());
        return false;
    }
}

void TvrqmodPermanent::miRefreshClick()
{
    try {
        if (!CheckMainAppConnection(true))
            return;
        LogDebug("Refresh");
        TvrqDialog dialog;
        dialog.Progress.StartDefault();
        ReloadAll(true, dialog);
        dialog.Progress.Close();
    } catch (const std::exception& e) {
        LogError(std::string("RefreshClick: ") + e.what());
    }
}
