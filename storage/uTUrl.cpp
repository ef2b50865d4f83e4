#include "uTUrl.h"

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
} // namespace

std::string URLDecode(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            throw EURLDecode("Invalid URL-encoded string passed to URLDecode.");
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            throw EURLDecode("Invalid HEX digits in string passed to URLDecode.");
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}
