// tests/e2e/test_upgrade.cpp: whole upgrades of the simulated device by the
// native programs, screen by screen as a person meets them, with what
// crossed the wire read back from the simulator's log.
#include <fstream>
#include <iterator>
#include <cstdio>
#include <memory>
#include <string>
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
              kTransitionConfirm = 304, kConnecting = 105, kPassword = 104, kWaiting = 114,
              kUpload = 110, kSuccess = 111;
constexpr int kOk = 1;
constexpr int kAddressBox = 1000, kUpgradeLine = 1007, kInstructions = 1008, kVersionLine = 1015,
              kLocalAddresses = 1017, kSerial = 1002, kMac = 1003, kSoftware = 1004,
              kHardware = 1005, kProduct = 1006, kConfirmText = 1007, kUserBox = 1003,
              kPasswordBox = 1005;
constexpr const char *kFailureCaption = "NUV Firwmare Upgrade Error";
// The flash wait of 30 s runs 100 times faster; the device flashes for
// less than that, so the re-query meets it back.
constexpr const char *kClockScale = "100";
constexpr Limit kLong{30000};

const char kPhoneInstructions[] =
    "To proceed, please provide the IP address\r\nof your NUV. To find out the IP address of\r\n"
    "your NUV, press the I button on the phone,\r\nselect \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n\r\nPlease enter IP address of your NUV:";
const char kConfirmMessage[] =
    "The following information was extracted\r\nfrom your NUV. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\nlike to quit click \"Cancel\".";

// The device's page, as the simulator is told to serve it.
struct Page {
    std::string product = "NUV-730", mac = "00:0E:08:12:34:56", software = "4.0.3(b)",
                hardware = "2.1", serial = "FM5000123456";
    std::vector<std::string> args() const
    {
        return {"--product-name", product, "--mac-address", mac, "--software-version", software,
                "--hardware-version", hardware, "--serial-number", serial};
    }
};

// Each test its own loopback addresses: up to three for the PC, one for
// the device.
struct Hosts {
    std::string pc, pc2, pc3, device;
    explicit Hosts(int n)
        : pc(address(n, 1)), pc2(address(n, 2)), pc3(address(n, 3)), device(address(n, 4))
    {
    }
    static std::string address(int n, int k) { return "127.0.6" + std::to_string(n / 50) + "." + std::to_string((n % 50) * 5 + k); }
};

std::string work_path(const std::string &name)
{
    return std::string(E2E_WORK) + "/" + name;
}

std::string file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Json> records(const Simulator &sim, const char *what)
{
    std::vector<Json> out;
    for (const std::string &line : sim.log_lines()) {
        Json record;
        if (!simtest::parse_json(line, record)) {
            ADD_FAILURE() << "not JSON: " << line;
            continue;
        }
        bool connection = record.has("connection");
        bool wanted = std::string(what) == "connection"
                          ? connection
                          : record.has("event") && record["event"].text == what;
        if (wanted)
            out.push_back(record);
    }
    return out;
}

// The simulator on port 80 of the device's address, and the program with
// the PC's addresses; the simulator first, so the program finds it up.
class Upgrade {
public:
    Upgrade(const char *program, const Hosts &hosts, const std::string &label,
            std::vector<std::string> sim_args, std::vector<std::string> pc_addresses = {})
        : hosts_(hosts), image_out_(work_path(label + ".image")), log_(work_path(label + ".log"))
    {
        std::remove(image_out_.c_str());
        std::remove(log_.c_str());
        std::vector<std::string> args = {"--port", "80", "--flash-seconds", "0.1",
                                         "--fetch-delay-ms", "50", "--image-out", image_out_};
        args.insert(args.end(), sim_args.begin(), sim_args.end());
        sim_ = std::make_unique<Simulator>(hosts.device, args, log_);
        if (pc_addresses.empty())
            pc_addresses = {hosts.pc};
        std::string list;
        for (const std::string &a : pc_addresses)
            list += (list.empty() ? "" : ",") + a;
        program_ = std::make_unique<Program>(
            std::vector<std::string>{program},
            std::vector<std::pair<std::string, std::string>>{{"NUV_HOST_ADDRESSES", list},
                                                             {"NUV_CLOCK_SCALE", kClockScale}});
    }

    // A sanitizer report in the program need not change its exit status.
    ~Upgrade() { EXPECT_EQ(e2e::sanitizer_report(e2e::settled_error_output(*program_)), ""); }
    Upgrade(const Upgrade &) = delete;
    Upgrade &operator=(const Upgrade &) = delete;

    Program &p() { return *program_; }
    Simulator &sim() { return *sim_; }
    const Hosts &hosts() const { return hosts_; }
    std::string received_image() const { return file_bytes(image_out_); }

    // Warning and address screens; returns the address screen's dump.
    Dump enter_address(int address_template, int pick = 0)
    {
        Event warning = p().wait_open(kWarning);
        p().click(warning.handle, kOk);
        Event address = p().wait_open(address_template);
        Dump screen = p().dump(address.handle);
        if (pick != 0)
            p().select(address.handle, kLocalAddresses, pick);
        p().type(address.handle, kAddressBox, hosts_.device);
        p().click(address.handle, kOk);
        return screen;
    }

    void answer_password(const std::string &user, const std::string &password)
    {
        Event screen = p().wait_open(kPassword);
        p().type(screen.handle, kUserBox, user);
        p().type(screen.handle, kPasswordBox, password);
        p().click(screen.handle, kOk);
    }

    Dump confirm(int confirm_template)
    {
        Event screen = p().wait_open(confirm_template);
        Dump shown = p().dump(screen.handle);
        p().click(screen.handle, kOk);
        return shown;
    }

    // Through the delivery to the success screen; its dump.
    Dump success()
    {
        Event screen = p().wait_open(kSuccess, kLong);
        Dump shown = p().dump(screen.handle);
        p().click(screen.handle, kOk);
        return shown;
    }

private:
    Hosts hosts_;
    std::string image_out_, log_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Program> program_;
};

// The upgrade commands the device received, in order.
std::vector<Json> upgrade_commands(const Simulator &sim)
{
    std::vector<Json> out;
    for (const Json &c : records(sim, "connection"))
        if (c["upgrade"].type == Json::Type::object)
            out.push_back(c);
    return out;
}

// Whether `name` is "/nuv", one to four lower-case hexadecimal digits, and
// ".bi" with `suffix`: the form of the file names the program draws.
bool is_file_name(const std::string &name, char suffix)
{
    const std::string head = "/nuv", tail = std::string(".bi") + suffix;
    if (name.size() < head.size() + 1 + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    return digits.size() <= 4 &&
           digits.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(Upgrade, ReleaseProgramUpgradesAPhoneWithoutPassword)
{
    Hosts hosts(1);
    Page page;
    Upgrade u(NUV_UPGRADE, hosts, "release", page.args(), {hosts.pc, hosts.pc2});
    Program &p = u.p();

    Event warning = p.wait_open(kWarning);
    EXPECT_EQ(p.dump(warning.handle).caption, "NUV-730/720 Firmware Upgrade");
    p.click(warning.handle, kOk);
    Event address = p.wait_open(kPhoneAddress);
    Dump screen = p.dump(address.handle);
    EXPECT_EQ(screen.caption, "NUV-730/720 Firmware Upgrade");
    EXPECT_EQ(screen.control(kVersionLine).text, "Version 4.1.12(a)");
    EXPECT_EQ(screen.control(kUpgradeLine).text, "This program will upgrade your NUV\r\nfirmware to:");
    EXPECT_EQ(screen.control(kInstructions).text, kPhoneInstructions);
    EXPECT_EQ(screen.control(kLocalAddresses).items,
              (std::vector<std::string>{hosts.pc, hosts.pc2}));
    EXPECT_EQ(screen.control(kLocalAddresses).selection, 0);
    p.type(address.handle, kAddressBox, hosts.device);
    p.click(address.handle, kOk);

    Event connecting = p.wait_open(kConnecting);
    p.wait_close(connecting.handle);
    Event confirm = p.wait_open(kConfirm);
    Dump shown = p.dump(confirm.handle);
    EXPECT_EQ(shown.caption, "Confirm Upgrade to Ver. 4.1.12(a)");
    EXPECT_EQ(shown.control(kConfirmText).text, kConfirmMessage);
    EXPECT_EQ(shown.control(kSerial).text, page.serial);
    EXPECT_EQ(shown.control(kMac).text, page.mac);
    EXPECT_EQ(shown.control(kSoftware).text, page.software);
    EXPECT_EQ(shown.control(kHardware).text, page.hardware);
    EXPECT_EQ(shown.control(kProduct).text, page.product);
    p.click(confirm.handle, kOk);

    Event waiting = p.wait_open(kWaiting);
    Event upload = p.wait_open(kUpload, kLong);
    EXPECT_TRUE(p.queued([&](const Event &e) {
        return e.kind == Event::Kind::close && e.handle == waiting.handle;
    })) << "the waiting screen goes when the upload begins";
    Dump done = u.success();
    EXPECT_EQ(done.caption, "NUV@" + hosts.device + " Upgrade Successful!");
    // A phone reports what it likes; the success screen shows it.
    EXPECT_EQ(done.control(kSoftware).text, "4.1.12(a)");
    EXPECT_EQ(p.wait_exit(), 0);
    (void)upload;

    EXPECT_EQ(u.received_image(), file_bytes(NUV_RELEASE_IMAGE))
        << "the device holds the image byte for byte";
    std::vector<Json> commands = upgrade_commands(u.sim());
    ASSERT_EQ(commands.size(), 1u);
    const Json &command = commands[0]["upgrade"];
    EXPECT_TRUE(command["valid"].boolean);
    EXPECT_EQ(command["address"].text, hosts.pc);
    EXPECT_EQ(command["port"].number, 69);
    EXPECT_TRUE(is_file_name(command["name"].text, '1')) << command["name"].text;
    // Query, command, re-query: each from the chosen PC address.
    std::vector<Json> connections = records(u.sim(), "connection");
    ASSERT_GE(connections.size(), 3u);
    for (const Json &c : connections)
        EXPECT_EQ(c["peer"].text.substr(0, c["peer"].text.find(':')), hosts.pc);
    std::vector<Json> fetches = records(u.sim(), "fetch");
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_EQ(fetches[0]["result"].text, "ok");
    EXPECT_EQ(fetches[0]["bytes"].number, 751211);
}

TEST(Upgrade, ChoosingThePcsThirdAddressBindsEveryConnectionToIt)
{
    Hosts hosts(2);
    Upgrade u(NUV_UPGRADE, hosts, "third_address", Page().args(), {hosts.pc, hosts.pc2, hosts.pc3});
    u.enter_address(kPhoneAddress, 2);
    u.confirm(kConfirm);
    u.success();
    EXPECT_EQ(u.p().wait_exit(), 0);
    std::vector<Json> commands = upgrade_commands(u.sim());
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0]["upgrade"]["address"].text, hosts.pc3);
    for (const Json &c : records(u.sim(), "connection"))
        EXPECT_EQ(c["peer"].text.substr(0, c["peer"].text.find(':')), hosts.pc3);
}

struct AdapterCase {
    const char *label;
    int host;
    const char *reported;  // null: the version in the image's header
    const char *failure;   // null: success
};

class AdapterVersion : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(AdapterVersion, IsCheckedAfterTheFlash)
{
    const AdapterCase &c = GetParam();
    Hosts hosts(c.host);
    std::vector<std::string> args = Page().args();
    if (c.reported != nullptr)
        args.insert(args.end(), {"--report-version", c.reported});
    Upgrade u(NUV_UPGRADE_ADAPTER, hosts, c.label, args);
    u.enter_address(kAdapterAddress);
    u.confirm(kConfirm);
    if (c.failure == nullptr) {
        Dump done = u.success();
        EXPECT_EQ(done.control(kSoftware).text, NUV_ADAPTER_VERSION);
    } else {
        Event box = u.p().wait_msgbox(kLong);
        EXPECT_EQ(box.caption, kFailureCaption);
        EXPECT_EQ(box.text, c.failure);
        u.p().press(box.handle, kOk);
        EXPECT_FALSE(u.p().queued([](const Event &e) { return e.template_id == kSuccess; }));
    }
    EXPECT_EQ(u.p().wait_exit(), 0);
    EXPECT_EQ(u.received_image(), file_bytes(NUV_ADAPTER_IMAGE));
}

INSTANTIATE_TEST_SUITE_P(
    Reports, AdapterVersion,
    ::testing::Values(AdapterCase{"served_version", 3, nullptr, nullptr},
                      AdapterCase{"other_version", 4, "2.4.0(c)", "Upgrade Failed: Version not matching"}),
    [](const ::testing::TestParamInfo<AdapterCase> &info) { return info.param.label; });

// The nonce count of a request's Authorization line, as a number.
long nonce_count(const std::string &authorization)
{
    size_t at = authorization.find("nc=");
    if (at == std::string::npos)
        return -1;
    return std::stol(authorization.substr(at + 3), nullptr, 16);
}

TEST(Upgrade, PasswordProtectedDeviceIsAskedOnceAndEveryLaterRequestIsAuthorised)
{
    Hosts hosts(5);
    std::vector<std::string> args = Page().args();
    args.insert(args.end(), {"--user", "admin", "--password", "s3cret", "--qop", "auth",
                             "--nonce-change", "flash"});
    Upgrade u(NUV_UPGRADE, hosts, "password", args);
    u.enter_address(kPhoneAddress);
    u.answer_password("admin", "s3cret");
    u.confirm(kConfirm);
    u.success();
    EXPECT_EQ(u.p().wait_exit(), 0);
    EXPECT_FALSE(u.p().queued([](const Event &e) { return e.template_id == kPassword; }))
        << "the password is asked for once";
    EXPECT_EQ(u.received_image(), file_bytes(NUV_RELEASE_IMAGE));

    // Every answered request carried a valid line, its count one up under
    // its nonce, and starting again at 1 under the nonce of the flash.
    std::string nonce;
    long expected = 0;
    int answered = 0, nonces = 0;
    for (const Json &c : records(u.sim(), "connection")) {
        if (c["status"].number != 200)
            continue;
        ++answered;
        EXPECT_EQ(c["auth"].text, "ok") << c["request_line"].text;
        if (c["nonce"].text != nonce) {
            nonce = c["nonce"].text;
            expected = 1;
            ++nonces;
        }
        EXPECT_EQ(nonce_count(c["authorization"].text), expected) << c["request_line"].text;
        ++expected;
    }
    EXPECT_EQ(answered, 3) << "the query, the command and the re-query";
    EXPECT_EQ(nonces, 2) << "the device's nonce changed with the flash";
}

TEST(Upgrade, TransitionProgramServesTheTransitionImageThenTheTarget)
{
    Hosts hosts(6);
    Upgrade u(NUV_UPGRADE_TRANSITION, hosts, "transition", Page().args());
    u.enter_address(kAdapterAddress);
    Dump confirm = u.confirm(kTransitionConfirm);
    EXPECT_EQ(confirm.caption, std::string("Confirm Upgrade to Ver. ") + NUV_TRANSITION_TARGET_VERSION);
    EXPECT_EQ(confirm.control(kConfirmText).text,
              std::string(kConfirmMessage) +
                  "\r\n\r\nNote: Since your current firmware version\r\nis older than " +
                  NUV_TRANSITION_VERSION +
                  ", this upgrade procedure\r\nrequires additional steps and will be\r\nslightly longer.\r\n");
    // Two waits and two uploads, then the success screen.
    u.p().wait_open(kUpload, kLong);
    Event second_wait = u.p().wait_open(kWaiting, kLong);
    (void)second_wait;
    Dump done = u.success();
    EXPECT_EQ(done.control(kSoftware).text, NUV_TRANSITION_TARGET_VERSION);
    EXPECT_EQ(u.p().wait_exit(), 0);

    std::vector<Json> commands = upgrade_commands(u.sim());
    ASSERT_EQ(commands.size(), 2u);
    const Json &first = commands[0]["upgrade"];
    const Json &second = commands[1]["upgrade"];
    EXPECT_TRUE(is_file_name(first["name"].text, '0'))
        << first["name"].text;
    EXPECT_TRUE(is_file_name(second["name"].text, '1')) << second["name"].text;
    EXPECT_EQ(first["port"].number, second["port"].number);
    std::vector<Json> fetches = records(u.sim(), "fetch");
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_EQ(fetches[0]["name"].text, first["name"].text);
    EXPECT_EQ(fetches[0]["bytes"].number, static_cast<double>(file_bytes(NUV_TRANSITION_IMAGE).size()));
    EXPECT_EQ(fetches[1]["name"].text, second["name"].text);
    EXPECT_EQ(u.received_image(), file_bytes(NUV_TRANSITION_TARGET_IMAGE))
        << "the device ends with the target image";
}

// ---- faults on the wire during the delivery ------------------------------------

struct FaultCase {
    const char *label;
    int host;
    std::vector<std::string> args;
    bool delivered;  // false: the transfer fails and the device keeps its firmware
};

class DeliveryFault : public ::testing::TestWithParam<FaultCase> {};

// The release image under each fault the device can put on the wire: it
// arrives intact and the run succeeds, or the run reports the incomplete
// upload after the flash wait.
TEST_P(DeliveryFault, EndsIntactOrWithTheRightFailure)
{
    const FaultCase &c = GetParam();
    Hosts hosts(c.host);
    std::vector<std::string> args = Page().args();
    args.insert(args.end(), c.args.begin(), c.args.end());
    Upgrade u(NUV_UPGRADE, hosts, std::string("fault_") + c.label, args);
    u.enter_address(kPhoneAddress);
    u.confirm(kConfirm);
    if (c.delivered) {
        u.success();
        EXPECT_EQ(u.received_image(), file_bytes(NUV_RELEASE_IMAGE));
    } else {
        Event box = u.p().wait_msgbox(Limit(60000));
        EXPECT_EQ(box.caption, kFailureCaption);
        EXPECT_EQ(box.text, "Upgrade Failed: Firmware Upload Incomplete");
        u.p().press(box.handle, kOk);
        EXPECT_TRUE(records(u.sim(), "flash").empty()) << "the device must not flash a partial image";
    }
    EXPECT_EQ(u.p().wait_exit(), 0);
    // A silent device may still be waiting on its own fetch when the run
    // ends; it must never have finished one.
    std::vector<Json> fetches = records(u.sim(), "fetch");
    ASSERT_LE(fetches.size(), 1u);
    bool fetched = fetches.size() == 1 && fetches[0]["result"].text == "ok";
    EXPECT_EQ(fetched, c.delivered);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DeliveryFault,
    ::testing::Values(
        FaultCase{"lost_acks", 10, {"--lose-acks", "2", "--seed", "7"}, true},
        FaultCase{"tenth_of_the_acks_lost", 20, {"--lose-acks", "10", "--seed", "3"}, true},
        FaultCase{"every_fiftieth_ack_lost", 11, {"--lose-ack-every", "50"}, true},
        FaultCase{"repeated_acks", 12, {"--repeat-acks"}, true},
        FaultCase{"ack_from_another_port", 13, {"--ack-from-other-port", "5"}, true},
        FaultCase{"error_packet", 14, {"--error-at-block", "10"}, true},
        FaultCase{"stray_datagrams", 15, {"--stray-datagrams", "40"}, true},
        FaultCase{"oversize_datagram", 16, {"--oversize-ack", "7"}, true},
        FaultCase{"oack_never_acknowledged", 17, {"--ignore-oack"}, false},
        FaultCase{"silent_after_block_100", 18, {"--silent-after-block", "100"}, false},
        FaultCase{"error_instead_of_ack", 19, {"--abort-at-block", "20"}, false}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return info.param.label; });

TEST(Upgrade, DeviceThatDoesNotAnswerEndsTheRun)
{
    Hosts hosts(7);
    Upgrade u(NUV_UPGRADE, hosts, "no_answer", {"--refuse"});
    u.enter_address(kPhoneAddress);
    Event box = u.p().wait_msgbox(kLong);
    EXPECT_EQ(box.caption, kFailureCaption);
    EXPECT_EQ(box.text, "Upgrade Failed: No Response From NUV");
    u.p().press(box.handle, kOk);
    EXPECT_EQ(u.p().wait_exit(), 0);
}

} // namespace
