// tests/tools/test_device_sim_tftp.cpp: the simulated device's TFTP fetch, flash and version report, seen from a loopback TFTP server and from its log.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "http/md5.h"
#include "tests/tools/sim_process.h"

using simtest::Json;
using simtest::Simulator;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

constexpr uint16_t kServerPort = 6969;

// ---- a loopback TFTP server in lock step, as the upgrader serves ----

// One datagram the fixture saw or sent.
struct Seen {
    bool incoming = false;
    bool on_stranger_socket = false;  // the fixture's second socket
    uint16_t peer_port = 0;
    std::string peer_address;
    Bytes bytes;
    int opcode() const { return bytes.size() >= 2 ? bytes[0] << 8 | bytes[1] : -1; }
    long block() const { return bytes.size() >= 4 ? bytes[2] << 8 | bytes[3] : -1; }
};

struct Round {
    Bytes image;
    long announced_size = -1;     // -1: the true size
    bool send_oack = true;        // false: answer the request with DATA 1
    long last_block_sent = -1;    // the server falls silent after sending this block (-1: never)
    bool duplicate_data = false;  // every DATA block goes out twice
    long stranger_after_ack = -1; // after this ACK a second socket sends a DATA block to the device
};

struct RoundResult {
    bool got_request = false;
    bool complete = false;
    Bytes request;
    std::string request_address;
    uint16_t request_port = 0;
    std::vector<Seen> wire;
};

Bytes u16(unsigned v) { return {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v & 0xff)}; }

void append(Bytes &b, const Bytes &more) { b.insert(b.end(), more.begin(), more.end()); }

void append_text(Bytes &b, const std::string &text) {
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
}

sockaddr_in socket_address(const std::string &address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

int udp_socket(const std::string &address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = socket_address(address, port);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct ServerConfig {
    int resend_ms = 100;   // a quiet cycle
    int max_quiet = 30;    // quiet cycles before the transfer fails
    int linger_ms = 400;   // listening on after the end, to see what else comes
    int request_wait_ms = 15000;
};

class TftpServer {
public:
    using Config = ServerConfig;

    TftpServer(const std::string &address, std::vector<Round> rounds, Config config = Config{})
        : address_(address), rounds_(std::move(rounds)), config_(config) {
        fd_ = udp_socket(address, kServerPort);
        stranger_ = udp_socket(address, 0);
        results_.resize(rounds_.size());
        thread_ = std::thread([this] { serve(); });
    }
    ~TftpServer() {
        join();
        if (fd_ >= 0) close(fd_);
        if (stranger_ >= 0) close(stranger_);
    }
    bool bound() const { return fd_ >= 0 && stranger_ >= 0; }
    // Waits for the fixture's end; its results may be read only afterwards.
    const std::vector<RoundResult> &results() {
        join();
        return results_;
    }

private:
    void join() {
        if (thread_.joinable()) thread_.join();
    }

    void send(RoundResult &r, int fd, const sockaddr_in &to, const Bytes &bytes) {
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        Seen s;
        s.on_stranger_socket = fd == stranger_;
        s.peer_port = ntohs(to.sin_port);
        s.bytes = bytes;
        r.wire.push_back(s);
    }

    // One datagram from either socket within `ms`; false when none came.
    bool receive(RoundResult &r, int ms, Seen &seen, sockaddr_in &from) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {stranger_, POLLIN, 0}};
        if (poll(p, 2, ms) <= 0) return false;
        int fd = (p[0].revents & POLLIN) != 0 ? fd_ : stranger_;
        unsigned char buffer[4096];
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0) return false;
        seen = Seen{};
        seen.incoming = true;
        seen.on_stranger_socket = fd == stranger_;
        seen.peer_port = ntohs(from.sin_port);
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        seen.peer_address = text;
        seen.bytes.assign(buffer, buffer + n);
        r.wire.push_back(seen);
        return true;
    }

    Bytes data_packet(const Round &round, long block) {
        Bytes b = u16(3);
        append(b, u16(static_cast<unsigned>(block) & 0xffff));
        size_t start = static_cast<size_t>(block - 1) * 512;
        size_t end = std::min(round.image.size(), start + 512);
        if (start < end) b.insert(b.end(), round.image.begin() + static_cast<long>(start),
                                  round.image.begin() + static_cast<long>(end));
        return b;
    }

    void send_current(const Round &round, RoundResult &r, const sockaddr_in &peer, long current) {
        if (current == 0) {
            Bytes oack = u16(6);
            long size = round.announced_size >= 0 ? round.announced_size : static_cast<long>(round.image.size());
            append_text(oack, "tsize");
            append_text(oack, std::to_string(size));
            append_text(oack, "timeout");
            append_text(oack, "5");
            send(r, fd_, peer, oack);
            return;
        }
        if (round.last_block_sent >= 0 && current > round.last_block_sent) return;
        send(r, fd_, peer, data_packet(round, current));
        if (round.duplicate_data) send(r, fd_, peer, data_packet(round, current));
    }

    void serve_round(const Round &round, RoundResult &r) {
        Seen seen;
        sockaddr_in peer{}, from{};
        auto request_deadline = Clock::now() + std::chrono::milliseconds(config_.request_wait_ms);
        while (!r.got_request && Clock::now() < request_deadline) {
            if (!receive(r, 50, seen, from) || seen.on_stranger_socket || seen.opcode() != 1) continue;
            r.got_request = true;
            r.request = seen.bytes;
            r.request_address = seen.peer_address;
            r.request_port = seen.peer_port;
            peer = from;
        }
        if (!r.got_request) return;
        const long block_count = static_cast<long>(round.image.size() / 512 + 1);
        long current = round.send_oack ? 0 : 1;
        send_current(round, r, peer, current);
        int quiet = 0;
        auto resend_at = Clock::now() + std::chrono::milliseconds(config_.resend_ms);
        while (quiet < config_.max_quiet) {
            int wait = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(resend_at - Clock::now()).count());
            if (wait <= 0 || !receive(r, wait, seen, from)) {
                if (Clock::now() < resend_at) continue;
                ++quiet;
                send_current(round, r, peer, current);
                resend_at = Clock::now() + std::chrono::milliseconds(config_.resend_ms);
                continue;
            }
            // What the upgrader ignores: strangers, oversize datagrams, other opcodes, stale ACKs.
            if (seen.on_stranger_socket || seen.bytes.size() > 1024 || from.sin_port != peer.sin_port ||
                from.sin_addr.s_addr != peer.sin_addr.s_addr || seen.opcode() != 4 ||
                seen.block() != (current & 0xffff))
                continue;
            if (round.stranger_after_ack == current) {
                Bytes fake = u16(3);
                append(fake, u16(static_cast<unsigned>(current + 1)));
                fake.insert(fake.end(), 100, 'X');
                send(r, stranger_, peer, fake);
            }
            ++current;
            quiet = 0;
            if (current > block_count) {
                r.complete = true;
                break;
            }
            send_current(round, r, peer, current);
            resend_at = Clock::now() + std::chrono::milliseconds(config_.resend_ms);
        }
        auto linger_end = Clock::now() + std::chrono::milliseconds(config_.linger_ms);
        while (Clock::now() < linger_end) receive(r, 20, seen, from);
    }

    void serve() {
        if (!bound()) return;
        for (size_t i = 0; i < rounds_.size(); ++i) serve_round(rounds_[i], results_[i]);
    }

    std::string address_;
    std::vector<Round> rounds_;
    Config config_;
    int fd_ = -1, stranger_ = -1;
    std::vector<RoundResult> results_;
    std::thread thread_;
};

// ---- reading the wire ----

// Block numbers of the ACKs that reached the server's port from `port`.
std::vector<long> acks_from(const RoundResult &r, uint16_t port) {
    std::vector<long> blocks;
    for (const Seen &s : r.wire)
        if (s.incoming && !s.on_stranger_socket && s.peer_port == port && s.opcode() == 4) blocks.push_back(s.block());
    return blocks;
}

std::vector<long> count_up(long first, long last) {
    std::vector<long> v;
    for (long i = first; i <= last; ++i) v.push_back(i);
    return v;
}

// The datagrams that reached the server's port from anywhere but the device's request port.
std::vector<Seen> from_other_ports(const RoundResult &r) {
    std::vector<Seen> out;
    for (const Seen &s : r.wire)
        if (s.incoming && !s.on_stranger_socket && s.peer_port != r.request_port) out.push_back(s);
    return out;
}

Bytes expected_request(const std::string &name, const std::string &timeout) {
    Bytes b = u16(1);
    for (const char *text : {name.c_str(), "octet", "tsize", "0", "timeout", timeout.c_str()}) append_text(b, text);
    return b;
}

// ---- images ----

// A firmware-like image: key at 0, version text at 92, deterministic filler.
Bytes make_image(size_t size, const std::string &version = "4.1.12(a)") {
    Bytes image(size);
    unsigned state = 12345;
    for (size_t i = 0; i < size; ++i) {
        state = state * 214013u + 2531011u;
        image[i] = static_cast<unsigned char>(state >> 16);
    }
    const std::string key = "tOrVaN9 fIrMwArE";
    for (size_t i = 0; i < key.size() && i < size; ++i) image[i] = static_cast<unsigned char>(key[i]);
    for (size_t i = 0; i < 33 && 92 + i < size; ++i)
        image[92 + i] = i < version.size() ? static_cast<unsigned char>(version[i]) : 0;
    return image;
}

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- the web side ----

int status_of(const std::string &reply) {
    return reply.size() >= 12 && reply.compare(0, 5, "HTTP/") == 0 ? std::atoi(reply.c_str() + 9) : 0;
}

int status_of_get(const Simulator &sim, const std::string &target) { return status_of(simtest::get(sim, target)); }

std::string md5_hex(const std::string &data) {
    Md5Context c;
    unsigned char d[16];
    md5_init(&c);
    md5_update(&c, data.data(), data.size());
    md5_final(d, &c);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char x : d) {
        out += digits[x >> 4];
        out += digits[x & 15];
    }
    return out;
}

// The upgrader's Authorization line for user admin, password secret, no qop (RFC 2617).
std::string authorization(const std::string &nonce, const std::string &uri) {
    std::string response = md5_hex(md5_hex("admin:NUV Device:secret") + ":" + nonce + ":" + md5_hex("GET:" + uri));
    return "Authorization: Digest username=\"admin\",realm=\"NUV Device\",nonce=\"" + nonce + "\",uri=\"" + uri +
           "\",algorithm=\"\",response=\"" + response + "\"";
}

// ---- the simulator ----

std::string work_dir() {
    mkdir(DEVICE_SIM_WORK, 0755);
    return DEVICE_SIM_WORK;
}

std::string test_file(const std::string &suffix) {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char &c : name)
        if (c == '/') c = '_';
    return work_dir() + "/" + name + suffix;
}

std::vector<Json> parse_log(const Simulator &sim) {
    std::vector<Json> entries;
    for (const std::string &line : sim.log_lines()) {
        Json entry;
        EXPECT_TRUE(simtest::parse_json(line, entry)) << line;
        entries.push_back(entry);
    }
    return entries;
}

std::vector<Json> events(const std::vector<Json> &log, const std::string &event) {
    std::vector<Json> out;
    for (const Json &e : log)
        if (e["event"].text == event) out.push_back(e);
    return out;
}

// The first fetch record; an empty object when there is none.
Json the_fetch(const std::vector<Json> &log) {
    std::vector<Json> f = events(log, "fetch");
    return f.empty() ? Json{} : f[0];
}

// Each test on addresses of its own: the device on 127.0.3.N, the server on 127.0.4.N.
struct Rig {
    std::string device, server;
    std::string log_path;
    std::unique_ptr<Simulator> sim;

    Rig(int n, std::vector<std::string> args) {
        device = "127.0.3." + std::to_string(n);
        server = "127.0.4." + std::to_string(n);
        log_path = test_file(".jsonl");
        std::vector<std::string> all = {"--fetch-delay-ms", "50", "--retry-ms", "2000", "--flash-seconds", "0.3"};
        all.insert(all.end(), args.begin(), args.end());
        sim = std::make_unique<Simulator>(device, all, log_path);
        EXPECT_EQ(sim->ready_line().rfind("listening " + device + ":", 0), 0u) << sim->ready_line();
    }

    std::string command(const std::string &name) const {
        return "/admin/upgrade?tftp://" + server + ":" + std::to_string(kServerPort) + name;
    }
    int upgrade(const std::string &name) const { return status_of_get(*sim, command(name)); }

    // Waits until `done` holds for the log, at most `ms`; the log then.
    std::vector<Json> wait_for(const std::function<bool(const std::vector<Json> &)> &done, int ms = 15000) const {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        std::vector<Json> log;
        while (Clock::now() < deadline) {
            log = parse_log(*sim);
            if (done(log)) return log;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "the log did not reach the awaited state in " << ms << " ms";
        return log;
    }
    std::vector<Json> wait_for_event(const std::string &event, size_t count = 1, const std::string &phase = "") const {
        return wait_for([&](const std::vector<Json> &log) {
            size_t n = 0;
            for (const Json &e : events(log, event))
                if (phase.empty() || e["phase"].text == phase) ++n;
            return n >= count;
        });
    }
    std::string scraped_version() const {
        std::string page = simtest::get(*sim, "/admin/advanced");
        size_t at = page.find("Software Version:");
        if (at == std::string::npos) return "<no page>";
        at = page.find("<b>", at);
        return page.substr(at + 3, page.find('<', at + 3) - at - 3);
    }
};

// The device's TFTP records of one fetch, in order, with direction and opcode.
std::vector<Json> packets(const std::vector<Json> &log, long fetch, const std::string &direction, int opcode) {
    std::vector<Json> out;
    for (const Json &e : events(log, "tftp"))
        if (e["fetch"].number == fetch && e["direction"].text == direction && e["opcode"].number == opcode)
            out.push_back(e);
    return out;
}

std::vector<long> blocks_of(const std::vector<Json> &records) {
    std::vector<long> out;
    for (const Json &r : records) out.push_back(static_cast<long>(r["block"].number));
    return out;
}

} // namespace

// ---- a clean fetch ----

struct SizeCase {
    const char *name;
    int rig;
    size_t size;
    const char *reported;  // the version after the flash
};

void PrintTo(const SizeCase &c, std::ostream *os) { *os << c.name; }

class CleanFetch : public ::testing::TestWithParam<SizeCase> {};

TEST_P(CleanFetch, TakesTheImageInLockStepKeepsItAndReportsItsVersion) {
    const SizeCase &k = GetParam();
    const std::string out = test_file(".bin");
    unlink(out.c_str());
    Rig rig(k.rig, {"--image-out", out, "--tftp-timeout", "3"});
    Bytes image = make_image(k.size);
    TftpServer server(rig.server, {Round{image}});
    ASSERT_TRUE(server.bound());
    EXPECT_EQ(rig.upgrade("/nuv1a2b.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    const RoundResult &r = server.results()[0];

    ASSERT_TRUE(r.got_request);
    EXPECT_EQ(r.request, expected_request("/nuv1a2b.bi1", "3"));
    EXPECT_EQ(r.request_address, rig.device) << "the request leaves from the device's own address";
    EXPECT_TRUE(r.complete);
    long blocks = static_cast<long>(k.size / 512 + 1);
    EXPECT_EQ(acks_from(r, r.request_port), count_up(0, blocks)) << "each block acknowledged once, in order";
    EXPECT_TRUE(from_other_ports(r).empty());
    EXPECT_EQ(read_file(out), image);

    std::vector<Json> fetches = events(log, "fetch");
    ASSERT_EQ(fetches.size(), 1u);
    const Json &f = fetches[0];
    EXPECT_EQ(f["name"].text, "/nuv1a2b.bi1");
    EXPECT_EQ(f["server"].text, rig.server + ":" + std::to_string(kServerPort));
    EXPECT_EQ(f["bytes"].number, static_cast<double>(k.size));
    EXPECT_EQ(f["tsize"].number, static_cast<double>(k.size));
    EXPECT_EQ(f["timeout"].number, 5);
    EXPECT_TRUE(f["complete"].boolean);
    EXPECT_TRUE(f["size_matched"].boolean);
    EXPECT_EQ(f["image_out"].text, out);
    EXPECT_EQ(f["result"].text, "ok");
    EXPECT_EQ(f["md5"].text.size(), 32u);

    // Every packet is in the log, as the server saw it.
    std::vector<Json> requests = packets(log, 1, "sent", 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["name"].text, "/nuv1a2b.bi1");
    EXPECT_EQ(requests[0]["mode"].text, "octet");
    ASSERT_EQ(requests[0]["options"].items.size(), 2u);
    EXPECT_EQ(requests[0]["options"].items[0].items[0].text, "tsize");
    EXPECT_EQ(requests[0]["options"].items[1].items[1].text, "3");
    EXPECT_EQ(requests[0]["peer"].text, rig.server + ":" + std::to_string(kServerPort));
    std::vector<Json> oacks = packets(log, 1, "received", 6);
    ASSERT_EQ(oacks.size(), 1u);
    EXPECT_EQ(oacks[0]["options"].items[0].items[1].text, std::to_string(k.size));
    EXPECT_EQ(blocks_of(packets(log, 1, "sent", 4)), count_up(0, blocks));
    std::vector<Json> data = packets(log, 1, "received", 3);
    EXPECT_EQ(blocks_of(data), count_up(1, blocks));
    EXPECT_EQ(data.back()["length"].number, static_cast<double>(4 + k.size % 512));

    EXPECT_EQ(rig.scraped_version(), k.reported);
}

constexpr SizeCase kCleanCases[] = {
    {"thousand_bytes", 10, 1000, "4.1.12(a)"},
    {"two_full_blocks_then_empty", 11, 1024, "4.1.12(a)"},
    {"empty_image_keeps_the_old_version", 12, 0, "3.1.4(b)"},
    {"firmware_sized", 13, 751211, "4.1.12(a)"},
};

INSTANTIATE_TEST_SUITE_P(Sizes, CleanFetch, ::testing::ValuesIn(kCleanCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- the flash ----

TEST(Flash, ConnectionsAreRefusedWhileFlashingAndTheVersionChangesAfter) {
    Rig rig(21, {"--flash-seconds", "1.5"});
    TftpServer server(rig.server, {Round{make_image(3000, "5.0.1(z)")}});
    EXPECT_EQ(rig.scraped_version(), "3.1.4(b)");
    EXPECT_EQ(rig.upgrade("/nuv77.bi1"), 200);
    rig.wait_for_event("flash", 1, "start");
    auto started = Clock::now();
    int error = 0;
    EXPECT_EQ(simtest::exchange(rig.device, rig.sim->port(), "GET /admin/advanced HTTP/1.1\r\n\r\n", &error), "");
    EXPECT_EQ(error, ECONNREFUSED) << "the web server is down while the device flashes";
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    EXPECT_GE(std::chrono::duration<double>(Clock::now() - started).count(), 1.2);
    std::vector<Json> flashes = events(log, "flash");
    ASSERT_EQ(flashes.size(), 2u);
    EXPECT_EQ(flashes[0]["version"].text, "5.0.1(z)");
    EXPECT_EQ(flashes[0]["version_source"].text, "image");
    EXPECT_GE(flashes[1]["seconds"].number - flashes[0]["seconds"].number, 1.45);
    EXPECT_EQ(rig.scraped_version(), "5.0.1(z)") << "back on the same port with the image's version";
    EXPECT_TRUE(server.results()[0].complete);
}

TEST(Flash, AProtectedDeviceTakesANewNonceAfterTheFlash) {
    Rig rig(22, {"--password", "secret", "--nonce", "n0nce1", "--nonce-change", "flash"});
    TftpServer server(rig.server, {Round{make_image(600)}});
    std::string target = rig.command("/nuv1.bi1");
    EXPECT_EQ(status_of(simtest::get(*rig.sim, target)), 401) << "no fetch without credentials";
    EXPECT_EQ(status_of(simtest::get(*rig.sim, target, authorization("n0nce1", target))), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    EXPECT_TRUE(server.results()[0].complete);
    EXPECT_EQ(events(log, "fetch").size(), 1u) << "only the authorised command fetched";
    std::string after = events(log, "flash")[1]["nonce"].text;
    EXPECT_FALSE(after.empty());
    EXPECT_NE(after, "n0nce1");
    std::string challenge = simtest::get(*rig.sim, "/admin/advanced");
    EXPECT_NE(challenge.find("nonce=\"" + after + "\""), std::string::npos) << challenge;
}

TEST(Flash, ReportVersionOverridesTheHeader) {
    Rig rig(23, {"--report-version", "9.9.9(x)"});
    TftpServer server(rig.server, {Round{make_image(2000, "5.0.1(z)")}});
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    EXPECT_EQ(events(log, "flash")[0]["version_source"].text, "option");
    EXPECT_EQ(rig.scraped_version(), "9.9.9(x)");
}

TEST(Flash, ASecondCommandFetchesAndFlashesAgainWithFaultsOnlyOnTheFirst) {
    Rig rig(24, {"--repeat-acks", "--tftp-fault-fetches", "1"});
    TftpServer server(rig.server, {Round{make_image(1500, "4.0.0(t)")}, Round{make_image(2500, "4.1.12(a)")}});
    EXPECT_EQ(rig.upgrade("/nuv5.bi0"), 200);
    rig.wait_for_event("flash", 1, "end");
    EXPECT_EQ(rig.scraped_version(), "4.0.0(t)");
    EXPECT_EQ(rig.upgrade("/nuv6.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 2, "end");
    EXPECT_EQ(rig.scraped_version(), "4.1.12(a)");
    const std::vector<RoundResult> &r = server.results();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].request, expected_request("/nuv5.bi0", "5"));
    EXPECT_EQ(r[1].request, expected_request("/nuv6.bi1", "5"));
    EXPECT_EQ(acks_from(r[0], r[0].request_port), (std::vector<long>{0, 0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(acks_from(r[1], r[1].request_port), count_up(0, 5)) << "the fault was limited to the first fetch";
    std::vector<Json> fetches = events(log, "fetch");
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_EQ(fetches[1]["fetch"].number, 2);
    EXPECT_EQ(fetches[1]["name"].text, "/nuv6.bi1");
}

// ---- what the device makes of the server ----

TEST(Fetch, ASizeOtherThanTheAnnouncedOneIsNotFlashed) {
    Rig rig(30, {});
    Round round{make_image(1000)};
    round.announced_size = 1001;
    TftpServer server(rig.server, {round});
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("fetch");
    EXPECT_TRUE(server.results()[0].complete);
    const Json f = the_fetch(log);
    EXPECT_TRUE(f["complete"].boolean);
    EXPECT_FALSE(f["size_matched"].boolean);
    EXPECT_FALSE(f["flashing"].boolean);
    EXPECT_EQ(f["tsize"].number, 1001);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(events(parse_log(*rig.sim), "flash").empty());
    EXPECT_EQ(rig.scraped_version(), "3.1.4(b)");
}

TEST(Fetch, AServerThatIgnoresTheOptionsIsReadFromItsFirstBlock) {
    Rig rig(31, {});
    Round round{make_image(1300)};
    round.send_oack = false;
    TftpServer server(rig.server, {round});
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    const RoundResult &r = server.results()[0];
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(acks_from(r, r.request_port), count_up(1, 3));
    const Json f = the_fetch(log);
    EXPECT_EQ(f["tsize"].type, Json::Type::null);
    EXPECT_EQ(f["size_matched"].type, Json::Type::null);
    EXPECT_TRUE(f["flashing"].boolean);
}

TEST(Fetch, TheRequestIsResentThenTheDeviceGivesUp) {
    Rig rig(32, {"--retry-ms", "150", "--tries", "3"});
    // A bare socket that only listens: nobody answers.
    int fd = udp_socket(rig.server, kServerPort);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("fetch");
    int requests = 0;
    unsigned char buffer[1024];
    while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) ++requests;
    close(fd);
    EXPECT_EQ(requests, 3);
    const Json f = the_fetch(log);
    EXPECT_FALSE(f["complete"].boolean);
    EXPECT_EQ(f["result"].text, "no answer to the read request");
    EXPECT_EQ(packets(log, 1, "sent", 1).size(), 3u);
}

TEST(Fetch, TheLastAckIsResentWhenTheServerFallsSilentThenTheDeviceGivesUp) {
    Rig rig(33, {"--retry-ms", "150", "--tries", "3"});
    Round round{make_image(3000)};
    round.last_block_sent = 2;
    TftpServer::Config config;
    config.max_quiet = 12;
    TftpServer server(rig.server, {round}, config);
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("fetch");
    const RoundResult &r = server.results()[0];
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(acks_from(r, r.request_port), (std::vector<long>{0, 1, 2, 2, 2}));
    const Json f = the_fetch(log);
    EXPECT_FALSE(f["complete"].boolean);
    EXPECT_EQ(f["bytes"].number, 1024);
    EXPECT_EQ(f["result"].text, "no block 3 after 3 tries");
    EXPECT_FALSE(f["flashing"].boolean);
}

TEST(Fetch, ARepeatedBlockIsAcknowledgedAgain) {
    const std::string out = test_file(".bin");
    Rig rig(34, {"--image-out", out});
    Round round{make_image(1400)};
    round.duplicate_data = true;
    TftpServer server(rig.server, {round});
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    const RoundResult &r = server.results()[0];
    EXPECT_EQ(acks_from(r, r.request_port), (std::vector<long>{0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(read_file(out), round.image) << "a repeated block is not taken twice";
    size_t repeated = 0;
    for (const Json &p : packets(log, 1, "received", 3)) repeated += p["note"].text == "repeated block, acknowledged again";
    EXPECT_EQ(repeated, 3u);
}

TEST(Fetch, APacketFromAnotherPortIsAnsweredError5AndIgnored) {
    const std::string out = test_file(".bin");
    Rig rig(35, {"--image-out", out});
    Round round{make_image(2000)};
    round.stranger_after_ack = 1;
    TftpServer server(rig.server, {round});
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    const RoundResult &r = server.results()[0];
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(acks_from(r, r.request_port), count_up(0, 4)) << "the stranger's block got no ACK";
    bool error5 = false;
    for (const Seen &s : r.wire)
        if (s.incoming && s.on_stranger_socket && s.opcode() == 5 && s.block() == 5) error5 = true;
    EXPECT_TRUE(error5) << "the stranger is told: unknown transfer ID";
    EXPECT_EQ(read_file(out), round.image);
    size_t noted = 0;
    for (const Json &p : packets(log, 1, "received", 3)) noted += p["note"].text == "unknown peer, answered ERROR 5";
    EXPECT_EQ(noted, 1u);
}

TEST(Fetch, ALoopbackDeviceSendsNothingToOtherAddresses) {
    Rig rig(36, {});
    EXPECT_EQ(status_of_get(*rig.sim, "/admin/upgrade?tftp://192.168.0.5:69/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("fetch");
    EXPECT_EQ(events(log, "fetch")[0]["result"].text, "the server address is not reachable from a loopback device");
    EXPECT_TRUE(events(log, "tftp").empty());
}

TEST(Fetch, TheWebServerAnswersDuringAFetchAndASecondCommandWaits) {
    Rig rig(37, {"--ignore-oack", "--retry-ms", "1000", "--tries", "3"});
    TftpServer::Config config;
    config.max_quiet = 20;
    TftpServer server(rig.server, {Round{make_image(800)}}, config);
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    rig.wait_for([](const std::vector<Json> &log) { return !packets(log, 1, "received", 6).empty(); });
    auto asked = Clock::now();
    EXPECT_EQ(rig.scraped_version(), "3.1.4(b)");
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - asked).count(), 0.5);
    EXPECT_EQ(rig.upgrade("/nuv2.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("upgrade_ignored");
    EXPECT_TRUE(events(log, "fetch").empty()) << "the fetch is still under way";
    EXPECT_EQ(events(log, "upgrade_ignored")[0]["name"].text, "/nuv2.bi1");
}

// ---- faults: what crosses the wire ----

namespace {

// The device's ACKs in the order it made them, lost ones included.
std::vector<Json> acks_made(const std::vector<Json> &log) {
    std::vector<Json> out;
    for (const Json &e : events(log, "tftp"))
        if ((e["direction"].text == "sent" || e["direction"].text == "lost") && e["opcode"].number == 4)
            out.push_back(e);
    return out;
}

size_t count_direction(const std::vector<Json> &records, const std::string &direction) {
    size_t n = 0;
    for (const Json &r : records) n += r["direction"].text == direction;
    return n;
}

// What reached the server's port from `port` after the read request.
std::vector<Seen> incoming_from(const RoundResult &r, uint16_t port) {
    std::vector<Seen> out;
    for (const Seen &s : r.wire)
        if (s.incoming && !s.on_stranger_socket && s.peer_port == port && s.opcode() != 1) out.push_back(s);
    return out;
}

size_t sent_by_server(const RoundResult &r, int opcode, long block) {
    size_t n = 0;
    for (const Seen &s : r.wire) n += !s.incoming && s.opcode() == opcode && (block < 0 || s.block() == block);
    return n;
}


using FaultCheck = std::function<void(const RoundResult &, const std::vector<Json> &)>;

struct FaultCase {
    const char *name;
    int rig;
    std::vector<std::string> args;
    int max_quiet;  // the fixture's quiet cycles before it gives up
    FaultCheck check;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

constexpr size_t kFaultImage = 2300;  // blocks 1 to 5, the last of 252 bytes

void expect_clean_end(const RoundResult &r, const std::vector<Json> &log) {
    EXPECT_TRUE(r.complete);
    const Json f = the_fetch(log);
    EXPECT_EQ(f["result"].text, "ok");
    EXPECT_EQ(f["bytes"].number, static_cast<double>(kFaultImage));
    EXPECT_EQ(f["md5"].text, md5_hex(std::string(reinterpret_cast<const char *>(make_image(kFaultImage).data()),
                                                 kFaultImage)));
    EXPECT_TRUE(f["flashing"].boolean);
}

void expect_failed(const RoundResult &r, const std::vector<Json> &log, const std::string &result) {
    EXPECT_FALSE(r.complete);
    const Json f = the_fetch(log);
    EXPECT_FALSE(f["complete"].boolean);
    EXPECT_EQ(f["result"].text, result);
    EXPECT_FALSE(f["flashing"].boolean);
}

// The ACKs that reached the server are exactly those the log says were sent.
void expect_wire_matches_log(const RoundResult &r, const std::vector<Json> &log) {
    std::vector<long> sent;
    for (const Json &a : acks_made(log))
        if (a["direction"].text == "sent") sent.push_back(static_cast<long>(a["block"].number));
    EXPECT_EQ(acks_from(r, r.request_port), sent);
}

const FaultCase kFaultCases[] = {
    {"lose_every_third_ack", 40, {"--lose-ack-every", "3"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         std::vector<Json> made = acks_made(log);
         ASSERT_GE(made.size(), 8u);
         for (size_t i = 0; i < made.size(); ++i)
             EXPECT_EQ(made[i]["direction"].text, (i + 1) % 3 == 0 ? "lost" : "sent") << i;
         expect_wire_matches_log(r, log);
     }},
    {"lose_the_last_ack_then_acknowledge_the_resent_block", 39, {"--lose-ack-every", "6"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         std::vector<Json> made = acks_made(log);
         ASSERT_EQ(made.size(), 7u);
         EXPECT_EQ(made[5]["direction"].text, "lost");
         EXPECT_EQ(made[5]["block"].number, 5);
         EXPECT_EQ(made[6]["direction"].text, "sent") << "the device stays for a resent last block";
         EXPECT_EQ(made[6]["block"].number, 5);
         EXPECT_EQ(sent_by_server(r, 3, 5), 2u);
         expect_wire_matches_log(r, log);
     }},
    {"lose_a_share_of_acks", 41, {"--lose-acks", "40", "--seed", "7"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         EXPECT_GE(count_direction(acks_made(log), "lost"), 1u);
         expect_wire_matches_log(r, log);
     }},
    {"repeat_acks", 42, {"--repeat-acks"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         EXPECT_EQ(acks_from(r, r.request_port), (std::vector<long>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
     }},
    {"ack_from_other_port", 43, {"--ack-from-other-port", "2"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         std::vector<Seen> other = from_other_ports(r);
         ASSERT_EQ(other.size(), 1u);
         EXPECT_EQ(other[0].opcode(), 4);
         EXPECT_EQ(other[0].block(), 2);
         EXPECT_EQ(acks_from(r, r.request_port), count_up(0, 5)) << "ACK 2 came again from the right port";
         EXPECT_EQ(sent_by_server(r, 3, 2), 2u) << "the server resent block 2 after ignoring the stranger";
     }},
    {"ignore_oack", 44, {"--ignore-oack", "--retry-ms", "250", "--tries", "3"}, 10,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_failed(r, log, "the OACK was never acknowledged (fault)");
         EXPECT_TRUE(acks_from(r, r.request_port).empty());
         EXPECT_TRUE(from_other_ports(r).empty());
         EXPECT_EQ(sent_by_server(r, 6, -1), 11u) << "the OACK and its ten resends";
     }},
    {"error_at_block_then_carry_on", 45, {"--error-at-block", "2"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         std::vector<Seen> in = incoming_from(r, r.request_port);
         ASSERT_GE(in.size(), 5u);
         EXPECT_EQ(in[2].opcode(), 4);
         EXPECT_EQ(in[2].block(), 2);
         EXPECT_EQ(in[3].opcode(), 5) << "ERROR right after ACK 2";
         EXPECT_EQ(in[3].block(), 0) << "error code 0";
         EXPECT_EQ(acks_from(r, r.request_port), count_up(0, 5));
     }},
    {"abort_at_block", 46, {"--abort-at-block", "2"}, 10,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_failed(r, log, "aborted at block 2 (fault)");
         EXPECT_EQ(acks_from(r, r.request_port), count_up(0, 1));
         std::vector<Seen> in = incoming_from(r, r.request_port);
         ASSERT_EQ(in.size(), 3u);
         EXPECT_EQ(in[2].opcode(), 5);
         std::vector<Json> errors = packets(log, 1, "sent", 5);
         ASSERT_EQ(errors.size(), 1u);
         EXPECT_EQ(errors[0]["error_code"].number, 0);
         EXPECT_EQ(errors[0]["error_text"].text, "simulated abort at block 2");
     }},
    {"silent_after_block", 47, {"--silent-after-block", "2", "--retry-ms", "250", "--tries", "3"}, 10,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_failed(r, log, "silent after block 2 (fault)");
         EXPECT_EQ(acks_from(r, r.request_port), count_up(0, 2));
         EXPECT_GE(sent_by_server(r, 3, 3), 2u) << "block 3 was resent and never acknowledged";
         EXPECT_EQ(the_fetch(log)["bytes"].number, 1024);
     }},
    {"stray_datagrams", 48, {"--stray-datagrams", "2"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         std::vector<Seen> other = from_other_ports(r);
         ASSERT_EQ(other.size(), 2u);
         EXPECT_EQ(other[0].block(), 1) << "after ACK 0 a stray ACK of the next block";
         EXPECT_EQ(other[1].block(), 2);
         EXPECT_EQ(other[0].peer_port, other[1].peer_port) << "both from the one second socket";
         EXPECT_EQ(acks_from(r, r.request_port), count_up(0, 5));
     }},
    {"oversize_ack", 49, {"--oversize-ack", "1"}, 30,
     [](const RoundResult &r, const std::vector<Json> &log) {
         expect_clean_end(r, log);
         std::vector<Seen> in = incoming_from(r, r.request_port);
         ASSERT_GE(in.size(), 3u);
         EXPECT_EQ(in[1].bytes.size(), 1100u);
         EXPECT_EQ(in[1].block(), 1);
         EXPECT_EQ(in[2].bytes.size(), 4u) << "after the server's resend, a plain ACK 1";
         EXPECT_EQ(in[2].block(), 1);
         EXPECT_EQ(packets(log, 1, "sent", 4)[1]["length"].number, 1100);
     }},
};

} // namespace

class Fault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Fault, CrossesTheWireAsDescribed) {
    const FaultCase &k = GetParam();
    Rig rig(k.rig, k.args);
    TftpServer::Config config;
    config.max_quiet = k.max_quiet;
    TftpServer server(rig.server, {Round{make_image(kFaultImage)}}, config);
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    rig.wait_for_event("fetch");
    const RoundResult &r = server.results()[0];
    ASSERT_TRUE(r.got_request);
    k.check(r, parse_log(*rig.sim));
}

INSTANTIATE_TEST_SUITE_P(Options, Fault, ::testing::ValuesIn(kFaultCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Faults, TheSameSeedLosesTheSameAcks) {
    std::vector<std::string> patterns;
    for (int run = 0; run < 2; ++run) {
        Rig rig(50 + run, {"--lose-acks", "50", "--seed", "99"});
        TftpServer server(rig.server, {Round{make_image(kFaultImage)}});
        EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
        std::vector<Json> log = rig.wait_for_event("fetch");
        EXPECT_TRUE(server.results()[0].complete);
        std::string pattern;
        for (const Json &a : acks_made(log)) pattern += a["direction"].text == "lost" ? 'x' : '.';
        patterns.push_back(pattern);
    }
    EXPECT_EQ(patterns[0], patterns[1]);
    EXPECT_NE(patterns[0].find('x'), std::string::npos);
}

// ---- an outside command in place of the client ----

TEST(Command, CurlFetchesTheImageAndTheFlashFollows) {
    const std::string out = test_file(".bin");
    unlink(out.c_str());
    Rig rig(60, {"--tftp-command", "curl -s -S -o {file} tftp://{address}:{port}/{name}", "--image-out", out});
    Bytes image = make_image(5000, "6.0.0(c)");
    TftpServer server(rig.server, {Round{image}});
    EXPECT_EQ(rig.upgrade("/nuv9.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("flash", 1, "end");
    const RoundResult &r = server.results()[0];
    ASSERT_TRUE(r.got_request);
    ASSERT_GE(r.request.size(), 12u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(r.request.data()) + 2), "/nuv9.bi1");
    EXPECT_TRUE(r.complete);
    const Json f = the_fetch(log);
    EXPECT_EQ(f["via"].text, "command");
    EXPECT_EQ(f["command_status"].number, 0);
    EXPECT_EQ(f["result"].text, "ok");
    EXPECT_EQ(read_file(out), image);
    EXPECT_EQ(rig.scraped_version(), "6.0.0(c)");
}

TEST(Command, AFailingCommandIsNotFlashedAndNamesAreNotGivenToAShell) {
    // Through a shell this would run touch; without one, false gets the
    // name as one word and fails.
    Rig rig(61, {"--tftp-command", "false {name} {file}"});
    const std::string marker = test_file(".marker");
    unlink(marker.c_str());
    EXPECT_EQ(rig.upgrade("/x;touch${IFS}" + marker), 200);
    std::vector<Json> log = rig.wait_for_event("fetch");
    const Json f = the_fetch(log);
    EXPECT_EQ(f["command_status"].number, 1);
    EXPECT_EQ(f["result"].text, "the command failed");
    EXPECT_FALSE(f["flashing"].boolean);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(events(parse_log(*rig.sim), "flash").empty());
    struct stat info;
    EXPECT_NE(stat(marker.c_str(), &info), 0) << "the name was run by a shell";
}

TEST(Command, AProgramThatCannotBeStartedIsReported) {
    Rig rig(62, {"--tftp-command", "/nonexistent/fetcher {file}"});
    EXPECT_EQ(rig.upgrade("/nuv1.bi1"), 200);
    std::vector<Json> log = rig.wait_for_event("fetch");
    EXPECT_EQ(the_fetch(log)["result"].text.rfind("cannot start '/nonexistent/fetcher'", 0), 0u)
        << the_fetch(log)["result"].text;
}

// ---- the command line ----

TEST(Program, HelpListsTheTftpOptions) {
    simtest::Finished run = simtest::run_to_end({"--help"}, 5000);
    EXPECT_EQ(run.status, 0);
    for (const char *option : {"--fetch-delay-ms", "--tftp-timeout", "--retry-ms", "--tries", "--flash-seconds",
                               "--report-version", "--image-out", "--tftp-command", "--tftp-fault-fetches",
                               "--lose-acks", "--seed", "--lose-ack-every", "--repeat-acks", "--ack-from-other-port",
                               "--ignore-oack", "--error-at-block", "--abort-at-block", "--silent-after-block",
                               "--stray-datagrams", "--oversize-ack"})
        EXPECT_NE(run.out.find(std::string("  ") + option + " "), std::string::npos) << option;
}

struct BadCase {
    const char *name;
    std::vector<std::string> args;
    const char *mentioned;
};

void PrintTo(const BadCase &c, std::ostream *os) { *os << c.name; }

class BadTftpOption : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadTftpOption, ExitsWith2AndSaysWhy) {
    simtest::Finished run = simtest::run_to_end(GetParam().args, 5000);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(GetParam().mentioned), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BadTftpOption, ::testing::Values(
    BadCase{"flash_negative", {"--flash-seconds", "-1"}, "--flash-seconds"},
    BadCase{"flash_not_a_number", {"--flash-seconds", "0.5s"}, "--flash-seconds"},
    BadCase{"percent_over_100", {"--lose-acks", "101"}, "--lose-acks"},
    BadCase{"block_over_65535", {"--error-at-block", "65536"}, "--error-at-block"},
    BadCase{"command_without_file", {"--tftp-command", "curl tftp://{address}:{port}{name}"}, "{file}"},
    BadCase{"command_unknown_placeholder", {"--tftp-command", "curl -o {file} {host}"}, "placeholders"},
    BadCase{"command_with_faults", {"--tftp-command", "curl -o {file}", "--repeat-acks"}, "built-in client"},
    BadCase{"version_with_tag", {"--report-version", "1<2"}, "--report-version"}),
    [](const auto &info) { return std::string(info.param.name); });
