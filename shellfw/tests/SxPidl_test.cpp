#include "SxPidl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes of a list whose items have the given contents, with its terminator.
Bytes ListBytes(const std::vector<std::string>& items)
{
    Bytes bytes;
    for (const auto& content : items) {
        const size_t cb = content.size() + 2;
        bytes.push_back(static_cast<uint8_t>(cb));
        bytes.push_back(static_cast<uint8_t>(cb >> 8));
        bytes.insert(bytes.end(), content.begin(), content.end());
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

PCSxItemIDList AsList(const Bytes& bytes) { return reinterpret_cast<PCSxItemIDList>(bytes.data()); }

Bytes ListOf(PCSxItemIDList list)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(list);
    return Bytes(p, p + PIDLGetSize(list) + 2);
}

// Exactly the 4 bytes after the items are zero (terminator and the two spare bytes).
void ExpectClosed(PCSxItemIDList list)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(list) + PIDLGetSize(list);
    EXPECT_EQ(p[0] | p[1] | p[2] | p[3], 0);
}

const Bytes Empty = ListBytes({});
const Bytes One = ListBytes({"abc"});
const Bytes Three = ListBytes({"a", "", "xyz"});
// A count of 1 after a good item.
const Bytes Malformed = {4, 0, 'a', 'b', 1, 0, 0, 0};

std::vector<std::string> Items(size_t n) { return std::vector<std::string>(n, "x"); }

} // namespace

TEST(PIDL, MeasuresLists)
{
    const Bytes max = ListBytes(Items(260)), over = ListBytes(Items(261));
    const struct {
        const char* what;
        const Bytes* list;
        uint32_t size;
        int count;
        ptrdiff_t last; // offset of the last item, -1 none
    } cases[] = {
        {"absent", nullptr, 0, 0, -1},
        {"empty", &Empty, 0, 0, -1},
        {"one", &One, 5, 1, 0},
        {"three", &Three, 10, 3, 5},
        {"260 items", &max, 780, 260, 777},
        {"261 items", &over, 783, -1, 780},
    };
    for (const auto& c : cases) {
        PCSxItemIDList list = c.list ? AsList(*c.list) : nullptr;
        EXPECT_EQ(PIDLGetSize(list), c.size) << c.what;
        EXPECT_EQ(PIDLGetItemCount(list), c.count) << c.what;
        PCSxItemIDList last = PIDLFindLast(list);
        if (c.last < 0) {
            EXPECT_EQ(last, nullptr) << c.what;
        } else {
            EXPECT_EQ(reinterpret_cast<const uint8_t*>(last) - c.list->data(), c.last) << c.what;
        }
    }
    EXPECT_EQ(PIDLGetNext(static_cast<PCSxItemIDList>(nullptr)), nullptr);
    EXPECT_EQ(PIDLGetNext(AsList(Empty)), nullptr);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(PIDLGetNext(AsList(Three))), Three.data() + 3);
}

TEST(PIDL, MalformedListsRaiseInsteadOfBeingWalked)
{
    PCSxItemIDList bad = AsList(Malformed);
    EXPECT_THROW(PIDLGetSize(bad), ESxItemIDListError);
    EXPECT_THROW(PIDLGetItemCount(bad), ESxItemIDListError);
    EXPECT_THROW(PIDLFindLast(bad), ESxItemIDListError);
    EXPECT_THROW(PIDLClone(bad), ESxItemIDListError);
    EXPECT_THROW(PIDLGetParent(bad), ESxItemIDListError);
    EXPECT_THROW(TSxPidlPtr(PIDLCombine(AsList(One), bad)), ESxItemIDListError);
    EXPECT_THROW(PIDLGetNext(PIDLGetNext(bad)), ESxItemIDListError);
}

TEST(PIDL, EqualListsHoldTheSameBytes)
{
    const Bytes sameContents = ListBytes({"a", "", "xyz"});
    const Bytes otherLast = ListBytes({"a", "", "xyw"});
    const Bytes shorter = ListBytes({"a", ""});
    EXPECT_TRUE(PIDLIsEqual(AsList(Three), AsList(sameContents)));
    EXPECT_FALSE(PIDLIsEqual(AsList(Three), AsList(otherLast)));
    EXPECT_FALSE(PIDLIsEqual(AsList(Three), AsList(shorter)));
    EXPECT_FALSE(PIDLIsEqual(AsList(shorter), AsList(Three)));
    EXPECT_TRUE(PIDLIsEqual(AsList(Empty), nullptr)) << "an empty list and no list";
    EXPECT_FALSE(PIDLIsEqual(AsList(Malformed), AsList(Malformed))) << "malformed is never equal";
    EXPECT_FALSE(PIDLIsEqual(AsList(One), AsList(Malformed)));
}

TEST(PIDL, CopiesLists)
{
    const struct {
        const char* what;
        const Bytes* list;
        Bytes parent;
    } cases[] = {
        {"empty", &Empty, Empty},
        {"one", &One, Empty},
        {"three", &Three, ListBytes({"a", ""})},
    };
    for (const auto& c : cases) {
        TSxPidlPtr clone(PIDLClone(AsList(*c.list)));
        ASSERT_TRUE(clone) << c.what;
        EXPECT_EQ(ListOf(clone.get()), *c.list) << c.what;
        ExpectClosed(clone.get());
        TSxPidlPtr parent(PIDLGetParent(AsList(*c.list)));
        ASSERT_TRUE(parent) << c.what; // never nothing, the empty list at least
        EXPECT_EQ(ListOf(parent.get()), c.parent) << c.what;
        ExpectClosed(parent.get());
    }
    EXPECT_EQ(PIDLClone(nullptr), nullptr);
    EXPECT_EQ(PIDLGetParent(nullptr), nullptr);
}

TEST(PIDL, CombinesLists)
{
    const struct {
        const char* what;
        const Bytes* first;
        const Bytes* second;
        Bytes result;
    } cases[] = {
        {"absent + list", nullptr, &Three, Three},
        {"list + absent", &One, nullptr, One},
        {"empty + list", &Empty, &One, One},
        {"list + list", &One, &Three, ListBytes({"abc", "a", "", "xyz"})},
    };
    for (const auto& c : cases) {
        TSxPidlPtr combined(PIDLCombine(c.first ? AsList(*c.first) : nullptr, c.second ? AsList(*c.second) : nullptr));
        ASSERT_TRUE(combined) << c.what;
        EXPECT_EQ(ListOf(combined.get()), c.result) << c.what;
        ExpectClosed(combined.get());
    }
    EXPECT_EQ(PIDLCombine(nullptr, nullptr), nullptr);
}

TEST(PIDL, CreatesItems)
{
    TSxPidlPtr item(PIDLCreateItem("hello", 5));
    EXPECT_EQ(ListOf(item.get()), ListBytes({"hello"}));
    ExpectClosed(item.get());
    TSxPidlPtr empty(PIDLCreateEmpty());
    EXPECT_EQ(ListOf(empty.get()), Empty);
    std::string big(0xFFFE, 'x');
    EXPECT_THROW(PIDLCreateItem(big.data(), big.size()), ESxItemIDListError);
    TSxPidlPtr largest(PIDLCreateItem(big.data(), big.size() - 1));
    EXPECT_EQ(PIDLGetSize(largest.get()), 0xFFFFu);
}

// Lists from buffers of known size: everything, terminator included, must lie inside.
TEST(PIDL, ValidatesBoundedLists)
{
    const struct {
        const char* what;
        Bytes bytes;
        bool valid;
        uint32_t size;
    } cases[] = {
        {"empty", Empty, true, 0},
        {"three", Three, true, 10},
        {"with spare bytes", {3, 0, 'a', 0, 0, 0, 0}, true, 3},
        {"nothing", {}, false, 0},
        {"half a count", {0}, false, 0},
        {"no terminator", {3, 0, 'a'}, false, 0},
        {"terminator cut", {3, 0, 'a', 0}, false, 0},
        {"count past end", {9, 0, 'a', 0, 0}, false, 0},
        {"count of one", Malformed, false, 0},
        {"huge count", {0xFF, 0xFF, 0, 0}, false, 0},
    };
    for (const auto& c : cases) {
        // Exactly sized heap copy, so ASan catches a read past it.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[c.bytes.size() + 1]);
        if (!c.bytes.empty())
            std::memcpy(copy.get(), c.bytes.data(), c.bytes.size());
        uint32_t size = 12345;
        EXPECT_EQ(PIDLIsValid(copy.get(), c.bytes.size(), &size), c.valid) << c.what;
        if (c.valid) {
            EXPECT_EQ(size, c.size) << c.what;
        }
    }
    EXPECT_FALSE(PIDLIsValid(nullptr, 10));
}

TEST(PIDL, ComparesAntisymmetricallyAndNeverReportsAFailureAsAnOrder)
{
    const Bytes two = ListBytes({"a", ""}), twoB = ListBytes({"a", "b"}), twoLong = ListBytes({"a", "b\x01"});
    const Bytes top = ListBytes({"b", ""}), over = ListBytes(Items(261));
    const struct {
        const char* what;
        const Bytes* a;
        const Bytes* b;
        int depth;
        int bytes;
    } cases[] = {
        {"same", &Three, &Three, 0, 0},
        {"shallower first", &One, &Three, -1, -1},
        {"empty first", &Empty, &One, -1, -1},
        {"second level", &two, &twoB, 0, -1},
        {"shorter content first", &twoB, &twoLong, 0, -1},
        {"first level decides", &twoB, &top, 0, -1},
    };
    for (const auto& c : cases) {
        int order = 99;
        ASSERT_TRUE(PIDLCompareDepth(AsList(*c.a), AsList(*c.b), order)) << c.what;
        EXPECT_EQ(order, c.depth) << c.what;
        ASSERT_TRUE(PIDLCompareDepth(AsList(*c.b), AsList(*c.a), order)) << c.what;
        EXPECT_EQ(order, -c.depth) << c.what << " reversed";
        ASSERT_TRUE(PIDLCompareBytes(AsList(*c.a), AsList(*c.b), order)) << c.what;
        EXPECT_EQ(order, c.bytes) << c.what;
        ASSERT_TRUE(PIDLCompareBytes(AsList(*c.b), AsList(*c.a), order)) << c.what;
        EXPECT_EQ(order, -c.bytes) << c.what << " reversed";
    }
    const struct {
        const char* what;
        PCSxItemIDList a, b;
    } failures[] = {
        {"absent", nullptr, AsList(One)},
        {"malformed", AsList(Malformed), AsList(One)},
        {"too long", AsList(over), AsList(over)},
    };
    for (const auto& f : failures) {
        int order = 99;
        EXPECT_FALSE(PIDLCompareDepth(f.a, f.b, order)) << f.what;
        EXPECT_FALSE(PIDLCompareBytes(f.b, f.a, order)) << f.what;
        EXPECT_EQ(order, 99) << f.what;
    }
}
