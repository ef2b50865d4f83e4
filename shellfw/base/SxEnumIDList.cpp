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
    static const QITAB table[] = {QITABENTMULTI2(TSxEnumIDList, IID_IUnknown, IEnumIDList),
                                  SX_QITABENT(TSxEnumIDList, IEnumIDList), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

STDMETHODIMP_(ULONG) TSxEnumIDList::AddRef() { return static_cast<ULONG>(++FRefCount); }

STDMETHODIMP_(ULONG) TSxEnumIDList::Release()
{
    const LONG count = --FRefCount;
    if (count == 0)
        delete this;
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
        // Born with its one reference, which the caller takes over.
        *enumerator = std::make_unique<TSxEnumIDList>(lists, FPosition).release();
        return S_OK;
    });
}
#endif
