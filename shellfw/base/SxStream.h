#pragma once
// Little-endian, length-prefixed record writer and reader over a seekable byte stream: the encoding
// of grain records and of the private clipboard format. Every read checks the bytes that remain
// before it reads or allocates, so a damaged record gives ESxStreamError, never a read past its end.
#include "SxExceptionClass.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxStreamError, std::runtime_error);

// A seekable byte stream (memory stream, file stream, OLE stream adapter).
class TSxByteStream {
public:
    virtual ~TSxByteStream() = default;
    // Reads up to count bytes at the position; returns how many were delivered.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes all count bytes at the position or raises.
    virtual void Write(const void* buffer, size_t count) = 0;
    virtual uint64_t GetPosition() const = 0;
    virtual void SetPosition(uint64_t position) = 0;
    virtual uint64_t GetSize() const = 0;
    uint64_t Remaining() const;
};

// A growable stream in memory; writing past the end extends it (a gap is filled with zeros).
class TSxMemoryStream : public TSxByteStream {
public:
    TSxMemoryStream() = default;
    explicit TSxMemoryStream(std::vector<uint8_t> bytes);
    TSxMemoryStream(const void* data, size_t size);

    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    uint64_t GetPosition() const override { return FPosition; }
    void SetPosition(uint64_t position) override;
    uint64_t GetSize() const override { return FData.size(); }

    const std::vector<uint8_t>& Bytes() const { return FData; }
    const uint8_t* Memory() const { return FData.data(); }
    void Clear();

private:
    std::vector<uint8_t> FData;
    size_t FPosition = 0;
};

class TSxStream {
public:
    // Keeps a reference to the stream; the stream is not owned.
    explicit TSxStream(TSxByteStream& stream) : FStream(stream) {}

    TSxByteStream& Stream() const { return FStream; }
    // Moves the position back by count bytes; raises when that is before the start.
    void Rewind(uint64_t count);

    void WriteInteger(int32_t value);
    int32_t ReadInteger();
    void WriteCardinal(uint32_t value);
    uint32_t ReadCardinal();
    void WriteWord(uint16_t value);
    uint16_t ReadWord();
    void WriteFloat(double value);
    double ReadFloat();

    // i32 byte count, then the bytes (UTF-8 inside the system), no terminator.
    void WriteString(const std::string& value);
    std::string ReadString();
    // i32 count of UTF-16 code units, then the UTF-16LE units.
    void WriteWideString(const std::u16string& value);
    std::u16string ReadWideString();
#ifdef _WIN32
    void WriteWideString(const std::wstring& value);
    std::wstring ReadWideStringW();
#endif
    // i32 count, then each line as WriteString. ReadStrings replaces the list's lines; on an error
    // the list is left as it was.
    void WriteStrings(const std::vector<std::string>& lines);
    void ReadStrings(std::vector<std::string>& lines);
    // u32 size, then the source's bytes from its start (the source is left at its end). A source of
    // 4 GiB or more raises instead of writing a wrong size.
    void WriteStream(TSxByteStream& source);
    // u32 size S, then S bytes appended to the target at its current position.
    void ReadStream(TSxByteStream& target);

    // Raw bytes; ReadBuffer raises when fewer than count bytes remain.
    void WriteBuffer(const void* buffer, size_t count);
    void ReadBuffer(void* buffer, size_t count);

private:
    template <typename T> void WriteNumber(T value);
    template <typename T> T ReadNumber();
    void Need(uint64_t count, const char* what) const;
    TSxByteStream& FStream;
};
