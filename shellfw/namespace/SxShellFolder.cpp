#include "SxShellFolder.h"

// Pure parts: the attribute mask and the "ShellFolder" flag names.
uint32_t TSxAttributesEditor::GetSFGAO() const
{
    uint32_t mask = 0;
    if (CanRename) mask |= 0x10;
    if (CanDelete) mask |= 0x20;
    if (HasPropSheet) mask |= 0x40;
    if (DropTarget) mask |= 0x100;
    if (Browsable) mask |= 0x08000000;
    if (FileSysAncestor) mask |= 0x10000000;
    if (Folder) mask |= 0x20000000;
    if (FileSystem) mask |= 0x40000000;
    if (HasSubfolder) mask |= 0x80000000;
    return mask;
}

std::vector<std::string> ShellFolderFlagNames(bool wantsForParsing, bool loadWithoutCOM, bool hideFolderVerbs,
                                              const TSxDeleteOptions& deleteOptions, bool queryForOverlay)
{
    std::vector<std::string> names;
    if (wantsForParsing) names.push_back("WantsFORPARSING");
    if (loadWithoutCOM) names.push_back("LoadWithoutCOM");
    if (hideFolderVerbs) names.push_back("HideFolderVerbs");
    if (deleteOptions.HideAsDeletePerUser)
        names.push_back("HideAsDeletePerUser");
    else if (deleteOptions.HideAsDelete)
        names.push_back("HideAsDelete");
    if (queryForOverlay) names.push_back("QueryForOverlay");
    return names;
}

#ifdef _WIN32
#include <shlwapi.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>

#include "SxGrainChangeNotifier.h"
#include "SxNamespaceDataObject.h"
#include "SxNamespaceDetails.h"
#include "SxNamespaceUtils.h"
#include "SxNamespaceDropTarget.h"
#include "SxProviderTransfer.h"
#include "SxVirtualFolder.h"
#include "SxShellView.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "SxProvider.h"
#include "SxPmtDataModule.h"
#include "SxTools.h"

using Microsoft::WRL::ComPtr;

const IID IID_ISxShellFolderInternal = {0x596E83A1, 0x5690, 0x4D7B, {0xB6, 0xD8, 0x58, 0x1F, 0xA6, 0xAB, 0x65, 0xA9}};

namespace {

constexpr uint32_t SFGAO_VALIDATE_BIT = 0x01000000;

// A name into a STRRET of the wide kind, whatever the caller put there.
void PutStrRet(STRRET* strRet, const std::string& text)
{
    strRet->uType = STRRET_WSTR;
    SetStrRet(*strRet, Utf8ToWide(text));
}

// Locale-aware, case-insensitive equality of two names.
bool SameItemName(const std::string& a, const std::string& b)
{
    std::wstring wa = Utf8ToWide(a), wb = Utf8ToWide(b);
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                          static_cast<int>(wb.size())) == CSTR_EQUAL;
}

// Clears a COM out pointer; false when the caller gave none.
template <typename T> bool ClearOut(T** out)
{
    if (!out)
        return false;
    *out = nullptr;
    return true;
}

// A 16-bit success code carrying the sign of a comparison.
HRESULT CompareResult(int value) { return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<uint16_t>(value)); }

// The start of an item call: the caller's out pointer cleared (E_POINTER without one), then the
// provider (E_NOTIMPL without one).
template <typename T> HRESULT BeginProviderCall(TSxCustomShellFolder& folder, T** out, TSxCustomProvider*& provider)
{
    provider = nullptr;
    if (!ClearOut(out))
        return E_POINTER;
    provider = folder.GetDataProvider();
    return provider ? S_OK : E_NOTIMPL;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and the provider

TSxCustomShellFolder::TSxCustomShellFolder(TSxComponent* owner) : TSxBaseShellObject(owner)
{
    InstallShellViewChangeNotice();
    Attributes.Folder = true;
    Attributes.HasSubfolder = true;
}

TSxCustomShellFolder::~TSxCustomShellFolder()
{
    if (ProviderModule)
        ProviderModule->RemoveShellFolder(this);
}

void TSxCustomShellFolder::SetProviderConnectivity(const std::string& moduleClass, const std::string& componentName)
{
    ProviderModuleClass = moduleClass;
    ProviderComponentName = componentName;
}

TSxCustomProvider* TSxCustomShellFolder::GetDataProvider()
{
    // Made (or waited for) without a lock held, then joined as one step under the live list's
    // lock, so that the module's last folder cannot free it in between. A module that went
    // meanwhile is found, or made, again.
    for (int attempt = 0; attempt < 3 && !Provider && !ProviderModule && !ProviderModuleClass.empty() &&
                          !ProviderComponentName.empty();
         ++attempt) {
        TSxPermanentModule* module = FindPermanentModule(ProviderModuleClass);
        if (!module)
            break;
        auto live = LockPermanentModules();
        if (!IsLivePermanentModule(module))
            continue;
        auto* holder = dynamic_cast<ISxProviderHolder*>(module);
        if (!holder)
            break;
        Provider = holder->FindProvider(ProviderComponentName);
        if (Provider) {
            ProviderModule = module;
            module->AddShellFolder(this);
        }
        break;
    }
    return Provider;
}

TSxCustomShellView* TSxCustomShellFolder::GetShellView()
{
    TSxCustomShellView* view = ShellViewRef;
    if (OnGetShellView)
        OnGetShellView(*this, view);
    return view;
}

TSxNamespaceDetails* TSxCustomShellFolder::GetDetails()
{
    TSxCustomShellView* view = GetShellView();
    return view ? view->Details : nullptr;
}

std::unique_ptr<TSxCustomDataGrain> TSxCustomShellFolder::MakeFolderGrain()
{
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider)
        return nullptr;
    auto grain = provider->GrainFromPidl(FolderList.get());
    if (!grain)
        grain = provider->CreateRootGrain();
    return grain;
}

// The grain of a child item (absolute list: the folder's list and the item), or nullptr.
std::unique_ptr<TSxCustomDataGrain> TSxCustomShellFolder::GrainOfItem(PCSxItemIDList item)
{
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider || !item)
        return nullptr;
    TSxPidlPtr absolute(PIDLCombine(FolderList.get(), item));
    return absolute ? provider->GrainFromPidl(absolute.get()) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// IUnknown and the private interface

void* TSxCustomShellFolder::ObjQueryInterface(REFIID iid)
{
    static const QITAB table[] = {
        SX_QITABENT(TSxCustomShellFolder, ISxShellFolderInternal),
        SX_QITABENT(TSxCustomShellFolder, IShellFolder2),
        QITABENTMULTI2(TSxCustomShellFolder, IID_IShellFolder, IShellFolder2),
        SX_QITABENT(TSxCustomShellFolder, IShellDetails),
        SX_QITABENT(TSxCustomShellFolder, IShellIcon),
        SX_QITABENT(TSxCustomShellFolder, IPersistFolder2),
        QITABENTMULTI2(TSxCustomShellFolder, IID_IPersistFolder, IPersistFolder2),
        QITABENTMULTI2(TSxCustomShellFolder, IID_IPersist, IPersistFolder2),
        SX_QITABENT(TSxCustomShellFolder, IShellIconOverlay),
        {nullptr, 0},
    };
    void* found = SxFindInterface(this, table, iid);
    return found ? found : TSxBaseShellObject::ObjQueryInterface(iid);
}

STDMETHODIMP TSxCustomShellFolder::GetFolderGrain(TSxCustomDataGrain** grain)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!grain)
        return E_POINTER;
    *grain = MakeFolderGrain().release();
    return *grain ? S_OK : E_FAIL;
    });
}

STDMETHODIMP TSxCustomShellFolder::GrainFromItemID(PCSxItemIDList list, TSxCustomDataGrain** grain)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!grain)
        return E_POINTER;
    TSxCustomProvider* provider = GetDataProvider();
    *grain = provider ? provider->GrainFromPidl(list).release() : nullptr;
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::GrainFromTempPath(LPCWSTR path, TSxCustomDataGrain** grain)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!grain)
        return E_POINTER;
    *grain = nullptr;
    TSxCustomProvider* provider = GetDataProvider();
    TSxGrainFolderManager* manager = provider ? provider->FolderManager() : nullptr;
    if (!manager || !path)
        return E_FAIL;
    *grain = manager->GrainForFolder(WideToUtf8(path)).release();
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::AddTempFile(LPCWSTR path)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = GetDataProvider();
    TSxGrainFolderManager* manager = provider ? provider->FolderManager() : nullptr;
    if (!manager || !path)
        return E_FAIL;
    manager->RegisterFile(WideToUtf8(path));
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::WatchFilePath(LPCWSTR path)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = GetDataProvider();
    auto folderGrain = MakeFolderGrain();
    if (!provider || !folderGrain || !path)
        return E_FAIL;
    provider->EnsureChangeNotifier(*folderGrain).AddWatch(folderGrain.get(), nullptr, WideToUtf8(path));
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::ReleaseGrain(TSxCustomDataGrain* grain)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = GetDataProvider();
    if (grain && provider && provider->IsLiveGrain(grain))
        std::unique_ptr<TSxCustomDataGrain> owned(grain);
    return S_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// IPersistFolder2

STDMETHODIMP TSxCustomShellFolder::GetClassID(CLSID* classId)
{
    if (!classId)
        return E_POINTER;
    *classId = Clsid();
    return S_OK;
}

STDMETHODIMP TSxCustomShellFolder::Initialize(PCIDLIST_ABSOLUTE list)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxPidlPtr copy(PIDLClone(list));
    if (list && !copy)
        return E_OUTOFMEMORY;
    FolderList = std::move(copy);
    if (TSxCustomProvider* provider = GetDataProvider())
        provider->SetRootPidl(FolderList.get());
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::GetCurFolder(PIDLIST_ABSOLUTE* list)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!list)
        return E_POINTER;
    *list = PIDLClone(FolderList.get());
    return *list || !FolderList ? S_OK : E_OUTOFMEMORY;
    });
}

// ---------------------------------------------------------------------------------------------
// Enumeration, binding, comparison

STDMETHODIMP TSxCustomShellFolder::EnumObjects(HWND ownerWindow, SHCONTF flags, IEnumIDList** enumerator)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = nullptr;
    HRESULT hr = BeginProviderCall(*this, enumerator, provider);
    if (hr == E_NOTIMPL && ownerWindow)
        MessageBoxW(ownerWindow, L"DataProvider not assigned to ShellFolder object", L"Error", MB_ICONERROR);
    if (FAILED(hr))
        return hr;
    // The system view lists its folder with its own window: from outside, that window is how
    // the tray program tells Explorer windows of this folder from others.
    MarkNamespaceView(ownerWindow);
    // Folders, non-folders and hidden items become bits 0 to 2; the other SHCONTF bits are dropped.
    const uint32_t sxFlags = (static_cast<uint32_t>(flags) >> 5) & 7;
    hr = provider->EnumObjects(PIDLFindLast(FolderList.get()), sxFlags, enumerator);
    if (FAILED(hr))
        return hr;
    return *enumerator ? S_OK : E_FAIL;
    });
}

STDMETHODIMP TSxCustomShellFolder::BindToObject(PCUIDLIST_RELATIVE item, IBindCtx*, REFIID iid, void** object)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!ClearOut(object))
        return E_POINTER;
    if (!IsEqualIID(iid, IID_IShellFolder) && !IsEqualIID(iid, IID_IShellFolder2))
        return E_NOINTERFACE;
    TSxPidlPtr absolute;
    if (item && PIDLGetSize(item) > 0) {
        // Only the first level is this folder's child; deeper levels are bound by the child.
        TSxPidlPtr first(PIDLCreateItem(PIDLItemData(item), PIDLItemSize(item) - 2));
        SFGAOF mask = SFGAO_FOLDER;
        PCUITEMID_CHILD child = first.get();
        HRESULT hr = GetAttributesOf(1, &child, &mask);
        if (FAILED(hr))
            return hr;
        if (!(mask & SFGAO_FOLDER))
            return E_INVALIDARG;
        absolute.reset(PIDLCombine(FolderList.get(), first.get()));
        if (!absolute)
            return E_OUTOFMEMORY;
        PCSxItemIDList rest = PIDLGetNext(item);
        if (rest && PIDLGetSize(rest) > 0) {
            ComPtr<IShellFolder> childFolder;
            hr = BindToObject(first.get(), nullptr, IID_PPV_ARGS(&childFolder));
            if (FAILED(hr))
                return hr;
            return childFolder->BindToObject(rest, nullptr, iid, object);
        }
    } else {
        absolute.reset(PIDLClone(FolderList.get()));
    }
    ComPtr<IPersistFolder> persist;
    CLSID clsid = Clsid();
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&persist));
    if (FAILED(hr))
        return hr;
    hr = persist->Initialize(absolute.get());
    if (FAILED(hr))
        return hr;
    return persist->QueryInterface(iid, object);
    });
}

STDMETHODIMP TSxCustomShellFolder::BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** object)
{
    if (object)
        *object = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TSxCustomShellFolder::CompareIDs(LPARAM param, PCUIDLIST_RELATIVE item1, PCUIDLIST_RELATIVE item2)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider)
        return E_NOTIMPL;
    if (!item1 || !item2)
        return E_INVALIDARG;
    if (TSxNamespaceDetails* details = GetDetails()) {
        auto grain1 = GrainOfItem(item1), grain2 = GrainOfItem(item2);
        if (!grain1 || !grain2)
            return E_INVALIDARG;
        // The same numbering as GetDetailsOf: Explorer's column number is the designed index.
        TSxNamespaceColumn* column = details->ColumnOfNumber(LOWORD(param));
        if (!column)
            return E_INVALIDARG;
        int32_t order = column->DoSort(grain1.get(), grain2.get());
        if (order != -2)
            return CompareResult(order);
    }
    return CompareResult(provider->CompareItemIDs(static_cast<int32_t>(param), item1, item2));
    });
}

// ---------------------------------------------------------------------------------------------
// Views and UI objects

STDMETHODIMP TSxCustomShellFolder::CreateViewObject(HWND ownerWindow, REFIID iid, void** object)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = nullptr;
    if (HRESULT hr = BeginProviderCall(*this, object, provider); FAILED(hr))
        return hr;
    TSxCustomShellView* view = GetShellView();
    if (IsEqualIID(iid, IID_IShellView)) {
        if (!view)
            return E_NOINTERFACE;
        IShellView* shellView = nullptr;
        view->CreateView(this, ownerWindow, &shellView);
        *object = shellView;
        return shellView ? S_OK : E_FAIL;
    }
    if (IsEqualIID(iid, IID_IContextMenu)) {
        if (!view)
            return E_NOINTERFACE;
        PCSxItemIDList last = PIDLFindLast(FolderList.get());
        TSxPidlPtr absolute(provider->IsGrainItemID(last) ? PIDLClone(FolderList.get())
                                                          : PIDLClone(provider->RootPidl()));
        PCUITEMID_CHILD items[1] = {absolute.get()};
        IContextMenu* menu = nullptr;
        HRESULT hr = view->CreateBackgroundMenu(FolderList.get(), ownerWindow, &menu, this, items, 1);
        *object = menu;
        return hr;
    }
    if (IsEqualIID(iid, IID_IDropTarget))
        return TSxNamespaceCustomUtil::Make<TSxNamespaceDropTarget>(iid, object, *this, ownerWindow, nullptr);
    if (IsEqualIID(iid, IID_IExtractIconW) || IsEqualIID(iid, IID_IExtractIconA))
        return TSxNamespaceCustomUtil::Make<TSxNamespaceExtractIcon>(iid, object, *this, ownerWindow, nullptr);
    return E_NOINTERFACE;
    });
}

STDMETHODIMP TSxCustomShellFolder::GetUIObjectOf(HWND ownerWindow, UINT count, PCUITEMID_CHILD_ARRAY items,
                                                 REFIID iid, UINT*, void** object)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = nullptr;
    if (HRESULT hr = BeginProviderCall(*this, object, provider); FAILED(hr))
        return hr;
    if (count == 0 || !items)
        return E_INVALIDARG;
    TSxDataGrainList grains;
    for (UINT i = 0; i < count; ++i) {
        if (!items[i] || !provider->IsGrainItemID(items[i]))
            continue;
        auto grain = GrainOfItem(items[i]);
        if (!grain)
            break;
        grains.Add(std::move(grain));
    }
    if (grains.Count() == 0)
        return E_INVALIDARG;
    TSxCustomShellView* view = GetShellView();
    if (IsEqualIID(iid, IID_IContextMenu)) {
        if (!view)
            return E_NOINTERFACE;
        IContextMenu* menu = nullptr;
        HRESULT hr = view->CreateItemMenu(FolderList.get(), ownerWindow, &menu, this, grains, items, count);
        *object = menu;
        return hr;
    }
    if (IsEqualIID(iid, IID_IDataObject))
        return TSxNamespaceCustomUtil::Make<TSxNamespaceDataObject>(iid, object, *this, ownerWindow, &grains);
    if (IsEqualIID(iid, IID_IDropTarget))
        return TSxNamespaceCustomUtil::Make<TSxNamespaceDropTarget>(iid, object, *this, ownerWindow, &grains);
    if (IsEqualIID(iid, IID_IExtractIconW) || IsEqualIID(iid, IID_IExtractIconA))
        return view ? view->CreateExtractIcon(this, grains, iid, object, ownerWindow)
                    : TSxNamespaceCustomUtil::Make<TSxNamespaceExtractIcon>(iid, object, *this, ownerWindow, &grains);
    if (IsEqualIID(iid, IID_IExtractImage))
        return view ? view->CreateExtractImage(this, grains, object, ownerWindow)
                    : TSxNamespaceCustomUtil::Make<TSxNamespaceExtractImage>(iid, object, *this, ownerWindow, &grains);
    if (IsEqualIID(iid, IID_IQueryInfo))
        return TSxNamespaceCustomUtil::Make<TSxNamespaceQueryInfo>(iid, object, *this, ownerWindow, &grains);
    return E_NOINTERFACE;
    });
}

// ---------------------------------------------------------------------------------------------
// Attributes, names, parsing, renaming

HRESULT TSxCustomShellFolder::AttributesOfItem(PCSxItemIDList item, uint32_t requested,
                                               TSxCustomDataGrain* folderGrain, uint32_t& result)
{
    TSxCustomProvider* provider = GetDataProvider();
    result = SxItemBaseAttributes;
    auto grain = GrainOfItem(item);
    if (requested & SFGAO_VALIDATE_BIT) {
        if (!grain || !folderGrain || !provider->DoValidateDataGrain(*folderGrain, *grain))
            return E_FAIL;
    }
    if (!grain)
        return S_OK;
    if (!grain->IsFile) {
        result |= SxFolderItemAttributes;
        if ((requested & SFGAO_DROPTARGET) && provider->AcceptsDrops())
            result |= SFGAO_DROPTARGET;
    }
    if ((requested & SFGAO_CANRENAME) && provider->CanRenameGrain(*grain))
        result |= SFGAO_CANRENAME;
    if ((requested & SFGAO_CANDELETE) && provider->CanDeleteGrain(*grain))
        result |= SFGAO_CANDELETE;
    return S_OK;
}

STDMETHODIMP TSxCustomShellFolder::GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* mask)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!mask)
        return E_INVALIDARG;
    if (count == 0) {
        *mask = Attributes.GetSFGAO();
        return S_OK;
    }
    if (!GetDataProvider() || !items || !items[0])
        return E_INVALIDARG;
    uint32_t requested = *mask;
    std::unique_ptr<TSxCustomDataGrain> folderGrain;
    if (requested & SFGAO_VALIDATE_BIT)
        folderGrain = MakeFolderGrain();
    // Several items share what every one of them has.
    uint32_t combined = 0xFFFFFFFF;
    for (UINT i = 0; i < count; ++i) {
        if (!items[i])
            return E_INVALIDARG;
        uint32_t one = 0;
        HRESULT hr = AttributesOfItem(items[i], requested, folderGrain.get(), one);
        if (FAILED(hr))
            return hr;
        combined &= one;
    }
    *mask = combined;
    return S_OK;
    });
}

std::string TSxCustomShellFolder::GetFolderPath()
{
    std::string path;
    TSxCustomProvider* provider = GetDataProvider();
    if (!FolderList || !provider)
        return path;
    for (PCSxItemIDList item = FolderList.get(); item && PIDLItemSize(item) > 0; item = PIDLGetNext(item)) {
        if (!path.empty() && path.back() != '\\')
            path += '\\';
        if (provider->IsGrainItemID(item)) {
            TSxPidlPtr single(PIDLCreateItem(PIDLItemData(item), PIDLItemSize(item) - 2));
            path += provider->GetItemName(single.get());
        }
    }
    return path;
}

bool TSxCustomShellFolder::DisplayNameOf(PCSxItemIDList, SHGDNF, std::string&) { return false; }

STDMETHODIMP TSxCustomShellFolder::GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* name)
{
    if (!name)
        return E_POINTER;
    // Whatever the answer, the caller finds an empty name of its own, never a stale pointer.
    auto clear = [name] {
        name->uType = STRRET_CSTR;
        name->cStr[0] = 0;
    };
    clear();
    const HRESULT hr = SxComCall(this, [&]() -> HRESULT {
        if (!GetDataProvider())
            return E_NOTIMPL;
        std::string text;
        if (!DisplayNameOf(item, flags, text))
            return E_NOTIMPL;  // this folder has no name form for the item
        PutStrRet(name, text);
        return S_OK;
    });
    if (FAILED(hr))
        clear();
    return hr;
}

STDMETHODIMP TSxCustomShellFolder::ParseDisplayName(HWND ownerWindow, IBindCtx*, LPWSTR displayName, ULONG* eaten,
                                                    PIDLIST_RELATIVE* list, ULONG* attributes)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (eaten)
        *eaten = 0;
    TSxCustomProvider* provider = nullptr;
    if (HRESULT hr = BeginProviderCall(*this, list, provider); FAILED(hr))
        return hr;
    if (!displayName)
        return E_INVALIDARG;
    std::vector<std::string> parts;
    SplitPath(WideToUtf8(displayName), parts);
    parts.erase(std::remove(parts.begin(), parts.end(), std::string()), parts.end());
    if (parts.empty())
        return E_INVALIDARG;

    TSxPidlPtr result;
    ComPtr<IShellFolder> current;  // empty: this folder
    for (size_t index = 0; index < parts.size(); ++index) {
        IShellFolder* folder = current ? current.Get() : static_cast<IShellFolder*>(this);
        ComPtr<IEnumIDList> enumerator;
        if (FAILED(folder->EnumObjects(ownerWindow, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                                       &enumerator)) ||
            !enumerator)
            return E_INVALIDARG;
        TSxPidlPtr match;
        for (;;) {
            PITEMID_CHILD child = nullptr;
            ULONG fetched = 0;
            if (enumerator->Next(1, &child, &fetched) != S_OK || !child)
                break;
            TSxPidlPtr owned(child);
            if (SameItemName(provider->GetItemName(owned.get()), parts[index])) {
                match = std::move(owned);
                break;
            }
        }
        // A part that names nothing is an error: the path never resolves to another item.
        if (!match)
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        result.reset(PIDLCombine(result.get(), match.get()));
        if (!result)
            return E_OUTOFMEMORY;
        if (index + 1 == parts.size())
            break;
        ComPtr<IShellFolder> next;
        if (FAILED(folder->BindToObject(match.get(), nullptr, IID_PPV_ARGS(&next))) || !next)
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);  // a file in the middle of the path
        current = std::move(next);
    }
    if (attributes && *attributes) {
        // The attributes of the item itself, asked of the folder that holds it.
        IShellFolder* holder = current ? current.Get() : static_cast<IShellFolder*>(this);
        PCUITEMID_CHILD last = PIDLFindLast(result.get());
        SFGAOF mask = *attributes;
        if (SUCCEEDED(holder->GetAttributesOf(1, &last, &mask)))
            *attributes &= mask;
    }
    if (eaten)
        *eaten = static_cast<ULONG>(wcslen(displayName));
    *list = result.release();
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::SetNameOf(HWND, PCUITEMID_CHILD item, LPCWSTR newName, SHGDNF,
                                             PITEMID_CHILD* newItem)
{
    if (newItem)
        *newItem = nullptr;
    return SxComCall(this, [&]() -> HRESULT {
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider)
        return E_NOTIMPL;
    if (!item || !newName || !*newName)
        return E_INVALIDARG;
    auto folderGrain = MakeFolderGrain();
    auto grain = GrainOfItem(item);
    if (!grain)
        return E_INVALIDARG;
    // The handler refuses by leaving PerformRename False or fails by raising.
    if (!folderGrain)
        return E_FAIL;
    HRESULT hr = provider->RenameGrain(*folderGrain, *grain, WideToUtf8(newName));
    if (FAILED(hr))
        return hr;
    TSxPidlPtr oldList(PIDLCombine(FolderList.get(), item));
    TSxPidlPtr renamedItem = provider->GrainToItemID(*grain);
    TSxPidlPtr newList(PIDLCombine(FolderList.get(), renamedItem.get()));
    NotifyShellChange(grain->IsFile ? SHCNE_RENAMEITEM : SHCNE_RENAMEFOLDER, SHCNF_IDLIST, oldList.get(),
                      newList.get());
    if (newItem)
        *newItem = renamedItem.release();
    return S_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// Columns

STDMETHODIMP TSxCustomShellFolder::GetDefaultSearchGUID(GUID*) { return E_NOTIMPL; }

STDMETHODIMP TSxCustomShellFolder::EnumSearches(IEnumExtraSearch** enumerator)
{
    if (enumerator)
        *enumerator = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TSxCustomShellFolder::GetDefaultColumn(DWORD, ULONG* sort, ULONG* display)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxNamespaceDetails* details = GetDetails();
    if (!details)
        return E_NOTIMPL;
    if (!sort || !display)
        return E_POINTER;
    *sort = static_cast<ULONG>(details->GetDefSortingColumn());
    *display = static_cast<ULONG>(details->GetDefDisplayColumn());
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::GetDefaultColumnState(UINT column, SHCOLSTATEF* flags)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxNamespaceDetails* details = GetDetails();
    if (!details)
        return E_NOTIMPL;
    if (!flags)
        return E_POINTER;
    uint32_t state = 0;
    if (!details->GetDefaultColumnState(column, state))
        return S_FALSE;
    *flags = state;
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::GetDetailsEx(PCUITEMID_CHILD, const SHCOLUMNID*, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP TSxCustomShellFolder::MapColumnToSCID(UINT, SHCOLUMNID*) { return E_NOTIMPL; }
STDMETHODIMP TSxCustomShellFolder::ColumnClick(UINT) { return E_NOTIMPL; }

STDMETHODIMP TSxCustomShellFolder::GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* details)
{
    return SxComCall(this, [&]() -> HRESULT {
    TSxNamespaceDetails* columns = GetDetails();
    if (!columns)
        return E_NOTIMPL;
    if (!details)
        return E_POINTER;
    std::unique_ptr<TSxCustomDataGrain> grain;
    if (item) {
        grain = GrainOfItem(item);
        if (!grain)
            return E_INVALIDARG;
    }
    return columns->GetDetailsOf(GetDataProvider(), grain.get(), details, static_cast<int32_t>(column));
    });
}

// ---------------------------------------------------------------------------------------------
// Icons

STDMETHODIMP TSxCustomShellFolder::GetIconOf(PCUITEMID_CHILD item, UINT flags, int* index)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!index)
        return E_POINTER;
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider || !item || !provider->IsGrainItemID(item))
        return S_FALSE;
    auto grain = GrainOfItem(item);
    if (!grain)
        return S_FALSE;
    bool useSystemIcon = false;
    provider->DoPrepareGrainApperance(*grain, useSystemIcon);
    if (!useSystemIcon)
        return S_FALSE;
    // The shell may add GIL_FORSHELL and other bits to the open form's flag.
    *index = GetSystemIconIndex(grain->Name, (flags & GIL_OPENICON) != 0, !grain->IsFile);
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::GetOverlayIndex(PCUITEMID_CHILD item, int* index)
{
    return SxComCall(this, [&]() -> HRESULT {
    if (!index)
        return E_POINTER;
    *index = 0;
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider || !item || !provider->IsGrainItemID(item) || !provider->HasOverlays())
        return S_FALSE;
    auto grain = GrainOfItem(item);
    int32_t overlay = 0;
    if (!grain || !provider->GetOverlayIndex(*grain, overlay))
        return S_FALSE;
    *index = overlay;
    return S_OK;
    });
}

STDMETHODIMP TSxCustomShellFolder::GetOverlayIconIndex(PCUITEMID_CHILD, int*) { return E_NOTIMPL; }

// ---------------------------------------------------------------------------------------------
// Operations of the framework's other objects

TSxCustomShellFolder* TSxCustomShellFolder::GetGrainFolder(TSxCustomDataGrain& grain,
                                                           ComPtr<IShellFolder>& keepAlive)
{
    keepAlive.Reset();
    try {
        TSxCustomProvider* provider = GetDataProvider();
        if (!provider)
            return nullptr;
        TSxPidlPtr item = provider->GrainToItemID(grain);
        ComPtr<IShellFolder> folder;
        if (FAILED(BindToObject(item.get(), nullptr, IID_PPV_ARGS(&folder))) || !folder)
            return nullptr;
        auto* component = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(folder.Get()));
        if (!component)
            return nullptr;
        keepAlive = std::move(folder);
        return component;
    } catch (const std::exception&) {
        return nullptr;
    }
}

namespace {
// The data object the last copy or cut put on the clipboard; not held: it counts only while
// OleIsCurrentClipboard says the clipboard still has it.
std::atomic<IDataObject*> GClipboardSource{nullptr};
} // namespace

HRESULT TSxCustomShellFolder::PutOnClipboard(TSxDataGrainList& grains, DWORD effect)
{
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider || grains.Count() == 0)
        return E_INVALIDARG;
    std::vector<TSxPidlPtr> items = provider->BuildItemIDArray(grains);
    std::vector<PCUITEMID_CHILD> children;
    for (const auto& item : items)
        children.push_back(item.get());
    Microsoft::WRL::ComPtr<IDataObject> data;
    HRESULT hr = GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject, nullptr,
                               reinterpret_cast<void**>(data.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = DataObjectSetDWord(data.Get(), effect, CF_SXPREFERREDDROPEFFECT);
    if (FAILED(hr))
        return hr;
    hr = OleSetClipboard(data.Get());
    if (SUCCEEDED(hr))
        GClipboardSource = data.Get();
    return hr;
}

HRESULT TSxCustomShellFolder::CopyGrains(TSxDataGrainList& grains) { return PutOnClipboard(grains, DROPEFFECT_COPY); }

HRESULT TSxCustomShellFolder::CutGrains(TSxDataGrainList& grains) { return PutOnClipboard(grains, DROPEFFECT_MOVE); }

HRESULT TSxCustomShellFolder::PasteFromClipboard(HWND ownerWindow)
{
    // The clipboard hands out a stand-in for the object on it, which hides what the folder's
    // own data object is told at the drop: the move of a cut would never be completed. While
    // the object a copy or cut of this process put there is still on the clipboard (so the
    // clipboard holds it), it is used itself.
    Microsoft::WRL::ComPtr<IDataObject> data;
    HRESULT hr = S_OK;
    IDataObject* own = GClipboardSource.load();
    if (own && OleIsCurrentClipboard(own) == S_OK)
        data = own;
    else
        hr = OleGetClipboard(data.GetAddressOf());
    if (FAILED(hr) || !data)
        return FAILED(hr) ? hr : E_FAIL;
    Microsoft::WRL::ComPtr<IDropTarget> target;
    hr = CreateViewObject(ownerWindow, IID_IDropTarget, reinterpret_cast<void**>(target.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    // A paste moves what was cut and copies everything else.
    uint32_t preferred = 0;
    DataObjectGetDWord(data.Get(), CF_SXPREFERREDDROPEFFECT, preferred);
    const DWORD allowed = (preferred & DROPEFFECT_MOVE) ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    DWORD effect = allowed;
    const POINTL point{0, 0};
    hr = target->DragEnter(data.Get(), MK_CONTROL, point, &effect);
    if (FAILED(hr))
        return hr;
    if (effect == DROPEFFECT_NONE) {
        target->DragLeave();
        return S_FALSE;  // nothing on the clipboard this folder takes
    }
    effect = allowed;
    return target->Drop(data.Get(), MK_CONTROL, point, &effect);
}

HRESULT TSxCustomShellFolder::PasteInto(TSxCustomDataGrain* grain, HWND ownerWindow)
{
    TSxCustomShellFolder* target = this;
    ComPtr<IShellFolder> keep;
    if (grain) {
        target = grain->IsFile ? nullptr : GetGrainFolder(*grain, keep);
        if (!target)
            return E_INVALIDARG;
    }
    const HRESULT hr = target->PasteFromClipboard(ownerWindow);
    // S_FALSE: nothing on the clipboard that this folder takes.
    return hr == S_FALSE ? DV_E_FORMATETC : hr;
}

void TSxCustomShellFolder::DeleteGrains(TSxDataGrainList& grains, HWND ownerWindow)
{
    TSxCustomProvider* provider = GetDataProvider();
    if (!provider || grains.Count() == 0 || !provider->DoConfirmDelete(grains, ownerWindow))
        return;
    // The shell's progress dialog; the operation runs on without one when it is missing.
    TSxProgressDialogWrapper progress("Dateien werden gel\xC3\xB6scht...", ownerWindow, poModal | poAutoTime, 8,
                                      "Operation abgebrochen");
    progress.SetTotal(grains.Count());
    progress.SetLine1("Dateien werden \xC3\xBC" "bertragen...");
    for (int i = 0; i < grains.Count(); ++i) {
        if (progress.HasUserCancelled())
            break;
        TSxCustomDataGrain& grain = *grains.GetItem(i);
        progress.SetLine2(grain.Name);
        // Only a grain that really went is announced as deleted: a handler that fails raises,
        // and the next grain follows.
        bool deleted = false;
        try {
            provider->DoHandleDelete(grain);
            deleted = true;
        } catch (const std::exception&) {
            SxHandleException(this, std::current_exception());
        }
        if (deleted)
            provider->NotifyGrainDeleted(grain);
        progress.SetPosition(i + 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Registration

TSxFolderRegistration TSxCustomShellFolder::FolderRegistration()
{
    TSxFolderRegistration r;
    r.BracedClsid = GetCLSID();
    r.ShellFolderFlags =
        ShellFolderFlagNames(WantsForParsing, LoadWithoutCOM, HideFolderVerbs, DeleteOptions, QueryForOverlay);
    r.InfoTip = StaticInfoTip;
    r.DefaultIcon = DefaultIcon;
    if (OnGetDefaultIcon)
        OnGetDefaultIcon(*this, r.DefaultIcon);
    r.Attributes = Attributes.GetSFGAO();
    r.ExtensionName = ExtensionName();
    r.HasPropertySheetHandler = HasPropertySheetHandler;
    r.HasContextMenuHandler = HasContextMenuHandler;
    return r;
}

void TSxCustomShellFolder::UpdateRegistry(bool doRegister)
{
    if (doRegister) {
        ShellCommands.Validate();  // a bad verb set writes nothing
        TSxBaseShellObject::UpdateRegistry(true);
        RegisterShellFolderKeys(FolderRegistration());
        ShellCommands.RegisterCLSIDVerbs(GetCLSID());
    } else {
        TSxFolderRegistration r = FolderRegistration();
        ShellCommands.UnregisterCLSIDVerbs(GetCLSID());
        TSxBaseShellObject::UpdateRegistry(false);
        UnregisterShellFolderKeys(r);
    }
}

#endif

#ifdef _WIN32
TSxBaseShellObject* SxShellObjectOf(IUnknown* object)
{
    if (!object)
        return nullptr;
    // The caller holds its own reference on object.
    ComPtr<ISxShellObject> shellObject;
    if (FAILED(object->QueryInterface(IID_ISxShellObject, reinterpret_cast<void**>(shellObject.GetAddressOf()))) ||
        !shellObject)
        return nullptr;
    TSxBaseShellObject* component = nullptr;
    shellObject->GetShellObject(&component);
    return component;
}
#endif
