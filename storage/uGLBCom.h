#pragma once
// Holding COM interfaces: every interface is held by Microsoft::WRL::ComPtr.
#ifdef _WIN32
#include <wrl/client.h>

// Takes over the one reference that raw already carries (what a call handed out, or a new
// object). mingw-w64's ComPtr::Attach adds a reference of its own, unlike WRL's, so it would leak
// the object.
template <typename T> Microsoft::WRL::ComPtr<T> SxAdoptComPtr(T* raw)
{
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = raw;
    return owner;
}
#endif
