#pragma once
// The grain record (a data grain's serialised form) and the framework's item ID that carries it.
// Every byte here is read back later by Explorer's stores of item IDs and by other threads, so the
// layout is fixed. All integers little-endian.
//
// Item ID: cb (u16, N + 21) | "TessolarkPidl\0" (14 bytes) | N (u32) | N record bytes | 1 spare byte.
// Record:  0xAA00 + version (u16, absent in version 0) | Name (wide string) | IsFile (i32) |
//          Values (string list) | IconIndex (i32) | OpenIconIndex (i32) | Data (u32 + bytes, v1+) |
//          absolute list (i32 L + L bytes, v3+) | Attributes (u32, v4+).
// Readers bound every length by the bytes that remain; a damaged record raises ESxGrainRecordError
// (or the stream's ESxStreamError) and gives no grain.
#include "SxExceptionClass.h"
#include "SxPidl.h"
#include "SxStream.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

SX_DECLARE_EXCEPTION(ESxGrainRecordError, std::runtime_error);

// The record version this framework writes.
constexpr uint8_t SxGrainRecordVersion = 4;
constexpr uint16_t SxGrainRecordMark = 0xAA00;

// The item layout.
constexpr size_t SxGrainItemSignatureOffset = 2;
constexpr size_t SxGrainItemSignatureSize = 14;       // 13 characters and the NUL
constexpr size_t SxGrainItemLengthOffset = 16;
constexpr size_t SxGrainItemRecordOffset = 20;
constexpr size_t SxGrainItemOverhead = 21;            // cb, signature, length, spare
constexpr size_t SxGrainItemMaxRecord = 0xFFFF - SxGrainItemOverhead;
extern const char SxGrainItemSignature[SxGrainItemSignatureSize];

// TSxGrainAttributes: members 0..3 are bits 0..3.
using TSxGrainAttributes = uint8_t;
enum : TSxGrainAttributes {
    gaReadOnly = 1 << 0,
    gaHidden = 1 << 1,
    gaSystem = 1 << 2,
    gaArchive = 1 << 3,
    gaAllGrainAttributes = 0x0F,
};

// The fields of one record. Name and Values hold UTF-8; the record stores the name as UTF-16 and
// the value lines as their bytes. AbsoluteList holds the list's items and terminator (empty when
// the grain has none).
struct TSxGrainRecord {
    uint8_t Version = SxGrainRecordVersion;
    std::string Name;
    bool IsFile = false;
    std::vector<std::string> Values;
    int32_t IconIndex = -1;
    int32_t OpenIconIndex = -1;
    std::vector<uint8_t> Data;
    std::vector<uint8_t> AbsoluteList;
    TSxGrainAttributes Attributes = 0;
};

// Reads one record at the stream's position (versions 0 to 4; a later version reads as 4). The
// stream is left after the record. Raises on a damaged record; record is then unspecified.
void LoadGrainRecord(TSxByteStream& stream, TSxGrainRecord& record);
// Writes record as version 4 at the stream's position. Without withAbsoluteList field 8 is written
// with L = 0 (item IDs: the list comes from where the item sits).
void SaveGrainRecord(TSxByteStream& stream, const TSxGrainRecord& record, bool withAbsoluteList);

// The item ID list of one grain item (the item, a 16-bit terminator, one zero byte and one more):
// N + 25 bytes from the shell allocator. Raises when the record does not fit an item.
TSxPidlPtr MakeGrainItemID(const std::vector<uint8_t>& recordBytes);

// True when item is a framework item: cb >= 21, the signature matches byte for byte (case
// sensitive) and the record length fits inside cb. Only the item's own cb bytes are read.
bool IsGrainItem(PCSxItemIDList item);
// The record bytes of a framework item; raises ESxGrainRecordError for any other item.
std::vector<uint8_t> GrainItemRecord(PCSxItemIDList item);

// UTF-8 and UTF-16 without loss: lone surrogates travel through the generalised UTF-8 form, so a
// name read from a record is written back with the same code units. Bytes that are not UTF-8 turn
// into U+FFFD.
std::u16string SxUtf8ToUtf16(const std::string& text);
std::string SxUtf16ToUtf8(const std::u16string& text);

// The comma text of a string list: lines joined by ",", a line that is empty or holds a blank, a
// comma, a double quote or a control character is quoted with its quotes doubled.
std::string SxCommaText(const std::vector<std::string>& lines);

// Value lines "key=value": the value of the first line whose key equals key (case-insensitive,
// ASCII), empty when none; SetValue replaces that line or appends one; an empty value removes it.
std::string SxGetValue(const std::vector<std::string>& lines, const std::string& key);
void SxSetValue(std::vector<std::string>& lines, const std::string& key, const std::string& value);
