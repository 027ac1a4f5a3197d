// tests/tftp/test_tftp.cpp: the TFTP listener, the transfer session and the
// completion step, driven through the script front end with a UDP socket of
// the test playing the device, packet by packet.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "tests/http/http_peer.h"
#include "tests/tftp/probe_image.h"
#include "tests/tftp/udp_peer.h"

namespace {

using driver::Dump;
using driver::Event;
using driver::Program;
using udp_peer::ack;
using udp_peer::Datagram;
using udp_peer::read_request;

constexpr int kWaiting = 114, kUpload = 110, kSuccess = 111;
constexpr int kBar = 1010, kWaitingText = 1022, kVersionBox = 1004, kSuccessText = 1007;
constexpr int kOk = 1, kCancel = 2;
constexpr const char *kName = "/nuv1a2b.bi1";
constexpr const char *kFailureCaption = "NUV Firwmare Upgrade Error";

// Long enough for any reply of the program on a loaded machine, short
// enough that waiting it out for a packet that must not come is cheap.
constexpr int kSilenceMs = 60;
constexpr int kReplyMs = 5000;

const char kWaitingExplanation[] =
    "Firmware upload will begin when the NUV is idle, where the NUV will request to download "
    "the firmware from this PC using TFTP at the first available UDP port starting at port "
    "number 69.\r\n\r\nIf firmware download does not start, please check that you have done "
    "the following: a) Hangup properly all the phones attached to the NUV, b) Disable any "
    "firewall software (such as Internet Connection Firewall) on this PC, and c) Make sure "
    "that this PC and the NUV are on the same LAN subnet; it will not work for example if "
    "this PC is behind a router while the NUV is in front of it.";

// Each test its own pair of loopback addresses: the PC and the device.
struct Hosts {
    std::string pc, device;
    explicit Hosts(int n)
        : pc("127.0.40." + std::to_string(2 * n + 1)), device("127.0.40." + std::to_string(2 * n + 2))
    {
    }
};

std::string oack(unsigned size)
{
    std::string packet("\0\6tsize\0", 8);
    packet += std::to_string(size);
    packet += std::string("\0timeout\0" "5\0", 11);
    return packet;
}

std::string data(uint16_t block, const std::vector<unsigned char> &image, size_t from, size_t count)
{
    std::string packet("\0\3", 2);
    packet += static_cast<char>(block >> 8);
    packet += static_cast<char>(block & 0xff);
    packet.append(reinterpret_cast<const char *>(image.data()) + from, count);
    return packet;
}

std::string device_page(const std::string &version)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
           "<html><body><table><tr><td>Software Version:</td><td><b>" +
           version + "</b></td></tr></table></body></html>";
}

// The probe with its listener started: the bound port and the waiting
// screen, as the device meets them.
class Listener {
public:
    Listener(const Hosts &hosts, unsigned size, std::vector<std::string> args = {},
             const std::string &clock_scale = "200", const std::string &clock_start = "")
        : hosts_(hosts)
    {
        std::vector<std::string> argv = {TFTP_PROBE, hosts.pc, std::to_string(size),
                                         "device=" + hosts.device};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::pair<std::string, std::string>> env = {{"NUV_CLOCK_SCALE", clock_scale}};
        if (!clock_start.empty())
            env.emplace_back("NUV_CLOCK_START", clock_start);
        program_ = std::make_unique<Program>(argv, env);
        Event box = program_->wait_msgbox();
        if (box.text.rfind("port=", 0) == 0)
            port_ = static_cast<uint16_t>(std::stoi(box.text.substr(5)));
        program_->press(box.handle, kOk);
    }

    Program &program() { return *program_; }
    uint16_t port() const { return port_; }
    const std::string &pc() const { return hosts_.pc; }
    const std::string &device() const { return hosts_.device; }

private:
    Hosts hosts_;
    std::unique_ptr<Program> program_;
    uint16_t port_ = 0;
};

// Waits for the next datagram; a test failure when none comes.
Datagram expect_datagram(udp_peer::Socket &socket, const std::string &what, int limit_ms = kReplyMs)
{
    Datagram got;
    EXPECT_TRUE(socket.receive(got, limit_ms)) << "no " << what;
    return got;
}

void expect_silence(udp_peer::Socket &socket, const std::string &after, int limit_ms = kSilenceMs)
{
    Datagram got;
    EXPECT_FALSE(socket.receive(got, limit_ms))
        << "unexpected datagram of " << got.bytes.size() << " bytes after " << after;
}

// The next datagram that is not a resend of `resent`; a test failure when
// none comes.
Datagram next_block_after(udp_peer::Socket &socket, uint16_t resent)
{
    Datagram got;
    while (socket.receive(got, kReplyMs))
        if (udp_peer::block_of(got.bytes) != resent)
            return got;
    ADD_FAILURE() << "no DATA after " << resent;
    return got;
}

// Every datagram that comes within `total_ms`.
std::vector<Datagram> gather(udp_peer::Socket &socket, int total_ms)
{
    std::vector<Datagram> all;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(total_ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        Datagram got;
        if (left.count() <= 0 || !socket.receive(got, static_cast<int>(left.count())))
            return all;
        all.push_back(got);
    }
}

std::string progress(const driver::Control &bar)
{
    return std::to_string(bar.range_low) + ".." + std::to_string(bar.range_high) +
           " pos=" + std::to_string(bar.position);
}

// ---- the transfer, packet by packet ----------------------------------------

struct TransferCase {
    const char *label;
    int host;
    unsigned size;
    std::vector<unsigned> block_sizes;
};

class TransferTest : public ::testing::TestWithParam<TransferCase> {};

// The whole transfer in lock step: the OACK, each DATA block with its
// bytes, the title's count of acknowledged bytes and the bar; then the
// flash wait, and with no device answering afterwards, the quiet end.
TEST_P(TransferTest, ServesEveryBlockInLockStep)
{
    const TransferCase &c = GetParam();
    Hosts hosts(c.host);
    Listener listener(hosts, c.size);
    ASSERT_EQ(listener.port(), 69);
    Program &p = listener.program();
    udp_peer::Socket device(hosts.device);
    ASSERT_TRUE(device.bound());
    std::vector<unsigned char> image = probe_image(c.size, "4.1.12(a)");

    Event waiting = p.wait_open(kWaiting);
    device.send(hosts.pc, listener.port(), read_request(kName));
    Datagram first = expect_datagram(device, "OACK");
    EXPECT_EQ(first.bytes, oack(c.size));
    EXPECT_EQ(first.bytes.size(), 19 + std::to_string(c.size).size());
    EXPECT_EQ(first.from_port, listener.port()) << "the transfer runs on the listener's port";
    p.wait_close(waiting.handle);
    Event upload = p.wait_open(kUpload);
    EXPECT_EQ(progress(p.dump(upload.handle).control(kBar)),
              "0.." + std::to_string(c.block_sizes.size()) + " pos=0");

    size_t offset = 0;
    unsigned acked = 0;
    for (size_t i = 0; i < c.block_sizes.size(); ++i) {
        uint16_t block = static_cast<uint16_t>(i + 1);
        device.send(hosts.pc, listener.port(), ack(block - 1));
        Datagram got = expect_datagram(device, "DATA " + std::to_string(block));
        EXPECT_EQ(got.bytes, data(block, image, offset, c.block_sizes[i])) << "block " << block;
        // The title counts what was acknowledged, not what was sent.
        Dump screen = p.dump(upload.handle);
        EXPECT_EQ(screen.caption, "Uploading Target Firmware to NUV@" + hosts.device + " " +
                                      std::to_string(acked) + "/" + std::to_string(c.size) + " Bytes");
        EXPECT_EQ(screen.control(kBar).position, block);
        offset += c.block_sizes[i];
        acked += c.block_sizes[i];
    }
    device.send(hosts.pc, listener.port(), ack(static_cast<uint16_t>(c.block_sizes.size())));
    expect_silence(device, "the last ACK");
    Dump flashing = p.dump(upload.handle);
    EXPECT_EQ(flashing.caption, "Updating Target Firmware to NUV@" + hosts.device);
    EXPECT_EQ(flashing.control(kBar).range_high, 937);
    // Nobody answers the re-queries: the run ends without a word.
    p.wait_close(upload.handle);
    EXPECT_EQ(p.wait_exit(driver::Limit(30000)), 0);
    EXPECT_FALSE(p.queued([](const Event &e) { return e.kind == Event::Kind::msgbox; }));
}

INSTANTIATE_TEST_SUITE_P(
    Images, TransferTest,
    ::testing::Values(TransferCase{"thousand_bytes", 1, 1000, {512, 488}},
                      TransferCase{"two_full_blocks", 2, 1024, {512, 512, 0}},
                      TransferCase{"empty", 3, 0, {0}},
                      TransferCase{"one_short_block", 4, 130, {130}}),
    [](const ::testing::TestParamInfo<TransferCase> &info) { return info.param.label; });

// ---- what the session ignores ------------------------------------------------

// A session with the OACK acknowledged and DATA 1 in flight.
struct InFlight {
    Hosts hosts;
    Listener listener;
    udp_peer::Socket device;
    Event upload;

    explicit InFlight(int n, unsigned size = 2000)
        : hosts(n), listener(hosts, size), device(hosts.device)
    {
        device.send(hosts.pc, listener.port(), read_request(kName));
        expect_datagram(device, "OACK");
        upload = listener.program().wait_open(kUpload);
        device.send(hosts.pc, listener.port(), ack(0));
        Datagram first = expect_datagram(device, "DATA 1");
        EXPECT_EQ(udp_peer::block_of(first.bytes), 1);
    }
    void send(const std::string &bytes) { device.send(hosts.pc, listener.port(), bytes); }
};

TEST(Session, ShortAcksAreNoAcknowledgement)
{
    InFlight s(10);
    // The buffer still holds DATA 1, whose block number sits where a short
    // ACK's would be.
    s.send(std::string("\0\4", 2));
    s.send(std::string("\0\4\0", 3));
    s.send(std::string("\0", 1));
    for (const Datagram &got : gather(s.device, 150))
        EXPECT_EQ(udp_peer::block_of(got.bytes), 1) << "after ACKs of 1 to 3 bytes";
    s.send(ack(1));
    EXPECT_EQ(udp_peer::block_of(next_block_after(s.device, 1).bytes), 2);
}

TEST(Session, RepeatedAckCausesNoResend)
{
    InFlight s(11);
    s.send(ack(1));
    expect_datagram(s.device, "DATA 2");
    auto sent = std::chrono::steady_clock::now();
    s.send(ack(1));
    s.send(ack(0));
    expect_silence(s.device, "a repeated ACK");
    // Only a quiet cycle of 100 idle polls brings block 2 again.
    Datagram resent = expect_datagram(s.device, "the resent DATA 2");
    EXPECT_EQ(udp_peer::block_of(resent.bytes), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(90));
}

TEST(Session, IgnoresStrangersAndNonAcks)
{
    InFlight s(12);
    udp_peer::Socket other_port(s.hosts.device);
    udp_peer::Socket other_host("127.0.40.99");
    other_port.send(s.hosts.pc, s.listener.port(), ack(1));
    other_host.send(s.hosts.pc, s.listener.port(), ack(1));
    s.send(std::string("\0\5\0\1disk full\0", 14));
    s.send(std::string("\0\3\0\1data", 8));
    s.send(read_request(kName));
    // Nothing moves the transfer on: at most DATA 1 again, after a quiet
    // cycle.
    for (const Datagram &got : gather(s.device, 150))
        EXPECT_EQ(udp_peer::block_of(got.bytes), 1) << "after strangers' ACKs and non-ACKs";
    expect_silence(other_port, "its ACK", 1);
    expect_silence(other_host, "its ACK", 1);
    s.send(ack(1));
    EXPECT_EQ(udp_peer::block_of(next_block_after(s.device, 1).bytes), 2);
}

TEST(Session, UnacknowledgedOackIsSentThirtyTimesThenFails)
{
    Hosts hosts(13);
    Listener listener(hosts, 1000);
    Program &p = listener.program();
    udp_peer::Socket device(hosts.device);
    device.send(hosts.pc, listener.port(), read_request(kName));
    int oacks = 0;
    Datagram got;
    while (device.receive(got, 2000)) {
        EXPECT_EQ(got.bytes, oack(1000));
        ++oacks;
    }
    EXPECT_EQ(oacks, 30);
    Event box = p.wait_msgbox(driver::Limit(30000));
    EXPECT_EQ(box.caption, kFailureCaption);
    EXPECT_EQ(box.text, "Upgrade Failed: Firmware Upload Incomplete");
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

TEST(Session, CancelEndsTheRun)
{
    InFlight s(14);
    Program &p = s.listener.program();
    p.click(s.upload.handle, kCancel);
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
    EXPECT_EQ(box.caption, kFailureCaption);
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    s.send(ack(1));
    expect_silence(s.device, "Cancel");
}

// ---- the listener ----------------------------------------------------------

TEST(Listener, ShowsTheWaitingScreenAndItsIdleProgress)
{
    Hosts hosts(20);
    Listener listener(hosts, 1000);
    Program &p = listener.program();
    Event waiting = p.wait_open(kWaiting);
    Dump first = p.dump(waiting.handle);
    EXPECT_EQ(first.caption, "Waiting For Firmware Download Request From NUV");
    EXPECT_EQ(first.control(kWaitingText).text, kWaitingExplanation);
    EXPECT_EQ(first.control(kBar).range_high, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(p.dump(waiting.handle).control(kBar).position, first.control(kBar).position)
        << "the bar moves while the listener waits";
    p.click(waiting.handle, kCancel);
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

TEST(Listener, TurnsAwayEverythingButTheAgreedRequest)
{
    Hosts hosts(21);
    Listener listener(hosts, 1000);
    udp_peer::Socket device(hosts.device);
    const std::vector<std::pair<const char *, std::string>> turned_away = {
        {"other letter case", read_request("/NUV1A2B.BI1")},
        {"no leading slash", read_request("nuv1a2b.bi1")},
        {"a longer name", read_request("/nuv1a2b.bi10")},
        {"a shorter name", read_request("/nuv1a2b.bi")},
        {"no zero byte", std::string("\0\1/nuv1a2b.bi1", 14)},
        {"the name cut short", std::string("\0\1/nuv1a", 8)},
        {"opcode only", std::string("\0\1", 2)},
        {"a write request", std::string("\0\2/nuv1a2b.bi1\0octet\0", 21)},
        {"data", std::string("\0\3\0\1abc", 7)},
        {"an ACK", ack(0)},
        {"an error", std::string("\0\5\0\1x\0", 6)},
        {"opcode 0", std::string("\0\0/nuv1a2b.bi1\0octet\0", 21)},
        {"an OACK", std::string("\0\6tsize\0" "1\0", 10)},
        {"opcode 300", std::string("\1\54/nuv1a2b.bi1\0octet\0", 21)},
        {"one byte", std::string("\1", 1)},
        {"nothing", std::string()},
    };
    for (const auto &[label, packet] : turned_away) {
        device.send(hosts.pc, listener.port(), packet);
        expect_silence(device, label, 20);
    }
    EXPECT_FALSE(listener.program().queued([](const Event &e) { return e.template_id == kUpload; }));
    // Any mode, any options: only the name counts.
    device.send(hosts.pc, listener.port(), read_request(kName, "netascii", {"blksize", "1428"}));
    EXPECT_EQ(expect_datagram(device, "OACK").bytes, oack(1000));
    listener.program().wait_open(kUpload);
}

TEST(Listener, TakesTheNextPortWhen69IsTaken)
{
    Hosts hosts(22);
    udp_peer::Socket taken(hosts.pc, 69);
    ASSERT_TRUE(taken.bound());
    Listener listener(hosts, 1000);
    EXPECT_EQ(listener.port(), 70);
    udp_peer::Socket device(hosts.device);
    device.send(hosts.pc, 70, read_request(kName));
    EXPECT_EQ(expect_datagram(device, "OACK").from_port, 70);
}

TEST(Listener, FailsWhenEveryPortIsTaken)
{
    Hosts hosts(23);
    std::vector<std::unique_ptr<udp_peer::Socket>> taken;
    for (uint16_t port = 69; port <= 168; ++port) {
        taken.push_back(std::make_unique<udp_peer::Socket>(hosts.pc, port));
        ASSERT_TRUE(taken.back()->bound()) << port;
    }
    Program p({TFTP_PROBE, hosts.pc, "1000"});
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.caption, kFailureCaption);
    EXPECT_EQ(box.text, "Upgrade Failed: Can't bind TFTP listener socket");
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

// ---- completion ----------------------------------------------------------------

// Serves the whole image to `device` and checks it arrived intact.
void fetch_all(udp_peer::Socket &device, const Listener &listener, const std::string &name,
               const std::vector<unsigned char> &image,
               const std::function<void(uint16_t block)> &on_block = nullptr)
{
    device.send(listener.pc(), listener.port(), read_request(name));
    Datagram got = expect_datagram(device, "OACK");
    ASSERT_EQ(got.bytes, oack(static_cast<unsigned>(image.size())));
    std::string received;
    for (uint16_t block = 0;; ++block) {
        device.send(listener.pc(), listener.port(), ack(block));
        ASSERT_TRUE(device.receive(got, kReplyMs)) << "DATA " << block + 1;
        ASSERT_EQ(udp_peer::block_of(got.bytes), block + 1);
        received += got.bytes.substr(4);
        if (on_block)
            on_block(static_cast<uint16_t>(block + 1));
        if (got.bytes.size() < 516) {
            device.send(listener.pc(), listener.port(), ack(block + 1));
            break;
        }
    }
    EXPECT_EQ(received, std::string(image.begin(), image.end()));
}

struct VersionCase {
    const char *label;
    int host;
    int phone;
    const char *reported;
    const char *expected_box;  // null: the success screen
};

class CompletionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(CompletionTest, ChecksTheReportedVersion)
{
    const VersionCase &c = GetParam();
    Hosts hosts(c.host);
    http_peer::Peer page(hosts.device, 80, http_peer::always(device_page(c.reported)));
    ASSERT_TRUE(page.listening());
    Listener listener(hosts, 3000, {"phone=" + std::to_string(c.phone)});
    Program &p = listener.program();
    udp_peer::Socket device(hosts.device);
    fetch_all(device, listener, kName, probe_image(3000, "4.1.12(a)"));
    if (c.expected_box != nullptr) {
        Event box = p.wait_msgbox(driver::Limit(30000));
        EXPECT_EQ(box.text, c.expected_box);
        EXPECT_EQ(box.caption, kFailureCaption);
        p.press(box.handle, kOk);
    } else {
        Event success = p.wait_open(kSuccess, driver::Limit(30000));
        Dump screen = p.dump(success.handle);
        EXPECT_EQ(screen.caption, "NUV@" + hosts.device + " Upgrade Successful!");
        EXPECT_EQ(screen.control(kVersionBox).text, c.reported);
        EXPECT_EQ(screen.control(kSuccessText).text,
                  "Your NUV has been successfully\r\nupgraded to the version shown\r\nbelow.");
        p.click(success.handle, kOk);
    }
    EXPECT_EQ(p.wait_exit(), 0);
    // The re-query went to the device that fetched the image, from the PC.
    ASSERT_EQ(page.connections().size(), 1u);
    EXPECT_EQ(page.connections()[0].peer_address, hosts.pc);
    EXPECT_NE(page.requests()[0].find("GET /admin/advanced HTTP/1.1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CompletionTest,
    ::testing::Values(VersionCase{"adapter_served_version", 30, 0, "4.1.12(a)", nullptr},
                      VersionCase{"adapter_other_version", 31, 0, "4.1.11(a)",
                                  "Upgrade Failed: Version not matching"},
                      VersionCase{"adapter_other_case", 32, 0, "4.1.12(A)",
                                  "Upgrade Failed: Version not matching"},
                      VersionCase{"phone_any_version", 33, 1, "9.9.9", nullptr}),
    [](const ::testing::TestParamInfo<VersionCase> &info) { return info.param.label; });

TEST(Completion, FlashWaitLastsItsTicksAcrossTheCounterWrap)
{
    // The counter starts at the flash wait's first reading, 10,000 ms before
    // its wrap; 20 times faster, the wait of 937 ticks of 32 ms lasts 1.5 s
    // and meets the wrap a third of the way through.
    Hosts hosts(40);
    http_peer::Peer page(hosts.device, 80, http_peer::always(device_page("4.1.12(a)")));
    Listener listener(hosts, 600, {}, "20", "4294957296");
    Program &p = listener.program();
    udp_peer::Socket device(hosts.device);
    device.send(hosts.pc, listener.port(), read_request(kName));
    expect_datagram(device, "OACK");
    device.send(hosts.pc, listener.port(), ack(0));
    expect_datagram(device, "DATA 1");
    device.send(hosts.pc, listener.port(), ack(1));
    expect_datagram(device, "DATA 2");
    auto last_ack = std::chrono::steady_clock::now();
    device.send(hosts.pc, listener.port(), ack(2));
    Event success = p.wait_open(kSuccess);
    auto waited = std::chrono::steady_clock::now() - last_ack;
    EXPECT_GE(waited, std::chrono::milliseconds(1450));
    EXPECT_LT(waited, std::chrono::milliseconds(8000));
    p.click(success.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

TEST(Completion, TransitionImageFirstThenTheTarget)
{
    Hosts hosts(41);
    std::mutex version_lock;
    std::string version = "2.0.9(t)";
    http_peer::Peer page(hosts.device, 80, [&](const std::string &, int) {
        std::lock_guard<std::mutex> hold(version_lock);
        return device_page(version);
    });
    Listener listener(hosts, 1500,
                      {"mode=0", "transition=700", "name=/nuv5.bi0", "second=/nuv6.bi1"});
    Program &p = listener.program();
    Event first_wait = p.wait_open(kWaiting);
    udp_peer::Socket device(hosts.device);
    std::string title;
    fetch_all(device, listener, "/nuv5.bi0", probe_image(700, "2.0.9(t)"), [&](uint16_t block) {
        if (block == 1)
            title = p.dump(p.wait_open(kUpload).handle).caption;
    });
    EXPECT_EQ(title, "Uploading Transition Firmware to NUV@" + hosts.device + " 0/700 Bytes");
    // After the transition image and a matching version: no screen, the
    // waiting screen again, with its explanation and its bar at 0.
    Event second_wait = p.wait_open(kWaiting, driver::Limit(30000));
    EXPECT_NE(second_wait.handle, first_wait.handle);
    Dump again = p.dump(second_wait.handle);
    EXPECT_EQ(again.control(kWaitingText).text, kWaitingExplanation);
    EXPECT_EQ(again.control(kBar).range_high, 1000);
    EXPECT_LT(again.control(kBar).position, 900);
    Event agreed = p.wait_msgbox();
    EXPECT_EQ(agreed.text, "second name agreed");
    p.press(agreed.handle, kOk);
    {
        std::lock_guard<std::mutex> hold(version_lock);
        version = "4.1.12(a)";
    }
    // The old name is no longer agreed.
    device.send(hosts.pc, listener.port(), read_request("/nuv5.bi0"));
    expect_silence(device, "a request for the transition's name");
    fetch_all(device, listener, "/nuv6.bi1", probe_image(1500, "4.1.12(a)"));
    Event success = p.wait_open(kSuccess, driver::Limit(30000));
    EXPECT_EQ(p.dump(success.handle).control(kVersionBox).text, "4.1.12(a)");
    p.click(success.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_EQ(page.connections().size(), 2u);
}

} // namespace
