#include "SxStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

uint64_t TSxByteStream::Remaining() const
{
    const uint64_t size = GetSize(), position = GetPosition();
    return position < size ? size - position : 0;
}

TSxMemoryStream::TSxMemoryStream(std::vector<uint8_t> bytes) : FData(std::move(bytes)) {}

TSxMemoryStream::TSxMemoryStream(const void* data, size_t size)
    : FData(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size)
{
}

size_t TSxMemoryStream::Read(void* buffer, size_t count)
{
    if (FPosition >= FData.size())
        return 0;
    const size_t n = std::min(count, FData.size() - FPosition);
    if (n)
        std::memcpy(buffer, FData.data() + FPosition, n);
    FPosition += n;
    return n;
}

void TSxMemoryStream::Write(const void* buffer, size_t count)
{
    if (count == 0)
        return;
    if (count > FData.max_size() - FPosition)
        throw ESxStreamError("Stream write error: the stream cannot grow that large");
    if (FPosition + count > FData.size())
        FData.resize(FPosition + count);
    std::memcpy(FData.data() + FPosition, buffer, count);
    FPosition += count;
}

void TSxMemoryStream::SetPosition(uint64_t position)
{
    if (position > std::numeric_limits<size_t>::max())
        throw ESxStreamError("Stream seek error: position out of range");
    FPosition = static_cast<size_t>(position);
}

void TSxMemoryStream::Clear()
{
    FData.clear();
    FPosition = 0;
}

namespace {

template <typename T> void PutLittleEndian(uint8_t* out, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

template <typename T> T GetLittleEndian(const uint8_t* in)
{
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return static_cast<T>(value);
}

} // namespace

void TSxStream::Need(uint64_t count, const char* what) const
{
    if (count > FStream.Remaining())
        throw ESxStreamError(std::string("Stream read error: ") + what + " runs past the end of the stream");
}

void TSxStream::Rewind(uint64_t count)
{
    const uint64_t position = FStream.GetPosition();
    if (count > position)
        throw ESxStreamError("Stream seek error: rewind before the start of the stream");
    FStream.SetPosition(position - count);
}

void TSxStream::WriteBuffer(const void* buffer, size_t count)
{
    if (count)
        FStream.Write(buffer, count);
}

void TSxStream::ReadBuffer(void* buffer, size_t count)
{
    Need(count, "data");
    if (count && FStream.Read(buffer, count) != count)
        throw ESxStreamError("Stream read error: data runs past the end of the stream");
}

void TSxStream::WriteInteger(int32_t value) { WriteCardinal(static_cast<uint32_t>(value)); }

int32_t TSxStream::ReadInteger() { return static_cast<int32_t>(ReadCardinal()); }

template <typename T> void TSxStream::WriteNumber(T value)
{
    uint8_t bytes[sizeof(T)];
    PutLittleEndian(bytes, value);
    WriteBuffer(bytes, sizeof bytes);
}

template <typename T> T TSxStream::ReadNumber()
{
    uint8_t bytes[sizeof(T)];
    ReadBuffer(bytes, sizeof bytes);
    return GetLittleEndian<T>(bytes);
}

void TSxStream::WriteCardinal(uint32_t value) { WriteNumber(value); }
uint32_t TSxStream::ReadCardinal() { return ReadNumber<uint32_t>(); }
void TSxStream::WriteWord(uint16_t value) { WriteNumber(value); }
uint16_t TSxStream::ReadWord() { return ReadNumber<uint16_t>(); }

void TSxStream::WriteFloat(double value)
{
    static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    WriteNumber(bits);
}

double TSxStream::ReadFloat()
{
    const uint64_t bits = ReadNumber<uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

namespace {

int32_t CheckedLength(size_t length, const char* what)
{
    if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw ESxStreamError(std::string("Stream write error: ") + what + " is too long for a 32-bit length");
    return static_cast<int32_t>(length);
}

} // namespace

void TSxStream::WriteString(const std::string& value)
{
    WriteInteger(CheckedLength(value.size(), "string"));
    WriteBuffer(value.data(), value.size());
}

std::string TSxStream::ReadString()
{
    const int32_t length = ReadInteger();
    if (length < 0)
        throw ESxStreamError("Stream read error: negative string length");
    Need(static_cast<uint64_t>(length), "string");
    std::string value(static_cast<size_t>(length), '\0');
    ReadBuffer(value.data(), value.size());
    return value;
}

void TSxStream::WriteWideString(const std::u16string& value)
{
    WriteInteger(CheckedLength(value.size(), "wide string"));
    std::vector<uint8_t> bytes(value.size() * 2);
    for (size_t i = 0; i < value.size(); ++i)
        PutLittleEndian(&bytes[2 * i], static_cast<uint16_t>(value[i]));
    WriteBuffer(bytes.data(), bytes.size());
}

std::u16string TSxStream::ReadWideString()
{
    const int32_t count = ReadInteger();
    if (count < 0)
        throw ESxStreamError("Stream read error: negative wide string length");
    Need(static_cast<uint64_t>(count) * 2, "wide string");
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * 2);
    ReadBuffer(bytes.data(), bytes.size());
    std::u16string value(static_cast<size_t>(count), u'\0');
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<char16_t>(GetLittleEndian<uint16_t>(&bytes[2 * i]));
    return value;
}

#ifdef _WIN32
void TSxStream::WriteWideString(const std::wstring& value)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    WriteWideString(std::u16string(value.begin(), value.end()));
}

std::wstring TSxStream::ReadWideStringW()
{
    const std::u16string value = ReadWideString();
    return std::wstring(value.begin(), value.end());
}
#endif

void TSxStream::WriteStrings(const std::vector<std::string>& lines)
{
    WriteInteger(CheckedLength(lines.size(), "string list"));
    for (const auto& line : lines)
        WriteString(line);
}

void TSxStream::ReadStrings(std::vector<std::string>& lines)
{
    const int32_t count = ReadInteger();
    if (count < 0)
        throw ESxStreamError("Stream read error: negative string count");
    // Each line takes at least its 4 length bytes.
    Need(static_cast<uint64_t>(count) * 4, "string list");
    std::vector<std::string> read;
    read.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        read.push_back(ReadString());
    lines.swap(read);
}

void TSxStream::WriteStream(TSxByteStream& source)
{
    const uint64_t size = source.GetSize();
    if (size > std::numeric_limits<uint32_t>::max())
        throw ESxStreamError("Stream write error: stream is too large for a 32-bit size");
    WriteCardinal(static_cast<uint32_t>(size));
    if (size == 0)
        return;
    source.SetPosition(0);
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(size, 64 * 1024)));
    uint64_t left = size;
    while (left > 0) {
        const size_t n = source.Read(chunk.data(), static_cast<size_t>(std::min<uint64_t>(left, chunk.size())));
        if (n == 0)
            throw ESxStreamError("Stream read error: source stream ended before its size");
        WriteBuffer(chunk.data(), n);
        left -= n;
    }
}

void TSxStream::ReadStream(TSxByteStream& target)
{
    const uint32_t size = ReadCardinal();
    Need(size, "embedded stream");
    std::vector<uint8_t> bytes(size);
    ReadBuffer(bytes.data(), bytes.size());
    if (size)
        target.Write(bytes.data(), bytes.size());
}
