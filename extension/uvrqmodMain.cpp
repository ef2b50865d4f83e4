#include "uvrqmodMain.h"

#include "SxContextMenu.h"
#include "SxExplorerToolbar.h"
#include "SxStatusBar.h"
#include "SxNamespaceDetails.h"
#include "SxPropertySheetExt.h"
#include "SxTools.h"
#include "SxShellFolder.h"
#include "SxShellView.h"
#include "SxVirtualFolder.h"
#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBVersion.h"
#include "uGLBWin.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"
#include "uvrqmodPermanent.h"

#include <mutex>

const char* const vrqFolderName = "Tandrel Vaultmere";
const char* const vrqPropertySheetClsid = "{BA1C489F-A573-4D55-A755-2AA5A7076005}";
const char* const vrqContextMenuClsid = "{7C3298F7-6934-446E-8799-6A742F5A7419}";

const TSxModuleClass vrqmodMainClass{"TvrqmodMain", [] { return std::make_unique<TvrqmodMain>(vrqmodMainClass); }};

namespace {

const char* const UrlHookClsid = "{808814DE-1689-460E-AC99-666580C569A5}";

struct TColumnTexts {
    const char* Code;
    const char* Caption[2];
    const char* Description[2];
};
const TColumnTexts ColumnTexts[4] = {
    {"NAME", {"Name", "Name"}, {"Dateiname", "File name"}},
    {"SIZE", {"Größe", "Size"}, {"Dateigröße", "File size"}},
    {"TYPE", {"Typ", "Type"}, {"Dateityp", "File type"}},
    {"MODIFIED", {"Letzte Änderung", "Last change"}, {"Datum der letzten Änderung", "Date of the last change"}},
};
const int ColumnWidths[4] = {25, 15, 10, 20};

int LanguageIndex() { return GetLanguage() == 1 ? 1 : 0; }

int Order(bool less, bool greater) { return less ? -1 : greater ? 1 : 0; }

// The image lists of the toolbar and of the send-to menu are the same for every module, and a
// module is made for every object Explorer asks for (on every window's thread): they are made
// once for all modules that use them and go with the last one.
struct TSharedImages {
    std::mutex Lock;
    int Users = 0;
    HIMAGELIST ToolbarSmall = nullptr, Toolbar = nullptr, Menu = nullptr;
};

TSharedImages& SharedImages()
{
    static TSharedImages images;
    return images;
}

void AcquireSharedImages(HIMAGELIST& toolbarSmall, HIMAGELIST& toolbar, HIMAGELIST& menu)
{
    TSharedImages& shared = SharedImages();
    std::lock_guard<std::mutex> guard(shared.Lock);
    if (shared.Users++ == 0) {
        HICON product = static_cast<HICON>(LoadImageW(SxModuleHandle(), MAKEINTRESOURCEW(1), IMAGE_ICON, 24, 24, 0));
        if (!product)
            product = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
        for (auto [list, size] : {std::pair{&shared.ToolbarSmall, 16}, std::pair{&shared.Toolbar, 24}}) {
            *list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 1);
            if (*list && product)
                ImageList_AddIcon(*list, product);
        }
        if (product)
            DestroyIcon(product);
        // "Tandrel Vaultmere" > "In "Neue Dateianlagen" speichern" in the menu of local files and folders.
        shared.Menu = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 1);
        if (shared.Menu) {
            SHFILEINFOW folderInfo{};
            SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &folderInfo, sizeof folderInfo,
                           SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_SMALLICON);
            HICON small = static_cast<HICON>(
                LoadImageW(SxModuleHandle(), MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
            ImageList_AddIcon(shared.Menu, folderInfo.hIcon);
            ImageList_AddIcon(shared.Menu, small ? small : folderInfo.hIcon);
            if (small)
                DestroyIcon(small);
            if (folderInfo.hIcon)
                DestroyIcon(folderInfo.hIcon);
        }
    }
    toolbarSmall = shared.ToolbarSmall;
    toolbar = shared.Toolbar;
    menu = shared.Menu;
}

void ReleaseSharedImages()
{
    TSharedImages& shared = SharedImages();
    std::lock_guard<std::mutex> guard(shared.Lock);
    if (--shared.Users > 0)
        return;
    for (HIMAGELIST* list : {&shared.ToolbarSmall, &shared.Toolbar, &shared.Menu})
        if (*list) {
            ImageList_Destroy(*list);
            *list = nullptr;
        }
}

} // namespace

TvrqmodMain::TvrqmodMain(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
{
    SetName("vrqmodMain");
    SetThreadFree(true);
    try {
        Env = std::make_unique<TApplicationEnviroment>();
        Logger = std::make_unique<TLogger>(-1, true, "MainModule");
    } catch (const std::exception& e) {
        LogError(std::string("MainModulCreate: ") + e.what());
    }
    try {
        auto& details = Add<TSxNamespaceDetails>("sxVrqNamespaceDetails");
        sxVrqNamespaceDetails = &details;
        const int language = LanguageIndex();
        for (int i = 0; i < 4; ++i) {
            auto& column = details.DesignedColumns().AddItem();
            column.CodeName = ColumnTexts[i].Code;
            column.Caption = ColumnTexts[i].Caption[language];
            column.Descritpion = ColumnTexts[i].Description[language];
            column.Width = ColumnWidths[i];
            column.ShowByDefault = true;
        }
        auto& size = details.DesignedColumns().Item(1);
        size.Alignment = TAlignment::taRightJustify;
        size.SortType = TColumnSortType::ctSortInteger;
        size.OnSort = [this](TSxNamespaceColumn&, TSxCustomDataGrain* a, TSxCustomDataGrain* b, int32_t& result) {
            result = SortBySize(a, b);
        };
        details.DesignedColumns().Item(2).OnSort = [this](TSxNamespaceColumn&, TSxCustomDataGrain* a,
                                                          TSxCustomDataGrain* b, int32_t& result) {
            result = SortByType(a, b);
        };
        auto& modified = details.DesignedColumns().Item(3);
        modified.SortType = TColumnSortType::ctSortDate;
        modified.DataType = TColumnDataType::dtDate;
        modified.OnSort = [this](TSxNamespaceColumn&, TSxCustomDataGrain* a, TSxCustomDataGrain* b, int32_t& result) {
            result = SortByModified(a, b);
        };
        details.CommonColumns.ColumnName = 0;
        details.CommonColumns.ColumnSize = 1;
        details.CommonColumns.ColumnType = 2;
        details.CommonColumns.ColumnModified = 3;
        details.CommonColumns.ColumnAttributes = -1;
        details.DefDisplayColumn = 0;
        details.DefSortingColumn = 0;

        // Explorer's toolbar while the folder is shown: refresh (the product's image), a separator and
        // new folder (the system's image); the items are the permanent module's.
        AcquireSharedImages(imgExplorerToolBarSmall, imgExplorerToolBar, imgIconList);
        ImagesShared = true;
        auto& toolbar = Add<TSxExplorerToolbar>("sxVrqSysExplorerToolbar");
        sxVrqSysExplorerToolbar = &toolbar;
        toolbar.Images = imgExplorerToolBarSmall;
        toolbar.LargeImages = imgExplorerToolBar;
        toolbar.Buttons.resize(3);
        toolbar.Buttons[0].SetMenuItem("TvrqmodPermanent", "miRefresh");
        toolbar.Buttons[0].Hint = language == 1 ? "Synchronize" : "Synchronisieren";
        toolbar.Buttons[0].Image = TSxExplorerButtonImage::biCustom;
        toolbar.Buttons[0].ImageIndex = 0;
        toolbar.Buttons[1].Style = TSxExplorerButtonStyle::bsSeparator;
        toolbar.Buttons[2].SetMenuItem("TvrqmodPermanent", "miNewFolder");
        toolbar.Buttons[2].Hint = language == 1 ? "Create new folder" : "Neuen Ordner erstellen";
        toolbar.Buttons[2].Image = TSxExplorerButtonImage::biNewFolder;
        auto& status = Add<TSxStatusBar>("sxVrqStatusBar");
        sxVrqStatusBar = &status;
        status.Parts.resize(2);
        status.Parts[0].Width = 50;
        status.Parts[0].Text = SX_VERSION_TEXT;
        status.Parts[1].Width = 100;

        auto& view = Add<TSxSysShellView>("sxVrqSysShellView");
        sxVrqSysShellView = &view;
        view.Details = &details;
        view.DragAndDropSetup.DefaultDropEffect = 2;  // move
        view.DragAndDropSetup.DropEffect = 3;         // copy and move
        view.DragAndDropSetup.Scroll = true;
        // Wine's default folder menu never calls the folder's menu callback, so its item menus
        // would offer nothing of the folder (not even Open); there the framework's own item menu
        // (the one Windows merges into its default menu) stands in.
        view.Settings.ContextMenuOrigin =
            SxRunsOnWine() ? TSxContextMenuOrigin::cmoTessolark : TSxContextMenuOrigin::cmoSystemDefault;
        view.DefaultViewStyle = TSxViewStyle::svsIcon;
        view.ExplorerToolbar = &toolbar;
        view.StatusBar = &status;

        // The folder's own page: "Allgemein" on its property sheet. Its handler key lies below the
        // folder's class key, so it comes first: unregistered before the folder removes that key.
        auto& sheet = Add<TSxShellPropSheetExt>("sxVrqMainPropertySheet");
        sxVrqMainPropertySheet = &sheet;
        sheet.SetCLSID(vrqPropertySheetClsid);
        sheet.SetFileType(std::string("CLSID\\") + OnlineFolderCLSID);
        sheet.PropertySheets = {"TfrmMainPropertySheet[0]=Allgemein,0"};
        sheet.ActivateXPThemes = true;
        sheet.RefreshWhenRegistered = false;
        sheet.OnGetPropSheetName = [](TSxShellPropSheetExt&, const TSxPropSheetFormClass&, std::string& caption) {
            caption = Txt(41);
        };

        auto& drive = Add<TSxVirtualFolder>("sxVrqDrive");
        sxVrqDrive = &drive;
        drive.SetCLSID(OnlineFolderCLSID);
        drive.SetDescription(vrqFolderName);
        drive.SetExtensionName(vrqFolderName);
        drive.StaticInfoTip = vrqFolderName;
        drive.JunctionPoint = TSxVirtualJunctionPoint::jpMyComputer;
        drive.Attributes.Browsable = true;
        drive.Attributes.CanRename = GetWindowsVersion() == 5;
        drive.Attributes.DropTarget = true;
        drive.Attributes.Folder = true;
        drive.Attributes.HasPropSheet = true;
        drive.Attributes.HasSubfolder = true;
        drive.WantsForParsing = true;
        drive.LoadWithoutCOM = true;
        drive.RefreshWhenRegistered = true;
        drive.HideFolderVerbs = false;
        drive.QueryForOverlay = false;
        if (Env)
            drive.DefaultIcon = Env->VirtualIcon;
        drive.OnGetDefaultIcon = [this](TSxCustomShellFolder&, std::string& icon) {
            if (Env && !Env->VirtualIcon.empty())
                icon = Env->VirtualIcon;
        };
        drive.URLHandler.SetCLSID(UrlHookClsid);
        drive.URLHandler.URLIdentifier = vrqFolderName;
        // The address bar shows "Tandrel Vaultmere\..." and takes it back through the search hook.
        drive.URLHandler.Active = true;
        drive.SetShellView(&view);
        drive.SetProviderConnectivity("TvrqmodPermanent", "sxVrqProvider");

        drive.HasPropertySheetHandler = true;

        // "Tandrel Vaultmere" > "In "Neue Dateianlagen" speichern" in the menu of local files and folders.
        auto& popup = Add<TSxPopupMenu>("sxVrqContextPopup");
        sxVrqContextPopup = &popup;
        popup.Images = imgIconList;
        auto& caption = popup.Items.Add(popup.CreateMenuItem(&popup));
        caption.SetName("sxVrqContextPopup_Caption");
        caption.Caption = EscapeAmpersands(vrqFolderName);
        caption.ImageIndex = 1;
        auto& sendTo = static_cast<TSxFileClassMenuItem&>(caption.Add(popup.CreateMenuItem(&popup)));
        sendTo.SetName("sxVrqContextPopup_SendTo");
        sendTo.Caption = Txt(53);
        sendTo.OnClickFileClass = [this](TSxFileClassMenuItem&, TSxContextMenu& initiator) {
            sxVrqContextPopup_SendToClick(initiator.FileNames);
        };
        auto& menu = Add<TSxContextMenu>("sxVrqContextMenu");
        sxVrqContextMenu = &menu;
        menu.SetCLSID(vrqContextMenuClsid);
        menu.SetDescription(std::string(vrqFolderName) + " - Context menu");
        menu.SetExtensionName(std::string(vrqFolderName) + " - Context menu");
        menu.SetFileType("AllFileSystemObjects");
        menu.ContextMenu = &popup;
        menu.RefreshWhenRegistered = true;

        if (Env)
            Storage = std::make_unique<TVirtualFileStorage>(Env->Cache);
    } catch (const std::exception& e) {
        LogError(std::string("MainModulCreate: ") + e.what());
    }
}

TvrqmodMain::~TvrqmodMain()
{
    if (ImagesShared)
        ReleaseSharedImages();
}

void TvrqmodMain::LogError(const std::string& text)
{
    try {
        if (Logger)
            Logger->Error(text);
    } catch (...) {
    }
}

namespace {

// A folder grain's "vCacheName" is a directory: it reads as an initialised record.
TVirtualFileRecord RecordOf(TVirtualFileStorage* storage, TSxCustomDataGrain* grain)
{
    TVirtualFileRecord record;
    TVirtualFileStorage::InitRecord(record);
    if (!storage || !grain || !grain->IsFile)
        return record;
    try {
        storage->LoadVirtualFileStorageFromFile(grain->GetValue("vCacheName"), record);
    } catch (const std::exception&) {
        TVirtualFileStorage::InitRecord(record);
    }
    return record;
}

} // namespace

int32_t TvrqmodMain::SortBySize(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2)
{
    const int64_t a = RecordOf(Storage.get(), grain1).Size, b = RecordOf(Storage.get(), grain2).Size;
    return Order(a < b, a > b);
}

int32_t TvrqmodMain::SortByType(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2)
{
    const bool file1 = grain1 && grain1->IsFile, file2 = grain2 && grain2->IsFile;
    if (file1 != file2)
        return file1 ? 1 : -1;
    if (!file1)
        return 0;
    const std::string a = shl_GetFileTypeName(grain1->Name), b = shl_GetFileTypeName(grain2->Name);
    return Order(a < b, a > b);
}

int32_t TvrqmodMain::SortByModified(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2)
{
    const double a = RecordOf(Storage.get(), grain1).LastModified, b = RecordOf(Storage.get(), grain2).LastModified;
    return Order(a < b, a > b);
}

bool TvrqmodMain::sxVrqContextPopup_SendToClick(const std::vector<std::string>& paths)
{
    const std::string target = SendToFolderName;
    TvrqDialog dialog;
    bool allDone = true;
    try {
        // The command runs in any Explorer process: the permanent module is made when missing.
        // (It never frees itself: it prevents unloading.)
        auto* permanent = dynamic_cast<TvrqmodPermanent*>(FindPermanentModule("TvrqmodPermanent"));
        if (!permanent || !permanent->CheckMainAppConnection(true))
            return false;
        if (ReadRegistryString("Connection", "host", "").empty() ||
            ReadRegistryString("Connection", "username", "").empty()) {
            dialog.ShowWarning(Txt(83), Txt(65));
            return false;
        }
        TWEBDAVClient client;
        dialog.Progress.Start(Txt(84), static_cast<int32_t>(paths.size()), true);
        if (!client.FileExists(target)) {
            if (!client.MakeDir(target)) {
                dialog.Progress.Close();
                dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), target));
                return false;
            }
            permanent->ReloadFolder("", false, 0, dialog);
        }
        int answer = mrYes;
        for (const std::string& path : paths) {
            if (!TvrqDialog::IsFinalAnswer(answer))
                answer = mrYes;
            const std::string name = shl_ExtractPathName(path);
            bool ok = true;
            const bool isFolder = shl_DirectoryExists(path);
            const std::string item = target + "\\" + name + (isFolder ? "\\" : "");
            // Unless every item is to be replaced, the server is asked first; when it cannot tell,
            // nothing is sent over what it may hold.
            const TItemState state = TvrqDialog::IsFinalAnswer(answer) ? TItemState::Absent : client.ItemState(item);
            if (state == TItemState::Unknown) {
                ok = false;
            } else if (isFolder) {
                if (state == TItemState::There)
                    answer = dialog.ConfirmReplaceFolder(name);
                if (TvrqDialog::IsPositiveAnswer(answer))
                    ok = client.UploadDirectory(path, target, dialog);
            } else {
                if (state == TItemState::There)
                    answer = dialog.ConfirmReplaceFile(name);
                if (TvrqDialog::IsPositiveAnswer(answer))
                    ok = client.UploadForm(path, item, dialog);
            }
            if (!ok) {
                allDone = false;
                LogError("SendToClick: the upload of \"" + path + "\" failed");
                dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
            }
            dialog.Progress.StepBy(1);
            if (dialog.Progress.Cancelled() || answer == mrCancel)
                break;
        }
        permanent->ReloadFolder(target, false, -1, dialog);
    } catch (const std::exception& e) {
        allDone = false;
        LogError(std::string("SendToClick: ") + e.what());
    }
    dialog.Progress.Close();
    return allDone;
}
