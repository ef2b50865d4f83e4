#include "ufrmVaultmereMain.h"

#include "ufrmVersionDownload.h"
#include "uGLBConst.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uTDialogForm.h"
#include "uTVersionInfo.h"
#include "uTWEBDAVClient.h"
#include "uTrayHttp.h"
#include "uTrayShellTools.h"
#include "uTrayTexts.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

namespace {

const char* const Title = "Tandrel Sendrake";
const wchar_t* const MainClass = L"TfrmVaultmereMain";
const char* const AutoStartName = "Tandrel Sendrake";
const char* const RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const DefaultUpdate = "http://download.tandrel-vaultmere.de/downloads/";
const char* const DefaultHost = "https://webdav.tandrel-vaultmere.de";

std::string StatusVersionText() { return std::string(Title) + " " + SendrakeVersion; }

// A value that the settings hold (of any form).
bool ValueExists(const std::string& section, const std::string& name)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(std::string(SettingsKey) + section).c_str(), 0, KEY_QUERY_VALUE,
                      key.put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), Utf8ToWide(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

int ScaleBy(int value, int dpi) { return MulDiv(value, dpi, 96); }

int DpiOf(HWND window)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static auto getDpi = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi && window)
        if (UINT dpi = getDpi(window))
            return int(dpi);
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

} // namespace

// Writes the settings defaults; install and user path at every start.
void InitRegistry(const std::string& install)
{
    WriteRegistryString("Application", "install", install);
    // An APPDATA of any length; where the process has none, the shell's roaming folder. Never a
    // drive root or an empty path.
    std::string appData = GetEnvVar("APPDATA");
    if (appData.empty()) {
        wchar_t folder[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder)))
            appData = WideToUtf8(folder);
    }
    if (appData.empty())
        appData = install;
    if (appData.back() != '\\')
        appData += '\\';
    WriteRegistryString("Application", "userpath", appData + "Tandrel Sendrake\\");
    if (!ValueExists("Application", "update"))
        WriteRegistryString("Application", "update", DefaultUpdate);
    if (!ValueExists("Application", "language") || ReadRegistryString("Application", "changelanguage", "") != "1")
        WriteRegistryInteger("Application", "language", GetDefaultLanguage());
    if (!ValueExists("Connection", "host"))
        WriteRegistryString("Connection", "host", DefaultHost);
}

// The Run value of autostart: "<path>" HIDE. A Run key that cannot be opened changes nothing.
void SetAutoStart(const std::string& path, const std::string& name, bool enable)
{
    HKEY root = GetWindowsVersion() >= 5 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    TRegKey key;
    if (RegOpenKeyExW(root, Utf8ToWide(RunKey).c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    const std::wstring wname = Utf8ToWide(name);
    if (enable) {
        const std::wstring data = L"\"" + Utf8ToWide(path) + L"\" HIDE";
        RegSetValueExW(key.get(), wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
    } else
        RegDeleteValueW(key.get(), wname.c_str());
}

TSeam<std::function<bool(const std::string&)>> TfrmVaultmereMain::ProcessStarter;

TfrmVaultmereMain::TfrmVaultmereMain(std::string programFile) : ProgramFile(std::move(programFile))
{
    SxChangeNotifier.PersistentRoot = true;
    SxChangeNotifier.Root = "c:\\";
    SxChangeNotifier.Filers = {"*.*"};
    SxChangeNotifier.MaxLevels = 10000;
    SxChangeNotifier.MaxThreadCount = 10000;
    // The extension opens each document into a sub-folder of the open folder (one per server
    // folder), so the whole tree is watched; new sub-folders get their own watcher thread.
    SxChangeNotifier.WatchSubtree = true;
    SxChangeNotifier.ThreadPriority = TSxThreadPriority::tpNormal;
    // File names too: editors that save by writing a new file and renaming it over the old one
    // change no size or time of the folder's old entry.
    SxChangeNotifier.ChangeNotifyFilter = FncSet(fncFileName) | FncSet(fncDirName) | FncSet(fncSize) |
                                          FncSet(fncLastWrite) | FncSet(fncCreation);
    SxChangeNotifier.OnChange = [this](TSxChangeNotifier&, TSxFileInfoEventData& info) { SxChangeNotifierChange(info); };
    SxChangeNotifier.OnAddFile = [this](TSxChangeNotifier&, TSxFileInfoEventData& info) { SxChangeNotifierAddFile(info); };
    sxTrayIcon.InfoTimeout = 5000;
    sxTrayIcon.InfoFlags = TSxTrayIconInfoFlags::niifWarning;
    sxTrayIcon.OnClick = [this](TSxTrayIcon&) { sxTrayIconClick(); };
    sxTrayIcon.OnMenuCommand = [this](TSxTrayIcon&, UINT command) { MenuCommand(command); };
}

TfrmVaultmereMain::~TfrmVaultmereMain()
{
    SxChangeNotifier.Deactivate();
    sxTrayIcon.SetActiveState(false);
    if (Handle)
        DestroyWindow(Handle);
    if (popTrayIcon)
        DestroyMenu(popTrayIcon);
    if (Font)
        DeleteObject(Font);
    if (BigIcon)
        DestroyIcon(BigIcon);
    if (SmallIcon)
        DestroyIcon(SmallIcon);
    if (Semaphore)
        CloseHandle(Semaphore);
}

std::string TfrmVaultmereMain::InstallFolder() const { return shl_ExtractFilePath(ProgramFile); }

// ---- start-up

bool TfrmVaultmereMain::FormCreate()
{
    // One instance per user session. The check comes before anything is written, so a copy started
    // from another folder changes nothing of the running one.
    Semaphore = CreateSemaphoreW(nullptr, 1, 1, Utf8ToWide(Title).c_str());
    if (Semaphore && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(Semaphore);
        Semaphore = nullptr;
        if (IsConnected()) {
            Logger = std::make_unique<TLogger>(-1, true, "MainApp");
            OpenExplorer(false);
        } else if (HWND first = FindWindowW(MainClass, Utf8ToWide(Title).c_str()))
            ShowWindow(first, SW_SHOW);
        return false;
    }

    InitRegistry(InstallFolder());
    // A password the user did not ask to keep never outlives the session that needed it, also
    // when that session crashed.
    if (!ReadRegistryBool("Connection", "savepassword", false))
        WriteRegistryString("Connection", "password", "");
    Environment = std::make_unique<TApplicationEnviroment>();
    Logger = std::make_unique<TLogger>(-1, true, "MainApp");
    Dialog = std::make_unique<TvrqDialog>();
    Documents = std::make_unique<TOpenDocumentQueue>(*Environment, *Dialog, *Logger, SxChangeNotifier);
    Documents->OnUploadFailed = [this](const std::string& file) {
        Balloon(FormatText(TrayTxt(TTrayText::UploadFailed, Environment->Language), shl_ExtractFileName(file)),
                TSxTrayIconInfoFlags::niifError);
    };
    Documents->OnSent = [this] { DocumentsSent(); };
    Login = std::make_unique<TLoginSequence>(*Environment, *Dialog, *Logger, sxTrayIcon, SxChangeNotifier, *Documents,
                                             *this);
    CanExit = false;

    if (!IsAdmin()) {
        Dialog->ShowWarning(Txt(83, Environment->Language), EscapeAmpersands(Txt(69, Environment->Language)));
        return false;
    }

    CreateWindows();
    SetConnected(false);

    sxTrayIcon.SetIcon(SmallIcon);
    SetText(stbMain, StatusVersionText());
    SetActivePage(0);
    SetWindowTextW(Handle, Utf8ToWide(Title).c_str());
    sxTrayIcon.SetInfoTitle(Title);
    std::string tip;
    for (char c : std::string(Title))
        tip += c == '&' ? std::string("&&&") : std::string(1, c);
    sxTrayIcon.SetTip(tip);
    ApplyLanguage(Environment->Language);
    EnableRefresh(false);
    sxTrayIcon.SetActiveState(true);

    Login->CreateWorkingFolders();
    return true;
}

void TfrmVaultmereMain::CreateWindows()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    if (!GetClassInfoExW(instance, MainClass, &cls)) {
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = WindowProc;
        cls.hInstance = instance;
        cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        cls.lpszClassName = MainClass;
        cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        RegisterClassExW(&cls);
    }
    BigIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                            GetSystemMetrics(SM_CYICON), 0));
    SmallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
    if (!SmallIcon)
        SmallIcon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    Handle = CreateWindowExW(WS_EX_CONTROLPARENT, MainClass, Utf8ToWide(Title).c_str(),
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, CW_USEDEFAULT,
                             CW_USEDEFAULT, 400, 400, nullptr, nullptr, instance, this);
    if (!Handle)
        throw std::runtime_error("CreateWindowExW: " + SysErrorMessage(GetLastError()));
    if (BigIcon)
        SendMessageW(Handle, WM_SETICON, ICON_BIG, LPARAM(BigIcon));
    SendMessageW(Handle, WM_SETICON, ICON_SMALL, LPARAM(SmallIcon));
    Dpi = DpiOf(Handle);

    auto make = [&](const wchar_t* cls, DWORD style, int id, DWORD ex = 0) {
        return CreateWindowExW(ex, cls, L"", WS_CHILD | style, 0, 0, 10, 10, Handle, HMENU(INT_PTR(id)), instance,
                               nullptr);
    };
    pgcMain = make(WC_TABCONTROLW, WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, idPages);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(L"");
    TabCtrl_InsertItem(pgcMain, 0, &item);
    TabCtrl_InsertItem(pgcMain, 1, &item);
    make(L"STATIC", SS_LEFT, idUsernameLabel);
    txtUsername = make(L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, idUsername, WS_EX_CLIENTEDGE);
    make(L"STATIC", SS_LEFT, idPwdLabel);
    txtPwd = make(L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, idPwd, WS_EX_CLIENTEDGE);
    SendMessageW(txtPwd, EM_SETPASSWORDCHAR, L'*', 0);
    optSavePwd = make(L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, idSavePwd);
    optStartUp = make(L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, idStartUp);
    SetChecked(optStartUp, true);
    make(L"STATIC", SS_ETCHEDHORZ, idBevel);
    btnConnect = make(L"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, idConnect);
    btnHide = make(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, idHide);
    btnExit = make(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, idExit);
    lblInfoText = make(L"STATIC", SS_LEFT | SS_NOPREFIX, idInfoText);
    lblVersion = make(L"STATIC", SS_LEFT, idVersion);
    btnVersioncheck = make(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, idVersioncheck);
    // The page control lies beneath the controls of its pages.
    SetWindowPos(pgcMain, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    stbMain = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, Handle,
                              HMENU(INT_PTR(idStatus)), instance, nullptr);
    Layout();
}

void TfrmVaultmereMain::Layout()
{
    if (Font)
        DeleteObject(Font);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW face = metrics.lfMessageFont;
    face.lfHeight = -MulDiv(9, Dpi, 72);
    Font = CreateFontIndirectW(&face);
    auto S = [&](int v) { return ScaleBy(v, Dpi); };
    struct TPlace { int id, x, y, w, h; };
    const TPlace places[] = {
        {idPages, 8, 68, 364, 262},       {idUsernameLabel, 24, 104, 330, 16}, {idUsername, 24, 120, 330, 22},
        {idPwdLabel, 24, 150, 330, 16},   {idPwd, 24, 166, 330, 22},           {idSavePwd, 24, 198, 330, 20},
        {idStartUp, 24, 220, 330, 20},    {idBevel, 24, 250, 330, 2},          {idConnect, 24, 266, 104, 28},
        {idHide, 136, 266, 104, 28},      {idExit, 248, 266, 104, 28},         {idInfoText, 24, 108, 330, 20},
        {idVersion, 24, 134, 330, 20},    {idVersioncheck, 24, 170, 160, 28},
    };
    for (const TPlace& p : places) {
        HWND w = GetDlgItem(Handle, p.id);
        SetWindowPos(w, nullptr, S(p.x), S(p.y), S(p.w), S(p.h), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(w, WM_SETFONT, WPARAM(Font), TRUE);
    }
    SendMessageW(stbMain, WM_SETFONT, WPARAM(Font), TRUE);
    SendMessageW(stbMain, WM_SIZE, 0, 0);
    RECT status{};
    GetWindowRect(stbMain, &status);
    RECT frame{0, 0, S(380), S(338) + (status.bottom - status.top)};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(Handle, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrW(Handle, GWL_EXSTYLE)));
    SetWindowPos(Handle, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(stbMain, WM_SIZE, 0, 0);
    InvalidateRect(Handle, nullptr, TRUE);
}

void TfrmVaultmereMain::SetActivePage(int index)
{
    Page = index == 1 ? 1 : 0;
    TabCtrl_SetCurSel(pgcMain, Page);
    const int general[] = {idUsernameLabel, idUsername, idPwdLabel, idPwd, idSavePwd, idStartUp, idBevel,
                           idConnect, idHide, idExit};
    const int info[] = {idInfoText, idVersion, idVersioncheck};
    for (int id : general)
        ShowWindow(GetDlgItem(Handle, id), Page == 0 ? SW_SHOW : SW_HIDE);
    for (int id : info)
        ShowWindow(GetDlgItem(Handle, id), Page == 1 ? SW_SHOW : SW_HIDE);
    if (Page == 1)
        tbsInfoShow();
}

void TfrmVaultmereMain::Show()
{
    ShowWindow(Handle, SW_SHOW);
    SetForegroundWindow(Handle);
    FormActivate();
}

void TfrmVaultmereMain::FormActivate()
{
    SetText(txtUsername, ReadRegistryString("Connection", "username", ""));
    SetText(txtPwd, DecryptPassword(ReadRegistryString("Connection", "password", "")));
    bool savePwd = false, startUp = true;
    try {
        savePwd = ReadRegistryBool("Connection", "savepassword", false);
        startUp = ReadRegistryBool("Application", "startup", true);
    } catch (const std::exception&) {
        savePwd = false;
        startUp = true;
    }
    SetChecked(optSavePwd, savePwd);
    if (Checked(optStartUp) != startUp) {
        SetChecked(optStartUp, startUp);
        optStartUpClick();
    }
    if (!savePwd)
        SetText(txtPwd, "");
    if (ShowsDisconnect() || Login->Running())
        return;
    EnableConnect(!Text(txtUsername).empty() && !Text(txtPwd).empty());
    if (Page == 0 && IsWindowVisible(Handle))
        SetFocus(Text(txtUsername).empty() ? txtUsername : Text(txtPwd).empty() ? txtPwd : btnConnect);
}

// ---- helpers

std::string TfrmVaultmereMain::Text(HWND control) const { return WindowTextUtf8(control); }

void TfrmVaultmereMain::SetText(HWND control, const std::string& text)
{
    if (control == stbMain)
        SendMessageW(stbMain, SB_SETTEXTW, 0, LPARAM(Utf8ToWide(text).c_str()));
    else
        SetWindowTextW(control, Utf8ToWide(text).c_str());
}

std::string TfrmVaultmereMain::StatusText() const
{
    const LRESULT length = LOWORD(SendMessageW(stbMain, SB_GETTEXTLENGTHW, 0, 0));
    std::wstring text(size_t(length) + 1, L'\0');
    SendMessageW(stbMain, SB_GETTEXTW, 0, LPARAM(text.data()));
    text.resize(size_t(length));
    return WideToUtf8(text);
}

bool TfrmVaultmereMain::Checked(HWND control) const { return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TfrmVaultmereMain::SetChecked(HWND control, bool value)
{
    SendMessageW(control, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::string TfrmVaultmereMain::MenuCaption(int id) const
{
    wchar_t text[256] = {};
    GetMenuStringW(popTrayIcon, UINT(id), text, 256, MF_BYCOMMAND);
    return WideToUtf8(text);
}

bool TfrmVaultmereMain::MenuEnabled(int id) const
{
    const UINT state = GetMenuState(popTrayIcon, UINT(id), MF_BYCOMMAND);
    return state != UINT(-1) && !(state & (MF_GRAYED | MF_DISABLED));
}

void TfrmVaultmereMain::SetMenuCaption(int id, const std::string& caption)
{
    ModifyMenuW(popTrayIcon, UINT(id), MF_BYCOMMAND | MF_STRING | (GetMenuState(popTrayIcon, UINT(id), MF_BYCOMMAND) &
                                                                  (MF_GRAYED | MF_CHECKED)),
                UINT_PTR(id), Utf8ToWide(caption).c_str());
}

void TfrmVaultmereMain::SetHint(HWND control, const std::string& hint) { Hints[control] = hint; }

bool TfrmVaultmereMain::ShowsDisconnect() const { return Text(btnConnect) == Txt(3, Environment->Language); }

void TfrmVaultmereMain::SetStatusText(const std::string& text) { SetText(stbMain, text); }

void TfrmVaultmereMain::EnableRefresh(bool value)
{
    EnableMenuItem(popTrayIcon, miTrayRefresh, MF_BYCOMMAND | (value ? MF_ENABLED : MF_GRAYED));
}

bool TfrmVaultmereMain::KeepsPassword() const { return Checked(optSavePwd); }
bool TfrmVaultmereMain::PasswordEmpty() const { return Text(txtPwd).empty(); }

void TfrmVaultmereMain::ClearPassword()
{
    SetText(txtPwd, "");
    UpdateWindow(Handle);
}

void TfrmVaultmereMain::ShowVersionWindow() { btnVersioncheckClick(); }

void TfrmVaultmereMain::SetConnectCaption(bool disconnect)
{
    const int lang = Environment->Language;
    SetText(btnConnect, Txt(disconnect ? 3 : 2, lang));
    SetHint(btnConnect, Txt(disconnect ? 100 : 102, lang));
    SyncTrayConnect();
}

void TfrmVaultmereMain::SyncTrayConnect()
{
    SetMenuCaption(miTrayConnect, Text(btnConnect));
    EnableMenuItem(popTrayIcon, miTrayConnect, MF_BYCOMMAND | (IsWindowEnabled(btnConnect) ? MF_ENABLED : MF_GRAYED));
}

void TfrmVaultmereMain::EnableConnect(bool value)
{
    EnableWindow(btnConnect, value);
    SyncTrayConnect();
}

void TfrmVaultmereMain::Balloon(const std::string& text, TSxTrayIconInfoFlags flags)
{
    sxTrayIcon.InfoText = text;
    sxTrayIcon.InfoFlags = flags;
    sxTrayIcon.ShowInfo();
}

void TfrmVaultmereMain::DisplayHint(const std::string& hint)
{
    SetText(stbMain, hint.empty() ? StatusVersionText() : ReplaceCR(hint));
}

// ---- language and settings

void TfrmVaultmereMain::ApplyLanguage(int index)
{
    SetLanguage(index);
    Environment->Language = index;
    WriteRegistryInteger("Application", "language", index);
    const int l = index;
    auto label = [&](int id, const std::string& text) { SetWindowTextW(GetDlgItem(Handle, id), Utf8ToWide(text).c_str()); };
    SetText(btnHide, Txt(5, l));
    SetHint(btnHide, Txt(6, l));
    SetText(btnExit, Txt(7, l));
    SetHint(btnExit, Txt(8, l));
    SetText(btnVersioncheck, Txt(20, l));
    SetHint(btnVersioncheck, Txt(21, l));
    label(idUsernameLabel, Txt(27, l));
    SetHint(txtUsername, Txt(29, l));
    SetHint(GetDlgItem(Handle, idUsernameLabel), Txt(29, l));
    label(idPwdLabel, Txt(28, l));
    SetHint(txtPwd, Txt(30, l));
    SetHint(GetDlgItem(Handle, idPwdLabel), Txt(30, l));
    SetText(optSavePwd, Txt(31, l));
    SetHint(optSavePwd, Txt(32, l));
    SetText(optStartUp, Txt(33, l));
    SetHint(optStartUp, Txt(34, l));
    const std::wstring general = Utf8ToWide(Txt(37, l)), info = Utf8ToWide(Txt(39, l));
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(general.c_str());
    TabCtrl_SetItem(pgcMain, 0, &item);
    item.pszText = const_cast<wchar_t*>(info.c_str());
    TabCtrl_SetItem(pgcMain, 1, &item);
    SetText(stbMain, Txt(65, l));

    // The tray menu is made afresh in the language; the states of refresh and connect stay.
    const bool refreshEnabled = popTrayIcon && MenuEnabled(miTrayRefresh);
    if (popTrayIcon)
        DestroyMenu(popTrayIcon);
    popTrayIcon = CreatePopupMenu();
    auto add = [&](HMENU menu, int id, const std::string& text) {
        AppendMenuW(menu, MF_STRING, UINT_PTR(id), Utf8ToWide(text).c_str());
    };
    add(popTrayIcon, miTrayExplore, Txt(16, l));
    AppendMenuW(popTrayIcon, MF_SEPARATOR, 0, nullptr);
    add(popTrayIcon, miTrayRefresh, Txt(14, l));
    EnableRefresh(refreshEnabled);
    AppendMenuW(popTrayIcon, MF_SEPARATOR, 0, nullptr);
    add(popTrayIcon, miTrayInfo, Txt(39, l));
    miTrayLanguageMenu = nullptr;
    if (ReadRegistryBool("Application", "changelanguage", false)) {
        miTrayLanguageMenu = CreatePopupMenu();
        add(miTrayLanguageMenu, miTrayLanguageGerman, Txt(18, l));
        add(miTrayLanguageMenu, miTrayLanguageEnglish, Txt(19, l));
        CheckMenuRadioItem(miTrayLanguageMenu, miTrayLanguageGerman, miTrayLanguageEnglish,
                           index == 1 ? miTrayLanguageEnglish : miTrayLanguageGerman, MF_BYCOMMAND);
        AppendMenuW(popTrayIcon, MF_POPUP, UINT_PTR(miTrayLanguageMenu), Utf8ToWide(Txt(17, l)).c_str());
    }
    add(popTrayIcon, miTrayShow, Txt(4, l));
    SetMenuDefaultItem(popTrayIcon, miTrayShow, FALSE);
    AppendMenuW(popTrayIcon, MF_SEPARATOR, 0, nullptr);
    add(popTrayIcon, miTrayConnect, "");
    AppendMenuW(popTrayIcon, MF_SEPARATOR, 0, nullptr);
    add(popTrayIcon, miTrayClose, Txt(7, l));
    sxTrayIcon.PopupMenu = popTrayIcon;

    SetConnectCaption(IsConnected());
}

void TfrmVaultmereMain::ClearUnsavedPassword()
{
    if (!Checked(optSavePwd))
        SetText(txtPwd, "");
}

void TfrmVaultmereMain::SaveSettings(bool clear)
{
    if (clear)
        ClearUnsavedPassword();
    WriteRegistryString("Connection", "username", Text(txtUsername));
    WriteRegistryString("Connection", "password", EncryptPassword(Text(txtPwd)));
    WriteRegistryBool("Application", "startup", Checked(optStartUp));
    WriteRegistryBool("Connection", "savepassword", Checked(optSavePwd));
    SetAutoStart(ProgramFile, AutoStartName, Checked(optStartUp));
}

void TfrmVaultmereMain::optStartUpClick() { SetAutoStart(ProgramFile, AutoStartName, Checked(optStartUp)); }

void TfrmVaultmereMain::txtUsernameChange()
{
    if (ShowsDisconnect() || Login->Running())
        return;
    EnableConnect(!Text(txtUsername).empty() && !Text(txtPwd).empty());
}

void TfrmVaultmereMain::tbsInfoShow()
{
    SetText(lblInfoText, EscapeAmpersands(Title));
    SetText(lblVersion, TrayTxt(TTrayText::VersionLabel, Environment->Language) + SendrakeVersion);
}

// ---- Explorer and the extension

void TfrmVaultmereMain::OpenExplorer(bool force)
{
    if (!force && IsExplorerRunning()) {
        Logger->Error("Explorer is already running!");
        return;
    }
    const auto start = ProcessStarter.Get();
    if (!(start ? start(ExplorerCommandLine()) : StartProcess(ExplorerCommandLine()))) {
        Logger->Error("OpenExplorer: " + ExplorerCommandLine() + ": " + SysErrorMessage(GetLastError()));
        if (Environment)
            Balloon(TrayTxt(TTrayText::ExplorerFailed, Environment->Language), TSxTrayIconInfoFlags::niifError);
    }
}

void TfrmVaultmereMain::HideToTray()
{
    if (HWND main = FindWindowW(MainClass, Utf8ToWide(Title).c_str()))
        ShowWindow(main, SW_HIDE);
    ShowWindow(Handle, SW_HIDE);
}

// ---- connect and disconnect

void TfrmVaultmereMain::btnConnectClick()
{
    if (Login->Running())
        return;
    if (Documents->Sending()) {
        // The uploads of saved documents are further up this stack: the click follows them.
        ConnectAfterSend = true;
        return;
    }
    Login->Click();
    if (ExitAfterLogin) {
        ExitAfterLogin = false;
        btnExitClick();
    }
}

// ---- open documents

void TfrmVaultmereMain::SxChangeNotifierAddFile(TSxFileInfoEventData& info) { Documents->FileAdded(info); }
void TfrmVaultmereMain::SxChangeNotifierChange(TSxFileInfoEventData& info) { Documents->FileChanged(info); }

void TfrmVaultmereMain::DocumentsSent()
{
    // A click that came while the uploads ran.
    if (ExitAfterLogin) {
        ExitAfterLogin = false;
        btnExitClick();
    } else if (ConnectAfterSend) {
        ConnectAfterSend = false;
        btnConnectClick();
    }
}

// ---- tray menu and the end of the program

void TfrmVaultmereMain::btnVersioncheckClick()
{
    std::string version;
    {
        TWEBDAVClient client;
        version = HTTP_CheckVersion(*Environment, *Logger);
    }
    const int result = CompareVersion(version);
    bool show = IsShiftPressed();
    Logger->Info("VersionCheck: This=" + std::string(SendrakeVersion) + ", Server=" + version);
    if (result == 1 || result == 2)
        show = true;
    TfrmVersionDownload form;
    form.Prepare(result, show, Environment->Install + "Update\\" + SetupFileName, SetupAddress(), Environment->Language);
    form.ShowModal();
}

void TfrmVaultmereMain::miTrayExploreClick() { OpenExplorer(true); }

void TfrmVaultmereMain::miTrayRefreshClick()
{
    bool done = false;
    Dialog->Progress.Start(Txt(90, Environment->Language), 2, true);
    try {
        TWEBDAVClient client;
        TListingAnswer answer;
        if (client.GetContent("", -1, *Dialog, answer)) {
            Dialog->Progress.StepBy(1);
            done = client.TranslateXML(answer, true, *Dialog);
        }
    } catch (const std::exception& e) {
        Logger->Error(std::string("miTrayRefreshClick: ") + e.what());
    }
    Dialog->Progress.Close();
    if (!done) {
        // The mirror stays as it was; the user learns that the view is not fresh.
        Balloon(TrayTxt(TTrayText::RefreshFailed, Environment->Language), TSxTrayIconInfoFlags::niifWarning);
        return;
    }
    PIDLIST_ABSOLUTE folder = nullptr;
    const std::wstring path = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + Utf8ToWide(OnlineFolderCLSID);
    if (SUCCEEDED(SHParseDisplayName(path.c_str(), nullptr, &folder, 0, nullptr))) {
        SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSH, folder, nullptr);
        CoTaskMemFree(folder);
    }
}

void TfrmVaultmereMain::miTrayInfoClick()
{
    SetActivePage(1);
    Show();
}

void TfrmVaultmereMain::miTrayShowClick() { Show(); }
void TfrmVaultmereMain::sxTrayIconClick() { Show(); }
void TfrmVaultmereMain::miTrayLanguageGermanClick() { ApplyLanguage(0); }
void TfrmVaultmereMain::miTrayLanguageEnglishClick() { ApplyLanguage(1); }

void TfrmVaultmereMain::btnHideClick()
{
    UpdateWindow(Handle);
    sxTrayIcon.HideBalloon();
    sxTrayIcon.ModifyIcon();
    HideToTray();
}

void TfrmVaultmereMain::btnExitClick()
{
    if (Login->Running() || Documents->Sending()) {
        // The login's objects are in use further up this stack: exit once it has ended.
        ExitAfterLogin = true;
        return;
    }
    if (!Documents->Flush())
        Dialog->ShowWarning(Title, FormatText(TrayTxt(TTrayText::DocumentsKept, Environment->Language), Environment->Open));
    SaveSettings(false);
    try {
        KillExplorer();
    } catch (const std::exception& e) {
        Logger->Error(std::string("btnExitClick: KillExplorer: ") + e.what());
    }
    try {
        KillMyComputer();
    } catch (const std::exception& e) {
        Logger->Error(std::string("btnExitClick: KillMyComputer: ") + e.what());
    }
    std::string why;
    if (!Login->UnregisterBrannock("btnExitClick: Unregister DLL \"" + Environment->ShellDll + "\": ", why))
        Dialog->ShowWarning(Title, FormatText(TrayTxt(TTrayText::UnregisterFailed, Environment->Language), why));
    CanExit = true;
    SendMessageW(Handle, WM_CLOSE, 0, 0);
}

bool TfrmVaultmereMain::FormCloseQuery()
{
    if (!CanExit)
        HideToTray();
    return CanExit;
}

void TfrmVaultmereMain::FormClose()
{
    if (Closed)
        return;
    Closed = true;
    try {
        SaveSettings(true);
        SetConnected(false);
        sxTrayIcon.SetActiveState(false);
        SxChangeNotifier.Deactivate();
        Login->DeleteWorkingFolders();
    } catch (const std::exception& e) {
        Logger->Error(std::string("FormClose: ") + e.what());
    }
}

void TfrmVaultmereMain::WMQueryEndSession()
{
    SaveSettings(true);
    sxTrayIcon.SetActiveState(false);
}

void TfrmVaultmereMain::WMEndSession()
{
    try {
        SaveSettings(true);
    } catch (const std::exception& e) {
        Logger->Error(std::string("HookProc: ") + e.what());
    }
    // Windows ends the session: there is nobody left to tell, the log keeps it.
    std::string why;
    Login->UnregisterBrannock("HookProc: ", why);
    ExitProcess(0);
}

void TfrmVaultmereMain::MenuCommand(UINT id)
{
    switch (id) {
    case miTrayExplore: miTrayExploreClick(); break;
    case miTrayRefresh: miTrayRefreshClick(); break;
    case miTrayInfo: miTrayInfoClick(); break;
    case miTrayLanguageGerman: miTrayLanguageGermanClick(); break;
    case miTrayLanguageEnglish: miTrayLanguageEnglishClick(); break;
    case miTrayShow: miTrayShowClick(); break;
    case miTrayConnect: btnConnectClick(); break;
    case miTrayClose: btnExitClick(); break;
    default: break;
    }
}

// ---- the window procedure

LRESULT CALLBACK TfrmVaultmereMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TfrmVaultmereMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(form));
        form->Handle = window;
    }
    auto* form = reinterpret_cast<TfrmVaultmereMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form)
        return DefWindowProcW(window, message, wParam, lParam);
    try {
        return form->WndProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        if (form->Logger)
            try {
                form->Logger->Error(std::string("TfrmVaultmereMain: ") + e.what());
            } catch (...) {
            }
    } catch (...) {
    }
    return 0;
}

LRESULT TfrmVaultmereMain::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        if (!lParam) {
            MenuCommand(UINT(id));
            return 0;
        }
        if (code == BN_CLICKED) {
            switch (id) {
            case idConnect: btnConnectClick(); break;
            case idHide: btnHideClick(); break;
            case idExit: btnExitClick(); break;
            case idStartUp: optStartUpClick(); break;
            case idVersioncheck: btnVersioncheckClick(); break;
            default: break;
            }
        } else if (code == EN_CHANGE && (id == idUsername || id == idPwd))
            txtUsernameChange();
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == idPages && header->code == TCN_SELCHANGE)
            SetActivePage(TabCtrl_GetCurSel(pgcMain));
        return 0;
    }
    case WM_SETCURSOR: {
        HWND over = reinterpret_cast<HWND>(wParam);
        if (over != HintControl) {
            HintControl = over;
            const auto hint = Hints.find(over);
            DisplayHint(hint == Hints.end() ? std::string() : hint->second);
        }
        break;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_CLICKACTIVE)
            FormActivate();
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(Handle, &paint);
        RECT banner{0, 0, 0, ScaleBy(60, Dpi)};
        RECT client{};
        GetClientRect(Handle, &client);
        banner.right = client.right;
        HBRUSH blue = CreateSolidBrush(RGB(0, 84, 147));
        FillRect(dc, &banner, blue);
        DeleteObject(blue);
        if (BigIcon)
            DrawIconEx(dc, ScaleBy(12, Dpi), ScaleBy(14, Dpi), BigIcon, ScaleBy(32, Dpi), ScaleBy(32, Dpi), 0, nullptr,
                       DI_NORMAL);
        LOGFONTW face{};
        GetObjectW(Font, sizeof face, &face);
        face.lfHeight = -MulDiv(16, Dpi, 72);
        face.lfWeight = FW_BOLD;
        HFONT big = CreateFontIndirectW(&face);
        HGDIOBJ old = SelectObject(dc, big);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        RECT text = banner;
        text.left = ScaleBy(56, Dpi);
        DrawTextW(dc, Utf8ToWide(Title).c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
        SelectObject(dc, old);
        DeleteObject(big);
        EndPaint(Handle, &paint);
        return 0;
    }
    case WM_DPICHANGED: {
        Dpi = HIWORD(wParam);
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(Handle, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return 0;
    }
    case WM_CLOSE:
        if (FormCloseQuery()) {
            FormClose();
            DestroyWindow(Handle);
        }
        return 0;
    case WM_DESTROY:
        Handle = nullptr;
        if (QuitOnDestroy)
            PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
        WMQueryEndSession();
        return TRUE;
    case WM_ENDSESSION:
        if (LOWORD(wParam))
            WMEndSession();
        return 0;
    case WM_APP_LOGIN:
        if (IsWindowEnabled(btnConnect) && !ShowsDisconnect())
            btnConnectClick();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(Handle, message, wParam, lParam);
}
