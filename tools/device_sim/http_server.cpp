// tools/device_sim/http_server.cpp: the simulated device's web server, one GET per connection.
#include "tools/device_sim/http_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "tools/device_sim/device_page.h"
#include "tools/device_sim/sim_log.h"

namespace sim {

namespace {

constexpr size_t kMaxRequestHead = 16384;
constexpr int kSocketSeconds = 5;  // a stalled client cannot hold the device for longer
constexpr long kBigReplyBytes = 200000;
constexpr int kEndlessStepMs = 100;  // between the bytes of a reply that never ends

struct Request {
    std::string head;          // as received, up to the empty line
    std::string request_line;  // without CR LF
    std::string method, target, version;
    MaybeText host;
    MaybeText authorization;   // whole line
    std::string authorization_value;
};

struct Reply {
    int status = 0;
    const char *reason = "";
    std::string extra_headers;
    std::string body;
};

void set_timeouts(int fd) {
    timeval limit{kSocketSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// Reads until the empty line that ends the request head, the peer's
// close, an error or the size limit.
std::string read_head(int fd) {
    std::string head;
    char chunk[2048];
    while (head.size() < kMaxRequestHead && head.find("\r\n\r\n") == std::string::npos) {
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        head.append(chunk, static_cast<size_t>(got));
    }
    size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) head.resize(end + 4);
    return head;
}

bool header_named(const std::string &line, const char *name, std::string &value) {
    size_t length = std::strlen(name);
    if (line.size() <= length || strncasecmp(line.c_str(), name, length) != 0 || line[length] != ':')
        return false;
    value = line.substr(length + 1);
    return true;
}

void parse_request(Request &r) {
    size_t line_end = r.head.find("\r\n");
    r.request_line = r.head.substr(0, line_end);
    size_t first = r.request_line.find(' ');
    size_t second = first == std::string::npos ? first : r.request_line.find(' ', first + 1);
    if (second != std::string::npos) {
        r.method = r.request_line.substr(0, first);
        r.target = r.request_line.substr(first + 1, second - first - 1);
        r.version = r.request_line.substr(second + 1);
    }
    while (line_end != std::string::npos) {
        size_t start = line_end + 2;
        line_end = r.head.find("\r\n", start);
        if (line_end == std::string::npos || line_end == start) break;
        std::string line = r.head.substr(start, line_end - start);
        std::string value;
        if (!r.authorization.present && header_named(line, "Authorization", value)) {
            r.authorization.set(line);
            r.authorization_value = value;
        } else if (!r.host.present && header_named(line, "Host", value)) {
            size_t skip = value.find_first_not_of(" \t");
            r.host.set(skip == std::string::npos ? "" : value.substr(skip));
        }
    }
}

bool fault_applies(const HttpServer &server) {
    long limit = server.options->faults.fault_connections;
    return limit == 0 || server.connections <= limit;
}

long send_all(int fd, const std::string &data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the client stopped reading: what went is what counts
        sent += static_cast<size_t>(n);
    }
    return static_cast<long>(sent);
}

bool nul_applies(const HttpServer &server, int where) {
    return fault_applies(server) && server.options->faults.nul_in_reply == where;
}

std::string reply_text(const HttpServer &server, const Reply &reply, bool big) {
    // The server's name with a NUL byte inside it: a client that reads the
    // reply as text meets its end there.
    std::string server_name = nul_applies(server, kNulInHead) ? std::string("NUV\0-HTTPD", 10) : "NUV-HTTPD";
    std::string head_start = server.options->faults.http_version + " " + std::to_string(reply.status) +
                             " " + reply.reason + "\r\nServer: " + server_name +
                             "\r\nContent-Type: text/html\r\nConnection: close\r\n" + reply.extra_headers;
    std::string body = reply.body;
    if (big) {
        // Pad inside an HTML comment so the page stays a page; the
        // Content-Length digits are counted before the padding is sized.
        std::string probe = head_start + "Content-Length: " + std::to_string(kBigReplyBytes) + "\r\n\r\n";
        long room = kBigReplyBytes - static_cast<long>(probe.size() + body.size());
        static const std::string kOpen = "<!--", kClose = "-->\n";
        long filler = room - static_cast<long>(kOpen.size() + kClose.size());
        body.append(kOpen).append(static_cast<size_t>(filler > 0 ? filler : 0), 'x').append(kClose);
    }
    return head_start + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

Reply make_reply(int status, const char *reason, std::string body) {
    Reply reply;
    reply.status = status;
    reply.reason = reason;
    reply.body = std::move(body);
    return reply;
}

Reply bad_challenge_reply(const HttpServer &server) {
    Reply reply = make_reply(401, "Unauthorized", error_page(401, "Unauthorized"));
    if (server.options->faults.bad_challenge == BadChallenge::no_nonce)
        reply.extra_headers = "WWW-Authenticate: Digest realm=\"" + server.options->digest.realm + "\"\r\n";
    return reply;
}

Reply challenge_reply(HttpServer &server, ConnectionRecord &record) {
    nonce_before_challenge(server.nonce, server.options->digest);
    Reply reply = make_reply(401, "Unauthorized", error_page(401, "Unauthorized"));
    reply.extra_headers = challenge_line(server.options->digest, server.nonce.current);
    record.challenge_nonce.set(server.nonce.current);
    return reply;
}

Reply page_reply(HttpServer &server, const Request &request, ConnectionRecord &record) {
    static const std::string kUpgrade = "/admin/upgrade?";
    if (request.method != "GET") return make_reply(405, "Method Not Allowed", error_page(405, "Method Not Allowed"));
    if (request.target == "/admin/advanced") {
        PageOptions page = server.page;
        for (int i = 0; i < kLabelCount; ++i)
            if (nul_applies(server, i)) page.values[i].insert(page.values[i].size() / 2, 1, '\0');
        return make_reply(200, "OK", info_page(page));
    }
    if (request.target.compare(0, kUpgrade.size(), kUpgrade) == 0) {
        if (!parse_upgrade_query(request.target.substr(kUpgrade.size()), record.upgrade))
            return make_reply(400, "Bad Request", error_page(400, "Bad Request"));
        server.upgrade_pending = true;
        server.upgrade = record.upgrade;
        return make_reply(200, "OK", upgrade_page(record.upgrade));
    }
    return make_reply(404, "Not Found", error_page(404, "Not Found"));
}

// Decides the answer; status 0 means: close without one.
Reply answer(HttpServer &server, const Request &request, ConnectionRecord &record) {
    const Options &o = *server.options;
    bool faulty = fault_applies(server);
    if (faulty && o.faults.close_without_reply) {
        record.fault.set("close-without-reply");
        return Reply{};
    }
    if (faulty && o.faults.bad_challenge != BadChallenge::none) {
        record.fault.set(o.faults.bad_challenge == BadChallenge::no_nonce ? "bad-challenge-no-nonce"
                                                                          : "bad-challenge-no-header");
        return bad_challenge_reply(server);
    }
    if (o.digest.enabled) {
        nonce_before_request(server.nonce, o.digest);
        record.nonce.set(server.nonce.current);
        const char *value = request.authorization.present ? request.authorization_value.c_str() : nullptr;
        Verdict verdict = check_authorization(value, request.method, request.target, o.digest,
                                              server.nonce.current);
        record.auth.set(verdict_name(verdict));
        if (verdict != Verdict::ok) return challenge_reply(server, record);
    }
    return page_reply(server, request, record);
}

// The head and the start of a page, then one byte every kEndlessStepMs
// for as long as the client listens: until it closes the connection, a
// stop signal interrupts the wait, or the simulator's time is up. Returns
// the bytes sent.
long send_endless(const HttpServer &server, int fd) {
    std::string start = server.options->faults.http_version +
                        " 200 OK\r\nServer: NUV-HTTPD\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
                        "<!DOCTYPE html>\n<html><head><title>Advanced Settings</title></head>\n<body>\n<!-- ";
    long sent = send_all(fd, start);
    if (sent < static_cast<long>(start.size())) return sent;
    auto deadline = server.started + std::chrono::seconds(server.options->max_seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd watched{fd, POLLIN, 0};
        int ready = poll(&watched, 1, kEndlessStepMs);
        if (ready < 0) break;  // a signal: the simulator is asked to stop
        if (ready > 0) {
            char chunk[256];
            ssize_t got = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) break;  // the client went
        }
        if (send_all(fd, ".") != 1) break;
        ++sent;
    }
    return sent;
}

std::string peer_text(const sockaddr_in &peer) {
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

void serve_accepted(HttpServer &server, int fd, ConnectionRecord &record) {
    set_timeouts(fd);
    Request request;
    request.head = read_head(fd);
    if (request.head.empty()) return;  // the client went away without a request
    parse_request(request);
    record.request_line.set(request.request_line);
    record.host = request.host;
    record.authorization = request.authorization;
    if (fault_applies(server) && server.options->faults.endless_reply) {
        record.fault.set("endless-reply");
        record.status = 200;
        record.bytes_sent = send_endless(server, fd);
        return;
    }
    Reply reply = answer(server, request, record);
    if (reply.status == 0) return;
    bool big = reply.status == 200 && fault_applies(server) && server.options->faults.big_reply;
    if (big) record.fault.set("big-reply");
    else if (fault_applies(server) && server.options->faults.nul_in_reply >= 0)
        record.fault.set("nul-in-reply");
    else if (fault_applies(server) && server.options->faults.http_version != "HTTP/1.1")
        record.fault.set("http-version");
    record.status = reply.status;
    record.bytes_sent = send_all(fd, reply_text(server, reply, big));
}

// A listening socket on address:port; -1 after a message on stderr.
int bind_listener(const Options &options, uint16_t port, bool listen_too, uint16_t &bound) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        std::fprintf(stderr, "nuv-device-sim: socket: %s\n", std::strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(options.address_host);
    socklen_t length = sizeof local;
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        (listen_too && listen(fd, 16) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        std::fprintf(stderr, "nuv-device-sim: cannot serve on %s:%u: %s\n", options.address.c_str(), port,
                     std::strerror(errno));
        close(fd);
        return -1;
    }
    bound = ntohs(local.sin_port);
    return fd;
}

} // namespace

bool open_http_server(HttpServer &server, const Options &options) {
    server.options = &options;
    server.page = options.page;
    server.started = std::chrono::steady_clock::now();
    init_nonce(server.nonce, options.digest,
               static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(time(nullptr)));
    uint16_t bound = 0;
    int fd = bind_listener(options, options.port, !options.faults.refuse, bound);
    if (fd < 0) return false;
    server.listener = fd;
    server.listening = !options.faults.refuse;
    server.port = bound;
    return true;
}

bool reopen_http_server(HttpServer &server) {
    uint16_t bound = 0;
    int fd = bind_listener(*server.options, server.port, true, bound);
    if (fd < 0) return false;
    server.listener = fd;
    server.listening = true;
    return true;
}

void close_http_server(HttpServer &server) {
    if (server.listener >= 0) close(server.listener);
    server.listener = -1;
    server.listening = false;
}

void serve_http_connection(HttpServer &server) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = accept(server.listener, reinterpret_cast<sockaddr *>(&peer), &length);
    if (fd < 0) return;
    ++server.connections;
    // Closed before the reply, so a client that has its reply already
    // meets a closed port on its next try.
    long limit = server.options->faults.refuse_after;
    if (limit > 0 && server.connections >= limit) close_http_server(server);
    ConnectionRecord record;
    record.connection = server.connections;
    record.peer = peer_text(peer);
    serve_accepted(server, fd, record);
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - server.started).count();
    // Logged before the close, so a client that has seen the end of its
    // reply finds the line already written.
    log_connection(record);
    shutdown(fd, SHUT_RDWR);
    close(fd);
}

} // namespace sim
