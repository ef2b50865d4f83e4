#include "SxProviderTransfer.h"

#include "SxTransferFormats.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "uTLogger.h"

#include <shellapi.h>
#include <shlobj.h>

#include <stdexcept>

DWORD SxOutcomeEffect(DWORD requested, const TSxDropOutcome& outcome)
{
    if (outcome.Arrived.empty())
        return DROPEFFECT_NONE;
    const bool whole = static_cast<int>(outcome.Arrived.size()) == outcome.Offered && !outcome.Cancelled;
    if ((requested & DROPEFFECT_MOVE) && whole && outcome.Moved.size() == outcome.Arrived.size())
        return DROPEFFECT_MOVE;
    if (requested & (DROPEFFECT_COPY | DROPEFFECT_MOVE))
        return DROPEFFECT_COPY;
    return requested & DROPEFFECT_LINK;
}

namespace {

DWORD ReportedDropEffect(const TSxDropInfo& info)
{
    return info.ReportedEffect();
}

// Sets the drop's effect from its outcome when the drop ends, also when a handler raises.
struct TOutcomeReport {
    DWORD& Effect;
    DWORD Requested;
    const TSxDropOutcome& Outcome;
    ~TOutcomeReport() { Effect = SxOutcomeEffect(Requested, Outcome); }
};

// Item index of a drop went to the provider: it arrived, as a move when the handler left move in
// its effect; false when the user has cancelled the rest.
bool ItemArrived(int index, const TSxDropInfo& info, TSxDropOutcome& outcome, TSxDropProgress& progress)
{
    outcome.Arrived.push_back(index);
    if (ReportedDropEffect(info) & DROPEFFECT_MOVE)
        outcome.Moved.push_back(index);
    progress.SetPosition(index + 1);
    if (!progress.HasUserCancelled())
        return true;
    outcome.Cancelled = true;
    return false;
}

TSxDateTime NowDateTime()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SxEncodeDateTime({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
}

// The FILETIME of a date-time as a 64-bit value; false for one Windows cannot represent.
bool FileTimeOf(TSxDateTime value, uint64_t& result)
{
    try {
        FILETIME ft;
        DateTimeToFileTime(value, ft);
        result = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        return true;
    } catch (const ESxToolsError&) {
        return false;
    }
}

TSxDateTime DateTimeOf(uint64_t value)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(value);
    ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return FileTimeToDateTime(ft);
}

std::string AnsiToUtf8(const std::string& text)
{
    if (text.empty())
        return text;
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return WideToUtf8(wide);
}

std::string Utf8ToAnsi(const std::string& text)
{
    const std::wstring wide = Utf8ToWide(text);
    if (wide.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

} // namespace

std::string TSxCustomProvider::GrainPath(const Grain& grain)
{
    std::string path;
    if (!grain.AbsolutePidl())
        return grain.Name;
    for (PCSxItemIDList item = grain.AbsolutePidl(); item && PIDLItemSize(item) > 0; item = PIDLGetNext(item)) {
        if (!IsGrainItem(item))
            continue;
        TSxPidlPtr single(PIDLCreateItem(PIDLItemData(item), PIDLItemSize(item) - 2));
        if (!path.empty())
            path += '\\';
        path += GetItemName(single.get());
    }
    return path.empty() ? grain.Name : path;
}

std::vector<TSxPidlPtr> TSxCustomProvider::BuildItemIDArray(const TSxDataGrainList& grains)
{
    std::vector<TSxPidlPtr> items;
    for (int i = 0; i < grains.Count(); ++i) {
        TSxPidlPtr item = GrainToItemID(*grains.GetItem(i));
        if (!item)
            throw std::bad_alloc();
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<uint8_t> TSxCustomProvider::BuildPrivateFormat(PCSxItemIDList, const TSxDataGrainList& grains)
{
    TSxMemoryStream records;
    for (int i = 0; i < grains.Count(); ++i)
        grains.GetItem(i)->SaveToPrivateFormat(records);
    return SxBuildPrivateFormat(ClassName(), static_cast<uint32_t>(grains.Count()), records.Bytes());
}

std::vector<uint8_t> TSxCustomProvider::BuildIDListArray(PCSxItemIDList folderList, const TSxDataGrainList& grains)
{
    std::vector<TSxPidlPtr> items = BuildItemIDArray(grains);
    std::vector<PCSxItemIDList> lists;
    for (const auto& item : items)
        lists.push_back(item.get());
    return SxBuildIDListArray(folderList, lists);
}

std::vector<uint8_t> TSxCustomProvider::BuildFileGroupDescriptor(const TSxDataGrainList& grains,
                                                                 const std::vector<std::string>& names, bool wide)
{
    std::vector<TSxFileDescriptor> items;
    for (int i = 0; i < grains.Count(); ++i) {
        Grain& grain = *grains.GetItem(i);
        TSxFileInfoDescriptor info;
        info.Attributes = grain.Attributes;
        info.CreationTime = info.LastAccessTime = info.LastWriteTime = NowDateTime();
        info.ShowProgress = true;
        info.IsFolder = !grain.IsFile;
        if (OnGetGrainFileInfo)
            OnGetGrainFileInfo(*this, grain, info);
        info.DisplayName = grain.Name;
        TSxFileDescriptor d;
        d.Flags = SxFD_ATTRIBUTES;
        if (info.ShowProgress)
            d.Flags |= SxFD_PROGRESSUI;
        const std::pair<TSxDateTime, std::pair<uint64_t*, uint32_t>> times[] = {
            {info.CreationTime, {&d.CreationTime, SxFD_CREATETIME}},
            {info.LastAccessTime, {&d.LastAccessTime, SxFD_ACCESSTIME}},
            {info.LastWriteTime, {&d.LastWriteTime, SxFD_WRITESTIME}}};
        for (const auto& [value, target] : times)
            if (FileTimeOf(value, *target.first))
                d.Flags |= target.second;
        // FILE_ATTRIBUTE_NORMAL counts only alone.
        uint32_t attributes = SxToFileAttributes(grain.IsFile ? info.Attributes : grain.Attributes);
        if (!grain.IsFile)
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
        if (attributes != FILE_ATTRIBUTE_NORMAL)
            attributes &= ~static_cast<uint32_t>(FILE_ATTRIBUTE_NORMAL);
        d.Attributes = attributes;
        // A size only when there is one: without it the target takes the whole contents.
        if (grain.IsFile && info.Size > 0) {
            d.Flags |= SxFD_FILESIZE;
            d.Size = info.Size;
        }
        const std::string& name = i < static_cast<int>(names.size()) ? names[static_cast<size_t>(i)] : grain.Name;
        d.Name = wide ? name : Utf8ToAnsi(name);
        items.push_back(std::move(d));
    }
    return wide ? SxBuildFileGroupDescriptorW(items) : SxBuildFileGroupDescriptorA(items);
}

std::vector<uint8_t> TSxCustomProvider::BuildFileContents(Grain& grain)
{
    if (!OnGetGrainFileContents)
        throw EProviderException("The provider gives no file contents");
    TSxMemoryStream contents;
    OnGetGrainFileContents(*this, grain, contents);
    return contents.Bytes();
}

std::vector<uint8_t> TSxCustomProvider::BuildHDROP(PCSxItemIDList, const TSxDataGrainList& grains)
{
    std::vector<std::string> paths;
    for (int i = 0; i < grains.Count(); ++i) {
        Grain& grain = *grains.GetItem(i);
        std::string fileName;
        if (!MaterializeGrain(grain, GrainPath(grain), fileName))
            throw EProviderException("\"" + grain.Name + "\" cannot be handed out as a file");
        paths.push_back(fileName);
    }
    return SxBuildDropFiles(paths);
}

bool TSxCustomProvider::MaterializeGrain(Grain& grain, const std::string& fullPath, std::string& fileName)
{
    if (grain.IsFile)
        return GetGrainFileName(grain, fullPath, fileName) && !fileName.empty();
    // A folder is handed out with everything in it; it is watched after its contents, so that a
    // folder moved away goes after the files in it.
    fileName = GrainTempFileName(grain, fullPath);
    const std::wstring folder = Utf8ToWide(fileName);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (!shl_DirectoryExists(fileName))
        return false;
    TSxDataGrainList children;
    grain.Populate(children);
    for (int i = 0; i < children.Count(); ++i) {
        Grain& child = *children.GetItem(i);
        if (grain.AbsolutePidl())
            child.PlaceUnder(grain);
        std::string childName;
        if (!MaterializeGrain(child, fullPath + "\\" + child.Name, childName))
            return false;
    }
    WatchGrainFile(fileName, grain);
    return true;
}

void TSxCustomProvider::GrainsFromIDListArray(const void* block, size_t size, TSxDataGrainList& grains)
{
    TSxIDListArray array = SxReadIDListArray(block, size);
    for (PCSxItemIDList item : array.Items) {
        TSxPidlPtr absolute(PIDLCombine(array.Folder, item));
        if (!absolute)
            throw std::bad_alloc();
        if (GrainPtr grain = GrainFromPidl(absolute.get()))
            grains.Add(std::move(grain));
    }
}

TSxFileInfoDescriptor TSxCustomProvider::FileInfoOfDescriptor(const TSxFileDescriptor& d, bool wide)
{
    TSxFileInfoDescriptor info;
    if (d.Flags & SxFD_ACCESSTIME)
        info.LastAccessTime = DateTimeOf(d.LastAccessTime);
    if (d.Flags & SxFD_CREATETIME)
        info.CreationTime = DateTimeOf(d.CreationTime);
    if (d.Flags & SxFD_WRITESTIME)
        info.LastWriteTime = DateTimeOf(d.LastWriteTime);
    if (d.Flags & SxFD_ATTRIBUTES) {
        info.Attributes = FileAttributesToSx(d.Attributes);
        info.IsFolder = (d.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    info.ShowProgress = (d.Flags & SxFD_PROGRESSUI) != 0;
    if (d.Flags & SxFD_FILESIZE)
        info.Size = d.Size;
    info.DisplayName = wide ? d.Name : AnsiToUtf8(d.Name);
    return info;
}

std::vector<TSxFileInfoDescriptor> TSxCustomProvider::ReadFileGroupDescriptor(const void* block, size_t size, bool wide)
{
    std::vector<TSxFileInfoDescriptor> result;
    for (const TSxFileDescriptor& d : wide ? SxReadFileGroupDescriptorW(block, size) : SxReadFileGroupDescriptorA(block, size))
        result.push_back(FileInfoOfDescriptor(d, wide));
    return result;
}

HRESULT TSxCustomProvider::DropPrivateFormat(Grain& folder, DWORD& effect, HWND ownerWindow, const void* block,
                                             size_t size, TSxDropOutcome& outcome)
{
    const DWORD requested = effect;
    effect = DROPEFFECT_NONE;
    if (!DoBeforeDrop(folder, ownerWindow))
        return E_UNEXPECTED;
    // The whole block is read before the first grain is handed over: a damaged one gives nothing.
    const TSxPrivateFormatHeader header = SxReadPrivateFormatHeader(block, size);
    if (header.ClassName != ClassName()) {
        SxShowProviderMessage("Data format is not compatible to this target", ownerWindow);
        return S_OK;
    }
    TSxMemoryStream records(static_cast<const uint8_t*>(block) + header.RecordsOffset, header.RecordsSize);
    TSxDataGrainList grains;
    for (uint32_t i = 0; i < header.Count; ++i) {
        GrainPtr grain = CreateGrain();
        grain->LoadFromPrivateFormat(records);
        grains.Add(std::move(grain));
    }
    outcome.Offered = grains.Count();
    TSxDropProgress progress(ownerWindow, grains.Count());
    TOutcomeReport report{effect, requested, outcome};
    for (int i = 0; i < grains.Count(); ++i) {
        Grain& grain = *grains.GetItem(i);
        progress.SetLine2(grain.Name);
        grain.PlaceUnder(folder);
        TSxDropInfo info;
        info.Effect = DropEffectToSx(requested);
        info.OwnerWindow = ownerWindow;
        DoDataGrainDrop(folder, grain, info);
        if (!ItemArrived(i, info, outcome, progress))
            break;
    }
    DoAfterDrop(folder, ownerWindow);
    return S_OK;
}

HRESULT TSxCustomProvider::DropIDList(Grain& folder, DWORD& effect, HWND ownerWindow, const void* block, size_t size,
                                      TSxDropOutcome& outcome)
{
    const DWORD requested = effect;
    effect = DROPEFFECT_NONE;
    const TSxIDListArray array = SxReadIDListArray(block, size);
    outcome.Offered = static_cast<int>(array.Items.size());
    TSxDropProgress progress(ownerWindow, outcome.Offered);
    TOutcomeReport report{effect, requested, outcome};
    for (int i = 0; i < outcome.Offered; ++i) {
        TSxPidlPtr absolute(PIDLCombine(array.Folder, array.Items[static_cast<size_t>(i)]));
        if (!absolute)
            throw std::bad_alloc();
        TSxDropInfo info;
        info.Effect = DropEffectToSx(requested);
        info.ProgressWindow = progress.WindowHandle();
        info.OwnerWindow = ownerWindow;
        info.ProgressDialog = progress.Dialog.Get();
        DoNewGrainFromPidl(folder, absolute.get(), info);
        if (!ItemArrived(i, info, outcome, progress))
            break;
    }
    return S_OK;
}

HRESULT TSxCustomProvider::DropFiles(Grain& folder, DWORD& effect, HWND ownerWindow,
                                     const std::vector<std::string>& paths, TSxDropOutcome& outcome)
{
    const DWORD requested = effect;
    effect = DROPEFFECT_NONE;
    if (!DoBeforeDrop(folder, ownerWindow))
        return E_UNEXPECTED;
    if (paths.empty())
        return S_OK;
    // Every folder is found or made before the first file goes.
    TSxHDROPHelper helper(*this, ownerWindow);
    for (const std::string& path : paths)
        helper.AddFile(folder, path);
    const int count = helper.GetFileCount();
    outcome.Offered = count + helper.Skipped;
    TOutcomeReport report{effect, requested, outcome};
    for (int i = 0; i < count; ++i) {
        TSxDropInfo info;
        info.Effect = DropEffectToSx(requested);
        info.OwnerWindow = ownerWindow;
        GrainPtr newGrain;
        bool cont = true;
        DoNewGrainFromFile(helper.GetGrain(i), helper.GetFileName(i), newGrain, info, count, cont);
        // A file is stored when the handler hands back its new grain.
        if (newGrain) {
            outcome.Arrived.push_back(i);
            if (ReportedDropEffect(info) & DROPEFFECT_MOVE)
                outcome.Moved.push_back(i);
        }
        if (!cont) {
            outcome.Cancelled = i + 1 < count;
            break;
        }
    }
    DoAfterDrop(folder, ownerWindow);
    return S_OK;
}

HRESULT TSxCustomProvider::DropFileContents(Grain& folder, DWORD& effect, HWND ownerWindow,
                                            const TSxFileInfoDescriptor& info, TSxByteStream& data, bool& arrived)
{
    const DWORD requested = effect;
    effect = DROPEFFECT_NONE;
    arrived = false;
    if (!DoBeforeDrop(folder, ownerWindow))
        return E_UNEXPECTED;
    TSxDropInfo dropInfo;
    dropInfo.Effect = DropEffectToSx(requested);
    dropInfo.OwnerWindow = ownerWindow;
    data.SetPosition(0);
    DoNewGrainFromStream(folder, info, data, dropInfo);
    arrived = true;
    effect = ReportedDropEffect(dropInfo);
    return S_OK;
}

void TSxCustomProvider::SetPerformedDropEffect(PCSxItemIDList folderList, TSxDataGrainList& grains, DWORD effect)
{
    if (!(effect & DROPEFFECT_MOVE) || !OnGrainMoved)
        return;
    OnGrainMoved(*this, grains);
    SxChangeNotify(SHCNE_UPDATEDIR, folderList);
}

TSxDropProgress::TSxDropProgress(HWND ownerWindow, int32_t total)
    : TSxProgressDialogWrapper("Dateien werden \xC3\xBC" "bertragen...", ownerWindow, poModal | poAutoTime, 4,
                               "Operation abgebrochen")
{
    SetTotal(total);
    SetLine1("Dateien werden \xC3\xBC" "bertragen...");
}

// ---- the HDROP walk --------------------------------------------------------------------------

void TSxHDROPHelper::AddFile(TSxCustomDataGrain& folderGrain, const std::string& path)
{
    const DWORD attributes = shl_FileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        TLogger(-1, true, "SxProvider").Error("TSxHDROPHelper.AddFile: \"" + path + "\": " + SysErrorMessage(GetLastError()));
        ++Skipped;
        return;
    }
    std::unique_ptr<TSxCustomDataGrain> top;
    if (!AddEntry(folderGrain, path, attributes, top) || !top)
        return;
    // A folder's contents, each under the grain of its own folder: the innermost one is last.
    std::vector<std::unique_ptr<TSxCustomDataGrain>> targets;
    targets.push_back(std::move(top));
    shl_WalkTree(Utf8ToWide(path), [&](const TShellTreeEntry& e) {
        if (e.Leaving) {
            targets.pop_back();
            return TShellWalk::Continue;
        }
        std::unique_ptr<TSxCustomDataGrain> target;
        if (!AddEntry(*targets.back(), WideToUtf8(e.Path), e.Attributes, target) || !target)
            return TShellWalk::Skip;
        targets.push_back(std::move(target));
        return TShellWalk::Continue;
    });
}

// One dropped item: a file goes with the grain of its folder; a folder gets the grain it is merged
// into or made as (target). False when nothing of it goes: a link, or a folder that cannot be made.
bool TSxHDROPHelper::AddEntry(TSxCustomDataGrain& folderGrain, const std::string& path, uint32_t attributes,
                              std::unique_ptr<TSxCustomDataGrain>& target)
{
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        FileNames.push_back(path);
        FolderGrains.Add(folderGrain.Clone());
        return true;
    }
    // A junction or a folder link is not followed: its target may be anywhere (or above it).
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        TLogger(-1, true, "SxProvider").Error("TSxHDROPHelper.AddFile: \"" + path + "\" is a link and is not followed");
        ++Skipped;
        return false;
    }
    const std::string name = shl_ExtractFileName(path);
    TSxDataGrainList children;
    folderGrain.Populate(children);
    for (int i = 0; i < children.Count(); ++i) {
        TSxCustomDataGrain& child = *children.GetItem(i);
        if (!child.IsFile && child.Name == name) {
            if (!Provider.DoConfirmOverwriteFolder(child, OwnerWindow))
                throw EAbort("The folder \"" + name + "\" is not to be merged");
            target = child.Clone();
            if (folderGrain.AbsolutePidl())
                target->PlaceUnder(folderGrain);
            break;
        }
    }
    if (!target && (!Provider.CreateNewFolder(folderGrain, name, target) || !target)) {
        TLogger(-1, true, "SxProvider").Error("TSxHDROPHelper.AddFile: the folder \"" + name + "\" cannot be made; " +
                                              "what it holds is not transferred");
        ++Skipped;
        return false;
    }
    return true;
}
