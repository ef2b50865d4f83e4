#pragma once
// Real files for grains. TSxGrainChangeNotifier watches the provider's temporary folder on a
// thread of its own and hands back to the provider a watched file that changed (OnHandleModify),
// that vanished (OnHandleDelete), or a file that appeared where one was expected (the provider's
// new-file events). TSxGrainFolderManager makes one temporary folder per folder grain that Explorer
// asks a file-system path for, and at provider end hands the files left in them to the provider.
#ifdef _WIN32
#include "uGLBWin.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TSxCustomProvider;
class TSxCustomDataGrain;

class TSxGrainChangeNotifier {
public:
    // Starts watching folder (and its sub-folders). The events exist before the thread starts.
    TSxGrainChangeNotifier(TSxCustomProvider& provider, const std::string& folder);
    // Ends the thread, then deletes every watched file whose state was handed back (a changed file
    // that the provider has not taken yet stays).
    ~TSxGrainChangeNotifier();
    TSxGrainChangeNotifier(const TSxGrainChangeNotifier&) = delete;
    TSxGrainChangeNotifier& operator=(const TSxGrainChangeNotifier&) = delete;

    // Watches path: for fileGrain (the file stands for it), or, with fileGrain nullptr, for a new
    // file expected in folderGrain. A path already watched stays as it is; a path whose file-name
    // part is not a valid file name is not watched. The file's current state is the starting
    // point: only later changes are reported.
    void AddWatch(const TSxCustomDataGrain* folderGrain, const TSxCustomDataGrain* fileGrain, const std::string& path);
    bool IsWatched(const std::string& path);
    void RemoveWatch(const std::string& path);
    const std::string& Folder() const { return FFolder; }

    // One pass over the watched paths (what the thread runs when the folder changes); true when a
    // file is waiting for another try (locked, or missing for less than the grace time). The
    // provider's events get copies of the grains and run without the framework lock.
    bool ScanChanges();
    // How long a vanished file may stay away before it counts as deleted (a save that replaces a
    // file by renaming is not a delete), and how often a locked change is tried again.
    DWORD MissingGrace = 1000;
    DWORD RetryInterval = 200;

private:
    struct TEntry;
    static DWORD WINAPI ThreadProc(void* self);
    void Run();

    TSxCustomProvider& FProvider;
    std::string FFolder;
    std::vector<std::unique_ptr<TEntry>> FEntries;  // under the framework lock
    THandle FStopEvent, FDoneEvent, FReadyEvent, FThread;
};

class TSxGrainFolderManager {
public:
    TSxGrainFolderManager(TSxCustomProvider& provider, const std::string& tempRoot);
    // Removes its folders (only empty ones go).
    ~TSxGrainFolderManager();
    TSxGrainFolderManager(const TSxGrainFolderManager&) = delete;
    TSxGrainFolderManager& operator=(const TSxGrainFolderManager&) = delete;

    // The folder made for key (a parsing name), made now when there is none.
    std::string GetFolder(const TSxCustomDataGrain& grain, const std::string& key);
    // A new folder below the temporary root: a unique "sp" name with the extension of the key's
    // leading class component ("::{CLSID}" gives ".{CLSID}", a junction Explorer opens as that
    // class) or ".tmp", with the system attribute. Its index.
    int CreateFolder(const TSxCustomDataGrain& grain, const std::string& key);
    // A copy of the grain of the folder path (a trailing "\" allowed), or nullptr.
    std::unique_ptr<TSxCustomDataGrain> GrainForFolder(const std::string& path);
    // Records a file of one of the folders for hand-back; false for any other path.
    bool RegisterFile(const std::string& path);
    // Hands every recorded file that still exists to the provider (OnNewGrainFromFile, else
    // OnNewGrainFromStream) and deletes those that an event took; the others stay.
    void FlushFiles();

    std::vector<std::string> Folders, Keys, PendingFiles;

private:
    TSxCustomProvider& FProvider;
    std::string FTempRoot;
    std::vector<std::unique_ptr<TSxCustomDataGrain>> FFolderGrains;
};

// The extension of the temporary folder for a parsing name (see CreateFolder).
std::string SxGrainFolderExtension(const std::string& key);
#endif
