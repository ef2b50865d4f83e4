#pragma once
// The stored form of the account password: Triple-DES (two-key, keyed by the MD5 digest of a fixed
// pass phrase), CFB with 8-bit feedback over the UTF-8 bytes, Base64 text.
#ifdef _WIN32
#include <string>

// The empty text, and any failure, give the empty text.
std::string EncryptPassword(const std::string& plain);
// The empty text, a text that is no Base64, a result that is no UTF-8, and any failure give the
// empty text.
std::string DecryptPassword(const std::string& stored);
#endif
