#pragma once
// Decoding of the percent-escaped hrefs of a server listing.
#include <stdexcept>
#include <string>

class EURLDecode : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "%XX" becomes the byte XX; everything else ("+" included) is copied. The result is the raw byte
// sequence (UTF-8 escapes give UTF-8 bytes). Raises EURLDecode for a short or non-hex escape.
std::string URLDecode(const std::string& text);
