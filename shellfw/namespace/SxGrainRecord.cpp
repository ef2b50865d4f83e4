#include "SxGrainRecord.h"

#include <cstring>

const char SxGrainItemSignature[SxGrainItemSignatureSize] = {'T', 'e', 's', 's', 'o', 'l', 'a',
                                                             'r', 'k', 'P', 'i', 'd', 'l', '\0'};

namespace {

uint16_t GetWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetCardinal(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutWord(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

void LoadGrainRecord(TSxByteStream& stream, TSxGrainRecord& record)
{
    TSxStream reader(stream);
    const uint16_t head = reader.ReadWord();
    if ((head & 0xFF00) == SxGrainRecordMark) {
        record.Version = static_cast<uint8_t>(head & 0xFF);
    } else {
        reader.Rewind(2);
        record.Version = 0;
    }
    record.Name = SxUtf16ToUtf8(reader.ReadWideString());
    record.IsFile = (reader.ReadInteger() & 0xFF) != 0;
    reader.ReadStrings(record.Values);
    record.IconIndex = reader.ReadInteger();
    record.OpenIconIndex = reader.ReadInteger();
    record.Data.clear();
    if (record.Version >= 1) {
        TSxMemoryStream data;
        reader.ReadStream(data);
        record.Data = data.Bytes();
    }
    record.AbsoluteList.clear();
    if (record.Version >= 3) {
        const int32_t length = reader.ReadInteger();
        if (length < 0)
            throw ESxGrainRecordError("Grain record: negative item ID list length");
        if (static_cast<uint64_t>(length) > stream.Remaining())
            throw ESxGrainRecordError("Grain record: item ID list runs past the end of the record");
        if (length > 0) {
            std::vector<uint8_t> list(static_cast<size_t>(length));
            reader.ReadBuffer(list.data(), list.size());
            uint32_t size = 0;
            if (!PIDLIsValid(list.data(), list.size(), &size))
                throw ESxGrainRecordError("Grain record: damaged item ID list");
            list.resize(size + 2);  // the items and the terminator; the spare bytes are not kept
            record.AbsoluteList = std::move(list);
        }
    }
    record.Attributes = 0;
    if (record.Version >= 4)
        record.Attributes = static_cast<TSxGrainAttributes>(reader.ReadCardinal() & gaAllGrainAttributes);
}

void SaveGrainRecord(TSxByteStream& stream, const TSxGrainRecord& record, bool withAbsoluteList)
{
    TSxStream writer(stream);
    writer.WriteWord(static_cast<uint16_t>(SxGrainRecordMark + SxGrainRecordVersion));
    writer.WriteWideString(SxUtf8ToUtf16(record.Name));
    writer.WriteInteger(record.IsFile ? 1 : 0);
    writer.WriteStrings(record.Values);
    writer.WriteInteger(record.IconIndex);
    writer.WriteInteger(record.OpenIconIndex);
    TSxMemoryStream data(record.Data);
    writer.WriteStream(data);
    if (withAbsoluteList && !record.AbsoluteList.empty()) {
        uint32_t size = 0;
        if (!PIDLIsValid(record.AbsoluteList.data(), record.AbsoluteList.size(), &size))
            throw ESxGrainRecordError("Grain record: damaged item ID list");
        // The items, the terminator and two spare bytes.
        writer.WriteInteger(static_cast<int32_t>(size + 4));
        writer.WriteBuffer(record.AbsoluteList.data(), size + 2);
        const uint8_t spare[2] = {0, 0};
        writer.WriteBuffer(spare, sizeof spare);
    } else {
        writer.WriteInteger(0);
    }
    writer.WriteCardinal(record.Attributes & gaAllGrainAttributes);
}

TSxPidlPtr MakeGrainItemID(const std::vector<uint8_t>& recordBytes)
{
    const size_t n = recordBytes.size();
    if (n > SxGrainItemMaxRecord)
        throw ESxGrainRecordError("Grain record of " + std::to_string(n) +
                                  " bytes does not fit into an item ID");
    TSxPidlPtr list(static_cast<PSxItemIDList>(SxShellAlloc(n + 25)));
    if (!list)
        throw std::bad_alloc();
    auto* p = reinterpret_cast<uint8_t*>(list.get());
    PutWord(p, static_cast<uint16_t>(n + SxGrainItemOverhead));
    std::memcpy(p + SxGrainItemSignatureOffset, SxGrainItemSignature, SxGrainItemSignatureSize);
    const uint32_t length = static_cast<uint32_t>(n);
    for (int i = 0; i < 4; ++i)
        p[SxGrainItemLengthOffset + i] = static_cast<uint8_t>(length >> (8 * i));
    if (n)
        std::memcpy(p + SxGrainItemRecordOffset, recordBytes.data(), n);
    p[n + 20] = 0;  // spare
    PutWord(p + n + 21, 0);
    p[n + 23] = 0;
    p[n + 24] = 0;
    return list;
}

bool IsGrainItem(PCSxItemIDList item)
{
    if (!item)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(item);
    const uint16_t cb = GetWord(p);
    if (cb < SxGrainItemOverhead)
        return false;
    if (std::memcmp(p + SxGrainItemSignatureOffset, SxGrainItemSignature, SxGrainItemSignatureSize) != 0)
        return false;
    return GetCardinal(p + SxGrainItemLengthOffset) <= cb - SxGrainItemOverhead;
}

std::vector<uint8_t> GrainItemRecord(PCSxItemIDList item)
{
    if (!IsGrainItem(item))
        throw ESxGrainRecordError("The item ID is not a grain item");
    const auto* p = reinterpret_cast<const uint8_t*>(item);
    const uint32_t n = GetCardinal(p + SxGrainItemLengthOffset);
    return std::vector<uint8_t>(p + SxGrainItemRecordOffset, p + SxGrainItemRecordOffset + n);
}

std::u16string SxUtf8ToUtf16(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xF4) {
            const size_t need = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (i + need <= n) {
                uint32_t v = c & (0xFF >> (need + 1));
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    if ((s[i + k] & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (s[i + k] & 0x3F);
                }
                // Overlong and out-of-range forms are not UTF-8; surrogates are kept (see header).
                static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
                if (ok && v >= least[need] && v <= 0x10FFFF) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string SxUtf16ToUtf8(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string SxCommaText(const std::vector<std::string>& lines)
{
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out.push_back(',');
        const std::string& line = lines[i];
        bool quote = line.empty();
        for (unsigned char c : line)
            if (c <= ' ' || c == ',' || c == '"')
                quote = true;
        if (!quote) {
            out += line;
            continue;
        }
        out.push_back('"');
        for (char c : line) {
            if (c == '"')
                out.push_back('"');
            out.push_back(c);
        }
        out.push_back('"');
    }
    return out;
}

namespace {

bool SameKey(const std::string& line, const std::string& key)
{
    if (line.size() <= key.size() || line[key.size()] != '=')
        return false;
    for (size_t i = 0; i < key.size(); ++i) {
        char a = line[i], b = key[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

std::string SxGetValue(const std::vector<std::string>& lines, const std::string& key)
{
    for (const auto& line : lines)
        if (SameKey(line, key))
            return line.substr(key.size() + 1);
    return std::string();
}

void SxSetValue(std::vector<std::string>& lines, const std::string& key, const std::string& value)
{
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        if (!SameKey(*it, key))
            continue;
        if (value.empty())
            lines.erase(it);
        else
            *it = key + "=" + value;
        return;
    }
    if (!value.empty())
        lines.push_back(key + "=" + value);
}
