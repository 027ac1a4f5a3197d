// tests/http/test_digest.cpp: digest authentication: taking challenges into
// the state, and the Authorization line pinned byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/random.h"
#include "http/digest.h"
#include "http/md5.h"

extern const int32_t build_initial_target_mode = 1;

namespace {

// RFC 2617's formulas written out plainly, over MD5 alone (which
// test_md5.cpp holds to RFC 1321's suite), to check the system's
// composition of them.
std::string md5_text(const std::string &bytes)
{
    Md5Context context;
    md5_init(&context);
    md5_update(&context, bytes.data(), bytes.size());
    unsigned char digest[16];
    md5_final(digest, &context);
    char hex[33];
    hex_digest(digest, hex);
    return hex;
}

std::string md5_raw(const std::string &bytes)
{
    Md5Context context;
    md5_init(&context);
    md5_update(&context, bytes.data(), bytes.size());
    unsigned char digest[16];
    md5_final(digest, &context);
    return std::string(reinterpret_cast<const char *>(digest), sizeof digest);
}

struct Reference {
    std::string algorithm, username, realm, password, nonce, cnonce, qop, nc, uri, body;
};

std::string reference_response(const Reference &r)
{
    std::string ha1 = md5_text(r.username + ":" + r.realm + ":" + r.password);
    if (r.algorithm == "md5-sess" || r.algorithm == "MD5-sess" || r.algorithm == "MD5-SESS")
        ha1 = md5_text(md5_raw(r.username + ":" + r.realm + ":" + r.password) + ":" + r.nonce + ":" +
                       r.cnonce);
    std::string a2 = "GET:" + r.uri;
    if (r.qop == "auth-int" || r.qop == "AUTH-INT") {
        a2 += ':';
        a2 += md5_text(r.body);
    }
    std::string ha2 = md5_text(a2);
    if (r.qop.empty())
        return md5_text(ha1 + ":" + r.nonce + ":" + ha2);
    return md5_text(ha1 + ":" + r.nonce + ":" + r.nc + ":" + r.cnonce + ":" + r.qop + ":" + ha2);
}

// The generator's n-th value after seeding with `seed`, as the client nonce
// text, from its own formula.
std::string cnonce_after(uint32_t seed, int n)
{
    uint32_t state = seed;
    for (int i = 0; i < n; i++)
        state = state * 214013u + 2531011u;
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>((state >> 16) & 0x7FFF));
    return text;
}

// One run's state: challenges taken with the generator seeded with 1 (so
// the first client nonce is 41, "29"), the user admin with the password
// secret, and the lines the exchange would send.
class DigestRun : public ::testing::Test {
protected:
    DigestState state{};

    void take(const char *challenge)
    {
        seed_random(1);
        ASSERT_EQ(parse_challenge(challenge, &state), 0) << challenge;
        std::strcpy(state.username, "admin");
        std::strcpy(state.password, "secret");
    }

    // As the exchange does: the count goes up before every authorised request.
    std::string next_line(const char *target = "/admin/advanced")
    {
        state.nonce_count++;
        char line[kAuthorizationCapacity];
        int n = build_authorization(&state, target, line);
        EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
        return line;
    }
};

TEST(DigestComputation, TheWorkedExampleOfRfc2617)
{
    const char *nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
    for (const char *algorithm : {"", "MD5"}) {
        char ha1[33], response[33];
        compute_ha1(algorithm, "Mufasa", "testrealm@host.com", "Circle Of Life", nonce, "0a4f113b", ha1);
        EXPECT_STREQ(ha1, "939e7578ed9e3c518a452acee763bce9") << '"' << algorithm << '"';
        compute_request_digest(ha1, nonce, "00000001", "0a4f113b", "auth", "GET", "/dir/index.html", "",
                               response);
        EXPECT_STREQ(response, "6629fae49393a05397450978507c4ef1") << '"' << algorithm << '"';
    }
}

TEST(DigestComputation, Md5SessInAnyLetterCaseAndNothingElse)
{
    struct Case {
        const char *algorithm;
        bool sess;
    };
    const Case cases[] = {
        {"md5-sess", true}, {"MD5-sess", true}, {"MD5-SESS", true}, {"mD5-SeSs", true},
        {"", false},        {"MD5", false},     {"md5-sess ", false}, {"md5-ses", false},
        {"MD5-sessx", false},
    };
    const std::string plain = md5_text("u:r:p");
    const std::string sess = md5_text(md5_raw("u:r:p") + ":n:c");
    for (const Case &c : cases) {
        char ha1[33];
        compute_ha1(c.algorithm, "u", "r", "p", "n", "c", ha1);
        EXPECT_EQ(ha1, c.sess ? sess : plain) << '"' << c.algorithm << '"';
    }
}

// Only the single value auth-int, in any letter case, brings the entity
// body into HA2; the body given is hashed, not assumed empty.
TEST(DigestComputation, TheEntityBodyEntersOnlyForAuthInt)
{
    struct Case {
        const char *qop;
        bool with_body;
    };
    const Case cases[] = {
        {"auth-int", true}, {"AUTH-INT", true}, {"Auth-Int", true},
        {"auth", false},    {"auth,auth-int", false}, {"auth-int,auth", false},
    };
    const std::string ha1 = md5_text("u:r:p");
    for (const Case &c : cases) {
        std::string a2 = "GET:/x";
        if (c.with_body) {
            a2 += ':';
            a2 += md5_text("hello");
        }
        std::string expected = md5_text(ha1 + ":n:00000002a:c:" + c.qop + ":" + md5_text(a2));
        char response[33];
        compute_request_digest(ha1.c_str(), "n", "00000002a", "c", c.qop, "GET", "/x", "hello", response);
        EXPECT_EQ(response, expected) << c.qop;
    }
    char response[33];
    compute_request_digest(ha1.c_str(), "n", "", "c", "", "GET", "/x", "hello", response);
    EXPECT_EQ(response, md5_text(ha1 + ":n:" + md5_text("GET:/x"))) << "no qop: HA1:nonce:HA2";
}

// The responses were obtained in the shell, e.g. for qop auth:
//   HA1=$(printf 'admin:nuv:secret' | md5sum)   0fd1da0ef3de7bff0392ae6e89c3eb1f
//   HA2=$(printf 'GET:/admin/advanced' | md5sum) c0b280b766dd0fd4c95330cf4d4fe53a
//   printf '%s' "$HA1:abc:000000001:29:auth:$HA2" | md5sum
// for AUTH-INT with HA2 over "GET:/admin/advanced:" and the MD5 of nothing,
// and for MD5-sess with HA1 over the 16 bytes of `xxd -r -p` of the first
// HA1, then ":abc:29".
TEST_F(DigestRun, TheAuthorizationLineByteForByte)
{
    struct Case {
        const char *name, *challenge, *line;
    };
    const Case cases[] = {
        {"no qop", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"ff0443ce448b7bd738c918861d1aec96\"\r\n"},
        {"qop auth, new nonce", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"8e4aaa8a364e095eb04880050d01e39c\",qop=auth,nc=000000001,cnonce=\"29\"\r\n"},
        {"qop list", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth,auth-int\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"377bc0d456edd66f1105e10af95d317a\",qop=auth,auth-int,nc=000000001,"
         "cnonce=\"29\"\r\n"},
        {"AUTH-INT", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"AUTH-INT\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"83061ee0f332f95f7e53be4b975817ec\",qop=AUTH-INT,nc=000000001,"
         "cnonce=\"29\"\r\n"},
        {"MD5-sess",
         "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", algorithm=\"MD5-sess\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"MD5-sess\",response=\"b29984c500d6aa11c98a2abff241a88c\",qop=auth,nc=000000001,"
         "cnonce=\"29\"\r\n"},
        {"opaque", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", opaque=\"xyz\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"ff0443ce448b7bd738c918861d1aec96\",opaque=\"xyz\"\r\n"},
        {"opaque empty", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", opaque=\"\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"ff0443ce448b7bd738c918861d1aec96\"\r\n"},
        {"unquoted MD5",
         "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", algorithm=MD5\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"MD5\",response=\"8e4aaa8a364e095eb04880050d01e39c\",qop=auth,nc=000000001,"
         "cnonce=\"29\"\r\n"},
        {"unquoted MD5-sess",
         "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", algorithm=MD5-sess, opaque=\"o\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"MD5-sess\",response=\"b29984c500d6aa11c98a2abff241a88c\",opaque=\"o\",qop=auth,"
         "nc=000000001,cnonce=\"29\"\r\n"},
    };
    for (const Case &c : cases) {
        state = DigestState{};
        take(c.challenge);
        EXPECT_EQ(next_line(), c.line) << c.name;
    }
}

// A first challenge with every optional directive, then one without one
// of them (the same nonce, the generator seeded again so cnonce is "29").
// MD5-sess without qop: printf '%s' "$SESS:abc:$HA2" | md5sum, SESS as
// above.
TEST_F(DigestRun, ALaterChallengeLackingADirectiveEmptiesItsField)
{
    struct Case {
        const char *lacking, *challenge, *line;
    };
    const Case cases[] = {
        {"qop", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", algorithm=\"MD5-sess\", opaque=\"o\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"MD5-sess\",response=\"9a11d8087443136b5be270d731ba28f5\",opaque=\"o\"\r\n"},
        {"opaque", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", algorithm=\"MD5-sess\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"MD5-sess\",response=\"b29984c500d6aa11c98a2abff241a88c\",qop=auth,nc=000000001,"
         "cnonce=\"29\"\r\n"},
        {"algorithm", "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", opaque=\"o\"\r\n",
         "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
         "algorithm=\"\",response=\"8e4aaa8a364e095eb04880050d01e39c\",opaque=\"o\",qop=auth,nc=000000001,"
         "cnonce=\"29\"\r\n"},
    };
    for (const Case &c : cases) {
        state = DigestState{};
        take("WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\", algorithm=\"MD5-sess\", "
             "opaque=\"o\"\r\n");
        take(c.challenge);
        EXPECT_EQ(next_line(), c.line) << "lacking " << c.lacking;
    }
}

TEST_F(DigestRun, TheNonceCountFollowsTheNonce)
{
    take("realm=\"r\", nonce=\"Abc\", qop=\"auth\"");
    EXPECT_EQ(state.nonce_count, 0u);
    EXPECT_STREQ(state.previous_nonce, "Abc");
    const std::string first = next_line(), second = next_line(), third = next_line();
    EXPECT_NE(first.find(",nc=000000001,cnonce=\"29\"\r\n"), std::string::npos) << first;
    EXPECT_NE(second.find(",nc=000000002,cnonce=\"29\"\r\n"), std::string::npos) << second;
    EXPECT_NE(third.find(",nc=000000003,cnonce=\"29\"\r\n"), std::string::npos) << third;

    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"Abc\", qop=\"auth\"", &state), 0);
    EXPECT_EQ(state.nonce_count, 3u) << "the same nonce goes on counting";
    EXPECT_NE(next_line().find(",nc=000000004,"), std::string::npos);

    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"abc\", qop=\"auth\"", &state), 0);
    EXPECT_EQ(state.nonce_count, 0u) << "a nonce differing only in letter case is new";
    EXPECT_STREQ(state.previous_nonce, "abc");

    state.nonce_count = 7;
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"abd\", qop=\"auth\"", &state), 0);
    EXPECT_EQ(state.nonce_count, 0u) << "a new nonce starts again";
    EXPECT_STREQ(state.previous_nonce, "abd");
    EXPECT_STREQ(state.nonce, "abd");
}

// The count 255 in full: nine digits, lower case. The response was
// obtained as above with 0000000ff as nc.
TEST_F(DigestRun, TheNonceCountTextIsAlwaysNineDigits)
{
    take("WWW-Authenticate: Digest realm=\"nuv\", nonce=\"abc\", qop=\"auth\"\r\n");
    state.nonce_count = 254;
    EXPECT_EQ(next_line(),
              "Authorization: Digest username=\"admin\",realm=\"nuv\",nonce=\"abc\",uri=\"/admin/advanced\","
              "algorithm=\"\",response=\"ff95701608f6d1198460d49f88b34e61\",qop=auth,nc=0000000ff,cnonce=\"29\"\r\n");
    state.nonce_count = 0xFFFFFFFEu;
    EXPECT_NE(next_line().find(",nc=0ffffffff,"), std::string::npos);
}

TEST(DigestChallenge, TheClientNonceIsRenewedOnEverySuccessfulParse)
{
    DigestState state{};
    seed_random(1);
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"n\"", &state), 0);
    EXPECT_EQ(state.cnonce, cnonce_after(1, 1));
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"n\"", &state), 0);
    EXPECT_EQ(state.cnonce, cnonce_after(1, 2)) << "the same nonce, a new client nonce";
    // A refused challenge takes no value from the generator.
    ASSERT_EQ(parse_challenge("realm=\"r\"", &state), 1);
    EXPECT_EQ(state.cnonce, cnonce_after(1, 2));
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"m\"", &state), 0);
    EXPECT_EQ(state.cnonce, cnonce_after(1, 3));
    EXPECT_EQ(state.cnonce, std::string("18be")) << "lower-case %x";
}

// A state as a first challenge leaves it, with the user's credentials.
DigestState filled_state()
{
    DigestState state{};
    seed_random(1);
    EXPECT_EQ(parse_challenge("realm=\"old\", nonce=\"kept\", qop=\"auth\", algorithm=\"MD5\", opaque=\"op\"",
                              &state),
              0);
    std::strcpy(state.username, "admin");
    std::strcpy(state.password, "secret");
    state.nonce_count = 3;
    return state;
}

TEST(DigestChallenge, WithoutTheExactRealmDirectiveNothingChanges)
{
    const char *challenges[] = {
        "WWW-Authenticate: Digest nonce=\"n\", qop=\"auth-int\"\r\n",
        "WWW-Authenticate: Digest Realm=\"x\", nonce=\"n\"\r\n",
        "WWW-Authenticate: Digest REALM=\"x\", nonce=\"n\"\r\n",
        "WWW-Authenticate: Digest realm = \"x\", nonce=\"n\"\r\n",
        "WWW-Authenticate: Digest realm=x, nonce=\"n\"\r\n",
        "",
    };
    for (const char *challenge : challenges) {
        const DigestState before = filled_state();
        DigestState state = before;
        seed_random(1);
        EXPECT_EQ(parse_challenge(challenge, &state), 1) << challenge;
        EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0) << challenge;
        EXPECT_EQ(next_random(), 41) << "the generator is untouched: " << challenge;
    }
}

TEST(DigestChallenge, ARealmWithoutANonceUpdatesTheRealmOnly)
{
    const char *challenges[] = {
        "WWW-Authenticate: Digest realm=\"new\", qop=\"auth-int\", opaque=\"x\"\r\n",
        "WWW-Authenticate: Digest realm=\"new\", Nonce=\"n\"\r\n",
        "WWW-Authenticate: Digest realm=\"new\", nonce =\"n\"\r\n",
        "WWW-Authenticate: Digest realm=\"new\", nonce=n\r\n",
    };
    for (const char *challenge : challenges) {
        DigestState expected = filled_state();
        DigestState state = expected;
        std::strcpy(expected.realm, "new");
        seed_random(1);
        EXPECT_EQ(parse_challenge(challenge, &state), 1) << challenge;
        EXPECT_EQ(std::memcmp(&state, &expected, sizeof state), 0) << challenge;
        EXPECT_EQ(next_random(), 41) << challenge;
    }
}

TEST(DigestChallenge, OptionalDirectivesInAnotherLetterCaseAreNotFound)
{
    DigestState state = filled_state();
    ASSERT_EQ(parse_challenge("realm=\"r\", nonce=\"n\", Qop=\"auth\", ALGORITHM=\"MD5-sess\", "
                              "Algorithm=MD5, Opaque=\"o\", QOP=\"auth\", opaque =\"o\"",
                              &state),
              0);
    EXPECT_STREQ(state.qop, "");
    EXPECT_STREQ(state.algorithm, "");
    EXPECT_STREQ(state.opaque, "");
}

// The searches cover the whole rest of the reply; the first occurrence of
// each directive counts.
TEST(DigestChallenge, DirectivesAreFoundFurtherDownTheReply)
{
    struct Case {
        const char *name, *challenge, *realm, *nonce, *qop, *opaque;
    };
    const Case cases[] = {
        {"nonce in another header",
         "WWW-Authenticate: Digest realm=\"r\"\r\nX-Other: nonce=\"later\"\r\n\r\n", "r", "later", "", ""},
        {"qop and opaque in the body",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\nContent-Length: 30\r\n\r\n"
         "<p>qop=\"auth\" opaque=\"b\"</p>",
         "r", "n", "auth", "b"},
        {"realm in a later header",
         "WWW-Authenticate: Digest nonce=\"n\"\r\nWWW-Authenticate: Basic realm=\"basic\"\r\n", "basic", "n", "",
         ""},
        {"the first occurrence",
         "WWW-Authenticate: Digest realm=\"one\", nonce=\"first\", qop=\"auth\"\r\n"
         "WWW-Authenticate: Digest realm=\"two\", nonce=\"second\", qop=\"auth-int\"\r\n",
         "one", "first", "auth", ""},
        {"inside another name", "WWW-Authenticate: Digest xrealm=\"x\", cnonce=\"c\", myqop=\"q\"\r\n", "x", "c",
         "q", ""},
    };
    for (const Case &c : cases) {
        DigestState state{};
        ASSERT_EQ(parse_challenge(c.challenge, &state), 0) << c.name;
        EXPECT_STREQ(state.realm, c.realm) << c.name;
        EXPECT_STREQ(state.nonce, c.nonce) << c.name;
        EXPECT_STREQ(state.qop, c.qop) << c.name;
        EXPECT_STREQ(state.opaque, c.opaque) << c.name;
    }
}

TEST_F(DigestRun, ALongNonceIsCutAndUsedSoInTheHashAndTheLine)
{
    const std::string nonce(200, 'n'), kept(127, 'n');
    const std::string challenge = "WWW-Authenticate: Digest realm=\"r\", nonce=\"" + nonce + "\", qop=\"auth\"\r\n";
    take(challenge.c_str());
    EXPECT_EQ(std::string(state.nonce), kept);
    EXPECT_EQ(std::string(state.previous_nonce), kept);
    const std::string response = reference_response(
        {"", "admin", "r", "secret", kept, "29", "auth", "000000001", "/admin/advanced", ""});
    EXPECT_EQ(next_line(), "Authorization: Digest username=\"admin\",realm=\"r\",nonce=\"" + kept +
                               "\",uri=\"/admin/advanced\",algorithm=\"\",response=\"" + response +
                               "\",qop=auth,nc=000000001,cnonce=\"29\"\r\n");
    // The same 200 characters again are the same (cut) nonce: the count goes on.
    ASSERT_EQ(parse_challenge(challenge.c_str(), &state), 0);
    EXPECT_EQ(state.nonce_count, 1u);
}

TEST(DigestChallenge, ValuesAreCutToTheirFields)
{
    struct Case {
        const char *name, *challenge, *nonce, *qop, *algorithm;
    };
    const Case cases[] = {
        {"long qop and algorithm",
         "realm=\"r\", nonce=\"n\", qop=\"auth,auth-int,token\", algorithm=\"MD5-sess-and-more\"", "n",
         "auth,auth-int,t", "MD5-sess-and-mo"},
        {"long unquoted algorithm", "realm=\"r\", nonce=\"n\", algorithm=MD5-sess-and-more, qop=\"auth\"", "n",
         "auth", "MD5-sess-and-mo"},
        {"no closing quote", "realm=\"r\", nonce=\"open-ended", "open-ended", "", ""},
        {"empty values", "realm=\"\", nonce=\"\", qop=\"\", algorithm=\"\"", "", "", ""},
        {"escapes taken as they are", "realm=\"r\", nonce=\"a\\\"b\"", "a\\", "", ""},
    };
    for (const Case &c : cases) {
        DigestState state{};
        ASSERT_EQ(parse_challenge(c.challenge, &state), 0) << c.name;
        EXPECT_STREQ(state.nonce, c.nonce) << c.name;
        EXPECT_STREQ(state.qop, c.qop) << c.name;
        EXPECT_STREQ(state.algorithm, c.algorithm) << c.name;
    }
}

// algorithm=MD5 without quotes is taken as a directive of its own only:
// at the start, or after a blank, a comma or a tab, up to the next comma,
// blank, CR, LF or the end. The quoted form, wherever it stands, wins.
TEST(DigestChallenge, AnUnquotedAlgorithmIsTakenAsADirectiveOfItsOwn)
{
    struct Case {
        const char *challenge, *algorithm;
    };
    const Case cases[] = {
        {"realm=\"r\", nonce=\"n\", algorithm=MD5", "MD5"},
        {"realm=\"r\", nonce=\"n\",algorithm=MD5-sess,qop=\"auth\"", "MD5-sess"},
        {"realm=\"r\", nonce=\"n\",\talgorithm=MD5-sess\r\nX: y", "MD5-sess"},
        {"realm=\"r\", nonce=\"n\", algorithm=MD5\nX: y", "MD5"},
        {"realm=\"r\", nonce=\"n\", algorithm=MD5 qop=\"auth\"", "MD5"},
        {"algorithm=md5-sess, realm=\"r\", nonce=\"n\"", "md5-sess"},
        {"realm=\"r\", nonce=\"n\", xalgorithm=MD5-sess", ""},
        {"realm=\"r\", nonce=\"n\", xalgorithm=MD5-sess, algorithm=MD5", "MD5"},
        {"realm=\"r\", nonce=\"n\", algorithm=MD5-sess, x=\"algorithm=\"SHA\"", "SHA"},
        {"realm=\"r\", nonce=\"n\", algorithm=\"MD5\", algorithm=MD5-sess", "MD5"},
        {"realm=\"r\", nonce=\"n\", algorithm=", ""},
    };
    for (const Case &c : cases) {
        DigestState state{};
        ASSERT_EQ(parse_challenge(c.challenge, &state), 0) << c.challenge;
        EXPECT_STREQ(state.algorithm, c.algorithm) << c.challenge;
    }
}

TEST_F(DigestRun, TheRequestTargetIsCutAt127Characters)
{
    take("realm=\"r\", nonce=\"n\"");
    const std::string target = "/admin/upgrade?tftp://192.168.0.10:69/" + std::string(150, 'f');
    const std::string line = next_line(target.c_str());
    EXPECT_EQ(std::string(state.digest_uri), target.substr(0, 127));
    const std::string response =
        reference_response({"", "admin", "r", "secret", "n", "29", "", "", target.substr(0, 127), ""});
    EXPECT_EQ(line, "Authorization: Digest username=\"admin\",realm=\"r\",nonce=\"n\",uri=\"" + target.substr(0, 127) +
                        "\",algorithm=\"\",response=\"" + response + "\"\r\n");
}

TEST(DigestLine, EveryFieldAtItsCapacityFillsTheBufferExactly)
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
    state.nonce_count = 0xFFFFFFFFu;
    constexpr size_t kGuard = 32;
    char buffer[kAuthorizationCapacity + kGuard];
    std::memset(buffer, 0x5A, sizeof buffer);
    const int n = build_authorization(&state, std::string(200, '/').c_str(), buffer);
    EXPECT_EQ(n, 947);
    EXPECT_EQ(buffer[946], '\n');
    EXPECT_EQ(buffer[947], '\0');
    for (size_t i = kAuthorizationCapacity; i < sizeof buffer; i++)
        EXPECT_EQ(buffer[i], 0x5A) << "guard byte " << i - kAuthorizationCapacity;
    const std::string response =
        reference_response({std::string(15, 'a'), std::string(127, 'u'), std::string(127, 'r'),
                            std::string(127, 'p'), std::string(127, 'n'), std::string(127, 'c'),
                            std::string(15, 'q'), "0ffffffff", std::string(127, '/'), ""});
    EXPECT_EQ(std::string(buffer, 947),
              "Authorization: Digest username=\"" + std::string(127, 'u') + "\",realm=\"" + std::string(127, 'r') +
                  "\",nonce=\"" + std::string(127, 'n') + "\",uri=\"" + std::string(127, '/') + "\",algorithm=\"" +
                  std::string(15, 'a') + "\",response=\"" + response + "\",opaque=\"" + std::string(127, 'o') +
                  "\",qop=" + std::string(15, 'q') + ",nc=0ffffffff,cnonce=\"" + std::string(127, 'c') + "\"\r\n");
}

} // namespace
