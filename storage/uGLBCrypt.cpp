#include "uGLBCrypt.h"

#include "uGLBWin.h"

#include <wincrypt.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {
// "r58qhx29c7mßö4e" as its 15 Windows-1252 bytes: the stored passwords depend on exactly these.
const BYTE PassPhrase[15] = {'r', '5', '8', 'q', 'h', 'x', '2', '9', 'c', '7', 'm', 0xDF, 0xF6, '4', 'e'};

void Check(BOOL ok, const char* what)
{
    if (!ok) throw std::runtime_error(std::string(what) + ": " + SysErrorMessage(GetLastError()));
}

struct TCryptProvTraits {
    using Handle = HCRYPTPROV;
    static bool Valid(HCRYPTPROV h) { return h != 0; }
    static void Close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct TCryptHashTraits {
    using Handle = HCRYPTHASH;
    static bool Valid(HCRYPTHASH h) { return h != 0; }
    static void Close(HCRYPTHASH h) { CryptDestroyHash(h); }
};
struct TCryptKeyTraits {
    using Handle = HCRYPTKEY;
    static bool Valid(HCRYPTKEY h) { return h != 0; }
    static void Close(HCRYPTKEY h) { CryptDestroyKey(h); }
};
using TCryptHash = TOwnedHandle<TCryptHashTraits>;
using TCryptKey = TOwnedHandle<TCryptKeyTraits>;

class TCryptProv : public TOwnedHandle<TCryptProvTraits> {
public:
    TCryptProv()
    {
        Check(CryptAcquireContextW(put(), nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT),
              "CryptAcquireContext");
    }
};

// The key blob of the pass phrase: its MD5 digest is a 16-byte key, the two-key form of
// Triple-DES (K1, K2, K3 = K1), imported as the 24-byte block K1 | K2 | K1.
std::vector<BYTE> PassPhraseKeyBlob(HCRYPTPROV prov)
{
    TCryptHash hash;
    Check(CryptCreateHash(prov, CALG_MD5, 0, 0, hash.put()), "CryptCreateHash");
    Check(CryptHashData(hash.get(), PassPhrase, sizeof PassPhrase, 0), "CryptHashData");
    BYTE digest[16];
    DWORD size = sizeof digest;
    Check(CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0), "CryptGetHashParam");
    if (size != sizeof digest) throw std::runtime_error("MD5 digest of unexpected size");

    BLOBHEADER header{};
    header.bType = PLAINTEXTKEYBLOB;
    header.bVersion = CUR_BLOB_VERSION;
    header.aiKeyAlg = CALG_3DES;
    const DWORD keySize = 24;
    std::vector<BYTE> blob(sizeof header + sizeof keySize + keySize);
    BYTE* p = blob.data();
    memcpy(p, &header, sizeof header);
    memcpy(p + sizeof header, &keySize, sizeof keySize);
    memcpy(p + sizeof header + sizeof keySize, digest, 16);
    memcpy(p + sizeof header + sizeof keySize + 16, digest, 8);
    SecureZeroMemory(digest, sizeof digest);
    return blob;
}

// Each routine builds a fresh cipher, so equal passwords give equal texts.
class TPasswordCipher {
public:
    TPasswordCipher()
    {
        DWORD mode = CRYPT_MODE_ECB;
        Check(CryptSetKeyParam(key_.get(), KP_MODE, reinterpret_cast<BYTE*>(&mode), 0), "CryptSetKeyParam");
        // With no IV given the library starts from the encryption of eight 0xFF bytes.
        memset(register_, 0xFF, sizeof register_);
        EncryptBlock(register_);
    }

    // CFB with 8-bit feedback, built on the platform's block operation: each byte is XORed with
    // the first byte of E(register), and the cipher byte is shifted into the register.
    std::string Run(const std::string& in, bool encrypt)
    {
        std::string out(in.size(), '\0');
        for (size_t i = 0; i < in.size(); ++i) {
            BYTE block[8];
            memcpy(block, register_, 8);
            EncryptBlock(block);
            const BYTE inByte = static_cast<BYTE>(in[i]);
            const BYTE outByte = static_cast<BYTE>(inByte ^ block[0]);
            out[i] = static_cast<char>(outByte);
            memmove(register_, register_ + 1, 7);
            register_[7] = encrypt ? outByte : inByte;
        }
        return out;
    }

private:
    void EncryptBlock(BYTE block[8])
    {
        // One whole block with Final FALSE: no padding is added.
        DWORD len = 8;
        Check(CryptEncrypt(key_.get(), 0, FALSE, 0, block, &len, 8), "CryptEncrypt");
        if (len != 8) throw std::runtime_error("CryptEncrypt: unexpected block length");
    }

    static TCryptKey ImportKey(HCRYPTPROV prov)
    {
        const std::vector<BYTE> blob = PassPhraseKeyBlob(prov);
        TCryptKey key;
        Check(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, key.put()), "CryptImportKey");
        return key;
    }

    TCryptProv prov_;
    TCryptKey key_ = ImportKey(prov_.get());
    BYTE register_[8] = {};
};

std::string ToBase64(const std::string& bytes)
{
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD len = 0;
    Check(CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &len),
          "CryptBinaryToString");
    std::string text(len, '\0');
    Check(CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, text.data(), &len),
          "CryptBinaryToString");
    text.resize(len);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::string FromBase64(const std::string& text)
{
    DWORD len = 0;
    Check(CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr,
                               &len, nullptr, nullptr),
          "CryptStringToBinary");
    std::string bytes(len, '\0');
    Check(CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                               reinterpret_cast<BYTE*>(bytes.data()), &len, nullptr, nullptr),
          "CryptStringToBinary");
    bytes.resize(len);
    return bytes;
}

bool IsUtf8(const std::string& bytes)
{
    if (bytes.empty()) return true;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                               nullptr, 0) > 0;
}
} // namespace

std::string EncryptPassword(const std::string& plain)
{
    if (plain.empty() || plain.size() > INT_MAX / 2) return {};
    try {
        TPasswordCipher cipher;
        return ToBase64(cipher.Run(plain, true));
    } catch (...) {
        return {};
    }
}

std::string DecryptPassword(const std::string& stored)
{
    if (stored.empty() || stored.size() > INT_MAX / 2) return {};
    try {
        const std::string bytes = FromBase64(stored);
        if (bytes.empty()) return {};
        TPasswordCipher cipher;
        const std::string plain = cipher.Run(bytes, false);
        return IsUtf8(plain) ? plain : std::string();
    } catch (...) {
        return {};
    }
}
