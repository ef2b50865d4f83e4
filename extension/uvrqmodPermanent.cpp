#include "uvrqmodPermanent.h"

#include "uGLBConst.h"
#include "uGLBTools.h"

#include <cstdio>

namespace {

struct TSpecialFolder {
    const char* Name;
    bool Protected;
    int Csidl;
};
// In icon-index order.
const TSpecialFolder SpecialFolders[4] = {
    {TrashFolderName, true, 10},       // CSIDL_BITBUCKET
    {SendToFolderName, true, 5},       // CSIDL_PERSONAL
    {"Meine Bilder", false, 39},       // CSIDL_MYPICTURES
    {"Meine Musikdateien", false, 13}, // CSIDL_MYMUSIC, Windows XP and later only
};

bool EndsWithAscii(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && SameTextAscii(std::string_view(text).substr(text.size() - tail.size()), tail);
}

} // namespace

int SpecialFolderIndex(const std::string& name, int windowsVersion)
{
    for (int i = 0; i < 4; ++i)
        if (SameTextAscii(name, SpecialFolders[i].Name))
            return i == 3 && windowsVersion < 6 ? -1 : i;
    return -1;
}

bool IsHiddenMirrorFolder(const std::string& name) { return SameTextAscii(name, ".thumb"); }

bool IsHiddenMirrorFile(const std::string& recordFileName, const std::string& name)
{
    const std::string upper = [&] {
        std::string u = recordFileName;
        for (char& c : u)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return u;
    }();
    if (upper.find("_D_") != std::string::npos || upper.find("DIRTMPFILE.DIR") != std::string::npos)
        return true;
    // The server's own thumbnail pictures and the shell's thumbnail cache, by their exact names.
    return SameTextAscii(name, "thumbs.db") || EndsWithAscii(name, ".thumb.jpg");
}

std::string ServerPathSlot(const std::string& serverPath)
{
    uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (unsigned char c : serverPath) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(hash));
    return text;
}

#ifdef _WIN32
#include "SxNamespaceUtils.h"
#include "SxShellView.h"
#include "SxThemes.h"
#include "uGLBResources.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTSystemIcon.h"
#include "uTVirtualFileStorage.h"
#include "uGLBWEBDAVAddress.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"
#include "ufrmElementPropertySheet.h"

#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>

namespace {

const char* const FolderName = "Tandrel Vaultmere";

// A text the table does not hold, in German and English.
std::string Pair(const char* german, const char* english) { return GetLanguage() == 1 ? english : german; }

std::string WithSlash(const std::string& path)
{
    return path.empty() || path.back() == '\\' ? path : path + "\\";
}
std::string FolderPartOf(const std::string& path)
{
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string NamePartOf(const std::string& path)
{
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
bool FileThere(const std::string& name)
{
    const DWORD a = GetFileAttributesW(Utf8ToWide(name).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}
bool DirectoryThere(const std::string& name)
{
    const DWORD a = GetFileAttributesW(Utf8ToWide(WithoutSlash(name)).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
void MakeDirectories(const std::string& folder)
{
    SHCreateDirectoryExW(nullptr, Utf8ToWide(WithoutSlash(folder)).c_str(), nullptr);
}

// The busy cursor for a scope.
struct TBusyCursor {
    TBusyCursor() { SetBusyCursor(true); }
    ~TBusyCursor() { SetBusyCursor(false); }
};

std::mutex LauncherLock;
TvrqLauncherFn& Launcher()
{
    static TvrqLauncherFn fn;
    return fn;
}

bool LaunchCommand(const std::string& commandLine)
{
    TvrqLauncherFn fn;
    {
        std::lock_guard<std::mutex> guard(LauncherLock);
        fn = Launcher();
    }
    if (fn)
        return fn(commandLine);
    // WinExec takes only the ANSI code page; the wide call keeps every name the server has.
    std::wstring line = Utf8ToWide(commandLine);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    THandle process(pi.hProcess), thread(pi.hThread);
    return true;
}

// The re-entry guard of the thumbnail fetch: the storage client pumps messages while it waits,
// so Explorer can ask again on the same thread.
thread_local bool ThumbsLoading = false;

// When the tray program was last started by a failed check.
std::atomic<ULONGLONG> LastTrayStart{0};
std::atomic<ULONGLONG> TrayStartPause{5000};

std::atomic<TvrqmodPermanent*> TheInstance{nullptr};

} // namespace

void SetTrayStartPause(unsigned milliseconds)
{
    TrayStartPause = milliseconds;
    LastTrayStart = 0;
}

void SetLauncher(TvrqLauncherFn fn)
{
    std::lock_guard<std::mutex> guard(LauncherLock);
    Launcher() = std::move(fn);
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
        if (last != 0 && now - last < TrayStartPause.load())
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
        if (current.empty() || current == FolderName)
            return;
        const std::wstring name = Utf8ToWide(FolderName);
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

std::unique_ptr<TSxCustomDataGrain> TvrqmodPermanent::MakeFolderGrain(const std::string& parentPath,
                                                                      const std::string& directory,
                                                                      const std::string& entryName,
                                                                      const std::string& name)
{
    auto grain = sxVrqProvider.CreateGrain();
    grain->Name = name;
    grain->IsFile = false;
    grain->SetValue("vFilePath", WithSlash(parentPath) + name + "\\");
    grain->SetValue("vCacheName", directory + entryName + "\\");
    grain->SetValue("vCanDelete", "1");
    grain->SetValue("vUseSystemIcon", "1");
    bool isProtected = false;
    if (IsSpecialFolder(name, isProtected)) {
        grain->SetValue("vUseSystemIcon", "0");
        if (isProtected)
            grain->SetValue("vCanDelete", "0");
    }
    return grain;
}

void TvrqmodPermanent::sxVrqProviderPopulate(TSxByHandDataGrain& folder, TSxDataGrainList& list)
{
    try {
        if (!CheckMainAppConnection())
            return;
        CheckMyName();
        if (!Env || Env->UserPath.empty())
            throw std::runtime_error("no user path in the settings");
        const std::string cache = WithSlash(Env->Cache);
        const std::string directory = folder.Root ? cache : WithSlash(folder.GetValue("vCacheName"));
        std::string serverFolder = folder.Root ? cache : WithSlash(folder.GetValue("vFilePath"));
        if (directory.empty() || serverFolder.empty())
            throw std::runtime_error("the folder \"" + folder.Name + "\" has no mirror place");

        WIN32_FIND_DATAW data;
        TFindHandle find(FindFirstFileExW(Utf8ToWide(directory + "*").c_str(), FindExInfoBasic, &data,
                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!find)
            throw std::runtime_error("cannot list " + directory + ": " + SysErrorMessage(GetLastError()));
        std::vector<std::string> files;
        do {
            const std::string entry = WideToUtf8(data.cFileName);
            if (entry == "." || entry == "..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                const std::string name = TVirtualFileStorage::DecodePath(entry);
                if (name.empty() || IsHiddenMirrorFolder(name))
                    continue;
                list.Add(MakeFolderGrain(serverFolder, directory, entry, name));
            } else {
                files.push_back(entry);
            }
        } while (FindNextFileW(find.get(), &data));

        for (const std::string& entry : files) {
            if (IsHiddenMirrorFile(entry, ""))
                continue;
            TVirtualFileRecord record;
            try {
                record = ReadRecord(directory + entry);
            } catch (const std::exception& e) {
                // One damaged record hides only its own item.
                LogError(std::string("Populate: ") + e.what());
                continue;
            }
            if (record.Name.empty() || record.IsFolder || IsHiddenMirrorFile(entry, record.Name))
                continue;
            auto grain = sxVrqProvider.CreateGrain();
            grain->Name = record.Name;
            grain->IsFile = true;
            grain->SetValue("vFilePath", serverFolder + record.Name);
            grain->SetValue("vCacheName", directory + entry);
            grain->SetValue("vCanDelete", "1");
            grain->SetValue("vUseSystemIcon", "1");
            list.Add(std::move(grain));
        }
    } catch (const std::exception& e) {
        LogError(std::string("Populate: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderGetGrainTempPath(TSxCustomDataGrain&, std::string& tempPath)
{
    if (Env)
        tempPath = Env->Temp;
}

void TvrqmodPermanent::sxVrqProviderGetGrainFileInfo(TSxCustomDataGrain& grain, TSxFileInfoDescriptor& info)
{
    const std::string cacheName = grain.GetValue("vCacheName");
    if (!grain.IsFile) {
        // A folder (dragged out): its name and the folder flag; announced gone only when its
        // mirror directory really went.
        if (!cacheName.empty() && !DirectoryThere(cacheName)) {
            sxVrqProvider.NotifyGrainDeleted(grain);
            return;
        }
        info.DisplayName = grain.Name;
        info.IsFolder = true;
        info.Attributes = grain.Attributes;
        return;
    }
    if (!FileThere(cacheName)) {
        sxVrqProvider.NotifyGrainDeleted(grain);
        return;
    }
    const TVirtualFileRecord record = ReadRecord(cacheName);
    info.Attributes = grain.Attributes;
    info.DisplayName = record.Name;
    info.TypeName = shl_GetFileTypeName(record.Name);
    info.Size = record.Size < 0 ? 0u : static_cast<uint64_t>(record.Size);
    info.CreationTime = info.LastAccessTime = info.LastWriteTime = record.LastModified;
    info.IsFolder = false;
    info.ShowProgress = true;
}

void TvrqmodPermanent::sxVrqProviderValidateDataGrain(TSxCustomDataGrain& grain, bool& valid)
{
    const std::string cacheName = grain.GetValue("vCacheName");
    valid = grain.IsFile ? FileThere(cacheName) : DirectoryThere(cacheName);
}

void TvrqmodPermanent::sxVrqProviderPrepareGrainApperance(TSxCustomDataGrain& grain, TSxPrepareIconParams& params)
{
    params.UseSystemIcon = grain.GetValue("vUseSystemIcon") == "1";
}

void TvrqmodPermanent::sxVrqProviderGetIcon(TSxCustomDataGrain& grain, int32_t& iconIndex, int32_t& openIconIndex)
{
    const int index = grain.IsFile ? -1 : SpecialFolderIndex(grain.Name, GetWindowsVersion());
    if (index < 0) {
        LogError("GetIcon: Invalid datagrain: " + grain.Name);
        return;
    }
    iconIndex = openIconIndex = index;
}

void TvrqmodPermanent::sxVrqProviderGetInfoTip(TSxCustomDataGrain& grain, std::string& infoTip)
{
    infoTip = grain.Name;
    try {
        if (GetWindowsVersion() <= 5 || !grain.IsFile)
            return;
        const TVirtualFileRecord record = ReadRecord(grain.GetValue("vCacheName"));
        infoTip = Txt(43) + ": " + shl_GetFileTypeName(grain.Name) + "\r\n" + Txt(45) + ": " +
                  DateTimeToText(record.LastModified) + "\r\n" + Txt(44) + ": " + FormatByteSize(record.Size);
    } catch (const std::exception& e) {
        infoTip = grain.Name;
        LogError(std::string("GetInfoTip: ") + e.what());
    }
}

// ---- Server folders and the views that show them

TSxPidlPtr TvrqmodPermanent::FolderPidl(const std::string& serverFolder)
{
    PCSxItemIDList root = sxVrqProvider.RootPidl();
    if (!root || !Env)
        return nullptr;
    TSxPidlPtr list(PIDLClone(root));
    std::string parentPath = WithSlash(Env->Cache), directory = parentPath;
    const std::string path = WithoutSlash(serverFolder);
    size_t start = 0;
    while (list && start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        const std::string entry = TVirtualFileStorage::EncodePath(name);
        auto grain = MakeFolderGrain(parentPath, directory, entry, name);
        TSxPidlPtr item = grain->GetItemID();
        list.reset(PIDLCombine(list.get(), item.get()));
        parentPath += name + "\\";
        directory += entry + "\\";
        start = end + 1;
    }
    return list;
}

void TvrqmodPermanent::TellViews(const std::string& serverFolder)
{
    try {
        if (TSxPidlPtr list = FolderPidl(serverFolder))
            NotifyShellChange(SHCNE_UPDATEDIR, SHCNF_IDLIST, list.get(), nullptr);
    } catch (const std::exception& e) {
        LogError(std::string("TellViews: ") + e.what());
    }
}

bool TvrqmodPermanent::ReloadFolder(const std::string& path, bool clearCache, int32_t depth)
{
    TvrqDialog dialog;
    return ReloadFolder(path, clearCache, depth, dialog);
}

bool TvrqmodPermanent::ReloadFolder(const std::string& path, bool clearCache, int32_t depth, TvrqDialog& dialog)
{
    try {
        TWEBDAVClient client;
        const std::string server = WithoutSlash(client.StripCacheRoot(path));
        TListingAnswer answer;
        if (!client.GetContent(server, depth, dialog, answer)) {
            if (!dialog.Progress.Cancelled())
                dialog.ShowWarning(Txt(83), Txt(95));
            LogError("ReloadFolder: the listing of \"" + server + "\" failed; the mirror stays as it was");
            return false;
        }
        // The folder's old mirror goes aside and comes back unless the new listing is complete.
        std::string directory, aside;
        if (clearCache && !server.empty() && Storage) {
            directory = WithoutSlash(Storage->FolderDirectory(server));
            if (DirectoryThere(directory)) {
                aside = directory + ".old" + std::to_string(GetTickCount64());
                if (!MoveFileExW(Utf8ToWide(directory).c_str(), Utf8ToWide(aside).c_str(), 0)) {
                    LogError("ReloadFolder: cannot set aside " + directory + ": " + SysErrorMessage(GetLastError()));
                    aside.clear();
                } else {
                    MakeDirectories(directory);
                }
            }
        }
        const bool ok = client.TranslateXML(answer, false, dialog);
        if (!aside.empty()) {
            if (ok) {
                shl_DeleteFolder(aside);
            } else {
                shl_DeleteFolder(directory);
                MoveFileExW(Utf8ToWide(aside).c_str(), Utf8ToWide(directory).c_str(), 0);
            }
        }
        if (!ok) {
            dialog.ShowWarning(Txt(83), Txt(95));
            LogError("ReloadFolder: the answer for \"" + server + "\" could not be read; the mirror stays as it was");
            return false;
        }
        TellViews(server);
        return true;
    } catch (const std::exception& e) {
        LogError(std::string("ReloadFolder: ") + e.what());
        return false;
    }
}

bool TvrqmodPermanent::ReloadAll(bool statistics, TvrqDialog& dialog)
{
    try {
        TWEBDAVClient client;
        dialog.Progress.ExtendBy(2);
        TListingAnswer answer;
        bool ok = client.GetContent("", -1, dialog, answer);
        if (ok) {
            dialog.Progress.StepBy(1);
            ok = client.TranslateXML(answer, statistics, dialog);
            dialog.Progress.StepBy(1);
        }
        if (!ok) {
            if (!dialog.Progress.Cancelled())
                dialog.ShowWarning(Txt(83), Txt(95));
            LogError("ReloadAll: the listing failed; the mirror stays as it was");
            return false;
        }
        TellViews("");
        return true;
    } catch (const std::exception& e) {
        LogError(std::string("ReloadAll: ") + e.what());
        return false;
    }
}

void TvrqmodPermanent::miRefreshClick()
{
    try {
        if (!CheckMainAppConnection(true))
            return;
        LogDebug("Refresh");
        TvrqDialog dialog;
        dialog.Progress.StartDefault();
        ReloadAll(true, dialog);
        dialog.Progress.Close();
    } catch (const std::exception& e) {
        LogError(std::string("RefreshClick: ") + e.what());
    }
}

// ---- Open, file contents and thumbnails

std::string TvrqmodPermanent::OpenFileOf(const std::string& serverPath) const
{
    return WithSlash(Env->Open) + ServerPathSlot(FolderPartOf(serverPath)) + "\\" + NamePartOf(serverPath);
}

std::string TvrqmodPermanent::ThumbJpegOf(const std::string& serverPath) const
{
    return WithSlash(Env->Thumb) + ServerPathSlot(serverPath) + ".thumb.jpg";
}

std::string TvrqmodPermanent::ThumbBitmapOf(const std::string& serverPath) const
{
    return WithSlash(Env->Thumb) + ServerPathSlot(serverPath) + ".thumb.bmp";
}

void TvrqmodPermanent::sxVrqProviderGrainOpen(TSxCustomDataGrain& grain, std::string& command, std::string& parameters,
                                              std::string& directory)
{
    command.clear();
    parameters.clear();
    directory.clear();
    TBusyCursor busy;
    LogDebug("GrainOpen: \"" + grain.Name + "\"");
    try {
        if (!grain.IsFile || !CheckMainAppConnection(true))
            return;
        TWEBDAVClient client;
        const std::string server = client.StripCacheRoot(grain.GetValue("vFilePath"));
        const std::string record = grain.GetValue("vCacheName");
        if (server.empty() || !FileThere(record))
            throw std::runtime_error("the item \"" + grain.Name + "\" is not in the mirror");
        const std::string local = OpenFileOf(server);
        // A copy that was changed here and has not reached the server yet (its upload failed, or the
        // tray program did not run) is the user's work: it is opened as it is, never replaced.
        if (FileThere(local) && FileThere(local + ".sxc") && !shl_OpenDocumentSent(local)) {
            LogDebug("GrainOpen: \"" + local + "\" holds changes not yet on the server; opened as it is");
            if (!LaunchCommand("rundll32.exe url.dll,FileProtocolHandler \"" + local + "\""))
                throw std::runtime_error("cannot start the program of " + local + ": " + SysErrorMessage(GetLastError()));
            return;
        }
        MakeDirectories(FolderPartOf(local));
        TvrqDialog dialog;
        dialog.Progress.StartDefault();
        // The document is written only for a complete answer; the sidecar and the program follow it.
        const bool ok = client.Download(server, local, dialog);
        const bool cancelled = dialog.Progress.Cancelled();
        dialog.Progress.Close();
        if (!ok) {
            LogError("GrainOpen: the download of \"" + server + "\" failed");
            if (!cancelled)
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("Die Datei \"%s\" konnte nicht geöffnet werden.",
                                                                 "The file \"%s\" cannot be opened."),
                                                            grain.Name));
            return;
        }
        // The sidecar comes into place at once with the document's time, which marks the bytes the
        // server has: the tray program sends the document only once it is written later.
        const std::wstring sidecar = Utf8ToWide(local + ".sxc"), part = sidecar + L".~part";
        if (!CopyFileW(Utf8ToWide(record).c_str(), part.c_str(), FALSE) ||
            !shl_SetFileLastWrite(WideToUtf8(part), shl_FileLastWrite(local)) ||
            !MoveFileExW(part.c_str(), sidecar.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD code = GetLastError();
            DeleteFileW(part.c_str());
            throw std::runtime_error("cannot write " + local + ".sxc: " + SysErrorMessage(code));
        }
        if (!LaunchCommand("rundll32.exe url.dll,FileProtocolHandler \"" + local + "\""))
            throw std::runtime_error("cannot start the program of " + local + ": " + SysErrorMessage(GetLastError()));
    } catch (const std::exception& e) {
        LogError(std::string("GrainOpen: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderGetGrainFileContents(TSxCustomDataGrain& grain, TSxMemoryStream& stream)
{
    TBusyCursor busy;
    LogDebug("GetGrainFileContents: \"" + grain.Name + "\"");
    // A failed download fails the request: an empty stream would become an empty file, and a move
    // would then delete the server's one.
    if (!CheckMainAppConnection())
        throw EProviderException("GetGrainFileContents: no connection to Tandrel Sendrake");
    TWEBDAVClient client;
    const std::string server = client.StripCacheRoot(grain.GetValue("vFilePath"));
    const std::string local =
        WithSlash(Env->Download) + ServerPathSlot(FolderPartOf(server)) + "\\" + NamePartOf(server);
    MakeDirectories(FolderPartOf(local));
    TvrqDialog dialog;
    if (server.empty() || !client.Download(server, local, dialog)) {
        LogError("GetGrainFileContents: the download of \"" + server + "\" failed");
        throw EProviderException("GetGrainFileContents: the download of \"" + server + "\" failed");
    }
    THandle file(CreateFileW(Utf8ToWide(local).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size))
        throw EProviderException("GetGrainFileContents: cannot read " + local);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    size_t done = 0;
    while (done < bytes.size() &&
           ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20)),
                    &got, nullptr) &&
           got)
        done += got;
    if (done != bytes.size())
        throw EProviderException("GetGrainFileContents: cannot read " + local);
    stream.Clear();
    stream.Write(bytes.data(), bytes.size());
    stream.SetPosition(0);
    NoteDeliveredOut(ServerPathOf(grain));
}

void TvrqmodPermanent::NoteDeliveredOut(const std::string& path)
{
    std::lock_guard<std::mutex> guard(DeliveredOutLock);
    DeliveredOut.insert(path);
}

bool TvrqmodPermanent::TakeDeliveredOut(const std::string& path)
{
    std::lock_guard<std::mutex> guard(DeliveredOutLock);
    return DeliveredOut.erase(path) > 0;
}

bool TvrqmodPermanent::IsDeliveredOut(const std::string& path)
{
    std::lock_guard<std::mutex> guard(DeliveredOutLock);
    return DeliveredOut.count(path) > 0;
}

void TvrqmodPermanent::sxVrqProviderGetDataGrainThumb(TSxCustomDataGrain& grain, HBITMAP& thumb)
{
    try {
        const std::string filePath = grain.GetValue("vFilePath");
        if (!grain.IsFile || !shl_IsImageFile(filePath) || !Env)
            return;
        const std::string server = WithSlash(Env->Cache).size() <= filePath.size() &&
                                           SameText(filePath.substr(0, WithSlash(Env->Cache).size()), WithSlash(Env->Cache))
                                       ? filePath.substr(WithSlash(Env->Cache).size())
                                       : filePath;
        const std::string bitmap = ThumbBitmapOf(server);
        if (!FileThere(bitmap)) {
            if (!CheckMainAppConnection())
                return;
            const std::string record = grain.GetValue("vCacheName");
            LoadThumbnails(FolderPartOf(filePath), Storage->ListRecordFiles(FolderPartOf(record)));
        }
        if (FileThere(bitmap))
            thumb = static_cast<HBITMAP>(LoadImageW(nullptr, Utf8ToWide(bitmap).c_str(), IMAGE_BITMAP, 0, 0,
                                                    LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    } catch (const std::exception& e) {
        LogError(std::string("GetDataGrainThumb: ") + e.what());
    }
}

namespace {

// The server's thumbnail of a server file: "<folder>\.thumb\<name>.thumb.jpg".
std::string ServerThumbOf(const std::string& serverPath)
{
    return FolderPartOf(serverPath) + ".thumb\\" + NamePartOf(serverPath) + ".thumb.jpg";
}

// Asks the server for the thumbnail of one picture and keeps it locally; true when the bitmap is there.
bool FetchThumbnail(TWEBDAVClient& client, TvrqDialog& dialog, const std::string& server, const std::string& jpeg)
{
    if (!FileThere(jpeg)) {
        client.CreateThumbnail(server, 0);
        if (!client.Download(ServerThumbOf(server), jpeg, dialog))
            return false;
    }
    client.JPEGToBitmap(jpeg);
    return true;
}

} // namespace

void TvrqmodPermanent::LoadThumbnails(const std::string& folderPath, const std::vector<std::string>& recordFiles)
{
    if (ThumbsLoading)
        return;
    TBusyCursor busy;
    ThumbsLoading = true;
    TvrqDialog dialog;
    try {
        TWEBDAVClient client;
        MakeDirectories(Env->Thumb);
        dialog.Progress.Start(Txt(89), static_cast<int32_t>(recordFiles.size()), true);
        for (const std::string& recordFile : recordFiles) {
            TVirtualFileRecord record;
            try {
                record = ReadRecord(recordFile);
            } catch (const std::exception& e) {
                LogError(std::string("LoadThumbnails: ") + e.what());
            }
            // Only pictures have thumbnails on the server.
            if (!record.Name.empty() && !record.IsFolder && shl_IsImageFile(record.Name)) {
                const std::string server = client.StripCacheRoot(WithSlash(folderPath) + record.Name);
                dialog.Progress.SetLines(Txt(89), record.Name, 4);
                if (!FileThere(ThumbBitmapOf(server)))
                    FetchThumbnail(client, dialog, server, ThumbJpegOf(server));
            }
            dialog.Progress.StepBy(1);
            if (dialog.Progress.Cancelled())
                break;
        }
    } catch (const std::exception& e) {
        LogError(std::string("LoadThumbnails: ") + e.what());
    }
    ThumbsLoading = false;
    dialog.Progress.Close();
}

void TvrqmodPermanent::LoadThumbnail(const std::string& filePath, const std::string&)
{
    try {
        TWEBDAVClient client;
        TvrqDialog dialog;
        MakeDirectories(Env->Thumb);
        const std::string server = client.StripCacheRoot(filePath);
        FetchThumbnail(client, dialog, server, ThumbJpegOf(server));
    } catch (const std::exception& e) {
        LogError(std::string("LoadThumbnail: ") + e.what());
    }
}

std::string TvrqmodPermanent::ServerPathOf(const std::string& filePath) const
{
    const std::string cache = Env ? WithSlash(Env->Cache) : std::string();
    return !cache.empty() && filePath.size() >= cache.size() && SameText(filePath.substr(0, cache.size()), cache)
               ? filePath.substr(cache.size())
               : filePath;
}

TElementProperties TvrqmodPermanent::ElementPropertiesOf(TSxCustomDataGrain& grain, TSystemIcon& icon)
{
    TElementProperties d;
    d.PageGeneral = Txt(41);
    d.PageDetails = Txt(42);
    d.TypeTitle = Txt(43) + ":";
    d.SizeTitle = Txt(44) + ":";
    d.ModifiedTitle = Txt(45) + ":";
    d.CreatedTitle = Txt(46) + ":";
    d.OkCaption = Txt(9);
    const std::string host = ReadRegistryString("Connection", "host", "");
    auto address = [&](const std::string& path) {
        std::string text = host + "/" + path;
        for (char& c : text)
            if (c == '\\')
                c = '/';
        return text;
    };
    const std::string cacheName = grain.GetValue("vCacheName");
    TVirtualFileRecord record;
    if (grain.IsFile) {
        record = ReadRecord(cacheName);
        d.Name = record.Name;
        d.Icon = icon.LoadFileIcon(record.Name);
        d.FullName = address(WithSlash(record.Path) + record.Name);
        d.Type = shl_GetFileTypeName(record.Name);
        d.Size = FormatByteSize(record.Size);
        if (shl_IsImageFile(record.Name)) {
            d.ShowDetails = true;
            const std::string server = ServerPathOf(grain.GetValue("vFilePath"));
            if (!FileThere(ThumbBitmapOf(server)) && CheckMainAppConnection())
                LoadThumbnail(grain.GetValue("vFilePath"), cacheName);
            d.PreviewFile = ThumbBitmapOf(server);
        }
    } else {
        int32_t folders = 0, files = 0;
        int64_t size = 0;
        Storage->CountFolderContents(cacheName, folders, size, files);
        const bool trash = SameText(grain.GetValue("vFilePath"), WithSlash(Env->Cache) + TrashFolderName + "\\");
        d.Trash = trash;
        if (trash && imgFolderIconListBig.Count() > 0)
            icon.Assign(imgFolderIconListBig.GetIconHandle(0));
        else
            icon.LoadFolderIcon(false);
        d.Icon = icon.Handle();
        record = ReadRecord(WithoutSlash(cacheName) + "DIRTMPFILE.DIR");
        d.Name = grain.Name;
        d.FullName = address(record.Path);
        d.Type = Txt(51);
        d.Size = FormatByteSize(size) + " (" + std::to_string(folders) + " " + Txt(55) + ", " + std::to_string(files) +
                 " " + Txt(58) + ")";
    }
    d.Modified = DateTimeToText(record.LastModified);
    d.Created = DateTimeToText(record.CreationDate);
    d.Caption = Txt(86) + " " + d.Name;
    return d;
}

void TvrqmodPermanent::sxVrqProviderPreparePropertySheets(TSxCustomDataGrain& grain, TSxCustomNamespacePropSheet*& sheets)
{
    sheets = nullptr;
    try {
        // The dialog's controls are those of the library's manifest (common controls 6), whatever
        // the host process declares.
        TSxContext context;
        TSystemIcon icon;
        TfrmElementPropertySheet form(ElementPropertiesOf(grain, icon));
        form.ShowModal();
    } catch (const std::exception& e) {
        LogError(std::string("PreparePropertySheets: ") + e.what());
    }
}

// ---- Write path: rename, new folder, delete into the trash and emptying it

namespace {

bool IsInTrash(const std::string& serverPath)
{
    const size_t slash = serverPath.find('\\');
    return SameTextAscii(serverPath.substr(0, slash), TrashFolderName);
}

// The record file of a folder, beside its mirror directory.
std::string FolderRecordOf(const std::string& directory) { return WithoutSlash(directory) + "DIRTMPFILE.DIR"; }

// A record file name that no other record of the directory has; the extension stays last.
std::string UniqueRecordName(const std::string& directory, const std::string& name)
{
    const std::string base = name.empty() ? std::string("record.dat") : name;
    if (!FileThere(WithSlash(directory) + base))
        return base;
    for (unsigned n = 2;; ++n) {
        std::string candidate = std::to_string(n);
        candidate.insert(candidate.begin(), 'k');
        candidate += base;
        if (!FileThere(WithSlash(directory) + candidate))
            return candidate;
    }
}

// Every plain file below directory (with final "\"), sub-directories first walked.
void ForEachFileBelow(const std::string& directory, const std::function<void(const std::string&)>& fn)
{
    WIN32_FIND_DATAW data;
    TFindHandle find(FindFirstFileW(Utf8ToWide(WithSlash(directory) + "*").c_str(), &data));
    if (!find)
        return;
    std::vector<std::string> files, folders;
    do {
        const std::string entry = WideToUtf8(data.cFileName);
        if (entry == "." || entry == "..")
            continue;
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files).push_back(WithSlash(directory) + entry);
    } while (FindNextFileW(find.get(), &data));
    for (const std::string& folder : folders)
        ForEachFileBelow(folder, fn);
    for (const std::string& file : files)
        fn(file);
}

// path re-based from oldPath to newPath when it is oldPath or lies below it.
bool Rebase(std::string& path, const std::string& oldPath, const std::string& newPath)
{
    if (path == oldPath) {
        path = newPath;
        return true;
    }
    if (path.size() > oldPath.size() && path.compare(0, oldPath.size() + 1, oldPath + "\\") == 0) {
        path = newPath + path.substr(oldPath.size());
        return true;
    }
    return false;
}

std::string JoinServer(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : WithoutSlash(folder) + "\\" + name;
}

// A server item's address for the requests: folders with their final "\".
std::string ItemPath(const std::string& serverPath, bool isFolder)
{
    return isFolder ? WithSlash(serverPath) : serverPath;
}

// Whether the server holds an item at serverPath; a folder is also asked for with its final "\".
TItemState ServerItemState(TWEBDAVClient& client, const std::string& serverPath, bool isFolder)
{
    const TItemState state = client.ItemState(serverPath);
    if (!isFolder || state == TItemState::There)
        return state;
    const TItemState folder = client.ItemState(WithSlash(serverPath));
    return folder == TItemState::Absent ? state : folder;
}

} // namespace

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

std::string TvrqmodPermanent::ServerPathOf(const TSxCustomDataGrain& grain) const
{
    const auto* byHand = dynamic_cast<const TSxByHandDataGrain*>(&grain);
    const std::string filePath = grain.GetValue("vFilePath");
    if ((byHand && byHand->Root) || filePath.empty() || !Env)
        return std::string();
    const std::string cache = WithSlash(Env->Cache);
    std::string server = filePath.size() >= cache.size() && SameText(filePath.substr(0, cache.size()), cache)
                             ? filePath.substr(cache.size())
                             : filePath;
    return WithoutSlash(server);
}

void TvrqmodPermanent::MoveMirrorFolder(const std::string& oldDirectory, const std::string& oldPath,
                                        const std::string& newPath)
{
    const std::string from = WithoutSlash(oldDirectory);
    const std::string to = WithoutSlash(Storage->FolderDirectory(newPath));
    TVirtualFileRecord own = ReadRecord(FolderRecordOf(from));
    // What the mirror still held at the new place is not on the server (it said the name was free).
    if (DirectoryThere(to))
        shl_DeleteFolder(to);
    DeleteFileW(Utf8ToWide(FolderRecordOf(to)).c_str());
    MakeDirectories(FolderPartOf(to));
    const bool moved = MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), 0) != 0;
    DeleteFileW(Utf8ToWide(FolderRecordOf(from)).c_str());
    own.Name = NamePartOf(newPath);
    own.Path = newPath;
    own.IsFolder = true;
    own.CacheName.clear();
    if (own.LastModified == 0)
        own.CreationDate = own.LastModified = NowDateTime();
    Storage->SaveVirtualFileStorageToFile(own);
    if (!moved) {
        // The mirror cannot follow by itself: the server's listing rebuilds the folder.
        LogError("MoveMirrorFolder: cannot move " + from + ": " + SysErrorMessage(GetLastError()));
        shl_DeleteFolder(from);
        ReloadFolder(newPath, true, -1);
        return;
    }
    ForEachFileBelow(to, [&](const std::string& file) {
        try {
            TVirtualFileRecord record;
            Storage->LoadVirtualFileStorageFromFile(file, record);
            if (!Rebase(record.Path, oldPath, newPath))
                return;
            if (!record.IsFolder)
                record.CacheName = NamePartOf(file);
            Storage->SaveVirtualFileStorageToFile(record);
        } catch (const std::exception& e) {
            LogError(std::string("MoveMirrorFolder: ") + e.what());
        }
    });
}

void TvrqmodPermanent::MoveOpenSidecars(const std::string& oldPath, const std::string& newPath)
{
    if (!Env || Env->Open.empty())
        return;
    ForEachFileBelow(Env->Open, [&](const std::string& file) {
        try {
            if (!EndsWithAscii(file, ".sxc"))
                return;
            TVirtualFileRecord record;
            Storage->LoadVirtualFileStorageFromFile(file, record);
            std::string full = JoinServer(record.Path, record.Name);
            if (!Rebase(full, oldPath, newPath))
                return;
            record.Path = WithoutSlash(FolderPartOf(full));
            record.Name = NamePartOf(full);
            // Its time marks what the server has of the document: it stays.
            const uint64_t marked = shl_FileLastWrite(file);
            const auto bytes = RecordToBytes(record);
            THandle handle(CreateFileW(Utf8ToWide(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            if (!handle || !WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written != bytes.size())
                throw std::runtime_error("cannot write " + file + ": " + SysErrorMessage(GetLastError()));
            handle.reset();
            shl_SetFileLastWrite(file, marked);
        } catch (const std::exception& e) {
            LogError(std::string("MoveOpenSidecars: ") + e.what());
        }
    });
}

void TvrqmodPermanent::sxVrqProviderRenameDataGrain(TSxCustomDataGrain&, TSxCustomDataGrain& grain,
                                                    std::string& newName, bool& performRename)
{
    performRename = false;
    TBusyCursor busy;
    TvrqDialog dialog;
    try {
        if (!shl_IsValidFileName(newName) || newName.empty() || newName.size() > vfrMaxText) {
            dialog.ShowWarning(Txt(83), Txt(66));
            return;
        }
        // The item's own veto holds whoever asks (Explorer offers no rename for it): the
        // special folders keep their names on the server.
        if (grain.GetValue("vCanDelete") != "1") {
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(62), grain.Name));
            return;
        }
        if (newName == grain.Name) {
            performRename = true;
            return;
        }
        if (!CheckMainAppConnection(true))
            return;
        ConfirmedDelete = {};
        TWEBDAVClient client;
        const std::string oldPath = ServerPathOf(grain);
        if (oldPath.empty())
            throw std::runtime_error("the item \"" + grain.Name + "\" has no server path");
        const std::string newPath = JoinServer(FolderPartOf(oldPath), newName);
        const bool isFolder = !grain.IsFile;
        LogDebug("Rename: \"" + grain.Name + "\" to \"" + newName + "\"");
        // A differently cased name of the same item is no clash.
        const TItemState state =
            SameText(newPath, oldPath) ? TItemState::Absent : ServerItemState(client, newPath, isFolder);
        if (state == TItemState::There) {
            dialog.ShowWarning(Txt(83), Txt(63));
            return;
        }
        if (state == TItemState::Unknown) {
            LogError("Rename: the server did not tell whether \"" + newPath + "\" exists; nothing is renamed");
            dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht umbenannt werden.",
                                                        "\"%s\" cannot be renamed."),
                                                   grain.Name));
            return;
        }
        if (!client.Rename(ItemPath(oldPath, isFolder), ItemPath(newPath, isFolder))) {
            LogError("Rename: the server refused to rename \"" + oldPath + "\" to \"" + newPath + "\"");
            dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht umbenannt werden.",
                                                        "\"%s\" cannot be renamed."),
                                                   grain.Name));
            return;
        }
        performRename = true;
        const std::string cacheName = grain.GetValue("vCacheName");
        if (grain.IsFile) {
            TVirtualFileRecord record = ReadRecord(cacheName);
            record.Name = newName;
            record.Path = WithoutSlash(FolderPartOf(newPath));
            record.CacheName = NamePartOf(cacheName);
            if (!Storage->SaveVirtualFileStorageToFile(record))
                LogError("Rename: the mirror record of \"" + newPath + "\" could not be written");
            grain.SetValue("vFilePath", WithSlash(Env->Cache) + newPath);
        } else {
            MoveMirrorFolder(cacheName, oldPath, newPath);
            grain.SetValue("vFilePath", WithSlash(Env->Cache) + newPath + "\\");
            grain.SetValue("vCacheName", Storage->FolderDirectory(newPath));
        }
        MoveOpenSidecars(oldPath, newPath);
    } catch (const std::exception& e) {
        LogError(std::string("RenameDataGrain: ") + e.what());
        if (!performRename)
            dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht umbenannt werden.",
                                                        "\"%s\" cannot be renamed."),
                                                   grain.Name));
    }
}

void TvrqmodPermanent::sxVrqProviderCreateNewFolder(TSxCustomDataGrain& owner, const std::string& newFolderName,
                                                    std::unique_ptr<TSxCustomDataGrain>& newFolder)
{
    newFolder.reset();
    TBusyCursor busy;
    TvrqDialog dialog;
    try {
        LogDebug("CreateNewFolder: \"" + newFolderName + "\"");
        if (!CheckMainAppConnection(true))
            return;
        if (!shl_IsValidFileName(newFolderName) || newFolderName.empty() || newFolderName.size() > vfrMaxText) {
            dialog.ShowWarning(Txt(83), Txt(66));
            return;
        }
        TWEBDAVClient client;
        const std::string parentPath = ServerPathOf(owner);
        const std::string path = JoinServer(parentPath, newFolderName);
        if (!client.MakeDir(WithSlash(path))) {
            const bool there = client.FileExists(WithSlash(path));
            LogError("CreateNewFolder: the server did not make \"" + path + "\"");
            dialog.ShowWarning(Txt(83), there ? Txt(61)
                                              : FormatTableText(Pair("Der Ordner \"%s\" konnte nicht erstellt werden.",
                                                                "The folder \"%s\" cannot be created."),
                                                           newFolderName));
            return;
        }
        TVirtualFileRecord record;
        TVirtualFileStorage::InitRecord(record);
        record.Name = newFolderName;
        record.Path = path;
        record.IsFolder = true;
        record.CreationDate = record.LastModified = NowDateTime();
        if (!Storage->SaveVirtualFileStorageToFile(record))
            LogError("CreateNewFolder: the mirror of \"" + path + "\" could not be written");
        const std::string directory = Storage->FolderDirectory(path);
        MakeDirectories(directory);
        // The folder can be renamed and deleted at once, as Explorer offers right after making it.
        newFolder = MakeFolderGrain(WithSlash(Env->Cache) + (parentPath.empty() ? "" : parentPath + "\\"),
                                    FolderPartOf(WithoutSlash(directory)), NamePartOf(WithoutSlash(directory)),
                                    newFolderName);
        sxVrqProvider.NotifyGrainCreated(owner, *newFolder);
    } catch (const std::exception& e) {
        newFolder.reset();
        LogError(std::string("CreateNewFolder: ") + e.what());
        dialog.ShowWarning(Txt(83), FormatTableText(Pair("Der Ordner \"%s\" konnte nicht erstellt werden.",
                                                    "The folder \"%s\" cannot be created."),
                                               newFolderName));
    }
}

void TvrqmodPermanent::miNewFolderClickGrain(TSxCustomDataGrain& folder)
{
    try {
        if (!CheckMainAppConnection(true))
            return;
        const std::string parentPath = ServerPathOf(folder);
        const std::string directory = Storage->FolderDirectory(parentPath);
        auto taken = [&](const std::string& name) {
            return DirectoryThere(directory + TVirtualFileStorage::EncodePath(name));
        };
        std::string name = Txt(1);
        for (unsigned n = 1; taken(name); ++n)
            name = Txt(1) + " " + std::to_string(n);
        TvrqDialog dialog;
        if (dialog.AskNewFolderName(name) != mrOk)
            return;
        if (!shl_IsValidFileName(name) || name.empty()) {
            dialog.ShowWarning(Txt(83), Txt(66));
            return;
        }
        if (taken(name)) {
            dialog.ShowWarning(Txt(83), Txt(61));
            return;
        }
        std::unique_ptr<TSxCustomDataGrain> created;
        sxVrqProvider.CreateNewFolder(folder, name, created);
    } catch (const std::exception& e) {
        LogError(std::string("NewFolderClickGrain: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderConfirmDelete(TSxDataGrainList& grains, HWND, bool& allowDelete)
{
    allowDelete = false;
    ConfirmedDelete = {};
    try {
        if (grains.Count() == 0)
            return;
        TvrqDialog dialog;
        // Each item's own veto: a protected folder stays wherever it stands in the selection.
        for (int i = 0; i < grains.Count(); ++i) {
            TSxCustomDataGrain& grain = *grains.GetItem(i);
            if (grain.GetValue("vCanDelete") != "1") {
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" darf nicht gelöscht werden.",
                                                            "\"%s\" cannot be deleted."),
                                                       grain.Name));
                return;
            }
        }
        if (!CheckMainAppConnection(true))
            return;
        TSxCustomDataGrain& first = *grains.First();
        bool permanent = IsShiftPressed() || IsInTrash(ServerPathOf(first));
        int answer;
        if (grains.Count() > 1)
            answer = dialog.ConfirmDeleteItems(grains.Count(), permanent);
        else if (first.IsFile)
            answer = dialog.ConfirmDeleteFile(first.Name, permanent);
        else
            answer = dialog.ConfirmDeleteFolder(first.Name, permanent);
        allowDelete = answer == mrYes;
        if (!allowDelete)
            return;
        for (int i = 0; i < grains.Count(); ++i)
            ConfirmedDelete.Paths.push_back(ServerPathOf(*grains.GetItem(i)));
        ConfirmedDelete.Permanent = permanent;
    } catch (const std::exception& e) {
        allowDelete = false;
        ConfirmedDelete = {};
        LogError(std::string("ConfirmDelete: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderHandleDelete(TSxCustomDataGrain& grain)
{
    LogDebug("HandleDelete: \"" + grain.Name + "\"");
    // Only what the user confirmed just now is deleted, each item once; anything else asking
    // (a temporary copy that vanished, a repeated call) leaves the server item alone.
    const std::string path = ServerPathOf(grain);
    auto confirmed = std::find(ConfirmedDelete.Paths.begin(), ConfirmedDelete.Paths.end(), path);
    if (path.empty() || confirmed == ConfirmedDelete.Paths.end()) {
        LogError("HandleDelete: \"" + path + "\" was not confirmed for deletion; the server item stays");
        throw EProviderException("HandleDelete: not confirmed");
    }
    ConfirmedDelete.Paths.erase(confirmed);
    TvrqDialog dialog;
    if (!DeleteItem(grain, ConfirmedDelete.Permanent, dialog))
        throw EProviderException("HandleDelete: \"" + path + "\" was not deleted");
}

bool TvrqmodPermanent::DeleteItem(TSxCustomDataGrain& grain, bool permanent, TvrqDialog& dialog)
{
    TBusyCursor busy;
    const std::string path = ServerPathOf(grain);
    auto refused = [&](const std::string& why) {
        LogError("HandleDelete: \"" + path + "\": " + why);
        dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht gelöscht werden.",
                                                    "\"%s\" cannot be deleted."),
                                               grain.Name));
        return false;
    };
    try {
        if (!CheckMainAppConnection())
            return false;
        if (path.empty() || grain.GetValue("vCanDelete") != "1")
            return refused("the item may not be deleted");
        const bool isFolder = !grain.IsFile;
        const std::string cacheName = grain.GetValue("vCacheName");
        TWEBDAVClient client;
        if (permanent || IsInTrash(path)) {
            if (!client.Delete(ItemPath(path, isFolder)))
                return refused("the server refused the delete");
            if (isFolder) {
                shl_DeleteFolder(WithoutSlash(cacheName));
                DeleteFileW(Utf8ToWide(FolderRecordOf(cacheName)).c_str());
            } else {
                DeleteFileW(Utf8ToWide(cacheName).c_str());
            }
            return true;
        }
        // Into the trash, made on the first delete on the server and in the mirror.
        const std::string trash = TrashFolderName;
        if (!client.FileExists(WithSlash(trash)) && !client.MakeDir(WithSlash(trash)))
            return refused("the folder \"" + trash + "\" cannot be made");
        const std::string trashDirectory = Storage->FolderDirectory(trash);
        if (!DirectoryThere(trashDirectory)) {
            TVirtualFileRecord record;
            TVirtualFileStorage::InitRecord(record);
            record.Name = record.Path = trash;
            record.IsFolder = true;
            record.CreationDate = record.LastModified = NowDateTime();
            Storage->SaveVirtualFileStorageToFile(record);
            MakeDirectories(trashDirectory);
        }
        // A name the trash holds already gets the next free copy name; nothing there is replaced.
        const std::string target = client.GetUniquePath(trash, grain.Name);
        if (target.empty())
            return refused("no free name in the trash");
        if (!client.Move(ItemPath(path, isFolder), ItemPath(target, isFolder), dialog))
            return refused("the server refused the move into the trash");
        if (isFolder) {
            MoveMirrorFolder(cacheName, path, target);
        } else {
            TVirtualFileRecord record = ReadRecord(cacheName);
            record.Path = trash;
            record.Name = NamePartOf(target);
            record.IsFolder = false;
            record.CacheName = UniqueRecordName(trashDirectory, NamePartOf(cacheName));
            if (!Storage->SaveVirtualFileStorageToFile(record))
                LogError("HandleDelete: the mirror record of \"" + target + "\" could not be written");
            DeleteFileW(Utf8ToWide(cacheName).c_str());
        }
        MoveOpenSidecars(path, target);
        TellViews(trash);
        return true;
    } catch (const std::exception& e) {
        return refused(e.what());
    }
}

void TvrqmodPermanent::miEmptyRecycleBinClickGrain(TSxCustomDataGrain& trash)
{
    TvrqDialog dialog;
    try {
        LogDebug("EmptyRecycleBin: \"" + trash.Name + "\"");
        if (!CheckMainAppConnection(true))
            return;
        auto* folder = dynamic_cast<TSxByHandDataGrain*>(&trash);
        if (!folder || !IsInTrash(ServerPathOf(trash)))
            return;
        TSxDataGrainList children;
        sxVrqProviderPopulate(*folder, children);
        TBusyCursor busy;
        if (children.Count() == 0)
            return;
        bool permanent = true;
        if (dialog.ConfirmDeleteItems(children.Count(), permanent) != mrYes)
            return;
        dialog.Progress.Start(Txt(85), children.Count() + 1, true);
        for (int i = 0; i < children.Count(); ++i) {
            TSxCustomDataGrain& child = *children.GetItem(i);
            child.PlaceUnder(trash);
            dialog.Progress.SetDetail(child.Name);
            if (DeleteItem(child, true, dialog))
                sxVrqProvider.NotifyGrainDeleted(child);
            dialog.Progress.StepBy(1);
            if (dialog.Progress.Cancelled())
                break;
        }
        ReloadFolder(TrashFolderName, true, -1, dialog);
        dialog.Progress.StepBy(1);
        sxVrqProvider.NotifyGrainUpdated(trash);
    } catch (const std::exception& e) {
        LogError(std::string("EmptyRecycleBin: ") + e.what());
    }
    dialog.Progress.Close();
}

void TvrqmodPermanent::sxVrqProviderGetFolderContextMenu(TSxCustomDataGrain& folder)
{
    if (!miEmptyRecycleBin || !miNew)
        return;
    const std::string path = ServerPathOf(folder);
    miEmptyRecycleBin->Visible = !path.empty() && path == TrashFolderName;
    miNew->Visible = !miEmptyRecycleBin->Visible;
}

// ---- Drop and paste: upload, copy, move

TvrqDialog& TvrqmodPermanent::TheDropDialog()
{
    if (!DropDialog)
        DropDialog = std::make_unique<TvrqDialog>();
    return *DropDialog;
}

std::unique_ptr<TSxCustomDataGrain> TvrqmodPermanent::MakeFileGrain(const std::string& serverPath,
                                                                     const std::string& recordFile)
{
    auto grain = sxVrqProvider.CreateGrain();
    grain->Name = NamePartOf(serverPath);
    grain->IsFile = true;
    grain->SetValue("vFilePath", WithSlash(Env->Cache) + serverPath);
    grain->SetValue("vCacheName", recordFile);
    grain->SetValue("vCanDelete", "1");
    grain->SetValue("vUseSystemIcon", "1");
    return grain;
}

void TvrqmodPermanent::sxVrqProviderBeforeDrop(TSxCustomDataGrain&, bool&)
{
    SetBusyCursor(true);
    Answer = mrYes;
    DropCopied.clear();
    ConfirmedDelete = {};
    DropDialog.reset();
}

void TvrqmodPermanent::sxVrqProviderAfterDrop(TSxCustomDataGrain&)
{
    SetBusyCursor(false);
    Answer = mrYes;
    DropDialog.reset();   // closes the progress window
}

void TvrqmodPermanent::sxVrqProviderQueryDataGrainDrop(TSxCustomDataGrain& target, bool& allowDrop)
{
    allowDrop = !target.IsFile;
}

void TvrqmodPermanent::sxVrqProviderNewGrainFromFileEx2(TSxCustomDataGrain& folder, const std::string& fileName,
                                                        std::unique_ptr<TSxCustomDataGrain>& newGrain, TSxDropInfo&,
                                                        int remainingFiles, bool& cont)
{
    newGrain.reset();
    TBusyCursor busy;
    try {
        if (!CheckMainAppConnection(true)) {
            cont = false;
            return;
        }
        LogDebug("NewGrainFromFileEx2: \"" + fileName + "\"");
        TvrqDialog& dialog = TheDropDialog();
        TWEBDAVClient client;
        cont = true;
        if (Answer == mrNo)
            Answer = mrYes;   // a No holds for its own file only
        const std::string name = shl_ExtractFileName(fileName);
        const std::string folderPath = ServerPathOf(folder);
        const std::string target = JoinServer(folderPath, name);
        const TItemState state = client.ItemState(target);
        if (state == TItemState::Unknown) {
            // The server did not say whether it holds a file of that name: nothing is sent over it.
            LogError("NewGrainFromFileEx2: the server did not tell whether \"" + target + "\" exists; \"" +
                     fileName + "\" is not sent");
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
        } else if (state == TItemState::There) {
            if (!TvrqDialog::IsFinalAnswer(Answer))
                Answer = dialog.ConfirmReplaceFileAll(name);
        }
        if (state != TItemState::Unknown && TvrqDialog::IsPositiveAnswer(Answer)) {
            int32_t position = 0, maximum = 0;
            dialog.Progress.GetState(position, maximum);
            if (remainingFiles >= maximum)
                dialog.Progress.Start(Txt(84), remainingFiles, false);
            dialog.Progress.SetDetail(fileName);
            // The PUT replaces a file of that name; nothing is deleted before it.
            if (client.Upload(fileName, target, dialog)) {
                const std::string directory = Storage->FolderDirectory(folderPath);
                MakeDirectories(directory);
                const std::string old = Storage->FindCacheName(directory + name);
                if (!old.empty())
                    DeleteFileW(Utf8ToWide(directory + old).c_str());
                TVirtualFileRecord record;
                Storage->RecordFromLocalFile(WithSlash(Storage->Root) + folderPath, fileName, record);
                record.Name = name;
                record.Path = folderPath;
                record.CacheName = UniqueRecordName(directory, record.CacheName);
                if (!Storage->SaveVirtualFileStorageToFile(record))
                    LogError("NewGrainFromFileEx2: the mirror record of \"" + target + "\" could not be written");
                newGrain = MakeFileGrain(target, directory + record.CacheName);
                sxVrqProvider.NotifyGrainUpdated(folder);
                // Cancel ends the drop; what is stored stays.
                if (dialog.Progress.Cancelled())
                    cont = false;
            } else {
                LogError("NewGrainFromFileEx2: the upload of \"" + fileName + "\" to \"" + target + "\" failed");
                dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
                if (dialog.Progress.Cancelled())
                    cont = false;
            }
        }
    } catch (const std::exception& e) {
        LogError(std::string("NewGrainFromFileEx2 GLOBAL: ") + e.what() + " Filename: " + fileName);
        TheDropDialog().ShowWarning(Txt(83), FormatTableText(Txt(64), shl_ExtractFileName(fileName)));
    }
    if (Answer == mrCancel)
        cont = false;
}

void TvrqmodPermanent::sxVrqProviderDataGrainDropEx(TSxCustomDataGrain& folder, TSxCustomDataGrain& grain,
                                                    TSxDropInfo& dropInfo)
{
    // Unless the server made the copy, a move completion must leave the source alone.
    const TSxDropEffects copyOnly = SxDropCopy;
    const bool wantsMove = (dropInfo.Effect & SxDropMove) != 0;
    TBusyCursor busy;
    std::string name = grain.Name;
    try {
        if (!CheckMainAppConnection(true)) {
            dropInfo.Effect = copyOnly;
            return;
        }
        TvrqDialog& dialog = TheDropDialog();
        if (!TvrqDialog::IsFinalAnswer(Answer))
            Answer = mrYes;
        const bool isFolder = !grain.IsFile;
        const std::string source = ServerPathOf(grain);
        const std::string targetFolder = ServerPathOf(folder);
        if (source.empty()) {
            dropInfo.Effect = copyOnly;
            return;
        }
        // A folder onto itself or into its own subtree: nothing, silently.
        if (isFolder && (targetFolder == source || targetFolder.rfind(source + "\\", 0) == 0)) {
            dropInfo.Effect = copyOnly;
            return;
        }
        bool isProtected = false;
        if (isFolder && IsSpecialFolder(name, isProtected) && isProtected) {
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(62), name));
            dropInfo.Effect = copyOnly;
            return;
        }
        TWEBDAVClient client;
        const std::string target = JoinServer(targetFolder, name);
        bool ok = false;
        std::string made;   // where the copy went
        if (target == source) {
            dropInfo.Effect = copyOnly;
            if (wantsMove)
                return;   // a move onto its own place
            made = client.GetUniquePath(targetFolder, name);
            ok = !made.empty() && client.Copy(ItemPath(source, isFolder), ItemPath(made, isFolder), dialog);
        } else {
            const TItemState state = ServerItemState(client, target, isFolder);
            if (state == TItemState::Unknown) {
                // Whether the target is taken is not known: nothing is copied over it.
                LogError("DataGrainDropEx: the server did not tell whether \"" + target + "\" exists; \"" + source +
                         "\" is not copied");
                dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
                dropInfo.Effect = copyOnly;
                return;
            }
            const bool exists = state == TItemState::There;
            if (exists && isFolder) {
                // A copy onto a folder would replace it whole on the server: refused, nothing lost.
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("Der Ordner \"%s\" ist dort bereits vorhanden und wird nicht ersetzt.",
                                                            "The folder \"%s\" is there already and is not replaced."),
                                                       name));
                dropInfo.Effect = copyOnly;
                return;
            }
            if (exists && !TvrqDialog::IsFinalAnswer(Answer))
                Answer = dialog.ConfirmReplaceFile(name);
            if (!TvrqDialog::IsPositiveAnswer(Answer)) {
                dropInfo.Effect = copyOnly;
                return;
            }
            made = target;
            ok = client.Copy(ItemPath(source, isFolder), ItemPath(target, isFolder), dialog, exists);
        }
        if (!ok) {
            LogError("DataGrainDropEx: the server did not copy \"" + source + "\" to \"" + made + "\"");
            dialog.ShowWarning(Txt(83), FormatTableText(Txt(64), name));
            dropInfo.Effect = copyOnly;
            return;
        }
        const std::string madeFolder = WithoutSlash(FolderPartOf(made));
        if (isFolder) {
            ReloadFolder(made, true, -1, dialog);
        } else {
            const std::string directory = Storage->FolderDirectory(madeFolder);
            MakeDirectories(directory);
            const std::string old = Storage->FindCacheName(directory + NamePartOf(made));
            if (!old.empty())
                DeleteFileW(Utf8ToWide(directory + old).c_str());
            const std::string sourceRecord = grain.GetValue("vCacheName");
            TVirtualFileRecord record = ReadRecord(sourceRecord);
            record.Name = NamePartOf(made);
            record.Path = madeFolder;
            record.IsFolder = false;
            record.CacheName = UniqueRecordName(directory, NamePartOf(sourceRecord));
            if (!Storage->SaveVirtualFileStorageToFile(record))
                LogError("DataGrainDropEx: the mirror record of \"" + made + "\" could not be written");
        }
        sxVrqProvider.NotifyGrainUpdated(folder);
        TellViews(madeFolder);
        if (target != source && wantsMove)
            DropCopied.emplace_back(source, made);
    } catch (const std::exception& e) {
        LogError(std::string("DataGrainDropEx: ") + e.what());
        dropInfo.Effect = copyOnly;
        TheDropDialog().ShowWarning(Txt(83), FormatTableText(Txt(64), name));
    }
}

void TvrqmodPermanent::sxVrqProviderGrainMoved(TSxDataGrainList& grains)
{
    LogDebug("GrainMoved: Items=" + std::to_string(grains.Count()));
    TBusyCursor busy;
    TvrqDialog dialog;
    for (int i = 0; i < grains.Count(); ++i) {
        TSxCustomDataGrain& grain = *grains.GetItem(i);
        try {
            const std::string source = ServerPathOf(grain);
            const bool isFolder = !grain.IsFile;
            auto copied = std::find_if(DropCopied.begin(), DropCopied.end(),
                                       [&](const auto& pair) { return pair.first == source; });
            // Only a source whose own copy the server made in this drop goes, or what a target
            // outside took in whole.
            const bool handedOut = copied == DropCopied.end() && !source.empty() &&
                                   (isFolder ? FolderHandedOut(source, dialog) : TakeDeliveredOut(source));
            if (source.empty() || (copied == DropCopied.end() && !handedOut) || grain.GetValue("vCanDelete") != "1") {
                LogError("GrainMoved: \"" + source + "\" was not copied; it stays");
                continue;
            }
            std::string target;
            if (copied != DropCopied.end()) {
                target = copied->second;
                DropCopied.erase(copied);
            }
            TWEBDAVClient client;
            if (!client.Delete(ItemPath(source, isFolder))) {
                LogError("GrainMoved: the server did not delete \"" + source + "\"");
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("\"%s\" konnte nicht gelöscht werden.",
                                                            "\"%s\" cannot be deleted."),
                                                       grain.Name));
                continue;
            }
            const std::string cacheName = grain.GetValue("vCacheName");
            if (isFolder) {
                shl_DeleteFolder(WithoutSlash(cacheName));
                DeleteFileW(Utf8ToWide(FolderRecordOf(cacheName)).c_str());
            } else {
                DeleteFileW(Utf8ToWide(cacheName).c_str());
            }
            if (!target.empty())
                MoveOpenSidecars(source, target);
            sxVrqProvider.NotifyGrainDeleted(grain);
            TellViews(WithoutSlash(FolderPartOf(source)));
        } catch (const std::exception& e) {
            LogError(std::string("GrainMoved: ") + e.what());
        }
    }
}

bool TvrqmodPermanent::FolderHandedOut(const std::string& folder, TvrqDialog& dialog)
{
    // The server's tree as it is now, not as it was listed when the drag began: a file another
    // client put there since was never handed over, and the folder must then stay.
    if (!Storage || !ReloadFolder(folder, true, -1, dialog))
        return false;
    std::vector<std::string> files;
    bool whole = true;
    ForEachFileBelow(Storage->FolderDirectory(folder), [&](const std::string& file) {
        TVirtualFileRecord record;
        try {
            Storage->LoadVirtualFileStorageFromFile(file, record);
        } catch (const std::exception&) {
            whole = false;
            return;
        }
        if (record.IsFolder)
            return;
        const std::string path = JoinServer(record.Path, record.Name);
        if (IsDeliveredOut(path))
            files.push_back(path);
        else
            whole = false;
    });
    if (!whole) {
        LogError("GrainMoved: the folder \"" + folder + "\" holds files that were not handed over; it stays");
        return false;
    }
    for (const std::string& file : files)
        TakeDeliveredOut(file);
    return true;
}

void TvrqmodPermanent::sxVrqProviderConfirmOverwriteFolder(TSxCustomDataGrain& folder, bool& allowOverwrite)
{
    allowOverwrite = false;
    try {
        if (!CheckMainAppConnection())
            return;
        if (!TvrqDialog::IsFinalAnswer(Answer))
            Answer = TheDropDialog().ConfirmReplaceFolder(folder.Name);
        allowOverwrite = TvrqDialog::IsPositiveAnswer(Answer);
    } catch (const std::exception& e) {
        LogError(std::string("ConfirmOverwriteFolder: ") + e.what());
    }
}
#endif
