// tests/http/test_runner_sim.cpp: the device request runner against the
// simulated device, one case per kind of digest challenge the device can
// send. Each case is run twice: with the right password typed at the first
// password screen, and with a wrong one first. The simulator's log then
// tells, connection by connection, what the runner sent and what the device
// made of it.
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "tests/tools/sim_process.h"

namespace {

using driver::Event;
using driver::Program;
using simtest::Json;
using simtest::Simulator;

constexpr int kPasswordScreen = 104;
constexpr int kPasswordBox = 1005;
constexpr int kOk = 1;

const std::string kPassword = "s3cret";
const std::string kWrongPassword = "not-s3cret";
const std::string kUser = "admin";    // the simulator's default, and the user box's
const std::string kRealm = "NUV Device";  // the simulator's default realm
const std::string kTarget = "/admin/advanced";

// One connection as the simulator logs it: its verdict on the request, the
// status it answered, and the nonce count the request carried (0: the
// request had no Authorization line).
struct Step {
    const char *auth;
    int status;
    unsigned nc;
};

struct SimCase {
    const char *name;
    std::vector<std::string> challenge;  // the simulator's options for its challenge
    // What the Authorization line must carry.
    const char *qop;        // written unquoted; "": no qop, nc or cnonce part
    const char *algorithm;  // written between quotes, also when empty
    const char *opaque;     // nullptr: no opaque directive
    int calls;              // run_device_request calls in one run
    std::vector<Step> right;        // the right password at the first screen
    std::vector<Step> wrong_first;  // a wrong password, then the right one
};

// Under one nonce the counts go 1, 2, 3 across the requests, through the
// calls and past a refused password.
const std::vector<Step> kRightTwice = {{"missing", 401, 0}, {"ok", 200, 1}, {"ok", 200, 2}};
const std::vector<Step> kWrongFirstTwice = {
    {"missing", 401, 0}, {"wrong-response", 401, 1}, {"ok", 200, 2}, {"ok", 200, 3}};

const SimCase kCases[] = {
    {"no_qop", {}, "", "", nullptr, 2, kRightTwice, kWrongFirstTwice},
    {"qop_auth", {"--qop", "auth"}, "auth", "", nullptr, 2, kRightTwice, kWrongFirstTwice},
    {"qop_auth_and_auth_int", {"--qop", "auth,auth-int"}, "auth,auth-int", "", nullptr, 2, kRightTwice,
     kWrongFirstTwice},
    {"qop_auth_int_upper_case", {"--qop", "AUTH-INT"}, "AUTH-INT", "", nullptr, 2, kRightTwice,
     kWrongFirstTwice},
    {"algorithm_md5_quoted", {"--algorithm", "MD5"}, "", "MD5", nullptr, 2, kRightTwice, kWrongFirstTwice},
    {"algorithm_md5_quoted_with_qop", {"--qop", "auth", "--algorithm", "MD5"}, "auth", "MD5", nullptr, 2,
     kRightTwice, kWrongFirstTwice},
    // The session form needs the client nonce, which only a qop brings.
    {"algorithm_md5_sess", {"--qop", "auth", "--algorithm", "MD5-sess"}, "auth", "MD5-sess", nullptr, 2,
     kRightTwice, kWrongFirstTwice},
    // algorithm=MD5 without quotes is taken as MD5 and written back quoted.
    {"algorithm_md5_unquoted", {"--qop", "auth", "--algorithm", "MD5", "--algorithm-unquoted"}, "auth", "MD5",
     nullptr, 2, kRightTwice, kWrongFirstTwice},
    {"algorithm_md5_sess_unquoted", {"--qop", "auth", "--algorithm", "MD5-sess", "--algorithm-unquoted"},
     "auth", "MD5-sess", nullptr, 2, kRightTwice, kWrongFirstTwice},
    {"no_algorithm_with_qop", {"--qop", "auth"}, "auth", "", nullptr, 2, kRightTwice, kWrongFirstTwice},
    {"opaque_echoed", {"--qop", "auth", "--opaque", "5ccc069c403ebaf9f0171e9517f40e41"}, "auth", "",
     "5ccc069c403ebaf9f0171e9517f40e41", 2, kRightTwice, kWrongFirstTwice},
    {"opaque_empty_left_out", {"--qop", "auth", "--opaque", ""}, "auth", "", nullptr, 2, kRightTwice,
     kWrongFirstTwice},
    {"opaque_without_qop", {"--opaque", "0paque"}, "", "", "0paque", 2, kRightTwice, kWrongFirstTwice},
    // A new nonce in every challenge after the first: the right password
    // never meets one; after a wrong one the runner repeats at once under
    // the new nonce (count 1 again), and only the next refusal, with yet
    // another nonce, brings the password screen back.
    {"nonce_change_every_challenge",
     {"--qop", "auth", "--nonce-change", "challenge"},
     "auth",
     "",
     nullptr,
     2,
     kRightTwice,
     {{"missing", 401, 0},
      {"wrong-response", 401, 1},
      {"wrong-response", 401, 1},
      {"ok", 200, 1},
      {"ok", 200, 2}}},
    // A new nonce after three requests under one: the request that meets it
    // is refused as stale and repeated at once with the count back at 1,
    // without the password screen.
    {"nonce_change_after_requests",
     {"--qop", "auth", "--nonce-change", "requests:3"},
     "auth",
     "",
     nullptr,
     4,
     {{"missing", 401, 0},
      {"ok", 200, 1},
      {"ok", 200, 2},
      {"stale-nonce", 401, 3},
      {"ok", 200, 1},
      {"ok", 200, 2}},
     {{"missing", 401, 0},
      {"wrong-response", 401, 1},
      {"ok", 200, 2},
      {"stale-nonce", 401, 3},
      {"ok", 200, 1},
      {"ok", 200, 2},
      {"stale-nonce", 401, 3},
      {"ok", 200, 1}}},
};

enum class Typing { right, wrong_first };

using Param = std::tuple<SimCase, Typing>;

void PrintTo(const SimCase &c, std::ostream *os) { *os << c.name; }

std::string param_name(const testing::TestParamInfo<Param> &info)
{
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) == Typing::right ? "_right_password" : "_wrong_password_first");
}

// Each case and typing its own pair of loopback addresses, so the cases
// run side by side.
struct Hosts {
    std::string local, device;
};

Hosts hosts_of(const SimCase &c, Typing typing)
{
    int index = 0;
    while (std::string(kCases[index].name) != c.name)
        index++;
    std::string net = typing == Typing::right ? "127.0.21." : "127.0.22.";
    return {net + std::to_string(2 * index + 1), net + std::to_string(2 * index + 2)};
}

std::string nine_digits(unsigned nc)
{
    char text[16];
    std::snprintf(text, sizeof text, "%09x", nc);
    return text;
}

// Stand-ins in an expected line for what differs between runs: the
// response (32 lower-case hexadecimal digits) and the client nonce (1 to
// 4 of them).
constexpr char kResponseDigits = '\x01';
constexpr char kClientNonceDigits = '\x02';

bool is_lower_hex(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'); }

// Whether `line` is `expected`, each stand-in matched by its digits.
bool matches(const std::string &line, const std::string &expected)
{
    size_t at = 0;
    for (char want : expected) {
        if (want == kResponseDigits || want == kClientNonceDigits) {
            size_t most = want == kResponseDigits ? 32 : 4, least = want == kResponseDigits ? 32 : 1;
            size_t n = 0;
            while (n < most && at + n < line.size() && is_lower_hex(line[at + n]))
                n++;
            if (n < least)
                return false;
            at += n;
        } else if (at >= line.size() || line[at++] != want) {
            return false;
        }
    }
    return at == line.size();
}

// The whole Authorization line the runner must send under `nonce`: the
// directives in their order, without blanks, the count as it is.
std::string expected_line(const SimCase &c, const std::string &nonce, unsigned nc)
{
    std::string line = std::string("Authorization: Digest username=\"") + kUser + "\",realm=\"" + kRealm +
                       "\",nonce=\"" + nonce + "\",uri=\"" + kTarget + "\",algorithm=\"" + c.algorithm +
                       "\",response=\"" + kResponseDigits + "\"";
    if (c.opaque != nullptr)
        line += std::string(",opaque=\"") + c.opaque + "\"";
    if (c.qop[0] != '\0')
        line += std::string(",qop=") + c.qop + ",nc=" + nine_digits(nc) + ",cnonce=\"" + kClientNonceDigits +
                "\"";
    return line;
}

std::vector<Json> parse_log(const std::vector<std::string> &lines)
{
    std::vector<Json> records;
    for (const std::string &line : lines) {
        Json record;
        EXPECT_TRUE(simtest::parse_json(line, record)) << line;
        records.push_back(record);
    }
    return records;
}

std::string log_text(const Simulator &sim)
{
    std::string text;
    for (const std::string &line : sim.log_lines())
        text += line + "\n";
    return text;
}

class RunnerSim : public testing::TestWithParam<Param> {};

TEST_P(RunnerSim, GetsThePageAfterThePasswordScreenWithCountsInOrder)
{
    const SimCase &c = std::get<0>(GetParam());
    const Typing typing = std::get<1>(GetParam());
    const std::vector<Step> &steps = typing == Typing::right ? c.right : c.wrong_first;
    Hosts h = hosts_of(c, typing);

    std::filesystem::create_directories(RUNNER_SIM_WORK);
    std::vector<std::string> args = {"--password", kPassword};
    args.insert(args.end(), c.challenge.begin(), c.challenge.end());
    Simulator sim(h.device, args, std::string(RUNNER_SIM_WORK) + "/" + param_name({GetParam(), 0}) + ".log");
    ASSERT_NE(sim.port(), 0u) << sim.ready_line();

    Program p(
        {RUNNER_PROBE, h.local, h.device, std::to_string(sim.port()), kTarget, std::to_string(c.calls)});
    // Every password screen is answered at once, as a person who knows the
    // password would; the result box of each call is taken as it comes.
    int screens = 0;
    std::vector<Event> boxes;
    while (static_cast<int>(boxes.size()) < c.calls) {
        Event e = p.wait_for(
            [](const Event &e) {
                return e.kind == Event::Kind::msgbox ||
                       (e.kind == Event::Kind::open && e.template_id == kPasswordScreen);
            },
            "a password screen or a result box");
        ASSERT_TRUE(e) << p.transcript() << log_text(sim);
        if (e.kind == Event::Kind::msgbox) {
            boxes.push_back(e);
            p.press(e.handle, kOk);
            continue;
        }
        screens++;
        ASSERT_LE(screens, typing == Typing::right ? 1 : 2) << "the password screen came back too often\n"
                                                            << log_text(sim);
        if (typing == Typing::wrong_first && screens == 2) {
            // Back after the wrong password: the device has refused it.
            std::vector<Json> so_far = parse_log(sim.log_lines());
            ASSERT_FALSE(so_far.empty());
            EXPECT_EQ(so_far.back()["auth"].text, "wrong-response") << log_text(sim);
            EXPECT_EQ(so_far.back()["status"].number, 401) << log_text(sim);
        }
        bool wrong = typing == Typing::wrong_first && screens == 1;
        p.type(e.handle, kPasswordBox, wrong ? kWrongPassword : kPassword);
        p.click(e.handle, kOk);
        ASSERT_TRUE(p.wait_close(e.handle));
    }
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_TRUE(p.errors().empty());
    EXPECT_EQ(screens, typing == Typing::right ? 1 : 2);

    std::vector<std::string> lines = sim.log_lines();
    std::vector<Json> log = parse_log(lines);
    ASSERT_EQ(log.size(), steps.size()) << log_text(sim);
    std::string challenge_nonce;  // of the latest 401, the one the runner answers
    std::string last_nonce;       // of the latest authorised request
    unsigned last_nc = 0;
    size_t box = 0;
    for (size_t i = 0; i < log.size(); i++) {
        const Json &record = log[i];
        const Step &step = steps[i];
        SCOPED_TRACE(std::string("connection ") + std::to_string(i + 1) + ": " + lines[i]);
        EXPECT_EQ(record["request_line"].text, std::string("GET ") + kTarget + " HTTP/1.1");
        EXPECT_EQ(record["auth"].text, step.auth);
        EXPECT_EQ(record["status"].number, step.status);
        if (step.nc == 0) {
            EXPECT_EQ(record["authorization"].type, Json::Type::null);
        } else {
            ASSERT_EQ(record["authorization"].type, Json::Type::string);
            const std::string &line = record["authorization"].text;
            EXPECT_TRUE(matches(line, expected_line(c, challenge_nonce, step.nc)))
                << line << "\nexpected (\\x01: the response, \\x02: the client nonce):\n"
                << expected_line(c, challenge_nonce, step.nc);
            // The count goes up by one under one nonce and starts again at
            // 1 under a new one.
            EXPECT_EQ(step.nc, challenge_nonce == last_nonce ? last_nc + 1 : 1u);
            last_nonce = challenge_nonce;
            last_nc = step.nc;
        }
        if (record["status"].number == 401) {
            ASSERT_EQ(record["challenge_nonce"].type, Json::Type::string);
            challenge_nonce = record["challenge_nonce"].text;
        }
        if (step.status == 200) {
            // This call's result: the page's byte count, and the count of
            // its last request.
            ASSERT_LT(box, boxes.size());
            long bytes = static_cast<long>(record["bytes_sent"].number);
            EXPECT_GT(bytes, 0);
            EXPECT_EQ(boxes[box].text, std::string("result=") + std::to_string(bytes) +
                                           " nc=" + std::to_string(step.nc) + " user=" + kUser +
                                           " password=" + kPassword);
            box++;
        }
    }
    EXPECT_EQ(box, boxes.size());
}

INSTANTIATE_TEST_SUITE_P(Challenges, RunnerSim,
                         testing::Combine(testing::ValuesIn(kCases),
                                          testing::Values(Typing::right, Typing::wrong_first)),
                         param_name);

} // namespace
