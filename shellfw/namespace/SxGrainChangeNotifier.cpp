#include "SxGrainChangeNotifier.h"

#include "SxException.h"
#include "SxTools.h"
#include "uGLBShellTools.h"
#include "uTLogger.h"
#include "SxProvider.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>

namespace {

void LogError(const std::string& text)
{
    try {
        TLogger(-1, true, "SxProvider").Error(text);
    } catch (...) {
    }
}

// The file's find data; false when it does not exist.
bool FindDataOf(const std::string& path, WIN32_FIND_DATAW& data)
{
    std::memset(&data, 0, sizeof data);
    // Checked first: FindFirstFileW would take a "*" or "?" in the name as a pattern.
    const std::wstring wide = Utf8ToWide(path);
    if (!shl_PathExists(wide))
        return false;
    TFindHandle find(FindFirstFileW(shl_LongPath(wide).c_str(), &data));
    return static_cast<bool>(find);
}

bool SameState(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b)
{
    return a.dwFileAttributes == b.dwFileAttributes && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0 &&
           CompareFileTime(&a.ftCreationTime, &b.ftCreationTime) == 0;
}

// No other process holds the file open for writing.
bool IsFree(const std::string& path)
{
    THandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

} // namespace

struct TSxGrainChangeNotifier::TEntry {
    std::string Path;
    std::unique_ptr<TSxCustomDataGrain> FileGrain;    // nullptr while a new file is awaited
    std::unique_ptr<TSxCustomDataGrain> FolderGrain;  // the folder of an awaited new file
    WIN32_FIND_DATAW Snapshot{};                      // the state last handed back
    bool Existed = false;                             // the file existed at the snapshot
    DWORD MissingSince = 0;                           // tick count when it was first found missing
    bool Missing = false;
};

TSxGrainChangeNotifier::TSxGrainChangeNotifier(TSxCustomProvider& provider, const std::string& folder)
    : FProvider(provider), FFolder(folder)
{
    // The library stays loaded from here on: the thread runs the library's code to its very end.
    LockModule();
    FStopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    FDoneEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    FReadyEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!FStopEvent || !FDoneEvent || !FReadyEvent)
        throw std::runtime_error("The grain change notifier cannot make its events: " + SysErrorMessage(GetLastError()));
    FThread.reset(CreateThread(nullptr, 0, &TSxGrainChangeNotifier::ThreadProc, this, 0, nullptr));
    if (!FThread)
        throw std::runtime_error("The grain change notifier cannot start: " + SysErrorMessage(GetLastError()));
    // Changes count from here on: the folder is watched before the first file is.
    HANDLE started[2] = {FReadyEvent.get(), FDoneEvent.get()};
    WaitForMultipleObjects(2, started, FALSE, 5000);
}

TSxGrainChangeNotifier::~TSxGrainChangeNotifier()
{
    SetEvent(FStopEvent.get());
    // The thread signals its end itself (waiting for the thread handle could wait for the loader
    // lock); it never waits while holding the framework lock.
    WaitForSingleObject(FDoneEvent.get(), 10000);
    TSxFrameworkLock lock;
    for (const auto& entry : FEntries) {
        if (!entry->FileGrain)
            continue;
        WIN32_FIND_DATAW now;
        if (!FindDataOf(entry->Path, now))
            continue;
        // A change the provider has not taken yet keeps the file.
        if (!entry->Existed || !SameState(now, entry->Snapshot)) {
            LogError("TSxGrainChangeNotifier: \"" + entry->Path + "\" changed and was not handed back; it stays");
            continue;
        }
        const std::wstring wide = Utf8ToWide(entry->Path);
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide.c_str());
    }
    FEntries.clear();
}

void TSxGrainChangeNotifier::AddWatch(const TSxCustomDataGrain* folderGrain, const TSxCustomDataGrain* fileGrain,
                                      const std::string& path)
{
    if (!IsValidFileName(path) || (!fileGrain && !folderGrain))
        return;
    TSxFrameworkLock lock;
    for (const auto& entry : FEntries)
        if (SameText(entry->Path, path))
            return;
    auto entry = std::make_unique<TEntry>();
    entry->Path = path;
    if (fileGrain)
        entry->FileGrain = fileGrain->Clone();
    else
        entry->FolderGrain = folderGrain->Clone();
    entry->Existed = FindDataOf(path, entry->Snapshot);
    FEntries.push_back(std::move(entry));
}

bool TSxGrainChangeNotifier::IsWatched(const std::string& path)
{
    TSxFrameworkLock lock;
    return std::any_of(FEntries.begin(), FEntries.end(), [&](const auto& e) { return SameText(e->Path, path); });
}

void TSxGrainChangeNotifier::RemoveWatch(const std::string& path)
{
    TSxFrameworkLock lock;
    FEntries.erase(std::remove_if(FEntries.begin(), FEntries.end(), [&](const auto& e) { return SameText(e->Path, path); }),
                   FEntries.end());
}

bool TSxGrainChangeNotifier::ScanChanges()
{
    bool retry = false;
    // The entry's state, once the provider took a change (only while the entry is still there).
    auto handedBack = [this](const TEntry* entry, const WIN32_FIND_DATAW& now,
                             std::unique_ptr<TSxCustomDataGrain> newGrain) {
        TSxFrameworkLock lock;
        for (auto& e : FEntries)
            if (e.get() == entry) {
                if (newGrain)
                    e->FileGrain = std::move(newGrain);
                e->Snapshot = now;
                e->Existed = true;
                return;
            }
    };
    // Entries appended during the pass are looked at too; one that an event removed is gone. The
    // events run without the framework lock: a provider's handler talks to its server and may ask
    // the user, while every window's thread needs the lock for its own questions.
    for (size_t i = 0;; ++i) {
        TEntry* entry;
        std::string path;
        {
            TSxFrameworkLock lock;
            if (i >= FEntries.size())
                break;
            entry = FEntries[i].get();
            path = entry->Path;
        }
        WIN32_FIND_DATAW now;
        const bool exists = FindDataOf(path, now);
        enum class TAction { Delete, NewFile, Modify } action;
        std::unique_ptr<TSxCustomDataGrain> grain;  // the copy the event gets
        {
            TSxFrameworkLock lock;
            if (i >= FEntries.size() || FEntries[i].get() != entry)
                continue;  // removed meanwhile
            if (!exists) {
                if (!entry->FileGrain || !entry->Existed)
                    continue;  // an awaited file that is not there yet
                // A file may vanish for a moment while a program saves it under another name.
                const DWORD tick = GetTickCount();
                if (!entry->Missing) {
                    entry->Missing = true;
                    entry->MissingSince = tick;
                }
                if (tick - entry->MissingSince < MissingGrace) {
                    retry = true;
                    continue;
                }
                grain = std::move(entry->FileGrain);
                FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
                --i;
                entry = nullptr;
                action = TAction::Delete;
            } else {
                entry->Missing = false;
                if (!entry->FileGrain) {
                    // The expected file has come; it is taken once its writer lets go of it.
                    if (!IsFree(path)) {
                        retry = true;
                        continue;
                    }
                    grain = entry->FolderGrain->Clone();
                    action = TAction::NewFile;
                } else if (entry->Existed && SameState(now, entry->Snapshot)) {
                    continue;
                } else if (now.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    // A folder's own changes are those of its files, which are watched for themselves.
                    entry->Snapshot = now;
                    entry->Existed = true;
                    continue;
                } else {
                    grain = entry->FileGrain->Clone();
                    action = TAction::Modify;
                }
            }
        }
        try {
            switch (action) {
            case TAction::Delete:
                FProvider.DoHandleDelete(*grain);
                break;
            case TAction::NewFile: {
                TSxDropInfo info;
                std::unique_ptr<TSxCustomDataGrain> newGrain;
                bool cont = true;
                FProvider.DoNewGrainFromFile(*grain, path, newGrain, info, 1, cont);
                if (!newGrain)
                    throw EProviderException("OnNewGrainFromFile event handler should initialize DataGrain param");
                handedBack(entry, now, std::move(newGrain));
                break;
            }
            case TAction::Modify:
                // A changed file goes to the provider once nobody holds it; until then it is tried again.
                if (!FProvider.TryHandleModify(*grain, path))
                    retry = true;
                else
                    handedBack(entry, now, nullptr);
                break;
            }
        } catch (...) {
            // One handler's failure costs neither the thread nor the other files.
            SxHandleException(nullptr, std::current_exception());
            LogError("TSxGrainChangeNotifier: the change of \"" + path + "\" could not be handed over");
            if (entry)
                handedBack(entry, now, nullptr);
        }
    }
    return retry;
}

DWORD WINAPI TSxGrainChangeNotifier::ThreadProc(void* self)
{
    auto* notifier = static_cast<TSxGrainChangeNotifier*>(self);
    try {
        notifier->Run();
    } catch (...) {
        LogError("TSxGrainChangeNotifier: the watcher ended on an error");
    }
    SetEvent(notifier->FDoneEvent.get());
    return 0;
}

void TSxGrainChangeNotifier::Run()
{
    const HRESULT co = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct TUninit {
        bool on;
        ~TUninit() { if (on) CoUninitialize(); }
    } uninit{SUCCEEDED(co)};
    // Names too: a delete or a rename away is a change of the folder's names only.
    struct TChangeTraits {
        using Handle = HANDLE;
        static bool Valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
        static void Close(HANDLE h) { FindCloseChangeNotification(h); }
    };
    TOwnedHandle<TChangeTraits> change(FindFirstChangeNotificationW(
        Utf8ToWide(FFolder).c_str(), TRUE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES |
            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE));
    if (!change) {
        LogError("TSxGrainChangeNotifier: \"" + FFolder + "\" cannot be watched: " + SysErrorMessage(GetLastError()));
        return;
    }
    SetEvent(FReadyEvent.get());
    bool retry = ScanChanges();
    for (;;) {
        HANDLE handles[2] = {FStopEvent.get(), change.get()};
        const DWORD wait = WaitForMultipleObjects(2, handles, FALSE, retry ? RetryInterval : INFINITE);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED)
            return;
        // Watching again before the scan: a change made while it runs wakes the next one.
        if (wait == WAIT_OBJECT_0 + 1 && !FindNextChangeNotification(change.get()))
            return;
        retry = ScanChanges();
    }
}

// ---- the temporary folders of folder grains ---------------------------------------------------

std::string SxGrainFolderExtension(const std::string& key)
{
    // Leading components "::{CLSID}" (40 characters, "{" third, "}" last): the last of them
    // names the class the folder opens as.
    std::string extension = ".tmp";
    size_t start = 0;
    for (;;) {
        const size_t end = key.find('\\', start);
        const std::string part = key.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.size() != 40 || part[0] != ':' || part[1] != ':' || part[2] != '{' || part[39] != '}')
            break;
        extension = "." + part.substr(2);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return extension;
}

TSxGrainFolderManager::TSxGrainFolderManager(TSxCustomProvider& provider, const std::string& tempRoot)
    : FProvider(provider), FTempRoot(tempRoot)
{
}

TSxGrainFolderManager::~TSxGrainFolderManager()
{
    for (const std::string& folder : Folders) {
        const std::wstring wide = Utf8ToWide(folder);
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!RemoveDirectoryW(wide.c_str()))
            SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_SYSTEM);  // still holds files: it stays as it was
    }
}

std::string TSxGrainFolderManager::GetFolder(const TSxCustomDataGrain& grain, const std::string& key)
{
    TSxFrameworkLock lock;
    for (size_t i = 0; i < Keys.size(); ++i)
        if (Keys[i] == key)
            return Folders[i];
    return Folders[static_cast<size_t>(CreateFolder(grain, key))];
}

int TSxGrainFolderManager::CreateFolder(const TSxCustomDataGrain& grain, const std::string& key)
{
    TSxFrameworkLock lock;
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(Utf8ToWide(FTempRoot).c_str(), L"sp", 0, name))
        throw std::runtime_error("No temporary folder name in " + FTempRoot + ": " + SysErrorMessage(GetLastError()));
    DeleteFileW(name);
    std::wstring folder = name;
    const size_t dot = folder.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > folder.find_last_of(L'\\'))
        folder.resize(dot);
    folder += Utf8ToWide(SxGrainFolderExtension(key));
    if (!CreateDirectoryW(folder.c_str(), nullptr))
        throw std::runtime_error("Cannot create the folder " + WideToUtf8(folder) + ": " + SysErrorMessage(GetLastError()));
    SetFileAttributesW(folder.c_str(), shl_FileAttributes(folder) | FILE_ATTRIBUTE_SYSTEM);
    Keys.push_back(key);
    Folders.push_back(WideToUtf8(folder));
    FFolderGrains.push_back(grain.Clone());
    return static_cast<int>(Folders.size()) - 1;
}

std::unique_ptr<TSxCustomDataGrain> TSxGrainFolderManager::GrainForFolder(const std::string& path)
{
    std::string wanted = path;
    while (!wanted.empty() && wanted.back() == '\\')
        wanted.pop_back();
    TSxFrameworkLock lock;
    for (size_t i = 0; i < Folders.size(); ++i)
        if (SameText(Folders[i], wanted))
            return FFolderGrains[i]->Clone();
    return nullptr;
}

bool TSxGrainFolderManager::RegisterFile(const std::string& path)
{
    const size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos)
        return false;
    const std::string directory = path.substr(0, cut);
    TSxFrameworkLock lock;
    if (std::none_of(Folders.begin(), Folders.end(), [&](const std::string& f) { return SameText(f, directory); }))
        return false;
    if (std::none_of(PendingFiles.begin(), PendingFiles.end(), [&](const std::string& f) { return SameText(f, path); }))
        PendingFiles.push_back(path);
    return true;
}

void TSxGrainFolderManager::FlushFiles()
{
    std::vector<std::string> files;
    {
        TSxFrameworkLock lock;
        files.swap(PendingFiles);
    }
    for (const std::string& path : files) {
        try {
            const size_t cut = path.find_last_of('\\');
            std::unique_ptr<TSxCustomDataGrain> folder = GrainForFolder(path.substr(0, cut));
            WIN32_FIND_DATAW data;
            if (!folder || !FindDataOf(path, data))
                continue;
            bool taken = false;
            if (FProvider.OnNewGrainFromFile) {
                std::unique_ptr<TSxCustomDataGrain> newGrain;
                FProvider.OnNewGrainFromFile(FProvider, *folder, path, newGrain);
                taken = newGrain != nullptr;
            } else if (FProvider.OnNewGrainFromStream) {
                TSxFileInfoDescriptor info;
                info.Attributes = FileAttributesToSx(data.dwFileAttributes);
                info.CreationTime = FileTimeToDateTime(data.ftCreationTime);
                info.LastAccessTime = FileTimeToDateTime(data.ftLastAccessTime);
                info.LastWriteTime = FileTimeToDateTime(data.ftLastWriteTime);
                info.IsFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                info.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                info.DisplayName = WideToUtf8(data.cFileName);
                TSxMemoryStream contents = SxReadWholeFile(path);
                FProvider.OnNewGrainFromStream(FProvider, *folder, info, contents);
                taken = true;
            }
            // Only a file that an event took is deleted: nothing else is lost.
            if (taken) {
                const std::wstring wide = Utf8ToWide(path);
                SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(wide.c_str());
            } else {
                LogError("TSxGrainFolderManager.FlushFiles: nothing took \"" + path + "\"; it stays");
            }
        } catch (...) {
            SxHandleException(nullptr, std::current_exception());
            LogError("TSxGrainFolderManager.FlushFiles: \"" + path + "\" could not be handed over; it stays");
        }
    }
}
