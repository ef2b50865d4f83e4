#include "SxDataModule.h"

#ifdef _WIN32
#include "SxIconList.h"

#include <mutex>
#include <vector>

namespace {

struct TEntry {
    DWORD ThreadId;
    TSxModule* Module;
    std::unique_ptr<TSxModule> Owned;
};

struct TRegistry {
    std::recursive_mutex Lock;
    std::vector<TEntry> Entries;
    // At process exit the modules still registered go with the registry; they must not call
    // back into it while it is being destroyed.
    ~TRegistry() { ModuleDestroyedHook = nullptr; }
};

TRegistry& TheRegistry()
{
    static TRegistry registry;
    return registry;
}

std::recursive_mutex& RegistryLock() { return TheRegistry().Lock; }
std::vector<TEntry>& Registry() { return TheRegistry().Entries; }

} // namespace

TSxModuleHook ModuleCreatedHook = RegisterThreadModule;
TSxModuleHook ModuleDestroyedHook = UnregisterThreadModule;

TSxModule::TSxModule(const TSxModuleClass& moduleClass) : FClassName(moduleClass.ClassName) {}

TSxModule::~TSxModule()
{
    if (ModuleDestroyedHook)
        ModuleDestroyedHook(this);
}

TSxModule* TSxModule::Create(const TSxModuleClass& moduleClass)
{
    std::unique_ptr<TSxModule> module = moduleClass.Construct();
    TSxModule* raw = module.get();
    if (raw->ThreadFree()) {
        module.release(); // the caller owns it
        if (ModuleCreatedHook)
            ModuleCreatedHook(raw);
        return raw;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(RegistryLock());
        Registry().push_back({GetCurrentThreadId(), raw, std::move(module)});
    }
    return raw;
}

void RegisterThreadModule(TSxModule* module)
{
    // Modules made by TSxModule::Create are registered (and owned) there; this covers others.
    if (!module || module->ThreadFree())
        return;
    std::lock_guard<std::recursive_mutex> guard(RegistryLock());
    for (const auto& entry : Registry())
        if (entry.Module == module)
            return;
    Registry().push_back({GetCurrentThreadId(), module, nullptr});
}

void UnregisterThreadModule(TSxModule* module)
{
    std::lock_guard<std::recursive_mutex> guard(RegistryLock());
    auto& entries = Registry();
    for (size_t i = entries.size(); i-- > 0;)
        if (entries[i].Module == module) {
            // The module is being destroyed by its owner: only the entry goes.
            (void)entries[i].Owned.release();
            entries.erase(entries.begin() + static_cast<ptrdiff_t>(i));
        }
}

TSxModule* FindThreadModule(const TSxModuleClass& moduleClass)
{
    std::lock_guard<std::recursive_mutex> guard(RegistryLock());
    const DWORD thread = GetCurrentThreadId();
    const auto& entries = Registry();
    for (size_t i = entries.size(); i-- > 0;)
        if (entries[i].ThreadId == thread && SxSameName(entries[i].Module->ClassName(), moduleClass.ClassName))
            return entries[i].Module;
    return nullptr;
}

size_t ThreadModuleCount()
{
    std::lock_guard<std::recursive_mutex> guard(RegistryLock());
    return Registry().size();
}

void FreeThreadModules()
{
    for (;;) {
        std::unique_ptr<TSxModule> module;
        {
            std::lock_guard<std::recursive_mutex> guard(RegistryLock());
            auto& entries = Registry();
            if (entries.empty())
                return;
            module = std::move(entries.back().Owned);
            entries.pop_back();
        }
        module.reset(); // outside the lock; its destroyed hook finds no entry
    }
}
namespace {

std::mutex IconListsLock;

HICON AddToList(std::unique_ptr<TSxIconList>& list, int size, HICON icon, int& index)
{
    std::lock_guard<std::mutex> guard(IconListsLock);
    if (!list) {
        list = std::make_unique<TSxIconList>();
        list->SetWidth(size);
        list->SetHeight(size);
    }
    index = list->AddIcon(icon, "");
    return list->GetIconHandle(index);
}

std::unique_ptr<TSxIconList> LargeIcons, SmallIcons;

} // namespace

HICON AddIconToLargeList(HICON icon, int& index) { return AddToList(LargeIcons, 32, icon, index); }
HICON AddIconToSmallList(HICON icon, int& index) { return AddToList(SmallIcons, 16, icon, index); }
#endif
