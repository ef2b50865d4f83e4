#pragma once
// Per-item helpers of the namespace: the run-time menu item that binds a copy of a provider menu
// item to the grains it acts on.
#ifdef _WIN32
#include "SxPopupMenu.h"

#include "SxProvider.h"

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

#include <string>
#include <vector>

class TSxCustomProvider;
class TSxCustomShellFolder;

class TSxMenuItem : public TSxBaseMenuItem {
public:
    // Bound to grain (nullptr: none) and copied from source (nullptr: nothing copied).
    TSxMenuItem(TSxComponent* owner, bool eventsOnly, TSxCustomDataGrain* grain, TSxBaseMenuItem* source);
    std::string ClassName() const override { return "TSxMenuItem"; }

    std::vector<TSxCustomDataGrain*> Grains;  // not owned
    HWND WindowHandle = nullptr;
    TSxCustomProvider* Provider = nullptr;    // the first grain's
    IShellFolder* ShellFolder = nullptr;      // not referenced
    bool EventsOnly = false;
    TSxBaseMenuItem* SourceItem = nullptr;
    std::string Verb;

    TSxCustomDataGrain* FirstGrain() const { return Grains.empty() ? nullptr : Grains.front(); }
    // The visible properties and the click handler of source, then a bound copy of each child.
    static void CopyMenuItem(const TSxBaseMenuItem& source, TSxMenuItem& target);
};

// The base of the helper objects: the grains (owned copies), their provider, the owner window and
// the folder. The object counts toward DllCanUnloadNow while it lives.
class TSxNamespaceCustomUtil {
public:
    // Copies every grain of grains (nullptr: none; FirstGrain then takes the folder's grain).
    TSxNamespaceCustomUtil(TSxCustomShellFolder& folder, HWND ownerWindow, const TSxDataGrainList* grains);
    virtual ~TSxNamespaceCustomUtil();
    TSxNamespaceCustomUtil(const TSxNamespaceCustomUtil&) = delete;
    TSxNamespaceCustomUtil& operator=(const TSxNamespaceCustomUtil&) = delete;

    TSxDataGrainList Grains;
    TSxCustomProvider* Provider = nullptr;
    HWND OwnerWindow = nullptr;
    TSxCustomShellFolder* ShellFolder = nullptr;

    // The first grain; with an empty list the folder's own grain is added first. Raises when there
    // is none (no provider).
    TSxCustomDataGrain& FirstGrain();

    // A new object of class T handed out as iid (the caller's reference only).
    template <typename T, typename... Args> static HRESULT Make(REFIID iid, void** object, Args&&... args)
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        try {
            Microsoft::WRL::ComPtr<T> made;
            made.Attach(new T(std::forward<Args>(args)...));
            return made->QueryInterface(iid, object);
        } catch (...) {
            return MakeFailed();
        }
    }

protected:
    ULONG UtilAddRef() { return static_cast<ULONG>(++FRefCount); }
    ULONG UtilRelease();
    static HRESULT MakeFailed();

private:
    Microsoft::WRL::ComPtr<IShellFolder> FFolderReference;
    std::atomic<LONG> FRefCount{1};
};

// The IUnknown of a helper class over its interface table.
#define SX_UTIL_IUNKNOWN                                                                  \
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;                      \
    STDMETHODIMP_(ULONG) AddRef() override { return UtilAddRef(); }                       \
    STDMETHODIMP_(ULONG) Release() override { return UtilRelease(); }

#endif
