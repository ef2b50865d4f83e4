#include "SxTransferFormats.h"

#include "SxGrainRecord.h"

#include <cstring>
#include <limits>

namespace {

[[noreturn]] void Damaged(const std::string& what) { throw ESxTransferFormatError(what); }

uint32_t U32(const uint8_t* at)
{
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

int32_t I32(const uint8_t* at)
{
    int32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

uint64_t U64(const uint8_t* at)
{
    uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
}

void PutU32(std::vector<uint8_t>& block, size_t at, uint32_t value) { std::memcpy(block.data() + at, &value, 4); }
void PutU64(std::vector<uint8_t>& block, size_t at, uint64_t value) { std::memcpy(block.data() + at, &value, 8); }

const uint8_t* Bytes(const void* block, size_t size, size_t least, const char* format)
{
    if (!block || size < least)
        Damaged(std::string(format) + " is cut short");
    return static_cast<const uint8_t*>(block);
}

// Offsets of FILEDESCRIPTOR's fields (the same in both forms up to the name).
constexpr size_t FdFlags = 0, FdAttributes = 36, FdCreation = 40, FdAccess = 48, FdWrite = 56, FdSizeHigh = 64,
                 FdSizeLow = 68, FdName = 72;
constexpr size_t NameField = SxMaxDescriptorName + 1;

void CheckDescriptorName(const std::string& name)
{
    if (!SxIsSafeRelativePath(name))
        Damaged("FileGroupDescriptor names an unusable path \"" + name + "\"");
}

std::vector<uint8_t> BuildDescriptors(const std::vector<TSxFileDescriptor>& items, bool wide)
{
    const size_t each = wide ? SxFileDescriptorWSize : SxFileDescriptorASize;
    if (items.size() > (std::numeric_limits<uint32_t>::max() - 4) / each)
        Damaged("FileGroupDescriptor: too many items");
    std::vector<uint8_t> block(4 + each * items.size(), 0);
    PutU32(block, 0, static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        const TSxFileDescriptor& d = items[i];
        CheckDescriptorName(d.Name);
        const size_t base = 4 + each * i;
        PutU32(block, base + FdFlags, d.Flags);
        PutU32(block, base + FdAttributes, d.Attributes);
        PutU64(block, base + FdCreation, d.CreationTime);
        PutU64(block, base + FdAccess, d.LastAccessTime);
        PutU64(block, base + FdWrite, d.LastWriteTime);
        PutU32(block, base + FdSizeHigh, static_cast<uint32_t>(d.Size >> 32));
        PutU32(block, base + FdSizeLow, static_cast<uint32_t>(d.Size));
        if (wide) {
            const std::u16string name = SxUtf8ToUtf16(d.Name);
            if (name.size() > SxMaxDescriptorName)
                Damaged("FileGroupDescriptor: the path \"" + d.Name + "\" is too long for a descriptor");
            std::memcpy(block.data() + base + FdName, name.data(), 2 * name.size());
        } else {
            if (d.Name.size() > SxMaxDescriptorName)
                Damaged("FileGroupDescriptor: the path \"" + d.Name + "\" is too long for a descriptor");
            std::memcpy(block.data() + base + FdName, d.Name.data(), d.Name.size());
        }
    }
    return block;
}

std::vector<TSxFileDescriptor> ReadDescriptors(const void* data, size_t size, bool wide)
{
    const uint8_t* block = Bytes(data, size, 4, "FileGroupDescriptor");
    const size_t each = wide ? SxFileDescriptorWSize : SxFileDescriptorASize;
    const uint32_t count = U32(block);
    if (count > (size - 4) / each)
        Damaged("FileGroupDescriptor counts " + std::to_string(count) + " items but holds " +
                std::to_string((size - 4) / each));
    std::vector<TSxFileDescriptor> items(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* at = block + 4 + each * i;
        TSxFileDescriptor& d = items[i];
        d.Flags = U32(at + FdFlags);
        d.Attributes = U32(at + FdAttributes);
        d.CreationTime = U64(at + FdCreation);
        d.LastAccessTime = U64(at + FdAccess);
        d.LastWriteTime = U64(at + FdWrite);
        d.Size = (static_cast<uint64_t>(U32(at + FdSizeHigh)) << 32) | U32(at + FdSizeLow);
        if (wide) {
            std::u16string name;
            size_t n = 0;
            for (; n < NameField; ++n) {
                char16_t unit;
                std::memcpy(&unit, at + FdName + 2 * n, 2);
                if (unit == 0)
                    break;
                name.push_back(unit);
            }
            if (n == NameField)
                Damaged("FileGroupDescriptor: a name has no terminator");
            d.Name = SxUtf16ToUtf8(name);
        } else {
            const char* name = reinterpret_cast<const char*>(at + FdName);
            const size_t n = strnlen(name, NameField);
            if (n == NameField)
                Damaged("FileGroupDescriptor: a name has no terminator");
            d.Name.assign(name, n);
        }
        CheckDescriptorName(d.Name);
    }
    return items;
}

} // namespace

// ---- CIDA ------------------------------------------------------------------------------------

TSxIDListArray SxReadIDListArray(const void* data, size_t size)
{
    const uint8_t* block = Bytes(data, size, 8, "Shell IDList Array");
    const uint32_t count = U32(block);
    if (count > (size - 8) / 4)
        Damaged("Shell IDList Array counts " + std::to_string(count) + " items but holds fewer offsets");
    const size_t headerEnd = 4 + 4 * (static_cast<size_t>(count) + 1);
    auto listAt = [&](size_t index) -> PCSxItemIDList {
        const uint32_t offset = U32(block + 4 + 4 * index);
        if (offset < headerEnd || offset >= size || !PIDLIsValid(block + offset, size - offset))
            Damaged("Shell IDList Array holds a damaged item ID list");
        return reinterpret_cast<PCSxItemIDList>(block + offset);
    };
    TSxIDListArray result;
    result.Folder = listAt(0);
    result.Items.reserve(count);
    for (size_t i = 1; i <= count; ++i)
        result.Items.push_back(listAt(i));
    return result;
}

std::vector<uint8_t> SxBuildIDListArray(PCSxItemIDList folder, const std::vector<PCSxItemIDList>& items)
{
    std::vector<PCSxItemIDList> lists;
    lists.reserve(items.size() + 1);
    lists.push_back(folder);
    lists.insert(lists.end(), items.begin(), items.end());
    size_t total = 4 + 4 * lists.size();
    for (PCSxItemIDList list : lists)
        total += PIDLGetSize(list) + 2;
    if (total >= std::numeric_limits<uint32_t>::max())
        Damaged("Shell IDList Array: too large");
    std::vector<uint8_t> block(total + 1, 0);  // one spare byte
    PutU32(block, 0, static_cast<uint32_t>(items.size()));
    size_t at = 4 + 4 * lists.size();
    for (size_t i = 0; i < lists.size(); ++i) {
        PutU32(block, 4 + 4 * i, static_cast<uint32_t>(at));
        const uint32_t n = PIDLGetSize(lists[i]);
        if (n)
            std::memcpy(block.data() + at, lists[i], n);
        at += n + 2;  // the terminator is already zero
    }
    return block;
}

// ---- private format --------------------------------------------------------------------------

TSxPrivateFormatHeader SxReadPrivateFormatHeader(const void* data, size_t size)
{
    const uint8_t* block = Bytes(data, size, 12, "SxCF_PrivateFormat");
    const uint32_t length = U32(block);
    if (length > size - 4 || length < 8)
        Damaged("SxCF_PrivateFormat: its length " + std::to_string(length) + " does not fit the block of " +
                std::to_string(size) + " bytes");
    const int32_t count = I32(block + 4), nameLength = I32(block + 8);
    if (count < 0 || nameLength < 0 || static_cast<uint32_t>(nameLength) > length - 8)
        Damaged("SxCF_PrivateFormat: a damaged count or class name");
    TSxPrivateFormatHeader header;
    header.ClassName.assign(reinterpret_cast<const char*>(block + 12), static_cast<size_t>(nameLength));
    header.Count = static_cast<uint32_t>(count);
    header.RecordsOffset = 12 + static_cast<size_t>(nameLength);
    header.RecordsSize = 4 + static_cast<size_t>(length) - header.RecordsOffset;
    // The smallest record (version 0) has 20 bytes: a count past that cannot be there.
    if (header.Count > header.RecordsSize / 20)
        Damaged("SxCF_PrivateFormat counts " + std::to_string(count) + " grains in " +
                std::to_string(header.RecordsSize) + " bytes");
    return header;
}

std::vector<uint8_t> SxBuildPrivateFormat(const std::string& className, uint32_t count,
                                          const std::vector<uint8_t>& records)
{
    const uint64_t length = 8 + static_cast<uint64_t>(className.size()) + records.size();
    if (length > std::numeric_limits<int32_t>::max() || count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        Damaged("SxCF_PrivateFormat: too large");
    std::vector<uint8_t> block(4 + static_cast<size_t>(length), 0);
    PutU32(block, 0, static_cast<uint32_t>(length));
    PutU32(block, 4, count);
    PutU32(block, 8, static_cast<uint32_t>(className.size()));
    std::memcpy(block.data() + 12, className.data(), className.size());
    if (!records.empty())
        std::memcpy(block.data() + 12 + className.size(), records.data(), records.size());
    return block;
}

// ---- file group descriptors ------------------------------------------------------------------

bool SxIsSafeRelativePath(const std::string& name)
{
    if (name.empty())
        return false;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // A trailing "\" ends a folder's name; any other empty part is not a name.
        if (part.empty() && !(end == std::string::npos && start > 0))
            return false;
        if (part == "." || part == "..")
            return false;
        for (unsigned char c : part)
            if (c < 32 || c == ':' || c == '/')
                return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

std::vector<uint8_t> SxBuildFileGroupDescriptorW(const std::vector<TSxFileDescriptor>& items)
{
    return BuildDescriptors(items, true);
}

std::vector<uint8_t> SxBuildFileGroupDescriptorA(const std::vector<TSxFileDescriptor>& items)
{
    return BuildDescriptors(items, false);
}

std::vector<TSxFileDescriptor> SxReadFileGroupDescriptorW(const void* block, size_t size)
{
    return ReadDescriptors(block, size, true);
}

std::vector<TSxFileDescriptor> SxReadFileGroupDescriptorA(const void* block, size_t size)
{
    return ReadDescriptors(block, size, false);
}

// ---- DROPFILES -------------------------------------------------------------------------------

TSxDropFiles SxReadDropFiles(const void* data, size_t size)
{
    constexpr size_t header = 20;
    const uint8_t* block = Bytes(data, size, header, "DROPFILES");
    const uint32_t start = U32(block);
    if (start < header || start > size)
        Damaged("DROPFILES: the file list starts outside the block");
    TSxDropFiles result;
    result.Wide = I32(block + 16) != 0;
    const size_t unit = result.Wide ? 2 : 1;
    size_t at = start;
    for (;;) {
        // The next name runs to its zero character, which must lie inside the block.
        std::u16string wide;
        std::string narrow;
        for (;;) {
            if (size - at < unit)
                Damaged("DROPFILES: the file list does not end inside the block");
            char16_t c = 0;
            if (result.Wide)
                std::memcpy(&c, block + at, 2);
            else
                c = block[at];
            at += unit;
            if (c == 0)
                break;
            if (result.Wide)
                wide.push_back(c);
            else
                narrow.push_back(static_cast<char>(c));
        }
        if (wide.empty() && narrow.empty())
            return result;  // the empty name closes the list
        result.Names.push_back(result.Wide ? SxUtf16ToUtf8(wide) : narrow);
    }
}

std::vector<uint8_t> SxBuildDropFiles(const std::vector<std::string>& paths)
{
    std::vector<uint8_t> block(20, 0);
    PutU32(block, 0, 20);
    PutU32(block, 16, 0xFFFFFFFFu);
    for (const std::string& path : paths) {
        if (path.empty())
            Damaged("DROPFILES: an empty path would end the list");
        const std::u16string name = SxUtf8ToUtf16(path);
        const size_t at = block.size();
        block.resize(at + 2 * (name.size() + 1), 0);
        std::memcpy(block.data() + at, name.data(), 2 * name.size());
    }
    block.resize(block.size() + 2, 0);
    return block;
}

uint32_t SxReadDWordFormat(const void* block, size_t size)
{
    return U32(Bytes(block, size, 4, "The DWORD format"));
}
