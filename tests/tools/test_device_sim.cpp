// tests/tools/test_device_sim.cpp: the simulated device's web side, seen from the wire and from its log.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <string>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "http/md5.h"
#include "tests/tools/sim_process.h"

using simtest::Json;
using simtest::Simulator;

namespace {

// ---- digest computed here, from RFC 2617, apart from the simulator's own ----

std::string hex(const unsigned char d[16]) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        out += digits[d[i] >> 4];
        out += digits[d[i] & 15];
    }
    return out;
}

std::string md5_raw(const std::string &data) {
    Md5Context c;
    unsigned char d[16];
    md5_init(&c);
    md5_update(&c, data.data(), data.size());
    md5_final(d, &c);
    return std::string(reinterpret_cast<char *>(d), 16);
}

std::string md5_hex(const std::string &data) {
    std::string raw = md5_raw(data);
    return hex(reinterpret_cast<const unsigned char *>(raw.data()));
}

struct Credentials {
    std::string user = "admin", password = "secret", realm = "NUV Device", nonce = "n0nce1";
    std::string algorithm;  // as the client uses it: "", MD5, MD5-sess
    std::string qop;        // as the client sends it; "" for none
    std::string nc = "00000001", cnonce = "0a4f113b";
};

std::string response_for(const Credentials &c, const std::string &uri) {
    std::string ha1 = md5_hex(c.user + ":" + c.realm + ":" + c.password);
    if (strcasecmp(c.algorithm.c_str(), "md5-sess") == 0)
        ha1 = md5_hex(md5_raw(c.user + ":" + c.realm + ":" + c.password) + ":" + c.nonce + ":" + c.cnonce);
    std::string a2 = "GET:" + uri;
    if (strcasecmp(c.qop.c_str(), "auth-int") == 0) a2 += ":" + md5_hex("");
    std::string ha2 = md5_hex(a2);
    if (c.qop.empty()) return md5_hex(ha1 + ":" + c.nonce + ":" + ha2);
    return md5_hex(ha1 + ":" + c.nonce + ":" + c.nc + ":" + c.cnonce + ":" + c.qop + ":" + ha2);
}

// The line in the upgrader's own form: no blanks, algorithm always quoted,
// qop unquoted and verbatim, nine-digit nc.
std::string system_line(const Credentials &c, const std::string &uri, const std::string &opaque = "") {
    std::string line = "Authorization: Digest username=\"" + c.user + "\",realm=\"" + c.realm + "\",nonce=\"" +
                       c.nonce + "\",uri=\"" + uri + "\",algorithm=\"" + c.algorithm + "\",response=\"" +
                       response_for(c, uri) + "\"";
    if (!opaque.empty()) line += ",opaque=\"" + opaque + "\"";
    if (!c.qop.empty()) line += ",qop=" + c.qop + ",nc=" + c.nc + ",cnonce=\"" + c.cnonce + "\"";
    return line;
}

// ---- reading replies ----

int status_of(const std::string &reply) {
    if (reply.size() < 12 || reply.compare(0, 5, "HTTP/") != 0) return 0;
    return std::atoi(reply.c_str() + 9);
}

// The whole header line that starts with `name`, or "" when none.
std::string header_line(const std::string &reply, const std::string &name) {
    size_t end_of_head = reply.find("\r\n\r\n");
    size_t at = reply.find("\r\n" + name);
    if (at == std::string::npos || at >= end_of_head) return "";
    size_t end = reply.find("\r\n", at + 2);
    return reply.substr(at + 2, end - at - 2);
}

std::string quoted_directive(const std::string &line, const std::string &name) {
    size_t at = line.find(name + "=\"");
    if (at == std::string::npos) return "";
    size_t start = at + name.size() + 2;
    return line.substr(start, line.find('"', start) - start);
}

std::string challenge_nonce(const std::string &reply) {
    return quoted_directive(header_line(reply, "WWW-Authenticate:"), "nonce");
}

// The value after a label as the upgrader finds it: past the tags that
// follow the label, up to the next "<".
std::string scraped(const std::string &page, const std::string &label) {
    size_t at = page.find(label);
    if (at == std::string::npos) return "<absent>";
    at = page.find('>', at);
    while (at != std::string::npos && page[at + 1] == '<') at = page.find('>', at + 1);
    if (at == std::string::npos) return "<absent>";
    return page.substr(at + 1, page.find('<', at + 1) - at - 1);
}

std::string work_dir() {
    mkdir(DEVICE_SIM_WORK, 0755);
    return DEVICE_SIM_WORK;
}

// Each test on an address of its own, so tests can run side by side.
std::string own_address() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    unsigned hash = static_cast<unsigned>(std::hash<std::string>{}(name) % 250) + 1;
    return "127.0.11." + std::to_string(hash);
}

std::string log_path() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char &c : name)
        if (c == '/') c = '_';
    return work_dir() + "/" + name + ".jsonl";
}

std::unique_ptr<Simulator> start(std::vector<std::string> args) {
    auto sim = std::make_unique<Simulator>(own_address(), std::move(args), log_path());
    EXPECT_EQ(sim->ready_line().rfind("listening " + own_address() + ":", 0), 0u) << sim->ready_line();
    return sim;
}

std::vector<Json> log_of(const Simulator &sim) {
    std::vector<Json> entries;
    for (const std::string &line : sim.log_lines()) {
        Json entry;
        EXPECT_TRUE(simtest::parse_json(line, entry)) << line;
        EXPECT_EQ(entry.type, Json::Type::object) << line;
        entries.push_back(entry);
    }
    return entries;
}

const std::vector<std::string> kRfcDevice = {
    "--user", "Mufasa", "--password", "Circle Of Life", "--realm", "testrealm@host.com",
    "--nonce", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "--qop", "auth,auth-int",
    "--opaque", "5ccc069c403ebaf9f0171e9517f40e41"};

Credentials rfc_credentials() {
    Credentials c;
    c.user = "Mufasa";
    c.password = "Circle Of Life";
    c.realm = "testrealm@host.com";
    c.nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
    c.qop = "auth";
    return c;
}

} // namespace

// ---- the information page ----

TEST(InfoPage, CarriesTheFiveLabelsWithTheSetValues) {
    auto sim = start({"--product-name", "NUV-2200", "--mac-address", "000E08A1B2C3", "--software-version",
                      "4.1.12(a)", "--hardware-version", "1.3", "--serial-number", "FM1234567"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    ASSERT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
    struct Row { const char *label, *value; };
    const Row rows[] = {{"Product Name:", "NUV-2200"}, {"MAC Address:", "000E08A1B2C3"},
                        {"Software Version:", "4.1.12(a)"}, {"Hardware Version:", "1.3"},
                        {"Serial Number:", "FM1234567"}};
    for (const Row &row : rows) {
        EXPECT_NE(reply.find(std::string("<tr><td>") + row.label + "</td><td><b>" + row.value + "</b></td></tr>"),
                  std::string::npos) << row.label;
        EXPECT_EQ(scraped(reply, row.label), row.value) << row.label;
    }
    size_t body = reply.find("\r\n\r\n") + 4;
    EXPECT_EQ(header_line(reply, "Content-Length:"), "Content-Length: " + std::to_string(reply.size() - body));
}

TEST(InfoPage, OmittedLabelsAreLeftOutAndTheOthersStay) {
    auto sim = start({"--omit-label", "mac-address", "--omit-label", "serial-number"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(status_of(reply), 200);
    EXPECT_EQ(reply.find("MAC Address:"), std::string::npos);
    EXPECT_EQ(reply.find("Serial Number:"), std::string::npos);
    for (const char *label : {"Product Name:", "Software Version:", "Hardware Version:"})
        EXPECT_NE(scraped(reply, label), "<absent>") << label;
}

TEST(InfoPage, OtherTargetsAreNotFound) {
    auto sim = start({});
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advancedx")), 404);
    EXPECT_EQ(status_of(simtest::get(*sim, "/")), 404);
}

// ---- challenges ----

struct ChallengeCase {
    const char *name;
    std::vector<std::string> args;
    const char *line;
};

void PrintTo(const ChallengeCase &c, std::ostream *os) { *os << c.name; }

class Challenge : public ::testing::TestWithParam<ChallengeCase> {};

TEST_P(Challenge, IsWrittenExactlyAsConfigured) {
    std::vector<std::string> args = {"--password", "secret", "--realm", "NUV Device", "--nonce", "abc123"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    auto sim = start(args);
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(reply.rfind("HTTP/1.1 401 ", 0), 0u) << reply;
    EXPECT_EQ(header_line(reply, "WWW-Authenticate:"), GetParam().line);
    EXPECT_EQ(scraped(reply, "Product Name:"), "<absent>") << "a refused request must not see the page";
}

INSTANTIATE_TEST_SUITE_P(Forms, Challenge, ::testing::Values(
    ChallengeCase{"realm_and_nonce_only", {},
                  "WWW-Authenticate: Digest realm=\"NUV Device\", nonce=\"abc123\""},
    ChallengeCase{"all_quoted", {"--qop", "auth", "--algorithm", "MD5", "--opaque", "5ccc"},
                  "WWW-Authenticate: Digest realm=\"NUV Device\", nonce=\"abc123\", qop=\"auth\", "
                  "algorithm=\"MD5\", opaque=\"5ccc\""},
    ChallengeCase{"unquoted_algorithm", {"--algorithm", "MD5", "--algorithm-unquoted"},
                  "WWW-Authenticate: Digest realm=\"NUV Device\", nonce=\"abc123\", algorithm=MD5"},
    ChallengeCase{"qop_list_and_session", {"--qop", "auth,auth-int", "--algorithm", "MD5-sess"},
                  "WWW-Authenticate: Digest realm=\"NUV Device\", nonce=\"abc123\", qop=\"auth,auth-int\", "
                  "algorithm=\"MD5-sess\""},
    ChallengeCase{"empty_opaque", {"--qop", "auth-int", "--opaque", ""},
                  "WWW-Authenticate: Digest realm=\"NUV Device\", nonce=\"abc123\", qop=\"auth-int\", opaque=\"\""}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- Authorization lines the device takes ----

TEST(Authorization, TheTestsDigestReproducesTheRfc2617Example) {
    Credentials c = rfc_credentials();
    EXPECT_EQ(response_for(c, "/dir/index.html"), "6629fae49393a05397450978507c4ef1");
}

TEST(Authorization, TheRfc2617ExampleLineVerbatimPassesTheCheck) {
    auto sim = start(kRfcDevice);
    const std::string line =
        "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, nc=00000001, "
        "cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\", "
        "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
    // Past the check the device has no such page: 404, not 401.
    EXPECT_EQ(status_of(simtest::get(*sim, "/dir/index.html", line)), 404);
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["auth"].text, "ok");
    EXPECT_EQ(log[0]["authorization"].text, line);
}

struct AcceptCase {
    const char *name;
    std::vector<std::string> device;  // beyond --password secret --nonce n0nce1
    std::string algorithm, qop, opaque, target;
};

void PrintTo(const AcceptCase &c, std::ostream *os) { *os << c.name; }

class Accepted : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(Accepted, ACorrectLineGetsThePage) {
    const AcceptCase &k = GetParam();
    std::vector<std::string> args = {"--password", "secret", "--nonce", "n0nce1"};
    args.insert(args.end(), k.device.begin(), k.device.end());
    auto sim = start(args);
    Credentials c;
    c.algorithm = k.algorithm;
    c.qop = k.qop;
    c.nc = "000000001";
    c.cnonce = "1a2b";
    std::string reply = simtest::get(*sim, k.target, system_line(c, k.target, k.opaque));
    EXPECT_EQ(status_of(reply), 200) << reply;
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["auth"].text, "ok");
}

INSTANTIATE_TEST_SUITE_P(Forms, Accepted, ::testing::Values(
    AcceptCase{"no_qop", {}, "", "", "", "/admin/advanced"},
    AcceptCase{"auth", {"--qop", "auth", "--algorithm", "MD5"}, "MD5", "auth", "", "/admin/advanced"},
    AcceptCase{"offered_list_echoed_whole", {"--qop", "auth,auth-int"}, "", "auth,auth-int", "",
               "/admin/advanced"},
    AcceptCase{"auth_int_empty_body", {"--qop", "auth-int"}, "", "auth-int", "", "/admin/advanced"},
    AcceptCase{"md5_sess", {"--qop", "auth", "--algorithm", "MD5-sess"}, "MD5-sess", "auth", "",
               "/admin/advanced"},
    AcceptCase{"md5_sess_auth_int", {"--qop", "auth-int", "--algorithm", "md5-sess"}, "md5-sess", "auth-int",
               "", "/admin/advanced"},
    AcceptCase{"unquoted_algorithm_read_as_absent", {"--algorithm", "MD5", "--algorithm-unquoted"}, "", "", "",
               "/admin/advanced"},
    AcceptCase{"opaque_returned", {"--qop", "auth", "--opaque", "0pq"}, "", "auth", "0pq", "/admin/advanced"},
    AcceptCase{"empty_opaque_left_out", {"--qop", "auth", "--opaque", ""}, "", "auth", "", "/admin/advanced"},
    AcceptCase{"upgrade_command_with_its_query", {"--qop", "auth"}, "", "auth", "",
               "/admin/upgrade?tftp://127.0.0.1:69/nuv3a7.bi1"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Authorization, RfcValuesOnTheInformationPageGetThePage) {
    auto sim = start(kRfcDevice);
    Credentials c = rfc_credentials();
    std::string line = "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"" +
                       c.nonce + "\", uri=\"/admin/advanced\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", "
                       "response=\"" + response_for(c, "/admin/advanced") +
                       "\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", line)), 200);
}

// ---- Authorization lines the device refuses ----

struct RefuseCase {
    const char *name;
    std::function<std::string()> line;  // for the target /admin/advanced
    const char *verdict;
};

Credentials good() {
    Credentials c;
    c.qop = "auth";
    return c;
}

void PrintTo(const RefuseCase &c, std::ostream *os) { *os << c.name; }

class Refused : public ::testing::TestWithParam<RefuseCase> {};

TEST_P(Refused, GetsANewChallenge) {
    auto sim = start({"--password", "secret", "--nonce", "n0nce1", "--qop", "auth", "--opaque", "0pq"});
    std::string reply = simtest::get(*sim, "/admin/advanced", GetParam().line());
    EXPECT_EQ(status_of(reply), 401) << reply;
    EXPECT_EQ(challenge_nonce(reply), "n0nce1");
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["auth"].text, GetParam().verdict);
    EXPECT_EQ(log[0]["status"].number, 401);
}

INSTANTIATE_TEST_SUITE_P(Faults, Refused, ::testing::Values(
    RefuseCase{"missing", [] { return std::string(); }, "missing"},
    RefuseCase{"basic_scheme", [] { return std::string("Authorization: Basic YWRtaW46c2VjcmV0"); }, "not-digest"},
    RefuseCase{"wrong_password", [] { Credentials c = good(); c.password = "Secret"; return system_line(c, "/admin/advanced", "0pq"); }, "wrong-response"},
    RefuseCase{"wrong_user", [] { Credentials c = good(); c.user = "root"; return system_line(c, "/admin/advanced", "0pq"); }, "wrong-user"},
    RefuseCase{"stale_nonce", [] { Credentials c = good(); c.nonce = "n0nce0"; return system_line(c, "/admin/advanced", "0pq"); }, "stale-nonce"},
    RefuseCase{"uri_differs_from_target", [] { return system_line(good(), "/admin/other", "0pq"); }, "wrong-uri"},
    RefuseCase{"uri_with_a_query_the_target_lacks", [] { return system_line(good(), "/admin/advanced?", "0pq"); }, "wrong-uri"},
    RefuseCase{"qop_not_offered", [] { Credentials c = good(); c.qop = "auth-int"; return system_line(c, "/admin/advanced", "0pq"); }, "wrong-qop"},
    RefuseCase{"qop_left_out", [] { Credentials c = good(); c.qop = ""; return system_line(c, "/admin/advanced", "0pq"); }, "wrong-qop"},
    RefuseCase{"opaque_left_out", [] { return system_line(good(), "/admin/advanced"); }, "wrong-opaque"},
    RefuseCase{"session_algorithm_not_offered", [] { Credentials c = good(); c.algorithm = "MD5-sess"; return system_line(c, "/admin/advanced", "0pq"); }, "wrong-algorithm"},
    RefuseCase{"nc_missing", [] {
        Credentials c = good();
        std::string line = system_line(c, "/admin/advanced", "0pq");
        line.erase(line.find(",nc="), std::strlen(",nc=00000001"));
        return line; }, "missing-nc-cnonce"},
    RefuseCase{"unclosed_quote", [] { return std::string("Authorization: Digest username=\"admin,realm=\"NUV Device\""); }, "malformed"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Authorization, TheTargetOfARefusedUriIsTheOneInTheRequestLine) {
    // The same line is good for its own target and refused for another.
    auto sim = start({"--password", "secret", "--nonce", "n0nce1"});
    Credentials c;
    std::string line = system_line(c, "/admin/advanced");
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", line)), 200);
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/upgrade?tftp://127.0.0.1:69/a.bi1", line)), 401);
}

TEST(Authorization, SessionAlgorithmRefusesAPlainMd5Response) {
    auto sim = start({"--password", "secret", "--nonce", "n0nce1", "--qop", "auth", "--algorithm", "MD5-sess"});
    Credentials c = good();
    c.algorithm = "MD5-sess";
    std::string line = system_line(c, "/admin/advanced");
    // The right directives with the response of plain MD5.
    Credentials plain = c;
    plain.algorithm = "";
    std::string wrong = line;
    wrong.replace(wrong.find(response_for(c, "/admin/advanced")), 32, response_for(plain, "/admin/advanced"));
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", wrong)), 401);
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", line)), 200);
}

// ---- when the nonce changes ----

class NonceKept : public ::testing::TestWithParam<const char *> {};

TEST_P(NonceKept, EveryChallengeCarriesTheSameNonce) {
    auto sim = start({"--password", "secret", "--nonce", "keep1", "--nonce-change", GetParam()});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(challenge_nonce(simtest::get(*sim, "/admin/advanced")), "keep1") << i;
    Credentials c;
    c.nonce = "keep1";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", system_line(c, "/admin/advanced"))), 200) << i;
}

// The flash arrives with the TFTP side; until then "flash" keeps the nonce.
INSTANTIATE_TEST_SUITE_P(Modes, NonceKept, ::testing::Values("never", "flash"));

TEST(Nonce, ChangesWithEveryChallengeAfterTheFirst) {
    auto sim = start({"--password", "secret", "--nonce", "first", "--nonce-change", "challenge"});
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) seen.push_back(challenge_nonce(simtest::get(*sim, "/admin/advanced")));
    EXPECT_EQ(seen[0], "first");
    EXPECT_NE(seen[1], seen[0]);
    EXPECT_NE(seen[2], seen[1]);
    EXPECT_FALSE(seen[2].empty());
    Credentials c;
    c.nonce = seen[0];
    std::string stale = simtest::get(*sim, "/admin/advanced", system_line(c, "/admin/advanced"));
    EXPECT_EQ(status_of(stale), 401);
    std::string latest = challenge_nonce(stale);
    EXPECT_NE(latest, seen[2]);
    c.nonce = latest;
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", system_line(c, "/admin/advanced"))), 200);
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[3]["auth"].text, "stale-nonce");
    EXPECT_EQ(log[3]["challenge_nonce"].text, latest);
    EXPECT_EQ(log[4]["nonce"].text, latest);
}

TEST(Nonce, ChangesAfterNRequests) {
    auto sim = start({"--password", "secret", "--nonce", "first", "--nonce-change", "requests:2"});
    Credentials c;
    c.nonce = "first";
    std::string line = system_line(c, "/admin/advanced");
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", line)), 200);
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", line)), 200);
    std::string third = simtest::get(*sim, "/admin/advanced", line);
    EXPECT_EQ(status_of(third), 401);
    std::string renewed = challenge_nonce(third);
    EXPECT_NE(renewed, "first");
    ASSERT_FALSE(renewed.empty());
    c.nonce = renewed;
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced", system_line(c, "/admin/advanced"))), 200);
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1]["nonce"].text, "first");
    EXPECT_EQ(log[2]["nonce"].text, renewed);
    EXPECT_EQ(log[2]["auth"].text, "stale-nonce");
}

TEST(Nonce, AMadeUpNonceDiffersBetweenRuns) {
    std::string first, second;
    {
        auto sim = start({"--password", "secret"});
        first = challenge_nonce(simtest::get(*sim, "/admin/advanced"));
    }
    {
        auto sim = start({"--password", "secret"});
        second = challenge_nonce(simtest::get(*sim, "/admin/advanced"));
    }
    EXPECT_GE(first.size(), 16u);
    EXPECT_NE(first, second);
}

// ---- the upgrade command ----

TEST(Upgrade, TheCommandIsAnsweredAndItsPartsAreLogged) {
    auto sim = start({});
    const std::string target = "/admin/upgrade?tftp://192.168.0.5:69/nuv3a7.bi1";
    EXPECT_EQ(status_of(simtest::get(*sim, target)), 200);
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 1u);
    const Json &u = log[0]["upgrade"];
    ASSERT_EQ(u.type, Json::Type::object);
    EXPECT_TRUE(u["valid"].boolean);
    EXPECT_EQ(u["address"].text, "192.168.0.5");
    EXPECT_EQ(u["port"].number, 69);
    EXPECT_EQ(u["name"].text, "/nuv3a7.bi1");
    EXPECT_EQ(log[0]["request_line"].text, "GET " + target + " HTTP/1.1");
}

TEST(Upgrade, MalformedCommandsAreRefusedAndLoggedAsSuch) {
    auto sim = start({});
    const char *targets[] = {"/admin/upgrade?tftp://192.168.0.5/nuv1.bi1", "/admin/upgrade?tftp://192.168.0.256:69/n",
                             "/admin/upgrade?tftp://192.168.0.5:69", "/admin/upgrade?tftp://192.168.0.5:70000/n",
                             "/admin/upgrade?http://192.168.0.5:69/n", "/admin/upgrade?tftp://192.168.0.5:69/"};
    for (const char *target : targets) EXPECT_EQ(status_of(simtest::get(*sim, target)), 400) << target;
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), std::size(targets));
    for (const Json &entry : log) EXPECT_FALSE(entry["upgrade"]["valid"].boolean);
}

// ---- faults ----

TEST(Faults, RefuseNeverListens) {
    Simulator sim(own_address(), {"--refuse"}, log_path());
    ASSERT_EQ(sim.ready_line().rfind("refusing " + own_address() + ":", 0), 0u) << sim.ready_line();
    int error = 0;
    EXPECT_EQ(simtest::exchange(sim.address(), sim.port(), "GET / HTTP/1.1\r\n\r\n", &error), "");
    EXPECT_EQ(error, ECONNREFUSED);
}

TEST(Faults, RefuseAfterClosesTheListenerAfterTheNthConnection) {
    auto sim = start({"--refuse-after", "2"});
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced")), 200);
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced")), 200);
    int error = 0;
    simtest::exchange(sim->address(), sim->port(), "GET /admin/advanced HTTP/1.1\r\n\r\n", &error);
    EXPECT_EQ(error, ECONNREFUSED);
}

TEST(Faults, CloseWithoutReplyReadsTheRequestAndSendsNothing) {
    auto sim = start({"--close-without-reply", "--fault-connections", "1"});
    EXPECT_EQ(simtest::get(*sim, "/admin/advanced"), "");
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced")), 200) << "the fault was limited to one connection";
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["request_line"].text, "GET /admin/advanced HTTP/1.1");
    EXPECT_EQ(log[0]["status"].type, Json::Type::null);
    EXPECT_EQ(log[0]["fault"].text, "close-without-reply");
    EXPECT_EQ(log[1]["fault"].type, Json::Type::null);
}

TEST(Faults, BigReplyIsExactly200000BytesWithThePageFirst) {
    auto sim = start({"--big-reply"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(reply.size(), 200000u);
    EXPECT_EQ(status_of(reply), 200);
    size_t body = reply.find("\r\n\r\n") + 4;
    EXPECT_EQ(header_line(reply, "Content-Length:"), "Content-Length: " + std::to_string(reply.size() - body));
    EXPECT_LT(reply.find("Serial Number:"), 131071u) << "the labels must lie within what the upgrader keeps";
    EXPECT_EQ(scraped(reply, "Serial Number:"), "SN0123456789");
}

TEST(Faults, HttpVersionChangesTheStatusLine) {
    auto sim = start({"--http-version", "HTTP/1.0"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << reply;
    EXPECT_EQ(scraped(reply, "Product Name:"), "NUV-2200");
}

TEST(Faults, ChallengeWithoutHeader) {
    auto sim = start({"--bad-challenge", "no-header"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(status_of(reply), 401);
    EXPECT_EQ(reply.find("WWW-Authenticate"), std::string::npos);
}

TEST(Faults, ChallengeWithoutNonce) {
    auto sim = start({"--password", "secret", "--realm", "R1", "--bad-challenge", "no-nonce"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(status_of(reply), 401);
    EXPECT_EQ(header_line(reply, "WWW-Authenticate:"), "WWW-Authenticate: Digest realm=\"R1\"");
    EXPECT_EQ(reply.find("nonce="), std::string::npos);
}

struct NulCase {
    const char *name;
    const char *where;
    const char *label;  // the value that carries the NUL; null: the head does
};

void PrintTo(const NulCase &c, std::ostream *os) { *os << c.name; }

class NulInReply : public ::testing::TestWithParam<NulCase> {};

TEST_P(NulInReply, PutsOneNulByteWhereAsked) {
    const NulCase &c = GetParam();
    auto sim = start({"--nul-in-reply", c.where, "--fault-connections", "1"});
    std::string reply = simtest::get(*sim, "/admin/advanced");
    EXPECT_EQ(status_of(reply), 200);
    ASSERT_EQ(std::count(reply.begin(), reply.end(), '\0'), 1) << "one NUL byte, no more";
    size_t nul = reply.find('\0');
    size_t body = reply.find("\r\n\r\n") + 4;
    EXPECT_EQ(header_line(reply, "Content-Length:"), "Content-Length: " + std::to_string(reply.size() - body))
        << "the length counts the NUL";
    if (c.label == nullptr) {
        EXPECT_LT(nul, body);
        EXPECT_EQ(header_line(reply, "Server:"), std::string("Server: NUV\0-HTTPD", 18));
    } else {
        EXPECT_GT(nul, body);
        EXPECT_EQ(reply.rfind(c.label, nul) + std::strlen(c.label) + std::strlen("</td><td><b>") + 6, nul)
            << "in the middle of the 12-character value";
    }
    // With the NUL taken out the page is the usual one.
    std::string without = reply;
    without.erase(nul, 1);
    EXPECT_EQ(scraped(without, "Serial Number:"), "SN0123456789");
    EXPECT_EQ(scraped(without, "MAC Address:"), "000E08A1B2C3");
    EXPECT_EQ(simtest::get(*sim, "/admin/advanced").find('\0'), std::string::npos)
        << "the fault was limited to one connection";
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["fault"].text, "nul-in-reply");
    EXPECT_EQ(log[0]["bytes_sent"].number, static_cast<double>(reply.size()));
    EXPECT_EQ(log[1]["fault"].type, Json::Type::null);
}

INSTANTIATE_TEST_SUITE_P(Places, NulInReply, ::testing::Values(
    NulCase{"head", "head", nullptr},
    NulCase{"serial_number", "serial-number", "Serial Number:"},
    NulCase{"mac_address", "mac-address", "MAC Address:"}),
    [](const auto &info) { return std::string(info.param.name); });

// A client of our own that reads for a while without waiting for the end.
struct OpenConnection {
    int fd = -1;
    ~OpenConnection() { if (fd >= 0) close(fd); }
};

// Bytes received within `ms`; *closed tells whether the peer closed.
std::string read_for(int fd, int ms, bool *closed) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    *closed = false;
    while (std::chrono::steady_clock::now() < end) {
        timeval limit{0, 20000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char chunk[1024];
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n == 0) {
            *closed = true;
            break;
        }
        if (n > 0) got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

TEST(Faults, EndlessReplyKeepsSendingUntilTheClientCloses) {
    auto sim = start({"--endless-reply", "--fault-connections", "1"});
    OpenConnection c;
    c.fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(sim->port()));
    inet_pton(AF_INET, sim->address().c_str(), &peer.sin_addr);
    ASSERT_EQ(connect(c.fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer), 0) << std::strerror(errno);
    std::string request = "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n";
    ASSERT_EQ(send(c.fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    bool closed = false;
    std::string first = read_for(c.fd, 400, &closed);
    ASSERT_FALSE(closed);
    EXPECT_EQ(first.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << first;
    EXPECT_EQ(header_line(first, "Content-Length:"), "") << "no length: the end never comes";
    std::string more = read_for(c.fd, 600, &closed);
    EXPECT_FALSE(closed) << "still open after a second";
    EXPECT_GE(more.size(), 3u) << "a byte every tenth of a second";
    EXPECT_EQ(more.find_first_not_of('.'), std::string::npos) << more;
    close(c.fd);
    c.fd = -1;
    // The device notices the client has gone and serves the next one.
    EXPECT_EQ(status_of(simtest::get(*sim, "/admin/advanced")), 200);
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["fault"].text, "endless-reply");
    EXPECT_GE(log[0]["bytes_sent"].number, static_cast<double>(first.size() + more.size()));
    EXPECT_EQ(log[1]["fault"].type, Json::Type::null);
}

TEST(Faults, EndlessReplyEndsOnTheStopSignal) {
    auto sim = start({"--endless-reply"});
    OpenConnection c;
    c.fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(sim->port()));
    inet_pton(AF_INET, sim->address().c_str(), &peer.sin_addr);
    ASSERT_EQ(connect(c.fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer), 0) << std::strerror(errno);
    std::string request = "GET /admin/advanced HTTP/1.1\r\n\r\n";
    send(c.fd, request.data(), request.size(), MSG_NOSIGNAL);
    bool closed = false;
    EXPECT_FALSE(read_for(c.fd, 300, &closed).empty());
    EXPECT_EQ(sim->stop(SIGTERM, 2000), 0) << "a client that never closes must not keep the device up";
}

// ---- the log ----

TEST(Log, EveryConnectionIsOneJsonObjectWithItsFields) {
    auto sim = start({"--password", "secret", "--nonce", "n0nce1"});
    simtest::get(*sim, "/admin/advanced");
    Credentials c;
    std::string line = system_line(c, "/admin/advanced");
    simtest::get(*sim, "/admin/advanced", line);
    simtest::exchange(sim->address(), sim->port(), "");  // a connection without a request
    simtest::get(*sim, "/admin/a\"b\\c\x01");                // bytes that JSON must escape
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 4u);
    for (size_t i = 0; i < log.size(); ++i) {
        for (const char *field : {"connection", "peer", "request_line", "authorization", "status", "nonce", "upgrade"})
            EXPECT_TRUE(log[i].has(field)) << i << " " << field;
        EXPECT_EQ(log[i]["connection"].number, static_cast<double>(i + 1));
    }
    EXPECT_EQ(log[0]["request_line"].text, "GET /admin/advanced HTTP/1.1");
    EXPECT_EQ(log[0]["authorization"].type, Json::Type::null);
    EXPECT_EQ(log[0]["status"].number, 401);
    EXPECT_EQ(log[0]["nonce"].text, "n0nce1");
    EXPECT_EQ(log[0]["host"].text, "192.168.2.110");
    EXPECT_EQ(log[1]["authorization"].text, line);
    EXPECT_EQ(log[1]["status"].number, 200);
    EXPECT_EQ(log[2]["request_line"].type, Json::Type::null);
    EXPECT_EQ(log[2]["status"].type, Json::Type::null);
    EXPECT_EQ(log[3]["request_line"].text, "GET /admin/a\"b\\c\x01 HTTP/1.1");
}

TEST(Log, AnUnprotectedDeviceLogsNoNonce) {
    auto sim = start({});
    simtest::get(*sim, "/admin/advanced");
    std::vector<Json> log = log_of(*sim);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["nonce"].type, Json::Type::null);
    EXPECT_EQ(log[0]["auth"].type, Json::Type::null);
    EXPECT_EQ(log[0]["status"].number, 200);
}

// ---- the program ----

TEST(Program, HelpListsEveryOption) {
    simtest::Finished run = simtest::run_to_end({"--help"}, 5000);
    EXPECT_EQ(run.status, 0);
    for (const char *option : {"--address", "--port", "--log", "--max-seconds", "--product-name", "--mac-address",
                               "--software-version", "--hardware-version", "--serial-number", "--omit-label",
                               "--password", "--user", "--realm", "--qop", "--algorithm", "--algorithm-unquoted",
                               "--opaque", "--nonce", "--nonce-change", "--refuse", "--refuse-after",
                               "--close-without-reply", "--big-reply", "--http-version", "--bad-challenge",
                               "--nul-in-reply", "--endless-reply", "--fault-connections", "--help"})
        EXPECT_NE(run.out.find(std::string("  ") + option + " "), std::string::npos) << option;
}

struct BadOptionCase {
    const char *name;
    std::vector<std::string> args;
    const char *mentioned;
};

void PrintTo(const BadOptionCase &c, std::ostream *os) { *os << c.name; }

class BadOption : public ::testing::TestWithParam<BadOptionCase> {};

TEST_P(BadOption, ExitsWith2AndSaysWhy) {
    simtest::Finished run = simtest::run_to_end(GetParam().args, 5000);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(GetParam().mentioned), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BadOption, ::testing::Values(
    BadOptionCase{"unknown", {"--colour", "red"}, "--colour"},
    BadOptionCase{"port_too_big", {"--port", "65536"}, "--port"},
    BadOptionCase{"value_missing", {"--address"}, "--address"},
    BadOptionCase{"address_short", {"--address", "127.0.11"}, "127.0.11"},
    BadOptionCase{"nonce_change_unknown", {"--nonce-change", "sometimes"}, "--nonce-change"},
    BadOptionCase{"nonce_requests_zero", {"--nonce-change", "requests:0"}, "--nonce-change"},
    BadOptionCase{"qop_without_password", {"--qop", "auth"}, "--password"},
    BadOptionCase{"label_unknown", {"--omit-label", "colour"}, "--omit-label"},
    BadOptionCase{"value_with_tag", {"--product-name", "a<b"}, "--product-name"},
    BadOptionCase{"nul_place_unknown", {"--nul-in-reply", "body"}, "--nul-in-reply"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Program, ListensOnTheGivenPort) {
    Simulator sim("127.0.11.251", {"--port", "28251"}, "");
    EXPECT_EQ(sim.ready_line(), "listening 127.0.11.251:28251");
    EXPECT_EQ(status_of(simtest::get(sim, "/admin/advanced")), 200);
}

TEST(Program, EndsOnTermAndInterrupt) {
    for (int signal : {SIGTERM, SIGINT}) {
        Simulator sim(own_address(), {}, "");
        ASSERT_EQ(sim.ready_line().rfind("listening", 0), 0u);
        EXPECT_EQ(sim.stop(signal, 3000), 0) << signal;
    }
}

TEST(Program, EndsByItselfAfterMaxSeconds) {
    // The harness passes --max-seconds 60; a later one wins.
    Simulator sim(own_address(), {"--max-seconds", "1"}, "");
    ASSERT_EQ(sim.ready_line().rfind("listening", 0), 0u);
    EXPECT_EQ(sim.stop(0, 4000), 0);
}
