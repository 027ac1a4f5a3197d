// tests/http/test_md5.cpp: MD5 against its published test suite, across the
// padding boundary and in pieces, and the clearing of the context.
#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "http/digest.h"
#include "http/md5.h"

namespace {

// The digest of `message` as hexadecimal text, fed in pieces of `piece`
// bytes (0: all at once).
std::string md5_hex(const std::string &message, size_t piece = 0)
{
    Md5Context context;
    md5_init(&context);
    if (piece == 0) {
        md5_update(&context, message.data(), message.size());
    } else {
        for (size_t at = 0; at < message.size(); at += piece)
            md5_update(&context, message.data() + at, std::min(piece, message.size() - at));
    }
    unsigned char digest[16];
    md5_final(digest, &context);
    char hex[33];
    hex_digest(digest, hex);
    return hex;
}

TEST(Md5, TheTestSuiteOfRfc1321)
{
    struct Case {
        const char *message, *digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(md5_hex(c.message), c.digest) << '"' << c.message << '"';
        EXPECT_EQ(md5_hex(c.message, 1), c.digest) << '"' << c.message << "\" byte by byte";
    }
}

// Runs of 'a' around the 56-byte point where the padding no longer fits in
// the same block, and around the block ends. The digests were obtained with
// `head -c N /dev/zero | tr '\0' a | md5sum`.
TEST(Md5, MessagesAroundThePaddingBoundaryWholeAndInPieces)
{
    struct Case {
        size_t length;
        const char *digest;
    };
    const Case cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
    };
    for (const Case &c : cases) {
        std::string message(c.length, 'a');
        EXPECT_EQ(md5_hex(message), c.digest) << c.length << " bytes whole";
        for (size_t piece : {1u, 3u, 7u, 13u, 31u, 55u, 63u, 65u})
            EXPECT_EQ(md5_hex(message, piece), c.digest) << c.length << " bytes in pieces of " << piece;
    }
}

// Pieces whose sizes vary inside one message, so a block is completed from
// the middle of a piece as well as at its end.
TEST(Md5, PiecesOfMixedSizesGiveTheDigestOfTheWhole)
{
    std::string message;
    for (int i = 0; i < 300; i++)
        message += static_cast<char>(i * 37 + 11);
    const std::string whole = md5_hex(message);
    Md5Context context;
    md5_init(&context);
    size_t at = 0;
    for (size_t piece : {0u, 5u, 60u, 1u, 64u, 0u, 127u, 2u}) {
        md5_update(&context, message.data() + at, piece);
        at += piece;
    }
    md5_update(&context, message.data() + at, message.size() - at);
    unsigned char digest[16];
    md5_final(digest, &context);
    char hex[33];
    hex_digest(digest, hex);
    EXPECT_EQ(hex, whole);
}

TEST(Md5, TheBitCountCarriesIntoItsHighWord)
{
    Md5Context context;
    md5_init(&context);
    context.count[0] = 0xFFFFFFF8u;  // 2^29 - 1 bytes so far
    md5_update(&context, "x", 1);
    EXPECT_EQ(context.count[0], 0u);
    EXPECT_EQ(context.count[1], 1u);
    md5_update(&context, "yz", 2);
    EXPECT_EQ(context.count[0], 16u);
    EXPECT_EQ(context.count[1], 1u);
}

TEST(Md5, FinalOverwritesTheWholeContextWithZeros)
{
    for (size_t length : {0u, 6u, 56u, 64u, 100u}) {
        Md5Context context;
        md5_init(&context);
        std::string secret(length, 's');
        md5_update(&context, secret.data(), secret.size());
        unsigned char digest[16];
        md5_final(digest, &context);
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&context);
        size_t nonzero = 0;
        for (size_t i = 0; i < sizeof context; i++)
            nonzero += bytes[i] != 0;
        EXPECT_EQ(nonzero, 0u) << "after " << length << " bytes";
    }
}

TEST(Md5, HexDigestIsLowerCaseHighNibbleFirst)
{
    const unsigned char digest[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                      0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    char hex[34];
    std::memset(hex, 'X', sizeof hex);
    hex_digest(digest, hex);
    EXPECT_STREQ(hex, "0123456789abcdeffedcba9876543210");
    EXPECT_EQ(hex[33], 'X') << "33 bytes written, no more";
}

} // namespace
