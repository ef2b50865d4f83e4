// The COM entry points of the framework's test DLLs. Each DLL defines SxTestDllSetup, which
// registers its module classes once; nothing heavy runs under the loader lock.
#include "SxTools.h"
#include "SxComObjectFactory.h"

#include <windows.h>

void SxTestDllSetup();

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SxSetModuleHandle(instance);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    SxTestDllSetup();
    return SxDllGetClassObject(clsid, iid, object);
}

STDAPI DllCanUnloadNow() { return SxDllCanUnloadNow(); }

STDAPI DllRegisterServer()
{
    SxTestDllSetup();
    return SxDllRegisterServer();
}

STDAPI DllUnregisterServer()
{
    SxTestDllSetup();
    return SxDllUnregisterServer();
}
}
