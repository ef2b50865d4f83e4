#include "ufrmMainPropertySheet.h"

#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBResources.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBVersion.h"
#include "uGLBWin.h"
#include "uTApplicationEnviroment.h"

#include <windows.h>
#include <commctrl.h>

#include <mutex>
#include <vector>

TMainPageValues MainPageValues()
{
    TMainPageValues v;
    v.Version = "Version " SX_VERSION_TEXT;
    v.SizeLabel = Txt(47) + ":";
    v.FilesLabel = Txt(48) + ":";
    v.FoldersLabel = Txt(49) + ":";
    v.DeleteCaption = Txt(24);
    v.DeleteHint = Txt(25);
    try {
        v.Files = std::to_string(ReadRegistryInteger("Application", "files", 0));
    } catch (const std::exception&) {
    }
    try {
        v.Folders = std::to_string(ReadRegistryInteger("Application", "folders", 0));
    } catch (const std::exception&) {
    }
    try {
        v.Size = FormatByteSize(ReadRegistryInt64("Application", "size", 0));
    } catch (const std::exception&) {
    }
    return v;
}

namespace {

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// Deletes the documents below "Open" that no program holds and whose content the server has, each
// with its sidecar; a sidecar without its document goes too. A document changed since its last
// download or upload stays for the tray program to send. The sub-folders (the slots) are removed
// when nothing is left in them; a linked folder is not followed.
void EmptyOpenFolder(const std::wstring& folder)
{
    shl_WalkTree(folder, [](const TShellTreeEntry& e) {
        if (e.Folder) {
            if (e.Leaving)
                RemoveDirectoryW(e.LongPath.c_str());
            return TShellWalk::Continue;
        }
        const std::wstring& file = e.LongPath;
        if (EndsWith(e.Name, L".sxc")) {
            // One beside its document goes with it, or stays with it.
            if (!shl_PathExists(file.substr(0, file.size() - 4)))
                DeleteFileW(file.c_str());
            return TShellWalk::Continue;
        }
        if (shl_PathExists(file + L".sxc") && !shl_OpenDocumentSent(WideToUtf8(e.Path)))
            return TShellWalk::Continue;
        if (DeleteFileW(file.c_str()))
            DeleteFileW((file + L".sxc").c_str());
        return TShellWalk::Continue;
    }, TShellWalkOrder::FilesFirst);
}

}  // namespace

void EmptyWorkingFolders(const TApplicationEnviroment& env)
{
    for (const std::string* folder : {&env.Temp, &env.Download, &env.Open, &env.Thumb}) {
        if (folder->empty() || env.UserPath.empty())
            continue;
        if (folder == &env.Open) {
            EmptyOpenFolder(Utf8ToWide(*folder));
        } else {
            shl_DeleteFolder(*folder);
            CreateDirectoryW(Utf8ToWide(*folder).c_str(), nullptr);
        }
    }
}

TfrmMainPropertySheet::~TfrmMainPropertySheet()
{
    if (FHint)
        DestroyWindow(FHint);
    if (FBold)
        DeleteObject(FBold);
    if (FLogo)
        DestroyIcon(FLogo);
    if (FBanner)
        DeleteObject(FBanner);
}

void TfrmMainPropertySheet::Register()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterPropSheetForm({"TfrmMainPropertySheet", [](TSxShellPropSheetExt& owner) {
                                   return std::make_unique<TfrmMainPropertySheet>(owner);
                               }});
    });
}

void TfrmMainPropertySheet::CreateControls()
{
    const TMainPageValues values = MainPageValues();
    RECT page{};
    GetClientRect(Handle(), &page);
    HWND banner = AddControl(L"STATIC", "", SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZECONTROL, 0, 0, page.right,
                             kBannerHeight, BannerId);
    FBanner = LoadBanner(page.right);
    if (FBanner)
        SendMessageW(banner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(FBanner));
    HWND logo = AddControl(L"STATIC", "", SS_ICON | SS_CENTERIMAGE, 4, 52, 32, 32, LogoId);
    {
        const TApplicationEnviroment env;
        if (!env.VirtualIcon.empty())
            FLogo = static_cast<HICON>(LoadImageW(nullptr, Utf8ToWide(env.VirtualIcon).c_str(), IMAGE_ICON, 32, 32,
                                                  LR_LOADFROMFILE));
    }
    // Without the install folder's icon the page shows the product's own.
    if (!FLogo)
        FLogo = LoadProductIcon(32);
    if (FLogo)
        SendMessageW(logo, STM_SETICON, reinterpret_cast<WPARAM>(FLogo), 0);
    AddControl(L"STATIC", values.Version, SS_LEFT | SS_NOPREFIX, 52, 60, 236, 16, VersionId);
    // The lowered panel with the statistics of the last full refresh.
    AddControl(L"STATIC", "", SS_SUNKEN, 5, 92, 284, 89, InfoId);
    struct TRow {
        const std::string& Label;
        const std::string& Value;
        int LabelId, ValueId, Y;
    };
    const TRow rows[] = {{values.FoldersLabel, values.Folders, FoldersLabelId, FoldersId, 8},
                         {values.FilesLabel, values.Files, FilesLabelId, FilesId, 36},
                         {values.SizeLabel, values.Size, SizeLabelId, SizeId, 64}};
    for (const TRow& row : rows) {
        AddControl(L"STATIC", row.Label, SS_LEFT | SS_NOPREFIX, 5 + 16, 92 + row.Y, 116, 16, row.LabelId);
        HWND value = AddControl(L"STATIC", row.Value, SS_CENTER | SS_NOPREFIX, 5 + 136, 92 + row.Y, 100, 16, row.ValueId);
        if (!FBold) {
            LOGFONTW font{};
            if (HFONT current = reinterpret_cast<HFONT>(SendMessageW(value, WM_GETFONT, 0, 0)))
                GetObjectW(current, sizeof font, &font);
            else
                GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
            font.lfWeight = FW_BOLD;
            FBold = CreateFontIndirectW(&font);
        }
        SendMessageW(value, WM_SETFONT, reinterpret_cast<WPARAM>(FBold), FALSE);
    }
    HWND button = AddControl(L"BUTTON", values.DeleteCaption, WS_TABSTOP | BS_PUSHBUTTON, 8, 188, 281, 25, DelTempId);
    AddHint(FHint, Handle(), button, values.DeleteHint);
}

void TfrmMainPropertySheet::Command(int id, int code)
{
    if (id != DelTempId || code != BN_CLICKED)
        return;
    const TApplicationEnviroment env;
    EmptyWorkingFolders(env);
}
