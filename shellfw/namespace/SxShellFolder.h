#pragma once
// The shell folder that Explorer talks to as a namespace folder: every item question goes to the
// data provider on the permanent module, through data grains and their item IDs; views, menus and
// columns go to the shell view component.
#include <cstdint>
#include <string>
#include <vector>

#include "SxURLHandler.h"

// The folder's own SFGAO attributes, also written to the registry at registration.
class TSxAttributesEditor {
public:
    bool Browsable = false;
    bool CanDelete = false;
    bool CanRename = false;
    bool DropTarget = false;
    bool FileSysAncestor = false;
    bool FileSystem = false;
    bool Folder = false;
    bool HasPropSheet = false;
    bool HasSubfolder = false;

    uint32_t GetSFGAO() const;
#ifdef _WIN32
    // The "Attributes" value of the "ShellFolder" key below classKey (HKEY_CLASSES_ROOT).
    void WriteToRegistry(const std::string& classKey) const;
#endif
};

class TSxDeleteOptions {
public:
    bool HideAsDelete = false;
    bool HideAsDeletePerUser = false;
};

// The empty values of the "ShellFolder" key, in the order they are written.
std::vector<std::string> ShellFolderFlagNames(bool wantsForParsing, bool loadWithoutCOM, bool hideFolderVerbs,
                                              const TSxDeleteOptions& deleteOptions, bool queryForOverlay);

// Attribute bits an item answers before the provider's own grants.
constexpr uint32_t SxItemBaseAttributes = 0x40000043;   // FILESYSTEM, HASPROPSHEET, CANMOVE, CANCOPY
constexpr uint32_t SxFolderItemAttributes = 0xB8000000; // HASSUBFOLDER, FOLDER, FILESYSANCESTOR, BROWSABLE

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <functional>
#include <memory>

#include "SxPidl.h"
#include "SxBaseShellObject.h"
#include "SxFileClasses.h"

class TSxCustomProvider;
class TSxCustomDataGrain;
class TSxDataGrainList;
class TSxCustomShellView;
class TSxNamespaceDetails;
class TSxBaseShellObject;
class TSxPermanentModule;
struct TSxFolderRegistration;

// What a permanent module that holds providers answers: its provider of that component name.
class ISxProviderHolder {
public:
    virtual ~ISxProviderHolder() = default;
    virtual TSxCustomProvider* FindProvider(const std::string& name) = 0;
};
class TSxCustomShellFolder;

// The folder's private interface: how the framework's other objects reach grains through a folder.
// {596E83A1-5690-4D7B-B6D8-581FA6AB65A9}
extern const IID IID_ISxShellFolderInternal;
struct ISxShellFolderInternal : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFolderGrain(TSxCustomDataGrain** grain) = 0;
    virtual HRESULT STDMETHODCALLTYPE GrainFromItemID(PCSxItemIDList list, TSxCustomDataGrain** grain) = 0;
    virtual HRESULT STDMETHODCALLTYPE GrainFromTempPath(LPCWSTR path, TSxCustomDataGrain** grain) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddTempFile(LPCWSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseGrain(TSxCustomDataGrain* grain) = 0;
    virtual HRESULT STDMETHODCALLTYPE WatchFilePath(LPCWSTR path) = 0;
};

// The shell folder component. COM reaches it through the framework's COM object (one per folder
// object Explorer makes); every method converts exceptions at its boundary.
class TSxCustomShellFolder : public TSxBaseShellObject,
                             public ISxShellFolderInternal,
                             public IShellFolder2,
                             public IShellDetails,
                             public IShellIcon,
                             public IPersistFolder2,
                             public IShellIconOverlay {
public:
    explicit TSxCustomShellFolder(TSxComponent* owner);
    std::string ClassName() const override { return "TSxCustomShellFolder"; }
    ~TSxCustomShellFolder() override;

    // Published settings.
    TSxAttributesEditor Attributes;
    TSxDeleteOptions DeleteOptions;
    std::string DefaultIcon;
    bool HideFolderVerbs = false;
    bool LoadWithoutCOM = true;
    bool QueryForOverlay = false;
    std::string StaticInfoTip;
    TSxShellCommandsEditor ShellCommands;  // the folder's own verbs under its CLSID key
    bool WantsForParsing = true;
    bool HasContextMenuHandler = false;
    bool HasPropertySheetHandler = false;
    std::function<void(TSxCustomShellFolder& sender, std::string& iconLocation)> OnGetDefaultIcon;
    std::function<void(TSxCustomShellFolder& sender, TSxCustomShellView*& view)> OnGetShellView;

    // The provider, by reference or through its permanent module's class and component name.
    void SetDataProvider(TSxCustomProvider* provider) { Provider = provider; }
    // The provider by its permanent module's class and its own component name, found on first use.
    void SetProviderConnectivity(const std::string& moduleClass, const std::string& componentName);
    TSxCustomProvider* GetDataProvider();
    // The permanent module that holds the provider (found with it), or nullptr.
    TSxPermanentModule* GetProviderModule()
    {
        GetDataProvider();
        return ProviderModule;
    }
    void SetShellView(TSxCustomShellView* view) { ShellViewRef = view; }
    TSxCustomShellView* GetShellView();
    // The view's details component (the columns), or nullptr.
    TSxNamespaceDetails* GetDetails();

    PCSxItemIDList FolderIDList() const { return FolderList.get(); }

    // Non-COM operations of the other framework objects.
    std::unique_ptr<TSxCustomDataGrain> MakeFolderGrain();
    virtual std::string GetFolderPath();
    // The folder component of a child folder grain (bound through COM), or nullptr.
    TSxCustomShellFolder* GetGrainFolder(TSxCustomDataGrain& grain, Microsoft::WRL::ComPtr<IShellFolder>& keepAlive);
    // Deletes the grains after the provider's confirmation; announces each one that went.
    virtual void DeleteGrains(TSxDataGrainList& grains, HWND ownerWindow);
    // The grains' data object on the OLE clipboard, to be copied or (cut) moved by the paste.
    virtual HRESULT CopyGrains(TSxDataGrainList& grains);
    virtual HRESULT CutGrains(TSxDataGrainList& grains);
    // What the clipboard holds, dropped into this folder through its own drop target; S_FALSE
    // when the folder takes nothing of it.
    virtual HRESULT PasteFromClipboard(HWND ownerWindow = nullptr);
    // The paste of a menu: into this folder (grain nullptr, the background) or into the folder
    // that the folder grain stands for. A paste that could not run is a failure (never S_FALSE).
    HRESULT PasteInto(TSxCustomDataGrain* grain, HWND ownerWindow);

    void UpdateRegistry(bool doRegister) override;

    // IUnknown of every interface goes to the one identity.
    SX_IUNKNOWN_METHODS

    // ISxShellFolderInternal
    STDMETHODIMP GetFolderGrain(TSxCustomDataGrain** grain) override;
    STDMETHODIMP GrainFromItemID(PCSxItemIDList list, TSxCustomDataGrain** grain) override;
    STDMETHODIMP GrainFromTempPath(LPCWSTR path, TSxCustomDataGrain** grain) override;
    STDMETHODIMP AddTempFile(LPCWSTR path) override;
    STDMETHODIMP ReleaseGrain(TSxCustomDataGrain* grain) override;
    STDMETHODIMP WatchFilePath(LPCWSTR path) override;

    // IPersist, IPersistFolder, IPersistFolder2
    STDMETHODIMP GetClassID(CLSID* classId) override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE list) override;
    STDMETHODIMP GetCurFolder(PIDLIST_ABSOLUTE* list) override;

    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND ownerWindow, IBindCtx* bindContext, LPWSTR displayName, ULONG* eaten,
                                  PIDLIST_RELATIVE* list, ULONG* attributes) override;
    STDMETHODIMP EnumObjects(HWND ownerWindow, SHCONTF flags, IEnumIDList** enumerator) override;
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE item, IBindCtx* bindContext, REFIID iid, void** object) override;
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE item, IBindCtx* bindContext, REFIID iid, void** object) override;
    STDMETHODIMP CompareIDs(LPARAM param, PCUIDLIST_RELATIVE item1, PCUIDLIST_RELATIVE item2) override;
    STDMETHODIMP CreateViewObject(HWND ownerWindow, REFIID iid, void** object) override;
    STDMETHODIMP GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* mask) override;
    STDMETHODIMP GetUIObjectOf(HWND ownerWindow, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID iid, UINT* reserved,
                               void** object) override;
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* name) override;
    STDMETHODIMP SetNameOf(HWND ownerWindow, PCUITEMID_CHILD item, LPCWSTR newName, SHGDNF flags,
                           PITEMID_CHILD* newItem) override;

    // IShellFolder2
    STDMETHODIMP GetDefaultSearchGUID(GUID* guid) override;
    STDMETHODIMP EnumSearches(IEnumExtraSearch** enumerator) override;
    STDMETHODIMP GetDefaultColumn(DWORD reserved, ULONG* sort, ULONG* display) override;
    STDMETHODIMP GetDefaultColumnState(UINT column, SHCOLSTATEF* flags) override;
    STDMETHODIMP GetDetailsEx(PCUITEMID_CHILD item, const SHCOLUMNID* column, VARIANT* value) override;
    STDMETHODIMP GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* details) override;
    STDMETHODIMP MapColumnToSCID(UINT column, SHCOLUMNID* scid) override;

    // IShellDetails (GetDetailsOf is shared with IShellFolder2)
    STDMETHODIMP ColumnClick(UINT column) override;

    // IShellIcon, IShellIconOverlay
    STDMETHODIMP GetIconOf(PCUITEMID_CHILD item, UINT flags, int* index) override;
    STDMETHODIMP GetOverlayIndex(PCUITEMID_CHILD item, int* index) override;
    STDMETHODIMP GetOverlayIconIndex(PCUITEMID_CHILD item, int* index) override;

protected:
    void* ObjQueryInterface(REFIID iid) override;
    // The names of one item (the last item of list) by SHGDN flags; the base has none.
    virtual bool DisplayNameOf(PCSxItemIDList list, SHGDNF flags, std::string& name);
    // The shell folder registration of this folder (the class key's own keys).
    TSxFolderRegistration FolderRegistration();

    // The grain of a child item of this folder (absolute list: the folder's and the item), or nullptr.
    std::unique_ptr<TSxCustomDataGrain> GrainOfItem(PCSxItemIDList item);

private:
    HRESULT PutOnClipboard(TSxDataGrainList& grains, DWORD effect);
    HRESULT AttributesOfItem(PCSxItemIDList item, uint32_t requested, TSxCustomDataGrain* folderGrain,
                             uint32_t& result);

    TSxPidlPtr FolderList;
    TSxCustomProvider* Provider = nullptr;
    std::string ProviderModuleClass, ProviderComponentName;
    TSxPermanentModule* ProviderModule = nullptr;
    TSxCustomShellView* ShellViewRef = nullptr;
};

// The framework component behind an interface pointer (through ISxShellObject), or nullptr.
TSxBaseShellObject* SxShellObjectOf(IUnknown* object);
#endif
