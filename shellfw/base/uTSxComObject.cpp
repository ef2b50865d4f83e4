#include "uTSxComObject.h"

#ifdef _WIN32
#include "uSxTools.h"

namespace {
std::atomic<LONG> Objects{0};
std::atomic<LONG> Locks{0};
bool ThreadCallsDisabled = false;
} // namespace

LONG SxObjectCount() { return Objects; }
void SxObjectCountAdd(LONG delta) { Objects += delta; }
LONG SxLockCount() { return Locks; }
void SxLockCountAdd(LONG delta) { Locks += delta; }

void TSxComObject::AttachComObject(TSxComObjectFactory* factory)
{
    FFactory = factory;
    FRefCount = 0;
    FInService = true;
    SxObjectCountAdd(1);
    Initialize();
}

void TSxComObject::Initialize()
{
    // The first object of the process switches off thread attach and detach calls for the library
    // (not done in DllMain, which must stay light).
    TSxFrameworkLock lock;
    if (!ThreadCallsDisabled) {
        ThreadCallsDisabled = true;
        DisableThreadLibraryCalls(SxModuleHandle());
    }
}

HRESULT TSxComObject::ComQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = ObjQueryInterface(iid);
    if (!*object)
        return E_NOINTERFACE;
    ComAddRef();
    return S_OK;
}

ULONG TSxComObject::ComAddRef() { return static_cast<ULONG>(++FRefCount); }

ULONG TSxComObject::ComRelease()
{
    const LONG count = --FRefCount;
    if (count == 0) {
        FInService = false;
        FFactory = nullptr;
        SxObjectCountAdd(-1);
        ComObjectReleased(); // may free the module and this component with it
    }
    return static_cast<ULONG>(count < 0 ? 0 : count);
}
#endif
