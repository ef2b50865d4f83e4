#pragma once
// The COM identity of a shell-object component. In this code base the component is itself the COM
// object: TSxComObject holds the interlocked reference count and the module-wide object count, and
// its last Release hands the component back to its module instead of deleting it.
#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#include <unknwn.h>
#include <wrl/client.h>

#include "uGLBCom.h"

#include <atomic>

class TSxComObjectFactory;

// Interface tables: every class answers QueryInterface from one static table of QITAB entries,
// closed by {nullptr, 0}. SX_QITABENT(Class, IFoo) answers IID_IFoo with the IFoo part of Class;
// QITABENTMULTI2(Class, IID_IBase, IFoo) answers a base interface's IID through IFoo.
// IUnknown is answered only where a table lists it, so each object keeps one identity.
#define SX_QITABENT(Class, Iface) QITABENTMULTI2(Class, IID_##Iface, Iface)

// The interface that table gives object for iid, or nullptr; no reference is added.
void* SxFindInterface(void* object, const QITAB* table, REFIID iid);
// QueryInterface of a COM object through its table: the interface with one reference added, or
// E_NOINTERFACE (and *result nullptr).
HRESULT SxQueryInterface(void* object, const QITAB* table, REFIID iid, void** result);

// The module-wide count of live COM objects and server locks behind DllCanUnloadNow.
LONG SxObjectCount();
void SxObjectCountAdd(LONG delta);
LONG SxLockCount();
void SxLockCountAdd(LONG delta);

class TSxComObject {
public:
    virtual ~TSxComObject() = default;

    // Takes the component into service for a new COM object (reference count 0): counts the
    // object, runs Initialize once per process. The caller then asks ComQueryInterface.
    void AttachComObject(TSxComObjectFactory* factory);
    bool HasComObject() const { return FInService; }
    TSxComObjectFactory* Factory() const { return FFactory; }
    LONG RefCount() const { return FRefCount; }

    HRESULT ComQueryInterface(REFIID iid, void** object);
    ULONG ComAddRef();
    ULONG ComRelease();

protected:
    // The interface pointer for iid or nullptr; classes answer their own and ask their base.
    virtual void* ObjQueryInterface(REFIID iid) = 0;
    // Runs once when the first object of the process is initialised.
    virtual void Initialize();
    // After the last Release: the component is back in its module (and may be freed with it).
    virtual void ComObjectReleased() = 0;

private:
    std::atomic<LONG> FRefCount{0};
    bool FInService = false;
    TSxComObjectFactory* FFactory = nullptr;
};

// IUnknown of each further interface of a class, forwarded to the one identity.
#define SX_IUNKNOWN_METHODS                                                                       \
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return ComQueryInterface(iid, object); } \
    STDMETHODIMP_(ULONG) AddRef() override { return ComAddRef(); }                                \
    STDMETHODIMP_(ULONG) Release() override { return ComRelease(); }
#endif
