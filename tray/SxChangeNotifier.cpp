#include "SxChangeNotifier.h"

#include "SxMd5.h"
#include "SxStream.h"
#include "uGLBShellTools.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>

namespace {

constexpr uint64_t TicksPerDay = 864000000000ULL;
constexpr double DaysFrom1601To1899 = 109205.0;
// How long Deactivate waits for a thread that is stuck in the file system.
constexpr DWORD StopWaitMs = 5000;
// A save is mostly several steps (truncate, write, set the end, set the times), each with a
// notification of its own. A folder is scanned once it has been quiet this long (but at the latest
// after SettleMaxMs), so one save gives one event, not one per step caught half done.
constexpr DWORD SettleQuietMs = 250;
constexpr DWORD SettleMaxMs = 2000;

uint64_t Ticks(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
double DateTimeOf(uint64_t ticks) { return ticks ? double(ticks) / double(TicksPerDay) - DaysFrom1601To1899 : 0; }

std::string KeyOf(const std::wstring& path) { return MD5Print(MD5String(WideToUtf8(path))); }

int PlatformPriority(TSxThreadPriority p)
{
    static const int map[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                              THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                              THREAD_PRIORITY_TIME_CRITICAL};
    return map[static_cast<int>(p)];
}

// Events posted and not yet delivered, with the watcher each belongs to. A record that the window
// never receives (it was closed, or its watcher went first) is freed here, never leaked or used.
std::mutex PendingLock;
std::map<TSxFileInfoEventData*, const TSxChangeNotifier*>& Pending()
{
    static std::map<TSxFileInfoEventData*, const TSxChangeNotifier*> pending;
    return pending;
}

void FreePendingOf(const TSxChangeNotifier* owner)
{
    std::lock_guard<std::mutex> lock(PendingLock);
    for (auto it = Pending().begin(); it != Pending().end();)
        if (it->second == owner) {
            delete it->first;
            it = Pending().erase(it);
        } else
            ++it;
}

LRESULT CALLBACK SyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message < TSxChangeNotifier::WM_SXADDFILE || message > TSxChangeNotifier::WM_SXDELETE)
        return DefWindowProcW(window, message, wParam, lParam);
    try {
        std::unique_ptr<TSxFileInfoEventData> record;
        {
            std::lock_guard<std::mutex> lock(PendingLock);
            auto it = Pending().find(reinterpret_cast<TSxFileInfoEventData*>(lParam));
            if (it == Pending().end())
                return 0;   // freed with its watcher
            record.reset(it->first);
            Pending().erase(it);
        }
        auto* watcher = reinterpret_cast<TSxChangeNotifier*>(wParam);
        TSxFileInfoEventData copy = *record;
        const TSxChangeNotify& event = message == TSxChangeNotifier::WM_SXADDFILE ? watcher->OnAddFile
                                       : message == TSxChangeNotifier::WM_SXCHANGE ? watcher->OnChange
                                                                                   : watcher->OnDelete;
        if (event)
            event(*watcher, copy);
    } catch (...) {
        // An event handler's failure stays inside the watcher's window.
    }
    return 0;
}

const wchar_t* const SyncClass = L"TSxSyncThreadWindow";

HWND MakeSyncWindow()
{
    WNDCLASSW existing{};
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (GetClassInfoW(instance, SyncClass, &existing) && existing.lpfnWndProc != SyncWindowProc)
        UnregisterClassW(SyncClass, instance);
    if (!GetClassInfoW(instance, SyncClass, &existing)) {
        WNDCLASSW cls{};
        cls.lpfnWndProc = SyncWindowProc;
        cls.hInstance = instance;
        cls.lpszClassName = SyncClass;
        RegisterClassW(&cls);
    }
    return CreateWindowExW(0, SyncClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
}

} // namespace

DWORD SxNotifyFilter(TSxFileNotifyChange set)
{
    DWORD filter = 0;
    if (set & FncSet(fncFileName)) filter |= FILE_NOTIFY_CHANGE_FILE_NAME;
    if (set & FncSet(fncDirName)) filter |= FILE_NOTIFY_CHANGE_DIR_NAME;
    if (set & FncSet(fncAttributes)) filter |= FILE_NOTIFY_CHANGE_ATTRIBUTES;
    if (set & FncSet(fncSize)) filter |= FILE_NOTIFY_CHANGE_SIZE;
    if (set & FncSet(fncLastWrite)) filter |= FILE_NOTIFY_CHANGE_LAST_WRITE;
    if (set & FncSet(fncCreation)) filter |= FILE_NOTIFY_CHANGE_CREATION;
    if (set & FncSet(fncSecurity)) filter |= FILE_NOTIFY_CHANGE_SECURITY;
    return filter;
}

// ---- TRootStorage

void TRootStorage::Clear()
{
    Keys.clear();
    Entries.clear();
}

const TRootEntry* TRootStorage::Find(const std::wstring& path) const
{
    const std::string key = KeyOf(path);
    auto it = std::find(Keys.begin(), Keys.end(), key);
    return it == Keys.end() ? nullptr : &Entries[size_t(it - Keys.begin())];
}

void TRootStorage::Update(const std::wstring& path, const TRootEntry& values)
{
    const std::string key = KeyOf(path);
    auto it = std::find(Keys.begin(), Keys.end(), key);
    if (it != Keys.end()) {
        Entries[size_t(it - Keys.begin())] = values;
        return;
    }
    Keys.push_back(key);
    Entries.push_back(values);
}

void TRootStorage::Delete(size_t i)
{
    Keys.erase(Keys.begin() + std::ptrdiff_t(i));
    Entries.erase(Entries.begin() + std::ptrdiff_t(i));
}

std::vector<uint8_t> TRootStorage::Save() const
{
    TSxMemoryStream memory;
    TSxStream stream(memory);
    stream.WriteStrings(Keys);
    auto write64 = [&](uint64_t v) {
        stream.WriteCardinal(uint32_t(v));
        stream.WriteCardinal(uint32_t(v >> 32));
    };
    for (const TRootEntry& e : Entries) {
        stream.WriteString(WideToUtf8(e.FileName));
        stream.WriteCardinal(e.Attributes);
        write64(e.Creation);
        write64(e.LastAccess);
        write64(e.LastWrite);
        write64(e.Size);
    }
    return memory.Bytes();
}

void TRootStorage::Load(const std::vector<uint8_t>& image)
{
    TSxMemoryStream memory(image);
    TSxStream stream(memory);
    std::vector<std::string> keys;
    stream.ReadStrings(keys);
    auto read64 = [&] {
        const uint64_t low = stream.ReadCardinal();
        return low | (uint64_t(stream.ReadCardinal()) << 32);
    };
    std::vector<TRootEntry> entries;
    for (size_t i = 0; i < keys.size(); ++i) {
        TRootEntry e;
        e.FileName = Utf8ToWide(stream.ReadString());
        e.Attributes = stream.ReadCardinal();
        e.Creation = read64();
        e.LastAccess = read64();
        e.LastWrite = read64();
        e.Size = read64();
        entries.push_back(std::move(e));
    }
    Keys = std::move(keys);
    Entries = std::move(entries);
}

// ---- the shared state of one activation

struct TSxChangeNotifier::TState {
    const TSxChangeNotifier* Owner = nullptr;
    HWND Window = nullptr;
    std::wstring Root;
    std::vector<std::wstring> Filers;
    int MaxLevels = 1, MaxThreadCount = 2000;
    bool WatchSubtree = false;
    DWORD Filter = 0;
    int Priority = THREAD_PRIORITY_NORMAL;

    THandle Stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex SnapshotLock;
    TRootStorage Snapshot;
    std::mutex ThreadLock;
    std::vector<std::wstring> Folders;   // watched by a thread of their own
    std::vector<THandle> Threads;

    bool Stopping() const { return WaitForSingleObject(Stop.get(), 0) == WAIT_OBJECT_0; }

    void Post(UINT message, std::unique_ptr<TSxFileInfoEventData> record)
    {
        if (Stopping())
            return;
        std::lock_guard<std::mutex> lock(PendingLock);
        TSxFileInfoEventData* raw = record.get();
        Pending().emplace(raw, Owner);
        record.release();
        if (!PostMessageW(Window, message, reinterpret_cast<WPARAM>(Owner), reinterpret_cast<LPARAM>(raw))) {
            Pending().erase(raw);
            delete raw;
        }
    }

    void CheckFile(const std::wstring& folder, const WIN32_FIND_DATAW& found)
    {
        TRootEntry now;
        now.FileName = folder + L"\\" + found.cFileName;
        now.Attributes = found.dwFileAttributes;
        now.Creation = Ticks(found.ftCreationTime);
        now.LastAccess = Ticks(found.ftLastAccessTime);
        now.LastWrite = Ticks(found.ftLastWriteTime);
        now.Size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (now.FileName.size() > MAX_PATH)
            return;   // no room in an event
        TRootEntry old;
        bool known = false;
        {
            std::lock_guard<std::mutex> lock(SnapshotLock);
            if (const TRootEntry* e = Snapshot.Find(now.FileName)) {
                known = true;
                old = *e;
                if (old.Attributes == now.Attributes && old.Creation == now.Creation &&
                    old.LastAccess == now.LastAccess && old.LastWrite == now.LastWrite && old.Size == now.Size)
                    return;
            }
            Snapshot.Update(now.FileName, now);
        }
        auto record = std::make_unique<TSxFileInfoEventData>();
        Fill(*record, now, known ? &old : nullptr);
        Post(known ? WM_SXCHANGE : WM_SXADDFILE, std::move(record));
    }

    static void Fill(TSxFileInfoEventData& r, const TRootEntry& now, const TRootEntry* old)
    {
        wcsncpy(r.FileName, now.FileName.c_str(), MAX_PATH);
        r.Attributes = now.Attributes;
        r.CreationDate = DateTimeOf(now.Creation);
        r.LastAccessTime = DateTimeOf(now.LastAccess);
        r.LastWriteTime = DateTimeOf(now.LastWrite);
        r.Size = now.Size;
        r.CreationTicks = now.Creation;
        r.LastWriteTicks = now.LastWrite;
        if (!old)
            return;
        r.OldAttributes = old->Attributes;
        r.OldCreationDate = DateTimeOf(old->Creation);
        r.OldLastAccessTime = DateTimeOf(old->LastAccess);
        r.OldLastWriteTime = DateTimeOf(old->LastWrite);
        r.OldSize = old->Size;
        r.OldCreationTicks = old->Creation;
        r.OldLastWriteTicks = old->LastWrite;
    }

    void Scan(const std::wstring& folder, int level, const std::shared_ptr<TState>& self)
    {
        WIN32_FIND_DATAW found;
        if (WatchSubtree) {
            TFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
            if (find)
                do {
                    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !wcscmp(found.cFileName, L".") ||
                        !wcscmp(found.cFileName, L".."))
                        continue;
                    const std::wstring sub = folder + L"\\" + found.cFileName;
                    if (!AddFolderThread(self, sub, level))
                        Scan(sub, level, self);
                } while (!Stopping() && FindNextFileW(find.get(), &found));
        }
        for (const std::wstring& mask : Filers) {
            if (Stopping())
                return;
            TFindHandle find(FindFirstFileW((folder + L"\\" + mask).c_str(), &found));
            if (find)
                do {
                    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                        CheckFile(folder, found);
                } while (!Stopping() && FindNextFileW(find.get(), &found));
        }
    }

    void ScanDeletedFiles()
    {
        std::lock_guard<std::mutex> lock(SnapshotLock);
        std::vector<size_t> gone;
        for (size_t i = 0; i < Snapshot.GetCount(); ++i) {
            const TRootEntry& e = Snapshot.GetValues(i);
            if (shl_PathExists(e.FileName))
                continue;
            auto record = std::make_unique<TSxFileInfoEventData>();
            Fill(*record, TRootEntry{e.FileName}, &e);
            Post(WM_SXDELETE, std::move(record));
            gone.push_back(i);
        }
        for (auto it = gone.rbegin(); it != gone.rend(); ++it)
            Snapshot.Delete(*it);
    }

    struct TThreadArg {
        std::shared_ptr<TState> State;
        std::wstring Folder;
        int Level;
        bool RootWatcher;
    };

    // Waits until the folder of waits[1] has been quiet; false when the stop event fired or the
    // notification cannot be re-armed.
    static bool Settle(HANDLE (&waits)[2])
    {
        const ULONGLONG until = GetTickCount64() + SettleMaxMs;
        for (;;) {
            const ULONGLONG now = GetTickCount64();
            if (now >= until)
                return true;
            switch (WaitForMultipleObjects(2, waits, FALSE, DWORD(std::min<ULONGLONG>(SettleQuietMs, until - now)))) {
            case WAIT_TIMEOUT: return true;
            case WAIT_OBJECT_0 + 1:
                if (!FindNextChangeNotification(waits[1]))
                    return false;
                break;
            default: return false;
            }
        }
    }

    static DWORD WINAPI ThreadBody(void* parameter)
    {
        std::unique_ptr<TThreadArg> arg(static_cast<TThreadArg*>(parameter));
        try {
            TState& s = *arg->State;
            const bool root = arg->RootWatcher;
            HANDLE notify = FindFirstChangeNotificationW(arg->Folder.c_str(), root ? TRUE : s.WatchSubtree,
                                                         root ? 0x1F : s.Filter);
            if (notify == INVALID_HANDLE_VALUE)
                return 0;
            auto scan = [&] {
                if (root)
                    s.ScanDeletedFiles();
                else
                    s.Scan(arg->Folder, arg->Level, arg->State);
            };
            scan();
            HANDLE waits[2] = {s.Stop.get(), notify};
            while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
                if (!FindNextChangeNotification(notify) || !Settle(waits))
                    break;
                scan();
            }
            FindCloseChangeNotification(notify);
        } catch (...) {
            // A thread body lets nothing out; the thread ends.
        }
        return 0;
    }

    static bool StartThread(const std::shared_ptr<TState>& self, const std::wstring& folder, int level, bool root)
    {
        auto arg = std::make_unique<TThreadArg>(TThreadArg{self, folder, level, root});
        THandle thread(CreateThread(nullptr, 0, ThreadBody, arg.get(), CREATE_SUSPENDED, nullptr));
        if (!thread)
            return false;
        arg.release();
        SetThreadPriority(thread.get(), self->Priority);
        ResumeThread(thread.get());
        self->Threads.push_back(std::move(thread));
        return true;
    }

    static bool AddFolderThread(const std::shared_ptr<TState>& self, const std::wstring& folder, int level)
    {
        if (level > self->MaxLevels)
            return false;
        std::lock_guard<std::mutex> lock(self->ThreadLock);
        if (int(self->Folders.size()) > self->MaxThreadCount)
            return false;
        if (std::find(self->Folders.begin(), self->Folders.end(), folder) != self->Folders.end())
            return true;
        if (self->Stopping() || !StartThread(self, folder, level + 1, false))
            return false;
        self->Folders.push_back(folder);
        return true;
    }
};

// ---- TSxChangeNotifier

TSxChangeNotifier::TSxChangeNotifier() : SyncWindow(MakeSyncWindow()) {}

TSxChangeNotifier::~TSxChangeNotifier()
{
    Deactivate();
    if (SyncWindow)
        DestroyWindow(SyncWindow);
    FreePendingOf(this);
}

size_t TSxChangeNotifier::PendingEvents()
{
    std::lock_guard<std::mutex> lock(PendingLock);
    return Pending().size();
}

bool TSxChangeNotifier::Active() const { return State != nullptr; }

void TSxChangeNotifier::Activate()
{
    std::wstring root = Utf8ToWide(Root);
    while (root.size() > 3 && (root.back() == L'\\' || root.back() == L'/'))
        root.pop_back();
    const DWORD attributes = shl_FileAttributes(root);
    if (root.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw ESxChangeNotifierException("The scanning directory does not exists");
    Deactivate();
    auto state = std::make_shared<TState>();
    state->Owner = this;
    state->Window = SyncWindow;
    state->Root = root;
    for (const std::string& f : Filers)
        state->Filers.push_back(Utf8ToWide(f));
    state->MaxLevels = MaxLevels;
    state->MaxThreadCount = MaxThreadCount;
    state->WatchSubtree = WatchSubtree;
    state->Filter = SxNotifyFilter(ChangeNotifyFilter);
    state->Priority = PlatformPriority(ThreadPriority);
    State = state;
    LoadImage();
    TState::AddFolderThread(state, root, 0);
    std::lock_guard<std::mutex> lock(state->ThreadLock);
    TState::StartThread(state, root, 0, true);
}

void TSxChangeNotifier::Deactivate()
{
    if (!State)
        return;
    std::shared_ptr<TState> state = std::move(State);
    SetEvent(state->Stop.get());
    std::vector<HANDLE> handles;
    {
        std::lock_guard<std::mutex> lock(state->ThreadLock);
        for (const THandle& t : state->Threads)
            handles.push_back(t.get());
    }
    // Threads hold the shared state themselves, so one that outlives the bounded wait uses nothing
    // freed; the stop event keeps it from posting.
    const ULONGLONG until = GetTickCount64() + StopWaitMs;
    for (HANDLE h : handles) {
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(h, now < until ? DWORD(until - now) : 0);
    }
    if (PersistentRoot) {
        std::shared_ptr<TState> keep = state;
        State = keep;
        SaveImage();
        State.reset();
    }
}

void TSxChangeNotifier::LoadImage()
{
    std::lock_guard<std::mutex> lock(State->SnapshotLock);
    State->Snapshot.Clear();
    if (!PersistentRoot || RootImageFilename.empty())
        return;
    THandle file(CreateFileW(Utf8ToWide(RootImageFilename).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (64 << 20))
        return;
    std::vector<uint8_t> image(size_t(size.QuadPart));
    DWORD read = 0;
    if (!image.empty() && (!ReadFile(file.get(), image.data(), DWORD(image.size()), &read, nullptr) || read != image.size()))
        return;
    try {
        State->Snapshot.Load(image);
    } catch (const std::exception&) {
        State->Snapshot.Clear();   // a damaged image starts an empty snapshot
    }
}

void TSxChangeNotifier::SaveImage()
{
    if (RootImageFilename.empty())
        return;
    std::vector<uint8_t> image;
    {
        std::lock_guard<std::mutex> lock(State->SnapshotLock);
        image = State->Snapshot.Save();
    }
    // Written beside and moved over the old image, so a failed write keeps the old one whole.
    const std::wstring target = Utf8ToWide(RootImageFilename), temp = target + L".~tmp";
    {
        THandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), image.data(), DWORD(image.size()), &written, nullptr) ||
            written != image.size())
            return;
    }
    MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}
