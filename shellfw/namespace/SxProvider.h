#pragma once
// The data provider: the one component through which a virtual folder gets its items and its
// behaviour. The framework asks it for everything that concerns items; it answers from its
// properties or fires one of its events, which the product handles. Events are std::function
// members: much depends on whether a handler is assigned at all, so an empty event means "none".
// A var answer starts permissive (allow, valid, continue: true; overwrite: false); of an event
// with Ex/Ex2 variants only the most extended assigned one fires.
#ifdef _WIN32
#include "SxGrainRecord.h"
#include "SxPidl.h"
#include "SxTools.h"
#include "SxStream.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

// Data grains: one item of the virtual folder (file or folder) as the provider hands it to Explorer,
// and the owning list in which grains travel through the provider's events. Grains are short-lived
// copies: the framework makes one from an item ID whenever it needs one and frees it after the call.

// Owner of an icon handle.
struct TSxIconDeleter {
    void operator()(HICON icon) const
    {
        if (icon)
            DestroyIcon(icon);
    }
};
using TSxIcon = std::unique_ptr<std::remove_pointer_t<HICON>, TSxIconDeleter>;

class TSxCustomProvider;
class TSxByHandProvider;
class TSxComponent;
class TSxPopupMenu;
class TSxDataGrainList;

class TSxCustomDataGrain {
public:
    // Registers the grain in the provider's list of live grains.
    explicit TSxCustomDataGrain(TSxCustomProvider& provider);
    virtual ~TSxCustomDataGrain();
    TSxCustomDataGrain(const TSxCustomDataGrain&) = delete;
    TSxCustomDataGrain& operator=(const TSxCustomDataGrain&) = delete;

    TSxGrainAttributes Attributes = 0;
    uint8_t Version = SxGrainRecordVersion;
    TSxMemoryStream Data;   // the provider's private bytes for the item
    bool IsFile = false;
    int32_t IconIndex = -1;        // -1: the provider's default
    std::string Name;              // UTF-8; display and parsing name
    int32_t OpenIconIndex = -1;
    std::vector<std::string> Values;  // "key=value" lines
    TSxCustomProvider& Provider;

    // Value lines by key (case-insensitive).
    std::string GetValue(const std::string& key) const { return SxGetValue(Values, key); }
    void SetValue(const std::string& key, const std::string& value) { SxSetValue(Values, key, value); }

    PCSxItemIDList AbsolutePidl() const { return FAbsolutePidl.get(); }
    // Keeps a copy of list (nullptr allowed) in place of the current one.
    void SetAbsolutePidl(PCSxItemIDList list);
    void FreeAbsolutePidl() { FAbsolutePidl.reset(); }
    // The absolute list becomes the folder grain's list with this grain's own item ID appended.
    void PlaceUnder(const TSxCustomDataGrain& folderGrain);

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

    // The cached grain ID; asks the provider (OnGetGrainID) while none is cached.
    virtual std::optional<std::string> GetGrainID();
    // The grain record at the stream's position. A damaged record raises and changes nothing.
    virtual void LoadFromStream(TSxByteStream& stream);
    // withAbsoluteList false writes field 8 empty (the form inside item IDs).
    virtual void SaveToStream(TSxByteStream& stream, bool withAbsoluteList = true) const;
    // A new grain of the provider's class with this grain's content and absolute list (not its
    // cached grain ID).
    virtual std::unique_ptr<TSxCustomDataGrain> Clone() const;
    // Verbs on the given owner window and absolute list (Explore: folders only).
    virtual void Explore(HWND ownerWindow, PCSxItemIDList absoluteList);
    // A file grain asks the provider (OnGrainOpen) for a command; raises when it cannot be started.
    virtual void Open(HWND ownerWindow, PCSxItemIDList absoluteList);
    virtual void ShowProperties(HWND ownerWindow, PCSxItemIDList absoluteList);
    // The private clipboard format's form of one grain: the grain record.
    virtual void LoadFromPrivateFormat(TSxByteStream& stream) { LoadFromStream(stream); }
    virtual void SaveToPrivateFormat(TSxByteStream& stream) const { SaveToStream(stream, true); }
    // Fills list with the grain's children; nothing here.
    virtual void Populate(TSxDataGrainList& list);

    // Menus of the grain (the caller owns them; they refer to this grain and to the provider's
    // menu items, so they must not outlive either): the folder background menu, and the grain's
    // own menu with its verbs, the provider's menus for it and, unless noBasicVerbs, the basic verbs.
    virtual std::unique_ptr<TSxPopupMenu> BuildBackgroundMenu(TSxComponent* owner, bool noPaste);
    virtual std::unique_ptr<TSxPopupMenu> BuildContextMenu(bool explore, bool noDefault, bool noBasicVerbs,
                                                           TSxComponent* owner);

    // Icons. GetIconIndex: the grain's index in the provider's icon lists (open or closed form);
    // -1 for a system icon when noSystemIcon. A system icon is added to the lists once per grain
    // ID, or, for a grain without one, once per system image. Raises EProviderException when the
    // two lists give different indexes.
    virtual int32_t GetIconIndex(bool open, bool noSystemIcon);
    // New icons of index from the large and small lists (the caller destroys them); false on any
    // failure, with both handles nullptr.
    virtual bool GetIconHandles(int32_t index, HICON& large, HICON& small);
    // The same for each given icon (nullptr: not wanted).
    virtual bool GetIcons(int32_t index, HICON* large, HICON* small);

    // The grain's item ID (one item and the terminator); the caller owns it.
    TSxPidlPtr GetItemID() const;
    // Loads the grain from a framework item; any other item leaves the grain unchanged. A
    // framework item with a damaged record raises.
    void LoadFromItemID(PCSxItemIDList item);

protected:
    TSxGrainRecord ToRecord() const;
    void FromRecord(TSxGrainRecord&& record);

private:
    TSxPidlPtr FAbsolutePidl;
    std::recursive_mutex FLock;
    std::optional<std::string> FGrainID;
};

// The grain of TSxByHandProvider, whose children come from OnPopulate.
class TSxByHandDataGrain : public TSxCustomDataGrain {
public:
    explicit TSxByHandDataGrain(TSxByHandProvider& provider);
    bool Root = false;  // the grain that stands for the folder root
    void SetRoot(bool value) { Root = value; }
    std::unique_ptr<TSxCustomDataGrain> Clone() const override;
    void Populate(TSxDataGrainList& list) override;
};

// A list that owns its grains.
class TSxDataGrainList {
public:
    TSxDataGrainList() = default;
    TSxDataGrainList(const TSxDataGrainList&) = delete;
    TSxDataGrainList& operator=(const TSxDataGrainList&) = delete;

    int Count() const { return static_cast<int>(FItems.size()); }
    TSxCustomDataGrain* GetItem(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    void SetItem(int index, std::unique_ptr<TSxCustomDataGrain> grain) { FItems.at(static_cast<size_t>(index)) = std::move(grain); }
    TSxCustomDataGrain* First() const { return FItems.empty() ? nullptr : FItems.front().get(); }
    void Add(std::unique_ptr<TSxCustomDataGrain> grain) { FItems.push_back(std::move(grain)); }
    std::unique_ptr<TSxCustomDataGrain> Extract(int index);
    void Clear() { FItems.clear(); }
    // Clears this list and adds a clone of every grain of source, in order.
    void Assign(const TSxDataGrainList& source);

private:
    std::vector<std::unique_ptr<TSxCustomDataGrain>> FItems;
};

// What the browse operations need of the view form that owns a grain's menu: its window, the
// Explorer window's IShellBrowser, the shell folder's absolute list and the two browse settings.
struct TSxBrowseContext {
    HWND Window = nullptr;
    IShellBrowser* Browser = nullptr;
    PCSxItemIDList FolderAbsoluteList = nullptr;
    uint8_t BrowseFlags = 0;  // bit 0: no history, bit 1: no auto-select
    int WindowMode = 0;       // 0 same browser, 1 new browser, else the default
};
// The SBSP_* flags of a browse in explore mode (explore true) or open mode.
UINT SxBrowseFlags(const TSxBrowseContext& context, bool explore);
bool ShowGrainProperties(const TSxBrowseContext& context, TSxCustomDataGrain& grain);
bool ExploreGrain(const TSxBrowseContext& context, TSxCustomDataGrain& grain);
bool OpenGrain(const TSxBrowseContext& context, TSxCustomDataGrain& grain);

SX_DECLARE_EXCEPTION(EProviderException, std::runtime_error);

class TSxPopupMenu;  // the framework's popup menu class (menus of grains)
class TSxBaseMenuItem;
class TSxIconList;   // keyed image list
class TSxComponent;
class TSxGrainChangeNotifier;
class TSxGrainFolderManager;
struct TSxDropOutcome;
struct TSxFileDescriptor;

// The property-sheet component that a provider's PropertySheets refers to: shows the framework's
// sheets for one grain.
class TSxCustomNamespacePropSheet {
public:
    virtual ~TSxCustomNamespacePropSheet() = default;
    virtual void ShowForGrain(TSxCustomDataGrain& grain, HWND ownerWindow) = 0;
};

struct TSxDropInfo {
    TSxDropEffects Effect = 0;
    HWND ProgressWindow = nullptr;
    HWND OwnerWindow = nullptr;
    IProgressDialog* ProgressDialog = nullptr;
    // The effect a drop reports: move when in the set, else copy, else link.
    TSxDropEffects ReportedEffect() const;
};

struct TSxFileInfoDescriptor {
    TSxGrainAttributes Attributes = 0;
    TSxDateTime CreationTime = 0, LastAccessTime = 0, LastWriteTime = 0;
    uint64_t Size = 0;
    std::string DisplayName;
    std::string TypeName;
    bool IsFolder = false;
    bool ShowProgress = false;
};

// The nine standard verb items (not owned; nullptr until set or made by CreateBasicVerbs).
struct TSxProviderBasicVerbs {
    TSxBaseMenuItem* BackgroundPaste = nullptr;
    TSxBaseMenuItem* Copy = nullptr;
    TSxBaseMenuItem* Cut = nullptr;
    TSxBaseMenuItem* Delete = nullptr;
    TSxBaseMenuItem* Explore = nullptr;
    TSxBaseMenuItem* Open = nullptr;
    TSxBaseMenuItem* Paste = nullptr;
    TSxBaseMenuItem* Properties = nullptr;
    TSxBaseMenuItem* Rename = nullptr;
    bool Contains(const TSxBaseMenuItem* item) const;
};

struct TSxPrepareIconParams {
    bool UseSystemIcon = false;
};

struct TSxSize {
    int32_t Width = 0, Height = 0;
};

// The change notices of the framework. The shell view's change routine takes them over (it also
// tells the framework's open views); the default calls SHChangeNotify with SHCNF_IDLIST |
// SHCNF_FLUSHNOWAIT. An empty function restores the default.
using TSxChangeNoticeFn = std::function<void(LONG eventId, PCSxItemIDList list)>;
void SetSxChangeNotice(TSxChangeNoticeFn fn);
void SxChangeNotify(LONG eventId, PCSxItemIDList list);

// Seam for tests: replaces the error box shown when a provider is placed on a per-object module
// (an empty function restores the box).
using TSxProviderMessageFn = std::function<void(const std::string& text)>;
void SetSxProviderMessage(TSxProviderMessageFn fn);
// The provider's warning box (OK only) on ownerWindow, or what the seam does with its text.
void SxShowProviderMessage(const std::string& text, HWND ownerWindow);

// The whole contents of an open file (path names it in the error), rewound. A read that fails
// raises: a cut-off copy is never handed on as the file.
TSxMemoryStream SxReadWholeFile(HANDLE file, const std::string& path);
// The same for the file of that name, opened with writers kept out; raises when it cannot be opened.
TSxMemoryStream SxReadWholeFile(const std::string& path);

class TSxCustomProvider {
public:
    using Grain = TSxCustomDataGrain;
    using GrainPtr = std::unique_ptr<TSxCustomDataGrain>;

    explicit TSxCustomProvider(const std::string& name = std::string());
    // A provider placed on a component. A per-object module (TSxModule) lives only as long as one
    // COM object, so a provider there is refused: the error box, then EAbort (the silent abort).
    TSxCustomProvider(TSxComponent* owner, const std::string& name);
    virtual ~TSxCustomProvider();
    TSxCustomProvider(const TSxCustomProvider&) = delete;
    TSxCustomProvider& operator=(const TSxCustomProvider&) = delete;

    std::string Name;  // component name (a shell folder finds its provider by it)
    int32_t Tag = 0;

    // Properties.
    TSxPopupMenu* BackgroundContextMenu = nullptr;
    TSxPopupMenu* CommonContextMenu = nullptr;
    TSxPopupMenu* FileContextMenu = nullptr;
    TSxPopupMenu* FolderContextMenu = nullptr;
    TSxIconList* LargeIcons = nullptr;
    TSxIconList* SmallIcons = nullptr;
    TSxIconList* LargeOverlayIcons = nullptr;
    TSxIconList* SmallOverlayIcons = nullptr;
    TSxCustomNamespacePropSheet* PropertySheets = nullptr;
    TSxProviderBasicVerbs BasicVerbs;
    HIMAGELIST MenuImages = nullptr;  // images of grain menus (not owned)
    // Default icon indexes. They count only while both icon lists are assigned; otherwise the
    // system's indexes found at construction are used (UsesSystemIcons).
    int32_t FolderIconProperty = 0, FolderOpenIconProperty = 0, ItemIconProperty = 0, ItemOpenIconProperty = 0;
    int32_t FolderIcon() const;
    int32_t FolderOpenIcon() const;
    int32_t ItemIcon() const;
    int32_t ItemOpenIcon() const;
    bool UsesSystemIcons() const { return !(LargeIcons && SmallIcons); }
    // The icon lists in use: the assigned one, else the provider's own list over the system image
    // list of that size.
    TSxIconList* GetLargeIcons() const;
    TSxIconList* GetSmallIcons() const;

    // Events (Sender is the provider).
    std::function<void(TSxCustomProvider&, int column, Grain&, Grain&, int& result, bool& cont)> BeforeCompareGrains;
    std::function<void(TSxCustomProvider&, int column, Grain&, Grain&, int& result)> OnCompareGrains;
    std::function<void(TSxCustomProvider&, TSxDataGrainList&, HWND, bool& allowDelete)> OnConfirmDelete;
    std::function<void(TSxCustomProvider&, Grain& folder, HWND, bool& allowOverwrite)> OnConfirmOverwriteFolder;
    std::function<void(TSxCustomProvider&, Grain& ownerFolder, const std::string& newFolderName, GrainPtr& newFolder)> OnCreateNewFolder;
    std::function<void(TSxCustomProvider&, Grain& folder, Grain& grain)> OnDataGrainDrop;
    std::function<void(TSxCustomProvider&, Grain& folder, Grain& grain, TSxDropInfo&)> OnDataGrainDropEx;
    std::function<void(TSxCustomProvider&)> OnDestroy;
    std::function<void(TSxCustomProvider&, Grain&, TSxPopupMenu*&)> OnGetBackgroundContextMenu;
    std::function<void(TSxCustomProvider&, Grain&, TSxPopupMenu*&)> OnGetCommonContextMenu;
    std::function<void(TSxCustomProvider&, Grain&, TSxPopupMenu*&)> OnGetFileContextMenu;
    std::function<void(TSxCustomProvider&, Grain&, TSxPopupMenu*&)> OnGetFolderContextMenu;
    std::function<void(TSxCustomProvider&, Grain&, TSxMemoryStream&)> OnGetGrainFileContents;
    std::function<void(TSxCustomProvider&, Grain&, TSxFileInfoDescriptor&)> OnGetGrainFileInfo;
    std::function<void(TSxCustomProvider&, Grain&, std::string& fileName)> OnGetGrainFilename;
    std::function<void(TSxCustomProvider&, Grain&, std::optional<std::string>& grainID)> OnGetGrainID;
    std::function<void(TSxCustomProvider&, Grain&, std::string& tempPath)> OnGetGrainTempPath;
    std::function<void(TSxCustomProvider&, Grain&, int32_t& iconIndex, int32_t& openIconIndex)> OnGetIcon;
    std::function<void(TSxCustomProvider&, Grain&, std::string& infoTip)> OnGetInfoTip;
    std::function<void(TSxCustomProvider&, Grain&, int32_t& overlayIndex, bool& displayOverlay)> OnGetOverlayIndex;
    std::function<void(TSxCustomProvider&, TSxDataGrainList&)> OnGrainMoved;
    std::function<void(TSxCustomProvider&, Grain&, std::string& command, std::string& parameters, std::string& directory)> OnGrainOpen;
    std::function<void(TSxCustomProvider&, Grain&)> OnHandleDelete;
    std::function<void(TSxCustomProvider&, Grain&, TSxByteStream& dataStream)> OnHandleModify;
    std::function<void(TSxCustomProvider&, Grain& folder, const std::string& fileName, GrainPtr& newGrain)> OnNewGrainFromFile;
    std::function<void(TSxCustomProvider&, Grain& folder, const std::string& fileName, GrainPtr& newGrain, TSxDropInfo&)> OnNewGrainFromFileEx;
    std::function<void(TSxCustomProvider&, Grain& folder, const std::string& fileName, GrainPtr& newGrain, TSxDropInfo&, int remainingFiles, bool& cont)> OnNewGrainFromFileEx2;
    std::function<void(TSxCustomProvider&, Grain& folder, PCSxItemIDList pidl)> OnNewGrainFromPidl;
    std::function<void(TSxCustomProvider&, Grain& folder, PCSxItemIDList pidl, TSxDropInfo&)> OnNewGrainFromPidlEx;
    std::function<void(TSxCustomProvider&, Grain& folder, const TSxFileInfoDescriptor&, TSxByteStream& fileData)> OnNewGrainFromStream;
    std::function<void(TSxCustomProvider&, Grain& folder, const TSxFileInfoDescriptor&, TSxByteStream& fileData, TSxDropInfo&)> OnNewGrainFromStreamEx;
    std::function<void(TSxCustomProvider&, Grain&, TSxPrepareIconParams&)> OnPrepareGrainApperance;
    std::function<void(TSxCustomProvider&, Grain&, TSxCustomNamespacePropSheet*&)> OnPreparePropertySheets;
    std::function<void(TSxCustomProvider&, Grain& folder, Grain& grain, bool& allowDrop)> OnQueryDataGrainDrop;
    std::function<void(TSxCustomProvider&, Grain&, bool& allowDelete)> OnQueryDeleteGrain;
    std::function<void(TSxCustomProvider&, Grain&, bool& allowRename)> OnQueryRenameGrain;
    std::function<void(TSxCustomProvider&, Grain& parent, Grain& grain, std::string& newName, bool& performRename)> OnRenameDataGrain;
    std::function<void(TSxCustomProvider&, Grain& folder, Grain& grain, bool& isDataGrainValid)> OnValidateDataGrain;
    std::function<void(TSxCustomProvider&, Grain& folder, HWND)> AfterDrop;
    std::function<void(TSxCustomProvider&, Grain& folder, HWND, bool& allowDrop)> BeforeDrop;
    std::function<void(TSxCustomProvider&, Grain&, TSxSize, HBITMAP& thumb)> OnGetDataGrainThumb;

    // The provider lock (re-entrant; see FLock).
    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

    // Live grains (every grain of this provider registers itself).
    void AddGrain(Grain* grain);
    void RemoveGrain(Grain* grain);
    bool IsLiveGrain(const Grain* grain);

    // The folder root's absolute list; set once, later calls keep the first list.
    void SetRootPidl(PCSxItemIDList list);
    PCSxItemIDList RootPidl() const { return FRoot.load(); }

    // Makes an item, owned by the provider's own popup menu, for every basic verb still missing.
    virtual void CreateBasicVerbs();
    // A component that the provider may refer to is going: every reference to it (icon lists,
    // menus, overlay lists, property sheets, basic verbs) is cleared.
    virtual void Notification(const void* component);
    virtual int CompareGrains(int column, Grain& grain1, Grain& grain2);
    virtual GrainPtr CreateGrain();
    virtual GrainPtr CreateRootGrain();
    virtual void DoGrainOpen(Grain& grain, std::string& command, std::string& parameters, std::string& directory);
    // The item IDs of the folder item's children that flags select (bit 0 folders, bit 1 files,
    // bit 2 hidden ones too); false when this provider does not enumerate.
    virtual bool EnumObjects(PCSxItemIDList item, uint32_t flags, std::vector<TSxPidlPtr>& items);
    // The same items as the enumerator a shell folder hands to Explorer (reference count 1;
    // nullptr when this provider does not enumerate). E_OUTOFMEMORY when it cannot be built.
    HRESULT EnumObjects(PCSxItemIDList item, uint32_t flags, IEnumIDList** enumerator);
    virtual void DoGetGrainID(Grain& grain, std::optional<std::string>& grainID);
    virtual void DoGetIcon(Grain& grain, int32_t& iconIndex, int32_t& openIconIndex);

    // Item IDs.
    TSxPidlPtr GrainToItemID(const Grain& grain) const;
    static bool IsGrainItemID(PCSxItemIDList item) { return IsGrainItem(item); }
    // A new grain for the list's last item (with the whole list as its absolute list), the root
    // grain for the root list, nullptr for anything else or a damaged item.
    GrainPtr GrainFromPidl(PCSxItemIDList list);
    // An order of two lists: level by level over the shorter depth, then the shorter first; lists
    // that do not start with framework items go to the desktop folder. Raises EProviderException
    // when the lists cannot be compared.
    int CompareItemIDs(int column, PCSxItemIDList listA, PCSxItemIDList listB);
    std::string GetItemName(PCSxItemIDList list);

    // Menus of a grain: the property, or what the matching event answers.
    TSxPopupMenu* GetBackgroundContextMenu(Grain& grain);
    TSxPopupMenu* GetCommonContextMenu(Grain& grain);
    TSxPopupMenu* GetFileContextMenu(Grain& grain);
    TSxPopupMenu* GetFolderContextMenu(Grain& grain);

    void DoPrepareGrainApperance(Grain& grain, bool& useSystemIcon);
    bool HasOverlays() const { return static_cast<bool>(OnGetOverlayIndex); }
    // The overlay number (4-bit image-list overlay) of the grain's overlay; false for none. Each
    // overlay index of the product is registered with the system image lists once and keeps the
    // number it first got; false too when no overlay number is left.
    bool GetOverlayIndex(Grain& grain, int32_t& index);
    void DoGetInfoTip(Grain& grain, std::string& infoTip);

    // Which drops the product takes, and whether the clipboard holds something it takes.
    bool HasGrainDrop() const { return OnDataGrainDrop || OnDataGrainDropEx; }
    bool HasPidlDrop() const { return static_cast<bool>(OnNewGrainFromPidl); }
    bool HasFileDrop() const { return OnNewGrainFromFile || OnNewGrainFromFileEx; }
    bool HasStreamDrop() const { return static_cast<bool>(OnNewGrainFromStream); }
    // The one rule for "this folder takes drops" (its SFGAO_DROPTARGET): any of the four above.
    bool AcceptsDrops() const { return HasGrainDrop() || HasPidlDrop() || HasFileDrop() || HasStreamDrop(); }
    bool CanPaste();

    // The most extended assigned variant of the drop events.
    void DoDataGrainDrop(Grain& folder, Grain& grain, TSxDropInfo& dropInfo);
    bool DoNewGrainFromFile(Grain& folder, const std::string& fileName, GrainPtr& newGrain, TSxDropInfo& dropInfo,
                            int remainingFiles, bool& cont);
    void DoNewGrainFromPidl(Grain& folder, PCSxItemIDList pidl, TSxDropInfo& dropInfo);
    void DoNewGrainFromStream(Grain& folder, const TSxFileInfoDescriptor& info, TSxByteStream& data, TSxDropInfo& dropInfo);
    bool DoQueryDataGrainDrop(Grain& folder, Grain& grain);
    bool DoConfirmOverwriteFolder(Grain& folder, HWND window);
    bool DoBeforeDrop(Grain& folder, HWND window);
    void DoAfterDrop(Grain& folder, HWND window);

    // The provider's class name as the private format carries it.
    virtual std::string ClassName() const { return "TSxCustomProvider"; }

    // Transfer: which formats the provider can render.
    bool CanProvideFileContents() const { return OnGetGrainFileInfo && OnGetGrainFileContents; }
    bool CanProvideFileNames() const { return static_cast<bool>(OnGetGrainFilename); }
    // The bytes of each format for grains of the folder folderList (SxTransferFormats).
    std::vector<uint8_t> BuildPrivateFormat(PCSxItemIDList folderList, const TSxDataGrainList& grains);
    std::vector<uint8_t> BuildIDListArray(PCSxItemIDList folderList, const TSxDataGrainList& grains);
    // names: each grain's path relative to the dragged selection.
    std::vector<uint8_t> BuildFileGroupDescriptor(const TSxDataGrainList& grains, const std::vector<std::string>& names,
                                                  bool wide);
    // The grain's contents (OnGetGrainFileContents); a handler that fails raises.
    std::vector<uint8_t> BuildFileContents(Grain& grain);
    // Real files for the grains (the product's file names, else files written into the temporary
    // folder, folders with everything in them), as a CF_HDROP block.
    std::vector<uint8_t> BuildHDROP(PCSxItemIDList folderList, const TSxDataGrainList& grains);
    std::vector<TSxPidlPtr> BuildItemIDArray(const TSxDataGrainList& grains);
    // The grains of a "Shell IDList Array" block that are grains of this provider (others are
    // left out); a damaged block raises ESxTransferFormatError.
    void GrainsFromIDListArray(const void* block, size_t size, TSxDataGrainList& grains);
    std::vector<TSxFileInfoDescriptor> ReadFileGroupDescriptor(const void* block, size_t size, bool wide);
    TSxFileInfoDescriptor FileInfoOfDescriptor(const TSxFileDescriptor& descriptor, bool wide);
    // The path of a grain inside the virtual folder ("Bilder\Urlaub 2024\x.png"), from its
    // absolute list (its name alone without one).
    std::string GrainPath(const Grain& grain);

    // Drop handlers: each fills outcome as items reach the product (also when a handler raises)
    // and sets effect to what the drop may report (SxOutcomeEffect). BeforeDrop refusing gives
    // E_UNEXPECTED and nothing else.
    HRESULT DropPrivateFormat(Grain& folder, DWORD& effect, HWND ownerWindow, const void* block, size_t size,
                              TSxDropOutcome& outcome);
    HRESULT DropIDList(Grain& folder, DWORD& effect, HWND ownerWindow, const void* block, size_t size,
                       TSxDropOutcome& outcome);
    HRESULT DropFiles(Grain& folder, DWORD& effect, HWND ownerWindow, const std::vector<std::string>& paths,
                      TSxDropOutcome& outcome);
    // One descriptor's contents; arrived is set when the product took them.
    HRESULT DropFileContents(Grain& folder, DWORD& effect, HWND ownerWindow, const TSxFileInfoDescriptor& info,
                             TSxByteStream& data, bool& arrived);
    // A move of grains out of this folder completed: OnGrainMoved for them, then the folder's update.
    void SetPerformedDropEffect(PCSxItemIDList folderList, TSxDataGrainList& grains, DWORD effect);

    // Real files for grains: the change notifier over the temporary folder of grain, and the
    // manager of the temporary folders that stand for folder grains (both made on first use).
    TSxGrainChangeNotifier& EnsureChangeNotifier(Grain& grain);
    TSxGrainChangeNotifier* ChangeNotifier() const { return FNotifier.get(); }
    TSxGrainFolderManager& EnsureFolderManager(Grain& grain);
    TSxGrainFolderManager* FolderManager() const { return FFolderManager.get(); }
    // A changed temporary file to OnHandleModify, once nobody else holds it: false (nothing
    // handed) while it is locked.
    bool TryHandleModify(Grain& grain, const std::string& fileName);

    // Operations: new folder, rename, delete, validation, sheets, notices, temporary files.
    bool CreateNewFolder(Grain& ownerFolder, const std::string& newFolderName, GrainPtr& newFolder);
    // S_OK when renamed; a rename the handler refuses gives HRESULT_FROM_WIN32(ERROR_CANCELLED)
    // and leaves the name.
    HRESULT RenameGrain(Grain& parent, Grain& grain, const std::string& newName);
    bool DoConfirmDelete(TSxDataGrainList& grains, HWND ownerWindow);
    void DoHandleDelete(Grain& grain);
    bool CanDeleteGrain(Grain& grain);
    bool CanRenameGrain(Grain& grain);
    bool DoValidateDataGrain(Grain& folder, Grain& grain);
    void ShowPropertySheets(Grain& grain, HWND ownerWindow);
    void NotifyGrainCreated(const Grain& parent, const Grain& child);
    void NotifyGrainDeleted(const Grain& grain);
    void NotifyGrainUpdated(const Grain& grain);
    // The temporary folder (ends with "\"): the handler's answer when it is an existing folder,
    // else the system's.
    std::string GetGrainTempPath(Grain& grain);
    // A file-system name for a grain at fullPath ("a\b.txt" inside the virtual folder): the
    // product's file name, else the temporary file (its contents asked once per watched file),
    // or for a folder grain a folder of that path below the temporary folder. False, and nothing
    // asked of the product, for a path that can be no file name.
    bool GetGrainFileName(Grain& grain, const std::string& fullPath, std::string& fileName);
    // Whether every part of the "\" separated path can be a file name.
    static bool IsFileSystemPath(const std::string& fullPath);
    // The grain's temporary file: its path inside the virtual folder as sub-folders of the
    // temporary folder, so that two grains never share one file.
    std::string GrainTempFileName(Grain& grain, const std::string& fullPath);
    void DoHandleModify(Grain& grain, const std::string& fileName);
    // Waits for a changed temporary file (attempts 1 ms apart); 5000 by default.
    int ModifyWaitTries = 5000;

protected:
    // Called by the destructors of descendants before their own members go.
    void BeforeDestruction();
    // Temporary files that a grain change notifier watches. Without the notifier the names are
    // only remembered, so that a watched file is not written twice.
    virtual bool IsWatchedGrainFile(const std::string& fileName);
    virtual void WatchGrainFile(const std::string& fileName, const Grain& grain);

private:
    bool WriteGrainTempFile(Grain& grain, const std::string& fullPath, std::string& fileName);
    // The grain as a real file or folder (a folder with everything in it) below the temporary folder.
    bool MaterializeGrain(Grain& grain, const std::string& fullPath, std::string& fileName);

    // The provider lock guards the live grains, the root list and the basic verbs' menu, and is
    // never held while an event or the shell is called: Explorer asks from every window's thread.
    std::recursive_mutex FLock;
    std::vector<Grain*> FLiveGrains;
    TSxPidlPtr FRootPidl;
    std::atomic<PCSxItemIDList> FRoot{nullptr};  // FRootPidl once set; read without the lock
    int32_t FSystemFolderIcon = 0, FSystemFolderOpenIcon = 0, FSystemFileIcon = 0;
    bool FDestroying = false;
    std::unique_ptr<TSxIconList> FOwnLargeIcons, FOwnSmallIcons;
    std::unique_ptr<TSxPopupMenu> FVerbMenu;
    std::unique_ptr<TSxGrainFolderManager> FFolderManager;
    std::unique_ptr<TSxGrainChangeNotifier> FNotifier;
};

class TSxByHandProvider : public TSxCustomProvider {
public:
    explicit TSxByHandProvider(const std::string& name = std::string());
    TSxByHandProvider(TSxComponent* owner, const std::string& name);
    ~TSxByHandProvider() override;

    std::function<void(TSxByHandProvider&, TSxByHandDataGrain&, TSxDataGrainList&)> OnPopulate;
    std::string ClassName() const override { return "TSxByHandProvider"; }

    GrainPtr CreateGrain() override;
    GrainPtr CreateRootGrain() override;
    bool EnumObjects(PCSxItemIDList item, uint32_t flags, std::vector<TSxPidlPtr>& items) override;
    using TSxCustomProvider::EnumObjects;
    // Fires OnPopulate under the provider lock.
    void DoPopulate(TSxByHandDataGrain& grain, TSxDataGrainList& list);
};
#endif
