// A shell extension that registers but refuses to be unregistered (as one whose keys the user may
// not delete): for the tray program's handling of a failed unregistration.
#include <windows.h>

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return S_OK; }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return static_cast<HRESULT>(0x80040201L); }   // SELFREG_E_CLASS
