#pragma once
// Class factories, one per shell-object component of a product module class, and the in-process
// server behind the library's four exports.
#ifdef _WIN32
#include "SxBaseShellObject.h"
#include "SxDataModule.h"

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <string>

class TSxComObjectFactory : public IClassFactory, public TSxOwnerHeldComObject {
public:
    TSxComObjectFactory(const TSxModuleClass& moduleClass, const TSxBaseShellObject& component);
    virtual ~TSxComObjectFactory() = default;

    // Factories live as long as the server; references are counted but never free them.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    SX_COUNTED_REFERENCES
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    // The component now in service for a new object, or nullptr. Runs under the factory lock.
    virtual TSxBaseShellObject* CreateComObject();
    // Writes (or removes) the class keys, then lets the component write its own.
    virtual void UpdateRegistry(bool doRegister);

    const GUID& Clsid() const { return FClsid; }
    const std::string& ClassName() const { return FClassName; }
    const std::string& Description() const { return FDescription; }
    std::string ProgID() const;

protected:
    TSxBaseShellObject* ComponentOf(TSxModule* module) const;
    // The module that UpdateRegistry works on; FreeAfterRegistry says whether it goes afterwards.
    virtual TSxModule* RegistryModule();
    virtual bool FreeAfterRegistry() const { return false; }
    TSxModuleClass FModuleClass;

private:
    void PlatformRegistry(bool doRegister);
    GUID FClsid;
    std::string FClassName, FDescription;
};

class TSxThreadFreeComObjectFactory : public TSxComObjectFactory {
public:
    using TSxComObjectFactory::TSxComObjectFactory;
    TSxBaseShellObject* CreateComObject() override;

protected:
    TSxModule* RegistryModule() override;
    bool FreeAfterRegistry() const override { return true; }
};

// The server's name, the first part of every ProgID ("Brannock").
void SxSetServerName(const std::string& name);
const std::string& SxServerName();
// One factory per shell-object component of the module class (thread-free factories when the
// module is thread-free). Called once at the product's first entry.
bool RegisterModuleFactories(const TSxModuleClass& moduleClass);

// The four exports.
HRESULT SxDllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
HRESULT SxDllCanUnloadNow();
HRESULT SxDllRegisterServer();
HRESULT SxDllUnregisterServer();
#endif
