// tests/app/test_wizard.cpp: the wizard of the real programs, end to end:
// warning, address and confirm screens as a person meets them under the
// script front end, against a simulated device on port 80 of a loopback
// address, and what the device saw on the wire.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "tests/tools/sim_process.h"

namespace {

using driver::Dump;
using driver::Event;
using driver::Program;
using simtest::Json;
using simtest::Simulator;

constexpr int kWarning = 139, kAdapterAddress = 101, kPhoneAddress = 305;
constexpr int kConfirm = 103, kTransitionConfirm = 304, kConnecting = 105;
constexpr int kOk = 1, kCancel = 2;
constexpr int kWarningText = 1021;
constexpr int kDeviceAddress = 1000, kUpgradeLine = 1007, kInstructions = 1008;
constexpr int kVersionLine = 1015, kPcList = 1017;
constexpr int kConfirmText = 1007;
constexpr int kSerial = 1002, kMac = 1003, kSoftware = 1004, kHardware = 1005, kProduct = 1006;

constexpr unsigned kMbOk = 0x0, kMbOkTaskModal = 0x2000;
const std::string kFailureCaption = "NUV Firwmare Upgrade Error";

const std::string kWarningTextExpected =
    "WARNING: Forcing a firmware upgrade on your NUV\r\n"
    "without prior approval from your service provider or\r\n"
    "network administrator may cause interruption to your\r\n"
    "service.  If your NUV is managed by a service\r\n"
    "provider who retains administrative control of the\r\n"
    "device, please contact the service provider for\r\n"
    "authorization before proceeding.  In such cases, the\r\n"
    "most current, approved for service firmware is\r\n"
    "automatically provided by your service provider without\r\n"
    "any onus on the end user to upgrade manually.";

const std::string kUpgradeLineExpected = "This program will upgrade your NUV\r\nfirmware to:";

const std::string kPhoneInstructionsExpected =
    "To proceed, please provide the IP address\r\n"
    "of your NUV. To find out the IP address of\r\n"
    "your NUV, press the I button on the phone,\r\n"
    "select \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n"
    "\r\n"
    "Please enter IP address of your NUV:";

const std::string kAdapterInstructionsExpected =
    "To proceed, please provide the IP address\r\n"
    "of your NUV. To find out the IP address\r\n"
    "of your NUV, using a telephone handset,\r\n"
    "enter * * * *, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n"
    "\r\n"
    "Please enter IP address of your NUV:";

const std::string kConfirmTextExpected =
    "The following information was extracted\r\n"
    "from your NUV. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\n"
    "like to quit click \"Cancel\".";

const std::string kNoPcAddressText =
    "No network address of this PC was found. Connect this PC to the NUV's network and start "
    "the upgrade again.";

// What each program shows: the synthetic images of the default build.
struct Build {
    const char *program;
    std::string model;
    int address_template;
    std::string instructions;
    std::string version;
    int confirm_template;
    std::string confirm_text;
    const char *first_suffix;  // of the first TFTP file name
};

const std::vector<Build> &builds()
{
    static const std::vector<Build> all = {
        {"nuv-upgrade", "NUV-730/720", kPhoneAddress, kPhoneInstructionsExpected, "4.1.12(a)",
         kConfirm, kConfirmTextExpected, "bi1"},
        {"nuv-upgrade-adapter", "NUV-1200/2200", kAdapterAddress, kAdapterInstructionsExpected,
         "2.4.1(c)", kConfirm, kConfirmTextExpected, "bi1"},
        {"nuv-upgrade-transition", "NUV-1200/2200", kAdapterAddress, kAdapterInstructionsExpected,
         "2.4.1(c)", kTransitionConfirm,
         kConfirmTextExpected +
             "\r\n\r\nNote: Since your current firmware version\r\n"
             "is older than 2.0.9(t), this upgrade procedure\r\n"
             "requires additional steps and will be\r\n"
             "slightly longer.\r\n",
         "bi0"},
    };
    return all;
}

const Build &phone_build() { return builds()[0]; }

std::string program_path(const Build &b) { return std::string(NUV_PROGRAMS) + "/" + b.program; }

// Each test its own block of loopback addresses, 127.0.N.x with N from 20:
// PC addresses .1 to .3, devices from .9 up (one per program of a table).
struct Hosts {
    std::string prefix;
    explicit Hosts(int n) : prefix(std::string("127.0.") + std::to_string(20 + n) + ".") {}
    std::string pc(int k) const { return prefix + std::to_string(k); }
    std::string pcs() const { return pc(1) + "," + pc(2) + "," + pc(3); }
    std::string device(int k = 0) const { return prefix + std::to_string(9 + k); }
};

std::string log_path(const std::string &name)
{
    return std::string(WIZARD_WORK) + "/" + name + ".log";
}

// A simulated device on port 80 of `address`, with its log.
struct Device {
    Simulator sim;
    Device(const std::string &address, const std::string &log, std::vector<std::string> args = {})
        : sim(address, with_port(std::move(args)), log_path(log))
    {
    }
    static std::vector<std::string> with_port(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--port", "80"});
        return args;
    }
    bool listening() const { return sim.port() == 80; }

    // The logged connections; tftp events and unreadable lines are left out.
    std::vector<Json> connections() const
    {
        std::vector<Json> out;
        for (const std::string &line : sim.log_lines()) {
            Json j;
            if (parse_json(line, j) && j.has("connection"))
                out.push_back(j);
        }
        return out;
    }
    // Waits up to `limit` for a logged connection that `match` accepts.
    bool wait_connection(const std::function<bool(const Json &)> &match, Json &found,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        do {
            for (const Json &j : connections())
                if (match(j)) {
                    found = j;
                    return true;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
};

std::string peer_address(const Json &connection)
{
    const std::string &peer = connection["peer"].text;
    return peer.substr(0, peer.rfind(':'));
}

bool is_information_query(const Json &c)
{
    return c["request_line"].type == Json::Type::string &&
           c["request_line"].text == "GET /admin/advanced HTTP/1.1";
}

// Whether `name` reads /nuv, one to four lower-case hexadecimal digits
// without a leading zero (a lone 0 allowed), a dot and `suffix`.
bool is_file_name(const std::string &name, const std::string &suffix)
{
    const std::string head = "/nuv";
    if (name.compare(0, head.size(), head) != 0)
        return false;
    size_t at = head.size(), digits = 0;
    while (at < name.size() && ((name[at] >= '0' && name[at] <= '9') || (name[at] >= 'a' && name[at] <= 'f'))) {
        ++at;
        ++digits;
    }
    if (digits < 1 || digits > 4 || (digits > 1 && name[head.size()] == '0'))
        return false;
    return name.size() == at + 1 + suffix.size() && name[at] == '.' &&
           name.compare(at + 1, std::string::npos, suffix) == 0;
}

Program start(const Build &b, const std::string &pcs)
{
    return Program({program_path(b)}, {{"NUV_HOST_ADDRESSES", pcs}});
}

// Continue on the warning screen; the address screen's handle, 0 if it
// did not come.
long to_address_screen(Program &p, const Build &b)
{
    Event warning = p.wait_open(kWarning);
    if (!warning)
        return 0;
    p.click(warning.handle, kOk);
    p.wait_close(warning.handle);
    Event address = p.wait_open(b.address_template);
    return address ? address.handle : 0;
}

// Through the address screen to the confirm screen of a device that
// answers; its handle, 0 if it did not come.
long to_confirm_screen(Program &p, const Build &b, const std::string &device, int pc_index = 0)
{
    long address = to_address_screen(p, b);
    if (address == 0)
        return 0;
    if (pc_index != 0)
        p.select(address, kPcList, pc_index);
    p.type(address, kDeviceAddress, device);
    p.click(address, kOk);
    Event confirm = p.wait_open(b.confirm_template);
    return confirm ? confirm.handle : 0;
}

// A screen came up or the program ended: what a refused entry must not do.
bool opened_or_ended(const Event &e)
{
    return e.kind == Event::Kind::open || e.kind == Event::Kind::exit;
}

bool is_open(const Event &e, int template_id)
{
    return e.kind == Event::Kind::open && e.template_id == template_id;
}

// ---- warning screen ----

TEST(Wizard, WarningScreenShowsTheModelAndTheWarningWithCancelFocused)
{
    for (const Build &b : builds()) {
        Program p = start(b, Hosts(0).pcs());
        Event warning = p.wait_open(kWarning);
        ASSERT_TRUE(warning) << b.program;
        Dump d = p.dump(warning.handle);
        EXPECT_EQ(d.caption, b.model + " Firmware Upgrade") << b.program;
        EXPECT_EQ(d.control(kWarningText).text, kWarningTextExpected) << b.program;
        EXPECT_TRUE(d.control(kCancel).focus) << b.program;
        EXPECT_FALSE(d.control(kOk).focus) << b.program;
        p.click(warning.handle, kCancel);
        EXPECT_EQ(p.wait_exit(), 0) << b.program;
    }
}

// Enter goes to Cancel (the default button, focused), Escape and the
// Cancel button too: the program ends with 0 and shows nothing else.
TEST(Wizard, EveryWayOutOfTheWarningScreenEndsQuietly)
{
    struct Way {
        const char *what;
        std::function<void(Program &, long)> act;
    };
    const Way ways[] = {
        {"enter", [](Program &p, long h) { p.key(h, "enter"); }},
        {"escape", [](Program &p, long h) { p.key(h, "escape"); }},
        {"cancel button", [](Program &p, long h) { p.click(h, kCancel); }},
    };
    for (const Way &way : ways) {
        Program p = start(phone_build(), Hosts(1).pcs());
        Event warning = p.wait_open(kWarning);
        ASSERT_TRUE(warning) << way.what;
        way.act(p, warning.handle);
        EXPECT_TRUE(p.wait_close(warning.handle)) << way.what;
        Event next = p.next();
        EXPECT_EQ(next.kind, Event::Kind::exit) << way.what << ": " << next.line;
        EXPECT_EQ(next.code, 0) << way.what;
        EXPECT_EQ(p.wait_exit(), 0) << way.what;
        EXPECT_TRUE(p.errors().empty()) << way.what;
    }
}

// ---- address screen ----

TEST(Wizard, AddressScreenShowsTheFamilysTextsAndThePcAddressesInLookupOrder)
{
    Hosts h(2);
    // Not sorted: the list index is the index into the lookup's order.
    const std::string pcs = h.pc(3) + "," + h.pc(1) + "," + h.pc(2);
    for (const Build &b : builds()) {
        Program p = start(b, pcs);
        long screen = to_address_screen(p, b);
        ASSERT_NE(screen, 0) << b.program << "\n" << p.transcript();
        Dump d = p.dump(screen);
        EXPECT_EQ(d.caption, b.model + " Firmware Upgrade") << b.program;
        EXPECT_EQ(d.control(kUpgradeLine).text, kUpgradeLineExpected) << b.program;
        EXPECT_EQ(d.control(kInstructions).text, b.instructions) << b.program;
        EXPECT_EQ(d.control(kVersionLine).text, std::string("Version ") + b.version) << b.program;
        const driver::Control &list = d.control(kPcList);
        EXPECT_TRUE(list.has_items) << b.program;
        EXPECT_EQ(list.items, (std::vector<std::string>{h.pc(3), h.pc(1), h.pc(2)})) << b.program;
        EXPECT_EQ(list.selection, 0) << b.program;
        EXPECT_TRUE(d.control(kDeviceAddress).focus) << b.program;
        p.click(screen, kCancel);
        EXPECT_EQ(p.wait_exit(), 0) << b.program;
        EXPECT_TRUE(p.errors().empty()) << b.program;
    }
}

TEST(Wizard, CancelOnTheAddressScreenEndsQuietly)
{
    const char *keys[] = {"button", "escape"};
    for (const char *how : keys) {
        Program p = start(phone_build(), Hosts(3).pcs());
        long screen = to_address_screen(p, phone_build());
        ASSERT_NE(screen, 0) << how;
        if (std::string(how) == "button")
            p.click(screen, kCancel);
        else
            p.key(screen, "escape");
        EXPECT_TRUE(p.wait_close(screen)) << how;
        Event next = p.next();
        EXPECT_EQ(next.kind, Event::Kind::exit) << how << ": " << next.line;
        EXPECT_EQ(p.wait_exit(), 0) << how;
    }
}

// Each refused text gives the box, keeps the screen with the focus back in
// the address control, and sends nothing to any device; afterwards a good
// address still goes on.
TEST(Wizard, AnInvalidDeviceAddressIsRefusedAndTheScreenStays)
{
    Hosts h(4);
    Device device(h.device(), "invalid");
    ASSERT_TRUE(device.listening()) << device.sim.ready_line();
    // The address control takes only digits, dots and stars, so the junk
    // a person can type is made of those.
    const char *refused[] = {
        "0.0.0.0", "0*0*0*0", "", "1.2.3", "1*2*3", "1234567", "999.22.33.44", "1.2.3.256",
        "1.2.3.4567", "1.2.3.4.5", "1.22.33", "1.2.3..", ".......", "*******", "10.1.0.1300000000",
    };
    Program p = start(phone_build(), h.pcs());
    long screen = to_address_screen(p, phone_build());
    ASSERT_NE(screen, 0);
    for (const char *text : refused) {
        p.type(screen, kDeviceAddress, text);
        p.click(screen, kOk);
        Event box = p.wait_msgbox();
        ASSERT_TRUE(box) << text;
        EXPECT_EQ(box.caption, "Error") << text;
        EXPECT_EQ(box.text, "Invalid IP Address") << text;
        EXPECT_EQ(box.style, kMbOk) << text;
        p.press(box.handle, kOk);
        EXPECT_TRUE(p.wait_close(box.handle)) << text;
        Dump d = p.dump(screen);
        EXPECT_EQ(d.error, "") << text;
        EXPECT_TRUE(d.control(kDeviceAddress).focus) << text;
        EXPECT_FALSE(p.queued(opened_or_ended)) << text;
    }
    EXPECT_TRUE(device.connections().empty());
    EXPECT_TRUE(p.errors().empty()) << p.transcript();

    // The star separator reads as a dot; the screen takes the address.
    std::string starred = h.device();
    for (char &c : starred)
        if (c == '.')
            c = '*';
    p.type(screen, kDeviceAddress, starred);
    p.click(screen, kOk);
    EXPECT_TRUE(p.wait_close(screen));
    Event confirm = p.wait_open(kConfirm);
    ASSERT_TRUE(confirm) << p.transcript();
    Json query;
    EXPECT_TRUE(device.wait_connection(is_information_query, query));
    p.click(confirm.handle, kCancel);
    Event box = p.wait_msgbox();
    ASSERT_TRUE(box);
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_TRUE(p.errors().empty());
}

// A PC without an IPv4 address: the list is empty, and OK tells the person
// so, whatever they typed, without going on.
TEST(Wizard, WithoutAPcAddressTheAddressScreenDoesNotGoOn)
{
    Hosts h(5);
    Device device(h.device(), "no_pc_address");
    ASSERT_TRUE(device.listening()) << device.sim.ready_line();
    for (const Build &b : builds()) {
        Program p = start(b, "");
        long screen = to_address_screen(p, b);
        ASSERT_NE(screen, 0) << b.program << "\n" << p.transcript();
        Dump d = p.dump(screen);
        EXPECT_TRUE(d.control(kPcList).items.empty()) << b.program;
        EXPECT_EQ(d.control(kPcList).selection, -1) << b.program;
        const std::string typed[] = {h.device(), "0.0.0.0", "1.2.3"};
        for (const std::string &text : typed) {
            p.type(screen, kDeviceAddress, text);
            p.click(screen, kOk);
            Event box = p.wait_msgbox();
            ASSERT_TRUE(box) << b.program << " " << text;
            EXPECT_EQ(box.caption, "Error") << text;
            EXPECT_EQ(box.text, kNoPcAddressText) << text;
            EXPECT_EQ(box.style, kMbOk) << text;
            p.press(box.handle, kOk);
            EXPECT_TRUE(p.wait_close(box.handle)) << text;
            Dump after = p.dump(screen);
            EXPECT_EQ(after.error, "") << text;
            EXPECT_TRUE(after.control(kDeviceAddress).focus) << text;
            EXPECT_FALSE(p.queued(opened_or_ended))
                << b.program << " " << text;
        }
        p.click(screen, kCancel);
        EXPECT_EQ(p.wait_exit(), 0) << b.program;
        EXPECT_TRUE(p.errors().empty()) << b.program;
    }
    EXPECT_TRUE(device.connections().empty());
}

// ---- the information query ----

TEST(Wizard, ADeviceThatDoesNotAnswerEndsWithNoResponse)
{
    Hosts h(6);
    struct Case {
        const char *what;
        std::vector<std::string> sim_args;  // empty: nothing listens at all
        bool simulated;
    };
    const Case cases[] = {
        {"nothing listening", {}, false},
        {"closed without a reply", {"--close-without-reply"}, true},
    };
    int k = 0;
    for (const Case &c : cases) {
        std::string address = h.device(k++);
        std::unique_ptr<Device> device;
        if (c.simulated) {
            device = std::make_unique<Device>(address, std::string("no_response_") + std::to_string(k),
                                              c.sim_args);
            ASSERT_TRUE(device->listening()) << c.what;
        }
        Program p = start(phone_build(), h.pcs());
        long screen = to_address_screen(p, phone_build());
        ASSERT_NE(screen, 0) << c.what;
        p.type(screen, kDeviceAddress, address);
        p.click(screen, kOk);
        Event connecting = p.wait_open(kConnecting);
        ASSERT_TRUE(connecting) << c.what;
        EXPECT_TRUE(p.wait_close(connecting.handle)) << c.what;
        Event box = p.wait_msgbox();
        ASSERT_TRUE(box) << c.what;
        EXPECT_EQ(box.caption, kFailureCaption) << c.what;
        EXPECT_EQ(box.text, "Upgrade Failed: No Response From NUV") << c.what;
        EXPECT_EQ(box.style, kMbOkTaskModal) << c.what;
        EXPECT_FALSE(p.queued([](const Event &e) { return is_open(e, kConfirm); })) << c.what;
        p.press(box.handle, kOk);
        EXPECT_EQ(p.wait_exit(), 0) << c.what;
        if (device) {
            Json query;
            EXPECT_TRUE(device->wait_connection(is_information_query, query)) << c.what;
        }
    }
}

// ---- confirm screen ----

TEST(Wizard, ConfirmScreenShowsTheVersionAndTheDevicesTexts)
{
    Hosts h(7);
    int k = 0;
    for (const Build &b : builds()) {
        Device device(h.device(k), std::string("confirm_") + std::to_string(k),
                      {"--serial-number", "SN-WIZ-0042", "--mac-address", "000E08ABCDEF",
                       "--software-version", "1.9.9(z)", "--hardware-version", "3.3",
                       "--product-name", "NUV-2200X"});
        ASSERT_TRUE(device.listening()) << b.program;
        Program p = start(b, h.pcs());
        long confirm = to_confirm_screen(p, b, h.device(k));
        ++k;
        ASSERT_NE(confirm, 0) << b.program << "\n" << p.transcript();
        Dump d = p.dump(confirm);
        EXPECT_EQ(d.caption, std::string("Confirm Upgrade to Ver. ") + b.version) << b.program;
        EXPECT_EQ(d.control(kConfirmText).text, b.confirm_text) << b.program;
        EXPECT_EQ(d.control(kSerial).text, "SN-WIZ-0042") << b.program;
        EXPECT_EQ(d.control(kMac).text, "000E08ABCDEF") << b.program;
        EXPECT_EQ(d.control(kSoftware).text, "1.9.9(z)") << b.program;
        EXPECT_EQ(d.control(kHardware).text, "3.3") << b.program;
        EXPECT_EQ(d.control(kProduct).text, "NUV-2200X") << b.program;
        EXPECT_TRUE(d.control(kOk).focus) << b.program;

        p.click(confirm, kCancel);
        Event box = p.wait_msgbox();
        ASSERT_TRUE(box) << b.program;
        EXPECT_EQ(box.caption, kFailureCaption) << b.program;
        EXPECT_EQ(box.text, "Upgrade Failed: User Abort") << b.program;
        EXPECT_EQ(box.style, kMbOkTaskModal) << b.program;
        p.press(box.handle, kOk);
        EXPECT_EQ(p.wait_exit(), 0) << b.program;
        EXPECT_TRUE(p.errors().empty()) << b.program;
        EXPECT_EQ(p.error_output(), "") << b.program;
    }
}

TEST(Wizard, ALabelMissingFromThePageLeavesItsBoxEmpty)
{
    Hosts h(8);
    Device device(h.device(), "missing_label", {"--omit-label", "mac-address", "--omit-label",
                                                "serial-number"});
    ASSERT_TRUE(device.listening()) << device.sim.ready_line();
    Program p = start(phone_build(), h.pcs());
    long confirm = to_confirm_screen(p, phone_build(), h.device());
    ASSERT_NE(confirm, 0) << p.transcript();
    Dump d = p.dump(confirm);
    EXPECT_EQ(d.control(kMac).text, "");
    EXPECT_EQ(d.control(kSerial).text, "");
    EXPECT_EQ(d.control(kSoftware).text, "3.1.4(b)");  // the simulator's default
    EXPECT_EQ(d.control(kProduct).text, "NUV-2200");
    p.key(confirm, "escape");
    Event box = p.wait_msgbox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

// ---- the PC address chosen ----

TEST(Wizard, TheChosenPcAddressIsTheBindAddressOfTheQuery)
{
    Hosts h(9);
    Device device(h.device(), "third_pc");
    ASSERT_TRUE(device.listening()) << device.sim.ready_line();
    Program p = start(phone_build(), h.pcs());
    long confirm = to_confirm_screen(p, phone_build(), h.device(), 2);
    ASSERT_NE(confirm, 0) << p.transcript();
    Json query;
    ASSERT_TRUE(device.wait_connection(is_information_query, query));
    EXPECT_EQ(peer_address(query), h.pc(3));
    for (const Json &c : device.connections())
        EXPECT_EQ(peer_address(c), h.pc(3)) << c["peer"].text;
    p.click(confirm, kCancel);
    Event box = p.wait_msgbox();
    ASSERT_TRUE(box);
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

// ---- the upgrade command ----

// After Upgrade the device is told to fetch a random name from the chosen
// PC address, on the port the PC's TFTP server took (69 up).
TEST(Wizard, UpgradeSendsTheCommandWithThePcAddressAPortAndARandomName)
{
    Hosts h(10);
    int k = 0;
    for (const Build &b : builds()) {
        Device device(h.device(k), std::string("upgrade_") + std::to_string(k));
        ASSERT_TRUE(device.listening()) << b.program;
        Program p = start(b, h.pcs());
        long confirm = to_confirm_screen(p, b, h.device(k), 1);
        ++k;
        ASSERT_NE(confirm, 0) << b.program << "\n" << p.transcript();
        p.click(confirm, kOk);
        Json command;
        ASSERT_TRUE(device.wait_connection(
            [](const Json &c) { return c["upgrade"].type == Json::Type::object; }, command))
            << b.program << "\n" << p.transcript();
        const Json &u = command["upgrade"];
        EXPECT_TRUE(u["valid"].boolean) << b.program << " " << command["request_line"].text;
        EXPECT_EQ(u["address"].text, h.pc(2)) << b.program;
        EXPECT_GE(u["port"].number, 69) << b.program;
        EXPECT_LE(u["port"].number, 168) << b.program;
        EXPECT_TRUE(is_file_name(u["name"].text, b.first_suffix)) << b.program << " " << u["name"].text;
        EXPECT_EQ(peer_address(command), h.pc(2)) << b.program;
        EXPECT_TRUE(p.errors().empty()) << b.program;
        // Nothing on standard error: a sanitizer's report would land there.
        EXPECT_EQ(p.error_output(), "") << b.program;
    }
}

// The transition build: once the device has fetched the transition image,
// it is sent a second command for a new ".bi1" name on the same port.
TEST(Wizard, TransitionBuildSendsASecondCommandForTheTargetImage)
{
    Hosts h(11);
    const Build &b = builds()[2];
    Device device(h.device(), "second_command", {"--flash-seconds", "0.2"});
    ASSERT_TRUE(device.listening()) << device.sim.ready_line();
    // The flash wait after a delivery counts milliseconds of the scaled clock.
    Program p({program_path(b)}, {{"NUV_HOST_ADDRESSES", h.pcs()}, {"NUV_CLOCK_SCALE", "100"}});
    long confirm = to_confirm_screen(p, b, h.device(), 2);
    ASSERT_NE(confirm, 0) << p.transcript();
    p.click(confirm, kOk);
    auto command = [](const char *suffix) {
        return [suffix](const Json &c) {
            const Json &u = c["upgrade"];
            return u.type == Json::Type::object && u["valid"].boolean && u["name"].text.size() > 4 &&
                   u["name"].text.compare(u["name"].text.size() - 4, 4, suffix) == 0;
        };
    };
    Json first, second;
    ASSERT_TRUE(device.wait_connection(command(".bi0"), first)) << p.transcript();
    ASSERT_TRUE(device.wait_connection(command(".bi1"), second, std::chrono::milliseconds(60000)))
        << p.transcript();
    EXPECT_GT(second["connection"].number, first["connection"].number);
    EXPECT_TRUE(is_file_name(second["upgrade"]["name"].text, "bi1")) << second["upgrade"]["name"].text;
    EXPECT_EQ(second["upgrade"]["port"].number, first["upgrade"]["port"].number);
    EXPECT_EQ(second["upgrade"]["address"].text, h.pc(3));
    EXPECT_EQ(peer_address(second), h.pc(3));
    EXPECT_TRUE(p.errors().empty());
    EXPECT_EQ(p.error_output(), "");
}

} // namespace
