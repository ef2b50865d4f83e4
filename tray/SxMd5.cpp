#include "SxMd5.h"

#include <cstring>

namespace {

constexpr uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
constexpr uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
constexpr uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
constexpr uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }
constexpr uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The per-step shift amounts and sine constants of the four rounds.
constexpr int Shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
constexpr uint32_t Sine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void Decode(uint32_t* output, const uint8_t* input, size_t length)
{
    for (size_t i = 0, j = 0; j < length; ++i, j += 4)
        output[i] = uint32_t(input[j]) | (uint32_t(input[j + 1]) << 8) | (uint32_t(input[j + 2]) << 16) |
                    (uint32_t(input[j + 3]) << 24);
}

void Encode(uint8_t* output, const uint32_t* input, size_t length)
{
    for (size_t i = 0, j = 0; j < length; ++i, j += 4) {
        output[j] = uint8_t(input[i]);
        output[j + 1] = uint8_t(input[i] >> 8);
        output[j + 2] = uint8_t(input[i] >> 16);
        output[j + 3] = uint8_t(input[i] >> 24);
    }
}

void Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    Decode(x, block, 64);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int step = 0; step < 64; ++step) {
        const int round = step / 16;
        uint32_t f;
        int k;
        switch (round) {
        case 0: f = F(b, c, d); k = step; break;
        case 1: f = G(b, c, d); k = (5 * step + 1) % 16; break;
        case 2: f = H(b, c, d); k = (3 * step + 5) % 16; break;
        default: f = I(b, c, d); k = (7 * step) % 16; break;
        }
        const uint32_t next = b + Rotl(a + f + x[k] + Sine[step], Shift[round][step % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    std::memset(x, 0, sizeof x);
}

} // namespace

void MD5Init(TMD5Context& context)
{
    context.Count[0] = context.Count[1] = 0;
    context.State[0] = 0x67452301;
    context.State[1] = 0xefcdab89;
    context.State[2] = 0x98badcfe;
    context.State[3] = 0x10325476;
    std::memset(context.Buffer, 0, sizeof context.Buffer);
}

void MD5Update(TMD5Context& context, const void* input, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(input);
    size_t index = (context.Count[0] >> 3) & 0x3F;
    // The bit count is 64 bits wide: the carry goes into the high word.
    const uint64_t bits = (uint64_t(context.Count[1]) << 32 | context.Count[0]) + uint64_t(length) * 8;
    context.Count[0] = uint32_t(bits);
    context.Count[1] = uint32_t(bits >> 32);
    const size_t partLength = 64 - index;
    size_t i = 0;
    if (length >= partLength) {
        std::memcpy(&context.Buffer[index], bytes, partLength);
        Transform(context.State, context.Buffer);
        for (i = partLength; i + 63 < length; i += 64)
            Transform(context.State, &bytes[i]);
        index = 0;
    }
    if (length > i)
        std::memcpy(&context.Buffer[index], &bytes[i], length - i);
}

TMD5Digest MD5Final(TMD5Context& context)
{
    static const uint8_t padding[64] = {0x80};
    uint8_t bits[8];
    Encode(bits, context.Count, 8);
    const size_t index = (context.Count[0] >> 3) & 0x3F;
    const size_t padLength = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, padding, padLength);
    MD5Update(context, bits, 8);
    TMD5Digest digest{};
    Encode(digest.data(), context.State, 16);
    std::memset(&context, 0, sizeof context);
    return digest;
}

TMD5Digest MD5String(const std::string& text)
{
    TMD5Context context;
    MD5Init(context);
    MD5Update(context, text.data(), text.size());
    return MD5Final(context);
}

std::string MD5Print(const TMD5Digest& digest)
{
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (uint8_t b : digest) {
        text.push_back(hex[b >> 4]);
        text.push_back(hex[b & 0xF]);
    }
    return text;
}
