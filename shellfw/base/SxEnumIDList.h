#pragma once
// The IEnumIDList that a shell folder hands to Explorer for the items of one enumeration. It owns
// clones of the items; Next hands out up to the count asked for.
#ifdef _WIN32
#include "SxComObject.h"
#include "SxPidl.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <memory>
#include <vector>

class TSxEnumIDList final : public IEnumIDList, public TSxSelfOwnedComObject {
public:
    // Clones every list; the caller keeps its own. Raises when a clone cannot be made.
    explicit TSxEnumIDList(const std::vector<PCSxItemIDList>& lists, ULONG position = 0);
    // A new enumerator, reference count 1, or nullptr when it cannot be built.
    static IEnumIDList* Create(const std::vector<PCSxItemIDList>& lists);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    SX_COUNTED_REFERENCES
    STDMETHODIMP Next(ULONG celt, PITEMID_CHILD* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumIDList** enumerator) override;

private:
    friend struct std::default_delete<TSxEnumIDList>; // only Release frees it
    ~TSxEnumIDList() override = default;
    std::vector<TSxPidlPtr> FItems;
    ULONG FPosition;
};
#endif
