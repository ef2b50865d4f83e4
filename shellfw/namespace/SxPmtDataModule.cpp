#include "SxPmtDataModule.h"

#include <algorithm>

namespace {

struct TRegisteredClass {
    std::string Name;
    TSxPermanentModuleFactory Factory;
};

// Process-wide lists, made on first use (never in a static constructor of the library).
// Lock order: MakeLock, then LiveLock, then ClassLock, then a module's folder lock. Only MakeLock
// is held for long (while a module is made); it is never taken under one of the others.
struct TModuleLists {
    std::recursive_mutex MakeLock;  // one module made at a time; re-entrant for a find inside a constructor
    std::recursive_mutex LiveLock;  // re-entrant: a module adds itself while a find holds it
    std::vector<TSxPermanentModule*> Live;  // owned: freed by FreeAll or by the module itself
    std::mutex ClassLock;
    std::vector<TRegisteredClass> Classes;
};

TModuleLists& Lists()
{
    static TModuleLists* lists = new TModuleLists;  // lives to the end of the process
    return *lists;
}

// The class a find of this thread is making: its module is listed from its constructor on, but
// other threads see it only once it is made.
thread_local const std::string* GMaking = nullptr;

} // namespace

TSxPermanentModule::TSxPermanentModule(const std::string& className) : FClassName(className)
{
    TModuleLists& l = Lists();
    std::lock_guard<std::recursive_mutex> guard(l.LiveLock);
    FMade = !(GMaking && *GMaking == className);
    l.Live.push_back(this);
}

TSxPermanentModule::~TSxPermanentModule()
{
    TModuleLists& l = Lists();
    std::lock_guard<std::recursive_mutex> guard(l.LiveLock);
    l.Live.erase(std::remove(l.Live.begin(), l.Live.end(), this), l.Live.end());
}

void TSxPermanentModule::AddShellFolder(const void* folder)
{
    std::lock_guard<std::mutex> guard(FFolderLock);
    if (std::find(FFolders.begin(), FFolders.end(), folder) == FFolders.end())
        FFolders.push_back(folder);
}

void TSxPermanentModule::RemoveShellFolder(const void* folder)
{
    // A folder joining this module meanwhile is in before the last one can free it.
    auto live = LockPermanentModules();
    bool freeNow = false;
    {
        std::lock_guard<std::mutex> guard(FFolderLock);
        auto it = std::find(FFolders.begin(), FFolders.end(), folder);
        if (it == FFolders.end())
            return;
        FFolders.erase(it);
        freeNow = FFolders.empty() && !PreventUnload;
    }
    if (freeNow)
        delete this;
}

size_t TSxPermanentModule::ShellFolderCount()
{
    std::lock_guard<std::mutex> guard(FFolderLock);
    return FFolders.size();
}

void TSxPermanentModule::DoBeforeDestroy()
{
    if (OnBeforeDestroy)
        OnBeforeDestroy(*this);
}

void TSxPermanentModule::FireBeforeDestroyAll()
{
    TModuleLists& l = Lists();
    std::lock_guard<std::recursive_mutex> guard(l.LiveLock);
    const std::vector<TSxPermanentModule*> live = l.Live;
    for (TSxPermanentModule* module : live)
        module->DoBeforeDestroy();
}

void TSxPermanentModule::FreeAll()
{
    TModuleLists& l = Lists();
    std::lock_guard<std::recursive_mutex> guard(l.LiveLock);
    while (!l.Live.empty())
        delete l.Live.back();  // removes itself
}

void RegisterPermanentModuleClass(const std::string& className, TSxPermanentModuleFactory factory)
{
    TModuleLists& l = Lists();
    std::lock_guard<std::mutex> guard(l.ClassLock);
    l.Classes.push_back({className, std::move(factory)});
}

namespace {

// The live module of that class: a made one, or the one this thread is making.
TSxPermanentModule* LiveModuleOf(TModuleLists& l, const std::string& className)
{
    std::lock_guard<std::recursive_mutex> live(l.LiveLock);
    for (TSxPermanentModule* module : l.Live)
        if (module->ClassName() == className && (module->IsMade() || (GMaking && *GMaking == className)))
            return module;
    return nullptr;
}

} // namespace

TSxPermanentModule* FindPermanentModule(const std::string& className)
{
    TModuleLists& l = Lists();
    if (TSxPermanentModule* module = LiveModuleOf(l, className))
        return module;
    TSxPermanentModuleFactory factory;
    {
        std::lock_guard<std::mutex> classes(l.ClassLock);
        for (const auto& c : l.Classes)
            if (c.Name == className) {
                factory = c.Factory;
                break;
            }
    }
    if (!factory)
        return nullptr;
    // Made under MakeLock alone: two threads never make two modules of one class, and a thread
    // that only joins a module, or leaves one, does not wait while a module is being made.
    std::lock_guard<std::recursive_mutex> making(l.MakeLock);
    if (TSxPermanentModule* module = LiveModuleOf(l, className))
        return module;
    const std::string* outer = GMaking;
    GMaking = &className;
    std::unique_ptr<TSxPermanentModule> made;
    try {
        made = factory();
    } catch (...) {
        GMaking = outer;
        throw;
    }
    GMaking = outer;
    // The module appended itself to the live list; ownership passes to that list.
    std::lock_guard<std::recursive_mutex> live(l.LiveLock);
    made->FMade = true;
    return made.release();
}

bool IsLivePermanentModule(const TSxPermanentModule* module)
{
    TModuleLists& l = Lists();
    std::lock_guard<std::recursive_mutex> live(l.LiveLock);
    return module && module->IsMade() && std::find(l.Live.begin(), l.Live.end(), module) != l.Live.end();
}

std::unique_lock<std::recursive_mutex> LockPermanentModules()
{
    return std::unique_lock<std::recursive_mutex>(Lists().LiveLock);
}
