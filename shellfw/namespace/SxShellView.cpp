#include "SxShellView.h"

#ifdef _WIN32
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr LONG SxViewNotifyEvents = 0x2B81F;  // rename, create, delete, mkdir, rmdir, attributes,
                                              // updatedir, updateitem, updateimage, renamefolder
constexpr LONG SxItemEvents = SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE | SHCNE_MKDIR | SHCNE_RMDIR |
                              SHCNE_ATTRIBUTES | SHCNE_UPDATEITEM | SHCNE_RENAMEFOLDER;

struct TViewRegistration {
    uint32_t Number;
    TSxPidlPtr List;
    HWND Window;
    bool Global;
};

struct TViewRegistry {
    std::mutex Lock;
    std::vector<TViewRegistration> Entries;
    uint32_t NextNumber = 0;
};

TViewRegistry& Registry()
{
    static TViewRegistry registry;
    return registry;
}


} // namespace

void NotifyShellChange(LONG event, UINT flags, PCSxItemIDList item1, PCSxItemIDList item2)
{
    SHChangeNotify(event, flags | SHCNF_FLUSHNOWAIT, item1, item2);
    if (!item1)
        return;
    TSxPidlPtr affected((event & ~SxItemEvents) == 0 && (event & SxItemEvents) != 0 ? PIDLGetParent(item1)
                                                                                   : PIDLClone(item1));
    if (!affected)
        return;
    std::vector<HWND> windows;
    {
        auto& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.Lock);
        for (const auto& entry : registry.Entries)
            if (!entry.Global && PIDLIsEqual(entry.List.get(), affected.get()))
                windows.push_back(entry.Window);
    }
    // The lists belong to the caller and are freed after this call, so the message carries only
    // the event: the view refreshes itself whatever the item.
    for (HWND window : windows)
        PostMessageW(window, SxShellChangeMessage, static_cast<WPARAM>(event), 0);
}

uint32_t RegisterShellView(TSxChangeNotifyType type, PCSxItemIDList list, HWND window)
{
    auto& registry = Registry();
    if (type == TSxChangeNotifyType::cntGlobal) {
        SHChangeNotifyEntry entry{list, TRUE};
        ULONG id = SHChangeNotifyRegister(window, SHCNRF_InterruptLevel | SHCNRF_ShellLevel, SxViewNotifyEvents,
                                          SxShellChangeMessage, 1, &entry);
        if (id != 0) {
            std::lock_guard<std::mutex> guard(registry.Lock);
            registry.Entries.push_back({id, nullptr, window, true});
        }
        return id;
    }
    TSxPidlPtr copy(PIDLClone(list));
    if (!copy)
        copy.reset(PIDLCreateEmpty());
    std::lock_guard<std::mutex> guard(registry.Lock);
    uint32_t number = registry.NextNumber++;
    registry.Entries.push_back({number, std::move(copy), window, false});
    return number;
}

void UnregisterShellView(HWND window)
{
    std::vector<ULONG> global;
    {
        auto& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.Lock);
        auto& entries = registry.Entries;
        for (auto it = entries.begin(); it != entries.end();) {
            if (it->Window != window) {
                ++it;
                continue;
            }
            if (it->Global)
                global.push_back(it->Number);
            it = entries.erase(it);
        }
    }
    for (ULONG id : global)
        SHChangeNotifyDeregister(id);
}

size_t ShellViewRegistrationCount(HWND window)
{
    auto& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    size_t count = 0;
    for (const auto& entry : registry.Entries)
        if (entry.Window == window)
            ++count;
    return count;
}

// ---------------------------------------------------------------------------------------------
// The view component

#include <atomic>
#include <mutex>

#include "SxExplorerMenu.h"
#include "SxExplorerToolbar.h"
#include "SxNamespaceDataObject.h"
#include "SxNamespaceDetails.h"
#include "SxPmtDataModule.h"
#include "SxNamespaceUtils.h"
#include "SxShellFolder.h"
#include "SxTransferFormats.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "SxProvider.h"
#include "SxTools.h"

#include <commctrl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// Messages of the system folder view's callback.
constexpr UINT SFVM_MERGEMENU_ = 1, SFVM_INVOKECOMMAND_ = 2, SFVM_GETBUTTONINFO_ = 5, SFVM_GETBUTTONS_ = 6,
               SFVM_WINDOWCREATED_ = 15, SFVM_FILEDIALOGPATH_ = 16, SFVM_COLUMNCLICK_ = 24,
               SFVM_DEFVIEWMODE_ = 27, SFVM_UNMERGEMENU_ = 28, SFVM_THISIDLIST_ = 41, SFVM_GETNOTIFY_ = 49;
constexpr LONG SxGlobalViewEvents = 0x23015;
constexpr UINT SxBrowserMessage = WM_USER + 7;
const wchar_t* const ViewProperty = L"TessolarkSysShellView";
constexpr UINT_PTR ViewSubclassId = 1;

// Default folder menu messages and commands.
constexpr UINT DFM_MERGECONTEXTMENU_ = 1, DFM_INVOKECOMMAND_ = 2, DFM_RELEASE_ = 3, DFM_GETVERBW_ = 15;
constexpr int DFM_CMD_DELETE_ = -1, DFM_CMD_MOVE_ = -2, DFM_CMD_COPY_ = -3, DFM_CMD_PROPERTIES_ = -5,
              DFM_CMD_PASTE_ = -7;

// The IShellBrowser that the Explorer window answers to message 1031; empty when the window is
// none or answers nothing usable.
ComPtr<IShellBrowser> BrowserOf(HWND ownerWindow)
{
    ComPtr<IShellBrowser> browser;
    if (!ownerWindow || !IsWindow(ownerWindow))
        return browser;
    auto* raw = reinterpret_cast<IShellBrowser*>(SendMessageW(ownerWindow, SxBrowserMessage, 0, 0));
    if (!raw || FAILED(raw->QueryInterface(IID_PPV_ARGS(&browser))))
        browser.Reset();
    return browser;
}

class TSxSysShellViewCallback final : public IShellFolderViewCB, public TSxSelfOwnedComObject {
public:
    // The folder (and with it the module that holds this view component) stays as long as the
    // system view keeps this callback.
    TSxSysShellViewCallback(TSxSysShellView& view, TSxCustomShellFolder* folder, HWND ownerWindow)
        : View(view), Folder(folder), Browser(BrowserOf(ownerWindow))
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        static const QITAB table[] = {QITABENTMULTI2(TSxSysShellViewCallback, IID_IUnknown, IShellFolderViewCB),
                                      SX_QITABENT(TSxSysShellViewCallback, IShellFolderViewCB), {nullptr, 0}};
        return SxQueryInterface(this, table, iid, object);
    }
    SX_COUNTED_REFERENCES

    STDMETHODIMP MessageSFVCB(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        return SxComCall(&View, [&]() -> HRESULT { return Message(msg, wParam, lParam); });
    }

    static LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);

private:
    HRESULT Message(UINT msg, WPARAM wParam, LPARAM lParam);
    void WindowCreated(HWND window);
    // The Explorer menu's items into the system view's menu bar, the toolbar's buttons into the
    // system view's array, and the run of a command of either for the selection.
    HRESULT MergeMenu(QCMINFO* info);
    void GetButtons(UINT firstId, UINT capacity, TBBUTTON* buttons);
    HRESULT InvokeCommand(UINT command);
    // Where the entries' menu items are looked up: the provider's permanent module.
    TSxModuleList Modules()
    {
        TSxPermanentModule* module = Folder->GetProviderModule();
        return module ? TSxModuleList{module} : TSxModuleList{};
    }
    // In a file dialog: the path the user is saving to is watched for the file to come.
    void WatchFileDialogPath();
    TSxPidlPtr CurrentFolder()
    {
        PIDLIST_ABSOLUTE list = nullptr;
        if (FAILED(Folder->GetCurFolder(&list)))
            return nullptr;
        return TSxPidlPtr(list);
    }

    TSxSysShellView& View;
    ComPtr<TSxCustomShellFolder> Folder;
    ComPtr<IShellBrowser> Browser;
    HWND Window = nullptr;
    ComPtr<IShellFolderViewCB> WindowHold;  // the view window's reference, until it goes
};

HRESULT TSxSysShellViewCallback::Message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case SFVM_MERGEMENU_:
        return MergeMenu(reinterpret_cast<QCMINFO*>(lParam));
    case SFVM_INVOKECOMMAND_:
        return InvokeCommand(static_cast<UINT>(wParam));
    case SFVM_GETBUTTONINFO_:
        if (auto* info = reinterpret_cast<TBINFO*>(lParam)) {
            info->cbuttons = View.ExplorerToolbar ? static_cast<UINT>(View.ExplorerToolbar->Buttons.size()) : 0;
            info->uFlags = 0;
        }
        return S_OK;
    case SFVM_GETBUTTONS_:
        GetButtons(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<TBBUTTON*>(lParam));
        return S_OK;
    case SFVM_WINDOWCREATED_:
        WindowCreated(reinterpret_cast<HWND>(wParam));
        return S_OK;
    case SFVM_FILEDIALOGPATH_:
        WatchFileDialogPath();
        return S_OK;
    case SFVM_COLUMNCLICK_:
        return S_FALSE;  // the system view sorts through CompareIDs
    case SFVM_DEFVIEWMODE_:
        if (auto* mode = reinterpret_cast<FOLDERVIEWMODE*>(lParam))
            *mode = static_cast<FOLDERVIEWMODE>(View.GetViewMode(Folder.Get()));
        return S_OK;
    case SFVM_UNMERGEMENU_:
        if (View.ExplorerMenu && Browser)
            View.ExplorerMenu->DetachControls(Browser.Get());
        return S_OK;
    case SFVM_THISIDLIST_:
        if (auto* out = reinterpret_cast<PIDLIST_ABSOLUTE*>(lParam))
            if (TSxPidlPtr list = CurrentFolder())
                *out = list.release();
        return S_OK;
    case SFVM_GETNOTIFY_:
        if (View.ChangeNotifyType != TSxChangeNotifyType::cntGlobal)
            return E_NOTIMPL;
        if (auto* out = reinterpret_cast<PCIDLIST_ABSOLUTE*>(wParam))
            if (TSxPidlPtr list = CurrentFolder())
                *out = list.release();  // the system view frees it
        if (auto* events = reinterpret_cast<LONG*>(lParam))
            *events = SxGlobalViewEvents;
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

HRESULT TSxSysShellViewCallback::MergeMenu(QCMINFO* info)
{
    if (!View.ExplorerMenu || !Browser || !Folder || !info)
        return E_NOTIMPL;
    if (View.CommandBase == -1)
        View.CommandBase = static_cast<int32_t>(info->idCmdFirst);
    View.CommandCount += View.ExplorerMenu->MergeMenu(info->hmenu, info->indexMenu,
                                                      View.CommandBase + View.CommandCount, info->idCmdLast,
                                                      Modules(), Browser.Get());
    return S_OK;
}

void TSxSysShellViewCallback::GetButtons(UINT firstId, UINT capacity, TBBUTTON* buttons)
{
    TSxExplorerToolbar* toolbar = View.ExplorerToolbar;
    if (!toolbar || !buttons)
        return;
    if (View.CommandBase == -1)
        View.CommandBase = static_cast<int32_t>(firstId);
    // The array holds what the count asked for; a caller that gives none has the count we told it.
    const int room = capacity ? static_cast<int>(capacity) : static_cast<int>(toolbar->Buttons.size());
    View.CommandCount += toolbar->FillToolbarButtons(Modules(), Browser.Get(), buttons, room,
                                                     View.CommandBase + View.CommandCount);
}

HRESULT TSxSysShellViewCallback::InvokeCommand(UINT command)
{
    if (!Browser || !Folder)
        return E_NOTIMPL;
    ComPtr<IShellView> active;
    if (FAILED(Browser->QueryActiveShellView(&active)) || !active)
        return E_NOTIMPL;
    TSxDataGrainList grains;
    ComPtr<IDataObject> selection;
    if (SUCCEEDED(active->GetItemObject(SVGIO_SELECTION, IID_IDataObject,
                                        reinterpret_cast<void**>(selection.GetAddressOf()))) &&
        selection) {
        TSxCustomProvider* provider = Folder->GetDataProvider();
        FORMATETC format{static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        TSxMedium medium;
        if (!provider || FAILED(selection->GetData(&format, &medium.Medium)) || medium.Medium.tymed != TYMED_HGLOBAL)
            return E_NOTIMPL;
        TSxLockedGlobal block(medium.Medium.hGlobal);
        provider->GrainsFromIDListArray(block.Data, block.Size, grains);
    }
    const int32_t id = View.CommandBase + static_cast<int32_t>(command);
    // One command runs once: the menu's and the toolbar's identifiers never overlap.
    if (!(View.ExplorerMenu && View.ExplorerMenu->ExecuteCommand(Window, id, grains, Folder.Get())) &&
        View.ExplorerToolbar)
        View.ExplorerToolbar->ExecuteCommand(Window, id, grains, Folder.Get());
    return S_OK;
}

void TSxSysShellViewCallback::WindowCreated(HWND window)
{
    if (!window || Window)
        return;
    // A subclass of the comctl32 chain: subclasses that others add later keep working, and this
    // one leaves without unhooking them.
    if (!SetWindowSubclass(window, &TSxSysShellViewCallback::SubclassProc, ViewSubclassId,
                           reinterpret_cast<DWORD_PTR>(this)))
        return;
    Window = window;
    WindowHold = this;
    SetPropW(window, ViewProperty, static_cast<HANDLE>(this));
    TSxPidlPtr list = CurrentFolder();
    RegisterShellView(View.ChangeNotifyType, list.get(), window);
    if (View.OnWindowCreated)
        View.OnWindowCreated(View, window);
}

void TSxSysShellViewCallback::WatchFileDialogPath()
{
    if (!Browser || !Window)
        return;
    Microsoft::WRL::ComPtr<ICommDlgBrowser> dialog;
    if (FAILED(Browser->QueryInterface(IID_ICommDlgBrowser, reinterpret_cast<void**>(dialog.GetAddressOf()))))
        return;
    wchar_t path[MAX_PATH] = {};
    const LRESULT n = SendMessageW(GetParent(Window), CDM_GETFILEPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
    if (n > 0 && path[0])
        Folder->WatchFilePath(path);
}

LRESULT CALLBACK TSxSysShellViewCallback::SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                                      UINT_PTR id, DWORD_PTR selfData)
{
    auto* self = reinterpret_cast<TSxSysShellViewCallback*>(selfData);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(window, &TSxSysShellViewCallback::SubclassProc, id);
        RemovePropW(window, ViewProperty);
        try {
            UnregisterShellView(window);
        } catch (...) {
        }
        // The window's reference goes after the message has been passed on.
        ComPtr<IShellFolderViewCB> last = std::move(self->WindowHold);
        return DefSubclassProc(window, msg, wParam, lParam);
    }
    if (msg == SxShellChangeMessage && self->Browser) {
        try {
            ComPtr<IShellView> active;
            if (SUCCEEDED(self->Browser->QueryActiveShellView(&active)) && active)
                active->Refresh();
        } catch (...) {
        }
    }
    return DefSubclassProc(window, msg, wParam, lParam);
}

// The grains of the items in a data object's "Shell IDList Array"; a damaged block gives none.
void GrainsOfDataObject(TSxCustomProvider& provider, IDataObject* dataObject, TSxDataGrainList& grains)
{
    if (!dataObject)
        return;
    FORMATETC format{static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    TSxMedium medium;
    if (FAILED(dataObject->GetData(&format, &medium.Medium)) || medium.Medium.tymed != TYMED_HGLOBAL)
        return;
    TSxLockedGlobal block(medium.Medium.hGlobal);
    try {
        provider.GrainsFromIDListArray(block.Data, block.Size, grains);
    } catch (const ESxTransferFormatError&) {
        grains.Clear();
    }
}

// The product's items in the system's default folder menu: a grain menu of the framework merged
// at the system's position and carried out when one of them is chosen.
HRESULT MergeGrainMenu(TSxCustomShellFolder& folder, HWND ownerWindow, TSxDataGrainList& grains, bool background,
                       UINT flags, QCMINFO* info)
{
    TSxCustomShellView* view = folder.GetShellView();
    if (grains.Count() == 0 || !info || !view)
        return E_NOTIMPL;
    Microsoft::WRL::ComPtr<IContextMenu> menu;
    // The system menu has the basic verbs (and the background its paste) already.
    HRESULT hr = background
                     ? TSxNamespaceCustomUtil::Make<TSxNamespaceBackgroundMenu>(
                           IID_IContextMenu, reinterpret_cast<void**>(menu.GetAddressOf()), folder, ownerWindow,
                           &grains, true)
                     : TSxNamespaceCustomUtil::Make<TSxNamespaceContextMenu>(
                           IID_IContextMenu, reinterpret_cast<void**>(menu.GetAddressOf()), folder, ownerWindow,
                           &grains, true);
    if (FAILED(hr))
        return hr;
    hr = menu->QueryContextMenu(info->hmenu, info->indexMenu, info->idCmdFirst, info->idCmdLast, flags);
    if (FAILED(hr))
        return hr;
    info->idCmdFirst += static_cast<UINT>(HRESULT_CODE(hr)) + 1;
    view->MenuObject = menu;
    return S_OK;
}

// The item and background menus differ in the grain menu they merge and in what paste does.
HRESULT MenuCallback(bool background, IShellFolder* shellFolder, HWND ownerWindow, IDataObject* dataObject,
                     UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    if (!folder)
        return E_INVALIDARG;
    return SxComCall(folder, [&]() -> HRESULT {
        TSxCustomProvider* provider = folder->GetDataProvider();
        if (!provider)
            return E_NOTIMPL;
        TSxDataGrainList grains;
        GrainsOfDataObject(*provider, dataObject, grains);
        TSxCustomShellView* view = folder->GetShellView();
        switch (msg) {
        case DFM_MERGECONTEXTMENU_:
            return MergeGrainMenu(*folder, ownerWindow, grains, background, static_cast<UINT>(wParam),
                                  reinterpret_cast<QCMINFO*>(lParam));
        case DFM_INVOKECOMMAND_: {
            int command = static_cast<int>(static_cast<INT_PTR>(wParam));
            if (command >= 0) {
                // One of the merged items, by its offset.
                if (view && view->MenuObject) {
                    CMINVOKECOMMANDINFO info{};
                    info.cbSize = sizeof info;
                    info.hwnd = ownerWindow;
                    info.lpVerb = MAKEINTRESOURCEA(command);
                    info.nShow = SW_SHOWNORMAL;
                    view->MenuObject->InvokeCommand(&info);
                }
                return S_OK;
            }
            switch (command) {
            case DFM_CMD_DELETE_:
                // Once: the folder's delete asks the confirmation itself.
                folder->DeleteGrains(grains, ownerWindow);
                return S_OK;
            case DFM_CMD_PROPERTIES_:
                for (int i = 0; i < grains.Count(); ++i)
                    provider->ShowPropertySheets(*grains.GetItem(i), ownerWindow);
                return S_OK;
            case DFM_CMD_COPY_:
            case DFM_CMD_MOVE_: {
                // The item menu leaves the shell its own handling too (the same clipboard
                // contents again); the background menu has done it.
                const HRESULT hr = command == DFM_CMD_COPY_ ? folder->CopyGrains(grains) : folder->CutGrains(grains);
                return background && SUCCEEDED(hr) ? S_OK : S_FALSE;
            }
            case DFM_CMD_PASTE_: {
                // The background pastes into the folder, an item into the folder it stands for;
                // either way once (the shell's own paste would drop the clipboard a second time).
                const bool intoFolder = background || grains.Count() == 0;
                if (!intoFolder && grains.GetItem(0)->IsFile)
                    return S_FALSE;
                folder->PasteInto(intoFolder ? nullptr : grains.GetItem(0), ownerWindow);
                return S_OK;
            }
            default:
                return S_FALSE;
            }
        }
        case DFM_RELEASE_:
            // The system menu goes: so does the merged menu, and with it its hold on the folder.
            if (view)
                view->MenuObject.Reset();
            return S_OK;
        case DFM_GETVERBW_:
            // wParam: the command offset and the buffer's size in characters.
            if (!view || !view->MenuObject)
                return S_FALSE;
            return view->MenuObject->GetCommandString(LOWORD(wParam), GCS_VERBW, nullptr,
                                                      reinterpret_cast<LPSTR>(lParam),
                                                      HIWORD(wParam) ? HIWORD(wParam) : MAX_PATH);
        default:
            return E_NOTIMPL;
        }
    });
}

} // namespace

HRESULT CALLBACK ItemMenuCallback(IShellFolder* folder, HWND ownerWindow, IDataObject* dataObject, UINT msg,
                                  WPARAM wParam, LPARAM lParam)
{
    return MenuCallback(false, folder, ownerWindow, dataObject, msg, wParam, lParam);
}

HRESULT CALLBACK BackgroundMenuCallback(IShellFolder* folder, HWND ownerWindow, IDataObject* dataObject, UINT msg,
                                        WPARAM wParam, LPARAM lParam)
{
    return MenuCallback(true, folder, ownerWindow, dataObject, msg, wParam, lParam);
}

HRESULT TSxCustomShellView::CreateBackgroundMenu(PCSxItemIDList folderList, HWND ownerWindow, IContextMenu** menu,
                                                 TSxCustomShellFolder* folder, PCUITEMID_CHILD_ARRAY items,
                                                 UINT count)
{
    *menu = nullptr;
    return CDefFolderMenu_Create2(folderList, ownerWindow, count, items, static_cast<IShellFolder*>(folder),
                                  BackgroundMenuCallback, 0, nullptr, menu);
}

HRESULT TSxCustomShellView::CreateItemMenu(PCSxItemIDList folderList, HWND ownerWindow, IContextMenu** menu,
                                           TSxCustomShellFolder* folder, TSxDataGrainList& grains,
                                           PCUITEMID_CHILD_ARRAY items, UINT count)
{
    *menu = nullptr;
    if (Settings.ContextMenuOrigin == TSxContextMenuOrigin::cmoTessolark)
        return TSxNamespaceCustomUtil::Make<TSxNamespaceContextMenu>(IID_IContextMenu, reinterpret_cast<void**>(menu),
                                                                     *folder, ownerWindow, &grains, false);
    return CDefFolderMenu_Create2(folderList, ownerWindow, count, items, static_cast<IShellFolder*>(folder),
                                  ItemMenuCallback, 0, nullptr, menu);
}

HRESULT TSxCustomShellView::CreateExtractIcon(TSxCustomShellFolder* folder, TSxDataGrainList& grains, REFIID iid,
                                              void** object, HWND ownerWindow)
{
    return TSxNamespaceCustomUtil::Make<TSxNamespaceExtractIcon>(iid, object, *folder, ownerWindow, &grains);
}

HRESULT TSxCustomShellView::CreateExtractImage(TSxCustomShellFolder* folder, TSxDataGrainList& grains, void** object,
                                               HWND ownerWindow)
{
    return TSxNamespaceCustomUtil::Make<TSxNamespaceExtractImage>(IID_IExtractImage, object, *folder, ownerWindow,
                                                                  &grains);
}

HRESULT TSxCustomShellView::CreateView(TSxCustomShellFolder* folder, HWND ownerWindow, IShellView** view)
{
    *view = nullptr;
    Folder = folder;
    OwnerWindow = ownerWindow;
    return S_OK;
}

ComPtr<IShellFolderViewCB> TSxSysShellView::CreateCallback(TSxCustomShellFolder* folder, HWND ownerWindow)
{
    return SxAdoptComPtr<IShellFolderViewCB>(
        std::make_unique<TSxSysShellViewCallback>(*this, folder, ownerWindow).release());
}

HRESULT TSxSysShellView::CreateView(TSxCustomShellFolder* folder, HWND ownerWindow, IShellView** view)
{
    TSxCustomShellView::CreateView(folder, ownerWindow, view);
    ComPtr<IShellFolderViewCB> callback = CreateCallback(folder, ownerWindow);
    SFV_CREATE create{};
    create.cbSize = sizeof create;
    create.pshf = static_cast<IShellFolder*>(folder);
    create.psvOuter = nullptr;
    create.psfvcb = callback.Get();
    return SHCreateShellFolderView(&create, view);
}

int TSxSysShellView::GetViewMode(TSxCustomShellFolder* folder)
{
    TSxViewStyle style = DefaultViewStyle;
    if (OnGetDefaultViewStyle) {
        auto grain = folder ? folder->MakeFolderGrain() : nullptr;
        OnGetDefaultViewStyle(*this, grain.get(), style);
    }
    return static_cast<int>(style) + 1;
}

void InstallShellViewChangeNotice()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SetSxChangeNotice(
            [](LONG eventId, PCSxItemIDList list) { NotifyShellChange(eventId, SHCNF_IDLIST, list, nullptr); });
    });
}
#endif
