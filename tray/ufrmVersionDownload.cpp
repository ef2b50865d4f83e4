#include "ufrmVersionDownload.h"

#include "uGLBConst.h"
#include "uGLBResources.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBWin.h"
#include "uTrayHttp.h"
#include "uTrayTexts.h"
#include "uTSeam.h"
#include "uTvrqDialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {
TfrmVersionDownload* Showing = nullptr;
TSeam<TfrmVersionDownload::TLauncherFn> LauncherSeam;
TSeam<TfrmVersionDownload::TShownFn> ShownSeam;

void CALLBACK ShownTimer(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    const TfrmVersionDownload::TShownFn shown = ShownSeam.Get();
    if (Showing && shown)
        shown(*Showing);
}

bool ShellLaunch(HWND owner, const std::string& file)
{
    return reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", Utf8ToWide(file).c_str(), nullptr, nullptr,
                                                   SW_SHOWNORMAL)) > 32;
}

} // namespace

void TfrmVersionDownload::SetLauncherSeam(TLauncherFn fn)
{
    LauncherSeam.Set(std::move(fn));
}

void TfrmVersionDownload::SetShownSeam(TShownFn fn)
{
    ShownSeam.Set(std::move(fn));
}

TfrmVersionDownload::TfrmVersionDownload() : TDialogForm(420, 243, mrCancel)
{
    Logger = std::make_unique<TLogger>(-1, true, "VersionDownload");
}

TfrmVersionDownload::~TfrmVersionDownload()
{
    if (Logo)
        DestroyIcon(Logo);
}

void TfrmVersionDownload::Prepare(int result, bool show, const std::string& targetPath, const std::string& setupUrl,
                                  int language)
{
    Language = language;
    Caption = TrayTxt(TTrayText::VersionCaption, language);
    switch (result) {
    case -1: InfoText = Txt(95, language); break;
    case 1:
    case 2: InfoText = EscapeAmpersands(Txt(92, language)); break;
    default: InfoText = Txt(91, language); break;
    }
    DownloadVisible = show;
    TargetPath = targetPath;
    SetupUrl = setupUrl;
}

HWND TfrmVersionDownload::CreateControls()
{
    AddBanner(kVersionBannerId);
    HWND logo = AddControl(L"STATIC", "", SS_ICON | SS_CENTERIMAGE, 12, 53, 32, 32, kVersionLogoId);
    if (!Logo)
        Logo = LoadProductIcon(32);
    if (Logo)
        SendMessageW(logo, STM_SETICON, reinterpret_cast<WPARAM>(Logo), 0);
    AddControl(L"STATIC", InfoText, SS_LEFT, 56, 53, 352, 62, kVersionInfoId);
    HWND label = AddControl(L"STATIC", Txt(26, Language) + ":", SS_LEFT, 12, 124, 396, 16, kVersionPathLabelId);
    HWND path = AddControl(L"EDIT", TargetPath, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 12, 142, 362, 22,
                           kVersionPathId, WS_EX_CLIENTEDGE);
    HWND search = AddControl(L"BUTTON", "...", WS_TABSTOP | BS_PUSHBUTTON, 380, 141, 28, 24, kVersionSearchId);
    HWND bar = AddControl(PROGRESS_CLASSW, "", 0, 12, 174, 396, 16, kVersionProgressId);
    HWND start = AddButton(Txt(22, Language), 168, 206, mrOk, DownloadVisible, 116);
    HWND cancel = AddButton(Txt(13, Language), 292, 206, mrCancel, !DownloadVisible, 116);
    AddHint(start, Txt(23, Language));
    AddHint(search, Txt(15, Language));
    for (HWND w : {label, path, search, bar, start})
        if (!DownloadVisible)
            ShowWindow(w, SW_HIDE);
    Showing = this;
    if (ShownSeam.Get())
        SetTimer(Handle, 1, 10, ShownTimer);
    return DownloadVisible ? start : cancel;
}

void TfrmVersionDownload::Command(int id, int code)
{
    if (id == kVersionSearchId && code == BN_CLICKED)
        btnSearchClick();
}

bool TfrmVersionDownload::MayClose(int id)
{
    return id != mrOk || btnStartClick();
}

void TfrmVersionDownload::Closing(int)
{
    Showing = nullptr;
}

void TfrmVersionDownload::btnSearchClick()
{
    TargetPath = WindowTextUtf8(Item(kVersionPathId));
    std::wstring file(MAX_PATH * 4, L'\0');
    const std::wstring start = Utf8ToWide(TargetPath);
    wcsncpy(file.data(), start.c_str(), file.size() - 1);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Handle;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = DWORD(file.size());
    // Replacing a file that is there already needs the user's yes.
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn))
        return;
    TargetPath = WideToUtf8(file.c_str());
    SetWindowTextW(Item(kVersionPathId), file.c_str());
}

bool TfrmVersionDownload::btnStartClick()
{
    if (Handle)
        TargetPath = WindowTextUtf8(Item(kVersionPathId));
    Logger->Info("DownloadNewVersion: Start downloading new version");
    HWND bar = Handle ? Item(kVersionProgressId) : nullptr;
    std::string error;
    bool complete = false;
    try {
        SHCreateDirectoryExW(nullptr, Utf8ToWide(shl_WithoutSlash(shl_ExtractFilePath(TargetPath))).c_str(), nullptr);
        complete = DownloadSetup(SetupUrl, TargetPath, [&](uint64_t done, uint64_t total) {
            if (!bar)
                return;
            // The bar counts kilobytes, so setups beyond 2 GiB still fit its range.
            SendMessageW(bar, PBM_SETRANGE32, 0, LPARAM(total ? total / 1024 + 1 : 1));
            SendMessageW(bar, PBM_SETPOS, WPARAM(total ? done / 1024 : 0), 0);
            UpdateWindow(bar);
        }, error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!complete) {
        // Never start a file that is not the complete new setup, also not an older one at the path.
        Logger->Error("DownloadNewVersion: " + error);
        InfoText = TrayTxt(TTrayText::DownloadFailed, Language);
        if (Handle)
            SetWindowTextW(Item(kVersionInfoId), Utf8ToWide(InfoText).c_str());
        return false;
    }
    if (bar)
        SendMessageW(bar, PBM_SETPOS, SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 0);
    const TLauncherFn launcher = LauncherSeam.Get();
    if (launcher ? launcher(Handle, TargetPath) : ShellLaunch(Handle, TargetPath))
        Logger->Info("DownloadNewVersion: Finished download");
    else
        Logger->Error("DownloadNewVersion: File could not be started: " + TargetPath);
    return true;
}
