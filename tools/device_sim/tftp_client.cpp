// tools/device_sim/tftp_client.cpp: the simulated device's TFTP fetch of a firmware image, driven by the main poll loop.
//
// The device asks once for the named file, locks onto the address and port
// of the first answer and acknowledges every DATA block in lock step. The
// faults of the fetch are applied in send_ack, the one place an ACK leaves.
#include "tools/device_sim/tftp_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "http/md5.h"

namespace sim {

namespace {

constexpr size_t kBlockSize = 512;
constexpr size_t kReceiveRoom = 65536;         // every UDP datagram fits, so lengths are logged true
constexpr size_t kMaxImageBytes = 64u << 20;   // more than any flash of the device holds
constexpr size_t kMaxRequestName = 480;        // keeps the read request within 512 bytes
constexpr size_t kOversizeBytes = 1100;
constexpr int kCommandSeconds = 300;
constexpr int kReadsPerCall = 64;              // the HTTP side gets its turn between bursts

enum Opcode { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5, kOack = 6 };

using Bytes = std::vector<unsigned char>;

std::string address_text(const sockaddr_in &a) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

sockaddr_in make_address(uint32_t host, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(host);
    a.sin_port = htons(port);
    return a;
}

bool is_loopback(uint32_t host) { return (host >> 24) == 127; }

// A non-blocking UDP socket on the device's own address and a free port.
int open_udp(uint32_t host, std::string &text, std::string &why) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return -1;
    }
    sockaddr_in local = make_address(host, 0);
    socklen_t length = sizeof local;
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        why = std::string("cannot bind a UDP socket: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    text = address_text(local);
    return fd;
}

void put16(Bytes &b, unsigned value) {
    b.push_back(static_cast<unsigned char>((value >> 8) & 0xff));
    b.push_back(static_cast<unsigned char>(value & 0xff));
}

void put_text(Bytes &b, const std::string &text) {
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
}

Bytes ack_packet(long block) {
    Bytes b;
    put16(b, kAck);
    put16(b, static_cast<unsigned>(block) & 0xffff);
    return b;
}

Bytes error_packet(int code, const std::string &text) {
    Bytes b;
    put16(b, kError);
    put16(b, static_cast<unsigned>(code));
    put_text(b, text);
    return b;
}

unsigned get16(const unsigned char *p) { return (static_cast<unsigned>(p[0]) << 8) | p[1]; }

// A zero-terminated text from `at`; false when the datagram ends first.
bool read_text(const unsigned char *p, size_t length, size_t &at, std::string &out) {
    out.clear();
    while (at < length && p[at] != 0) out += static_cast<char>(p[at++]);
    if (at >= length) return false;
    ++at;
    return true;
}

void read_options(const unsigned char *p, size_t length, size_t at, PacketRecord &r) {
    r.has_options = true;
    while (at < length) {
        std::string name, value;
        bool whole = read_text(p, length, at, name);
        if (whole) whole = read_text(p, length, at, value);
        r.options.emplace_back(name, value);
        if (!whole) break;
    }
}

void decode(const unsigned char *p, size_t length, PacketRecord &r) {
    r.length = static_cast<long>(length);
    if (length < 2) return;
    r.opcode = static_cast<int>(get16(p));
    size_t at = 2;
    switch (r.opcode) {
    case kRrq:
    case kWrq:
        r.has_name = true;
        if (read_text(p, length, at, r.name) && read_text(p, length, at, r.mode)) read_options(p, length, at, r);
        break;
    case kData:
    case kAck:
        if (length >= 4) r.block = static_cast<long>(get16(p + 2));
        break;
    case kError:
        if (length >= 4) {
            r.error_code = static_cast<int>(get16(p + 2));
            at = 4;
            read_text(p, length, at, r.error_text);  // a text without its zero is kept as it came
        }
        break;
    case kOack:
        read_options(p, length, at, r);
        break;
    default:
        break;
    }
}

PacketRecord record_for(const TftpFetch &f, const char *direction, const std::string &peer,
                        const std::string &local, const unsigned char *p, size_t length, const std::string &note) {
    PacketRecord r;
    r.fetch = f.number;
    r.direction = direction;
    r.peer = peer;
    r.local = local;
    decode(p, length, r);
    r.note = note;
    return r;
}

void transmit(const TftpFetch &f, int fd, const std::string &local, const Bytes &bytes, const sockaddr_in &to,
              const std::string &note) {
    ssize_t sent = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    std::string why = note;
    if (sent < 0) why += std::string(why.empty() ? "" : "; ") + "send failed: " + std::strerror(errno);
    log_packet(record_for(f, "sent", address_text(to), local, bytes.data(), bytes.size(), why));
}

// The second socket of the faults that send from another port.
int other_socket(TftpFetch &f) {
    if (f.other_socket < 0) {
        std::string why;
        f.other_socket = open_udp(f.options->address_host, f.other_text, why);
        if (f.other_socket < 0) std::fprintf(stderr, "nuv-device-sim: %s\n", why.c_str());
    }
    return f.other_socket;
}

// 0 to 99, from the seed; the same seed gives the same losses.
long draw_percent(TftpFetch &f) {
    f.random_state = (f.random_state * 1103515245ul + 12345ul) & 0xfffffffful;
    return static_cast<long>((f.random_state >> 16) % 100);
}

std::string md5_hex(const Bytes &data) {
    Md5Context context;
    unsigned char digest[16];
    md5_init(&context);
    md5_update(&context, data.data(), data.size());
    md5_final(digest, &context);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char d : digest) {
        out += digits[d >> 4];
        out += digits[d & 15];
    }
    return out;
}

bool write_file(const std::string &path, const Bytes &data, std::string &why) {
    FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), out) == data.size();
    if (std::fclose(out) != 0) ok = false;
    if (!ok) why = "write failed";
    return ok;
}

bool read_file(const std::string &path, Bytes &data) {
    FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    data.clear();
    unsigned char chunk[65536];
    size_t n;
    bool ok = true;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        if (data.size() + n > kMaxImageBytes) {
            ok = false;
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    if (std::ferror(in)) ok = false;
    std::fclose(in);
    return ok;
}

void close_sockets(TftpFetch &f) {
    if (f.socket >= 0) close(f.socket);
    if (f.other_socket >= 0) close(f.other_socket);
    f.socket = f.other_socket = -1;
}

// The fetch is over: write the image out when asked, log the summary, and
// either dally for a resent last block or close.
void finish(TftpFetch &f, bool complete, const std::string &reason, Clock::time_point now,
            const MaybeText &command_line = {}, const MaybeText &command_status = {}) {
    const TftpOptions &t = f.options->tftp;
    FetchRecord r;
    r.fetch = f.number;
    r.via = t.command.empty() ? "tftp" : "command";
    r.server = f.server_text;
    r.name = f.name;
    r.bytes = static_cast<long>(f.image.size());
    r.blocks = f.blocks;
    r.has_tsize = f.has_tsize;
    r.tsize = f.tsize;
    r.has_timeout = f.has_timeout;
    r.timeout = f.timeout;
    r.complete = complete;
    r.size_matched = f.has_tsize && f.tsize == static_cast<long>(f.image.size());
    r.md5 = md5_hex(f.image);
    r.command = command_line;
    r.command_status = command_status;
    // A device checks the size it was told before it flashes an image.
    f.good = complete && (!f.has_tsize || r.size_matched);
    r.result = !complete ? reason : f.good ? "ok" : "the size differs from the announced tsize";
    if (complete && !t.image_out.empty()) {
        std::string why;
        if (write_file(t.image_out, f.image, why))
            r.image_out.set(t.image_out);
        else
            std::fprintf(stderr, "nuv-device-sim: cannot write the image to '%s': %s\n", t.image_out.c_str(),
                         why.c_str());
    }
    r.flashing = f.good;
    f.finished = true;
    log_fetch(r);
    if (complete && f.socket >= 0 && !f.silenced) {
        f.phase = FetchPhase::dallying;
        f.deadline = now + std::chrono::milliseconds(t.retry_ms);
    } else {
        close_sockets(f);
        f.phase = FetchPhase::idle;
    }
}

void arm(TftpFetch &f, Clock::time_point now) {
    f.sends_of_last = 1;
    f.deadline = now + std::chrono::milliseconds(f.options->tftp.retry_ms);
}

// Sends the ACK of `block` (0: the OACK). `first` is the ACK that follows
// the block's first arrival; the faults tied to a block hit only that one.
void send_ack(TftpFetch &f, long block, bool first, Clock::time_point now) {
    const TftpOptions &t = f.options->tftp;
    Bytes ack = ack_packet(block);
    f.last_packet = ack;
    f.last_is_ack = true;
    if (f.silenced) return;
    bool fault = f.faults;
    bool once = fault && first;
    if (once && t.abort_at_block == block) {
        transmit(f, f.socket, f.local_text, error_packet(0, "simulated abort at block " + std::to_string(block)),
                 f.peer, "fault: abort-at-block, in place of the ACK; the fetch ends");
        finish(f, false, "aborted at block " + std::to_string(block) + " (fault)", now);
        return;
    }
    ++f.acks_made;
    const char *lost = nullptr;
    if (fault && t.lose_ack_every > 0 && f.acks_made % t.lose_ack_every == 0) lost = "fault: lose-ack-every";
    if (fault && t.lose_acks_percent > 0 && draw_percent(f) < t.lose_acks_percent && lost == nullptr)
        lost = "fault: lose-acks";
    if (lost != nullptr) {
        log_packet(record_for(f, "lost", f.peer_text, f.local_text, ack.data(), ack.size(), lost));
    } else {
        int fd = f.socket;
        std::string local = f.local_text, note;
        if (once && t.ack_from_other_port == block && other_socket(f) >= 0) {
            fd = f.other_socket;
            local = f.other_text;
            note = "fault: ack-from-other-port";
        }
        Bytes bytes = ack;
        if (once && t.oversize_ack_at_block == block) {
            bytes.resize(kOversizeBytes, 0);
            note = "fault: oversize-ack";
        }
        transmit(f, fd, local, bytes, f.peer, note);
        if (fault && t.repeat_acks) transmit(f, fd, local, bytes, f.peer, "fault: repeat-acks");
    }
    if (once && t.error_at_block == block)
        transmit(f, f.socket, f.local_text, error_packet(0, "simulated error after block " + std::to_string(block)),
                 f.peer, "fault: error-at-block; the fetch goes on");
    if (once && f.strays_sent < t.stray_datagrams && other_socket(f) >= 0) {
        ++f.strays_sent;
        transmit(f, f.other_socket, f.other_text, ack_packet(block + 1), f.peer, "fault: stray-datagrams");
    }
    if (once && t.silent_after_block == block) {
        f.silenced = true;
        f.deadline = now + std::chrono::milliseconds(t.retry_ms * t.tries);
    }
}

void take_oack_options(TftpFetch &f, const PacketRecord &r) {
    for (const auto &[name, value] : r.options) {
        char *end = nullptr;
        long number = std::strtol(value.c_str(), &end, 10);
        bool numeric = !value.empty() && *end == '\0' && number >= 0;
        if (strcasecmp(name.c_str(), "tsize") == 0 && numeric) {
            f.has_tsize = true;
            f.tsize = number;
        } else if (strcasecmp(name.c_str(), "timeout") == 0 && numeric) {
            f.has_timeout = true;
            f.timeout = number;
        }
    }
}

void lock_peer(TftpFetch &f, const sockaddr_in &from) {
    f.locked = true;
    f.peer = from;
    f.peer_text = address_text(from);
    f.phase = FetchPhase::transferring;
}

void take_data(TftpFetch &f, const unsigned char *p, size_t length, const std::string &from_text,
               Clock::time_point now) {
    auto log_in = [&](const std::string &note) {
        log_packet(record_for(f, "received", from_text, f.local_text, p, length, note));
    };
    if (length < 4) {
        log_in("too short for a DATA block, ignored");
        return;
    }
    long block = static_cast<long>(get16(p + 2));
    size_t payload = length - 4;
    if (payload > kBlockSize) {
        log_in("longer than a block, ignored");
        return;
    }
    if (f.phase == FetchPhase::transferring && block == ((f.blocks + 1) & 0xffff)) {
        if (f.image.size() + payload > kMaxImageBytes) {
            log_in("the image would not fit");
            transmit(f, f.socket, f.local_text, error_packet(3, "Disk full or allocation exceeded"), f.peer, "");
            finish(f, false, "the image is larger than the device holds", now);
            return;
        }
        log_in("");
        f.image.insert(f.image.end(), p + 4, p + length);
        ++f.blocks;
        arm(f, now);
        send_ack(f, f.blocks, true, now);
        if (!f.finished && payload < kBlockSize) finish(f, true, "ok", now);
    } else if (f.blocks > 0 && block == (f.blocks & 0xffff)) {
        log_in("repeated block, acknowledged again");
        send_ack(f, f.blocks, false, now);
    } else {
        log_in(f.phase == FetchPhase::dallying ? "after the end, ignored" : "out of order, ignored");
    }
}

void take_datagram(TftpFetch &f, const unsigned char *p, size_t length, const sockaddr_in &from,
                   Clock::time_point now) {
    std::string from_text = address_text(from);
    auto log_in = [&](const std::string &note) {
        log_packet(record_for(f, "received", from_text, f.local_text, p, length, note));
    };
    bool stranger = f.locked ? from.sin_addr.s_addr != f.peer.sin_addr.s_addr || from.sin_port != f.peer.sin_port
                             : ntohl(from.sin_addr.s_addr) != f.server_address;
    if (stranger) {
        if (f.silenced) {
            log_in("unknown peer, ignored (fault: silent)");
            return;
        }
        log_in("unknown peer, answered ERROR 5");
        transmit(f, f.socket, f.local_text, error_packet(5, "Unknown transfer ID"), from, "to an unknown peer");
        return;
    }
    if (f.silenced) {
        log_in("ignored (fault: silent-after-block)");
        return;
    }
    int opcode = length >= 2 ? static_cast<int>(get16(p)) : -1;
    if (opcode == kError) {
        log_in("the server gave up");
        PacketRecord r = record_for(f, "received", from_text, f.local_text, p, length, "");
        finish(f, false, "the server answered ERROR " + std::to_string(r.error_code) + ": " + r.error_text, now);
        return;
    }
    if (f.phase == FetchPhase::requesting) {
        if (opcode == kOack) {
            lock_peer(f, from);
            take_oack_options(f, record_for(f, "received", from_text, f.local_text, p, length, ""));
            if (f.faults && f.options->tftp.ignore_oack) {
                log_in("not acknowledged (fault: ignore-oack)");
                f.last_packet.clear();
                arm(f, now);
                return;
            }
            log_in("");
            arm(f, now);
            send_ack(f, 0, true, now);
        } else if (opcode == kData) {
            // A server that ignores the options answers with the first block.
            lock_peer(f, from);
            take_data(f, p, length, from_text, now);
        } else {
            log_in("unexpected before the transfer, ignored");
        }
        return;
    }
    if (opcode == kData) {
        take_data(f, p, length, from_text, now);
    } else if (opcode == kOack && f.phase == FetchPhase::transferring && f.blocks == 0) {
        if (f.faults && f.options->tftp.ignore_oack) {
            log_in("repeated OACK, not acknowledged (fault: ignore-oack)");
        } else {
            log_in("repeated OACK, acknowledged again");
            send_ack(f, 0, false, now);
        }
    } else {
        log_in("unexpected, ignored");
    }
}

Bytes request_packet(const TftpFetch &f) {
    Bytes b;
    put16(b, kRrq);
    put_text(b, f.name);
    put_text(b, "octet");
    put_text(b, "tsize");
    put_text(b, "0");
    put_text(b, "timeout");
    put_text(b, std::to_string(f.options->tftp.request_timeout));
    return b;
}

void start_command_fetch(TftpFetch &f, Clock::time_point now) {
    const TftpOptions &t = f.options->tftp;
    char path[] = "/tmp/nuv-device-sim-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        finish(f, false, std::string("cannot make a file for the command: ") + std::strerror(errno), now);
        return;
    }
    close(fd);
    f.command.file = path;
    std::vector<std::string> words = expand_command(t.command, f.server_text.substr(0, f.server_text.rfind(':')),
                                                    f.server_port, f.name, path);
    std::string why;
    f.command.deadline = now + std::chrono::seconds(kCommandSeconds);
    if (!start_command(f.command, words, why)) {
        unlink(path);
        f.command.file.clear();
        finish(f, false, why, now);
        return;
    }
    f.phase = FetchPhase::commanding;
}

// The idle wait is over: ask for the file.
void start_request(TftpFetch &f, Clock::time_point now) {
    if (is_loopback(f.options->address_host) && !is_loopback(f.server_address)) {
        finish(f, false, "the server address is not reachable from a loopback device", now);
        return;
    }
    if (!f.options->tftp.command.empty()) {
        start_command_fetch(f, now);
        return;
    }
    if (f.name.size() > kMaxRequestName || f.name.find('\0') != std::string::npos) {
        finish(f, false, "the name does not fit a read request", now);
        return;
    }
    std::string why;
    f.socket = open_udp(f.options->address_host, f.local_text, why);
    if (f.socket < 0) {
        finish(f, false, why, now);
        return;
    }
    f.phase = FetchPhase::requesting;
    f.last_packet = request_packet(f);
    f.last_is_ack = false;
    transmit(f, f.socket, f.local_text, f.last_packet, make_address(f.server_address, f.server_port), "");
    arm(f, now);
}

void resend_or_give_up(TftpFetch &f, Clock::time_point now) {
    const TftpOptions &t = f.options->tftp;
    if (f.silenced) {
        finish(f, false, "silent after block " + std::to_string(f.blocks) + " (fault)", now);
        return;
    }
    if (f.sends_of_last >= t.tries) {
        std::string why;
        if (f.phase == FetchPhase::requesting)
            why = "no answer to the read request";
        else if (f.last_packet.empty())
            why = "the OACK was never acknowledged (fault)";
        else
            why.append("no block ").append(std::to_string(f.blocks + 1)).append(" after ")
                .append(std::to_string(t.tries)).append(" tries");
        finish(f, false, why, now);
        return;
    }
    ++f.sends_of_last;
    f.deadline = now + std::chrono::milliseconds(t.retry_ms);
    if (f.last_packet.empty()) return;  // nothing to resend: the OACK is being ignored
    if (f.phase == FetchPhase::requesting)
        transmit(f, f.socket, f.local_text, f.last_packet, make_address(f.server_address, f.server_port),
                 "resent: no answer");
    else
        send_ack(f, f.blocks, false, now);
}

void finish_command(TftpFetch &f, int status, Clock::time_point now) {
    MaybeText line, status_text;
    line.set(f.options->tftp.command);
    status_text.set(std::to_string(status));
    bool fetched = status == 0 && read_file(f.command.file, f.image);
    if (!fetched) f.image.clear();
    f.blocks = static_cast<long>((f.image.size() + kBlockSize) / kBlockSize);
    unlink(f.command.file.c_str());
    f.command.file.clear();
    std::string why = status == -1  ? "the command did not end in time"
                      : status != 0 ? "the command failed"
                                    : "the command left no readable image";
    finish(f, fetched, why, now, line, status_text);
}

} // namespace

void begin_fetch(TftpFetch &fetch, const Options &options, long number, const UpgradeParts &upgrade,
                 Clock::time_point now) {
    end_fetch(fetch);
    fetch = TftpFetch{};
    fetch.options = &options;
    fetch.number = number;
    fetch.faults = options.tftp.fault_fetches == 0 || number <= options.tftp.fault_fetches;
    parse_ipv4(upgrade.address, fetch.server_address);
    fetch.server_port = static_cast<uint16_t>(upgrade.port);
    fetch.server_text = upgrade.address + ":" + std::to_string(upgrade.port);
    fetch.name = upgrade.name;
    fetch.random_state = options.tftp.seed;
    fetch.phase = FetchPhase::waiting;
    fetch.deadline = now + std::chrono::milliseconds(options.tftp.fetch_delay_ms);
}

bool fetch_busy(const TftpFetch &fetch) { return fetch.phase != FetchPhase::idle; }

bool fetch_in_progress(const TftpFetch &fetch) {
    return fetch.phase != FetchPhase::idle && fetch.phase != FetchPhase::dallying;
}

int fetch_poll_fds(const TftpFetch &fetch, pollfd *fds, int room) {
    int used = 0;
    for (int fd : {fetch.socket, fetch.other_socket}) {
        if (fd < 0 || used >= room) continue;
        fds[used++] = pollfd{fd, POLLIN, 0};
    }
    return used;
}

void fetch_readable(TftpFetch &fetch, int fd, Clock::time_point now) {
    std::vector<unsigned char> buffer(kReceiveRoom);
    for (int i = 0; i < kReadsPerCall; ++i) {
        if (fd < 0 || (fd != fetch.socket && fd != fetch.other_socket)) return;  // closed by the last datagram
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        ssize_t got = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                               reinterpret_cast<sockaddr *>(&from), &from_length);
        if (got < 0) return;
        size_t length = static_cast<size_t>(got) < buffer.size() ? static_cast<size_t>(got) : buffer.size();
        if (fd == fetch.other_socket) {
            log_packet(record_for(fetch, "received", address_text(from), fetch.other_text, buffer.data(), length,
                                  "on the second socket, ignored"));
            continue;
        }
        take_datagram(fetch, buffer.data(), length, from, now);
    }
}

void fetch_tick(TftpFetch &fetch, Clock::time_point now) {
    switch (fetch.phase) {
    case FetchPhase::idle:
        return;
    case FetchPhase::commanding: {
        int status = 0;
        if (command_ended(fetch.command, status)) finish_command(fetch, status, now);
        return;
    }
    default:
        break;
    }
    if (now < fetch.deadline) return;
    switch (fetch.phase) {
    case FetchPhase::waiting:
        start_request(fetch, now);
        break;
    case FetchPhase::requesting:
    case FetchPhase::transferring:
        resend_or_give_up(fetch, now);
        break;
    case FetchPhase::dallying:
        close_sockets(fetch);
        fetch.phase = FetchPhase::idle;
        break;
    default:
        break;
    }
}

Clock::time_point fetch_wakeup(const TftpFetch &fetch) {
    if (fetch.phase == FetchPhase::commanding) return Clock::now() + std::chrono::milliseconds(20);
    if (fetch.phase == FetchPhase::idle) return Clock::time_point::max();
    return fetch.deadline;
}

void end_fetch(TftpFetch &fetch) {
    stop_command(fetch.command);
    if (!fetch.command.file.empty()) unlink(fetch.command.file.c_str());
    fetch.command.file.clear();
    close_sockets(fetch);
    fetch.phase = FetchPhase::idle;
}

bool header_version(const std::vector<unsigned char> &image, std::string &version) {
    constexpr size_t kOffset = 92, kField = 32;
    for (size_t at = kOffset; at < image.size() && at < kOffset + kField; ++at) {
        if (image[at] == 0) {
            version.assign(image.begin() + static_cast<long>(kOffset), image.begin() + static_cast<long>(at));
            return true;
        }
    }
    return false;
}

} // namespace sim
