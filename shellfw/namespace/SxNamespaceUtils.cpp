#include "SxNamespaceUtils.h"

#include "SxShellFolder.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "SxComObject.h"
#include "SxProvider.h"
#include "uTSeam.h"

#include <shlwapi.h>

#include <cstdio>
#include <mutex>
#include <random>

std::unique_ptr<TSxBaseMenuItem> TSxGrainMenu::CreateMenuItem(TSxComponent* owner)
{
    return std::make_unique<TSxGrainMenuItem>(owner);
}

TSxMenuItem::TSxMenuItem(TSxComponent* owner, bool eventsOnly, TSxCustomDataGrain* grain, TSxBaseMenuItem* source)
    : TSxBaseMenuItem(owner), EventsOnly(eventsOnly), SourceItem(source)
{
    if (grain) {
        Grains.push_back(grain);
        Provider = &grain->Provider;
    }
    if (source)
        CopyMenuItem(*source, *this);
}

void TSxMenuItem::CopyMenuItem(const TSxBaseMenuItem& source, TSxMenuItem& target)
{
    target.Bitmap = source.Bitmap;
    target.Break = source.Break;
    target.Caption = source.Caption;
    target.Checked = source.Checked;
    target.Default = source.Default;
    target.Enabled = source.Enabled;
    target.GroupIndex = source.GroupIndex;
    target.HelpContext = source.HelpContext;
    target.Hint = source.Hint;
    target.ImageIndex = source.ImageIndex;
    target.RadioItem = source.RadioItem;
    target.ShortCut = source.ShortCut;
    target.OnClick = source.OnClick;
    target.SubMenuImages = source.SubMenuImages;
    target.Visible = source.Visible;
    for (int i = 0; i < source.Count(); ++i)
        target.Add(std::make_unique<TSxMenuItem>(target.Owner(), target.EventsOnly, target.FirstGrain(), source.Item(i)));
}

void TSxMenuItem::ClickWithWindow(HWND window)
{
    WindowHandle = window;
    TSxBaseMenuItem::Click();
    auto* grainItem = dynamic_cast<TSxGrainMenuItem*>(SourceItem);
    if (grainItem && grainItem->OnClickGrainList)
        grainItem->OnClickGrainList(*this, Grains);
    if (!Provider || Grains.empty() || EventsOnly)
        return;
    const TSxProviderBasicVerbs& verbs = Provider->BasicVerbs;
    for (TSxCustomDataGrain* grain : Grains) {
        if (SourceItem == verbs.Open)
            grain->Open(window, grain->AbsolutePidl());
        else if (SourceItem == verbs.Explore)
            grain->Explore(window, grain->AbsolutePidl());
        else if (SourceItem == verbs.Properties)
            grain->ShowProperties(window, grain->AbsolutePidl());
        if (grainItem && grainItem->OnClickGrain)
            grainItem->OnClickGrain(*this, *grain);
    }
    if (SourceItem == verbs.Delete && verbs.Delete && ShellFolder) {
        TSxDataGrainList list;
        for (TSxCustomDataGrain* grain : Grains)
            list.Add(grain->Clone());
        ShellFolder->DeleteGrains(list, window);
    }
}

// ---------------------------------------------------------------------------------------------

TSxNamespaceCustomUtil::TSxNamespaceCustomUtil(TSxCustomShellFolder& folder, HWND ownerWindow,
                                               const TSxDataGrainList* grains)
    : OwnerWindow(ownerWindow), ShellFolder(&folder)
{
    // The folder component stays while the helper lives: Explorer may let go of the folder first.
    FFolderReference = static_cast<IShellFolder2*>(&folder);
    if (grains)
        Grains.Assign(*grains);
    Provider = Grains.First() ? &Grains.First()->Provider : folder.GetDataProvider();
    SxObjectCountAdd(1);
}

TSxNamespaceCustomUtil::~TSxNamespaceCustomUtil()
{
    Grains.Clear();
    SxObjectCountAdd(-1);
}

ULONG TSxNamespaceCustomUtil::UtilRelease()
{
    const LONG count = --FRefCount;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT TSxNamespaceCustomUtil::MakeFailed() { return SxHandleException(nullptr, std::current_exception()); }

TSxCustomDataGrain& TSxNamespaceCustomUtil::FirstGrain()
{
    if (!Grains.First()) {
        auto grain = ShellFolder->MakeFolderGrain();
        if (!grain)
            throw EProviderException("The folder has no grain: no data provider");
        Grains.Add(std::move(grain));
        if (!Provider)
            Provider = &Grains.First()->Provider;
    }
    return *Grains.First();
}

namespace {

// Windows 5.0 (2000) caches icons by location, so the location there is the grain's name.
bool IsWindows2000()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&info) && info.dwMajorVersion == 5 && info.dwMinorVersion == 0;
#pragma GCC diagnostic pop
}

// A fresh random number as text: a location Explorer has never cached.
std::string RandomLocation()
{
    static std::mutex lock;
    static std::mt19937_64 generator{std::random_device{}()};
    std::lock_guard<std::mutex> guard(lock);
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", std::uniform_real_distribution<double>(0.0, 1.0)(generator));
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Icon extractor

namespace {
TSeam<TSxIconLocationFn> GIconLocation;
}

void SetSxIconLocationSeam(TSxIconLocationFn fn) { GIconLocation.Set(std::move(fn)); }

bool SxFileTypeIconLocation(TSxCustomDataGrain& grain, UINT flags, std::string& file, int& index)
{
    bool useSystemIcon = false;
    grain.Provider.DoPrepareGrainApperance(grain, useSystemIcon);
    if (!useSystemIcon)
        return false;
    SHFILEINFOW info{};
    const DWORD attributes = grain.IsFile ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DIRECTORY;
    const UINT what = SHGFI_ICONLOCATION | SHGFI_USEFILEATTRIBUTES | ((flags & GIL_OPENICON) ? SHGFI_OPENICON : 0);
    if (!SHGetFileInfoW(Utf8ToWide(grain.Name).c_str(), attributes, &info, sizeof info, what) ||
        !info.szDisplayName[0])
        return false;
    file = WideToUtf8(info.szDisplayName);
    index = info.iIcon;
    return true;
}

STDMETHODIMP TSxNamespaceExtractIcon::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxNamespaceExtractIcon, IID_IUnknown, IExtractIconW),
                                  SX_QITABENT(TSxNamespaceExtractIcon, IExtractIconW),
                                  SX_QITABENT(TSxNamespaceExtractIcon, IExtractIconA), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

HRESULT TSxNamespaceExtractIcon::Location(UINT flags, void* iconFile, UINT size, int* index, UINT* resultFlags,
                                          bool wide)
{
    return SxComCall(nullptr, [&]() -> HRESULT {
        if (!index || !resultFlags)
            return E_POINTER;
        *index = 0;
        *resultFlags = 0;
        TSxCustomDataGrain& grain = FirstGrain();
        if (const TSxIconLocationFn seam = GIconLocation.Get()) {
            std::string file;
            int at = 0;
            if (seam(grain, flags, file, at)) {
                const HRESULT hr = SxCopyToBuffer(file, iconFile, size, wide);
                if (FAILED(hr))
                    return hr;
                *index = at;
                *resultFlags = GIL_PERINSTANCE | GIL_DONTCACHE;
                return S_OK;
            }
        }
        const bool win2000 = IsWindows2000();
        HRESULT hr = SxCopyToBuffer(win2000 ? grain.Name : RandomLocation(), iconFile, size, wide);
        if (FAILED(hr))
            return hr;
        *resultFlags = win2000 ? GIL_NOTFILENAME : GIL_NOTFILENAME | GIL_DONTCACHE | GIL_PERINSTANCE;
        *index = grain.GetIconIndex((flags & GIL_OPENICON) != 0, (flags & GIL_FORSHELL) == 0);
        return *index == -1 ? S_FALSE : S_OK;
    });
}

STDMETHODIMP TSxNamespaceExtractIcon::GetIconLocation(UINT flags, LPWSTR iconFile, UINT size, int* index,
                                                      UINT* resultFlags)
{
    return Location(flags, iconFile, size, index, resultFlags, true);
}

STDMETHODIMP TSxNamespaceExtractIcon::GetIconLocation(UINT flags, LPSTR iconFile, UINT size, int* index,
                                                      UINT* resultFlags)
{
    return Location(flags, iconFile, size, index, resultFlags, false);
}

STDMETHODIMP TSxNamespaceExtractIcon::Extract(LPCWSTR, UINT index, HICON* large, HICON* small, UINT)
{
    return SxComCall(nullptr, [&]() -> HRESULT {
        if (large)
            *large = nullptr;
        if (small)
            *small = nullptr;
        if (!large && !small)
            return E_INVALIDARG;
        return FirstGrain().GetIcons(static_cast<int32_t>(index), large, small) ? S_OK : E_FAIL;
    });
}

STDMETHODIMP TSxNamespaceExtractIcon::Extract(LPCSTR, UINT index, HICON* large, HICON* small, UINT iconSize)
{
    // The location is this object's own text, never a file: nothing to convert.
    return Extract(static_cast<LPCWSTR>(nullptr), index, large, small, iconSize);
}

// ---------------------------------------------------------------------------------------------
// Item and background menus

namespace {

// Every run-time item of a menu tree, depth first.
void CollectMenuItems(const TSxBaseMenuItem& parent, std::vector<TSxMenuItem*>& items)
{
    for (int i = 0; i < parent.Count(); ++i) {
        if (auto* item = dynamic_cast<TSxMenuItem*>(parent.Item(i)))
            items.push_back(item);
        CollectMenuItems(*parent.Item(i), items);
    }
}

// The grains of other's items join the items of menu that copy the same provider item.
void MergeGrainMenu(TSxPopupMenu& menu, const TSxPopupMenu& other)
{
    std::vector<TSxMenuItem*> mine, theirs;
    CollectMenuItems(menu.Items, mine);
    CollectMenuItems(other.Items, theirs);
    for (TSxMenuItem* item : mine)
        for (const TSxMenuItem* match : theirs)
            if (match->SourceItem && match->SourceItem == item->SourceItem)
                for (TSxCustomDataGrain* grain : match->Grains)
                    item->Grains.push_back(grain);
}

// The offset a CMINVOKECOMMANDINFO names, by number or by the canonical verb of an item; false
// for a verb that no item has.
bool CommandOffset(const CMINVOKECOMMANDINFO& info, const TSxMenuTable& items, UINT_PTR& offset)
{
    const auto& ex = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(info);
    const bool unicode = info.cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (info.fMask & CMIC_MASK_UNICODE) && ex.lpVerbW;
    if (unicode ? IS_INTRESOURCE(ex.lpVerbW) : IS_INTRESOURCE(info.lpVerb)) {
        offset = LOWORD(reinterpret_cast<UINT_PTR>(info.lpVerb));
        if (unicode)
            offset = LOWORD(reinterpret_cast<UINT_PTR>(ex.lpVerbW));
        return true;
    }
    const std::string verb = unicode ? WideToUtf8(ex.lpVerbW) : std::string(info.lpVerb);
    for (size_t k = 0; k < items.Items.size(); ++k) {
        auto* item = dynamic_cast<const TSxMenuItem*>(items.Items[k]);
        if (item && !item->Verb.empty() && SxSameName(item->Verb, verb)) {
            offset = k;
            return true;
        }
    }
    return false;
}

} // namespace

TSxNamespaceContextMenu::~TSxNamespaceContextMenu()
{
    // The items refer to the grains, which go with the base.
    Items.Reset(0, 0);
    Menu.reset();
}

STDMETHODIMP TSxNamespaceContextMenu::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxNamespaceContextMenu, IID_IUnknown, IContextMenu), SX_QITABENT(TSxNamespaceContextMenu, IContextMenu),
                                  {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

std::unique_ptr<TSxPopupMenu> TSxNamespaceContextMenu::BuildMenu(UINT flags)
{
    const bool explore = (flags & CMF_EXPLORE) != 0, noDefault = (flags & CMF_NODEFAULT) != 0;
    auto menu = FirstGrain().BuildContextMenu(explore, noDefault, NoBasicVerbs, nullptr);
    for (int i = 1; i < Grains.Count(); ++i) {
        auto other = Grains.GetItem(i)->BuildContextMenu(explore, noDefault, NoBasicVerbs, nullptr);
        if (other)
            MergeGrainMenu(*menu, *other);
    }
    return menu;
}

std::unique_ptr<TSxPopupMenu> TSxNamespaceBackgroundMenu::BuildMenu(UINT)
{
    TSxCustomDataGrain& grain = FirstGrain();
    if (grain.IsFile)
        return nullptr;
    return grain.BuildBackgroundMenu(nullptr, NoBasicVerbs);
}

HRESULT TSxNamespaceContextMenu::Insert(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags)
{
    Items.Reset(firstCommand, lastCommand);
    Items.ClearBitmaps();
    Menu.reset();
    if (!menu || !IsMenu(menu))
        return E_INVALIDARG;
    Menu = BuildMenu(flags);
    if (Menu) {
        if (flags & CMF_DEFAULTONLY) {
            // Only the default item: Explorer asks this way for what a double click runs.
            for (int i = 0; i < Menu->Items.Count(); ++i)
                if (TSxBaseMenuItem& item = *Menu->Items.Item(i); item.Default && item.Visible) {
                    InsertMenuItemToHMenu(menu, item, static_cast<int>(index), true, Items, Menu->Images);
                    break;
                }
        } else {
            InsertMenuItemsToHMenu(menu, Menu->Items, static_cast<int>(index), true, Items, Menu->Images);
        }
    }
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(Items.Count()));
}

STDMETHODIMP TSxNamespaceContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand,
                                                       UINT flags)
{
    return SxComCall(nullptr, [&]() -> HRESULT { return Insert(menu, index, firstCommand, lastCommand, flags); });
}

STDMETHODIMP TSxNamespaceContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    return SxComCall(nullptr, [&]() -> HRESULT {
        if (!info || info->cbSize < sizeof(CMINVOKECOMMANDINFO))
            return E_INVALIDARG;
        UINT_PTR offset = 0;
        if (!CommandOffset(*info, Items, offset))
            return E_INVALIDARG;
        TSxBaseMenuItem* entry = Items.ItemOfOffset(offset);
        if (!entry)
            return E_INVALIDARG;
        if (auto* item = dynamic_cast<TSxMenuItem*>(entry)) {
            item->ShellFolder = ShellFolder;
            item->ClickWithWindow(info->hwnd);
        } else {
            entry->Click();
        }
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceContextMenu::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name, UINT size)
{
    return SxComCall(nullptr, [&]() -> HRESULT {
        TSxBaseMenuItem* entry = Items.ItemOfOffset(command);
        switch (type) {
        case GCS_VALIDATEA:
        case GCS_VALIDATEW:
            return entry ? S_OK : S_FALSE;
        case GCS_VERBA:
        case GCS_VERBW:
        case GCS_HELPTEXTA:
        case GCS_HELPTEXTW: {
            if (!entry)
                return E_INVALIDARG;
            const bool wide = (type & GCS_UNICODE) != 0;
            if ((type & ~GCS_UNICODE) == GCS_HELPTEXTA)
                return SxCopyToBuffer(entry->LongHint(), name, size, wide);
            auto* item = dynamic_cast<TSxMenuItem*>(entry);
            return SxCopyToBuffer(item ? item->Verb : std::string(), name, size, wide);
        }
        default:
            return E_INVALIDARG;
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Info tip

STDMETHODIMP TSxNamespaceQueryInfo::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxNamespaceQueryInfo, IID_IUnknown, IQueryInfo), SX_QITABENT(TSxNamespaceQueryInfo, IQueryInfo),
                                  {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

STDMETHODIMP TSxNamespaceQueryInfo::GetInfoTip(DWORD, LPWSTR* tip)
{
    if (!tip)
        return E_POINTER;
    *tip = nullptr;
    return SxComCall(nullptr, [&]() -> HRESULT {
        TSxCustomDataGrain& grain = FirstGrain();
        std::string text;
        if (!Provider)
            return E_FAIL;
        Provider->DoGetInfoTip(grain, text);
        // The whole text as UTF-16: every name the server has stays as it is.
        const std::wstring wide = Utf8ToWide(text);
        auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
        if (!copy)
            return E_OUTOFMEMORY;
        std::copy(wide.begin(), wide.end(), copy);
        copy[wide.size()] = L'\0';
        *tip = copy;
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceQueryInfo::GetInfoFlags(DWORD* flags)
{
    if (flags)
        *flags = 0;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// Thumbnail extractor

STDMETHODIMP TSxNamespaceExtractImage::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxNamespaceExtractImage, IID_IUnknown, IExtractImage), SX_QITABENT(TSxNamespaceExtractImage, IExtractImage),
                                  {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

STDMETHODIMP TSxNamespaceExtractImage::GetLocation(LPWSTR path, DWORD size, DWORD* priority, const SIZE* imageSize,
                                                   DWORD, DWORD*)
{
    return SxComCall(nullptr, [&]() -> HRESULT {
        if (priority)
            *priority = 0;
        if (!imageSize || imageSize->cx <= 0 || imageSize->cy <= 0)
            return E_INVALIDARG;
        TSxCustomDataGrain& grain = FirstGrain();
        if (HRESULT hr = SxCopyToBuffer(grain.Name, path, size, true); FAILED(hr))
            return hr;
        if (!Provider || !Provider->OnGetDataGrainThumb)
            return E_NOTIMPL;
        Thumb.reset();
        HBITMAP made = nullptr;
        try {
            Provider->OnGetDataGrainThumb(*Provider, grain, TSxSize{imageSize->cx, imageSize->cy}, made);
        } catch (...) {
            if (made)
                DeleteObject(made);
            throw;
        }
        Thumb.reset(made);
        // A thumbnail the product could not make is a failure, not an empty picture.
        BITMAP info{};
        if (!Thumb || !GetObjectW(Thumb.get(), sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight == 0) {
            Thumb.reset();
            return E_FAIL;
        }
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceExtractImage::Extract(HBITMAP* bitmap)
{
    if (!bitmap)
        return E_POINTER;
    *bitmap = nullptr;
    if (!Thumb)
        return E_FAIL;
    *bitmap = static_cast<HBITMAP>(CopyImage(Thumb.get(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    return *bitmap ? S_OK : E_OUTOFMEMORY;
}
