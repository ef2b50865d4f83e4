#pragma once
// The provider's transfer helpers: what one drop handed over, the shell's progress dialog of drops
// and deletes, and the walk that turns dropped files and folders into files with their target
// folder grains. The provider's builders, readers and drop handlers (declared with the provider)
// are defined beside them.
#ifdef _WIN32
#include "SxProvider.h"
#include "uTProgressDialog.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// What one drop handed to the provider: the items offered, and of those (by their index in the
// dropped data) the ones that arrived and the ones that arrived as a move.
struct TSxDropOutcome {
    int Offered = 0;
    std::vector<int> Arrived;
    std::vector<int> Moved;
    bool Cancelled = false;
};
// The effect a drop reports for its outcome: none when nothing arrived; move only when every
// offered item arrived as a move; else copy (link for a link drop).
DWORD SxOutcomeEffect(DWORD requested, const TSxDropOutcome& outcome);

// The shell's progress dialog for drops and deletes (the storage's progress window with an owner
// window). Without the shell object the operation runs on unseen and is never reported cancelled.
class TSxProgressDialogWrapper : public TProgressDialog {
public:
    TSxProgressDialogWrapper(const std::string& title, HWND ownerWindow, ProgressOptions options, uint8_t animation,
                             const std::string& cancelMessage)
        : TProgressDialog(title, animation, options, cancelMessage, ownerWindow)
    {
    }
    void SetTotal(int32_t n) { SetMax(n); }
    int32_t Total() const { return Max; }
};

// The progress dialog of a drop of total items.
class TSxDropProgress : public TSxProgressDialogWrapper {
public:
    TSxDropProgress(HWND ownerWindow, int32_t total);
};

// Turns the dropped files and folders of an HDROP into a flat list of files, each with the folder
// grain it goes into; folders are found (merged only when the provider agrees) or made on the way.
// Links and junctions are not followed.
class TSxHDROPHelper {
public:
    TSxHDROPHelper(TSxCustomProvider& provider, HWND ownerWindow) : Provider(provider), OwnerWindow(ownerWindow) {}
    void AddFile(TSxCustomDataGrain& folderGrain, const std::string& path);
    int GetFileCount() const { return static_cast<int>(FileNames.size()); }
    const std::string& GetFileName(int index) const { return FileNames.at(static_cast<size_t>(index)); }
    TSxCustomDataGrain& GetGrain(int index) { return *FolderGrains.GetItem(index); }
    // Files that cannot go: their folder could not be made, or they are links.
    int Skipped = 0;

private:
    bool AddEntry(TSxCustomDataGrain& folderGrain, const std::string& path, uint32_t attributes,
                  std::unique_ptr<TSxCustomDataGrain>& target);
    std::vector<std::string> FileNames;
    TSxDataGrainList FolderGrains;
    TSxCustomProvider& Provider;
    HWND OwnerWindow;
};
#endif
