#include "SxProvider.h"

#include "SxDataModule.h"
#include "SxEnumIDList.h"
#include "SxException.h"
#include "SxIconList.h"
#include "SxNamespaceUtils.h"
#include "SxPopupMenu.h"
#include "SxTools.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "uTLogger.h"
#include "uTSeam.h"

#include <commctrl.h>
#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>
#include <wrl/client.h>

#include "SxGrainChangeNotifier.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

using Microsoft::WRL::ComPtr;

namespace {

TSeam<TSxChangeNoticeFn> GNotice;

void DefaultChangeNotify(LONG eventId, PCSxItemIDList list)
{
    SHChangeNotify(eventId, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, list, nullptr);
}

HIMAGELIST SystemImageList(bool small)
{
    SHFILEINFOW info = {};
    return reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"C:\\", 0, &info, sizeof info,
        SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | (small ? SHGFI_SMALLICON : 0)));
}

TSeam<TSxProviderMessageFn> GMessage;

// Placing a provider on a per-object module: the error box, then the silent abort.
void RefuseModuleOwner(TSxComponent* owner)
{
    if (!dynamic_cast<TSxModule*>(owner))
        return;
    const std::string text = "This component cannot be placed on TSxDataModule. Please refer the \r\ncomponent documentation.";
    const TSxProviderMessageFn fn = GMessage.Get();
    if (fn)
        fn(text);
    else
        MessageBoxW(nullptr, Utf8ToWide(text).c_str(), L"Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    throw EAbort("The provider cannot be placed on a per-object module");
}

// The process-wide overlay keys (the product's overlay indexes) and the overlay numbers they got.
std::mutex GOverlayLock;
std::map<int32_t, int32_t> GOverlayNumbers;
int32_t GOverlayNext = 3;  // the first number tried for a new key
constexpr int32_t LastOverlayNumber = 15;

// Adds icon to the system image list and makes it overlay number; false when either fails.
bool RegisterOverlay(HIMAGELIST systemList, HICON icon, int32_t number)
{
    if (!systemList || !icon)
        return false;
    const int image = ImageList_ReplaceIcon(systemList, -1, icon);
    return image >= 0 && ImageList_SetOverlayImage(systemList, image, number);
}

// A new icon of image index of list (nullptr when there is none); the caller destroys it.
HICON OverlayIcon(TSxIconList* list, int32_t index)
{
    if (!list || index < 0 || index >= list->Count())
        return nullptr;
    return list->GetIconHandle(index);
}

int32_t SystemIconIndex(const std::wstring& path, UINT extra)
{
    SHFILEINFOW info = {};
    if (!SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | extra))
        return 0;
    return info.iIcon;
}

std::wstring WindowsFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
    return n && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring(L"C:\\Windows");
}

TSxDateTime CurrentTimeOfDay()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    return (st.wHour * 3600000.0 + st.wMinute * 60000.0 + st.wSecond * 1000.0 + st.wMilliseconds) / 86400000.0;
}


// The desktop folder's order of two lists; raises when it cannot compare them.
int DesktopCompare(PCSxItemIDList a, PCSxItemIDList b)
{
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(&desktop)) || !desktop)
        throw EProviderException("CompareItemIDs: the desktop folder is not available");
    const HRESULT hr = desktop->CompareIDs(0, a, b);
    if (FAILED(hr))
        throw EProviderException("CompareItemIDs: the desktop folder cannot compare the lists");
    return static_cast<short>(HRESULT_CODE(hr));
}

} // namespace

void SetSxChangeNotice(TSxChangeNoticeFn fn)
{
    GNotice.Set(std::move(fn));
}

void SxChangeNotify(LONG eventId, PCSxItemIDList list)
{
    const TSxChangeNoticeFn fn = GNotice.Get();
    if (fn)
        fn(eventId, list);
    else
        DefaultChangeNotify(eventId, list);
}

void SetSxProviderMessage(TSxProviderMessageFn fn)
{
    GMessage.Set(std::move(fn));
}

TSxMemoryStream SxReadWholeFile(HANDLE file, const std::string& path)
{
    TSxMemoryStream data;
    std::vector<uint8_t> chunk(64 * 1024);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr))
            throw std::runtime_error("Cannot read " + path + ": " + SysErrorMessage(GetLastError()));
        if (n == 0)
            break;
        data.Write(chunk.data(), n);
    }
    data.SetPosition(0);
    return data;
}

TSxMemoryStream SxReadWholeFile(const std::string& path)
{
    THandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error("Cannot read " + path + ": " + SysErrorMessage(GetLastError()));
    return SxReadWholeFile(file.get(), path);
}

void SxShowProviderMessage(const std::string& text, HWND ownerWindow)
{
    const TSxProviderMessageFn fn = GMessage.Get();
    if (fn)
        fn(text);
    else
        MessageBoxW(ownerWindow, Utf8ToWide(text).c_str(), L"Warning", MB_OK | MB_ICONWARNING | MB_TASKMODAL);
}

TSxDropEffects TSxDropInfo::ReportedEffect() const
{
    if (Effect & SxDropMove)
        return SxDropMove;
    if (Effect & SxDropCopy)
        return SxDropCopy;
    return Effect & SxDropLink;
}

// ---- construction and grains --------------------------------------------------------------

TSxCustomProvider::TSxCustomProvider(const std::string& name) : Name(name)
{
    // Own lists over the system image lists, for grains that show their system icons.
    FOwnLargeIcons = std::make_unique<TSxIconList>();
    FOwnSmallIcons = std::make_unique<TSxIconList>();
    FOwnLargeIcons->AttachHandle(SystemImageList(false));
    FOwnSmallIcons->AttachHandle(SystemImageList(true));
    // The system's own indexes (no icon handles are taken, so none is left to free).
    const std::wstring windows = WindowsFolder();
    FSystemFolderIcon = SystemIconIndex(windows, 0);
    FSystemFolderOpenIcon = SystemIconIndex(windows, SHGFI_OPENICON);
    FSystemFileIcon = SystemIconIndex(windows + L"\\win.ini", 0);
}

TSxCustomProvider::TSxCustomProvider(TSxComponent* owner, const std::string& name)
    : TSxCustomProvider((RefuseModuleOwner(owner), name))
{
}

TSxIconList* TSxCustomProvider::GetLargeIcons() const { return LargeIcons ? LargeIcons : FOwnLargeIcons.get(); }
TSxIconList* TSxCustomProvider::GetSmallIcons() const { return SmallIcons ? SmallIcons : FOwnSmallIcons.get(); }

void TSxCustomProvider::BeforeDestruction()
{
    if (FDestroying)
        return;
    FDestroying = true;
    // Files left in the folders that stand for folder grains go back to the product first.
    if (FFolderManager) {
        try {
            FFolderManager->FlushFiles();
        } catch (...) {
        }
    }
    if (OnDestroy) {
        try {
            OnDestroy(*this);
        } catch (const std::exception& e) {
            try {
                TLogger(-1, true, "SxProvider").Error("OnDestroy: " + std::string(e.what()));
            } catch (...) {
            }
        }
    }
}

TSxCustomProvider::~TSxCustomProvider()
{
    BeforeDestruction();
    // The watcher ends before the grains it holds copies of, and before the folders go.
    FNotifier.reset();
    FFolderManager.reset();
    // Grains still alive are freed last first; each removes itself from the list.
    for (;;) {
        Grain* grain;
        {
            std::lock_guard<std::recursive_mutex> guard(FLock);
            if (FLiveGrains.empty())
                break;
            grain = FLiveGrains.back();
        }
        delete grain;
    }
}

void TSxCustomProvider::AddGrain(Grain* grain)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FLiveGrains.push_back(grain);
}

void TSxCustomProvider::RemoveGrain(Grain* grain)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    auto it = std::find(FLiveGrains.rbegin(), FLiveGrains.rend(), grain);
    if (it != FLiveGrains.rend())
        FLiveGrains.erase(std::next(it).base());
}

bool TSxCustomProvider::IsLiveGrain(const Grain* grain)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    return std::find(FLiveGrains.begin(), FLiveGrains.end(), grain) != FLiveGrains.end();
}

void TSxCustomProvider::SetRootPidl(PCSxItemIDList list)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (FRoot.load() || !list)
        return;
    FRootPidl.reset(PIDLClone(list));
    FRoot.store(FRootPidl.get());
}

int32_t TSxCustomProvider::FolderIcon() const { return UsesSystemIcons() ? FSystemFolderIcon : FolderIconProperty; }
int32_t TSxCustomProvider::FolderOpenIcon() const { return UsesSystemIcons() ? FSystemFolderOpenIcon : FolderOpenIconProperty; }
int32_t TSxCustomProvider::ItemIcon() const { return UsesSystemIcons() ? FSystemFileIcon : ItemIconProperty; }
int32_t TSxCustomProvider::ItemOpenIcon() const { return UsesSystemIcons() ? FSystemFileIcon : ItemOpenIconProperty; }

TSxCustomProvider::GrainPtr TSxCustomProvider::CreateGrain() { return std::make_unique<TSxCustomDataGrain>(*this); }

TSxCustomProvider::GrainPtr TSxCustomProvider::CreateRootGrain()
{
    GrainPtr grain = CreateGrain();
    grain->SetAbsolutePidl(RootPidl());
    return grain;
}

bool TSxProviderBasicVerbs::Contains(const TSxBaseMenuItem* item) const
{
    return item && (item == BackgroundPaste || item == Copy || item == Cut || item == Delete || item == Explore ||
                    item == Open || item == Paste || item == Properties || item == Rename);
}

void TSxCustomProvider::Notification(const void* component)
{
    if (!component)
        return;
    auto clear = [component](auto*& reference) {
        if (static_cast<const void*>(reference) == component)
            reference = nullptr;
    };
    clear(LargeIcons);
    clear(SmallIcons);
    clear(LargeOverlayIcons);
    clear(SmallOverlayIcons);
    clear(BackgroundContextMenu);
    clear(CommonContextMenu);
    clear(FileContextMenu);
    clear(FolderContextMenu);
    clear(PropertySheets);
    for (TSxBaseMenuItem** verb : {&BasicVerbs.BackgroundPaste, &BasicVerbs.Copy, &BasicVerbs.Cut, &BasicVerbs.Delete,
                                   &BasicVerbs.Explore, &BasicVerbs.Open, &BasicVerbs.Paste, &BasicVerbs.Properties,
                                   &BasicVerbs.Rename})
        clear(*verb);
}

void TSxCustomProvider::CreateBasicVerbs()
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (!FVerbMenu)
        FVerbMenu = std::make_unique<TSxPopupMenu>();
    const std::pair<TSxBaseMenuItem**, const char*> verbs[] = {
        {&BasicVerbs.Open, "\xC3\x96""ffnen"},   {&BasicVerbs.Explore, "Explore"},
        {&BasicVerbs.Cut, "Ausschneiden"},       {&BasicVerbs.Copy, "Kopieren"},
        {&BasicVerbs.Paste, "Einf\xC3\xBCgen"},  {&BasicVerbs.BackgroundPaste, "Einf\xC3\xBCgen"},
        {&BasicVerbs.Delete, "L\xC3\xB6schen"},  {&BasicVerbs.Rename, "Umbenennen"},
        {&BasicVerbs.Properties, "Eigenschaften"},
    };
    for (const auto& [slot, caption] : verbs) {
        if (*slot)
            continue;
        std::unique_ptr<TSxBaseMenuItem> item = FVerbMenu->CreateMenuItem(FVerbMenu.get());
        item->Caption = caption;
        *slot = &FVerbMenu->Items.Add(std::move(item));
    }
}

bool TSxCustomProvider::CanPaste()
{
    ComPtr<IDataObject> data;
    if (FAILED(OleGetClipboard(&data)) || !data)
        return false;
    auto offers = [&data](UINT format) {
        FORMATETC f = {static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return data->QueryGetData(&f) == S_OK;
    };
    return (HasGrainDrop() && offers(CF_SXPRIVATEFORMAT)) || (HasPidlDrop() && offers(CF_SXSHELLIDLIST)) ||
           (HasFileDrop() && offers(CF_HDROP)) || (HasStreamDrop() && offers(CF_SXFILECONTENTS));
}

// ---- comparison ------------------------------------------------------------------------------

int TSxCustomProvider::CompareGrains(int column, Grain& grain1, Grain& grain2)
{
    const int col = column & 0xFFFF;
    int result = 0;
    if (BeforeCompareGrains) {
        bool cont = true;
        BeforeCompareGrains(*this, col, grain1, grain2, result, cont);
        if (!cont)
            return result;
    }
    // Folders come before files.
    result = (grain2.IsFile ? 0 : 1) - (grain1.IsFile ? 0 : 1);
    if (result != 0)
        return result;
    const std::u16string a = SxUtf8ToUtf16(grain1.Name), b = SxUtf8ToUtf16(grain2.Name);
    if (a != b) {
        result = a < b ? -1 : 1;
    } else {
        const int c = SxCommaText(grain1.Values).compare(SxCommaText(grain2.Values));
        result = c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (OnCompareGrains)
        OnCompareGrains(*this, col, grain1, grain2, result);
    return result;
}

int TSxCustomProvider::CompareItemIDs(int column, PCSxItemIDList listA, PCSxItemIDList listB)
{
    if (!listA || !listB)
        throw EProviderException("CompareItemIDs: no item ID list");
    const int countA = PIDLGetItemCount(listA), countB = PIDLGetItemCount(listB);
    if (countA < 0 || countB < 0)
        throw EProviderException("CompareItemIDs: item ID list too long");
    if (PIDLIsEqual(listA, listB))
        return 0;
    const bool frameworkA = countA > 0 && IsGrainItem(listA);
    const bool frameworkB = countB > 0 && IsGrainItem(listB);
    if (!frameworkA && !frameworkB)
        return DesktopCompare(listA, listB);
    // Lists of the shell order before lists of this folder's items.
    if (frameworkA != frameworkB)
        return frameworkA ? 1 : -1;
    PCSxItemIDList a = listA, b = listB;
    for (int level = 0; level < std::min(countA, countB); ++level) {
        if (!IsGrainItem(a) || !IsGrainItem(b))
            throw EProviderException("CompareItemIDs: an item of the list is not a grain item");
        GrainPtr grainA = CreateGrain(), grainB = CreateGrain();
        grainA->LoadFromItemID(a);
        grainB->LoadFromItemID(b);
        const int result = CompareGrains(column, *grainA, *grainB);
        if (result != 0)
            return result;
        a = PIDLGetNext(a);
        b = PIDLGetNext(b);
    }
    return countA < countB ? -1 : countA > countB ? 1 : 0;
}

// ---- item IDs --------------------------------------------------------------------------------

TSxPidlPtr TSxCustomProvider::GrainToItemID(const Grain& grain) const
{
    TSxMemoryStream stream;
    grain.SaveToStream(stream, false);
    return MakeGrainItemID(stream.Bytes());
}

TSxCustomProvider::GrainPtr TSxCustomProvider::GrainFromPidl(PCSxItemIDList list)
{
    if (!list)
        return nullptr;
    try {
        PCSxItemIDList last = PIDLFindLast(list);
        // A list that ends in a grain's item is no root: the root's comparison goes through the
        // desktop folder, far too dear for every item Explorer asks about.
        if (last && IsGrainItem(last)) {
            GrainPtr grain = CreateGrain();
            grain->LoadFromItemID(last);
            grain->SetAbsolutePidl(list);
            return grain;
        }
        if (RootPidl()) {
            bool isRoot = false;
            try {
                isRoot = CompareItemIDs(0, list, RootPidl()) == 0;
            } catch (const std::exception&) {
                // Not comparable with the root: not the root.
            }
            if (isRoot)
                return CreateRootGrain();
        }
        return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::string TSxCustomProvider::GetItemName(PCSxItemIDList list)
{
    PCSxItemIDList last = PIDLFindLast(list);
    GrainPtr grain = CreateGrain();
    grain->LoadFromItemID(last);
    return grain->Name;
}

// ---- events with defaults ---------------------------------------------------------------------

void TSxCustomProvider::DoGrainOpen(Grain& grain, std::string& command, std::string& parameters, std::string& directory)
{
    if (OnGrainOpen)
        OnGrainOpen(*this, grain, command, parameters, directory);
}

bool TSxCustomProvider::EnumObjects(PCSxItemIDList, uint32_t, std::vector<TSxPidlPtr>& items)
{
    items.clear();
    return false;
}

HRESULT TSxCustomProvider::EnumObjects(PCSxItemIDList item, uint32_t flags, IEnumIDList** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    std::vector<TSxPidlPtr> items;
    if (!EnumObjects(item, flags, items))
        return S_FALSE;
    std::vector<PCSxItemIDList> lists;
    lists.reserve(items.size());
    for (const auto& i : items)
        lists.push_back(i.get());
    *enumerator = TSxEnumIDList::Create(lists);
    return *enumerator ? S_OK : E_OUTOFMEMORY;
}

void TSxCustomProvider::DoGetGrainID(Grain& grain, std::optional<std::string>& grainID)
{
    if (OnGetGrainID)
        OnGetGrainID(*this, grain, grainID);
}

void TSxCustomProvider::DoGetIcon(Grain& grain, int32_t& iconIndex, int32_t& openIconIndex)
{
    if (iconIndex == -1)
        iconIndex = grain.IsFile ? ItemIcon() : FolderIcon();
    if (openIconIndex == -1)
        openIconIndex = grain.IsFile ? ItemOpenIcon() : FolderOpenIcon();
    if (OnGetIcon)
        OnGetIcon(*this, grain, iconIndex, openIconIndex);
}

namespace {

// Fires an event whose last parameter is a var Boolean answer that starts at start; without a
// handler the answer stays start.
template <typename Event, typename... Args>
bool AskBool(const Event& event, bool start, TSxCustomProvider& sender, Args&... args)
{
    bool answer = start;
    if (event)
        event(sender, args..., answer);
    return answer;
}

TSxPopupMenu* AskMenu(TSxCustomProvider& provider, TSxCustomDataGrain& grain, TSxPopupMenu* menu,
                      const std::function<void(TSxCustomProvider&, TSxCustomDataGrain&, TSxPopupMenu*&)>& event)
{
    if (event)
        event(provider, grain, menu);
    return menu;
}

} // namespace

TSxPopupMenu* TSxCustomProvider::GetBackgroundContextMenu(Grain& g) { return AskMenu(*this, g, BackgroundContextMenu, OnGetBackgroundContextMenu); }
TSxPopupMenu* TSxCustomProvider::GetCommonContextMenu(Grain& g) { return AskMenu(*this, g, CommonContextMenu, OnGetCommonContextMenu); }
TSxPopupMenu* TSxCustomProvider::GetFileContextMenu(Grain& g) { return AskMenu(*this, g, FileContextMenu, OnGetFileContextMenu); }
TSxPopupMenu* TSxCustomProvider::GetFolderContextMenu(Grain& g) { return AskMenu(*this, g, FolderContextMenu, OnGetFolderContextMenu); }

void TSxCustomProvider::DoPrepareGrainApperance(Grain& grain, bool& useSystemIcon)
{
    useSystemIcon = !LargeIcons && !SmallIcons && !OnGetIcon;
    if (OnPrepareGrainApperance) {
        TSxPrepareIconParams params;
        params.UseSystemIcon = useSystemIcon;
        OnPrepareGrainApperance(*this, grain, params);
        useSystemIcon = params.UseSystemIcon;
    }
}

bool TSxCustomProvider::GetOverlayIndex(Grain& grain, int32_t& index)
{
    if (!OnGetOverlayIndex || (!LargeOverlayIcons && !SmallOverlayIcons))
        return false;
    int32_t overlay = 0;
    bool display = false;
    OnGetOverlayIndex(*this, grain, overlay, display);
    if (!display)
        return false;
    std::lock_guard<std::mutex> guard(GOverlayLock);
    auto known = GOverlayNumbers.find(overlay);
    if (known != GOverlayNumbers.end()) {
        index = known->second;
        return true;
    }
    TSxIconList* small = SmallOverlayIcons ? SmallOverlayIcons : LargeOverlayIcons;
    TSxIconList* large = LargeOverlayIcons ? LargeOverlayIcons : SmallOverlayIcons;
    const TSxIcon smallIcon(OverlayIcon(small, overlay)), largeIcon(OverlayIcon(large, overlay));
    if (!smallIcon || !largeIcon)
        return false;  // no such overlay icon: nothing to register, no number used up
    // Each number is tried once; a number whose registration fails is skipped for good.
    while (GOverlayNext <= LastOverlayNumber) {
        const int32_t number = GOverlayNext++;
        if (RegisterOverlay(SystemImageList(true), smallIcon.get(), number) &&
            RegisterOverlay(SystemImageList(false), largeIcon.get(), number)) {
            GOverlayNumbers[overlay] = number;
            index = number;
            return true;
        }
    }
    return false;
}

void TSxCustomProvider::DoGetInfoTip(Grain& grain, std::string& infoTip)
{
    infoTip = grain.Name;
    if (OnGetInfoTip)
        OnGetInfoTip(*this, grain, infoTip);
}

void TSxCustomProvider::DoDataGrainDrop(Grain& folder, Grain& grain, TSxDropInfo& dropInfo)
{
    if (OnDataGrainDropEx)
        OnDataGrainDropEx(*this, folder, grain, dropInfo);
    else if (OnDataGrainDrop)
        OnDataGrainDrop(*this, folder, grain);
}

bool TSxCustomProvider::DoNewGrainFromFile(Grain& folder, const std::string& fileName, GrainPtr& newGrain,
                                           TSxDropInfo& dropInfo, int remainingFiles, bool& cont)
{
    cont = true;
    if (OnNewGrainFromFileEx2)
        OnNewGrainFromFileEx2(*this, folder, fileName, newGrain, dropInfo, remainingFiles, cont);
    else if (OnNewGrainFromFileEx)
        OnNewGrainFromFileEx(*this, folder, fileName, newGrain, dropInfo);
    else if (OnNewGrainFromFile)
        OnNewGrainFromFile(*this, folder, fileName, newGrain);
    else
        return false;
    return true;
}

void TSxCustomProvider::DoNewGrainFromPidl(Grain& folder, PCSxItemIDList pidl, TSxDropInfo& dropInfo)
{
    if (OnNewGrainFromPidlEx)
        OnNewGrainFromPidlEx(*this, folder, pidl, dropInfo);
    else if (OnNewGrainFromPidl)
        OnNewGrainFromPidl(*this, folder, pidl);
}

void TSxCustomProvider::DoNewGrainFromStream(Grain& folder, const TSxFileInfoDescriptor& info, TSxByteStream& data,
                                             TSxDropInfo& dropInfo)
{
    if (OnNewGrainFromStreamEx)
        OnNewGrainFromStreamEx(*this, folder, info, data, dropInfo);
    else if (OnNewGrainFromStream)
        OnNewGrainFromStream(*this, folder, info, data);
}

bool TSxCustomProvider::DoQueryDataGrainDrop(Grain& folder, Grain& grain)
{
    return AskBool(OnQueryDataGrainDrop, true, *this, folder, grain);
}

bool TSxCustomProvider::DoConfirmOverwriteFolder(Grain& folder, HWND window)
{
    return AskBool(OnConfirmOverwriteFolder, false, *this, folder, window);
}

bool TSxCustomProvider::DoBeforeDrop(Grain& folder, HWND window)
{
    return AskBool(BeforeDrop, true, *this, folder, window);
}

void TSxCustomProvider::DoAfterDrop(Grain& folder, HWND window)
{
    if (AfterDrop)
        AfterDrop(*this, folder, window);
}

// ---- operations ------------------------------------------------------------------------------

bool TSxCustomProvider::CreateNewFolder(Grain& ownerFolder, const std::string& newFolderName, GrainPtr& newFolder)
{
    newFolder.reset();
    if (!OnCreateNewFolder)
        return false;
    OnCreateNewFolder(*this, ownerFolder, newFolderName, newFolder);
    if (!newFolder)
        return false;
    newFolder->PlaceUnder(ownerFolder);
    NotifyGrainUpdated(ownerFolder);
    return true;
}

HRESULT TSxCustomProvider::RenameGrain(Grain& parent, Grain& grain, const std::string& newName)
{
    std::string name = newName;
    bool perform = true;
    if (OnRenameDataGrain)
        OnRenameDataGrain(*this, parent, grain, name, perform);
    if (!perform)
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    grain.Name = name;
    return S_OK;
}

bool TSxCustomProvider::DoConfirmDelete(TSxDataGrainList& grains, HWND ownerWindow)
{
    return AskBool(OnConfirmDelete, true, *this, grains, ownerWindow);
}

void TSxCustomProvider::DoHandleDelete(Grain& grain)
{
    if (OnHandleDelete)
        OnHandleDelete(*this, grain);
}

bool TSxCustomProvider::CanDeleteGrain(Grain& grain)
{
    if (!OnHandleDelete)
        return false;
    return AskBool(OnQueryDeleteGrain, true, *this, grain);
}

bool TSxCustomProvider::CanRenameGrain(Grain& grain)
{
    if (!OnRenameDataGrain)
        return false;
    return AskBool(OnQueryRenameGrain, true, *this, grain);
}

bool TSxCustomProvider::DoValidateDataGrain(Grain& folder, Grain& grain)
{
    return AskBool(OnValidateDataGrain, true, *this, folder, grain);
}

void TSxCustomProvider::ShowPropertySheets(Grain& grain, HWND ownerWindow)
{
    TSxCustomNamespacePropSheet* sheets = PropertySheets;
    if (OnPreparePropertySheets)
        OnPreparePropertySheets(*this, grain, sheets);
    if (sheets)
        sheets->ShowForGrain(grain, ownerWindow);
}

void TSxCustomProvider::NotifyGrainCreated(const Grain& parent, const Grain& child)
{
    if (!parent.AbsolutePidl())
        return;
    TSxPidlPtr item = child.GetItemID();
    TSxPidlPtr list(PIDLCombine(parent.AbsolutePidl(), item.get()));
    if (!list)
        throw std::bad_alloc();
    SxChangeNotify(child.IsFile ? SHCNE_CREATE : SHCNE_MKDIR, list.get());
}

void TSxCustomProvider::NotifyGrainDeleted(const Grain& grain)
{
    if (!grain.AbsolutePidl())
        return;
    SxChangeNotify(grain.IsFile ? SHCNE_DELETE : SHCNE_RMDIR, grain.AbsolutePidl());
}

void TSxCustomProvider::NotifyGrainUpdated(const Grain& grain)
{
    SxChangeNotify(grain.IsFile ? SHCNE_UPDATEITEM : SHCNE_UPDATEDIR, grain.AbsolutePidl());
}

std::string TSxCustomProvider::GetGrainTempPath(Grain& grain)
{
    std::string path;
    if (OnGetGrainTempPath)
        OnGetGrainTempPath(*this, grain, path);
    if (path.empty() || !shl_DirectoryExists(path)) {
        wchar_t buffer[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
        path = n && n <= MAX_PATH ? WideToUtf8(std::wstring(buffer, n)) : std::string();
    }
    return shl_WithSlash(path);
}

bool TSxCustomProvider::IsFileSystemPath(const std::string& fullPath)
{
    // Each part of the path must be a usable file name; the parts become sub-folders. A parsing
    // path of the shell ("::{20D04FE0-...}\::{...}\a.txt") is none.
    size_t start = 0;
    for (;;) {
        const size_t end = fullPath.find('\\', start);
        const std::string part = fullPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == ".." || part.find_first_of(":*?\"<>|/") != std::string::npos ||
            std::any_of(part.begin(), part.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

std::string TSxCustomProvider::GrainTempFileName(Grain& grain, const std::string& fullPath)
{
    if (!IsFileSystemPath(fullPath))
        throw EProviderException("\"" + fullPath + "\" cannot be a file name");
    return GetGrainTempPath(grain) + fullPath;
}

bool TSxCustomProvider::IsWatchedGrainFile(const std::string& fileName)
{
    TSxGrainChangeNotifier* notifier = ChangeNotifier();
    return notifier && notifier->IsWatched(fileName);
}

void TSxCustomProvider::WatchGrainFile(const std::string& fileName, const Grain& grain)
{
    EnsureChangeNotifier(const_cast<Grain&>(grain)).AddWatch(nullptr, &grain, fileName);
}

TSxGrainChangeNotifier& TSxCustomProvider::EnsureChangeNotifier(Grain& grain)
{
    TSxFrameworkLock lock;
    if (!FNotifier)
        FNotifier = std::make_unique<TSxGrainChangeNotifier>(*this, GetGrainTempPath(grain));
    return *FNotifier;
}

TSxGrainFolderManager& TSxCustomProvider::EnsureFolderManager(Grain& grain)
{
    TSxFrameworkLock lock;
    if (!FFolderManager)
        FFolderManager = std::make_unique<TSxGrainFolderManager>(*this, GetGrainTempPath(grain));
    return *FFolderManager;
}

bool TSxCustomProvider::WriteGrainTempFile(Grain& grain, const std::string& fullPath, std::string& fileName)
{
    if (!OnGetGrainFileInfo || !OnGetGrainFileContents)
        return false;
    try {
        // The name first: a path that can be no file name, or a file already watched, costs the
        // product no contents (for a remote provider each request of them is a download).
        const std::string name = GrainTempFileName(grain, fullPath);
        if (!IsWatchedGrainFile(name)) {
            TSxFileInfoDescriptor info;
            info.Attributes = gaArchive;
            info.CreationTime = info.LastAccessTime = info.LastWriteTime = CurrentTimeOfDay();
            info.IsFolder = !grain.IsFile;
            OnGetGrainFileInfo(*this, grain, info);
            TSxMemoryStream contents;
            OnGetGrainFileContents(*this, grain, contents);
            const std::wstring wname = Utf8ToWide(name);
            shl_ForceDirectories(name.substr(0, name.find_last_of('\\')));
            if (shl_PathExists(wname)) {
                // A read-only copy of an earlier write must not block the new one.
                SetFileAttributesW(wname.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileW(wname.c_str()))
                    throw std::runtime_error("Cannot replace " + name + ": " + SysErrorMessage(GetLastError()));
            }
            THandle file(CreateFileW(wname.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file)
                throw std::runtime_error("Cannot create " + name + ": " + SysErrorMessage(GetLastError()));
            // A descriptor without a size takes the whole contents; never more than they hold.
            uint64_t size = contents.GetSize();
            if (info.Size != 0 && info.Size < size)
                size = info.Size;
            if (size > 0) {
                DWORD written = 0;
                if (!WriteFile(file.get(), contents.Memory(), static_cast<DWORD>(size), &written, nullptr) || written != size)
                    throw std::runtime_error("Cannot write " + name + ": " + SysErrorMessage(GetLastError()));
            }
            // A time a file cannot carry (the bare time of day of the default descriptor lies
            // before 1601) leaves the file's own time.
            FILETIME times[3];
            const TSxDateTime values[3] = {info.CreationTime, info.LastAccessTime, info.LastWriteTime};
            bool valid[3];
            for (int i = 0; i < 3; ++i) {
                try {
                    DateTimeToFileTime(values[i], times[i]);
                    valid[i] = true;
                } catch (const ESxToolsError&) {
                    valid[i] = false;
                }
            }
            if (valid[0] || valid[1] || valid[2])
                SetFileTime(file.get(), valid[0] ? &times[0] : nullptr, valid[1] ? &times[1] : nullptr,
                            valid[2] ? &times[2] : nullptr);
            file.reset();
            SetFileAttributesW(wname.c_str(), SxToFileAttributes(info.Attributes));
            WatchGrainFile(name, grain);
        }
        fileName = name;
        return true;
    } catch (const std::exception& e) {
        try {
            TLogger(-1, true, "SxProvider").Error("GetGrainFileName: " + std::string(e.what()));
        } catch (...) {
        }
        return false;
    }
}

bool TSxCustomProvider::GetGrainFileName(Grain& grain, const std::string& fullPath, std::string& fileName)
{
    fileName.clear();
    if (grain.IsFile) {
        if (OnGetGrainFilename) {
            OnGetGrainFilename(*this, grain, fileName);
            if (!fileName.empty() && shl_FileExists(fileName))
                return true;
        }
        // No temporary file can stand for a path that no file can have: its contents are not asked.
        std::string written;
        if (!IsFileSystemPath(fullPath) || !WriteGrainTempFile(grain, fullPath, written))
            return false;
        fileName = written;
        return true;
    }
    // A folder grain stands for a folder of the same path below the temporary folder.
    if (!IsFileSystemPath(fullPath))
        return false;
    try {
        const std::string folder = GrainTempFileName(grain, fullPath);
        shl_ForceDirectories(folder);
        fileName = folder;
        return shl_DirectoryExists(folder);
    } catch (const std::exception&) {
        return false;
    }
}

bool TSxCustomProvider::TryHandleModify(Grain& grain, const std::string& fileName)
{
    if (!OnHandleModify)
        return true;
    // Free when nobody else holds it; then kept open with writes denied to others.
    THandle file(CreateFileW(Utf8ToWide(fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (GetLastError() == ERROR_SHARING_VIOLATION)
            return false;
        // Gone or unreadable: nothing to hand over, and no use trying again.
        TLogger(-1, true, "SxProvider").Error("DoHandleModify: " + fileName + " cannot be read: " +
                                              SysErrorMessage(GetLastError()));
        return true;
    }
    TSxMemoryStream data = SxReadWholeFile(file.get(), fileName);
    OnHandleModify(*this, grain, data);
    return true;
}

void TSxCustomProvider::DoHandleModify(Grain& grain, const std::string& fileName)
{
    if (!OnHandleModify)
        return;
    for (int attempt = 0; attempt < std::max(1, ModifyWaitTries); ++attempt) {
        if (TryHandleModify(grain, fileName))
            return;
        Sleep(1);
    }
    TLogger(-1, true, "SxProvider").Error("DoHandleModify: " + fileName + " stays locked");
}

// ---- by-hand provider ------------------------------------------------------------------------

TSxByHandProvider::TSxByHandProvider(const std::string& name) : TSxCustomProvider(name) {}

TSxByHandProvider::TSxByHandProvider(TSxComponent* owner, const std::string& name) : TSxCustomProvider(owner, name) {}

TSxByHandProvider::~TSxByHandProvider() { BeforeDestruction(); }

TSxCustomProvider::GrainPtr TSxByHandProvider::CreateGrain() { return std::make_unique<TSxByHandDataGrain>(*this); }

TSxCustomProvider::GrainPtr TSxByHandProvider::CreateRootGrain()
{
    GrainPtr grain = TSxCustomProvider::CreateRootGrain();
    static_cast<TSxByHandDataGrain&>(*grain).SetRoot(true);
    return grain;
}

void TSxByHandProvider::DoPopulate(TSxByHandDataGrain& grain, TSxDataGrainList& list)
{
    // Not under the provider lock: a populate may take its time (the product looks for its tray
    // program among all processes), and every other window's questions would wait for it.
    if (OnPopulate)
        OnPopulate(*this, grain, list);
}

bool TSxByHandProvider::EnumObjects(PCSxItemIDList item, uint32_t flags, std::vector<TSxPidlPtr>& items)
{
    items.clear();
    GrainPtr folder = GrainFromPidl(item);
    if (!folder)
        folder = CreateRootGrain();
    TSxDataGrainList children;
    folder->Populate(children);
    for (int i = 0; i < children.Count(); ++i) {
        const TSxCustomDataGrain& child = *children.GetItem(i);
        const bool kind = ((flags & 1) && !child.IsFile) || ((flags & 2) && child.IsFile);
        const bool shown = (flags & 4) || !(child.Attributes & gaHidden);
        if (kind && shown)
            items.push_back(GrainToItemID(child));
    }
    return true;
}

// ---- data grains ----

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

namespace {

// A separator, unless the menu is empty or already ends with one.
void AddSeparator(TSxPopupMenu& menu)
{
    const TSxBaseMenuItem* last = menu.Items.Last();
    if (!last || last->IsLine())
        return;
    auto line = std::make_unique<TSxBaseMenuItem>(menu.Owner());
    line->Caption.push_back('-');  // (an assignment of "-" trips a false -Wrestrict of GCC 12)
    menu.Items.Add(std::move(line));
}

// A bound copy of a basic verb item, when the provider has that item.
TSxMenuItem* AddVerb(TSxPopupMenu& menu, TSxCustomDataGrain& grain, TSxBaseMenuItem* source, const char* verb)
{
    if (!source)
        return nullptr;
    auto item = std::make_unique<TSxMenuItem>(menu.Owner(), false, &grain, source);
    item->Verb = verb;
    return static_cast<TSxMenuItem*>(&menu.Items.Add(std::move(item)));
}

// Bound copies of the top-level items of a provider menu, leaving out its basic verb items.
void AddMenuCopy(TSxPopupMenu& menu, TSxCustomDataGrain& grain, const TSxPopupMenu* source, bool noDefault)
{
    if (!source)
        return;
    for (int i = 0; i < source->Items.Count(); ++i) {
        TSxBaseMenuItem* item = source->Items.Item(i);
        if (grain.Provider.BasicVerbs.Contains(item))
            continue;
        auto copy = std::make_unique<TSxMenuItem>(menu.Owner(), false, &grain, item);
        if (noDefault)
            copy->Default = false;
        menu.Items.Add(std::move(copy));
    }
}

} // namespace

std::unique_ptr<TSxPopupMenu> TSxCustomDataGrain::BuildBackgroundMenu(TSxComponent* owner, bool noPaste)
{
    Provider.CreateBasicVerbs();
    auto menu = std::make_unique<TSxPopupMenu>(owner);
    const TSxPopupMenu* source = Provider.GetBackgroundContextMenu(*this);
    if (source)
        menu->Images = source->Images;
    AddMenuCopy(*menu, *this, source, false);
    if (!noPaste) {
        AddSeparator(*menu);
        if (TSxMenuItem* paste = AddVerb(*menu, *this, Provider.BasicVerbs.BackgroundPaste, "paste"))
            paste->Enabled = Provider.CanPaste();
    }
    return menu;
}

std::unique_ptr<TSxPopupMenu> TSxCustomDataGrain::BuildContextMenu(bool explore, bool noDefault, bool noBasicVerbs,
                                                                   TSxComponent* owner)
{
    Provider.CreateBasicVerbs();
    const TSxProviderBasicVerbs& verbs = Provider.BasicVerbs;
    auto menu = std::make_unique<TSxPopupMenu>(owner);
    // The first verb is the default one; with noDefault the items keep the verb items' state.
    auto first = [noDefault](TSxMenuItem* item) {
        if (item && !noDefault)
            item->Default = true;
    };
    auto second = [noDefault](TSxMenuItem* item) {
        if (item && !noDefault)
            item->Default = false;
    };
    if (IsFile) {
        first(AddVerb(*menu, *this, verbs.Open, "open"));
    } else if (explore) {
        first(AddVerb(*menu, *this, verbs.Explore, "explore"));
        second(AddVerb(*menu, *this, verbs.Open, "open"));
    } else {
        first(AddVerb(*menu, *this, verbs.Open, "open"));
        second(AddVerb(*menu, *this, verbs.Explore, "explore"));
    }
    AddMenuCopy(*menu, *this, Provider.GetCommonContextMenu(*this), noDefault);
    AddMenuCopy(*menu, *this, IsFile ? Provider.GetFileContextMenu(*this) : Provider.GetFolderContextMenu(*this),
                noDefault);
    if (!noBasicVerbs) {
        AddSeparator(*menu);
        AddVerb(*menu, *this, verbs.Cut, "cut");
        AddVerb(*menu, *this, verbs.Copy, "copy");
        if (!IsFile)
            if (TSxMenuItem* paste = AddVerb(*menu, *this, verbs.Paste, "paste"))
                paste->Enabled = Provider.CanPaste();
        AddSeparator(*menu);
        if (TSxMenuItem* item = AddVerb(*menu, *this, verbs.Delete, "delete"))
            item->Enabled = Provider.CanDeleteGrain(*this);
        if (TSxMenuItem* item = AddVerb(*menu, *this, verbs.Rename, "rename"))
            item->Enabled = Provider.CanRenameGrain(*this);
        AddSeparator(*menu);
        AddVerb(*menu, *this, verbs.Properties, "properties");
    }
    menu->Images = Provider.MenuImages;
    return menu;
}

int32_t TSxCustomDataGrain::GetIconIndex(bool open, bool noSystemIcon)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    int32_t icon = IconIndex, openIcon = OpenIconIndex;
    bool useSystemIcon = false;
    Provider.DoPrepareGrainApperance(*this, useSystemIcon);
    if (useSystemIcon && noSystemIcon)
        return -1;
    if (!useSystemIcon) {
        Provider.DoGetIcon(*this, icon, openIcon);
        return open ? openIcon : icon;
    }
    // Grains with one ID share a slot. A grain without an ID is keyed by the system image it
    // shows, so that Explorer's repeated requests do not grow the lists.
    const std::optional<std::string> id = GetGrainID();
    const std::string key = id && !id->empty()
                                ? *id
                                : "\x01system " + std::to_string(GetSystemIconIndex(Name, open, !IsFile));
    const TSxIcon large(GetFileIconHandle(Name, true, open, !IsFile));
    const TSxIcon small(GetFileIconHandle(Name, false, open, !IsFile));
    if (!large || !small)
        throw EProviderException("GetIconIndex: the system has no icon for \"" + Name + "\"");
    const int largeIndex = Provider.GetLargeIcons()->AddIcon(large.get(), key);
    const int smallIndex = Provider.GetSmallIcons()->AddIcon(small.get(), key);
    if (largeIndex != smallIndex)
        throw EProviderException("LargeIcons and SmallIcons are unsinchronized");
    return largeIndex;
}

bool TSxCustomDataGrain::GetIconHandles(int32_t index, HICON& large, HICON& small)
{
    large = small = nullptr;
    return GetIcons(index, &large, &small);
}

bool TSxCustomDataGrain::GetIcons(int32_t index, HICON* large, HICON* small)
{
    std::lock_guard<std::recursive_mutex> guard(FLock);
    try {
        TSxIcon l, s;
        if (large) {
            l.reset(Provider.GetLargeIcons()->GetIconHandle(index));
            if (!l)
                return false;
        }
        if (small) {
            s.reset(Provider.GetSmallIcons()->GetIconHandle(index));
            if (!s)
                return false;
        }
        if (large)
            *large = l.release();
        if (small)
            *small = s.release();
        return true;
    } catch (...) {
        return false;
    }
}

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
