#pragma once
// Modules: containers of components. A product module class adds its components in its
// constructor. Non-thread-free modules are per thread and long-lived (the registry owns them);
// a thread-free module belongs to the one COM object that uses it.
#ifdef _WIN32
#include "SxComponent.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class TSxModule;

// A module class: its name (compared case-insensitively) and how to build an instance.
struct TSxModuleClass {
    std::string ClassName;
    std::function<std::unique_ptr<TSxModule>()> Construct;
};

class TSxModule : public TSxComponent {
public:
    explicit TSxModule(const TSxModuleClass& moduleClass);
    ~TSxModule() override;
    std::string ClassName() const override { return FClassName; }

    // Builds an instance and runs ModuleCreatedHook; a non-thread-free module is then owned by the
    // thread registry (the pointer stays valid until unload), a thread-free one by the caller.
    static TSxModule* Create(const TSxModuleClass& moduleClass);

    bool ThreadFree() const { return FThreadFree; }
    void SetThreadFree(bool value) { FThreadFree = value; }

private:
    std::string FClassName;
    bool FThreadFree = false;
};

using TSxModuleHook = void (*)(TSxModule* module);
extern TSxModuleHook ModuleCreatedHook;
extern TSxModuleHook ModuleDestroyedHook;

// The per-thread registry: {thread id, module}, newest last.
void RegisterThreadModule(TSxModule* module);
void UnregisterThreadModule(TSxModule* module);
// The calling thread's newest module of that class, or nullptr.
TSxModule* FindThreadModule(const TSxModuleClass& moduleClass);
size_t ThreadModuleCount();

// The process-wide 32 x 32 and 16 x 16 icon lists (made on first use, under their own lock):
// adds the icon without a key, gives its index and a new icon handle of that image (the caller
// destroys it).
HICON AddIconToLargeList(HICON icon, int& index);
HICON AddIconToSmallList(HICON icon, int& index);
// At the final unload: frees every registered module, newest first.
void FreeThreadModules();
#endif
