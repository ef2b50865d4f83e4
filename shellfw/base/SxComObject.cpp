#include "SxComObject.h"

#ifdef _WIN32
#include "SxException.h"
#include "SxTools.h"

namespace {
std::atomic<LONG> Objects{0};
std::atomic<LONG> Locks{0};
std::atomic<bool> ThreadCallsDisabled{false};
} // namespace

void* SxFindInterface(void* object, const QITAB* table, REFIID iid)
{
    for (; table && table->piid; ++table)
        if (IsEqualIID(iid, *table->piid))
            return static_cast<BYTE*>(object) + table->dwOffset;
    return nullptr;
}

HRESULT SxQueryInterface(void* object, const QITAB* table, REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    *result = SxFindInterface(object, table, iid);
    if (!*result)
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*result)->AddRef();
    return S_OK;
}

LONG SxObjectCount() { return Objects; }
void SxObjectCountAdd(LONG delta) { Objects += delta; }
LONG SxLockCount() { return Locks; }
void SxLockCountAdd(LONG delta) { Locks += delta; }

ULONG TSxCountedObject::ComRelease()
{
    const LONG count = --FRefCount;
    if (count == 0)
        LastReleased();   // may free this object
    return static_cast<ULONG>(count < 0 ? 0 : count);
}

void TSxComObject::AttachComObject(TSxComObjectFactory* factory)
{
    FFactory = factory;
    RestartCount();
    FInService = true;
    SxObjectCountAdd(1);
    Initialize();
}

void TSxComObject::Initialize()
{
    // The first object of the process switches off thread attach and detach calls for the library
    // (a library whose DllMain has not done so already). No lock of ours is held meanwhile: the
    // call takes the loader lock.
    if (!ThreadCallsDisabled.exchange(true))
        DisableThreadLibraryCalls(SxModuleHandle());
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

void TSxComObject::LastReleased()
{
    FInService = false;
    FFactory = nullptr;
    // May free the module and this component with it. A handler that raises there must not
    // take Release down with it; the module then stays.
    const auto* sender = dynamic_cast<const TSxComponent*>(this);
    try {
        ComObjectReleased();
    } catch (...) {
        SxHandleException(sender, std::current_exception());
    }
    // Counted down only now: until the module is gone the library is still at work.
    SxObjectCountAdd(-1);
}
#endif
