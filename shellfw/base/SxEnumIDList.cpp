#include "SxEnumIDList.h"

#ifdef _WIN32
#include "SxException.h"
#include "SxComObject.h"

#include <memory>
#include <new>

TSxEnumIDList::TSxEnumIDList(const std::vector<PCSxItemIDList>& lists, ULONG position) : FPosition(position)
{
    FItems.reserve(lists.size());
    for (PCSxItemIDList list : lists) {
        TSxPidlPtr clone(PIDLClone(list));
        if (!clone)
            throw std::bad_alloc();
        FItems.push_back(std::move(clone));
    }
    SxObjectCountAdd(1);
}

TSxEnumIDList::~TSxEnumIDList() { SxObjectCountAdd(-1); }

IEnumIDList* TSxEnumIDList::Create(const std::vector<PCSxItemIDList>& lists)
{
    try {
        return std::make_unique<TSxEnumIDList>(lists).release(); // owned by its reference count
    } catch (...) {
        SxHandleException(nullptr, std::current_exception());
        return nullptr;
    }
}

STDMETHODIMP TSxEnumIDList::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumIDList)) {
        *object = static_cast<IEnumIDList*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TSxEnumIDList::AddRef() { return static_cast<ULONG>(++FRefCount); }

STDMETHODIMP_(ULONG) TSxEnumIDList::Release()
{
    const LONG count = --FRefCount;
    if (count == 0)
        std::unique_ptr<TSxEnumIDList>{this}.reset();
    return static_cast<ULONG>(count);
}

STDMETHODIMP TSxEnumIDList::Next(ULONG, PITEMID_CHILD* items, ULONG* fetched)
{
    // One item per call whatever celt asks for; S_OK only with an item handed out.
    if (fetched)
        *fetched = 0;
    if (!items)
        return E_POINTER;
    *items = nullptr;
    if (FPosition >= FItems.size())
        return S_FALSE;
    return SxComCall(nullptr, [&]() -> HRESULT {
        PSxItemIDList clone = PIDLClone(FItems[FPosition].get());
        if (!clone)
            return E_OUTOFMEMORY;
        *items = reinterpret_cast<PITEMID_CHILD>(clone);
        ++FPosition;
        if (fetched)
            *fetched = 1;
        return S_OK;
    });
}

STDMETHODIMP TSxEnumIDList::Skip(ULONG celt)
{
    // Past the end is S_FALSE, and the position stops at the end.
    const ULONG left = FPosition < FItems.size() ? static_cast<ULONG>(FItems.size()) - FPosition : 0;
    if (celt > left) {
        FPosition = static_cast<ULONG>(FItems.size());
        return S_FALSE;
    }
    FPosition += celt;
    return S_OK;
}

STDMETHODIMP TSxEnumIDList::Reset()
{
    FPosition = 0;
    return S_OK;
}

STDMETHODIMP TSxEnumIDList::Clone(IEnumIDList** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    return SxComCall(nullptr, [&]() -> HRESULT {
        std::vector<PCSxItemIDList> lists;
        for (const auto& item : FItems)
            lists.push_back(item.get());
        auto copy = std::make_unique<TSxEnumIDList>(lists, FPosition);
        const HRESULT hr = copy->QueryInterface(IID_IEnumIDList, reinterpret_cast<void**>(enumerator));
        copy.release()->Release(); // the interface holds the one reference now
        return hr;
    });
}
#endif
