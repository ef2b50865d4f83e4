#include "SxShellView.h"

#ifdef _WIN32
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr LONG SxViewNotifyEvents = 0x2B81F;  // rename, create, delete, mkdir, rmdir, attributes,
                                              // updatedir, updateitem, updateimage, renamefolder
constexpr LONG SxItemEvents = SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE | SHCNE_MKDIR | SHCNE_RMDIR |
                              SHCNE_ATTRIBUTES | SHCNE_UPDATEITEM | SHCNE_RENAMEFOLDER;

struct TViewRegistration {
    uint32_t Number;
    TSxPidlPtr List;
    HWND Window;
    bool Global;
};

struct TViewRegistry {
    std::mutex Lock;
    std::vector<TViewRegistration> Entries;
    uint32_t NextNumber = 0;
};

TViewRegistry& Registry()
{
    static TViewRegistry registry;
    return registry;
}

bool SameList(PCSxItemIDList a, PCSxItemIDList b)
{
    try {
        uint32_t size = PIDLGetSize(a);
        return size == PIDLGetSize(b) && (size == 0 || std::memcmp(a, b, size) == 0);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void NotifyShellChange(LONG event, UINT flags, PCSxItemIDList item1, PCSxItemIDList item2)
{
    SHChangeNotify(event, flags | SHCNF_FLUSHNOWAIT, item1, item2);
    if (!item1)
        return;
    TSxPidlPtr affected((event & ~SxItemEvents) == 0 && (event & SxItemEvents) != 0 ? PIDLGetParent(item1)
                                                                                   : PIDLClone(item1));
    if (!affected)
        return;
    std::vector<HWND> windows;
    {
        auto& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.Lock);
        for (const auto& entry : registry.Entries)
            if (!entry.Global && SameList(entry.List.get(), affected.get()))
                windows.push_back(entry.Window);
    }
    // The lists belong to the caller and are freed after this call, so the message carries only
    // the event: the view refreshes itself whatever the item.
    for (HWND window : windows)
        PostMessageW(window, SxShellChangeMessage, static_cast<WPARAM>(event), 0);
}

uint32_t RegisterShellView(TSxChangeNotifyType type, PCSxItemIDList list, HWND window)
{
    auto& registry = Registry();
    if (type == TSxChangeNotifyType::cntGlobal) {
        SHChangeNotifyEntry entry{list, TRUE};
        ULONG id = SHChangeNotifyRegister(window, SHCNRF_InterruptLevel | SHCNRF_ShellLevel, SxViewNotifyEvents,
                                          SxShellChangeMessage, 1, &entry);
        if (id != 0) {
            std::lock_guard<std::mutex> guard(registry.Lock);
            registry.Entries.push_back({id, nullptr, window, true});
        }
        return id;
    }
    TSxPidlPtr copy(PIDLClone(list));
    if (!copy)
        copy.reset(PIDLCreateEmpty());
    std::lock_guard<std::mutex> guard(registry.Lock);
    uint32_t number = registry.NextNumber++;
    registry.Entries.push_back({number, std::move(copy), window, false});
    return number;
}

void UnregisterShellView(HWND window)
{
    std::vector<ULONG> global;
    {
        auto& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.Lock);
        auto& entries = registry.Entries;
        for (auto it = entries.begin(); it != entries.end();) {
            if (it->Window != window) {
                ++it;
                continue;
            }
            if (it->Global)
                global.push_back(it->Number);
            it = entries.erase(it);
        }
    }
    for (ULONG id : global)
        SHChangeNotifyDeregister(id);
}

size_t ShellViewRegistrationCount(HWND window)
{
    auto& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    size_t count = 0;
    for (const auto& entry : registry.Entries)
        if (entry.Window == window)
            ++count;
    return count;
}
#endif
