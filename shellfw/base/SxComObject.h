#pragma once
// The reference count of every COM object of the framework (TSxCountedObject), the objects that
// belong to their references (TSxSelfOwnedComObject), and the COM identity of a shell-object
// component (TSxComObject): the component is itself the COM object, and its last Release hands it
// back to its module instead of deleting it.
#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>

class TSxComObjectFactory;

// Takes over the one reference that raw already carries. (mingw-w64's ComPtr::Attach adds a
// reference of its own, unlike WRL's, so it would leak the object.)
template <typename T> Microsoft::WRL::ComPtr<T> SxAdoptComPtr(T* raw)
{
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = raw;
    return owner;
}

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

// The one interlocked reference count. The last Release runs LastReleased once.
class TSxCountedObject {
public:
    TSxCountedObject(const TSxCountedObject&) = delete;
    TSxCountedObject& operator=(const TSxCountedObject&) = delete;

    ULONG ComAddRef() { return static_cast<ULONG>(++FRefCount); }
    ULONG ComRelease();
    LONG RefCount() const { return FRefCount; }

protected:
    // initial: the references the creator holds.
    explicit TSxCountedObject(LONG initial) : FRefCount(initial) {}
    virtual ~TSxCountedObject() = default;
    virtual void LastReleased() = 0;
    void RestartCount() { FRefCount = 0; }

private:
    std::atomic<LONG> FRefCount;
};

// An object that belongs to its references: born with the creator's one reference, counted in
// the module's object count while it lives (the library's code runs it), deleted by its last Release.
class TSxSelfOwnedComObject : public TSxCountedObject {
protected:
    TSxSelfOwnedComObject() : TSxCountedObject(1) { SxObjectCountAdd(1); }
    ~TSxSelfOwnedComObject() override { SxObjectCountAdd(-1); }
    void LastReleased() override { delete this; }
};

// An object that its owner keeps for its whole life (class factories, the tray icon): counted,
// never freed by a Release.
class TSxOwnerHeldComObject : public TSxCountedObject {
protected:
    TSxOwnerHeldComObject() : TSxCountedObject(0) {}
    void LastReleased() override {}
};

// AddRef and Release of an interface, on the class's one count.
#define SX_COUNTED_REFERENCES                                                                 \
    STDMETHODIMP_(ULONG) AddRef() override { return ComAddRef(); }                            \
    STDMETHODIMP_(ULONG) Release() override { return ComRelease(); }

class TSxComObject : public TSxCountedObject {
public:
    TSxComObject() : TSxCountedObject(0) {}

    // Takes the component into service for a new COM object (reference count 0): counts the
    // object, runs Initialize once per process. The caller then asks ComQueryInterface.
    void AttachComObject(TSxComObjectFactory* factory);
    bool HasComObject() const { return FInService; }
    TSxComObjectFactory* Factory() const { return FFactory; }

    HRESULT ComQueryInterface(REFIID iid, void** object);

protected:
    // The interface pointer for iid or nullptr; classes answer their own and ask their base.
    virtual void* ObjQueryInterface(REFIID iid) = 0;
    // Runs once when the first object of the process is initialised.
    virtual void Initialize();
    // After the last Release: the component is back in its module (and may be freed with it).
    virtual void ComObjectReleased() = 0;

private:
    void LastReleased() override;
    bool FInService = false;
    TSxComObjectFactory* FFactory = nullptr;
};

// IUnknown of each further interface of a class, forwarded to the one identity.
#define SX_IUNKNOWN_METHODS                                                                       \
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return ComQueryInterface(iid, object); } \
    SX_COUNTED_REFERENCES
#endif
