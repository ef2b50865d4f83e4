#include "uTSxCustomDataGrain.h"

#include "uGLBWin.h"
#include "uTSxCustomProvider.h"

#include <shellapi.h>

#include <stdexcept>

namespace {

void RaiseLastError(const char* what)
{
    const DWORD code = GetLastError();
    throw std::runtime_error(std::string(what) + ": " + SysErrorMessage(code));
}

// ShellExecuteEx of a verb on an item-ID list with the class "folder" or "file".
bool ExecuteOnList(HWND window, PCSxItemIDList list, const wchar_t* verb, const wchar_t* cls, ULONG mask)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = mask;
    info.hwnd = window;
    info.lpVerb = verb;
    info.lpClass = cls;
    info.lpIDList = const_cast<TSxItemIDList*>(list);
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

TSxCustomDataGrain::TSxCustomDataGrain(TSxCustomProvider& provider) : Provider(provider)
{
    Provider.AddGrain(this);
}

TSxCustomDataGrain::~TSxCustomDataGrain() { Provider.RemoveGrain(this); }

void TSxCustomDataGrain::SetAbsolutePidl(PCSxItemIDList list)
{
    TSxPidlPtr copy;
    if (list) {
        copy.reset(PIDLClone(list));
        if (!copy)
            throw std::bad_alloc();
    }
    FAbsolutePidl = std::move(copy);
}

void TSxCustomDataGrain::PlaceUnder(const TSxCustomDataGrain& folderGrain)
{
    TSxPidlPtr own = GetItemID();
    TSxPidlPtr combined(PIDLCombine(folderGrain.AbsolutePidl(), own.get()));
    if (!combined)
        throw std::bad_alloc();
    FAbsolutePidl = std::move(combined);
}

std::optional<std::string> TSxCustomDataGrain::GetGrainID()
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (!FGrainID)
        Provider.DoGetGrainID(*this, FGrainID);
    return FGrainID;
}

TSxGrainRecord TSxCustomDataGrain::ToRecord() const
{
    TSxGrainRecord r;
    r.Version = Version;
    r.Name = Name;
    r.IsFile = IsFile;
    r.Values = Values;
    r.IconIndex = IconIndex;
    r.OpenIconIndex = OpenIconIndex;
    r.Data = Data.Bytes();
    if (FAbsolutePidl) {
        const auto* p = reinterpret_cast<const uint8_t*>(FAbsolutePidl.get());
        r.AbsoluteList.assign(p, p + PIDLGetSize(FAbsolutePidl.get()) + 2);
    }
    r.Attributes = Attributes;
    return r;
}

void TSxCustomDataGrain::FromRecord(TSxGrainRecord&& r)
{
    TSxPidlPtr list;
    if (!r.AbsoluteList.empty()) {
        list.reset(PIDLClone(reinterpret_cast<PCSxItemIDList>(r.AbsoluteList.data())));
        if (!list)
            throw std::bad_alloc();
    }
    // The grain keeps its own version (4): it is written back in the current form.
    Name = std::move(r.Name);
    IsFile = r.IsFile;
    Values = std::move(r.Values);
    IconIndex = r.IconIndex;
    OpenIconIndex = r.OpenIconIndex;
    Data.Clear();
    if (!r.Data.empty())
        Data.Write(r.Data.data(), r.Data.size());
    Data.SetPosition(0);
    FAbsolutePidl = std::move(list);
    Attributes = r.Attributes;
}

void TSxCustomDataGrain::LoadFromStream(TSxByteStream& stream)
{
    TSxGrainRecord record;
    LoadGrainRecord(stream, record);
    FromRecord(std::move(record));
}

void TSxCustomDataGrain::SaveToStream(TSxByteStream& stream, bool withAbsoluteList) const
{
    SaveGrainRecord(stream, ToRecord(), withAbsoluteList);
}

std::unique_ptr<TSxCustomDataGrain> TSxCustomDataGrain::Clone() const
{
    std::unique_ptr<TSxCustomDataGrain> clone = Provider.CreateGrain();
    TSxMemoryStream stream;
    SaveToStream(stream, true);
    stream.SetPosition(0);
    clone->LoadFromStream(stream);
    return clone;
}

void TSxCustomDataGrain::Explore(HWND ownerWindow, PCSxItemIDList absoluteList)
{
    if (IsFile)
        return;
    if (!ExecuteOnList(ownerWindow, absoluteList, L"explore", L"folder", SEE_MASK_IDLIST | SEE_MASK_CLASSNAME))
        RaiseLastError("Explore");
}

void TSxCustomDataGrain::Open(HWND ownerWindow, PCSxItemIDList absoluteList)
{
    if (!IsFile) {
        if (!ExecuteOnList(ownerWindow, absoluteList, L"open", L"folder", SEE_MASK_IDLIST | SEE_MASK_CLASSNAME))
            RaiseLastError("Open");
        return;
    }
    std::string command, parameters, directory;
    Provider.DoGrainOpen(*this, command, parameters, directory);
    if (Trim(command).empty())
        return;
    const std::wstring c = Utf8ToWide(command), p = Utf8ToWide(parameters), d = Utf8ToWide(directory);
    const HINSTANCE result = ShellExecuteW(ownerWindow, L"open", c.c_str(), p.empty() ? nullptr : p.c_str(),
                                           d.empty() ? nullptr : d.c_str(), SW_SHOWNORMAL);
    // Values up to 32 are errors: the program could not be started.
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code <= 32)
        throw std::runtime_error("Open: \"" + command + "\" could not be started: " +
                                 SysErrorMessage(code == SE_ERR_NOASSOC ? ERROR_NO_ASSOCIATION
                                                 : code == 0         ? ERROR_OUTOFMEMORY
                                                                     : static_cast<DWORD>(code)));
}

void TSxCustomDataGrain::ShowProperties(HWND ownerWindow, PCSxItemIDList absoluteList)
{
    if (!ExecuteOnList(ownerWindow, absoluteList, L"properties", IsFile ? L"file" : L"folder",
                       SEE_MASK_IDLIST | SEE_MASK_CLASSNAME | SEE_MASK_FLAG_NO_UI))
        Provider.ShowPropertySheets(*this, ownerWindow);
}

void TSxCustomDataGrain::Populate(TSxDataGrainList&) {}

TSxPidlPtr TSxCustomDataGrain::GetItemID() const { return Provider.GrainToItemID(*this); }

void TSxCustomDataGrain::LoadFromItemID(PCSxItemIDList item)
{
    if (!IsGrainItem(item))
        return;
    TSxMemoryStream stream(GrainItemRecord(item));
    LoadFromStream(stream);
}

TSxByHandDataGrain::TSxByHandDataGrain(TSxByHandProvider& provider) : TSxCustomDataGrain(provider) {}

std::unique_ptr<TSxCustomDataGrain> TSxByHandDataGrain::Clone() const
{
    std::unique_ptr<TSxCustomDataGrain> clone = TSxCustomDataGrain::Clone();
    if (auto* byHand = dynamic_cast<TSxByHandDataGrain*>(clone.get()))
        byHand->Root = Root;
    return clone;
}

void TSxByHandDataGrain::Populate(TSxDataGrainList& list)
{
    static_cast<TSxByHandProvider&>(Provider).DoPopulate(*this, list);
}

std::unique_ptr<TSxCustomDataGrain> TSxDataGrainList::Extract(int index)
{
    auto it = FItems.begin() + index;
    std::unique_ptr<TSxCustomDataGrain> grain = std::move(*it);
    FItems.erase(it);
    return grain;
}

void TSxDataGrainList::Assign(const TSxDataGrainList& source)
{
    if (&source == this)
        return;
    std::vector<std::unique_ptr<TSxCustomDataGrain>> copies;
    copies.reserve(source.FItems.size());
    for (const auto& grain : source.FItems)
        copies.push_back(grain->Clone());
    FItems.swap(copies);
}

UINT SxBrowseFlags(const TSxBrowseContext& context, bool explore)
{
    UINT flags = SBSP_RELATIVE | (explore ? SBSP_EXPLOREMODE : SBSP_OPENMODE);
    if (context.BrowseFlags & 1)
        flags |= SBSP_WRITENOHISTORY;
    if (context.BrowseFlags & 2)
        flags |= SBSP_NOAUTOSELECT;
    if (!explore)
        flags |= context.WindowMode == 0 ? SBSP_SAMEBROWSER : context.WindowMode == 1 ? SBSP_NEWBROWSER : SBSP_DEFBROWSER;
    return flags;
}

bool ShowGrainProperties(const TSxBrowseContext& context, TSxCustomDataGrain& grain)
{
    TSxPidlPtr item = grain.GetItemID();
    TSxPidlPtr list(PIDLCombine(context.FolderAbsoluteList, item.get()));
    grain.ShowProperties(context.Window, list.get());
    return true;
}

namespace {

bool Browse(const TSxBrowseContext& context, TSxCustomDataGrain& grain, bool explore)
{
    if (!context.Browser)
        return false;
    TSxPidlPtr item = grain.GetItemID();
    return SUCCEEDED(context.Browser->BrowseObject(item.get(), SxBrowseFlags(context, explore)));
}

} // namespace

bool ExploreGrain(const TSxBrowseContext& context, TSxCustomDataGrain& grain) { return Browse(context, grain, true); }

bool OpenGrain(const TSxBrowseContext& context, TSxCustomDataGrain& grain) { return Browse(context, grain, false); }
