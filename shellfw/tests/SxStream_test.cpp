#include "SxStream.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const std::function<void(TSxStream&)>& write)
{
    TSxMemoryStream memory;
    TSxStream stream(memory);
    write(stream);
    return memory.Bytes();
}

} // namespace

TEST(TSxStream, WritesTheDocumentedBytes)
{
    const struct {
        const char* what;
        std::function<void(TSxStream&)> write;
        Bytes bytes;
    } cases[] = {
        {"integer", [](TSxStream& s) { s.WriteInteger(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"cardinal", [](TSxStream& s) { s.WriteCardinal(0x01020304); }, {4, 3, 2, 1}},
        {"word", [](TSxStream& s) { s.WriteWord(0xAA04); }, {0x04, 0xAA}},
        {"float", [](TSxStream& s) { s.WriteFloat(1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"empty string", [](TSxStream& s) { s.WriteString(""); }, {0, 0, 0, 0}},
        {"string", [](TSxStream& s) { s.WriteString("\xc3\xb6z"); }, {3, 0, 0, 0, 0xC3, 0xB6, 'z'}},
        {"wide string", [](TSxStream& s) { s.WriteWideString(u"a\u00f6\u20ac"); },
         {3, 0, 0, 0, 'a', 0, 0xF6, 0, 0xAC, 0x20}},
        {"string list", [](TSxStream& s) { s.WriteStrings({"ab", ""}); },
         {2, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Written(c.write), c.bytes) << c.what;
}

TEST(TSxStream, RoundTripsEveryType)
{
    TSxMemoryStream memory;
    TSxStream stream(memory);
    TSxMemoryStream blob(Bytes{1, 2, 3, 0, 255});
    stream.WriteInteger(std::numeric_limits<int32_t>::min());
    stream.WriteCardinal(0xFFFFFFFFu);
    stream.WriteWord(0xBEEF);
    stream.WriteFloat(-1234.5e-7);
    stream.WriteString(std::string("a\0b", 3));
    stream.WriteWideString(std::u16string(u"x\xd83d\xde00"));
    stream.WriteStrings({"key=value", "", "\xe2\x82\xac"});
    stream.WriteStream(blob);
    EXPECT_EQ(blob.GetPosition(), 5u); // left at its end
    stream.WriteString("tail");

    memory.SetPosition(0);
    EXPECT_EQ(stream.ReadInteger(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(stream.ReadCardinal(), 0xFFFFFFFFu);
    EXPECT_EQ(stream.ReadWord(), 0xBEEF);
    EXPECT_EQ(stream.ReadFloat(), -1234.5e-7);
    EXPECT_EQ(stream.ReadString(), std::string("a\0b", 3));
    EXPECT_EQ(stream.ReadWideString(), std::u16string(u"x\xd83d\xde00"));
    std::vector<std::string> lines{"old line", "another"};
    stream.ReadStrings(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"key=value", "", "\xe2\x82\xac"}));
    TSxMemoryStream target(Bytes{9});
    target.SetPosition(1);
    stream.ReadStream(target);
    EXPECT_EQ(target.Bytes(), (Bytes{9, 1, 2, 3, 0, 255})); // appended at the target's position
    EXPECT_EQ(stream.ReadString(), "tail");
    EXPECT_EQ(memory.Remaining(), 0u);
}

TEST(TSxStream, EmptySourceStreamWritesOnlyItsSize)
{
    TSxMemoryStream empty;
    const Bytes bytes = Written([&](TSxStream& s) { s.WriteStream(empty); });
    EXPECT_EQ(bytes, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(empty.GetPosition(), 0u);
}

TEST(TSxStream, RewindStepsBackAndNeverBeforeTheStart)
{
    TSxMemoryStream memory(Bytes{0x01, 0x00, 0x02, 0x00});
    TSxStream stream(memory);
    EXPECT_EQ(stream.ReadWord(), 1);
    stream.Rewind(2);
    EXPECT_EQ(stream.ReadCardinal(), 0x00020001u);
    EXPECT_THROW(stream.Rewind(5), ESxStreamError);
    EXPECT_EQ(memory.GetPosition(), 4u);
}

// Every read of a cut or lying record raises and reads nothing past the end; ReadStrings leaves
// the target list alone.
TEST(TSxStream, TruncatedOrOversizedInputRaises)
{
    const struct {
        const char* what;
        Bytes bytes;
        std::function<void(TSxStream&)> read;
    } cases[] = {
        {"integer", {1, 2, 3}, [](TSxStream& s) { s.ReadInteger(); }},
        {"cardinal", {}, [](TSxStream& s) { s.ReadCardinal(); }},
        {"word", {1}, [](TSxStream& s) { s.ReadWord(); }},
        {"float", {0, 0, 0, 0, 0, 0, 0}, [](TSxStream& s) { s.ReadFloat(); }},
        {"string length cut", {5, 0}, [](TSxStream& s) { s.ReadString(); }},
        {"string body cut", {5, 0, 0, 0, 'a', 'b'}, [](TSxStream& s) { s.ReadString(); }},
        {"string negative", {0xFF, 0xFF, 0xFF, 0xFF}, [](TSxStream& s) { s.ReadString(); }},
        {"string huge", {0xFF, 0xFF, 0xFF, 0x7F, 'a'}, [](TSxStream& s) { s.ReadString(); }},
        {"wide body cut", {2, 0, 0, 0, 'a', 0, 'b'}, [](TSxStream& s) { s.ReadWideString(); }},
        {"wide negative", {0, 0, 0, 0x80}, [](TSxStream& s) { s.ReadWideString(); }},
        {"wide huge", {0xFF, 0xFF, 0xFF, 0x7F}, [](TSxStream& s) { s.ReadWideString(); }},
        {"list count cut", {1, 0, 0}, [](TSxStream& s) { std::vector<std::string> l; s.ReadStrings(l); }},
        {"list huge count", {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0},
         [](TSxStream& s) { std::vector<std::string> l; s.ReadStrings(l); }},
        {"list negative", {0xFE, 0xFF, 0xFF, 0xFF}, [](TSxStream& s) { std::vector<std::string> l; s.ReadStrings(l); }},
        {"list line cut", {2, 0, 0, 0, 1, 0, 0, 0, 'a', 3, 0, 0, 0, 'b'},
         [](TSxStream& s) { std::vector<std::string> l; s.ReadStrings(l); }},
        {"stream body cut", {4, 0, 0, 0, 1, 2, 3}, [](TSxStream& s) { TSxMemoryStream t; s.ReadStream(t); }},
        {"stream huge", {0xFF, 0xFF, 0xFF, 0xFF, 1}, [](TSxStream& s) { TSxMemoryStream t; s.ReadStream(t); }},
        {"buffer", {1, 2}, [](TSxStream& s) { uint8_t b[3]; s.ReadBuffer(b, 3); }},
    };
    for (const auto& c : cases) {
        // A copy on the heap of exactly the case's size, so ASan sees any read past it.
        TSxMemoryStream memory(c.bytes);
        TSxStream stream(memory);
        EXPECT_THROW(c.read(stream), ESxStreamError) << c.what;
    }

    TSxMemoryStream memory(Bytes{2, 0, 0, 0, 1, 0, 0, 0, 'a', 9, 0, 0, 0});
    TSxStream stream(memory);
    std::vector<std::string> lines{"kept"};
    EXPECT_THROW(stream.ReadStrings(lines), ESxStreamError);
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});

    TSxMemoryStream cut(Bytes{4, 0, 0, 0, 1, 2});
    TSxStream fromCut(cut);
    TSxMemoryStream target(Bytes{7});
    EXPECT_THROW(fromCut.ReadStream(target), ESxStreamError);
    EXPECT_EQ(target.Bytes(), Bytes{7}); // nothing written
}

namespace {

// A source that claims more than 32 bits of size without holding it.
class THugeStream : public TSxByteStream {
public:
    size_t Read(void*, size_t) override { return 0; }
    void Write(const void*, size_t) override {}
    uint64_t GetPosition() const override { return 0; }
    void SetPosition(uint64_t) override {}
    uint64_t GetSize() const override { return (uint64_t(1) << 32) + 10; }
};

} // namespace

TEST(TSxStream, RefusesToWriteSizesAbove32Bits)
{
    TSxMemoryStream memory;
    TSxStream stream(memory);
    THugeStream huge;
    EXPECT_THROW(stream.WriteStream(huge), ESxStreamError);
    EXPECT_EQ(memory.GetSize(), 0u); // no wrong size written
}

TEST(TSxStream, ErrorsTellTheirClassName)
{
    TSxMemoryStream memory;
    TSxStream stream(memory);
    try {
        stream.ReadInteger();
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(ExceptionClassName(e), "ESxStreamError");
    }
    EXPECT_EQ(ExceptionClassName(std::runtime_error("x")), "std::runtime_error");
    EXPECT_EQ(ExceptionClassName(std::bad_alloc()), "std::bad_alloc");
    struct ELocal : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    EXPECT_EQ(ExceptionClassName(ELocal("x")), "Exception");
    RegisterExceptionClassName(typeid(ELocal), "ELocal");
    EXPECT_EQ(ExceptionClassName(ELocal("x")), "ELocal");
}
