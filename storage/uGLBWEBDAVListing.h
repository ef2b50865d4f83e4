#pragma once
// The listing of the storage: the multistatus answer kept in a temporary file and read from it into
// its responses, and the mirror written from their records: swapped in whole, or merged over it.
#include "uTVirtualFileStorage.h"

#include <objidl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The body of one listing answer, in a temporary file that goes with the object.
class TListingAnswer {
public:
    TListingAnswer() = default;
    ~TListingAnswer();
    TListingAnswer(const TListingAnswer&) = delete;
    TListingAnswer& operator=(const TListingAnswer&) = delete;

    // A new empty temporary file in folder (made when missing); the previous one goes.
    void Create(const std::string& folder);
    // A new temporary file in folder holding text (a recorded answer).
    void Assign(const std::string& folder, const std::string& text);
    // Takes over the file of other (which is left without one); the previous file goes.
    void TakeFrom(TListingAnswer& other);
    // The whole answer (for a look at it; the listing never reads it into memory).
    std::string Text() const;

    std::string FileName;   // "" until an answer was made
    uint64_t Size = 0;      // bytes of the answer
};

// The responses of the multistatus document in answerFile, in document order, each handed to
// onResponse with its href as sent; onResponse returns false to stop (cancel). False with the reason
// in error for a document that is no complete, well-formed multistatus (its root element closed) or
// holds a DOCTYPE, and when stopped.
bool ReadMultistatusFile(const std::string& answerFile,
                         const std::function<bool(const std::string& href, TListingEntry& entry)>& onResponse,
                         std::string& error);
// The same for a small answer held as text (a depth-0 request), collected; `pump` runs after each
// response and returns false to stop. False also when the answer lists nothing.
bool ReadMultistatus(const std::string& xml, std::vector<std::pair<std::string, TListingEntry>>& responses,
                     std::string& error, const std::function<bool()>& pump);
// Test seam: sees the stream of each answer that ReadMultistatus reads, once made (empty: nobody).
using TAnswerStreamFn = std::function<void(IStream* stream)>;
void SetAnswerStreamObserver(TAnswerStreamFn fn);

// Removes folder and everything in it with a plain walk (links are removed, never followed). Refuses
// (false) relative paths, drive roots and wildcards; false also when anything stayed. A folder that
// is not there is removed already (true). Old mirrors being swept below folder are left to this walk.
bool DeleteFolderTree(const std::string& folder);

// Puts the folder fresh in the place of the mirror folder cache. The old mirror is renamed into the
// folder trash (the working folder Temp: disconnect and exit remove it) and deleted there by a thread
// of its own, so the caller does not wait for it; without a trash it is deleted before this returns.
// Raises when the old mirror cannot be moved aside or fresh cannot take its place (the old mirror
// then stays). That thread also deletes what earlier swaps (of processes that ended early, too) left
// in the trash.
void SwapInMirror(const std::string& fresh, const std::string& cache, const std::string& trash = std::string());
// Waits up to milliseconds until no old mirror is being swept; true when none is.
bool WaitForOldMirrorsSwept(uint32_t milliseconds);
// What the mirror directory (with final "\") holds: entries, and the Name of each file record.
std::vector<TMirrorDirEntry> MirrorDirectoryEntries(const std::string& directory);
// Moves the planned records from stage (laid out as the mirror) over the mirror cache, and the stale
// records out of it. Raises when a step fails; every step done is taken back first.
void MergeIntoMirror(const std::string& stage, const std::string& cache, const TMirrorPlan& plan);
