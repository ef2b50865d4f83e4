#include "SxMd5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The test suite of RFC 1321, appendix A.5, and the padding boundaries around 56 and 64 bytes.
struct TDigestCase {
    std::string Text;
    const char* Digest;
};

TEST(SxMd5, Rfc1321Suite)
{
    const TDigestCase cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // 55 bytes fit one padded block, 56 need a second, 64 a whole block of padding.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    };
    for (const TDigestCase& c : cases)
        EXPECT_EQ(MD5Print(MD5String(c.Text)), c.Digest) << c.Text.size() << " bytes";
}

TEST(SxMd5, UpdateInPiecesEqualsOneUpdateAndFinalZeroesTheContext)
{
    const std::string text = "C:\\users\\Jörg\\AppData\\Roaming\\Tandrel Sendrake\\Open\\Angebot Müller 2024.docx";
    for (size_t split = 0; split <= text.size(); split += 7) {
        TMD5Context context;
        MD5Init(context);
        MD5Update(context, text.data(), split);
        MD5Update(context, text.data() + split, text.size() - split);
        EXPECT_EQ(MD5Final(context), MD5String(text)) << split;
        for (uint8_t b : context.Buffer)
            ASSERT_EQ(b, 0);
        EXPECT_EQ(context.State[0] | context.Count[0], 0u);
    }
    // A million bytes (the count crosses many blocks): the known digest of a million "a".
    TMD5Context context;
    MD5Init(context);
    const std::string block(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        MD5Update(context, block.data(), block.size());
    EXPECT_EQ(MD5Print(MD5Final(context)), "7707d6ae4e027c70eea2a935c2296f21");
}

} // namespace
