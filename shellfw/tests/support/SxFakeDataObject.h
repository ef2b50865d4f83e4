#pragma once
// A data object for tests: prepared HGLOBAL blocks by clipboard format. It lives on the test's
// stack, so its reference count is not kept.
#include <windows.h>
#include <objidl.h>

#include "SxComObject.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

class TFakeDataObject : public IDataObject {
public:
    std::map<CLIPFORMAT, std::vector<uint8_t>> Blocks;
    int Requests = 0;  // GetData calls

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        static const QITAB table[] = {QITABENTMULTI2(TFakeDataObject, IID_IUnknown, IDataObject),
                                      SX_QITABENT(TFakeDataObject, IDataObject), {nullptr, 0}};
        return SxQueryInterface(this, table, iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        ++Requests;
        auto it = Blocks.find(format->cfFormat);
        if (it == Blocks.end())
            return DV_E_FORMATETC;
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, it->second.size());
        if (!block)
            return E_OUTOFMEMORY;
        if (!it->second.empty())
            std::memcpy(GlobalLock(block), it->second.data(), it->second.size());
        GlobalUnlock(block);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};
