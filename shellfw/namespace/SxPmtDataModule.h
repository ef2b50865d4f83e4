#pragma once
// The permanent module: the one live instance per module class that holds the provider and
// outlives the per-object modules. A shell folder finds it by class name, which creates it on
// first use. Locks, in their order: the making lock (held while a module is made), the live list,
// the registered list, a module's folders; none is taken while a later one is held, and only the
// making lock is held for long. Nothing here runs from the library's load or unload
// notifications (the loader lock): the library entry calls FireBeforeDestroyAll and FreeAll when
// it becomes unloadable.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TSxPermanentModule {
public:
    // Appends itself to the live modules.
    explicit TSxPermanentModule(const std::string& className);
    virtual ~TSxPermanentModule();
    TSxPermanentModule(const TSxPermanentModule&) = delete;
    TSxPermanentModule& operator=(const TSxPermanentModule&) = delete;

    const std::string& ClassName() const { return FClassName; }
    bool PreventUnload = true;
    std::function<void(TSxPermanentModule&)> OnBeforeDestroy;

    // Shell folders that use the module (no duplicates). Removing the last one frees a module
    // that does not prevent unloading; it must not be used afterwards.
    void AddShellFolder(const void* folder);
    void RemoveShellFolder(const void* folder);
    size_t ShellFolderCount();
    void DoBeforeDestroy();

    // Over every live module: OnBeforeDestroy in list order, then freeing last first.
    static void FireBeforeDestroyAll();
    static void FreeAll();

    // Made: a module that a find is making is seen by other threads only once it is made.
    bool IsMade() const { return FMade; }

private:
    friend TSxPermanentModule* FindPermanentModule(const std::string& className);
    std::string FClassName;
    bool FMade = true;  // guarded by the live list's lock
    std::mutex FFolderLock;
    std::vector<const void*> FFolders;
};

// How a registered class makes its module (the class's constructor).
using TSxPermanentModuleFactory = std::function<std::unique_ptr<TSxPermanentModule>()>;
// Appends a class (no duplicate test).
void RegisterPermanentModuleClass(const std::string& className, TSxPermanentModuleFactory factory);
// The live module of that class name (exact, case-sensitive), created from its registered class
// on first use; nullptr for an unregistered name. Threads that ask while it is being made wait
// for it (holding none of the locks here); never call it with the live list locked.
TSxPermanentModule* FindPermanentModule(const std::string& className);
// Whether the module is (still) a made live module.
bool IsLivePermanentModule(const TSxPermanentModule* module);
// Holds the live list for a scope: no module is freed until it ends, so that a folder finds a
// module and joins it as one step.
std::unique_lock<std::recursive_mutex> LockPermanentModules();
