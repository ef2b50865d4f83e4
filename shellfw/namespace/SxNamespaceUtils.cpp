#include "SxNamespaceUtils.h"

#include "SxShellFolder.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "SxComObject.h"
#include "SxProvider.h"
#include "SxTools.h"
#include "uGLBShellTools.h"

#include <shlwapi.h>

#include "uTSeam.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
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

namespace {
// Copies of the item's grains, for the folder operations that take a list of their own.
void CloneInto(const std::vector<TSxCustomDataGrain*>& grains, TSxDataGrainList& list)
{
    for (TSxCustomDataGrain* grain : grains)
        list.Add(grain->Clone());
}
} // namespace

HRESULT TSxMenuItem::ClickWithWindow(HWND window)
{
    WindowHandle = window;
    TSxBaseMenuItem::Click();
    auto* grainItem = dynamic_cast<TSxGrainMenuItem*>(SourceItem);
    if (grainItem && grainItem->OnClickGrainList)
        grainItem->OnClickGrainList(*this, Grains);
    if (!Provider || Grains.empty() || EventsOnly)
        return S_OK;
    const TSxProviderBasicVerbs& verbs = Provider->BasicVerbs;
    // The clipboard verbs do what the system menu's callbacks do for them.
    if (SourceItem && (SourceItem == verbs.Cut || SourceItem == verbs.Copy)) {
        if (!ShellFolder)
            return E_FAIL;
        TSxDataGrainList list;
        CloneInto(Grains, list);
        return SourceItem == verbs.Cut ? ShellFolder->CutGrains(list) : ShellFolder->CopyGrains(list);
    }
    if (SourceItem && (SourceItem == verbs.Paste || SourceItem == verbs.BackgroundPaste)) {
        if (!ShellFolder)
            return E_FAIL;
        // The background's grain is the folder's own: it pastes into the folder itself.
        return ShellFolder->PasteInto(SourceItem == verbs.Paste ? Grains.front() : nullptr, window);
    }
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
        CloneInto(Grains, list);
        ShellFolder->DeleteGrains(list, window);
    }
    return S_OK;
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
}

TSxNamespaceCustomUtil::~TSxNamespaceCustomUtil()
{
    Grains.Clear();
}

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

// Wine's shell view draws the icon of the file that an icon location names and never asks
// Extract (Windows does, for GIL_NOTFILENAME): there every icon handed out is also kept as an
// icon file, which the location then names (index 0, as in every icon file). Windows keeps the
// random location. Tests choose either way through the seam.
TSeam<std::function<bool()>> GIconLocationsAreFiles;

// One icon as an image of an icon file: 32-bit colour, then the AND mask, bottom-up.
bool IconImage(HICON icon, std::vector<uint8_t>& image, int& width, int& height)
{
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info))
        return false;
    TSxBitmap color(info.hbmColor), mask(info.hbmMask);
    BITMAP shape{};
    if (!color || !mask || !GetObjectW(color.get(), sizeof shape, &shape))
        return false;
    width = shape.bmWidth;
    height = shape.bmHeight;
    if (width <= 0 || height <= 0 || width > 256 || height > 256)
        return false;
    BITMAPINFOHEADER colorHeader{};
    colorHeader.biSize = sizeof colorHeader;
    colorHeader.biWidth = width;
    colorHeader.biHeight = height;
    colorHeader.biPlanes = 1;
    colorHeader.biBitCount = 32;
    colorHeader.biCompression = BI_RGB;
    std::vector<uint8_t> colorBits(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    struct {
        BITMAPINFOHEADER Header;
        RGBQUAD Colors[2];
    } maskInfo{};
    maskInfo.Header = colorHeader;
    maskInfo.Header.biBitCount = 1;
    const size_t maskStride = static_cast<size_t>((width + 31) / 32) * 4;
    std::vector<uint8_t> maskBits(maskStride * static_cast<size_t>(height));
    HDC screen = GetDC(nullptr);
    const int colorRows = GetDIBits(screen, color.get(), 0, static_cast<UINT>(height), colorBits.data(),
                                    reinterpret_cast<BITMAPINFO*>(&colorHeader), DIB_RGB_COLORS);
    const int maskRows = GetDIBits(screen, mask.get(), 0, static_cast<UINT>(height), maskBits.data(),
                                   reinterpret_cast<BITMAPINFO*>(&maskInfo), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (colorRows != height || maskRows != height)
        return false;
    BITMAPINFOHEADER header = colorHeader;
    header.biHeight = height * 2;  // colour and mask
    header.biSizeImage = static_cast<DWORD>(colorBits.size() + maskBits.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    image.assign(bytes, bytes + sizeof header);
    image.insert(image.end(), colorBits.begin(), colorBits.end());
    image.insert(image.end(), maskBits.begin(), maskBits.end());
    return true;
}

// An icon file of the icons (each one image); written beside and renamed over path, so no reader
// ever sees half a file.
bool WriteIconFile(const std::wstring& path, const std::vector<HICON>& icons)
{
    std::vector<uint8_t> head(6), body;
    auto put16 = [](std::vector<uint8_t>& to, size_t at, uint32_t v) {
        to[at] = static_cast<uint8_t>(v);
        to[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](std::vector<uint8_t>& to, size_t at, uint32_t v) {
        put16(to, at, v & 0xFFFF);
        put16(to, at + 2, v >> 16);
    };
    std::vector<std::vector<uint8_t>> images;
    std::vector<std::pair<int, int>> sizes;
    for (HICON icon : icons) {
        std::vector<uint8_t> image;
        int width = 0, height = 0;
        if (!IconImage(icon, image, width, height))
            return false;
        images.push_back(std::move(image));
        sizes.emplace_back(width, height);
    }
    put16(head, 2, 1);  // an icon file
    put16(head, 4, static_cast<uint32_t>(images.size()));
    size_t offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        std::vector<uint8_t> entry(16);
        entry[0] = static_cast<uint8_t>(sizes[i].first & 0xFF);  // 256 is written as 0
        entry[1] = static_cast<uint8_t>(sizes[i].second & 0xFF);
        put16(entry, 4, 1);
        put16(entry, 6, 32);
        put32(entry, 8, static_cast<uint32_t>(images[i].size()));
        put32(entry, 12, static_cast<uint32_t>(offset));
        head.insert(head.end(), entry.begin(), entry.end());
        offset += images[i].size();
        body.insert(body.end(), images[i].begin(), images[i].end());
    }
    head.insert(head.end(), body.begin(), body.end());
    const std::wstring part = path + L"." + std::to_wstring(GetCurrentThreadId()) + L".part";
    {
        THandle file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &written, nullptr) ||
            written != head.size()) {
            file.reset();
            DeleteFileW(part.c_str());
            return false;
        }
    }
    if (!MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(part.c_str());
        return false;
    }
    return true;
}

// The icon files handed out by this process: path -> index in the provider's lists.
std::mutex GIconFilesLock;
std::map<std::wstring, int32_t> GIconFiles;

// The icon file of the grain's icon at index in the provider's lists (made when missing), or ""
// when it cannot be made. One file per process and index: the icons at an index never change.
std::wstring IconFileOf(TSxCustomDataGrain& grain, int32_t index)
{
    // The provider's temporary folder: the product clears it with its other temporary files.
    const std::wstring folder = Utf8ToWide(grain.Provider.GetGrainTempPath(grain)) + L"sxicons";
    const std::wstring path =
        folder + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(index) + L".ico";
    std::lock_guard<std::mutex> guard(GIconFilesLock);
    if (GIconFiles.count(path) && shl_PathExists(path))
        return path;
    CreateDirectoryW(folder.c_str(), nullptr);
    HICON large = nullptr, small = nullptr;
    if (!grain.GetIcons(index, &large, &small))
        return {};
    const TSxIcon ownLarge(large), ownSmall(small);
    if (!WriteIconFile(path, {large, small}))
        return {};
    GIconFiles[path] = index;
    return path;
}

// The list index of an icon file this process handed out.
std::optional<int32_t> IconFileIndex(LPCWSTR file)
{
    if (!file)
        return std::nullopt;
    std::lock_guard<std::mutex> guard(GIconFilesLock);
    auto it = GIconFiles.find(file);
    if (it == GIconFiles.end())
        return std::nullopt;
    return it->second;
}

} // namespace

bool SxIconLocationsAreFiles()
{
    if (auto choice = GIconLocationsAreFiles.Get())
        return choice();
    return SxRunsOnWine();
}

void SxSetIconLocationsAreFiles(std::function<bool()> choice) { GIconLocationsAreFiles.Set(std::move(choice)); }

// ---------------------------------------------------------------------------------------------
// Icon extractor


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
        const bool win2000 = IsWindows2000();
        if (!iconFile || size == 0)
            return E_INVALIDARG;
        // Under Wine the location names the icon's file (whole, never cut); index 0 of it. Wine's
        // view asks without GIL_FORSHELL and draws its unknown-file icon for S_FALSE: there the
        // system's icon of the item is given as well.
        const bool files = wide && !win2000 && SxIconLocationsAreFiles();
        const int32_t icon = grain.GetIconIndex((flags & GIL_OPENICON) != 0, !files && (flags & GIL_FORSHELL) == 0);
        std::wstring file;
        if (files && icon >= 0)
            file = IconFileOf(grain, icon);
        HRESULT hr = !file.empty() && file.size() < size ? SxCopyToBuffer(file, iconFile, size, true)
                                                          : SxCopyToBuffer(win2000 ? grain.Name : RandomLocation(),
                                                                           iconFile, size, wide);
        if (FAILED(hr))
            return hr;
        *resultFlags = win2000 ? GIL_NOTFILENAME : GIL_NOTFILENAME | GIL_DONTCACHE | GIL_PERINSTANCE;
        *index = !file.empty() && file.size() < size ? 0 : icon;
        return icon == -1 ? S_FALSE : S_OK;
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

STDMETHODIMP TSxNamespaceExtractIcon::Extract(LPCWSTR file, UINT index, HICON* large, HICON* small, UINT)
{
    return SxComCall(nullptr, [&]() -> HRESULT {
        if (large)
            *large = nullptr;
        if (small)
            *small = nullptr;
        if (!large && !small)
            return E_INVALIDARG;
        // An icon file's location stands for the lists' index it was made of.
        const int32_t icon = IconFileIndex(file).value_or(static_cast<int32_t>(index));
        return FirstGrain().GetIcons(icon, large, small) ? S_OK : E_FAIL;
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
            return item->ClickWithWindow(info->hwnd);
        }
        entry->Click();
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
