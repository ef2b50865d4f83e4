#include "E2ESupport.h"

#include "SxWindowSearch.h"
#include "uGLBRegistry.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace e2e {

namespace {

std::string Env(const char* name)
{
    wchar_t value[1024] = {};
    const DWORD n = GetEnvironmentVariableW(Utf8ToWide(name).c_str(), value, 1024);
    return n && n < 1024 ? WideToUtf8(value) : std::string();
}

std::string WithSlash(std::string p)
{
    if (!p.empty() && p.back() != '\\')
        p += '\\';
    return p;
}

HWND ChildOfClass(HWND parent, const wchar_t* cls) { return SxVisibleChildOfClass(parent, cls); }

struct TWindowSearch {
    DWORD Pid;
    const std::function<bool(HWND)>& Match;
    HWND Found;
};

// A named callback: the 32-bit build needs its stdcall convention, which a lambda lacks.
BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    auto* s = reinterpret_cast<TWindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->Pid || !IsWindowVisible(window) || !s->Match(window))
        return TRUE;
    s->Found = window;
    return FALSE;
}

// The first visible top-level window of process pid that match accepts, or nullptr.
HWND VisibleWindowOf(DWORD pid, const std::function<bool(HWND)>& match)
{
    TWindowSearch search{pid, match, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

bool SavePng(const std::wstring& file, const std::vector<uint32_t>& pixels, int width, int height)
{
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))))
        return false;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(UINT(width), UINT(height))))
        return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)))
        return false;
    std::vector<uint32_t> rows = pixels;
    if (format != GUID_WICPixelFormat32bppBGR) {
        // The encoder wants 24-bit BGR rows.
        std::vector<uint8_t> packed;
        const UINT stride = UINT((width * 3 + 3) & ~3);
        packed.resize(size_t(stride) * size_t(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
                uint8_t* d = &packed[size_t(y) * stride + size_t(x) * 3];
                d[0] = uint8_t(p), d[1] = uint8_t(p >> 8), d[2] = uint8_t(p >> 16);
            }
        if (FAILED(frame->WritePixels(UINT(height), stride, UINT(packed.size()), packed.data())))
            return false;
    } else if (FAILED(frame->WritePixels(UINT(height), UINT(width * 4), UINT(rows.size() * 4),
                                         reinterpret_cast<BYTE*>(rows.data()))))
        return false;
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

std::string InstallFolder() { return WithSlash(Env("SX_E2E_INSTALL")); }
std::string ArtifactsFolder() { return WithSlash(Env("SX_E2E_ARTIFACTS")); }
std::string UserPath() { return WithSlash(Env("APPDATA")) + "Tandrel Sendrake\\"; }

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const ULONGLONG until = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= until)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
}

void Pause(int ms) { WaitUntil([] { return false; }, ms); }

// ---- the program

TProgram::~TProgram()
{
    if (Info.hProcess) {
        CloseHandle(Info.hProcess);
        CloseHandle(Info.hThread);
    }
}

bool TProgram::Start()
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring line = L"\"" + Utf8ToWide(InstallFolder() + "Sendrake.exe") + L"\"";
    const std::wstring folder = Utf8ToWide(InstallFolder());
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &Info);
}

bool TProgram::Running() const { return Info.hProcess && WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT; }

int TProgram::WaitEnd(int timeoutMs)
{
    if (!Info.hProcess)
        return -1;
    if (!WaitUntil([&] { return !Running(); }, timeoutMs))
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(Info.hProcess, &code);
    return int(code);
}

// ---- windows

HWND MainWindow() { return FindWindowW(L"TfrmVaultmereMain", L"Tandrel Sendrake"); }
HWND Control(int id) { return GetDlgItem(MainWindow(), id); }

std::string TextOf(HWND window)
{
    wchar_t text[2048] = {};
    // The text of another process's control: WM_GETTEXT is marshalled for us.
    SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return WideToUtf8(text);
}

void Type(HWND edit, const std::string& text)
{
    const std::wstring w = Utf8ToWide(text);
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
}

void Press(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void TrayMenu(int command) { PostMessageW(MainWindow(), WM_COMMAND, WPARAM(command), 0); }

HWND WindowOfProcess(DWORD pid, HWND except)
{
    return VisibleWindowOf(pid, [except](HWND window) { return window != except; });
}

HWND ExplorerWindow()
{
    HWND w = FindWindowW(L"ExplorerWClass", nullptr);
    if (!w)
        w = FindWindowW(L"ExploreWClass", nullptr);
    return w ? w : FindWindowW(L"CabinetWClass", nullptr);
}

int ExplorerShow(const std::string& path, const std::string& title, HWND* shown)
{
    HWND explorer = nullptr, edit = nullptr;
    WaitUntil(
        [&] {
            explorer = ExplorerWindow();
            if (explorer && IsWindowVisible(explorer))
                if (HWND combo = ChildOfClass(explorer, L"ComboBoxEx32"))
                    edit = ChildOfClass(combo, L"Edit");
            return edit != nullptr;
        },
        20000);
    if (!edit)
        return -1;
    // A window that is still opening its first folder would go there after the typed one.
    Pause(1000);
    bool there = false;
    for (int attempt = 0; attempt < 3 && !there; ++attempt) {
        Type(edit, path);
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
        there = WaitUntil([&] { return TextOf(explorer) == title; }, 8000);
    }
    if (!there)
        return -1;
    if (shown)
        *shown = explorer;
    Pause(800);
    HWND list = ChildOfClass(explorer, L"SysListView32");
    return list ? int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : -1;
}

int ExplorerRefresh(HWND explorer, int expected)
{
    HWND list = explorer && IsWindow(explorer) ? ChildOfClass(explorer, L"SysListView32") : nullptr;
    if (!list)
        return -1;
    auto count = [&] { return int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); };
    SetForegroundWindow(explorer);
    SetFocus(list);
    PostMessageW(list, WM_KEYDOWN, VK_F5, 0x003F0001);
    PostMessageW(list, WM_KEYUP, VK_F5, 0xC03F0001);
    WaitUntil([&] { return count() == expected; }, 8000);
    Pause(500);
    return count();
}

void CloseExplorers()
{
    for (int i = 0; i < 20; ++i) {
        HWND w = ExplorerWindow();
        if (!w)
            return;
        PostMessageW(w, WM_CLOSE, 0, 0);
        WaitUntil([&] { return !IsWindow(w); }, 3000);
    }
}

int Screenshot(HWND window, const std::string& name)
{
    RECT r{};
    if (!window || !GetWindowRect(window, &r))
        return 0;
    SetForegroundWindow(window);
    Pause(300);
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return 0;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + size_t(width) * size_t(height));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::set<uint32_t> colours;
    for (uint32_t& p : pixels) {
        p &= 0xFFFFFF;
        colours.insert(p);
    }
    const std::wstring file = Utf8ToWide(ArtifactsFolder() + name + ".png");
    if (!SavePng(file, pixels, width, height))
        return 0;
    return int(colours.size());
}

// ---- settings

std::string Setting(const std::string& section, const std::string& name)
{
    return ReadRegistryString(section, name, "<none>");
}

void SetSetting(const std::string& section, const std::string& name, const std::string& value)
{
    WriteRegistryString(section, name, value);
}

std::string ClassValue(const std::string& key, const std::string& name)
{
    TRegKey handle;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return "<none>";
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(handle.get(), name.empty() ? nullptr : Utf8ToWide(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return "<none>";
    return WideToUtf8(value);
}

// ---- the online folder

ComPtr<IShellFolder> BindOnline(const std::string& relative, HRESULT* result)
{
    HRESULT ignored;
    HRESULT& hr = result ? *result : ignored;
    ComPtr<IShellFolder> desktop;
    hr = SHGetDesktopFolder(&desktop);
    if (FAILED(hr))
        return nullptr;
    std::wstring path = Utf8ToWide(RootParsingName);
    PIDLIST_RELATIVE root = nullptr;
    hr = desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &root, nullptr);
    if (FAILED(hr))
        return nullptr;
    ComPtr<IShellFolder> folder;
    hr = desktop->BindToObject(root, nullptr, IID_PPV_ARGS(&folder));
    CoTaskMemFree(root);
    if (FAILED(hr) || relative.empty())
        return folder;
    // One name after the other, as a user opens folder after folder.
    std::string rest = relative;
    while (!rest.empty() && folder) {
        const size_t cut = rest.find('\\');
        const std::string name = rest.substr(0, cut);
        rest = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
        const auto items = Items(folder.Get());
        const TItem* item = Find(items, name);
        if (!item) {
            hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        ComPtr<IShellFolder> sub;
        hr = folder->BindToObject(item->Pidl.get(), nullptr, IID_PPV_ARGS(&sub));
        folder = sub;
    }
    return folder;
}

std::vector<TItem> Items(IShellFolder* folder)
{
    std::vector<TItem> items;
    ComPtr<IEnumIDList> list;
    if (!folder || folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &list) != S_OK || !list)
        return items;
    ComPtr<IShellFolder2> details;
    folder->QueryInterface(IID_PPV_ARGS(&details));
    PITEMID_CHILD child = nullptr;
    ULONG got = 0;
    while (list->Next(1, &child, &got) == S_OK && got == 1) {
        TItem item;
        item.Pidl.reset(reinterpret_cast<ITEMIDLIST*>(child), [](ITEMIDLIST* p) { CoTaskMemFree(p); });
        STRRET name{};
        if (SUCCEEDED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER, &name))) {
            LPWSTR text = nullptr;
            if (SUCCEEDED(StrRetToStrW(&name, child, &text))) {
                item.Name = WideToUtf8(text);
                CoTaskMemFree(text);
            }
        }
        SFGAOF attributes = SFGAO_FOLDER | SFGAO_CANDELETE | SFGAO_CANRENAME | SFGAO_CANCOPY | SFGAO_CANMOVE |
                            SFGAO_DROPTARGET | SFGAO_HASSUBFOLDER;
        PCUITEMID_CHILD one = child;
        if (SUCCEEDED(folder->GetAttributesOf(1, &one, &attributes)))
            item.Attributes = attributes;
        for (UINT column = 0; details && column < 4; ++column) {
            SHELLDETAILS d{};
            std::string text;
            if (SUCCEEDED(details->GetDetailsOf(child, column, &d))) {
                LPWSTR w = nullptr;
                if (SUCCEEDED(StrRetToStrW(&d.str, child, &w))) {
                    text = WideToUtf8(w);
                    CoTaskMemFree(w);
                }
            }
            item.Details.push_back(text);
        }
        items.push_back(std::move(item));
    }
    return items;
}

const TItem* Find(const std::vector<TItem>& items, const std::string& name)
{
    for (const TItem& i : items)
        if (i.Name == name)
            return &i;
    return nullptr;
}

HRESULT InvokeDefault(IShellFolder* folder, const TItem& item)
{
    PCUITEMID_CHILD one = item.Pidl.get();
    ComPtr<IContextMenu> menu;
    HRESULT hr = folder->GetUIObjectOf(nullptr, 1, &one, IID_IContextMenu, nullptr, reinterpret_cast<void**>(menu.GetAddressOf()));
    if (FAILED(hr)) {
        std::fprintf(stderr, "InvokeDefault: GetUIObjectOf: %s\n", HResultText(hr).c_str());
        return hr;
    }
    // As Explorer does for a double click: the menu's default item.
    HMENU popup = CreatePopupMenu();
    constexpr UINT first = 100;
    hr = menu->QueryContextMenu(popup, 0, first, 0x7FFF, CMF_DEFAULTONLY);
    UINT id = SUCCEEDED(hr) ? GetMenuDefaultItem(popup, FALSE, 0) : UINT(-1);
    if (id == UINT(-1) && SUCCEEDED(hr) && GetMenuItemCount(popup) > 0)
        id = GetMenuItemID(popup, 0);
    const int count = GetMenuItemCount(popup);
    DestroyMenu(popup);
    if (FAILED(hr) || id == UINT(-1) || id < first) {
        std::fprintf(stderr, "InvokeDefault: QueryContextMenu: %s, %d items, no default\n", HResultText(hr).c_str(), count);
        return FAILED(hr) ? hr : E_FAIL;
    }
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.nShow = SW_SHOWNORMAL;
    info.lpVerb = MAKEINTRESOURCEA(id - first);
    hr = menu->InvokeCommand(&info);
    if (FAILED(hr))
        std::fprintf(stderr, "InvokeDefault: InvokeCommand of item %u of %d: %s\n", id - first, count, HResultText(hr).c_str());
    return hr;
}

// ---- local files

bool Exists(const std::string& path) { return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(Utf8ToWide(path).c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t CountEntries(const std::string& folder)
{
    size_t count = 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(Utf8ToWide(WithSlash(folder) + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
            continue;
        ++count;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            count += CountEntries(WithSlash(folder) + WideToUtf8(found.cFileName));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return count;
}

}  // namespace e2e

namespace e2e {

// ---- questions

namespace {

// A question: a dialog window that is not a progress window.
bool IsQuestion(HWND window)
{
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    return !wcscmp(cls, L"#32770") && !SxVisibleChildOfClass(window, L"msctls_progress32");
}

std::string QuestionText(HWND window)
{
    // The form's message, else the message box's text.
    if (HWND message = GetDlgItem(window, 101))
        return TextOf(message);
    if (HWND box = GetDlgItem(window, 0xFFFF))
        return TextOf(box);
    std::string text;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        if (!lstrcmpiW(cls, L"Static"))
            text += TextOf(child);
    }
    return text;
}

}  // namespace

TAnswerer::TAnswerer(std::vector<TAnswer> script, DWORD pid)
    : Script(std::move(script)), Pid(pid ? pid : GetCurrentProcessId())
{
    InitializeCriticalSection(&Lock);
    Thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

TAnswerer::~TAnswerer()
{
    InterlockedExchange(&Stop, 1);
    if (Thread) {
        WaitForSingleObject(Thread, 10000);
        CloseHandle(Thread);
    }
    DeleteCriticalSection(&Lock);
}

std::vector<std::string> TAnswerer::Asked() const
{
    EnterCriticalSection(&Lock);
    std::vector<std::string> copy = Texts;
    LeaveCriticalSection(&Lock);
    return copy;
}

DWORD WINAPI TAnswerer::Run(void* parameter)
{
    auto* self = static_cast<TAnswerer*>(parameter);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);   // the screenshots' encoder
    size_t next = 0;
    HWND last = nullptr;
    while (!self->Stop && next < self->Script.size()) {
        HWND window = VisibleWindowOf(self->Pid, IsQuestion);
        const TAnswer& answer = self->Script[next];
        if (!window || window == last || !GetDlgItem(window, answer.Button)) {
            Sleep(50);
            continue;
        }
        Sleep(300);   // the user reads the question
        const std::string text = QuestionText(window);
        if (!answer.Shot.empty())
            self->Colours = Screenshot(window, answer.Shot);
        if (answer.Option)
            SendMessageW(GetDlgItem(window, answer.Option), BM_CLICK, 0, 0);
        if (!answer.Text.empty())
            for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                wchar_t cls[32] = {};
                GetClassNameW(child, cls, 32);
                if (!lstrcmpiW(cls, L"Edit"))
                    Type(child, answer.Text);
            }
        PostMessageW(GetDlgItem(window, answer.Button), BM_CLICK, 0, 0);
        EnterCriticalSection(&self->Lock);
        self->Texts.push_back(text);
        LeaveCriticalSection(&self->Lock);
        last = window;
        ++next;
        for (int i = 0; i < 100 && IsWindow(window) && IsWindowVisible(window); ++i)
            Sleep(50);
    }
    CoUninitialize();
    return 0;
}

// ---- transfers

void WriteLocalFile(const std::string& path, const std::string& bytes)
{
    const std::wstring w = Utf8ToWide(path);
    SHCreateDirectoryExW(nullptr, w.substr(0, w.find_last_of(L'\\')).c_str(), nullptr);
    std::ofstream out(w.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

namespace {

ComPtr<IDataObject> DataOf(IShellFolder* folder, const std::vector<std::string>& names)
{
    if (!folder)
        return nullptr;
    const auto items = Items(folder);
    std::vector<PCUITEMID_CHILD> ids;
    for (const std::string& name : names)
        if (const TItem* item = Find(items, name))
            ids.push_back(item->Pidl.get());
    if (ids.size() != names.size())
        return nullptr;
    ComPtr<IDataObject> data;
    if (FAILED(folder->GetUIObjectOf(nullptr, UINT(ids.size()), ids.data(), IID_IDataObject, nullptr,
                                     reinterpret_cast<void**>(data.GetAddressOf()))))
        return nullptr;
    return data;
}

}  // namespace

ComPtr<IDataObject> LocalData(const std::string& folderPath, const std::vector<std::string>& names)
{
    ComPtr<IShellFolder> desktop, folder;
    if (FAILED(SHGetDesktopFolder(&desktop)))
        return nullptr;
    std::wstring path = Utf8ToWide(folderPath);
    PIDLIST_RELATIVE list = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &list, nullptr)))
        return nullptr;
    const HRESULT hr = desktop->BindToObject(list, nullptr, IID_PPV_ARGS(&folder));
    CoTaskMemFree(list);
    return SUCCEEDED(hr) ? DataOf(folder.Get(), names) : nullptr;
}

ComPtr<IDataObject> OnlineData(IShellFolder* folder, const std::vector<std::string>& names) { return DataOf(folder, names); }

HRESULT DragDrop(IDropTarget* target, IDataObject* data, DWORD effect, DWORD* performed)
{
    if (!target || !data)
        return E_POINTER;
    POINTL at{300, 300};
    DWORD chosen = effect;
    HRESULT hr = target->DragEnter(data, MK_LBUTTON, at, &chosen);
    if (FAILED(hr))
        return hr;
    chosen = effect;
    hr = target->DragOver(MK_LBUTTON, at, &chosen);
    if (FAILED(hr) || !(chosen & effect)) {
        target->DragLeave();
        return FAILED(hr) ? hr : S_FALSE;
    }
    chosen = effect;
    hr = target->Drop(data, 0, at, &chosen);
    if (performed)
        *performed = chosen;
    return hr;
}

ComPtr<IDropTarget> DropTargetOf(IShellFolder* folder, const std::string& name)
{
    ComPtr<IDropTarget> target;
    if (!folder)
        return nullptr;
    if (name.empty()) {
        folder->CreateViewObject(nullptr, IID_PPV_ARGS(&target));
        return target;
    }
    const auto items = Items(folder);
    const TItem* item = Find(items, name);
    if (!item)
        return nullptr;
    PCUITEMID_CHILD one = item->Pidl.get();
    folder->GetUIObjectOf(nullptr, 1, &one, IID_IDropTarget, nullptr, reinterpret_cast<void**>(target.GetAddressOf()));
    return target;
}

namespace {

class TFileDropTarget final : public IDropTarget {
public:
    explicit TFileDropTarget(std::string folder) : Folder(std::move(folder)) {}
    virtual ~TFileDropTarget() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
            *object = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&Count)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG n = InterlockedDecrement(&Count);
        if (!n)
            delete this;
        return ULONG(n);
    }
    STDMETHODIMP DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        FORMATETC f{Descriptor(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        Accepts = data && data->QueryGetData(&f) == S_OK;
        *effect = Accepts ? *effect & (DROPEFFECT_COPY | DROPEFFECT_MOVE) : DROPEFFECT_NONE;
        return S_OK;
    }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override
    {
        *effect = Accepts ? *effect & (DROPEFFECT_COPY | DROPEFFECT_MOVE) : DROPEFFECT_NONE;
        return S_OK;
    }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        const DWORD wanted = *effect & DROPEFFECT_MOVE ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
        *effect = DROPEFFECT_NONE;
        FORMATETC f{Descriptor(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM m{};
        if (FAILED(data->GetData(&f, &m)))
            return E_FAIL;
        std::vector<std::wstring> names;
        std::vector<bool> folders;
        if (auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(m.hGlobal))) {
            for (UINT i = 0; i < group->cItems; ++i) {
                names.push_back(group->fgd[i].cFileName);
                folders.push_back((group->fgd[i].dwFlags & FD_ATTRIBUTES) &&
                                  (group->fgd[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
            }
            GlobalUnlock(m.hGlobal);
        }
        ReleaseStgMedium(&m);
        for (size_t i = 0; i < names.size(); ++i) {
            if (folders[i]) {
                SHCreateDirectoryExW(nullptr, Utf8ToWide(Folder + "\\" + WideToUtf8(names[i])).c_str(), nullptr);
                continue;
            }
            FORMATETC c{CLIPFORMAT(RegisterClipboardFormatW(CFSTR_FILECONTENTS)), nullptr, DVASPECT_CONTENT, LONG(i),
                        TYMED_HGLOBAL | TYMED_ISTREAM};
            STGMEDIUM content{};
            if (FAILED(data->GetData(&c, &content)))
                return E_FAIL;   // nothing more is written, and a move is not completed
            std::string bytes;
            if (content.tymed == TYMED_HGLOBAL) {
                const SIZE_T size = GlobalSize(content.hGlobal);
                if (const char* p = static_cast<const char*>(GlobalLock(content.hGlobal))) {
                    bytes.assign(p, size);
                    GlobalUnlock(content.hGlobal);
                }
            } else if (content.tymed == TYMED_ISTREAM) {
                char buffer[4096];
                ULONG got = 0;
                while (SUCCEEDED(content.pstm->Read(buffer, sizeof buffer, &got)) && got)
                    bytes.append(buffer, got);
            }
            ReleaseStgMedium(&content);
            WriteLocalFile(Folder + "\\" + WideToUtf8(names[i]), bytes);
        }
        *effect = wanted;
        if (wanted == DROPEFFECT_MOVE) {
            // Windows' folders tell a source that cannot move by itself that the move is done.
            FORMATETC p{CLIPFORMAT(RegisterClipboardFormatW(CFSTR_PERFORMEDDROPEFFECT)), nullptr, DVASPECT_CONTENT, -1,
                        TYMED_HGLOBAL};
            STGMEDIUM value{};
            value.tymed = TYMED_HGLOBAL;
            value.hGlobal = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
            *static_cast<DWORD*>(GlobalLock(value.hGlobal)) = DROPEFFECT_MOVE;
            GlobalUnlock(value.hGlobal);
            data->SetData(&p, &value, TRUE);
        }
        return S_OK;
    }

private:
    static CLIPFORMAT Descriptor() { return CLIPFORMAT(RegisterClipboardFormatW(CFSTR_FILEDESCRIPTORW)); }
    std::string Folder;
    LONG Count = 1;
    bool Accepts = false;
};

}  // namespace

ComPtr<IDropTarget> FileDropTarget(const std::string& folder)
{
    ComPtr<IDropTarget> target;
    target.Attach(new TFileDropTarget(folder));
    return target;
}

namespace {

// The offset of the first item of the menu (or its sub-menus) whose verb or caption matches.
bool FindCommand(IContextMenu* menu, HMENU popup, UINT first, const std::string& wanted, UINT& offset)
{
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        wchar_t caption[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = caption;
        info.cch = 255;
        if (!GetMenuItemInfoW(popup, UINT(i), TRUE, &info))
            continue;
        if (info.hSubMenu) {
            if (FindCommand(menu, info.hSubMenu, first, wanted, offset))
                return true;
            continue;
        }
        if (info.wID < first)
            continue;
        std::string text = WideToUtf8(caption);
        text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
        wchar_t verb[128] = {};
        menu->GetCommandString(info.wID - first, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(verb), 128);
        if (text == wanted || WideToUtf8(verb) == wanted) {
            offset = info.wID - first;
            return true;
        }
    }
    return false;
}

}  // namespace

HRESULT InvokeMenu(IShellFolder* folder, const std::vector<std::string>& names, const std::string& verbOrCaption)
{
    const auto items = Items(folder);
    std::vector<PCUITEMID_CHILD> ids;
    for (const std::string& name : names)
        if (const TItem* item = Find(items, name))
            ids.push_back(item->Pidl.get());
    if (ids.empty() || ids.size() != names.size())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    ComPtr<IContextMenu> menu;
    HRESULT hr = folder->GetUIObjectOf(nullptr, UINT(ids.size()), ids.data(), IID_IContextMenu, nullptr,
                                       reinterpret_cast<void**>(menu.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    HMENU popup = CreatePopupMenu();
    constexpr UINT first = 100;
    hr = menu->QueryContextMenu(popup, 0, first, 0x7FFF, CMF_NORMAL);
    UINT offset = 0;
    const bool found = SUCCEEDED(hr) && FindCommand(menu.Get(), popup, first, verbOrCaption, offset);
    DestroyMenu(popup);
    if (!found) {
        std::fprintf(stderr, "InvokeMenu: no command \"%s\"\n", verbOrCaption.c_str());
        return FAILED(hr) ? hr : E_INVALIDARG;
    }
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.nShow = SW_SHOWNORMAL;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    return menu->InvokeCommand(&info);
}

}  // namespace e2e

namespace e2e {

// ---- keys

namespace {

void SendKey(WORD key, bool down)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = WORD(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

}  // namespace

THeldKey::THeldKey(WORD key) : Key(key)
{
    SendKey(Key, true);
    WaitUntil([&] { return Down(); }, 2000);
}

THeldKey::~THeldKey()
{
    SendKey(Key, false);
    WaitUntil([&] { return !Down(); }, 2000);
}

bool THeldKey::Down() const { return (GetKeyState(Key) & 0x8000) != 0; }

// ---- thumbnails

size_t TThumbnail::Colours() const { return std::set<uint32_t>(Pixels.begin(), Pixels.end()).size(); }

TThumbnail Thumbnail(IShellFolder* folder, const std::string& name, SIZE asked)
{
    TThumbnail thumb;
    const auto items = Items(folder);
    const TItem* item = folder ? Find(items, name) : nullptr;
    if (!item)
        return thumb;
    PCUITEMID_CHILD one = item->Pidl.get();
    ComPtr<IExtractImage> image;
    thumb.Location = folder->GetUIObjectOf(nullptr, 1, &one, IID_IExtractImage, nullptr,
                                           reinterpret_cast<void**>(image.GetAddressOf()));
    if (FAILED(thumb.Location))
        return thumb;
    wchar_t location[MAX_PATH] = {};
    DWORD priority = 0, flags = IEIFLAG_ASPECT;
    thumb.Location = image->GetLocation(location, MAX_PATH, &priority, &asked, 32, &flags);
    thumb.Name = WideToUtf8(location);
    HBITMAP bitmap = nullptr;
    thumb.Extract = image->Extract(&bitmap);
    if (!bitmap)
        return thumb;
    thumb.Bitmap = true;
    BITMAP info{};
    if (GetObjectW(bitmap, sizeof info, &info) && info.bmWidth > 0 && info.bmHeight != 0) {
        thumb.Width = info.bmWidth;
        thumb.Height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
        BITMAPINFO top{};
        top.bmiHeader.biSize = sizeof top.bmiHeader;
        top.bmiHeader.biWidth = thumb.Width;
        top.bmiHeader.biHeight = -thumb.Height;
        top.bmiHeader.biPlanes = 1;
        top.bmiHeader.biBitCount = 32;
        thumb.Pixels.resize(size_t(thumb.Width) * size_t(thumb.Height));
        HDC screen = GetDC(nullptr);
        if (GetDIBits(screen, bitmap, 0, UINT(thumb.Height), thumb.Pixels.data(), &top, DIB_RGB_COLORS) != thumb.Height)
            thumb.Pixels.clear();
        ReleaseDC(nullptr, screen);
        for (uint32_t& p : thumb.Pixels)
            p &= 0xFFFFFF;
    }
    DeleteObject(bitmap);
    return thumb;
}

SIZE PictureSize(const std::string& bytes)
{
    SIZE size{0, 0};
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (bytes.empty() ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())), DWORD(bytes.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height)))
        return size;
    size.cx = LONG(width);
    size.cy = LONG(height);
    return size;
}

}  // namespace e2e
