// A virtual folder built from the framework for the tests: a small tree of folders and files whose
// names hold blanks and umlauts, under My Computer, with details columns and a URL search hook.
// "Größe ä.txt" shows an overlay; "versteckt.txt" leaves the system icon to IExtractIcon. Files
// have a menu item "Hochladen" (with a sub-menu), info tips and, for JPEG pictures found in the
// temporary folder's "SxTestFolder" folder, thumbnails.
#include "SxExplorerMenu.h"
#include "SxExplorerToolbar.h"
#include "SxNamespaceDetails.h"
#include "SxNamespaceUtils.h"
#include "SxVirtualFolder.h"
#include "SxShellView.h"
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxComObjectFactory.h"
#include "SxProvider.h"
#include "SxIconList.h"
#include "SxPmtDataModule.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdlib>
#include <memory>
#include <vector>
#include <map>
#include <mutex>

namespace {

// What the delete handler and the confirmation saw.
std::mutex LogLock;
std::string DeleteLog;
int Confirmations = 0;
// What the product's menu items saw: "list:<names>;" per click, "grain:<name>;" per grain.
std::string MenuLog;

void LogMenu(const std::string& text)
{
    std::lock_guard<std::mutex> guard(LogLock);
    MenuLog += text;
}

// A JPEG picture decoded and scaled by WIC to exactly width x height, or nullptr.
HBITMAP PictureThumb(const std::wstring& file, int width, int height)
{
    using Microsoft::WRL::ComPtr;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapScaler> scaler;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateBitmapScaler(&scaler)) ||
        FAILED(scaler->Initialize(frame.Get(), static_cast<UINT>(width), static_cast<UINT>(height),
                                  WICBitmapInterpolationModeFant)) ||
        FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(scaler.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0.0, WICBitmapPaletteTypeCustom)))
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return nullptr;
    const UINT stride = static_cast<UINT>(width) * 4;
    if (FAILED(converter->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height), static_cast<BYTE*>(bits)))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

struct TTestItem {
    std::string Name;
    bool IsFile;
    uint32_t Size;
    bool Hidden;
};

// Children by the path of their folder ("" is the root).
const std::map<std::string, std::vector<TTestItem>>& Tree()
{
    static const std::map<std::string, std::vector<TTestItem>> tree = {
        {"", {{"Bilder", false, 0, false},
              {"Neuer Ordner", false, 0, false},
              {"Größe ä.txt", true, 1025, false},
              {"read me.txt", true, 0, false},
              {"versteckt.txt", true, 10, true}}},
        {"Bilder", {{"Urlaub 2024", false, 0, false}, {"Strand ö.jpg", true, 2048, false}}},
        {"Bilder\\Urlaub 2024", {{"Düne.png", true, 1, false},
                                 {"日本語.doc", true, 3000, false},
                                 {"Urlaub 🌴.jpg", true, 4097, false}}},
        {"Neuer Ordner", {{"kaputt.bin", true, 77, false}}},
    };
    return tree;
}

// What the transfer events saw, one line each.
std::vector<std::string> TransferLog;

void Record(const std::string& line)
{
    std::lock_guard<std::mutex> guard(LogLock);
    TransferLog.push_back(line);
}

std::string PathOf(const TSxCustomDataGrain& grain)
{
    auto* byHand = dynamic_cast<const TSxByHandDataGrain*>(&grain);
    return byHand && byHand->Root ? std::string() : grain.GetValue("path");
}

// The bytes of a test file: its path and a line break, over and over, cut to its size.
std::string ContentsOf(const std::string& path, uint32_t size)
{
    std::string text;
    while (text.size() < size)
        text += path + "\n";
    text.resize(size);
    return text;
}

// A short fingerprint of bytes for the log.
uint32_t Fnv(const std::string& bytes)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

uint32_t SizeOf(const TSxCustomDataGrain& grain)
{
    return static_cast<uint32_t>(std::strtoul(grain.GetValue("size").c_str(), nullptr, 10));
}

class TTestPermanent : public TSxPermanentModule, public ISxProviderHolder, public ISxMenuItemHolder {
public:
    TTestPermanent() : TSxPermanentModule("TTestPermanent"), Provider("sxTestProvider")
    {
        Provider.OnPopulate = [](TSxByHandProvider& provider, TSxByHandDataGrain& folder, TSxDataGrainList& list) {
            const std::string path = folder.Root ? std::string() : folder.GetValue("path");
            auto it = Tree().find(path);
            if (it == Tree().end())
                return;
            for (const auto& item : it->second) {
                auto grain = provider.CreateGrain();
                grain->Name = item.Name;
                grain->IsFile = item.IsFile;
                grain->Attributes = item.Hidden ? gaHidden : 0;
                std::string full = path;
                if (!full.empty())
                    full += '\\';
                full += item.Name;
                grain->SetValue("path", full);
                grain->SetValue("size", std::to_string(item.Size));
                list.Add(std::move(grain));
            }
        };
        Provider.OnGetGrainFileInfo = [](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxFileInfoDescriptor& info) {
            info.DisplayName = grain.Name;
            info.TypeName = "Testdatei";
            info.Size = SizeOf(grain);
            info.LastWriteTime = SxEncodeDateTime({2024, 5, 17, 14, 30, 0, 0});
        };
        Provider.OnRenameDataGrain = [](TSxCustomProvider&, TSxCustomDataGrain&, TSxCustomDataGrain&,
                                        std::string& newName, bool& perform) {
            if (newName == "verboten")
                perform = false;
        };
        // A delete that fails raises; "Größe ä.txt" cannot be deleted.
        Provider.OnHandleDelete = [](TSxCustomProvider&, TSxCustomDataGrain& grain) {
            if (grain.Name == "Größe ä.txt")
                throw std::runtime_error("the server refused");
            std::lock_guard<std::mutex> guard(LogLock);
            DeleteLog += grain.Name + ";";
        };
        Provider.OnConfirmDelete = [](TSxCustomProvider&, TSxDataGrainList&, HWND, bool&) {
            std::lock_guard<std::mutex> guard(LogLock);
            ++Confirmations;
        };
        // Transfer: contents, temporary files, drops of files, descriptors and own grains.
        Provider.OnGetGrainTempPath = [](TSxCustomProvider&, TSxCustomDataGrain&, std::string& path) {
            wchar_t buffer[MAX_PATH + 1] = {};
            GetTempPathW(MAX_PATH + 1, buffer);
            path = WideToUtf8(buffer) + "SxTestFolderTemp\\";
            CreateDirectoryW(Utf8ToWide(path).c_str(), nullptr);
        };
        Provider.OnGetGrainFilename = [](TSxCustomProvider&, TSxCustomDataGrain&, std::string&) {};
        Provider.OnGetGrainFileContents = [](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxMemoryStream& stream) {
            if (grain.Name == "kaputt.bin")
                throw std::runtime_error("the download failed");
            const std::string bytes = ContentsOf(PathOf(grain), SizeOf(grain));
            stream.Write(bytes.data(), bytes.size());
        };
        Provider.OnQueryDataGrainDrop = [](TSxCustomProvider&, TSxCustomDataGrain&, TSxCustomDataGrain& target,
                                           bool& allow) { allow = !target.IsFile; };
        Provider.OnCreateNewFolder = [](TSxCustomProvider& provider, TSxCustomDataGrain& owner, const std::string& name,
                                        std::unique_ptr<TSxCustomDataGrain>& folder) {
            Record("mkdir " + PathOf(owner) + "|" + name);
            if (name == "gesperrt")
                return;  // the server refuses this one
            folder = provider.CreateGrain();
            folder->Name = name;
            folder->SetValue("path", PathOf(owner).empty() ? name : PathOf(owner) + "\\" + name);
        };
        Provider.OnConfirmOverwriteFolder = [](TSxCustomProvider&, TSxCustomDataGrain& folder, HWND, bool& allow) {
            Record("merge " + PathOf(folder));
            allow = true;
        };
        Provider.OnNewGrainFromFileEx2 = [](TSxCustomProvider& provider, TSxCustomDataGrain& folder,
                                            const std::string& fileName, std::unique_ptr<TSxCustomDataGrain>& grain,
                                            TSxDropInfo&, int remaining, bool&) {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            GetFileAttributesExW(Utf8ToWide(fileName).c_str(), GetFileExInfoStandard, &data);
            const std::string name = fileName.substr(fileName.find_last_of('\\') + 1);
            Record("file " + PathOf(folder) + "|" + name + "|" + std::to_string(data.nFileSizeLow) + "|" +
                   std::to_string(remaining));
            if (name.find("fehlt") != std::string::npos)
                return;  // the upload failed: no new grain
            grain = provider.CreateGrain();
            grain->Name = name;
            grain->IsFile = true;
        };
        // A file drop needs the older event assigned as well; the newest one is the one that fires.
        Provider.OnNewGrainFromFileEx = [](TSxCustomProvider&, TSxCustomDataGrain&, const std::string& fileName,
                                           std::unique_ptr<TSxCustomDataGrain>&, TSxDropInfo&) {
            Record("not used " + fileName);
        };
        Provider.OnNewGrainFromStream = [](TSxCustomProvider&, TSxCustomDataGrain& folder,
                                           const TSxFileInfoDescriptor& info, TSxByteStream& data) {
            std::string bytes(static_cast<size_t>(data.GetSize()), '\0');
            bytes.resize(data.Read(bytes.data(), bytes.size()));
            Record("stream " + PathOf(folder) + "|" + info.DisplayName + "|" + std::to_string(info.Size) + "|" +
                   std::to_string(Fnv(bytes)));
        };
        Provider.OnDataGrainDropEx = [](TSxCustomProvider&, TSxCustomDataGrain& folder, TSxCustomDataGrain& grain,
                                        TSxDropInfo& info) {
            Record("grain " + PathOf(folder) + "|" + grain.Name);
            if (grain.Name == "read me.txt")
                info.Effect = SxDropCopy;  // the server copy failed: the source must stay
        };
        Provider.OnGrainMoved = [](TSxCustomProvider&, TSxDataGrainList& grains) {
            std::string names;
            for (int i = 0; i < grains.Count(); ++i)
                names += grains.GetItem(i)->Name + ";";
            Record("moved " + names);
        };
        Overlays.SetWidth(16);
        Overlays.SetHeight(16);
        Overlays.AddIcon(LoadIconW(nullptr, IDI_APPLICATION), "");
        Provider.SmallOverlayIcons = &Overlays;
        Provider.OnGetOverlayIndex = [](TSxCustomProvider&, TSxCustomDataGrain& grain, int32_t& overlay, bool& show) {
            overlay = 0;
            show = grain.Name == "Größe ä.txt";
        };
        Provider.OnPrepareGrainApperance = [](TSxCustomProvider&, TSxCustomDataGrain& grain,
                                              TSxPrepareIconParams& params) {
            if (grain.Name == "versteckt.txt")
                params.UseSystemIcon = false;
        };
        Provider.OnGetInfoTip = [](TSxCustomProvider&, TSxCustomDataGrain& grain, std::string& tip) {
            tip = grain.Name + " \xE2\x80\x93 \xE5\xA4\xA7\xE3\x81\x8D\xE3\x81\x95 " + grain.GetValue("size");
        };
        Provider.OnGetDataGrainThumb = [](TSxCustomProvider&, TSxCustomDataGrain& grain, TSxSize size, HBITMAP& thumb) {
            wchar_t temp[MAX_PATH + 1] = {};
            GetTempPathW(MAX_PATH, temp);
            thumb = PictureThumb(std::wstring(temp) + L"SxTestFolder\\" + Utf8ToWide(grain.Name), size.Width,
                                 size.Height);
        };
        // The file menu: "Hochladen" and "Senden an" with one sub-item.
        auto& upload = static_cast<TSxGrainMenuItem&>(FileMenu.Items.Add(FileMenu.CreateMenuItem(nullptr)));
        upload.SetName("miUpload");
        upload.Caption = "&Hochladen";
        upload.Hint = "Hochladen|L\xC3\xA4""dt die Datei auf den Server";
        upload.OnClickGrainList = [](TSxMenuItem&, const std::vector<TSxCustomDataGrain*>& grains) {
            std::string names;
            for (auto* grain : grains)
                names += (names.empty() ? "" : ",") + grain->Name;
            LogMenu("list:" + names + ";");
        };
        upload.OnClickGrain = [](TSxMenuItem&, TSxCustomDataGrain& grain) { LogMenu("grain:" + grain.Name + ";"); };
        auto& send = FileMenu.Items.Add(FileMenu.CreateMenuItem(nullptr));
        send.Caption = "Senden an";
        auto& server = static_cast<TSxGrainMenuItem&>(send.Add(FileMenu.CreateMenuItem(nullptr)));
        server.Caption = "Server \xC3\xA4";
        server.OnClickGrain = [](TSxMenuItem&, TSxCustomDataGrain& grain) { LogMenu("server:" + grain.Name + ";"); };
        auto& hidden = FileMenu.Items.Add(FileMenu.CreateMenuItem(nullptr));
        hidden.Caption = "Unsichtbar";
        hidden.Visible = false;
        Provider.FileContextMenu = &FileMenu;
        // The Explorer toolbar's command: the grain it ran for.
        auto& sync = Extras.Items.Add(Extras.CreateMenuItem(nullptr));
        sync.SetName("miSync");
        sync.Caption = "Synchronisieren";
        sync.OnClick = [](TSxBaseMenuItem& item) {
            auto* bound = dynamic_cast<TSxMenuItem*>(&item);
            TSxCustomDataGrain* grain = bound ? bound->FirstGrain() : nullptr;
            LogMenu("sync:" + (grain ? (PathOf(*grain).empty() ? std::string("<root>") : grain->Name) : "<none>") +
                    ";");
        };
    }
    TSxBaseMenuItem* FindMenuItem(const std::string& name) override
    {
        TSxBaseMenuItem* item = SxFindMenuItem(FileMenu.Items, name);
        return item ? item : SxFindMenuItem(Extras.Items, name);
    }
    TSxCustomProvider* FindProvider(const std::string& name) override
    {
        return name == Provider.Name ? &Provider : nullptr;
    }
    TSxIconList Overlays;  // before the provider, which refers to them
    TSxGrainMenu FileMenu;
    TSxPopupMenu Extras;
    TSxByHandProvider Provider;
};

class TTestFolderModule : public TSxModule {
public:
    explicit TTestFolderModule(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
    {
        SetName("modTestFolder");
        auto& details = Add<TSxNamespaceDetails>("sxTestDetails");
        auto addColumn = [&](const std::string& code, const std::string& caption, TColumnSortType sort) -> TSxNamespaceColumn& {
            auto& column = details.DesignedColumns().AddItem();
            column.CodeName = code;
            column.Caption = caption;
            column.SortType = sort;
            return column;
        };
        addColumn("NAME", "Name", TColumnSortType::ctSortString).Width = 25;
        auto& size = addColumn("SIZE", "Größe", TColumnSortType::ctSortInteger);
        size.OnSort = [](TSxNamespaceColumn&, TSxCustomDataGrain* a, TSxCustomDataGrain* b, int32_t& result) {
            uint32_t sa = SizeOf(*a), sb = SizeOf(*b);
            result = sa < sb ? -1 : sa > sb ? 1 : 0;
        };
        addColumn("TYPE", "Typ", TColumnSortType::ctSortString);
        addColumn("MODIFIED", "Letzte Änderung", TColumnSortType::ctSortDate);
        details.CommonColumns.ColumnName = 0;
        details.CommonColumns.ColumnSize = 1;
        details.CommonColumns.ColumnType = 2;
        details.CommonColumns.ColumnModified = 3;

        // The Explorer menu and toolbar name the permanent module's items.
        auto& explorerMenu = Add<TSxExplorerMenu>("sxTestExplorerMenu");
        explorerMenu.EditMenu.resize(1);
        explorerMenu.EditMenu[0].SetMenuItem("TTestPermanent", "miUpload");
        auto& toolbar = Add<TSxExplorerToolbar>("sxTestToolbar");
        toolbar.Buttons.resize(3);
        toolbar.Buttons[0].SetMenuItem("TTestPermanent", "miSync");
        toolbar.Buttons[0].Hint = "Synchronisieren";
        toolbar.Buttons[0].Image = TSxExplorerButtonImage::biViewDetails;
        toolbar.Buttons[1].Style = TSxExplorerButtonStyle::bsSeparator;
        toolbar.Buttons[2].SetMenuItem("TTestPermanent", "miUpload");
        toolbar.Buttons[2].Hint = "Hochladen";
        toolbar.Buttons[2].Image = TSxExplorerButtonImage::biNewFolder;

        auto& view = Add<TSxSysShellView>("sxTestView");
        view.Details = &details;
        view.DefaultViewStyle = TSxViewStyle::svsDetails;
        view.ExplorerMenu = &explorerMenu;
        view.ExplorerToolbar = &toolbar;

        auto& folder = Add<TSxVirtualFolder>("sxTestFolder");
        folder.SetCLSID("{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}");
        folder.SetDescription("Tandrel Testtresor");
        folder.URLHandler.URLIdentifier = "testvault:";
        folder.URLHandler.SetCLSID("{5D1C8F23-7A3B-4C6E-9E41-2B7F0C3A8D55}");
        folder.Attributes.Browsable = true;
        folder.Attributes.CanRename = true;
        folder.Attributes.DropTarget = true;
        folder.Attributes.HasPropSheet = true;
        folder.SetShellView(&view);
        folder.SetProviderConnectivity("TTestPermanent", "sxTestProvider");
    }
};

const TSxModuleClass TestFolderModule{"TTestFolderModule",
                                      [] { return std::make_unique<TTestFolderModule>(TestFolderModule); }};

} // namespace

void SxTestDllSetup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SxSetServerName("SxTestFolder");
        RegisterPermanentModuleClass("TTestPermanent", [] { return std::make_unique<TTestPermanent>(); });
        RegisterModuleFactories(TestFolderModule);
    });
}

extern "C" {

// The view callback the folder's view gives the system folder view.
__declspec(dllexport) HRESULT SxTestViewCallback(IShellFolder* shellFolder, IShellFolderViewCB** callback)
{
    *callback = nullptr;
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    auto* view = folder ? dynamic_cast<TSxSysShellView*>(folder->GetShellView()) : nullptr;
    if (!view)
        return E_FAIL;
    *callback = view->CreateCallback(folder, nullptr).Detach();
    return S_OK;
}

// The same with the Explorer window ownerWindow (which answers WM_USER + 7 with its browser).
__declspec(dllexport) HRESULT SxTestViewCallbackFor(IShellFolder* shellFolder, HWND ownerWindow,
                                                     IShellFolderViewCB** callback)
{
    *callback = nullptr;
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    auto* view = folder ? dynamic_cast<TSxSysShellView*>(folder->GetShellView()) : nullptr;
    if (!view)
        return E_FAIL;
    *callback = view->CreateCallback(folder, ownerWindow).Detach();
    return S_OK;
}

__declspec(dllexport) void SxTestNotify(LONG eventId, PCIDLIST_ABSOLUTE item1, PCIDLIST_ABSOLUTE item2)
{
    NotifyShellChange(eventId, SHCNF_IDLIST, item1, item2);
}

__declspec(dllexport) int SxTestViewRegistrations(HWND window)
{
    return static_cast<int>(ShellViewRegistrationCount(window));
}

__declspec(dllexport) HRESULT SxTestMenuCallback(bool background, IShellFolder* folder, HWND owner,
                                                 IDataObject* dataObject, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return background ? BackgroundMenuCallback(folder, owner, dataObject, msg, wParam, lParam)
                      : ItemMenuCallback(folder, owner, dataObject, msg, wParam, lParam);
}

// The transfer events so far, one line each ("\n" after each); the log is reset.
__declspec(dllexport) int SxTestTransferLog(char* buffer, int size)
{
    std::lock_guard<std::mutex> guard(LogLock);
    std::string text;
    for (const auto& line : TransferLog)
        text += line + "\n";
    lstrcpynA(buffer, text.c_str(), size);
    const int count = static_cast<int>(TransferLog.size());
    TransferLog.clear();
    return count;
}

// The names deleted so far (";" after each) and the number of confirmations; both are reset.
__declspec(dllexport) int SxTestDeleteLog(char* buffer, int size)
{
    std::lock_guard<std::mutex> guard(LogLock);
    lstrcpynA(buffer, DeleteLog.c_str(), size);
    int confirmations = Confirmations;
    DeleteLog.clear();
    Confirmations = 0;
    return confirmations;
}


// The menu log (see MenuLog), reset.
__declspec(dllexport) void SxTestMenuLog(char* buffer, int size)
{
    std::lock_guard<std::mutex> guard(LogLock);
    lstrcpynA(buffer, MenuLog.c_str(), size);
    MenuLog.clear();
}

// The icon extractor's locations: 1 icon files (as under Wine), 0 random texts (as on Windows),
// -1 as the system decides.
__declspec(dllexport) void SxTestSetIconFiles(int mode)
{
    SxSetIconLocationsAreFiles(mode < 0 ? std::function<bool()>() : std::function<bool()>([mode] { return mode == 1; }));
}

// 1: the folder object's view hands out the framework's own item menu; 0: the system's.
__declspec(dllexport) void SxTestSetMenuOrigin(IShellFolder* shellFolder, int own)
{
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    if (TSxCustomShellView* view = folder ? folder->GetShellView() : nullptr)
        view->Settings.ContextMenuOrigin = own ? TSxContextMenuOrigin::cmoTessolark : TSxContextMenuOrigin::cmoSystemDefault;
}

// The framework's own background menu of the folder, with its paste (the product shows the
// system's, whose callback Wine never calls).
__declspec(dllexport) HRESULT SxTestBackgroundMenu(IShellFolder* shellFolder, IContextMenu** menu)
{
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    if (!menu || !folder)
        return E_INVALIDARG;
    return TSxNamespaceCustomUtil::Make<TSxNamespaceBackgroundMenu>(IID_IContextMenu, reinterpret_cast<void**>(menu),
                                                                    *folder, nullptr, nullptr, false);
}
}
