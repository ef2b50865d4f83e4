// The online folder's write path as Explorer drives it through COM, against the private WebDAV
// server: SetNameOf, the folder menus' new-folder, delete and empty commands, the drop targets with
// local files and folder trees and with the folder's own items (drag, cut, copy, paste), and the
// faults of each. Every journey is checked in the access log, the server tree, the mirror (what
// the folder enumerates) and the change notices that a window registered with the shell receives.
// The library is Brannock.dll's test twin: the same sources, with the test's answers to its modal
// questions and the folder-menu callbacks that Wine's default folder menu never calls.
#include "ExtensionTestSupport.h"
#include "SxPidl.h"
#include "SxTestSupport.h"
#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"
#include "uTvrqDialog.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <ole2.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using Microsoft::WRL::ComPtr;
using davtest::TDavLogLine;
using davtest::U8Path;
using exttest::TOnlineUser;

namespace {

const std::string FolderText = "{0738049E-478C-4D6D-B004-A767178A297C}";
const std::string Root = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + FolderText;

DWORD RegSvr32(bool doRegister)
{
    return RunProcess(std::wstring(L"regsvr32.exe /s ") + (doRegister ? L"" : L"/u ") + L"\"" +
                      PathBesideProgram(L"BrannockTest.dll") + L"\"");
}

template <typename T> T Entry(const char* name)
{
    HMODULE dll = GetModuleHandleW(L"BrannockTest.dll");
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

using TMenuCallback = HRESULT (*)(int, IShellFolder*, HWND, IDataObject*, UINT, WPARAM, LPARAM);

// ---- the user's answers

struct TAsked {
    TvrqQuestionKind Kind;
    std::string Caption, Text, Name;
};

// Answers the library's questions while it lives, from the script in order (a warning takes no
// answer; beyond the script every question gets Cancel), and records each. The hook sees each
// question before it is answered.
class TAnswers {
public:
    explicit TAnswers(std::vector<TvrqScriptedAnswer> script, std::function<void(const TAsked&)> hook = {})
        : Script(std::move(script)), Hook(std::move(hook))
    {
        Entry<void (*)(AnswerFn, void*)>("BrTestSetAnswers")(&Answer, this);
    }
    ~TAnswers() { Entry<void (*)(AnswerFn, void*)>("BrTestSetAnswers")(nullptr, nullptr); }
    TAnswers(const TAnswers&) = delete;
    TAnswers& operator=(const TAnswers&) = delete;

    std::vector<TAsked> Asked;
    std::vector<std::string> Warnings() const
    {
        std::vector<std::string> texts;
        for (const auto& asked : Asked)
            if (asked.Kind == TvrqQuestionKind::WarningBox)
                texts.push_back(asked.Text);
        return texts;
    }

private:
    using AnswerFn = int (*)(void*, int, const char*, const char*, const char*, int*, char*, int);
    static int Answer(void* context, int kind, const char* caption, const char* text, const char* name,
                      int* permanent, char* typed, int typedSize)
    {
        auto& self = *static_cast<TAnswers*>(context);
        TAsked asked{static_cast<TvrqQuestionKind>(kind), caption, text, name};
        self.Asked.push_back(asked);
        if (self.Hook)
            self.Hook(asked);
        if (asked.Kind == TvrqQuestionKind::WarningBox)
            return mrOk;
        if (self.Used >= self.Script.size())
            return mrCancel;
        const TvrqScriptedAnswer& answer = self.Script[self.Used++];
        *permanent = answer.Permanent ? 1 : 0;
        if (!answer.Name.empty())
            lstrcpynA(typed, answer.Name.c_str(), typedSize);
        return answer.Code;
    }
    std::vector<TvrqScriptedAnswer> Script;
    size_t Used = 0;
    std::function<void(const TAsked&)> Hook;
};

// ---- the change notices the shell sends

std::string EventName(LONG event)
{
    static const std::map<LONG, std::string> names = {
        {SHCNE_CREATE, "CREATE"},       {SHCNE_DELETE, "DELETE"},         {SHCNE_MKDIR, "MKDIR"},
        {SHCNE_RMDIR, "RMDIR"},         {SHCNE_UPDATEDIR, "UPDATEDIR"},   {SHCNE_UPDATEITEM, "UPDATEITEM"},
        {SHCNE_RENAMEITEM, "RENAMEITEM"}, {SHCNE_RENAMEFOLDER, "RENAMEFOLDER"}};
    auto it = names.find(event);
    return it == names.end() ? std::to_string(event) : it->second;
}

std::string DisplayName(IShellFolder* folder, PCUITEMID_CHILD item, SHGDNF flags = SHGDN_NORMAL)
{
    STRRET strRet;
    std::memset(&strRet, 0, sizeof strRet);
    LPWSTR text = nullptr;
    if (FAILED(folder->GetDisplayNameOf(item, flags, &strRet)) || FAILED(StrRetToStrW(&strRet, item, &text)))
        return "<failed>";
    std::string result = WideToUtf8(text);
    CoTaskMemFree(text);
    return result;
}

// A window registered with the shell for every notice below the desktop.
class TNoticeProbe {
public:
    explicit TNoticeProbe(PCIDLIST_ABSOLUTE root) : RootList(PIDLClone(root))
    {
        WNDCLASSW cls{};
        cls.lpfnWndProc = &Proc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"BrWritePathNotices";
        RegisterClassW(&cls);
        Window = CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        PIDLIST_ABSOLUTE desktop = nullptr;
        SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop);
        SHChangeNotifyEntry entry{desktop, TRUE};
        Id = SHChangeNotifyRegister(Window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                    SHCNE_ALLEVENTS, Message, 1, &entry);
        CoTaskMemFree(desktop);
    }
    ~TNoticeProbe()
    {
        if (Id)
            SHChangeNotifyDeregister(Id);
        DestroyWindow(Window);
    }
    bool Registered() const { return Id != 0; }

    // The notices that came since the last call, once none came for a while: "EVENT path" with
    // the path below the online folder ("/" separated, "" the folder itself), and " -> path" for
    // the second item of a rename.
    std::vector<std::string> Take()
    {
        size_t seen = Raw.size();
        const ULONGLONG start = GetTickCount64();
        ULONGLONG last = start;
        while (GetTickCount64() - last < 400 && GetTickCount64() - start < 8000) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (Raw.size() != seen) {
                seen = Raw.size();
                last = GetTickCount64();
            }
            Sleep(10);
        }
        std::vector<std::string> notices;
        for (const auto& raw : Raw) {
            std::string line = EventName(raw.Event) + " " + PathOf(raw.First.get());
            if (raw.Second)
                line += " -> " + PathOf(raw.Second.get());
            notices.push_back(line);
        }
        Raw.clear();
        return notices;
    }

private:
    static constexpr UINT Message = WM_APP + 21;
    struct TRaw {
        LONG Event;
        TSxPidlPtr First, Second;
    };
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<TNoticeProbe*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == Message && self) {
            PIDLIST_ABSOLUTE* lists = nullptr;
            LONG event = 0;
            HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam),
                                                    &lists, &event);
            if (lock) {
                TRaw raw{static_cast<LONG>(event & ~static_cast<LONG>(SHCNE_INTERRUPT)), nullptr, nullptr};
                if (lists && lists[0])
                    raw.First.reset(PIDLClone(lists[0]));
                if (lists && lists[1])
                    raw.Second.reset(PIDLClone(lists[1]));
                SHChangeNotification_Unlock(lock);
                self->Raw.push_back(std::move(raw));
            }
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // The names of the items below the online folder, each asked of its parent folder.
    std::string PathOf(PCIDLIST_ABSOLUTE list) const
    {
        if (!list)
            return "<none>";
        if (!ILIsParent(RootList.get(), list, FALSE))
            return "<elsewhere>";
        std::string path;
        const UINT rootSize = ILGetSize(RootList.get()) - 2;
        for (PCUIDLIST_RELATIVE item = reinterpret_cast<PCUIDLIST_RELATIVE>(reinterpret_cast<const BYTE*>(list) + rootSize);
             item->mkid.cb; item = ILNext(item)) {
            const size_t upTo = reinterpret_cast<const BYTE*>(ILNext(item)) - reinterpret_cast<const BYTE*>(list);
            std::vector<BYTE> head(upTo + 2, 0);
            std::memcpy(head.data(), list, upTo);
            ComPtr<IShellFolder> parent;
            PCUITEMID_CHILD child = nullptr;
            if (FAILED(SHBindToParent(reinterpret_cast<PCIDLIST_ABSOLUTE>(head.data()), IID_PPV_ARGS(&parent), &child)))
                return path + "/<unbound>";
            if (!path.empty())
                path += '/';
            path += DisplayName(parent.Get(), child);
        }
        return path;
    }

    TSxPidlPtr RootList;
    HWND Window = nullptr;
    ULONG Id = 0;
    std::vector<TRaw> Raw;
};

bool Holds(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += "\n  " + line;
    return text;
}

// ---- local files of the user

void WriteLocalFile(const std::string& path, const std::string& bytes) { exttest::WriteLocal(U8Path(path), bytes); }

// The shell's own data object of local items of one folder, as Explorer drags them out of it:
// CF_HDROP with the items' paths (and the shell's other formats).
ComPtr<IDataObject> LocalData(const std::string& folder, const std::vector<std::string>& names)
{
    ComPtr<IShellFolder> desktop;
    SHGetDesktopFolder(&desktop);
    std::wstring wide = Utf8ToWide(folder);
    PIDLIST_RELATIVE list = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &list, nullptr)))
        return nullptr;
    TSxPidlPtr folderList(list);
    ComPtr<IShellFolder> parent;
    if (FAILED(desktop->BindToObject(folderList.get(), nullptr, IID_PPV_ARGS(&parent))))
        return nullptr;
    std::vector<TSxPidlPtr> items;
    std::vector<PCUITEMID_CHILD> children;
    for (const auto& name : names) {
        std::wstring n = Utf8ToWide(name);
        PIDLIST_RELATIVE child = nullptr;
        if (FAILED(parent->ParseDisplayName(nullptr, nullptr, n.data(), nullptr, &child, nullptr)))
            return nullptr;
        items.emplace_back(child);
        children.push_back(items.back().get());
    }
    ComPtr<IDataObject> data;
    if (FAILED(parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                     nullptr, reinterpret_cast<void**>(data.GetAddressOf()))))
        return nullptr;
    return data;
}

struct TDropResult {
    HRESULT Enter = E_FAIL, Drop = E_FAIL;
    DWORD EnterEffect = 0, Effect = 0;
};

// A drag over the target and the drop, with the keys held throughout.
TDropResult DragAndDrop(IDropTarget* target, IDataObject* data, DWORD keys,
                        DWORD allowed = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK)
{
    TDropResult result;
    const POINTL point{10, 10};
    DWORD effect = allowed;
    result.Enter = target->DragEnter(data, MK_LBUTTON | keys, point, &effect);
    result.EnterEffect = effect;
    effect = allowed;
    target->DragOver(MK_LBUTTON | keys, point, &effect);
    effect = allowed;
    result.Drop = target->Drop(data, keys, point, &effect);
    result.Effect = effect;
    return result;
}

void PressShift(bool down)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// A menu's item by its caption path (accelerator marks ignored): its command identifier, or 0.
UINT MenuCommand(HMENU menu, const std::vector<std::string>& captions, size_t depth = 0)
{
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STRING | MIIM_ID | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = 255;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info))
            continue;
        std::string caption = WideToUtf8(text);
        caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
        if (caption != captions[depth])
            continue;
        if (depth + 1 == captions.size())
            return info.wID;
        if (info.hSubMenu)
            return MenuCommand(info.hSubMenu, captions, depth + 1);
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------

class ComWritePath : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        OleInitialize(nullptr);
        User = new TOnlineUser("wpcom", false);
        ASSERT_EQ(RegSvr32(true), 0u);
    }
    static void TearDownTestSuite()
    {
        RegSvr32(false);
        delete User;
        User = nullptr;
        OleUninitialize();
    }
    void SetUp() override
    {
        // One install for the process (the library keeps its module), a fresh server tree per test.
        std::string box = std::string("wpcom_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : box)
            c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        User->MoveTo(box);
        User->StopTray();
        User->StartTray();
        Local = User->Install + "Eigene Dateien\\";
    }
    void TearDown() override
    {
        PressShift(false);
        OleSetClipboard(nullptr);
        Probe.reset();
        Folder.Reset();
        WriteRegistryString("Connection", "host", User->Host);
    }
    // The login listing, the online folder bound through the desktop and the notice window.
    void Connect()
    {
        ASSERT_TRUE(User->Login());
        ComPtr<IShellFolder> desktop;
        ASSERT_HRESULT_SUCCEEDED(SHGetDesktopFolder(&desktop));
        std::wstring name = Utf8ToWide(Root);
        PIDLIST_RELATIVE list = nullptr;
        ASSERT_HRESULT_SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &list, nullptr));
        RootList.reset(list);
        ASSERT_HRESULT_SUCCEEDED(desktop->BindToObject(RootList.get(), nullptr, IID_PPV_ARGS(&Folder)));
        Probe = std::make_unique<TNoticeProbe>(RootList.get());
        ASSERT_TRUE(Probe->Registered());
        Probe->Take();
    }

    // ---- the folder as Explorer sees it

    static std::vector<std::pair<std::string, TSxPidlPtr>> Items(IShellFolder* folder) { return SxFolderItems(folder); }
    // The folder at a "/" path below the online folder ("" the folder itself), or nullptr.
    ComPtr<IShellFolder> Bind(const std::string& path)
    {
        ComPtr<IShellFolder> current = Folder;
        size_t start = 0;
        while (current && start < path.size()) {
            const size_t slash = path.find('/', start);
            const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            ComPtr<IShellFolder> next;
            for (auto& [n, item] : Items(current.Get()))
                if (n == name && FAILED(current->BindToObject(item.get(), nullptr, IID_PPV_ARGS(&next))))
                    next.Reset();
            current = next;
            start = slash == std::string::npos ? path.size() : slash + 1;
        }
        return current;
    }
    TSxPidlPtr Item(IShellFolder* folder, const std::string& name)
    {
        for (auto& [n, item] : Items(folder))
            if (n == name)
                return std::move(item);
        return nullptr;
    }
    // What the folder at path shows: the mirror, as the folder enumerates it.
    std::set<std::string> Names(const std::string& path)
    {
        std::set<std::string> names;
        if (auto folder = Bind(path))
            for (auto& item : Items(folder.Get()))
                names.insert(item.first);
        return names;
    }
    // The absolute item-ID list of the folder at path.
    TSxPidlPtr FolderList(const std::string& path)
    {
        ComPtr<IPersistFolder2> persist;
        auto folder = Bind(path);
        PIDLIST_ABSOLUTE list = nullptr;
        if (!folder || FAILED(folder.As(&persist)) || FAILED(persist->GetCurFolder(&list)))
            return nullptr;
        return TSxPidlPtr(list);
    }
    // The items of that folder by name (the lists, and the array Explorer passes); false when
    // one is missing.
    bool ItemsNamed(IShellFolder* folder, const std::vector<std::string>& names, std::vector<TSxPidlPtr>& items,
                    std::vector<PCUITEMID_CHILD>& children)
    {
        for (const auto& name : names) {
            items.push_back(Item(folder, name));
            if (!items.back())
                return false;
            children.push_back(items.back().get());
        }
        return true;
    }
    // A UI object of items of the folder at path.
    template <typename T> ComPtr<T> UIObject(const std::string& path, const std::vector<std::string>& names)
    {
        auto folder = Bind(path);
        std::vector<TSxPidlPtr> items;
        std::vector<PCUITEMID_CHILD> children;
        if (!folder || !ItemsNamed(folder.Get(), names, items, children))
            return nullptr;
        ComPtr<T> object;
        if (FAILED(folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), __uuidof(T),
                                         nullptr, reinterpret_cast<void**>(object.GetAddressOf()))))
            return nullptr;
        return object;
    }
    // The drop target of the view of the folder at path (its background).
    ComPtr<IDropTarget> ViewTarget(const std::string& path)
    {
        ComPtr<IDropTarget> target;
        auto folder = Bind(path);
        if (!folder || FAILED(folder->CreateViewObject(nullptr, IID_IDropTarget,
                                                       reinterpret_cast<void**>(target.GetAddressOf()))))
            return nullptr;
        return target;
    }
    // The data object Windows' default folder menu hands its callback: the shell's, over the items.
    ComPtr<IDataObject> ShellSelection(const std::string& path, const std::vector<std::string>& names)
    {
        auto folder = Bind(path);
        TSxPidlPtr list = FolderList(path);
        std::vector<TSxPidlPtr> items;
        std::vector<PCUITEMID_CHILD> children;
        if (!folder || !list || !ItemsNamed(folder.Get(), names, items, children))
            return nullptr;
        ComPtr<IDataObject> data;
        if (FAILED(CIDLData_CreateFromIDArray(list.get(), static_cast<UINT>(children.size()), children.data(), &data)))
            return nullptr;
        return data;
    }
    // The system menu's callback, as Windows' default folder menu of the folder at path calls it.
    HRESULT MenuCallback(bool background, const std::string& path, IDataObject* data, UINT msg, WPARAM wParam,
                         LPARAM lParam)
    {
        auto folder = Bind(path);
        return Entry<TMenuCallback>("BrTestMenuCallback")(background ? 1 : 0, folder.Get(), nullptr, data, msg, wParam,
                                                          lParam);
    }
    // The product's items that the callback merges into the system menu; the one at that caption
    // path carried out. False when it is not offered.
    bool ClickMerged(bool background, const std::string& path, IDataObject* data, const std::vector<std::string>& captions)
    {
        auto folder = Bind(path);
        auto callback = Entry<TMenuCallback>("BrTestMenuCallback");
        HMENU menu = CreatePopupMenu();
        QCMINFO info{menu, 0, 100, 0x7FFF, nullptr};
        bool clicked = false;
        if (SUCCEEDED(callback(background ? 1 : 0, folder.Get(), nullptr, data, DFM_MERGECONTEXTMENU, CMF_NORMAL,
                               reinterpret_cast<LPARAM>(&info)))) {
            const UINT id = MenuCommand(menu, captions);
            if (id >= 100) {
                clicked = SUCCEEDED(
                    callback(background ? 1 : 0, folder.Get(), nullptr, data, DFM_INVOKECOMMAND, id - 100, 0));
            }
        }
        callback(background ? 1 : 0, folder.Get(), nullptr, data, 3 /* DFM_RELEASE */, 0, 0);
        DestroyMenu(menu);
        return clicked;
    }

    // ---- the server

    bool OnServer(const std::string& path) const { return TOnlineUser::Dav().Exists(User->Srv(path)); }
    std::string Server(const std::string& path) const
    {
        return OnServer(path) ? TOnlineUser::Dav().ReadFile(User->Srv(path)) : "<none>";
    }
    // The sandbox's tree: "/" separated paths (folders with a final "/") and the files' contents.
    std::map<std::string, std::string> Tree() const
    {
        std::map<std::string, std::string> tree;
        const fs::path root = TOnlineUser::Dav().Local(User->Box);
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
            const std::string name = davtest::PathU8(it->path().filename());
            if (name == ".thumb" || name == ".DAV") {
                it.disable_recursion_pending();
                continue;
            }
            std::string rel = davtest::PathU8(fs::relative(it->path(), root));
            std::replace(rel.begin(), rel.end(), '\\', '/');
            if (it->is_directory())
                tree[rel + "/"] = "";
            else
                tree[rel] = exttest::ReadLocal(it->path());
        }
        return tree;
    }
    // What changed on the server since before: "+path" made, "-path" gone, "~path" new contents.
    std::vector<std::string> ChangedSince(const std::map<std::string, std::string>& before) const
    {
        std::vector<std::string> changes;
        const auto after = Tree();
        for (const auto& [path, bytes] : after) {
            auto old = before.find(path);
            if (old == before.end())
                changes.push_back("+" + path);
            else if (old->second != bytes)
                changes.push_back("~" + path);
        }
        for (const auto& [path, bytes] : before)
            if (!after.count(path))
                changes.push_back("-" + path);
        std::sort(changes.begin(), changes.end());
        return changes;
    }
    std::vector<TDavLogLine> Requests(size_t mark, size_t atLeast) const
    {
        return TOnlineUser::Dav().LogSince(mark, User->Prefix(), atLeast, 5000);
    }
    // The requests that change something: "METHOD path status" (listings, tests and the
    // thumbnails' bookkeeping left out).
    std::vector<std::string> Changes(size_t mark, size_t atLeast) const
    {
        std::vector<std::string> changes;
        for (const auto& line : Requests(mark, atLeast))
            if (line.Method != "PROPFIND" && line.Method != "CREATETHUMBNAIL" &&
                line.Path.find("/.thumb") == std::string::npos)
                changes.push_back(line.Method + " " + line.Path.substr(User->Prefix().size()) + " " +
                                  std::to_string(line.Status));
        return changes;
    }
    // The mirror record of a server file ("\" separated path).
    TVirtualFileRecord MirrorRecord(const std::string& serverPath)
    {
        TVirtualFileStorage storage(User->Cache);
        const size_t cut = serverPath.rfind('\\');
        const std::string directory = storage.FolderDirectory(cut == std::string::npos ? "" : serverPath.substr(0, cut));
        const std::string name = cut == std::string::npos ? serverPath : serverPath.substr(cut + 1);
        TVirtualFileRecord record;
        const std::string cacheName = storage.FindCacheName(directory + name);
        if (!cacheName.empty())
            storage.LoadVirtualFileStorageFromFile(directory + cacheName, record);
        return record;
    }
    // How many mirror records of a server folder ("\" separated) carry that name.
    int RecordsNamed(const std::string& serverFolder, const std::string& name)
    {
        int records = 0;
        TVirtualFileStorage storage(User->Cache);
        for (const auto& file : storage.ListRecordFiles(storage.FolderDirectory(serverFolder))) {
            TVirtualFileRecord record;
            storage.LoadVirtualFileStorageFromFile(file, record);
            records += record.Name == name;
        }
        return records;
    }
    // The ERROR lines the library logged since the mark (a byte offset of its log).
    std::string LogFile() const { return User->Install + "PermanentModule.log"; }
    size_t LogMark() const { return exttest::ReadLocal(U8Path(LogFile())).size(); }
    std::vector<std::string> ErrorsSince(size_t mark) const
    {
        const std::string text = exttest::ReadLocal(U8Path(LogFile()));
        std::vector<std::string> errors;
        size_t start = std::min(mark, text.size());
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (line.find("|ERROR|") != std::string::npos)
                errors.push_back(line.substr(line.find("|ERROR|") + 7));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return errors;
    }

    static TOnlineUser* User;
    std::string Local;
    TSxPidlPtr RootList;
    ComPtr<IShellFolder> Folder;
    std::unique_ptr<TNoticeProbe> Probe;
};
TOnlineUser* ComWritePath::User = nullptr;

// ---- Rename through SetNameOf

TEST_F(ComWritePath, SetNameOfRenamesAFileAndAFolderOnTheServerAndTellsTheShell)
{
    Connect();
    auto documents = Bind("Dokumente");
    ASSERT_TRUE(documents);
    auto file = Item(documents.Get(), "Überblick.txt");
    ASSERT_TRUE(file);
    TAnswers answers({});
    auto before = Tree();
    size_t mark = TOnlineUser::Dav().LogMark();
    PITEMID_CHILD renamed = nullptr;
    ASSERT_HRESULT_SUCCEEDED(documents->SetNameOf(nullptr, file.get(), L"Überblick 2025.txt", SHGDN_INFOLDER, &renamed));
    TSxPidlPtr renamedItem(renamed);
    ASSERT_TRUE(renamedItem);
    EXPECT_EQ(DisplayName(documents.Get(), renamedItem.get()), "Überblick 2025.txt");
    auto lines = Requests(mark, 2);
    auto move = std::find_if(lines.begin(), lines.end(), [](const TDavLogLine& l) { return l.Method == "MOVE"; });
    ASSERT_NE(move, lines.end());
    EXPECT_EQ(move->Status, 201);
    EXPECT_EQ(move->Overwrite, "F");
    EXPECT_NE(move->Destination.find("/Dokumente/%C3%9Cberblick%202025.txt"), std::string::npos) << move->Destination;
    EXPECT_EQ(ChangedSince(before),
              (std::vector<std::string>{"+Dokumente/Überblick 2025.txt", "-Dokumente/Überblick.txt"}));
    EXPECT_EQ(Names("Dokumente"),
              (std::set<std::string>{"Bericht 100%.txt", "a b#c.txt", "Überblick 2025.txt", "報告書.txt"}));
    EXPECT_EQ(MirrorRecord("Dokumente\\Überblick 2025.txt").Path, "Dokumente");
    auto notices = Probe->Take();
    EXPECT_TRUE(Holds(notices, "RENAMEITEM Dokumente/Überblick.txt -> Dokumente/Überblick 2025.txt")) << Joined(notices);

    // A folder: the items below go along, on the server and in the mirror.
    auto fotos = Item(Folder.Get(), "Fotos");
    before = Tree();
    mark = TOnlineUser::Dav().LogMark();
    ASSERT_HRESULT_SUCCEEDED(Folder->SetNameOf(nullptr, fotos.get(), L"Bilder 2024", SHGDN_INFOLDER, &renamed));
    renamedItem.reset(renamed);
    EXPECT_EQ(Changes(mark, 2).front(), "MOVE Fotos/ 201");
    const auto changes = ChangedSince(before);
    EXPECT_TRUE(std::count(changes.begin(), changes.end(), "+Bilder 2024/Urlaub 2024/Tag 1.jpg"));
    EXPECT_TRUE(std::count(changes.begin(), changes.end(), "-Fotos/"));
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c[0] == '~'; }), 0);
    EXPECT_EQ(Names("Bilder 2024/Urlaub 2024"), std::set<std::string>{"Tag 1.jpg"});
    EXPECT_FALSE(Names("").count("Fotos"));
    EXPECT_EQ(MirrorRecord("Bilder 2024\\Urlaub 2024\\Tag 1.jpg").Path, "Bilder 2024\\Urlaub 2024");
    notices = Probe->Take();
    EXPECT_TRUE(Holds(notices, "RENAMEFOLDER Fotos -> Bilder 2024")) << Joined(notices);
    EXPECT_TRUE(answers.Asked.empty());
}

TEST_F(ComWritePath, SetNameOfOntoAnExistingNameOrWithAForbiddenCharacterChangesNothingAndTellsTheUser)
{
    Connect();
    struct Row {
        std::string folder, item;
        std::wstring newName;
        std::string warning;
    } rows[] = {
        {"", "Fotos", L"Dokumente", Txt(63)},                 // a folder onto a folder: no MOVE
        {"Dokumente", "a b#c.txt", L"Überblick.txt", Txt(63)},  // a file onto a file
        {"Dokumente", "a b#c.txt", L"a:b.txt", Txt(66)},        // Explorer's edit lets a colon through
        // The protected folders keep their names, whoever asks.
        {"", "Gelöschte Dateien", L"Papierkorb", FormatTableText(Txt(62), "Gelöschte Dateien")},
        {"", "Neue Dateianlagen", L"Anlagen", FormatTableText(Txt(62), "Neue Dateianlagen")},
    };
    for (const auto& row : rows) {
        auto folder = Bind(row.folder);
        auto item = Item(folder.Get(), row.item);
        ASSERT_TRUE(item) << row.item;
        TAnswers answers({});
        const auto before = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        PITEMID_CHILD renamed = nullptr;
        EXPECT_TRUE(FAILED(folder->SetNameOf(nullptr, item.get(), row.newName.c_str(), SHGDN_INFOLDER, &renamed)))
            << row.item;
        TSxPidlPtr renamedItem(renamed);
        EXPECT_EQ(renamedItem, nullptr);
        EXPECT_EQ(answers.Warnings(), std::vector<std::string>{row.warning}) << row.item;
        EXPECT_TRUE(Changes(mark, 0).empty()) << row.item;
        EXPECT_TRUE(ChangedSince(before).empty()) << row.item;
        EXPECT_TRUE(Names(row.folder).count(row.item)) << row.item;
        const auto notices = Probe->Take();
        EXPECT_TRUE(notices.empty()) << row.item << Joined(notices);
    }
}

// ---- New folder through the folder menus

TEST_F(ComWritePath, NewFolderFromTheBackgroundAndTheItemMenuProposesTheNextFreeName)
{
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Neuer Ordner"));
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Neuer Ordner 1"));
    Connect();
    {
        // The background of "Dokumente", as Windows' default menu calls its callback.
        auto background = ShellSelection("", {"Dokumente"});
        ASSERT_TRUE(background);
        TAnswers answers({TvrqScriptedAnswer(mrOk)});
        const auto before = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        ASSERT_TRUE(ClickMerged(true, "Dokumente", background.Get(), {"Neu", "Ordner"}));
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::NewFolderForm);
        EXPECT_EQ(answers.Asked[0].Name, "Neuer Ordner 2");
        EXPECT_EQ(Changes(mark, 1), std::vector<std::string>{"MKCOL Dokumente/Neuer Ordner 2/ 201"});
        EXPECT_EQ(ChangedSince(before), std::vector<std::string>{"+Dokumente/Neuer Ordner 2/"});
        EXPECT_TRUE(Names("Dokumente").count("Neuer Ordner 2"));
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "MKDIR Dokumente/Neuer Ordner 2")) << Joined(notices);
        EXPECT_TRUE(Holds(notices, "UPDATEDIR Dokumente")) << Joined(notices);
        // Made here, it can be renamed and deleted at once.
        auto made = Bind("Dokumente");
        auto item = Item(made.Get(), "Neuer Ordner 2");
        PCUITEMID_CHILD one[1] = {item.get()};
        SFGAOF mask = SFGAO_CANRENAME | SFGAO_CANDELETE;
        ASSERT_HRESULT_SUCCEEDED(made->GetAttributesOf(1, one, &mask));
        EXPECT_EQ(mask & (SFGAO_CANRENAME | SFGAO_CANDELETE), SFGAO_CANRENAME | SFGAO_CANDELETE);
    }
    {
        // The framework's own item menu of the folder item, through IContextMenu; a typed name
        // the mirror holds is told and makes nothing.
        Entry<void (*)(IShellFolder*, int)>("BrTestSetMenuOrigin")(Folder.Get(), 1);
        ComPtr<IContextMenu> menu;
        auto item = Item(Folder.Get(), "Dokumente");
        PCUITEMID_CHILD one[1] = {item.get()};
        ASSERT_HRESULT_SUCCEEDED(Folder->GetUIObjectOf(nullptr, 1, one, IID_IContextMenu, nullptr,
                                                        reinterpret_cast<void**>(menu.GetAddressOf())));
        HMENU popup = CreatePopupMenu();
        ASSERT_HRESULT_SUCCEEDED(menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL));
        const UINT id = MenuCommand(popup, {"Neu", "Ordner"});
        ASSERT_GE(id, 1u);
        CMINVOKECOMMANDINFO invoke{};
        invoke.cbSize = sizeof invoke;
        invoke.lpVerb = MAKEINTRESOURCEA(id - 1);
        invoke.nShow = SW_SHOWNORMAL;
        TAnswers taken({{mrOk, false, "Neuer Ordner 1"}});
        const size_t mark = TOnlineUser::Dav().LogMark();
        ASSERT_HRESULT_SUCCEEDED(menu->InvokeCommand(&invoke));
        ASSERT_EQ(taken.Asked.size(), 2u);
        EXPECT_EQ(taken.Asked[0].Name, "Neuer Ordner 3");
        EXPECT_EQ(taken.Asked[1].Text, Txt(61));
        EXPECT_TRUE(Changes(mark, 0).empty());
        TAnswers typed({{mrOk, false, "Ablage"}});
        ASSERT_HRESULT_SUCCEEDED(menu->InvokeCommand(&invoke));
        EXPECT_TRUE(OnServer("Dokumente/Ablage"));
        EXPECT_TRUE(Names("Dokumente").count("Ablage"));
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "MKDIR Dokumente/Ablage")) << Joined(notices);
        DestroyMenu(popup);
        Entry<void (*)(IShellFolder*, int)>("BrTestSetMenuOrigin")(Folder.Get(), 0);
    }
}

// ---- Delete, trash, emptying

TEST_F(ComWritePath, TheDeleteVerbMovesIntoTheTrashWithTheNextFreeNameThere)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Gelöschte Dateien/readme.txt"), "the one already in the trash");
    Connect();
    const std::string before = exttest::SeededText("readme.txt");
    // The framework's own item menu: its delete verb, by name.
    Entry<void (*)(IShellFolder*, int)>("BrTestSetMenuOrigin")(Folder.Get(), 1);
    auto menu = UIObject<IContextMenu>("", {"readme.txt"});
    Entry<void (*)(IShellFolder*, int)>("BrTestSetMenuOrigin")(Folder.Get(), 0);
    ASSERT_TRUE(menu);
    HMENU popup = CreatePopupMenu();
    ASSERT_HRESULT_SUCCEEDED(menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL));
    CMINVOKECOMMANDINFO invoke{};
    invoke.cbSize = sizeof invoke;
    invoke.lpVerb = "delete";
    invoke.nShow = SW_SHOWNORMAL;
    TAnswers answers({TvrqScriptedAnswer(mrYes)});
    const auto tree = Tree();
    const size_t mark = TOnlineUser::Dav().LogMark();
    ASSERT_HRESULT_SUCCEEDED(menu->InvokeCommand(&invoke));
    DestroyMenu(popup);
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::DeleteForm);
    const auto changes = Changes(mark, 1);
    EXPECT_TRUE(Holds(changes, "MOVE readme.txt 201")) << Joined(changes);
    EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Gelöschte Dateien/Kopie von readme.txt", "-readme.txt"}));
    EXPECT_EQ(Server("Gelöschte Dateien/readme.txt"), "the one already in the trash");
    EXPECT_EQ(Server("Gelöschte Dateien/Kopie von readme.txt"), before);
    EXPECT_FALSE(Names("").count("readme.txt"));
    EXPECT_EQ(Names("Gelöschte Dateien"),
              (std::set<std::string>{"alt.txt", "readme.txt", "Kopie von readme.txt"}));
    EXPECT_EQ(MirrorRecord("Gelöschte Dateien\\Kopie von readme.txt").Path, "Gelöschte Dateien");
    const auto notices = Probe->Take();
    EXPECT_TRUE(Holds(notices, "DELETE readme.txt")) << Joined(notices);
}

TEST_F(ComWritePath, ShiftDeleteDeleteInsideTheTrashAndEmptyingItGoForGood)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Gelöschte Dateien/Ordner alt/x.txt"), "x");
    Connect();
    {
        // Shift held: the system menu's delete asks the Yes/No box, then DELETE; nothing in the trash.
        auto selection = ShellSelection("Dokumente", {"a b#c.txt"});
        PressShift(true);
        TAnswers answers({TvrqScriptedAnswer(mrYes)});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        EXPECT_EQ(MenuCallback(false, "Dokumente", selection.Get(), DFM_INVOKECOMMAND, DFM_CMD_DELETE, 0), S_OK);
        PressShift(false);
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
        EXPECT_EQ(Changes(mark, 1), std::vector<std::string>{"DELETE Dokumente/a b#c.txt 204"});
        EXPECT_EQ(ChangedSince(tree), std::vector<std::string>{"-Dokumente/a b#c.txt"});
        EXPECT_FALSE(Names("Dokumente").count("a b#c.txt"));
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "DELETE Dokumente/a b#c.txt")) << Joined(notices);
    }
    {
        // Inside the trash (a folder there): for good, without the choice of the delete form.
        auto selection = ShellSelection("Gelöschte Dateien", {"Ordner alt"});
        TAnswers answers({TvrqScriptedAnswer(mrYes)});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        EXPECT_EQ(MenuCallback(false, "Gelöschte Dateien", selection.Get(), DFM_INVOKECOMMAND, DFM_CMD_DELETE, 0), S_OK);
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
        EXPECT_EQ(Changes(mark, 1), std::vector<std::string>{"DELETE Gelöschte Dateien/Ordner alt/ 204"});
        EXPECT_EQ(ChangedSince(tree),
                  (std::vector<std::string>{"-Gelöschte Dateien/Ordner alt/", "-Gelöschte Dateien/Ordner alt/x.txt"}));
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "RMDIR Gelöschte Dateien/Ordner alt")) << Joined(notices);
    }
    {
        // Emptying: only the trash's menu offers it; one question; each child deleted for good.
        auto documents = ShellSelection("", {"Dokumente"});
        EXPECT_FALSE(ClickMerged(false, "", documents.Get(), {Txt(52)}));
        TOnlineUser::Dav().WriteFile(User->Srv("Gelöschte Dateien/Unterordner/y.txt"), "y");
        auto trash = ShellSelection("", {"Gelöschte Dateien"});
        TAnswers answers({TvrqScriptedAnswer(mrYes)});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        ASSERT_TRUE(ClickMerged(false, "", trash.Get(), {Txt(52)}));
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
        EXPECT_EQ(answers.Asked[0].Text, "Sollen diese 1 Elemente wirklich gelöscht werden?");
        EXPECT_EQ(Changes(mark, 1), std::vector<std::string>{"DELETE Gelöschte Dateien/alt.txt 204"});
        // What the mirror did not know yet stays: the server's listing shows it afterwards.
        EXPECT_EQ(ChangedSince(tree), std::vector<std::string>{"-Gelöschte Dateien/alt.txt"});
        EXPECT_EQ(Names("Gelöschte Dateien"), std::set<std::string>{"Unterordner"});
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "DELETE Gelöschte Dateien/alt.txt")) << Joined(notices);
        EXPECT_TRUE(Holds(notices, "UPDATEDIR Gelöschte Dateien")) << Joined(notices);
    }
}

TEST_F(ComWritePath, ADeleteOfASelectionHoldingAProtectedFolderSecondDeletesNothingAndTellsTheUser)
{
    Connect();
    auto selection = ShellSelection("", {"readme.txt", "Neue Dateianlagen"});
    ASSERT_TRUE(selection);
    TAnswers answers({TvrqScriptedAnswer(mrYes)});
    const auto tree = Tree();
    const size_t mark = TOnlineUser::Dav().LogMark();
    EXPECT_EQ(MenuCallback(false, "", selection.Get(), DFM_INVOKECOMMAND, DFM_CMD_DELETE, 0), S_OK);
    ASSERT_EQ(answers.Asked.size(), 1u);
    EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::WarningBox);
    EXPECT_NE(answers.Asked[0].Text.find("Neue Dateianlagen"), std::string::npos) << answers.Asked[0].Text;
    EXPECT_TRUE(Changes(mark, 0).empty());
    EXPECT_TRUE(ChangedSince(tree).empty());
    EXPECT_TRUE(Names("").count("readme.txt") && Names("").count("Neue Dateianlagen"));
    EXPECT_TRUE(Probe->Take().empty());
}

// ---- Drops of local files and folders

TEST_F(ComWritePath, LocalFilesDroppedOnAFolderItemAreUploadedAndReplacedOnlyOnYes)
{
    Connect();
    for (const char* name : {"Brief an Jürgen.txt", "Überblick.txt", "Rechnung #7.txt"})
        WriteLocalFile(Local + name, std::string(1000, 'b'));
    const std::string old = exttest::SeededText("Dokumente/Überblick.txt");
    auto data = LocalData(Local, {"Brief an Jürgen.txt", "Überblick.txt", "Rechnung #7.txt"});
    ASSERT_TRUE(data);
    {
        // Onto the folder item "Dokumente" of the root, moved with Shift; No to the one that is
        // there holds for it only. Not every file went: the drop reports a copy, so the source
        // deletes none of them.
        auto target = UIObject<IDropTarget>("", {"Dokumente"});
        ASSERT_TRUE(target);
        TAnswers answers({TvrqScriptedAnswer(mrNo)});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        const auto result = DragAndDrop(target.Get(), data.Get(), MK_SHIFT);
        EXPECT_EQ(result.EnterEffect, static_cast<DWORD>(DROPEFFECT_MOVE));
        EXPECT_HRESULT_SUCCEEDED(result.Drop);
        EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_COPY));
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::OverwriteForm);
        EXPECT_EQ(Changes(mark, 2), (std::vector<std::string>{"PUT Dokumente/Brief an Jürgen.txt 201",
                                                               "PUT Dokumente/Rechnung #7.txt 201"}));
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Dokumente/Brief an Jürgen.txt",
                                                                "+Dokumente/Rechnung #7.txt"}));
        EXPECT_EQ(Server("Dokumente/Überblick.txt"), old);
        const auto names = Names("Dokumente");
        EXPECT_TRUE(names.count("Brief an Jürgen.txt") && names.count("Rechnung #7.txt"));
        EXPECT_EQ(MirrorRecord("Dokumente\\Rechnung #7.txt").Size, 1000);
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "UPDATEDIR Dokumente")) << Joined(notices);
        EXPECT_TRUE(exttest::LocalExists(Local + "Überblick.txt")) << "a drop keeps the user's files";
    }
    {
        // Yes, into the view of "Dokumente": the PUT replaces it; nothing is deleted before it.
        auto target = ViewTarget("Dokumente");
        ASSERT_TRUE(target);
        auto one = LocalData(Local, {"Überblick.txt"});
        TAnswers answers({TvrqScriptedAnswer(mrYes)});
        const size_t mark = TOnlineUser::Dav().LogMark();
        // Every file of the drop went: a move is a move.
        const auto result = DragAndDrop(target.Get(), one.Get(), MK_SHIFT);
        EXPECT_HRESULT_SUCCEEDED(result.Drop);
        EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_MOVE));
        EXPECT_EQ(Changes(mark, 1), std::vector<std::string>{"PUT Dokumente/Überblick.txt 204"});
        EXPECT_EQ(Server("Dokumente/Überblick.txt"), std::string(1000, 'b'));
        EXPECT_EQ(MirrorRecord("Dokumente\\Überblick.txt").Size, 1000);
        EXPECT_EQ(RecordsNamed("Dokumente", "Überblick.txt"), 1);
    }
}

TEST_F(ComWritePath, ALocalFolderTreeDroppedIntoTheViewIsMadeOnTheServerFolderByFolder)
{
    Connect();
    WriteLocalFile(Local + "Projekt\\Plan.txt", "plan");
    WriteLocalFile(Local + "Projekt\\Entwürfe\\Skizze 1.txt", "skizze");
    WriteLocalFile(Local + "Projekt\\Entwürfe\\Tiefer\\x.txt", "x");
    CreateDirectoryW(Utf8ToWide(Local + "Projekt\\Leer").c_str(), nullptr);
    auto data = LocalData(Local, {"Projekt"});
    ASSERT_TRUE(data);
    auto target = ViewTarget("Dokumente");
    ASSERT_TRUE(target);
    TAnswers answers({});
    const auto tree = Tree();
    const size_t mark = TOnlineUser::Dav().LogMark();
    const auto result = DragAndDrop(target.Get(), data.Get(), 0);
    EXPECT_HRESULT_SUCCEEDED(result.Drop);
    EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_COPY));
    EXPECT_TRUE(answers.Asked.empty());
    const auto changes = Changes(mark, 7);
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("MKCOL", 0) == 0; }), 4)
        << Joined(changes);
    EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{
                                      "+Dokumente/Projekt/", "+Dokumente/Projekt/Entwürfe/",
                                      "+Dokumente/Projekt/Entwürfe/Skizze 1.txt", "+Dokumente/Projekt/Entwürfe/Tiefer/",
                                      "+Dokumente/Projekt/Entwürfe/Tiefer/x.txt", "+Dokumente/Projekt/Leer/",
                                      "+Dokumente/Projekt/Plan.txt"}));
    EXPECT_EQ(Server("Dokumente/Projekt/Entwürfe/Skizze 1.txt"), "skizze");
    EXPECT_EQ(Names("Dokumente/Projekt"), (std::set<std::string>{"Entwürfe", "Leer", "Plan.txt"}));
    EXPECT_EQ(Names("Dokumente/Projekt/Entwürfe/Tiefer"), std::set<std::string>{"x.txt"});
    EXPECT_EQ(MirrorRecord("Dokumente\\Projekt\\Entwürfe\\Skizze 1.txt").Path, "Dokumente\\Projekt\\Entwürfe");
    const auto notices = Probe->Take();
    EXPECT_TRUE(Holds(notices, "MKDIR Dokumente/Projekt")) << Joined(notices);
    EXPECT_TRUE(Holds(notices, "MKDIR Dokumente/Projekt/Entwürfe/Tiefer")) << Joined(notices);

    // The same tree again: the folder there is merged only on Yes.
    WriteLocalFile(Local + "Projekt\\Neu.txt", "neu");
    {
        TAnswers no({TvrqScriptedAnswer(mrNo)});
        const auto again = Tree();
        EXPECT_EQ(DragAndDrop(ViewTarget("Dokumente").Get(), LocalData(Local, {"Projekt"}).Get(), 0).Effect,
                  static_cast<DWORD>(DROPEFFECT_NONE));
        ASSERT_EQ(no.Asked.size(), 1u);
        EXPECT_EQ(no.Asked[0].Kind, TvrqQuestionKind::OverwriteForm);
        EXPECT_TRUE(ChangedSince(again).empty());
    }
    TAnswers all({TvrqScriptedAnswer(mrYesToAll)});
    const auto again = Tree();
    EXPECT_HRESULT_SUCCEEDED(DragAndDrop(ViewTarget("Dokumente").Get(), LocalData(Local, {"Projekt"}).Get(), 0).Drop);
    EXPECT_EQ(all.Asked.size(), 1u) << "Yes to all holds for the folders and files below";
    EXPECT_EQ(ChangedSince(again), std::vector<std::string>{"+Dokumente/Projekt/Neu.txt"});
    EXPECT_TRUE(Names("Dokumente/Projekt").count("Neu.txt"));
}

// ---- Copy and move of the folder's own items

TEST_F(ComWritePath, DraggingOwnItemsCopiesWithControlAndMovesWithout)
{
    Connect();
    {
        // Ctrl: a copy onto the folder item "Fotos"; the source stays.
        auto data = UIObject<IDataObject>("Dokumente", {"Überblick.txt"});
        auto target = UIObject<IDropTarget>("", {"Fotos"});
        ASSERT_TRUE(data && target);
        TAnswers answers({});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        const auto result = DragAndDrop(target.Get(), data.Get(), MK_CONTROL);
        EXPECT_EQ(result.EnterEffect, static_cast<DWORD>(DROPEFFECT_COPY));
        EXPECT_HRESULT_SUCCEEDED(result.Drop);
        EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_COPY));
        auto lines = Requests(mark, 1);
        auto copy = std::find_if(lines.begin(), lines.end(), [](const TDavLogLine& l) { return l.Method == "COPY"; });
        ASSERT_NE(copy, lines.end());
        EXPECT_EQ(copy->Status, 201);
        EXPECT_EQ(copy->Overwrite, "F");
        EXPECT_EQ(ChangedSince(tree), std::vector<std::string>{"+Fotos/Überblick.txt"});
        EXPECT_TRUE(Names("Fotos").count("Überblick.txt"));
        EXPECT_TRUE(Names("Dokumente").count("Überblick.txt"));
        EXPECT_EQ(MirrorRecord("Fotos\\Überblick.txt").Path, "Fotos");
        EXPECT_TRUE(answers.Asked.empty());
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "UPDATEDIR Fotos")) << Joined(notices);
    }
    {
        // No keys: own items move; a file and a folder into "Dokumente"; each source goes only
        // after its copy is stored.
        auto data = UIObject<IDataObject>("", {"readme.txt", "Alte Gelöschte Dateien"});
        auto target = UIObject<IDropTarget>("", {"Dokumente"});
        ASSERT_TRUE(data && target);
        TAnswers answers({});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        const auto result = DragAndDrop(target.Get(), data.Get(), 0);
        EXPECT_EQ(result.EnterEffect, static_cast<DWORD>(DROPEFFECT_MOVE));
        EXPECT_HRESULT_SUCCEEDED(result.Drop);
        EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_MOVE));
        const auto changes = Changes(mark, 4);
        EXPECT_EQ(changes, (std::vector<std::string>{"COPY readme.txt 201", "COPY Alte Gelöschte Dateien/ 201",
                                                     "DELETE readme.txt 204", "DELETE Alte Gelöschte Dateien/ 204"}))
            << Joined(changes);
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Dokumente/Alte Gelöschte Dateien/", "+Dokumente/readme.txt",
                                                                "-Alte Gelöschte Dateien/", "-readme.txt"}));
        EXPECT_FALSE(Names("").count("readme.txt"));
        EXPECT_FALSE(Names("").count("Alte Gelöschte Dateien"));
        EXPECT_TRUE(Names("Dokumente").count("readme.txt") && Names("Dokumente").count("Alte Gelöschte Dateien"));
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "DELETE readme.txt")) << Joined(notices);
        EXPECT_TRUE(Holds(notices, "RMDIR Alte Gelöschte Dateien")) << Joined(notices);
        EXPECT_TRUE(answers.Asked.empty());
    }
}

TEST_F(ComWritePath, MovingOntoAFileOfThatNameReplacesItOnlyOnYes)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/readme.txt"), "the one in Dokumente");
    Connect();
    const std::string moved = exttest::SeededText("readme.txt");
    {
        // No: nothing copied, the source stays where it is.
        TAnswers answers({TvrqScriptedAnswer(mrNo)});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        const auto result = DragAndDrop(UIObject<IDropTarget>("", {"Dokumente"}).Get(),
                                        UIObject<IDataObject>("", {"readme.txt"}).Get(), 0);
        EXPECT_NE(result.Effect, static_cast<DWORD>(DROPEFFECT_MOVE));
        ASSERT_EQ(answers.Asked.size(), 1u);
        EXPECT_EQ(answers.Asked[0].Kind, TvrqQuestionKind::YesNoBox);
        EXPECT_TRUE(Changes(mark, 0).empty());
        EXPECT_TRUE(ChangedSince(tree).empty());
        EXPECT_TRUE(Names("").count("readme.txt"));
    }
    // Yes: the COPY replaces the target ("Overwrite: T"), then the source goes.
    TAnswers answers({TvrqScriptedAnswer(mrYes)});
    const auto tree = Tree();
    const size_t mark = TOnlineUser::Dav().LogMark();
    const auto result = DragAndDrop(UIObject<IDropTarget>("", {"Dokumente"}).Get(),
                                    UIObject<IDataObject>("", {"readme.txt"}).Get(), 0);
    EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_MOVE));
    auto lines = Requests(mark, 2);
    auto copy = std::find_if(lines.begin(), lines.end(), [](const TDavLogLine& l) { return l.Method == "COPY"; });
    ASSERT_NE(copy, lines.end());
    EXPECT_EQ(copy->Overwrite, "T");
    EXPECT_EQ(Changes(mark, 2), (std::vector<std::string>{"COPY readme.txt 204", "DELETE readme.txt 204"}));
    EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"-readme.txt", "~Dokumente/readme.txt"}));
    EXPECT_EQ(Server("Dokumente/readme.txt"), moved);
    EXPECT_FALSE(Names("").count("readme.txt"));
    EXPECT_EQ(RecordsNamed("Dokumente", "readme.txt"), 1);
}

TEST_F(ComWritePath, ControlDragOntoItsOwnFolderMakesCopyNamedCopies)
{
    Connect();
    TAnswers answers({});
    for (int i = 0; i < 2; ++i) {
        auto data = UIObject<IDataObject>("Dokumente", {"Überblick.txt"});
        auto target = ViewTarget("Dokumente");
        ASSERT_TRUE(data && target);
        const auto result = DragAndDrop(target.Get(), data.Get(), MK_CONTROL);
        EXPECT_HRESULT_SUCCEEDED(result.Drop);
        EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_COPY));
    }
    EXPECT_EQ(Server("Dokumente/Kopie von Überblick.txt"), exttest::SeededText("Dokumente/Überblick.txt"));
    EXPECT_EQ(Server("Dokumente/Kopie (2) von Überblick.txt"), exttest::SeededText("Dokumente/Überblick.txt"));
    const auto names = Names("Dokumente");
    EXPECT_TRUE(names.count("Überblick.txt") && names.count("Kopie von Überblick.txt") &&
                names.count("Kopie (2) von Überblick.txt"));
    EXPECT_EQ(MirrorRecord("Dokumente\\Kopie (2) von Überblick.txt").Name, "Kopie (2) von Überblick.txt");
    // A folder: the server copies it whole, the mirror lists the copy.
    {
        const auto tree = Tree();
        const auto result = DragAndDrop(ViewTarget("Fotos").Get(), UIObject<IDataObject>("Fotos", {"Urlaub 2024"}).Get(),
                                        MK_CONTROL);
        EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_COPY));
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Fotos/Kopie von Urlaub 2024/",
                                                                "+Fotos/Kopie von Urlaub 2024/Tag 1.jpg"}));
        EXPECT_EQ(Names("Fotos/Kopie von Urlaub 2024"), std::set<std::string>{"Tag 1.jpg"});
        EXPECT_EQ(Names("Fotos/Urlaub 2024"), std::set<std::string>{"Tag 1.jpg"});
        const auto notices = Probe->Take();
        EXPECT_TRUE(Holds(notices, "UPDATEDIR Fotos")) << Joined(notices);
    }
    // Without Ctrl it is a move onto its own place: nothing happens.
    const auto tree = Tree();
    const size_t mark = TOnlineUser::Dav().LogMark();
    auto data = UIObject<IDataObject>("Dokumente", {"Überblick.txt"});
    DragAndDrop(ViewTarget("Dokumente").Get(), data.Get(), 0);
    EXPECT_TRUE(Changes(mark, 0).empty());
    EXPECT_TRUE(ChangedSince(tree).empty());
    EXPECT_TRUE(answers.Asked.empty());
}

TEST_F(ComWritePath, CutAndCopyPasteThroughTheClipboard)
{
    Connect();
    {
        // Copy from the item menu, paste into the background of "Meine Bilder".
        auto selection = UIObject<IDataObject>("Dokumente", {"Bericht 100%.txt"});
        ASSERT_TRUE(selection);
        EXPECT_EQ(MenuCallback(false, "Dokumente", selection.Get(), DFM_INVOKECOMMAND, DFM_CMD_COPY, 0), S_FALSE);
        TAnswers answers({});
        const auto tree = Tree();
        auto background = ShellSelection("", {"Meine Bilder"});
        EXPECT_EQ(MenuCallback(true, "Meine Bilder", background.Get(), DFM_INVOKECOMMAND, DFM_CMD_PASTE, 0), S_OK);
        EXPECT_EQ(ChangedSince(tree), std::vector<std::string>{"+Meine Bilder/Bericht 100%.txt"});
        EXPECT_TRUE(Names("Meine Bilder").count("Bericht 100%.txt"));
        EXPECT_TRUE(Names("Dokumente").count("Bericht 100%.txt"));
        EXPECT_TRUE(answers.Asked.empty());
    }
    {
        // Cut: the paste moves, the source goes once its copy is stored.
        auto selection = UIObject<IDataObject>("Fotos", {"Notizen.txt", "Urlaub 2024"});
        ASSERT_TRUE(selection);
        EXPECT_EQ(MenuCallback(false, "Fotos", selection.Get(), DFM_INVOKECOMMAND, DFM_CMD_MOVE, 0), S_FALSE);
        TAnswers answers({});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        auto background = ShellSelection("", {"Meine Bilder"});
        EXPECT_EQ(MenuCallback(true, "Meine Bilder", background.Get(), DFM_INVOKECOMMAND, DFM_CMD_PASTE, 0), S_OK);
        const auto changes = Changes(mark, 4);
        EXPECT_EQ(changes, (std::vector<std::string>{"COPY Fotos/Notizen.txt 201", "COPY Fotos/Urlaub 2024/ 201",
                                                     "DELETE Fotos/Notizen.txt 204", "DELETE Fotos/Urlaub 2024/ 204"}))
            << Joined(changes);
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{
                                          "+Meine Bilder/Notizen.txt", "+Meine Bilder/Urlaub 2024/",
                                          "+Meine Bilder/Urlaub 2024/Tag 1.jpg", "-Fotos/Notizen.txt",
                                          "-Fotos/Urlaub 2024/", "-Fotos/Urlaub 2024/Tag 1.jpg"}));
        EXPECT_EQ(Names("Fotos"), (std::set<std::string>{"Strand 1.jpg", "Düne #2.jpg", "富士山.jpg"}));
        EXPECT_EQ(Names("Meine Bilder/Urlaub 2024"), std::set<std::string>{"Tag 1.jpg"});
        EXPECT_TRUE(answers.Asked.empty());
    }
}

// The framework's own menus (the item menu the product shows under Wine, the background menu
// with its paste): their clipboard verbs by name and by offset do what the system menu's do.
TEST_F(ComWritePath, TheFrameworksMenusCutCopyAndPasteByVerbAndByOffset)
{
    TOnlineUser::Dav().WriteFile(User->Srv("nocopy/Akte.txt"), "akte");
    Connect();
    struct TMenu {
        ComPtr<IContextMenu> Menu;
        HMENU Popup = nullptr;
        ~TMenu() { DestroyMenu(Popup); }
        // By the verb's name (text) or by the offset of the item at that caption (number).
        HRESULT Invoke(const std::string& verb, const std::string& caption = "")
        {
            CMINVOKECOMMANDINFO invoke{};
            invoke.cbSize = sizeof invoke;
            invoke.nShow = SW_SHOWNORMAL;
            invoke.lpVerb = verb.c_str();
            if (!caption.empty()) {
                const UINT id = MenuCommand(Popup, {caption});
                if (id < 1)
                    return E_UNEXPECTED;
                invoke.lpVerb = MAKEINTRESOURCEA(id - 1);
            }
            return Menu->InvokeCommand(&invoke);
        }
    };
    auto built = [](ComPtr<IContextMenu> menu) {
        auto made = std::make_unique<TMenu>();
        made->Menu = std::move(menu);
        made->Popup = CreatePopupMenu();
        if (!made->Menu || FAILED(made->Menu->QueryContextMenu(made->Popup, 0, 1, 0x7FFF, CMF_NORMAL)))
            return std::unique_ptr<TMenu>();
        return made;
    };
    auto itemMenu = [&](const std::string& path, const std::vector<std::string>& names) {
        Entry<void (*)(IShellFolder*, int)>("BrTestSetMenuOrigin")(Folder.Get(), 1);
        auto menu = UIObject<IContextMenu>(path, names);
        Entry<void (*)(IShellFolder*, int)>("BrTestSetMenuOrigin")(Folder.Get(), 0);
        return built(menu);
    };
    auto backgroundMenu = [&](const std::string& path) {
        ComPtr<IContextMenu> menu;
        auto folder = Bind(path);
        if (!folder || FAILED(Entry<HRESULT (*)(IShellFolder*, IContextMenu**)>("BrTestBackgroundMenu")(
                           folder.Get(), menu.GetAddressOf())))
            return std::unique_ptr<TMenu>();
        return built(menu);
    };
    // What the clipboard holds: its formats and the effect the source prefers.
    auto clipboard = [] {
        std::string held;
        ComPtr<IDataObject> data;
        if (FAILED(OleGetClipboard(&data)) || !data)
            return held;
        for (const wchar_t* name : {L"SxCF_PrivateFormat", L"Shell IDList Array"}) {
            FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name)), nullptr, DVASPECT_CONTENT, -1,
                             TYMED_HGLOBAL};
            if (data->QueryGetData(&format) == S_OK)
                held += WideToUtf8(name) + ";";
        }
        FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Preferred DropEffect")), nullptr,
                         DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (SUCCEEDED(data->GetData(&format, &medium))) {
            if (auto* effect = static_cast<const DWORD*>(GlobalLock(medium.hGlobal))) {
                held += "effect " + std::to_string(*effect);
                GlobalUnlock(medium.hGlobal);
            }
            ReleaseStgMedium(&medium);
        }
        return held;
    };
    const std::string copied = "SxCF_PrivateFormat;Shell IDList Array;effect 1",
                      cut = "SxCF_PrivateFormat;Shell IDList Array;effect 2";
    {
        // Copy by name, then paste into the background of "Meine Bilder" by offset.
        auto menu = itemMenu("Dokumente", {"Bericht 100%.txt", "Überblick.txt"});
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->Invoke("copy"), S_OK);
        EXPECT_EQ(clipboard(), copied);
        auto background = backgroundMenu("Meine Bilder");
        ASSERT_TRUE(background);
        TAnswers answers({});
        const auto tree = Tree();
        ASSERT_EQ(background->Invoke("", "Einfügen"), S_OK);
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Meine Bilder/Bericht 100%.txt",
                                                                 "+Meine Bilder/Überblick.txt"}));
        EXPECT_EQ(Names("Dokumente").count("Bericht 100%.txt"), 1u);
        EXPECT_EQ(Names("Meine Bilder").count("Überblick.txt"), 1u);
        EXPECT_TRUE(answers.Asked.empty());
    }
    {
        // Copy by offset, paste by name on the folder item "Fotos": into that folder.
        auto menu = itemMenu("", {"readme.txt"});
        ASSERT_TRUE(menu);
        OleSetClipboard(nullptr);
        ASSERT_EQ(menu->Invoke("", "Kopieren"), S_OK);
        EXPECT_EQ(clipboard(), copied);
        auto target = itemMenu("", {"Fotos"});
        ASSERT_TRUE(target);
        TAnswers answers({});
        const auto tree = Tree();
        ASSERT_EQ(target->Invoke("paste"), S_OK);
        EXPECT_EQ(ChangedSince(tree), std::vector<std::string>{"+Fotos/readme.txt"});
    }
    {
        // Cut by offset, paste by offset on the folder item "Dokumente": only what arrived there
        // goes from its old place; the folder whose copy the server refuses stays whole.
        auto menu = itemMenu("", {"nocopy", "readme.txt"});
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->Invoke("", "Ausschneiden"), S_OK);
        EXPECT_EQ(clipboard(), cut);
        auto target = itemMenu("", {"Dokumente"});
        ASSERT_TRUE(target);
        TAnswers answers({});
        const auto tree = Tree();
        const size_t mark = TOnlineUser::Dav().LogMark();
        ASSERT_EQ(target->Invoke("", "Einfügen"), S_OK);
        const auto changes = Changes(mark, 3);
        EXPECT_EQ(changes, (std::vector<std::string>{"COPY nocopy/ 403", "COPY readme.txt 201", "DELETE readme.txt 204"}))
            << Joined(changes);
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Dokumente/readme.txt", "-readme.txt"}));
        EXPECT_EQ(answers.Warnings(), std::vector<std::string>{FormatTableText(Txt(64), "nocopy")});
        EXPECT_EQ(Names("nocopy"), std::set<std::string>{"Akte.txt"});
        EXPECT_FALSE(Names("").count("readme.txt"));
    }
    {
        // A paste with nothing to paste, and a verb a file item does not have, answer failures.
        OleSetClipboard(nullptr);
        auto background = backgroundMenu("Dokumente");
        ASSERT_TRUE(background);
        const auto tree = Tree();
        EXPECT_TRUE(FAILED(background->Invoke("paste")));
        auto target = itemMenu("", {"Fotos"});
        ASSERT_TRUE(target);
        EXPECT_TRUE(FAILED(target->Invoke("", "Einfügen")));
        auto file = itemMenu("Dokumente", {"Bericht 100%.txt"});
        ASSERT_TRUE(file);
        EXPECT_TRUE(FAILED(file->Invoke("paste")));
        EXPECT_TRUE(ChangedSince(tree).empty());
    }
}

// ---- Faults: nothing lost, the user told

TEST_F(ComWritePath, AnUploadTheServerRefusesKeepsEverythingAndTellsTheUser)
{
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/readonly/Plan.txt"), "the server's plan");
    Connect();
    WriteLocalFile(Local + "Plan.txt", "mine");
    WriteLocalFile(Local + "Neu.txt", "neu");
    auto target = UIObject<IDropTarget>("Dokumente", {"readonly"});
    ASSERT_TRUE(target);
    TAnswers answers({TvrqScriptedAnswer(mrYes)});
    const auto tree = Tree();
    const size_t logMark = LogMark();
    const size_t mark = TOnlineUser::Dav().LogMark();
    const auto result = DragAndDrop(target.Get(), LocalData(Local, {"Plan.txt", "Neu.txt"}).Get(), 0);
    EXPECT_EQ(result.Effect, static_cast<DWORD>(DROPEFFECT_NONE)) << "nothing arrived";
    EXPECT_EQ(Changes(mark, 2), (std::vector<std::string>{"PUT Dokumente/readonly/Plan.txt 403",
                                                           "PUT Dokumente/readonly/Neu.txt 403"}));
    EXPECT_EQ(answers.Warnings(), (std::vector<std::string>{FormatTableText(Txt(64), "Plan.txt"),
                                                            FormatTableText(Txt(64), "Neu.txt")}));
    EXPECT_EQ(ErrorsSince(logMark).size(), 2u);
    EXPECT_TRUE(ChangedSince(tree).empty());
    EXPECT_EQ(Names("Dokumente/readonly"), std::set<std::string>{"Plan.txt"});
    EXPECT_EQ(MirrorRecord("Dokumente\\readonly\\Plan.txt").Size, 17);
    EXPECT_EQ(exttest::ReadLocal(U8Path(Local + "Plan.txt")), "mine");
}

TEST_F(ComWritePath, ARefusedCopyNeverCostsItsSource)
{
    TOnlineUser::Dav().WriteFile(User->Srv("nocopy/Vertrag.txt"), "vertrag");
    TOnlineUser::Dav().MakeFolder(User->Srv("Dokumente/Fotos"));
    TOnlineUser::Dav().WriteFile(User->Srv("Dokumente/Fotos/eigenes.txt"), "kept");
    Connect();
    struct Row {
        std::string what, folder;
        std::vector<std::string> items;
        std::string target;
        std::vector<std::string> warnings;
        bool logged;   // a server failure: one ERROR line too
    } rows[] = {
        // The server refuses the COPY (403): the move keeps its source.
        {"refused", "nocopy", {"Vertrag.txt"}, "Dokumente", {FormatTableText(Txt(64), "Vertrag.txt")}, true},
        // The target folder went from the server behind the mirror's back (409).
        {"conflict", "", {"readme.txt"}, "Meine Bilder", {FormatTableText(Txt(64), "readme.txt")}, true},
        // A folder onto a folder of that name: never replaced whole, nothing copied.
        {"existing folder", "", {"Fotos"}, "Dokumente",
         {"Der Ordner \"Fotos\" ist dort bereits vorhanden und wird nicht ersetzt."},
         false},
    };
    for (const auto& row : rows) {
        if (row.what == "conflict")
            fs::remove_all(TOnlineUser::Dav().Local(User->Srv("Meine Bilder")));
        auto data = UIObject<IDataObject>(row.folder, row.items);
        auto target = UIObject<IDropTarget>("", {row.target});
        ASSERT_TRUE(data && target) << row.what;
        TAnswers answers({});
        const auto tree = Tree();
        const size_t logMark = LogMark();
        const size_t mark = TOnlineUser::Dav().LogMark();
        const auto result = DragAndDrop(target.Get(), data.Get(), 0);
        EXPECT_NE(result.Effect, static_cast<DWORD>(DROPEFFECT_MOVE)) << row.what;
        const auto changes = Changes(mark, 0);
        EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("DELETE", 0) == 0; }),
                  0)
            << row.what << Joined(changes);
        EXPECT_EQ(answers.Warnings(), row.warnings) << row.what;
        EXPECT_EQ(!ErrorsSince(logMark).empty(), row.logged) << row.what;
        EXPECT_TRUE(ChangedSince(tree).empty()) << row.what;
        for (const auto& item : row.items)
            EXPECT_TRUE(Names(row.folder).count(item)) << row.what;
        EXPECT_EQ(Server("Dokumente/Fotos/eigenes.txt"), "kept");
    }
}

TEST_F(ComWritePath, AMoveOfTwoFoldersWhoseFirstCopyFailsMovesOnlyTheSecond)
{
    TOnlineUser::Dav().WriteFile(User->Srv("nocopy/Akte.txt"), "akte");
    Connect();
    auto data = UIObject<IDataObject>("", {"nocopy", "Alte Gelöschte Dateien"});
    auto target = UIObject<IDropTarget>("", {"Dokumente"});
    ASSERT_TRUE(data && target);
    TAnswers answers({});
    const auto tree = Tree();
    const size_t mark = TOnlineUser::Dav().LogMark();
    const auto result = DragAndDrop(target.Get(), data.Get(), 0);
    EXPECT_HRESULT_SUCCEEDED(result.Drop);
    const auto changes = Changes(mark, 3);
    EXPECT_EQ(changes, (std::vector<std::string>{"COPY nocopy/ 403", "COPY Alte Gelöschte Dateien/ 201",
                                                 "DELETE Alte Gelöschte Dateien/ 204"}))
        << Joined(changes);
    EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Dokumente/Alte Gelöschte Dateien/", "-Alte Gelöschte Dateien/"}));
    EXPECT_EQ(answers.Warnings(), std::vector<std::string>{FormatTableText(Txt(64), "nocopy")});
    EXPECT_TRUE(Names("").count("nocopy"));
    EXPECT_EQ(Names("nocopy"), std::set<std::string>{"Akte.txt"});
    EXPECT_FALSE(Names("").count("Alte Gelöschte Dateien"));
    const auto notices = Probe->Take();
    EXPECT_TRUE(Holds(notices, "RMDIR Alte Gelöschte Dateien")) << Joined(notices);
    EXPECT_FALSE(Holds(notices, "RMDIR nocopy")) << Joined(notices);
}

TEST_F(ComWritePath, TheServerGoneInMidDropLosesNothingAndIsTold)
{
    Connect();
    const std::string failing = TOnlineUser::Dav().Canned("gone503", "503 Service Unavailable", "text/plain", "gone\n");
    struct Row {
        std::string what, host;
    } rows[] = {
        {"refuses", "http://127.0.0.1:9/dav"},
        {"answers 503", failing},
    };
    for (const auto& row : rows) {
        const std::string first = "Erste " + row.what + ".txt", third = "Dritte " + row.what + ".txt";
        WriteLocalFile(Local + "Überblick.txt", "mine " + row.what);
        WriteLocalFile(Local + first, "erste");
        WriteLocalFile(Local + third, "dritte");
        // The files go in the order of the drop; while the user answers the replace question
        // of the second one the server goes away: that one still goes on the connection it
        // had, the third cannot.
        TAnswers answers({TvrqScriptedAnswer(mrYes)}, [&](const TAsked& asked) {
            if (asked.Kind == TvrqQuestionKind::OverwriteForm)
                WriteRegistryString("Connection", "host", row.host);
        });
        const auto tree = Tree();
        const size_t logMark = LogMark();
        const size_t mark = TOnlineUser::Dav().LogMark();
        const auto result =
            DragAndDrop(ViewTarget("Dokumente").Get(), LocalData(Local, {first, "Überblick.txt", third}).Get(), 0);
        WriteRegistryString("Connection", "host", User->Host);
        EXPECT_HRESULT_SUCCEEDED(result.Drop) << row.what;
        EXPECT_EQ(Changes(mark, 2), (std::vector<std::string>{"PUT Dokumente/" + first + " 201",
                                                               "PUT Dokumente/Überblick.txt 204"}))
            << row.what;
        EXPECT_EQ(ChangedSince(tree), (std::vector<std::string>{"+Dokumente/" + first, "~Dokumente/Überblick.txt"}))
            << row.what;
        EXPECT_EQ(Server("Dokumente/Überblick.txt"), "mine " + row.what) << row.what;
        EXPECT_EQ(answers.Warnings(), std::vector<std::string>{FormatTableText(Txt(64), third)}) << row.what;
        EXPECT_EQ(ErrorsSince(logMark).size(), 1u) << row.what;
        // The mirror shows what the server has, no more.
        const auto names = Names("Dokumente");
        EXPECT_TRUE(names.count(first)) << row.what;
        EXPECT_FALSE(names.count(third)) << row.what;
        EXPECT_EQ(MirrorRecord("Dokumente\\Überblick.txt").Size, static_cast<int64_t>(5 + row.what.size())) << row.what;
    }
}

// ---- Many Explorer windows at once

namespace {

// What one Explorer window's thread does with the folder: every item enumerated, named, asked
// for its attributes and info tip, and every sub-folder walked the same way. Items that another
// thread renamed or deleted meanwhile may fail; only a hang or a crash is a fault.
void WalkOnce(IShellFolder* folder, int depth)
{
    ComPtr<IEnumIDList> items;
    if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, &items) != S_OK)
        return;
    PITEMID_CHILD item = nullptr;
    ULONG got = 0;
    while (items->Next(1, &item, &got) == S_OK && got == 1) {
        TSxPidlPtr owned(item);
        PCUITEMID_CHILD one[1] = {item};
        DisplayName(folder, item);
        DisplayName(folder, item, SHGDN_FORPARSING);
        SFGAOF mask = SFGAO_FOLDER | SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM;
        if (FAILED(folder->GetAttributesOf(1, one, &mask)))
            continue;
        ComPtr<IQueryInfo> info;
        if (SUCCEEDED(folder->GetUIObjectOf(nullptr, 1, one, IID_IQueryInfo, nullptr,
                                            reinterpret_cast<void**>(info.GetAddressOf())))) {
            LPWSTR tip = nullptr;
            if (SUCCEEDED(info->GetInfoTip(0, &tip)))
                CoTaskMemFree(tip);
        }
        ComPtr<IShellFolder> child;
        if ((mask & SFGAO_FOLDER) && depth < 4 && SUCCEEDED(folder->BindToObject(item, nullptr, IID_PPV_ARGS(&child))))
            WalkOnce(child.Get(), depth + 1);
    }
}

// The online folder bound through the desktop folder of the calling thread, or nullptr.
ComPtr<IShellFolder> BindOnlineFolder()
{
    ComPtr<IShellFolder> desktop, folder;
    if (FAILED(SHGetDesktopFolder(&desktop)))
        return nullptr;
    std::wstring name = Utf8ToWide(Root);
    PIDLIST_RELATIVE list = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &list, nullptr)))
        return nullptr;
    TSxPidlPtr owned(list);
    if (FAILED(desktop->BindToObject(list, nullptr, IID_PPV_ARGS(&folder))))
        return nullptr;
    return folder;
}

// A thread in a single-threaded apartment of its own that pumps its messages while it works.
class TApartmentThread {
public:
    explicit TApartmentThread(std::function<void()> body)
        : FThread([this, body = std::move(body)] {
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
              body();
              CoUninitialize();
              Done = true;
          })
    {
    }
    ~TApartmentThread()
    {
        if (FThread.joinable()) {
            if (Done)
                FThread.join();
            else
                FThread.detach();
        }
    }
    std::atomic<bool> Done{false};

private:
    std::thread FThread;
};

}  // namespace

TEST_F(ComWritePath, EightWindowsWalkingTheFolderWhileANinthRenamesAndDeletesAllReturnAndTheMirrorMatchesTheServer)
{
    Connect();
    const auto serverBefore = Tree();
    const size_t logMark = LogMark();
    TAnswers answers(std::vector<TvrqScriptedAnswer>(8, TvrqScriptedAnswer(mrYes)));
    std::atomic<int> bound{0}, walks{0};
    std::vector<std::unique_ptr<TApartmentThread>> threads;
    for (int i = 0; i < 8; ++i)
        threads.push_back(std::make_unique<TApartmentThread>([&] {
            ComPtr<IShellFolder> folder = BindOnlineFolder();
            if (!folder)
                return;
            ++bound;
            for (int walk = 0; walk < 10; ++walk, ++walks)
                WalkOnce(folder.Get(), 0);
        }));
    std::atomic<int> renamed{0}, deleted{0};
    threads.push_back(std::make_unique<TApartmentThread>([&] {
        ComPtr<IShellFolder> folder = BindOnlineFolder();
        if (!folder)
            return;
        auto itemOf = [&](IShellFolder* in, const std::string& name) -> TSxPidlPtr {
            for (auto& [n, item] : Items(in))
                if (n == name)
                    return std::move(item);
            return nullptr;
        };
        // Back and forth, so that the walkers meet both names.
        for (int round = 0; round < 3; ++round)
            for (const auto& [from, to] : {std::pair<std::string, std::string>{"readme.txt", "readme neu.txt"},
                                           {"readme neu.txt", "readme.txt"},
                                           {"Dokumente", "Dokumente neu"},
                                           {"Dokumente neu", "Dokumente"}}) {
                TSxPidlPtr item = itemOf(folder.Get(), from);
                PITEMID_CHILD result = nullptr;
                if (item && SUCCEEDED(folder->SetNameOf(nullptr, item.get(), Utf8ToWide(to).c_str(), SHGDN_INFOLDER,
                                                        &result)))
                    ++renamed;
                CoTaskMemFree(result);
            }
        // Two deletes into the trash, through the system menu's delete command.
        ComPtr<IPersistFolder2> persist;
        PIDLIST_ABSOLUTE folderList = nullptr;
        if (FAILED(folder.As(&persist)) || FAILED(persist->GetCurFolder(&folderList)))
            return;
        TSxPidlPtr ownedList(folderList);
        for (const char* name : {"my.thumbs", "Urlaub.thumb.jpg.txt"}) {
            TSxPidlPtr item = itemOf(folder.Get(), name);
            ComPtr<IDataObject> data;
            PCUITEMID_CHILD one[1] = {item.get()};
            if (item && SUCCEEDED(CIDLData_CreateFromIDArray(folderList, 1, one, &data)) &&
                Entry<TMenuCallback>("BrTestMenuCallback")(0, folder.Get(), nullptr, data.Get(), DFM_INVOKECOMMAND,
                                                           DFM_CMD_DELETE, 0) == S_OK)
                ++deleted;
        }
    }));
    // A hang fails the test, and the process with it: its threads cannot be freed.
    const ULONGLONG start = GetTickCount64();
    auto allDone = [&] {
        return std::all_of(threads.begin(), threads.end(), [](const auto& t) { return t->Done.load(); });
    };
    while (!allDone() && GetTickCount64() - start < 40000) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(20);
    }
    const double seconds = (GetTickCount64() - start) / 1000.0;
    if (!allDone()) {
        ADD_FAILURE() << "hung after " << seconds << " s: " << bound << " threads bound, " << walks
                      << " of 80 walks done, " << renamed << " renames, " << deleted << " deletes";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    threads.clear();
    std::printf("eight walkers and a writer: %.1f s, %d renames, %d deletes\n", seconds, renamed.load(), deleted.load());
    EXPECT_EQ(bound, 8);
    EXPECT_EQ(walks, 80);
    EXPECT_EQ(renamed, 12) << Joined(answers.Warnings()) << Joined(ErrorsSince(logMark));
    EXPECT_EQ(deleted, 2);
    // What the folder shows, at every depth, is what the server has (less what it never shows).
    std::function<void(IShellFolder*, const std::string&, std::set<std::string>&)> shown =
        [&](IShellFolder* folder, const std::string& prefix, std::set<std::string>& names) {
            for (auto& [name, item] : Items(folder)) {
                PCUITEMID_CHILD one[1] = {item.get()};
                SFGAOF mask = SFGAO_FOLDER;
                folder->GetAttributesOf(1, one, &mask);
                ComPtr<IShellFolder> child;
                if ((mask & SFGAO_FOLDER) && SUCCEEDED(folder->BindToObject(item.get(), nullptr, IID_PPV_ARGS(&child)))) {
                    names.insert(prefix + name + "/");
                    shown(child.Get(), prefix + name + "/", names);
                } else {
                    names.insert(prefix + name);
                }
            }
        };
    std::set<std::string> server;
    for (const auto& [path, bytes] : Tree())
        if (path != "Thumbs.db")
            server.insert(path);
    std::set<std::string> mirror;
    shown(Folder.Get(), "", mirror);
    EXPECT_EQ(mirror, server);
    EXPECT_TRUE(server.count("Gelöschte Dateien/my.thumbs"));
    EXPECT_FALSE(server.count("my.thumbs"));
    EXPECT_EQ(ChangedSince(serverBefore),
              (std::vector<std::string>{"+Gelöschte Dateien/Urlaub.thumb.jpg.txt", "+Gelöschte Dateien/my.thumbs",
                                        "-Urlaub.thumb.jpg.txt", "-my.thumbs"}));
}
