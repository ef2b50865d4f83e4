#pragma once
// Item-ID list routines. A list is a run of items, each starting with its own 16-bit little-endian
// byte count cb (counting the two count bytes), closed by a zero count. Lists made here come from
// the shell allocator and are size + 4 bytes long: the items, the terminator and two zero bytes.
// Counts are read byte-wise, so items at odd addresses are fine. A count of 1 cannot be an item:
// such a list is malformed and raises ESxItemIDListError instead of being walked.
#include "SxExceptionClass.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <shtypes.h>
using TSxItemIDList = ITEMIDLIST;
#else
// Stand-in for ITEMIDLIST in the native build; only ever addressed as bytes.
struct TSxItemIDList {
    uint8_t cb[2];
};
#endif
using PSxItemIDList = TSxItemIDList*;
using PCSxItemIDList = const TSxItemIDList*;

SX_DECLARE_EXCEPTION(ESxItemIDListError, std::runtime_error);

// The most items a list that the framework counts may have.
constexpr int SxMaxItemIDCount = 260;

// The shell allocator (SHGetMalloc on Windows, taken on first use; the C heap natively). Memory
// comes back zeroed; nullptr when the allocation fails.
void* SxShellAlloc(size_t size);
void SxShellFree(void* memory);
// Lets go of the shell allocator at the library's final unload; taken again if needed later.
void SxReleaseShellAllocator();

// The byte count of the item at item (0 for the terminator).
uint16_t PIDLItemSize(PCSxItemIDList item);
// The content bytes of the item (after its count).
inline const uint8_t* PIDLItemData(PCSxItemIDList item) { return reinterpret_cast<const uint8_t*>(item) + 2; }

// The item after item; nullptr for an absent list or at the terminator.
PCSxItemIDList PIDLGetNext(PCSxItemIDList item);
PSxItemIDList PIDLGetNext(PSxItemIDList item);
// Byte size without the terminator; 0 for an absent list.
uint32_t PIDLGetSize(PCSxItemIDList list);
// Number of items; 0 for an absent list; -1 for more than SxMaxItemIDCount items.
int PIDLGetItemCount(PCSxItemIDList list);
// The last item inside the list (not a copy); nullptr for an absent or empty list.
PCSxItemIDList PIDLFindLast(PCSxItemIDList list);
PSxItemIDList PIDLFindLast(PSxItemIDList list);
// New lists from the shell allocator (nullptr when the allocation fails). Clone and GetParent give
// nullptr for an absent list; GetParent of a one-item or empty list is the empty list. Combine with
// one absent list clones the other, with both absent gives nullptr.
PSxItemIDList PIDLClone(PCSxItemIDList list);
PSxItemIDList PIDLGetParent(PCSxItemIDList list);
PSxItemIDList PIDLCombine(PCSxItemIDList first, PCSxItemIDList second);
// A new list holding only the empty list's terminator.
PSxItemIDList PIDLCreateEmpty();
// A new list made of one item with the given content bytes; raises when it does not fit a count.
PSxItemIDList PIDLCreateItem(const void* content, size_t length);
void PIDLFree(PSxItemIDList list);

// For lists read from a buffer of known size (clipboard data, records): true when every item and
// the terminator lie inside the available bytes and no count is 1. The size (without terminator)
// goes to size when given.
bool PIDLIsValid(const void* data, size_t available, uint32_t* size = nullptr);

// True when both lists hold the same bytes (two absent lists are equal); false when either is
// malformed.
bool PIDLIsEqual(PCSxItemIDList a, PCSxItemIDList b);

// Three-way orders of two lists that are antisymmetric: a list with fewer items orders first, and
// PIDLCompareBytes then compares the items level by level from the top (content bytes, a shorter
// content first). Both return false, and leave order alone, when a list is absent, malformed or
// longer than SxMaxItemIDCount items: a failure is never an order.
bool PIDLCompareDepth(PCSxItemIDList a, PCSxItemIDList b, int& order);
bool PIDLCompareBytes(PCSxItemIDList a, PCSxItemIDList b, int& order);

// Owner of a list from the shell allocator.
struct TSxPidlFree {
    void operator()(PSxItemIDList list) const { PIDLFree(list); }
};
using TSxPidlPtr = std::unique_ptr<TSxItemIDList, TSxPidlFree>;
