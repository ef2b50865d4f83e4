#include "SxEnumIDList.h"

#ifdef _WIN32
#include "SxException.h"
#include "SxComObject.h"

#include <algorithm>
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
}

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

STDMETHODIMP TSxEnumIDList::Next(ULONG celt, PITEMID_CHILD* items, ULONG* fetched)
{
    // Up to celt items; S_OK only when all celt were handed out. Without a count to report, a
    // caller may ask for one item only.
    if (fetched)
        *fetched = 0;
    if (!items)
        return E_POINTER;
    if (!fetched && celt != 1)
        return E_INVALIDARG;
    if (celt == 0)
        return S_OK;
    items[0] = nullptr;
    return SxComCall(nullptr, [&]() -> HRESULT {
        const size_t left = FPosition < FItems.size() ? FItems.size() - FPosition : 0;
        const ULONG count = static_cast<ULONG>(std::min<size_t>(celt, left));
        std::vector<TSxPidlPtr> clones;
        clones.reserve(count);
        for (ULONG i = 0; i < count; ++i) {
            clones.emplace_back(PIDLClone(FItems[FPosition + i].get()));
            if (!clones.back())
                return E_OUTOFMEMORY;  // nothing handed out, the position stays
        }
        for (ULONG i = 0; i < count; ++i)
            items[i] = reinterpret_cast<PITEMID_CHILD>(clones[i].release());
        FPosition += count;
        if (fetched)
            *fetched = count;
        return count == celt ? S_OK : S_FALSE;
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
