#include "SxPidl.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#ifdef _WIN32
#include <shlobj.h>
#include <wrl/client.h>

namespace {
std::mutex AllocatorLock;
Microsoft::WRL::ComPtr<IMalloc> ShellMalloc;

IMalloc* GetShellMalloc()
{
    std::lock_guard<std::mutex> guard(AllocatorLock);
    if (!ShellMalloc && FAILED(SHGetMalloc(ShellMalloc.ReleaseAndGetAddressOf())))
        ShellMalloc.Reset();
    return ShellMalloc.Get();
}
} // namespace

void* SxShellAlloc(size_t size)
{
    IMalloc* malloc = GetShellMalloc();
    void* memory = malloc ? malloc->Alloc(size) : nullptr;
    if (memory)
        std::memset(memory, 0, size);
    return memory;
}

void SxShellFree(void* memory)
{
    if (!memory)
        return;
    if (IMalloc* malloc = GetShellMalloc())
        malloc->Free(memory);
}

void SxReleaseShellAllocator()
{
    std::lock_guard<std::mutex> guard(AllocatorLock);
    ShellMalloc.Reset();
}
#else
void* SxShellAlloc(size_t size) { return std::calloc(size ? size : 1, 1); }
void SxShellFree(void* memory) { std::free(memory); }
void SxReleaseShellAllocator() {}
#endif

namespace {

const uint8_t* Bytes(PCSxItemIDList list) { return reinterpret_cast<const uint8_t*>(list); }

[[noreturn]] void Malformed() { throw ESxItemIDListError("Malformed item ID list"); }

// Size and item count of a list, walking at most maxItems + 1 items; count is maxItems + 1 when
// the list is longer.
void Walk(PCSxItemIDList list, int maxItems, uint32_t& size, int& count)
{
    size = 0;
    count = 0;
    if (!list)
        return;
    const uint8_t* p = Bytes(list);
    for (;;) {
        const uint16_t cb = PIDLItemSize(reinterpret_cast<PCSxItemIDList>(p));
        if (cb == 0)
            return;
        if (cb < 2)
            Malformed();
        if (maxItems >= 0 && count > maxItems)
            return;
        if (size > std::numeric_limits<uint32_t>::max() - 4 - cb)
            Malformed();
        size += cb;
        ++count;
        p += cb;
    }
}

PSxItemIDList Allocate(uint64_t size)
{
    if (size > std::numeric_limits<size_t>::max())
        return nullptr;
    return static_cast<PSxItemIDList>(SxShellAlloc(static_cast<size_t>(size)));
}

} // namespace

uint16_t PIDLItemSize(PCSxItemIDList item)
{
    const uint8_t* p = Bytes(item);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

PCSxItemIDList PIDLGetNext(PCSxItemIDList item)
{
    if (!item)
        return nullptr;
    const uint16_t cb = PIDLItemSize(item);
    if (cb == 0)
        return nullptr;
    if (cb < 2)
        Malformed();
    return reinterpret_cast<PCSxItemIDList>(Bytes(item) + cb);
}

PSxItemIDList PIDLGetNext(PSxItemIDList item)
{
    return const_cast<PSxItemIDList>(PIDLGetNext(static_cast<PCSxItemIDList>(item)));
}

uint32_t PIDLGetSize(PCSxItemIDList list)
{
    uint32_t size;
    int count;
    Walk(list, -1, size, count);
    return size;
}

int PIDLGetItemCount(PCSxItemIDList list)
{
    uint32_t size;
    int count;
    Walk(list, SxMaxItemIDCount, size, count);
    return count > SxMaxItemIDCount ? -1 : count;
}

PCSxItemIDList PIDLFindLast(PCSxItemIDList list)
{
    if (!list || PIDLItemSize(list) == 0)
        return nullptr;
    PCSxItemIDList last = list;
    for (PCSxItemIDList next = PIDLGetNext(list); PIDLItemSize(next) != 0; next = PIDLGetNext(next))
        last = next;
    return last;
}

PSxItemIDList PIDLFindLast(PSxItemIDList list)
{
    return const_cast<PSxItemIDList>(PIDLFindLast(static_cast<PCSxItemIDList>(list)));
}

PSxItemIDList PIDLClone(PCSxItemIDList list)
{
    if (!list)
        return nullptr;
    const uint32_t size = PIDLGetSize(list);
    PSxItemIDList copy = Allocate(uint64_t(size) + 4);
    if (copy)
        std::memcpy(copy, list, size); // the zeroed block already holds the terminator
    return copy;
}

PSxItemIDList PIDLGetParent(PCSxItemIDList list)
{
    if (!list)
        return nullptr;
    PCSxItemIDList last = PIDLFindLast(list);
    const uint32_t size = last ? PIDLGetSize(list) - PIDLItemSize(last) : 0;
    PSxItemIDList parent = Allocate(uint64_t(size) + 4);
    if (parent && size)
        std::memcpy(parent, list, size);
    return parent;
}

PSxItemIDList PIDLCombine(PCSxItemIDList first, PCSxItemIDList second)
{
    if (!first && !second)
        return nullptr;
    if (!first)
        return PIDLClone(second);
    if (!second)
        return PIDLClone(first);
    const uint32_t size1 = PIDLGetSize(first), size2 = PIDLGetSize(second);
    PSxItemIDList combined = Allocate(uint64_t(size1) + size2 + 4);
    if (!combined)
        return nullptr;
    uint8_t* out = reinterpret_cast<uint8_t*>(combined);
    std::memcpy(out, first, size1);
    std::memcpy(out + size1, second, size2);
    return combined;
}

PSxItemIDList PIDLCreateEmpty() { return Allocate(4); }

PSxItemIDList PIDLCreateItem(const void* content, size_t length)
{
    if (length > 0xFFFFu - 2)
        throw ESxItemIDListError("Item ID content is too long");
    const size_t cb = length + 2;
    PSxItemIDList item = Allocate(uint64_t(cb) + 4);
    if (!item)
        return nullptr;
    uint8_t* out = reinterpret_cast<uint8_t*>(item);
    out[0] = static_cast<uint8_t>(cb);
    out[1] = static_cast<uint8_t>(cb >> 8);
    if (length)
        std::memcpy(out + 2, content, length);
    return item;
}

void PIDLFree(PSxItemIDList list)
{
    if (list)
        SxShellFree(list);
}

bool PIDLIsValid(const void* data, size_t available, uint32_t* size)
{
    if (!data)
        return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t offset = 0;
    for (;;) {
        if (available - offset < 2)
            return false;
        const uint16_t cb = static_cast<uint16_t>(p[offset] | (p[offset + 1] << 8));
        if (cb == 0)
            break;
        if (cb < 2 || cb > available - offset - 2) // the terminator must follow inside too
            return false;
        offset += cb;
    }
    if (offset > std::numeric_limits<uint32_t>::max())
        return false;
    if (size)
        *size = static_cast<uint32_t>(offset);
    return true;
}

namespace {

bool Depths(PCSxItemIDList a, PCSxItemIDList b, int& countA, int& countB)
{
    if (!a || !b)
        return false;
    try {
        countA = PIDLGetItemCount(a);
        countB = PIDLGetItemCount(b);
    } catch (const ESxItemIDListError&) {
        return false;
    }
    return countA >= 0 && countB >= 0;
}

int Sign(int value) { return (value > 0) - (value < 0); }

} // namespace

bool PIDLCompareDepth(PCSxItemIDList a, PCSxItemIDList b, int& order)
{
    int countA, countB;
    if (!Depths(a, b, countA, countB))
        return false;
    order = Sign(countA - countB);
    return true;
}

bool PIDLIsEqual(PCSxItemIDList a, PCSxItemIDList b)
{
    try {
        const uint32_t size = PIDLGetSize(a);
        return size == PIDLGetSize(b) && (size == 0 || std::memcmp(a, b, size) == 0);
    } catch (const std::exception&) {
        return false;
    }
}

bool PIDLCompareBytes(PCSxItemIDList a, PCSxItemIDList b, int& order)
{
    int countA, countB;
    if (!Depths(a, b, countA, countB))
        return false;
    if (countA != countB) {
        order = Sign(countA - countB);
        return true;
    }
    for (int i = 0; i < countA; ++i, a = PIDLGetNext(a), b = PIDLGetNext(b)) {
        const size_t lengthA = PIDLItemSize(a) - 2u, lengthB = PIDLItemSize(b) - 2u;
        const size_t common = lengthA < lengthB ? lengthA : lengthB;
        int result = common ? std::memcmp(PIDLItemData(a), PIDLItemData(b), common) : 0;
        if (result == 0)
            result = (lengthA > lengthB) - (lengthA < lengthB);
        if (result != 0) {
            order = Sign(result);
            return true;
        }
    }
    order = 0;
    return true;
}
