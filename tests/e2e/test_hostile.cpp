// tests/e2e/test_hostile.cpp: whole runs against a simulated device whose web
// server answers in hostile ways (huge, unlabelled, overlong, broken or
// endless replies), each ending in what a person should see: the right
// failure box or a clean, correct upgrade.
#include <fstream>
#include <iterator>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "tests/e2e/sanitizer_reports.h"
#include "tests/tools/sim_process.h"

namespace {

using driver::Dump;
using driver::Event;
using driver::Limit;
using driver::Program;
using simtest::Json;
using simtest::Simulator;

constexpr int kWarning = 139, kPhoneAddress = 305, kAdapterAddress = 101, kConfirm = 103,
              kConnecting = 105, kPassword = 104, kWaiting = 114, kSuccess = 111;
constexpr int kOk = 1, kCancel = 2;
constexpr int kAddressBox = 1000, kSerial = 1002, kMac = 1003, kSoftware = 1004,
              kHardware = 1005, kProduct = 1006, kUserBox = 1003, kPasswordBox = 1005;
constexpr const char *kFailureCaption = "NUV Firwmare Upgrade Error";
constexpr const char *kUserAbort = "Upgrade Failed: User Abort";
constexpr Limit kLong{30000};

std::string file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The five texts of the confirm screen, in the page's order.
struct Shown {
    std::string product, mac, software, hardware, serial;
};

const Shown kEmpty{"", "", "", "", ""};

// The page the simulated device serves unless a case says otherwise.
const Shown kPage{"NUV-730", "00:0E:08:12:34:56", "4.0.3(b)", "2.1", "FM5000123456"};

std::vector<std::string> page_args(const Shown &page)
{
    return {"--product-name", page.product,   "--mac-address",      page.mac,
            "--software-version", page.software, "--hardware-version", page.hardware,
            "--serial-number", page.serial};
}

// How the run ends, and what the person does on the way.
enum class Ending {
    success,              // confirm, delivery, the success screen
    version_not_matching, // confirm, delivery, the version check's failure box
    cancel_at_confirm,    // Cancel on the confirm screen
    cancel_at_waiting,    // Upgrade, then Cancel while the device never asks for the image
    cancel_at_password,   // the right password, the screen again, Cancel
    cancel_at_connecting, // the reply never ends: Cancel on the connecting screen
};

struct HostileCase {
    const char *label;
    int host;                       // 127.0.9x.y: each case its own addresses
    bool adapter;                   // the adapter program, which checks the version
    std::vector<std::string> args;  // faults and settings beside the page
    Shown page;                     // what the device's page says
    const Shown *confirm;           // what the confirm screen shows; null: no confirm screen
    Ending ending;
};

std::string address(int n, int k)
{
    return "127.0.9" + std::to_string(n / 50) + "." + std::to_string((n % 50) * 5 + k);
}

std::string work_path(const std::string &name)
{
    return std::string(E2E_WORK) + "/" + name;
}

std::vector<Json> connections(const Simulator &sim)
{
    std::vector<Json> out;
    for (const std::string &line : sim.log_lines()) {
        Json record;
        if (!simtest::parse_json(line, record)) {
            ADD_FAILURE() << "not JSON: " << line;
            continue;
        }
        if (record.has("connection"))
            out.push_back(record);
    }
    return out;
}

bool any_upgrade_command(const Simulator &sim)
{
    for (const Json &c : connections(sim))
        if (c["upgrade"].type == Json::Type::object)
            return true;
    return false;
}

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.label; }

class HostileDevice : public ::testing::TestWithParam<HostileCase> {};

void expect_failure_box(Program &p, const std::string &text, Limit limit = kLong)
{
    Event box = p.wait_msgbox(limit);
    EXPECT_EQ(box.caption, kFailureCaption);
    EXPECT_EQ(box.text, text);
    p.press(box.handle, kOk);
}

TEST_P(HostileDevice, EndsAsAPersonShouldSeeIt)
{
    const HostileCase &c = GetParam();
    std::string pc = address(c.host, 1), device = address(c.host, 4);
    std::string image_out = work_path(std::string("hostile_") + c.label + ".image");
    std::string log = work_path(std::string("hostile_") + c.label + ".log");
    std::remove(image_out.c_str());
    std::remove(log.c_str());
    std::vector<std::string> args = {"--port", "80", "--flash-seconds", "0.1",
                                     "--fetch-delay-ms", "50", "--image-out", image_out};
    std::vector<std::string> page = page_args(c.page);
    args.insert(args.end(), page.begin(), page.end());
    args.insert(args.end(), c.args.begin(), c.args.end());
    Simulator sim(device, args, log);
    Program p({c.adapter ? NUV_UPGRADE_ADAPTER : NUV_UPGRADE},
              {{"NUV_HOST_ADDRESSES", pc}, {"NUV_CLOCK_SCALE", "100"}});

    Event warning = p.wait_open(kWarning);
    p.click(warning.handle, kOk);
    Event address_screen = p.wait_open(c.adapter ? kAdapterAddress : kPhoneAddress);
    p.type(address_screen.handle, kAddressBox, device);
    p.click(address_screen.handle, kOk);

    if (c.ending == Ending::cancel_at_connecting) {
        Event connecting = p.wait_open(kConnecting);
        // The device keeps sending: the screen stays up, with nothing else.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_FALSE(p.queued([&](const Event &e) {
            return e.kind == Event::Kind::msgbox || e.kind == Event::Kind::exit ||
                   (e.kind == Event::Kind::close && e.handle == connecting.handle) ||
                   (e.kind == Event::Kind::open && e.template_id != kConnecting);
        })) << p.transcript();
        p.click(connecting.handle, kCancel);
        expect_failure_box(p, kUserAbort);
    } else if (c.ending == Ending::cancel_at_password) {
        Event first = p.wait_open(kPassword);
        p.type(first.handle, kUserBox, "admin");
        p.type(first.handle, kPasswordBox, "s3cret");
        p.click(first.handle, kOk);
        // The device refuses the line made from its cut nonce, so the
        // password is asked for again.
        Event again = p.wait_open(kPassword);
        p.click(again.handle, kCancel);
        expect_failure_box(p, kUserAbort);
    }

    if (c.confirm != nullptr) {
        Event confirm = p.wait_open(kConfirm);
        Dump shown = p.dump(confirm.handle);
        EXPECT_EQ(shown.control(kProduct).text, c.confirm->product);
        EXPECT_EQ(shown.control(kMac).text, c.confirm->mac);
        EXPECT_EQ(shown.control(kSoftware).text, c.confirm->software);
        EXPECT_EQ(shown.control(kHardware).text, c.confirm->hardware);
        EXPECT_EQ(shown.control(kSerial).text, c.confirm->serial);
        EXPECT_FALSE(p.queued([](const Event &e) { return e.template_id == kPassword; }))
            << "no usable challenge: no password is asked for";
        if (c.ending == Ending::cancel_at_confirm) {
            p.click(confirm.handle, kCancel);
            expect_failure_box(p, kUserAbort);
        } else {
            p.click(confirm.handle, kOk);
        }
    }

    switch (c.ending) {
    case Ending::success: {
        Event done = p.wait_open(kSuccess, kLong);
        p.dump(done.handle);
        p.click(done.handle, kOk);
        break;
    }
    case Ending::version_not_matching:
        expect_failure_box(p, "Upgrade Failed: Version not matching");
        break;
    case Ending::cancel_at_waiting: {
        Event waiting = p.wait_open(kWaiting, kLong);
        // Long enough for the device to have fetched had it taken the command.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        p.click(waiting.handle, kCancel);
        expect_failure_box(p, kUserAbort);
        break;
    }
    default:
        break;
    }
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_TRUE(p.errors().empty()) << p.errors().front();
    EXPECT_EQ(e2e::sanitizer_report(e2e::settled_error_output(p)), "");

    // What the device saw: an image only after a confirmed upgrade that it
    // took, and no upgrade command after a Cancel before it.
    bool delivered = c.ending == Ending::success || c.ending == Ending::version_not_matching;
    if (delivered) {
        EXPECT_EQ(file_bytes(image_out),
                  file_bytes(c.adapter ? NUV_ADAPTER_IMAGE : NUV_RELEASE_IMAGE));
    } else {
        EXPECT_EQ(file_bytes(image_out), "") << "nothing fetched";
    }
    if (c.ending == Ending::cancel_at_confirm || c.ending == Ending::cancel_at_password ||
        c.ending == Ending::cancel_at_connecting) {
        EXPECT_FALSE(any_upgrade_command(sim));
    }
}

std::string repeated(char c, size_t n)
{
    return std::string(n, c);
}

const Shown kLongPage{repeated('P', 200), repeated('M', 200), repeated('S', 200),
                      repeated('H', 200), repeated('N', 200)};
// Cut at 127 characters, as the device texts hold.
const Shown kLongShown{repeated('P', 127), repeated('M', 127), repeated('S', 127),
                       repeated('H', 127), repeated('N', 127)};
// A NUL in the middle of the serial number ends the reply's text there:
// the values before it are whole, the serial number is its first half.
const Shown kCutSerial{kPage.product, kPage.mac, kPage.software, kPage.hardware, "FM5000"};

INSTANTIATE_TEST_SUITE_P(
    Replies, HostileDevice,
    ::testing::Values(
        // 200,000 bytes with the page first: the first 131,071 are read
        // and the labels lie within them.
        HostileCase{"big_reply", 1, false, {"--big-reply"}, kPage, &kPage, Ending::success},
        // No labels: empty boxes, and after the flash the adapter's version
        // cannot be confirmed.
        HostileCase{"no_labels", 2, true,
                    {"--omit-label", "product-name", "--omit-label", "mac-address",
                     "--omit-label", "software-version", "--omit-label", "hardware-version",
                     "--omit-label", "serial-number"},
                    kPage, &kEmpty, Ending::version_not_matching},
        HostileCase{"values_of_200_characters", 3, false, {}, kLongPage, &kLongShown,
                    Ending::success},
        // A nonce longer than the 127 characters kept: the line carries the
        // cut nonce, the device refuses it and the password is asked again.
        HostileCase{"nonce_of_200_characters", 4, false,
                    {"--password", "s3cret", "--qop", "auth", "--nonce", repeated('n', 200)},
                    kPage, nullptr, Ending::cancel_at_password},
        // A 401 without a usable challenge is no demand for a password: its
        // page, which has no labels, is shown; the device refuses the
        // command too and never asks for the image.
        HostileCase{"challenge_without_header", 5, false, {"--bad-challenge", "no-header"}, kPage,
                    &kEmpty, Ending::cancel_at_waiting},
        HostileCase{"challenge_without_nonce", 6, false,
                    {"--password", "s3cret", "--bad-challenge", "no-nonce"}, kPage, &kEmpty,
                    Ending::cancel_at_confirm},
        // A NUL byte in the head hides the whole page.
        HostileCase{"nul_in_the_head", 7, false, {"--nul-in-reply", "head"}, kPage, &kEmpty,
                    Ending::cancel_at_confirm},
        HostileCase{"nul_in_a_value", 8, false, {"--nul-in-reply", "serial-number"}, kPage,
                    &kCutSerial, Ending::success},
        HostileCase{"reply_that_never_ends", 9, false, {"--endless-reply"}, kPage, nullptr,
                    Ending::cancel_at_connecting}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return info.param.label; });

// The device's view of the 200-character nonce: the upgrader's line
// carries its first 127 characters, which no device can accept.
TEST(HostileNonce, TheLineCarriesTheFirst127Characters)
{
    std::string pc = address(20, 1), device = address(20, 4);
    std::string log = work_path("hostile_nonce_line.log");
    std::remove(log.c_str());
    std::string nonce = repeated('n', 100) + repeated('z', 100);
    Simulator sim(device, {"--port", "80", "--password", "s3cret", "--nonce", nonce}, log);
    Program p({NUV_UPGRADE}, {{"NUV_HOST_ADDRESSES", pc}, {"NUV_CLOCK_SCALE", "100"}});
    p.click(p.wait_open(kWarning).handle, kOk);
    Event address_screen = p.wait_open(kPhoneAddress);
    p.type(address_screen.handle, kAddressBox, device);
    p.click(address_screen.handle, kOk);
    Event password = p.wait_open(kPassword);
    p.type(password.handle, kUserBox, "admin");
    p.type(password.handle, kPasswordBox, "s3cret");
    p.click(password.handle, kOk);
    p.click(p.wait_open(kPassword).handle, kCancel);
    expect_failure_box(p, kUserAbort);
    EXPECT_EQ(p.wait_exit(), 0);

    std::vector<Json> seen = connections(sim);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0]["authorization"].type, Json::Type::null);
    const std::string &line = seen[1]["authorization"].text;
    EXPECT_NE(line.find(",nonce=\"" + nonce.substr(0, 127) + "\","), std::string::npos) << line;
    EXPECT_NE(seen[1]["auth"].text, "ok");
    EXPECT_EQ(seen[1]["status"].number, 401);
}

} // namespace
