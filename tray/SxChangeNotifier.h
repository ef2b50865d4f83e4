#pragma once
// A folder watcher: one thread per watched folder waits for the folder's change notification and
// compares the folder's files with a snapshot keyed by the MD5 digest of each path; one more thread
// watches the root for files that vanished. Every added, changed and vanished file reaches the main
// thread as an event, posted to a hidden window of the thread that made the watcher.
#ifdef _WIN32
#include <windows.h>

#include "uGLBWin.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class ESxChangeNotifierException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TSxFileNotifyChangeFlag : uint8_t {
    fncFileName, fncDirName, fncAttributes, fncSize, fncLastWrite, fncCreation, fncSecurity
};
using TSxFileNotifyChange = uint8_t;   // a set of the flags above
constexpr TSxFileNotifyChange FncSet(TSxFileNotifyChangeFlag f) { return TSxFileNotifyChange(1u << f); }
constexpr TSxFileNotifyChange fncAll = 0x7F;
// The platform's FILE_NOTIFY_CHANGE_* filter of a set (never LAST_ACCESS).
DWORD SxNotifyFilter(TSxFileNotifyChange set);

enum class TSxThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// One event. Times are date-time values (days since 30.12.1899) of the file's UTC times at their
// full resolution; the raw file times and the whole size are kept too, so two saves within one
// second and sizes beyond 4 GiB are told apart.
struct TSxFileInfoEventData {
    wchar_t FileName[MAX_PATH + 1] = {};   // full path
    uint32_t Attributes = 0;
    double CreationDate = 0, LastAccessTime = 0, LastWriteTime = 0;
    uint64_t Size = 0;
    uint64_t CreationTicks = 0, LastWriteTicks = 0;
    uint32_t OldAttributes = 0;
    double OldCreationDate = 0, OldLastAccessTime = 0, OldLastWriteTime = 0;
    uint64_t OldSize = 0;
    uint64_t OldCreationTicks = 0, OldLastWriteTicks = 0;

    std::string Path() const { return WideToUtf8(FileName); }
};

class TSxChangeNotifier;
using TSxChangeNotify = std::function<void(TSxChangeNotifier& sender, TSxFileInfoEventData& info)>;

// One snapshot entry: the first fields of an event.
struct TRootEntry {
    std::wstring FileName;
    uint32_t Attributes = 0;
    uint64_t Creation = 0, LastAccess = 0, LastWrite = 0;   // FILETIME ticks
    uint64_t Size = 0;
};

// Every file seen, in the order seen, keyed by the MD5 hex of its full path (UTF-8).
class TRootStorage {
public:
    void Clear();
    size_t GetCount() const { return Keys.size(); }
    const std::string& GetName(size_t i) const { return Keys[i]; }
    const TRootEntry& GetValues(size_t i) const { return Entries[i]; }
    const TRootEntry* Find(const std::wstring& path) const;
    void Update(const std::wstring& path, const TRootEntry& values);
    void Delete(size_t i);
    // The stored image: the key list, then the entries (little-endian, length-prefixed).
    std::vector<uint8_t> Save() const;
    void Load(const std::vector<uint8_t>& image);   // raises on a damaged image, leaving the list as it was

private:
    std::vector<std::string> Keys;
    std::vector<TRootEntry> Entries;
};

class TSxChangeNotifier {
public:
    TSxChangeNotifier();
    ~TSxChangeNotifier();
    TSxChangeNotifier(const TSxChangeNotifier&) = delete;
    TSxChangeNotifier& operator=(const TSxChangeNotifier&) = delete;

    // Raises ESxChangeNotifierException "The scanning directory does not exists" when Root is no
    // folder; then nothing runs. Activating an active watcher restarts it.
    void Activate();
    // Returns when every watcher thread has ended (or, for a thread stuck in the file system, after
    // a bounded wait; such a thread ends on its own later and posts nothing more).
    void Deactivate();
    bool Active() const;

    bool PersistentRoot = false;
    std::string RootImageFilename;
    std::string Root;
    std::vector<std::string> Filers{"*.*"};
    int MaxLevels = 1;
    int MaxThreadCount = 2000;
    bool WatchSubtree = false;
    TSxThreadPriority ThreadPriority = TSxThreadPriority::tpNormal;
    TSxFileNotifyChange ChangeNotifyFilter = fncAll;
    TSxChangeNotify OnChange, OnAddFile, OnDelete;

    // Messages of the hidden window: wParam the watcher, lParam the posted event.
    static constexpr UINT WM_SXADDFILE = 0x8FFD, WM_SXCHANGE = 0x8FFE, WM_SXDELETE = 0x8FFF;
    // Events posted but not yet delivered (for tests: a closed window frees them).
    static size_t PendingEvents();

    struct TState;

private:
    std::shared_ptr<TState> State;
    HWND SyncWindow = nullptr;
    void LoadImage();
    void SaveImage();
};
#endif
