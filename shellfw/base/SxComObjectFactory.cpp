#include "SxComObjectFactory.h"

#ifdef _WIN32
#include "uGLBWin.h"
#include "SxTools.h"

#include <shlobj.h>

#include <memory>
#include <mutex>
#include <vector>

namespace {

// The factory lock guards the factory list and the answer of DllCanUnloadNow; it is held only
// for those, never while a module is made or a COM object works.
std::recursive_mutex& FactoryLock()
{
    static std::recursive_mutex lock;
    return lock;
}

std::vector<std::unique_ptr<TSxComObjectFactory>>& Factories()
{
    static std::vector<std::unique_ptr<TSxComObjectFactory>> factories;
    return factories;
}

std::string& ServerName()
{
    static std::string name = "Server";
    return name;
}

std::string GuidText(const GUID& guid)
{
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return WideToUtf8(text);
}

// This library's full path, in its short form when it holds a blank.
std::string ServerPath()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(SxModuleHandle(), path, MAX_PATH);
    std::wstring result = path;
    if (result.find(L' ') != std::wstring::npos) {
        wchar_t shortPath[MAX_PATH + 1] = {};
        if (GetShortPathNameW(path, shortPath, MAX_PATH))
            result = shortPath;
    }
    return WideToUtf8(result);
}

} // namespace

void SxSetServerName(const std::string& name) { ServerName() = name; }
const std::string& SxServerName() { return ServerName(); }

TSxComObjectFactory::TSxComObjectFactory(const TSxModuleClass& moduleClass, const TSxBaseShellObject& component)
    : FModuleClass(moduleClass), FClsid(component.Clsid()), FClassName(component.Name()),
      FDescription(component.Description())
{
}

std::string TSxComObjectFactory::ProgID() const { return SxServerName() + "." + FClassName; }

STDMETHODIMP TSxComObjectFactory::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxComObjectFactory, IID_IUnknown, IClassFactory),
                                  SX_QITABENT(TSxComObjectFactory, IClassFactory), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

STDMETHODIMP TSxComObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return SxComCall(nullptr, [&]() -> HRESULT {
        // An object on its way counts from here, so the library does not become unloadable
        // meanwhile (DllCanUnloadNow answers under the same lock). Its module is made outside
        // the lock: every window's thread needs the lock for every object it asks for.
        {
            std::lock_guard<std::recursive_mutex> guard(FactoryLock());
            SxObjectCountAdd(1);
        }
        struct TOnItsWay {
            ~TOnItsWay() { SxObjectCountAdd(-1); }
        } onItsWay;
        TSxBaseShellObject* component = CreateComObject();
        if (!component)
            return E_FAIL;
        component->AttachComObject(this);
        component->ComAddRef(); // held across the question, so a refusal hands it back
        const HRESULT hr = component->ComQueryInterface(iid, object);
        component->ComRelease();
        return hr;
    });
}

STDMETHODIMP TSxComObjectFactory::LockServer(BOOL lock)
{
    SxLockCountAdd(lock ? 1 : -1);
    return S_OK;
}

TSxBaseShellObject* TSxComObjectFactory::ComponentOf(TSxModule* module) const
{
    return module ? dynamic_cast<TSxBaseShellObject*>(module->FindComponent(FClassName)) : nullptr;
}

TSxBaseShellObject* TSxComObjectFactory::CreateComObject()
{
    TSxModule* module = FindThreadModule(FModuleClass);
    if (!module)
        module = TSxModule::Create(FModuleClass);
    TSxBaseShellObject* component = ComponentOf(module);
    if (!component)
        return nullptr;
    if (component->HasComObject()) // busy: one more module for this thread
        component = ComponentOf(TSxModule::Create(FModuleClass));
    return component;
}

TSxBaseShellObject* TSxThreadFreeComObjectFactory::CreateComObject()
{
    std::unique_ptr<TSxModule> module(TSxModule::Create(FModuleClass));
    TSxBaseShellObject* component = ComponentOf(module.get());
    if (!component)
        return nullptr;
    (void)module.release(); // freed with the object's last Release
    return component;
}

TSxModule* TSxComObjectFactory::RegistryModule()
{
    TSxModule* module = FindThreadModule(FModuleClass);
    return module ? module : TSxModule::Create(FModuleClass);
}

TSxModule* TSxThreadFreeComObjectFactory::RegistryModule() { return TSxModule::Create(FModuleClass); }

void TSxComObjectFactory::PlatformRegistry(bool doRegister)
{
    const std::string clsidKey = "CLSID\\" + GuidText(FClsid), progId = ProgID();
    if (doRegister) {
        WriteClassesRootValue(clsidKey, "", FDescription);
        WriteClassesRootValue(clsidKey + "\\InprocServer32", "", ServerPath());
        WriteClassesRootValue(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment");
        WriteClassesRootValue(progId, "", FDescription);
        WriteClassesRootValue(progId + "\\Clsid", "", GuidText(FClsid));
        WriteClassesRootValue(clsidKey + "\\ProgID", "", progId);
        return;
    }
    DeleteClassesRootKey(clsidKey + "\\ProgID");
    DeleteClassesRootKey(progId + "\\Clsid");
    DeleteClassesRootKey(progId);
    DeleteClassesRootKey(clsidKey + "\\InprocServer32");
    DeleteClassesRootKey(clsidKey);
}

void TSxComObjectFactory::UpdateRegistry(bool doRegister)
{
    // Registering writes the class keys first; unregistering removes them last, after the
    // component has removed its own keys below them (a key with subkeys cannot be deleted).
    if (doRegister)
        PlatformRegistry(true);
    std::unique_ptr<TSxModule> temporary;
    TSxModule* module = RegistryModule();
    if (FreeAfterRegistry())
        temporary.reset(module);
    if (TSxBaseShellObject* component = ComponentOf(module)) {
        if (component->BeforeUpdateRegistry)
            component->BeforeUpdateRegistry(*component, doRegister);
        component->UpdateRegistry(doRegister);
        // Explorer rereads its associations both when a class comes and when it goes, so a
        // removed folder or handler does not linger in open windows.
        if (component->RefreshWhenRegistered)
            SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
        if (component->AfterUpdateRegistry)
            component->AfterUpdateRegistry(*component, doRegister);
    }
    if (!doRegister)
        PlatformRegistry(false);
}

bool RegisterModuleFactories(const TSxModuleClass& moduleClass)
{
    std::unique_ptr<TSxModule> temporary = moduleClass.Construct();
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    for (const auto& component : temporary->Components()) {
        const auto* shellObject = dynamic_cast<const TSxBaseShellObject*>(component.get());
        if (!shellObject)
            continue;
        if (temporary->ThreadFree())
            Factories().push_back(std::make_unique<TSxThreadFreeComObjectFactory>(moduleClass, *shellObject));
        else
            Factories().push_back(std::make_unique<TSxComObjectFactory>(moduleClass, *shellObject));
    }
    return true;
}

HRESULT SxDllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    return SxComCall(nullptr, [&]() -> HRESULT {
        SxRegisterClipboardFormats();
        std::lock_guard<std::recursive_mutex> guard(FactoryLock());
        for (const auto& factory : Factories())
            if (IsEqualCLSID(factory->Clsid(), clsid))
                return factory->QueryInterface(iid, object);
        return CLASS_E_CLASSNOTAVAILABLE;
    });
}

HRESULT SxDllCanUnloadNow()
{
    // Under the factory lock: an object being made on another thread is counted before the
    // answer, and no module is freed while a factory works on it.
    std::lock_guard<std::recursive_mutex> guard(FactoryLock());
    if (SxObjectCount() > 0 || SxLockCount() > 0)
        return S_FALSE;
    // What the library would do at unload runs here, outside the loader lock: the per-thread
    // modules and the shell allocator go. Factories stay for a later DllGetClassObject.
    FreeThreadModules();
    SxReleaseShellAllocator();
    return S_OK;
}

namespace {

HRESULT UpdateAll(bool doRegister)
{
    // E_FAIL for any failure, whatever it carries: the registration's callers test for S_OK.
    try {
        std::lock_guard<std::recursive_mutex> guard(FactoryLock());
        for (const auto& factory : Factories())
            factory->UpdateRegistry(doRegister);
        return S_OK;
    } catch (...) {
        SxHandleException(nullptr, std::current_exception());
        return E_FAIL;
    }
}

} // namespace

HRESULT SxDllRegisterServer() { return UpdateAll(true); }
HRESULT SxDllUnregisterServer() { return UpdateAll(false); }
#endif
