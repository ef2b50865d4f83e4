// The library entry of the online folder: the four COM exports. The loader lock sees only the module
// handle; the module classes and factories are made at the first DllGetClassObject or registration.
#include "SxTools.h"
#include "SxComObjectFactory.h"
#include "SxException.h"
#include "SxPmtDataModule.h"
#include "uvrqmodMain.h"
#include "uvrqmodPermanent.h"
#include "ufrmMainPropertySheet.h"

#include <windows.h>

#include <mutex>

namespace {

void BrannockSetup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SxSetServerName("Brannock");
        RegisterPermanentModuleClass("TvrqmodPermanent", [] { return std::make_unique<TvrqmodPermanent>(); });
        TfrmMainPropertySheet::Register();
        RegisterModuleFactories(vrqmodMainClass);
    });
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SxSetModuleHandle(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Each export is a COM boundary: a set-up that fails is the framework's HRESULT, like any failure.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (object)
        *object = nullptr;
    return SxComCall(nullptr, [&] {
        BrannockSetup();
        return SxDllGetClassObject(clsid, iid, object);
    });
}

// The permanent module holds the provider for the rest of the process: once it exists the library
// stays loaded. Otherwise, when no object of the library is left, what unloading must do runs here,
// on a thread COM chose and outside the loader lock (DllMain's detach does no COM and no clipboard
// work): the permanent modules that allow unloading are told and freed. The clipboard needs
// nothing: a data object of the folder that copy or cut left there holds a reference, so the
// answer stays S_FALSE until Explorer, which put it there, flushes or empties its clipboard.
STDAPI DllCanUnloadNow()
{
    if (TvrqmodPermanent::Instance())
        return S_FALSE;
    const HRESULT result = SxDllCanUnloadNow();
    if (result == S_OK) {
        TSxPermanentModule::FireBeforeDestroyAll();
        TSxPermanentModule::FreeAll();
    }
    return result;
}

STDAPI DllRegisterServer()
{
    return SxComCall(nullptr, [] {
        BrannockSetup();
        return SxDllRegisterServer();
    });
}

STDAPI DllUnregisterServer()
{
    return SxComCall(nullptr, [] {
        BrannockSetup();
        return SxDllUnregisterServer();
    });
}
}
