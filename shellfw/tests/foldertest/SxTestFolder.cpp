// A virtual folder built from the framework for the tests: a small tree of folders and files whose
// names hold blanks and umlauts, under My Computer, with details columns and a URL search hook.
// "Größe ä.txt" shows an overlay; "versteckt.txt" leaves the system icon to IExtractIcon. Files
// have a menu item "Hochladen" (with a sub-menu), info tips and, for JPEG pictures found in the
// temporary folder's "SxTestFolder" folder, thumbnails.
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
        {"Bilder\\Urlaub 2024", {{"Düne.png", true, 1, false}}},
        {"Neuer Ordner", {}},
    };
    return tree;
}

uint32_t SizeOf(const TSxCustomDataGrain& grain)
{
    return static_cast<uint32_t>(std::strtoul(grain.GetValue("size").c_str(), nullptr, 10));
}

class TTestPermanent : public TSxPermanentModule, public ISxProviderHolder {
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
    }
    TSxCustomProvider* FindProvider(const std::string& name) override
    {
        return name == Provider.Name ? &Provider : nullptr;
    }
    TSxIconList Overlays;  // before the provider, which refers to them
    TSxGrainMenu FileMenu;
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

        auto& view = Add<TSxSysShellView>("sxTestView");
        view.Details = &details;
        view.DefaultViewStyle = TSxViewStyle::svsDetails;

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

// 1: the folder object's view hands out the framework's own item menu; 0: the system's.
__declspec(dllexport) void SxTestSetMenuOrigin(IShellFolder* shellFolder, int own)
{
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    if (TSxCustomShellView* view = folder ? folder->GetShellView() : nullptr)
        view->Settings.ContextMenuOrigin = own ? TSxContextMenuOrigin::cmoTessolark : TSxContextMenuOrigin::cmoSystemDefault;
}
}
