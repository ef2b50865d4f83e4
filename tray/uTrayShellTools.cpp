#include "uTrayShellTools.h"

#include "SxTools.h"
#include "uGLBConst.h"
#include "uGLBWin.h"
#include "uTSeam.h"

#include <exdisp.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wininet.h>
#include <wrl/client.h>

#include <set>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {
const char* const MyComputerPath = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

// Windows with the folder tree; Wine's Explorer uses a class name of its own for the same window.
const wchar_t* const TreeClasses[] = {L"ExploreWClass", L"ExplorerWClass"};
const wchar_t* const CabinetClasses[] = {L"CabinetWClass"};

struct TPidl {
    PIDLIST_ABSOLUTE p = nullptr;
    ~TPidl() { CoTaskMemFree(p); }
};

// The folder that the shell window `window` shows, through the shell's list of its windows.
bool CurrentFolderOf(HWND window, TPidl& folder)
{
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows))))
        return false;
    long count = 0;
    if (FAILED(windows->get_Count(&count)))
        return false;
    for (long i = 0; i < count; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        ComPtr<IDispatch> item;
        if (FAILED(windows->Item(index, &item)) || !item)
            continue;
        ComPtr<IWebBrowserApp> browser;
        SHANDLE_PTR handle = 0;
        if (FAILED(item.As(&browser)) || FAILED(browser->get_HWND(&handle)) ||
            reinterpret_cast<HWND>(handle) != window)
            continue;
        ComPtr<IServiceProvider> services;
        ComPtr<IShellBrowser> shellBrowser;
        ComPtr<IShellView> view;
        ComPtr<IFolderView> folderView;
        ComPtr<IPersistFolder2> persist;
        if (FAILED(browser.As(&services)) ||
            FAILED(services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&shellBrowser))) ||
            FAILED(shellBrowser->QueryActiveShellView(&view)) || FAILED(view.As(&folderView)) ||
            FAILED(folderView->GetFolder(IID_PPV_ARGS(&persist))))
            return false;
        return SUCCEEDED(persist->GetCurFolder(&folder.p)) && folder.p;
    }
    return false;
}

std::vector<HWND> TopWindowsOf(const wchar_t* const* classes, size_t count)
{
    std::vector<HWND> found;
    for (size_t i = 0; i < count; ++i)
        for (HWND w = FindWindowExW(nullptr, nullptr, classes[i], nullptr); w;
             w = FindWindowExW(nullptr, w, classes[i], nullptr))
            found.push_back(w);
    return found;
}

int CloseOnlineWindows(const wchar_t* const* classes, size_t count)
{
    // Each window gets one WM_CLOSE and up to two seconds to go; one that ignores it is not asked
    // again, so neither disconnect nor exit can hang on it.
    std::set<HWND> asked;
    int closed = 0;
    for (;;) {
        HWND target = nullptr;
        for (HWND w : TopWindowsOf(classes, count))
            if (!asked.count(w) && ShowsOnlineFolder(w)) {
                target = w;
                break;
            }
        if (!target)
            return closed;
        asked.insert(target);
        PostMessageW(target, WM_CLOSE, 0, 0);
        for (int i = 0; i < 20 && IsWindow(target); ++i)
            Sleep(100);
        if (!IsWindow(target))
            ++closed;
    }
}
} // namespace

std::string ExplorerCommandLine()
{
    return std::string("explorer.exe /e,c:,") + MyComputerPath + "\\::" + OnlineFolderCLSID;
}

std::string GetEnvVar(const std::string& name)
{
    const std::wstring wide = Utf8ToWide(name);
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(wide.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0)
            return {};
        if (n < value.size()) {
            value.resize(n);
            return WideToUtf8(value);
        }
        value.resize(n);   // n counts the terminator when the buffer was too small
    }
}

int GetDefaultLanguage()
{
    return GetUserDefaultUILanguage() == 1031 ? 0 : 1;
}

bool IsExplorerRunning()
{
    return !TopWindowsOf(TreeClasses, std::size(TreeClasses)).empty();
}

bool ShowsOnlineFolder(HWND window)
{
    // Wine's shell keeps no list of its windows, and asking for it may wait half a minute while
    // COM starts a server for it: a disconnect would stall on every window.
    TPidl current;
    if (!SxRunsOnWine() && CurrentFolderOf(window, current)) {
        TPidl online;
        const std::wstring path = Utf8ToWide(std::string(MyComputerPath) + "\\::" + OnlineFolderCLSID);
        if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &online.p, 0, nullptr)))
            return false;
        return ILIsParent(online.p, current.p, FALSE) != FALSE;
    }
    // Where the shell keeps no list of its windows (Wine), the window's own view tells: the
    // extension marks the views of its folders. A title is no proof: a local "Dokumente" has the
    // same one as the online folder's.
    return HoldsNamespaceView(window);
}

int KillExplorer()
{
    return CloseOnlineWindows(TreeClasses, std::size(TreeClasses));
}

int KillMyComputer()
{
    return CloseOnlineWindows(CabinetClasses, std::size(CabinetClasses));
}

bool RegisterDLL(const std::string& path, int action, std::string* why)
{
    const char* const name = action == 0 ? "DllUnregisterServer" : "DllRegisterServer";
    std::string reason;
    HMODULE library = LoadLibraryExW(Utf8ToWide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    bool ok = false;
    if (!library) {
        reason = "\"" + path + "\" cannot be loaded: " + SysErrorMessage(GetLastError());
    } else {
        using TEntry = HRESULT(STDAPICALLTYPE*)();
        auto entry = reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
        if (!entry) {
            reason = "\"" + path + "\" has no " + name;
        } else {
            const HRESULT hr = entry();
            ok = hr == S_OK;
            if (!ok) {
                reason = std::string(name) + " answered " + HResultText(hr);
                const std::string text = SysErrorMessage(DWORD(hr));
                if (text.rfind("System error ", 0) != 0)
                    reason += ": " + text;
            }
        }
        FreeLibrary(library);
    }
    if (why)
        *why = reason;
    return ok;
}

bool StartProcess(const std::string& commandLine)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = Utf8ToWide(commandLine);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

bool IsAdmin()
{
    THandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        if (GetLastError() != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
            return false;
    }
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &needed);
    if (needed == 0)
        return false;
    std::vector<BYTE> buffer(needed);
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.data(), needed, &needed))
        return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins))
        return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = EqualSid(groups->Groups[i].Sid, admins) && !(groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
    FreeSid(admins);
    return found;
}

namespace {
TSeam<std::function<bool()>> ConnectedStateSeam;
} // namespace

void SetConnectedStateSeam(std::function<bool()> fn) { ConnectedStateSeam.Set(std::move(fn)); }

bool IsOnline()
{
    if (const auto seam = ConnectedStateSeam.Get())
        return seam();
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) != FALSE;
}

void ForgetCachedUrl(const std::string& url)
{
    DeleteUrlCacheEntryW(Utf8ToWide(url).c_str());
}
