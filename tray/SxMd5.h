#pragma once
// The MD5 message digest of RFC 1321 (context, init, update, final). The folder watcher keys its
// snapshot by the digest of each file's full path.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct TMD5Context {
    uint32_t State[4];
    uint32_t Count[2];   // bit count, low word first
    uint8_t Buffer[64];
};

using TMD5Digest = std::array<uint8_t, 16>;

void MD5Init(TMD5Context& context);
void MD5Update(TMD5Context& context, const void* input, size_t length);
// Pads, appends the bit count and writes the state little-endian; the context is zeroed afterwards.
TMD5Digest MD5Final(TMD5Context& context);
// The digest of the text's bytes (no terminator).
TMD5Digest MD5String(const std::string& text);
// 32 lower-case hex digits, high nibble first.
std::string MD5Print(const TMD5Digest& digest);
