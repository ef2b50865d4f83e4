#include "uvrqmodPermanent.h"
#include "uvrqmodMain.h"

#include "SxNamespaceUtils.h"
#include "SxShellView.h"
#include "SxThemes.h"
#include "uGLBConst.h"
#include "uGLBTools.h"
#include "uGLBResources.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTSeam.h"
#include "uTSystemIcon.h"
#include "uTVirtualFileStorage.h"
#include "uTvrqDialog.h"
#include "uvrqmodTools.h"

#include <shellapi.h>
#include <commctrl.h>

#include <atomic>

namespace {

// When the tray program was last started by a failed check.
std::atomic<ULONGLONG> LastTrayStart{0};
TSeam<ULONGLONG> TrayStartPause(5000);   // tests shorten it

std::atomic<TvrqmodPermanent*> TheInstance{nullptr};

} // namespace

void SetTrayStartPause(unsigned milliseconds)
{
    TrayStartPause.Set(milliseconds);
    LastTrayStart = 0;
}

TvrqmodPermanent* TvrqmodPermanent::Instance() { return TheInstance.load(); }

TvrqmodPermanent::TvrqmodPermanent()
    : TSxPermanentModule("TvrqmodPermanent"), sxVrqProvider("sxVrqProvider")
{
    PreventUnload = true;
    try {
        Logger = std::make_unique<TLogger>(-1, true, "PermanentModule");
    } catch (...) {
    }
    // The icons and image lists made here come from the common controls of the library's manifest.
    TSxContext context;
    try {
        Env = std::make_unique<TApplicationEnviroment>();
        Storage = std::make_unique<TVirtualFileStorage>(Env->Cache);
        TheInstance = this;

        mnuSpezial.SetName("mnuSpezial");
        mnuFileFolder.SetName("mnuFileFolder");
        auto addItem = [](TSxBaseMenuItem& parent, const std::string& name, const std::string& caption) {
            auto item = std::make_unique<TSxBaseMenuItem>();
            item->SetName(name);
            item->Caption = caption;
            return &parent.Add(std::move(item));
        };
        miRefresh = addItem(mnuSpezial.Items, "miRefresh", Txt(14));
        miRefresh->ShortCut = VK_F5;
        miRefresh->OnClick = [this](TSxBaseMenuItem&) { miRefreshClick(); };
        addItem(mnuFileFolder.Items, "miLine1", "-");
        miNew = addItem(mnuFileFolder.Items, "miNew", Txt(50));
        miNewFolder = addItem(*miNew, "miNewFolder", Pair("Ordner", "Folder"));
        miEmptyRecycleBin = addItem(mnuFileFolder.Items, "miEmptyRecycleBin", Txt(52));
        miEmptyRecycleBin->Visible = false;
        imgContextMenu = ImageList_LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDB_SX_MENUIMAGES), 12, 0,
                                              RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
        miNewFolder->ImageIndex = 0;
        miEmptyRecycleBin->ImageIndex = 1;
        sxVrqProvider.MenuImages = imgContextMenu;

        sxVrqProvider.BackgroundContextMenu = &mnuFileFolder;
        sxVrqProvider.FolderContextMenu = &mnuFileFolder;
        sxVrqProvider.FolderIconProperty = 0;
        sxVrqProvider.FolderOpenIconProperty = 1;
        sxVrqProvider.ItemIconProperty = 0;
        sxVrqProvider.ItemOpenIconProperty = 1;
        sxVrqProvider.LargeIcons = &imgFolderIconListBig;
        sxVrqProvider.SmallIcons = &imgFolderIconListSmall;

        sxVrqProvider.OnPopulate = [this](TSxByHandProvider&, TSxByHandDataGrain& folder, TSxDataGrainList& list) {
            sxVrqProviderPopulate(folder, list);
        };
        sxVrqProvider.OnGetGrainTempPath = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, std::string& path) {
            sxVrqProviderGetGrainTempPath(grain, path);
        };
        sxVrqProvider.OnGetGrainFileInfo = [this](TSxCustomProvider&, TSxCustomDataGrain& grain,
                                                  TSxFileInfoDescriptor& info) {
            sxVrqProviderGetGrainFileInfo(grain, info);
        };
        sxVrqProvider.OnValidateDataGrain = [this](TSxCustomProvider&, TSxCustomDataGrain&, TSxCustomDataGrain& grain,
                                                   bool& valid) { sxVrqProviderValidateDataGrain(grain, valid); };
        sxVrqProvider.OnPrepareGrainApperance = [this](TSxCustomProvider&, TSxCustomDataGrain& grain,
                                                       TSxPrepareIconParams& params) {
            sxVrqProviderPrepareGrainApperance(grain, params);
        };
        sxVrqProvider.OnGetIcon = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, int32_t& icon,
                                         int32_t& openIcon) { sxVrqProviderGetIcon(grain, icon, openIcon); };
        sxVrqProvider.OnGetInfoTip = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, std::string& tip) {
            sxVrqProviderGetInfoTip(grain, tip);
        };
        sxVrqProvider.OnQueryDeleteGrain = [](TSxCustomProvider&, TSxCustomDataGrain& grain, bool& allow) {
            allow = grain.GetValue("vCanDelete") == "1";
        };
        sxVrqProvider.OnQueryRenameGrain = [](TSxCustomProvider&, TSxCustomDataGrain& grain, bool& allow) {
            allow = grain.GetValue("vCanDelete") == "1";
        };
        sxVrqProvider.OnGrainOpen = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, std::string& command,
                                           std::string& parameters, std::string& directory) {
            sxVrqProviderGrainOpen(grain, command, parameters, directory);
        };
        sxVrqProvider.OnGetGrainFileContents = [this](TSxCustomProvider&, TSxCustomDataGrain& grain,
                                                      TSxMemoryStream& stream) {
            sxVrqProviderGetGrainFileContents(grain, stream);
        };
        sxVrqProvider.OnPreparePropertySheets = [this](TSxCustomProvider&, TSxCustomDataGrain& grain,
                                                       TSxCustomNamespacePropSheet*& sheets) {
            sxVrqProviderPreparePropertySheets(grain, sheets);
        };
        sxVrqProvider.OnGetDataGrainThumb = [this](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxSize,
                                                   HBITMAP& thumb) { sxVrqProviderGetDataGrainThumb(grain, thumb); };
        BindWritePath();

        // The special folders' icons: list position = icon index, also when one cannot be loaded.
        const int count = GetWindowsVersion() >= 6 ? 4 : 3;
        imgFolderIconListBig.SetWidth(GetSystemMetrics(SM_CXICON));
        imgFolderIconListBig.SetHeight(GetSystemMetrics(SM_CYICON));
        imgFolderIconListSmall.SetWidth(GetSystemMetrics(SM_CXSMICON));
        imgFolderIconListSmall.SetHeight(GetSystemMetrics(SM_CYSMICON));
        imgFolderIconListBig.Clear();
        imgFolderIconListSmall.Clear();
        for (int i = 0; i < count; ++i) {
            for (int small = 0; small < 2; ++small) {
                TSystemIcon icon;
                HICON handle = nullptr;
                try {
                    handle = icon.LoadSystemIcon(SpecialFolders[i].Csidl, small ? SHGFI_SMALLICON : 0);
                } catch (const std::exception& e) {
                    LogError(std::string("ModuleCreate: Load ") + (small ? "small" : "big") + " icon " +
                             std::to_string(i) + " [Handle=0]: " + e.what());
                }
                if (!handle) {
                    LogError(std::string("ModuleCreate: Load ") + (small ? "small" : "big") + " icon " +
                             std::to_string(i) + " [Handle=0]: no icon");
                    handle = icon.LoadFolderIcon(small != 0);
                }
                TSxIconList& list = small ? imgFolderIconListSmall : imgFolderIconListBig;
                if (list.AddIcon(handle, "") < 0)
                    LogError("ModuleCreate: icon " + std::to_string(i) + " not added");
            }
        }
    } catch (const std::exception& e) {
        LogError(std::string("ModuleCreate: ") + e.what());
    }
    sxVrqExceptionControl.SetName("sxVrqExceptionControl");
    sxVrqExceptionControl.ErrorMessageType = TSxErrorMessageType::dmtNone;
    sxVrqExceptionControl.OnException = [this](TSxExceptionController&, TSxCustomExceptionInfo& info,
                                               bool& autoReportError) {
        const std::string sender = info.Sender() ? info.Sender()->ClassName() : std::string("?");
        LogError("Modul: " + sender + ": " + info.GetExtendedInfo() + " (" + info.ExceptionMessage() + ")");
        autoReportError = false;
    };
}

TvrqmodPermanent::~TvrqmodPermanent()
{
    TvrqmodPermanent* self = this;
    TheInstance.compare_exchange_strong(self, nullptr);
    if (imgContextMenu)
        ImageList_Destroy(imgContextMenu);
}

TSxBaseMenuItem* TvrqmodPermanent::FindMenuItem(const std::string& name)
{
    TSxBaseMenuItem* item = SxFindMenuItem(mnuSpezial.Items, name);
    return item ? item : SxFindMenuItem(mnuFileFolder.Items, name);
}

TSxCustomProvider* TvrqmodPermanent::FindProvider(const std::string& name)
{
    return SxSameName(name, sxVrqProvider.Name) ? &sxVrqProvider : nullptr;
}

void TvrqmodPermanent::LogError(const std::string& text)
{
    try {
        if (Logger)
            Logger->Error(text);
    } catch (...) {
    }
}

void TvrqmodPermanent::LogDebug(const std::string& text)
{
    try {
        if (Logger)
            Logger->Debug(text);
    } catch (...) {
    }
}

bool TvrqmodPermanent::IsSpecialFolder(const std::string& name, bool& isProtected)
{
    const int index = SpecialFolderIndex(name, GetWindowsVersion());
    isProtected = index >= 0 && SpecialFolders[index].Protected;
    return index >= 0;
}

bool TvrqmodPermanent::CheckMainAppConnection(bool userActed)
{
    try {
        if (!Env)
            return false;
        // One walk over the processes for both forms of the path: every enumeration asks.
        if (IsConnected()) {
            std::vector<std::string> processes;
            shl_GetProcessList(&processes);
            for (const std::string& process : processes)
                if (SameText(process, Env->MainExeShort) || SameText(process, Env->MainExe))
                    return true;
        }
        // One start in a few seconds: every enumeration, icon and tip of a view asks again.
        const ULONGLONG now = GetTickCount64();
        ULONGLONG last = LastTrayStart.load();
        if (last != 0 && now - last < TrayStartPause.Get())
            return false;
        if (!LastTrayStart.compare_exchange_strong(last, now))
            return false;
        LogError("CheckMainAppConnection: Verbindung zu Tandrel Sendrake fehlgeschlagen.");
        // Explorer's process has no administrator rights: the program's start raises the prompt.
        const uint32_t error = shl_ShellStart(Env->MainExe, "");
        if (error != 0) {
            const std::string why = SysErrorMessage(error);
            LogError("shl_StartExe (\"" + Env->MainExe + "\") failed: " + why);
            if (userActed)
                TvrqDialog().ShowWarning(Txt(83), FormatTableText(Pair("Tandrel Sendrake konnte nicht gestartet werden: %s",
                                                                       "Tandrel Sendrake could not be started: %s"),
                                                                  why));
        }
    } catch (const std::exception& e) {
        LogError(std::string("CheckMainAppConnection: ") + e.what());
    }
    return false;
}

void TvrqmodPermanent::CheckMyName()
{
    try {
        const std::wstring key =
            Utf8ToWide(std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CLSID\\") + OnlineFolderCLSID);
        TRegKey handle;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, handle.put()) !=
            ERROR_SUCCESS)
            return;
        wchar_t value[1024] = {};
        DWORD size = sizeof value - sizeof(wchar_t), type = 0;
        if (RegQueryValueExW(handle.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return;
        const std::string current = WideToUtf8(value);
        if (current.empty() || current == vrqFolderName)
            return;
        const std::wstring name = Utf8ToWide(vrqFolderName);
        const LONG rc = RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        if (rc != ERROR_SUCCESS)
            throw std::runtime_error(SysErrorMessage(static_cast<DWORD>(rc)));
    } catch (const std::exception& e) {
        LogError(std::string("CheckMyName: ") + e.what());
    }
}

TVirtualFileRecord TvrqmodPermanent::ReadRecord(const std::string& recordFile)
{
    TVirtualFileRecord record;
    TVirtualFileStorage::InitRecord(record);
    if (Storage && !recordFile.empty() && recordFile.back() != '\\')
        Storage->LoadVirtualFileStorageFromFile(recordFile, record);
    return record;
}

std::string TvrqmodPermanent::ServerPathOf(const std::string& filePath) const
{
    return Env ? TVirtualFileStorage::StripRoot(Env->Cache, filePath) : filePath;
}

std::string TvrqmodPermanent::ServerPathOf(const TSxCustomDataGrain& grain) const
{
    const auto* byHand = dynamic_cast<const TSxByHandDataGrain*>(&grain);
    const std::string filePath = grain.GetValue("vFilePath");
    if ((byHand && byHand->Root) || filePath.empty() || !Env)
        return std::string();
    return shl_WithoutSlash(ServerPathOf(filePath));
}

void TvrqmodPermanent::BindWritePath()
{
    sxVrqProvider.OnRenameDataGrain = [this](TSxCustomProvider&, TSxCustomDataGrain& parent, TSxCustomDataGrain& grain,
                                             std::string& newName, bool& perform) {
        sxVrqProviderRenameDataGrain(parent, grain, newName, perform);
    };
    sxVrqProvider.OnCreateNewFolder = [this](TSxCustomProvider&, TSxCustomDataGrain& owner, const std::string& name,
                                             std::unique_ptr<TSxCustomDataGrain>& newFolder) {
        sxVrqProviderCreateNewFolder(owner, name, newFolder);
    };
    sxVrqProvider.OnConfirmDelete = [this](TSxCustomProvider&, TSxDataGrainList& grains, HWND window, bool& allow) {
        sxVrqProviderConfirmDelete(grains, window, allow);
    };
    sxVrqProvider.OnHandleDelete = [this](TSxCustomProvider&, TSxCustomDataGrain& grain) {
        sxVrqProviderHandleDelete(grain);
    };
    sxVrqProvider.BeforeDrop = [this](TSxCustomProvider&, TSxCustomDataGrain& folder, HWND, bool& allow) {
        sxVrqProviderBeforeDrop(folder, allow);
    };
    sxVrqProvider.AfterDrop = [this](TSxCustomProvider&, TSxCustomDataGrain& folder, HWND) {
        sxVrqProviderAfterDrop(folder);
    };
    sxVrqProvider.OnQueryDataGrainDrop = [this](TSxCustomProvider&, TSxCustomDataGrain&, TSxCustomDataGrain& target,
                                                bool& allow) { sxVrqProviderQueryDataGrainDrop(target, allow); };
    sxVrqProvider.OnNewGrainFromFileEx2 = [this](TSxCustomProvider&, TSxCustomDataGrain& folder,
                                                 const std::string& fileName,
                                                 std::unique_ptr<TSxCustomDataGrain>& newGrain, TSxDropInfo& info,
                                                 int remaining, bool& cont) {
        sxVrqProviderNewGrainFromFileEx2(folder, fileName, newGrain, info, remaining, cont);
    };
    // The framework asks for a file-drop handler by the older event: it only points to the one used.
    sxVrqProvider.OnNewGrainFromFileEx = [this](TSxCustomProvider&, TSxCustomDataGrain&, const std::string&,
                                                std::unique_ptr<TSxCustomDataGrain>&, TSxDropInfo&) {
        LogError("sxVrqProviderNewGrainFromFileEx not used anymore!!!");
    };
    sxVrqProvider.OnDataGrainDropEx = [this](TSxCustomProvider&, TSxCustomDataGrain& folder, TSxCustomDataGrain& grain,
                                             TSxDropInfo& info) { sxVrqProviderDataGrainDropEx(folder, grain, info); };
    sxVrqProvider.OnGrainMoved = [this](TSxCustomProvider&, TSxDataGrainList& grains) {
        sxVrqProviderGrainMoved(grains);
    };
    sxVrqProvider.OnConfirmOverwriteFolder = [this](TSxCustomProvider&, TSxCustomDataGrain& folder, HWND,
                                                    bool& allow) { sxVrqProviderConfirmOverwriteFolder(folder, allow); };
    auto menuFor = [this](TSxCustomProvider&, TSxCustomDataGrain& folder, TSxPopupMenu*&) {
        sxVrqProviderGetFolderContextMenu(folder);
    };
    sxVrqProvider.OnGetFolderContextMenu = menuFor;
    // The background menu is the same menu: the folder whose background it is decides.
    sxVrqProvider.OnGetBackgroundContextMenu = menuFor;
    auto clickedFolder = [](TSxBaseMenuItem& item) -> TSxCustomDataGrain* {
        auto* bound = dynamic_cast<TSxMenuItem*>(&item);
        return bound ? bound->FirstGrain() : nullptr;
    };
    if (miNewFolder)
        miNewFolder->OnClick = [this, clickedFolder](TSxBaseMenuItem& item) {
            if (TSxCustomDataGrain* folder = clickedFolder(item))
                miNewFolderClickGrain(*folder);
        };
    if (miEmptyRecycleBin)
        miEmptyRecycleBin->OnClick = [this, clickedFolder](TSxBaseMenuItem& item) {
            if (TSxCustomDataGrain* folder = clickedFolder(item))
                miEmptyRecycleBinClickGrain(*folder);
        };
}
