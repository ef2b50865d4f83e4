#pragma once
// Data grains: one item of the virtual folder (file or folder) as the provider hands it to Explorer,
// and the owning list in which grains travel through the provider's events. Grains are short-lived
// copies: the framework makes one from an item ID whenever it needs one and frees it after the call.
#ifdef _WIN32
#include "uSxGrainRecord.h"
#include "uSxPidl.h"
#include "uTSxStream.h"

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TSxCustomProvider;
class TSxByHandProvider;
class TSxDataGrainList;

class TSxCustomDataGrain {
public:
    // Registers the grain in the provider's list of live grains.
    explicit TSxCustomDataGrain(TSxCustomProvider& provider);
    virtual ~TSxCustomDataGrain();
    TSxCustomDataGrain(const TSxCustomDataGrain&) = delete;
    TSxCustomDataGrain& operator=(const TSxCustomDataGrain&) = delete;

    TSxGrainAttributes Attributes = 0;
    uint8_t Version = SxGrainRecordVersion;
    TSxMemoryStream Data;   // the provider's private bytes for the item
    bool IsFile = false;
    int32_t IconIndex = -1;        // -1: the provider's default
    std::string Name;              // UTF-8; display and parsing name
    int32_t OpenIconIndex = -1;
    std::vector<std::string> Values;  // "key=value" lines
    TSxCustomProvider& Provider;

    // Value lines by key (case-insensitive).
    std::string GetValue(const std::string& key) const { return SxGetValue(Values, key); }
    void SetValue(const std::string& key, const std::string& value) { SxSetValue(Values, key, value); }

    PCSxItemIDList AbsolutePidl() const { return FAbsolutePidl.get(); }
    // Keeps a copy of list (nullptr allowed) in place of the current one.
    void SetAbsolutePidl(PCSxItemIDList list);
    void FreeAbsolutePidl() { FAbsolutePidl.reset(); }
    // The absolute list becomes the folder grain's list with this grain's own item ID appended.
    void PlaceUnder(const TSxCustomDataGrain& folderGrain);

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

    // The cached grain ID; asks the provider (OnGetGrainID) while none is cached.
    virtual std::optional<std::string> GetGrainID();
    // The grain record at the stream's position. A damaged record raises and changes nothing.
    virtual void LoadFromStream(TSxByteStream& stream);
    // withAbsoluteList false writes field 8 empty (the form inside item IDs).
    virtual void SaveToStream(TSxByteStream& stream, bool withAbsoluteList = true) const;
    // A new grain of the provider's class with this grain's content and absolute list (not its
    // cached grain ID).
    virtual std::unique_ptr<TSxCustomDataGrain> Clone() const;
    // Verbs on the given owner window and absolute list (Explore: folders only).
    virtual void Explore(HWND ownerWindow, PCSxItemIDList absoluteList);
    // A file grain asks the provider (OnGrainOpen) for a command; raises when it cannot be started.
    virtual void Open(HWND ownerWindow, PCSxItemIDList absoluteList);
    virtual void ShowProperties(HWND ownerWindow, PCSxItemIDList absoluteList);
    // The private clipboard format's form of one grain: the grain record.
    virtual void LoadFromPrivateFormat(TSxByteStream& stream) { LoadFromStream(stream); }
    virtual void SaveToPrivateFormat(TSxByteStream& stream) const { SaveToStream(stream, true); }
    // Fills list with the grain's children; nothing here.
    virtual void Populate(TSxDataGrainList& list);

    // The grain's item ID (one item and the terminator); the caller owns it.
    TSxPidlPtr GetItemID() const;
    // Loads the grain from a framework item; any other item leaves the grain unchanged. A
    // framework item with a damaged record raises.
    void LoadFromItemID(PCSxItemIDList item);

protected:
    TSxGrainRecord ToRecord() const;
    void FromRecord(TSxGrainRecord&& record);

private:
    TSxPidlPtr FAbsolutePidl;
    std::recursive_mutex FLock;
    std::optional<std::string> FGrainID;
};

// The grain of TSxByHandProvider, whose children come from OnPopulate.
class TSxByHandDataGrain : public TSxCustomDataGrain {
public:
    explicit TSxByHandDataGrain(TSxByHandProvider& provider);
    bool Root = false;  // the grain that stands for the folder root
    void SetRoot(bool value) { Root = value; }
    std::unique_ptr<TSxCustomDataGrain> Clone() const override;
    void Populate(TSxDataGrainList& list) override;
};

// A list that owns its grains.
class TSxDataGrainList {
public:
    TSxDataGrainList() = default;
    TSxDataGrainList(const TSxDataGrainList&) = delete;
    TSxDataGrainList& operator=(const TSxDataGrainList&) = delete;

    int Count() const { return static_cast<int>(FItems.size()); }
    TSxCustomDataGrain* GetItem(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    void SetItem(int index, std::unique_ptr<TSxCustomDataGrain> grain) { FItems.at(static_cast<size_t>(index)) = std::move(grain); }
    TSxCustomDataGrain* First() const { return FItems.empty() ? nullptr : FItems.front().get(); }
    void Add(std::unique_ptr<TSxCustomDataGrain> grain) { FItems.push_back(std::move(grain)); }
    std::unique_ptr<TSxCustomDataGrain> Extract(int index);
    void Clear() { FItems.clear(); }
    // Clears this list and adds a clone of every grain of source, in order.
    void Assign(const TSxDataGrainList& source);

private:
    std::vector<std::unique_ptr<TSxCustomDataGrain>> FItems;
};

// What the browse operations need of the view form that owns a grain's menu: its window, the
// Explorer window's IShellBrowser, the shell folder's absolute list and the two browse settings.
struct TSxBrowseContext {
    HWND Window = nullptr;
    IShellBrowser* Browser = nullptr;
    PCSxItemIDList FolderAbsoluteList = nullptr;
    uint8_t BrowseFlags = 0;  // bit 0: no history, bit 1: no auto-select
    int WindowMode = 0;       // 0 same browser, 1 new browser, else the default
};
// The SBSP_* flags of a browse in explore mode (explore true) or open mode.
UINT SxBrowseFlags(const TSxBrowseContext& context, bool explore);
bool ShowGrainProperties(const TSxBrowseContext& context, TSxCustomDataGrain& grain);
bool ExploreGrain(const TSxBrowseContext& context, TSxCustomDataGrain& grain);
bool OpenGrain(const TSxBrowseContext& context, TSxCustomDataGrain& grain);
#endif
