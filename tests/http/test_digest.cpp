// tests/http/test_digest.cpp: MD5 and digest authentication, pinned to
// published test values and to the exact bytes of the Authorization line.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/random.h"
#include "http/digest.h"
#include "http/md5.h"

extern const int32_t build_initial_target_mode = 1;

namespace {

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

TEST(Md5, TheTestSuiteOfItsDefinition)
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
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(md5_hex(c.message), c.digest) << '"' << c.message << '"';
}

TEST(Md5, PiecesOfAnySizeAcrossThePaddingBoundaryGiveTheSameDigest)
{
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 200u}) {
        std::string message;
        for (size_t i = 0; i < length; i++)
            message += static_cast<char>('a' + (i * 7) % 26);
        std::string whole = md5_hex(message);
        for (size_t piece : {1u, 3u, 7u, 13u, 31u, 63u})
            EXPECT_EQ(md5_hex(message, piece), whole) << length << " bytes in pieces of " << piece;
    }
    // Independently known: the digest of 56 'a's (one block past the padding point).
    EXPECT_EQ(md5_hex(std::string(56, 'a'), 5), "3b0c8ac703f828b04c6c197006d17218");
}

TEST(Md5, FinalClearsTheContext)
{
    Md5Context context;
    md5_init(&context);
    md5_update(&context, "secret", 6);
    unsigned char digest[16];
    md5_final(digest, &context);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&context);
    for (size_t i = 0; i < sizeof context; i++)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(Digest, TheWorkedExampleOfRfc2617)
{
    char ha1[33], response[33];
    compute_ha1("", "Mufasa", "testrealm@host.com", "Circle Of Life", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                "0a4f113b", ha1);
    compute_request_digest(ha1, "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001", "0a4f113b", "auth", "GET",
                           "/dir/index.html", "", response);
    EXPECT_STREQ(response, "6629fae49393a05397450978507c4ef1");
}

// A state that has taken `challenge` with the user admin and the password
// secret, cnonce from the generator seeded with 1 (41, that is "29").
DigestState taken(const char *challenge)
{
    DigestState state{};
    seed_random(1);
    EXPECT_EQ(parse_challenge(challenge, &state), 0) << challenge;
    std::strcpy(state.username, "admin");
    std::strcpy(state.password, "secret");
    return state;
}

std::string authorization(DigestState &state, const char *target = "/admin/advanced")
{
    state.nonce_count++;  // as the exchange does before every authorised request
    char line[kAuthorizationCapacity];
    int n = build_authorization(&state, target, line);
    EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
    return line;
}

// The expected lines were computed apart from this code, with Python's
// hashlib, from RFC 2617's formulas.
TEST(Digest, TheAuthorizationLineByteForByte)
{
    struct Case {
        const char *name, *challenge, *line;
    };
    const Case cases[] = {
#include "digest_cases.inc"
    };
    for (const Case &c : cases) {
        DigestState state = taken(c.challenge);
        EXPECT_EQ(authorization(state), c.line) << c.name;
    }
}

TEST(Digest, ALaterChallengeWithoutADirectiveEmptiesItsField)
{
    DigestState state = taken("WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", "
                              "algorithm=\"MD5\", opaque=\"o\"\r\n");
    ASSERT_EQ(parse_challenge("WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\"\r\n", &state), 0);
    EXPECT_STREQ(state.qop, "");
    EXPECT_STREQ(state.algorithm, "");
    EXPECT_STREQ(state.opaque, "");
    std::string line = authorization(state);
    EXPECT_EQ(line.find("qop="), std::string::npos);
    EXPECT_EQ(line.find("opaque="), std::string::npos);
    EXPECT_NE(line.find(",algorithm=\"\","), std::string::npos);
}

TEST(Digest, TheNonceCountFollowsTheNonce)
{
    DigestState state = taken("WWW-Authenticate: Digest realm=\"r\", nonce=\"Abc\", qop=\"auth\"\r\n");
    EXPECT_EQ(state.nonce_count, 0u);
    state.nonce_count = 5;
    std::string cnonce = state.cnonce;
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"Abc\"", &state), 0);
    EXPECT_EQ(state.nonce_count, 5u) << "the same nonce goes on counting";
    EXPECT_NE(state.cnonce, cnonce) << "a new client nonce every time";
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"abc\"", &state), 0);
    EXPECT_EQ(state.nonce_count, 0u) << "a nonce differing in letter case is new";
    EXPECT_STREQ(state.previous_nonce, "abc");
    state.nonce_count = 254;
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"abc\", qop=\"auth\"", &state), 0);
    EXPECT_NE(authorization(state).find(",nc=0000000ff,"), std::string::npos);
}

TEST(Digest, ChallengesWithoutRealmOrNonceAreRefused)
{
    DigestState state{};
    std::strcpy(state.realm, "old");
    std::strcpy(state.nonce, "kept");
    EXPECT_EQ(parse_challenge("Realm=\"x\", nonce=\"n\"", &state), 1) << "names are case-sensitive";
    EXPECT_STREQ(state.realm, "old");
    EXPECT_EQ(parse_challenge("realm = \"x\", nonce=\"n\"", &state), 1) << "no blanks around =";
    EXPECT_EQ(parse_challenge("realm=\"new\", Nonce=\"n\"", &state), 1);
    EXPECT_STREQ(state.realm, "new") << "the realm is taken before the nonce is missed";
    EXPECT_STREQ(state.nonce, "kept");
    // A directive further down the reply, in another header or the body, counts.
    EXPECT_EQ(parse_challenge("WWW-Authenticate: Digest realm=\"r\"\r\nX-Other: nonce=\"later\"\r\n", &state), 0);
    EXPECT_STREQ(state.nonce, "later");
}

TEST(Digest, LongValuesAreCutToTheirFields)
{
    std::string nonce(200, 'n');
    std::string challenge = "realm=\"r\", nonce=\"" + nonce + "\", qop=\"auth-int-and-much-more\", algorithm=\"" +
                            std::string(40, 'a') + "\"";
    DigestState state = taken(challenge.c_str());
    EXPECT_EQ(std::strlen(state.nonce), 127u);
    EXPECT_EQ(std::strlen(state.qop), 15u);
    EXPECT_EQ(std::strlen(state.algorithm), 15u);
    std::string line = authorization(state);
    EXPECT_NE(line.find("nonce=\"" + nonce.substr(0, 127) + "\""), std::string::npos);
    // A value without its closing quote runs to the end of the text.
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"open-ended", &state), 0);
    EXPECT_STREQ(state.nonce, "open-ended");
}

TEST(Digest, AnUnquotedAlgorithmIsTakenOnlyAsADirectiveOfItsOwn)
{
    DigestState state = taken("realm=\"r\", nonce=\"n\", xalgorithm=MD5-sess");
    EXPECT_STREQ(state.algorithm, "");
    state = taken("realm=\"r\", nonce=\"n\",algorithm=MD5-sess\r\n");
    EXPECT_STREQ(state.algorithm, "MD5-sess");
    state = taken("realm=\"r\", nonce=\"n\", algorithm=\"MD5\", algorithm=MD5-sess");
    EXPECT_STREQ(state.algorithm, "MD5") << "the quoted form wins";
}

TEST(Digest, EveryFieldAtItsCapacityFitsTheLineBuffer)
{
    DigestState state{};
    std::memset(state.username, 'u', 127);
    std::memset(state.password, 'p', 127);
    std::memset(state.realm, 'r', 127);
    std::memset(state.nonce, 'n', 127);
    std::memset(state.cnonce, 'c', 127);
    std::memset(state.opaque, 'o', 127);
    std::memset(state.qop, 'q', 15);
    std::memset(state.algorithm, 'a', 15);
    state.nonce_count = 0xFFFFFFFF;
    struct {
        char line[kAuthorizationCapacity];
        char guard[16];
    } out;
    std::memset(out.guard, 0x5A, sizeof out.guard);
    int n = build_authorization(&state, std::string(200, '/').c_str(), out.line);
    EXPECT_EQ(n, 947);
    EXPECT_EQ(std::strlen(out.line), 947u);
    EXPECT_EQ(std::strlen(state.digest_uri), 127u);
    for (char g : out.guard)
        EXPECT_EQ(g, 0x5A);
}

} // namespace
