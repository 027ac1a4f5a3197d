// tests/tools/sim_process.cpp: runs nuv-device-sim as a child process and talks to it over loopback sockets.
#include "tests/tools/sim_process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(std::vector<std::string> args, int out_fd, int err_fd) {
    args.insert(args.begin(), DEVICE_SIM);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    if (err_fd >= 0) posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Reads what `fd` gives until it closes or the time runs out.
void read_until(int fd, std::string &into, Clock::time_point deadline, bool stop_at_newline) {
    char c[512];
    while (Clock::now() < deadline) {
        if (stop_at_newline && into.find('\n') != std::string::npos) return;
        pollfd p{fd, POLLIN, 0};
        int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (poll(&p, 1, wait < 1 ? 1 : wait) <= 0) continue;
        ssize_t n = read(fd, c, stop_at_newline ? 1 : sizeof c);
        if (n <= 0) return;
        into.append(c, static_cast<size_t>(n));
    }
}

int wait_status(pid_t pid, int limit_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 || Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

Simulator::Simulator(const std::string &address, std::vector<std::string> args, const std::string &log_path)
    : address_(address), log_path_(log_path) {
    if (!log_path.empty()) {
        unlink(log_path.c_str());
        args.insert(args.begin(), {"--log", log_path});
    }
    args.insert(args.begin(), {"--address", address, "--max-seconds", "60"});
    if (std::find(args.begin(), args.end(), "--port") == args.end()) args.insert(args.begin(), {"--port", "0"});
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = spawn(args, out[1], -1);
    close(out[1]);
    std::string line;
    if (pid_ > 0) read_until(out[0], line, Clock::now() + std::chrono::seconds(10), true);
    close(out[0]);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    ready_line_ = line;
    size_t colon = line.rfind(':');
    if (colon != std::string::npos) port_ = static_cast<unsigned>(std::atoi(line.c_str() + colon + 1));
}

Simulator::~Simulator() {
    if (pid_ > 0 && stop(SIGTERM, 5000) < 0) {
        kill(pid_, SIGKILL);
        wait_status(pid_, 5000);
    }
}

int Simulator::stop(int signal, int limit_ms) {
    if (pid_ <= 0) return -1;
    if (signal != 0) kill(pid_, signal);
    int status = wait_status(pid_, limit_ms);
    if (status >= 0) pid_ = -1;
    return status;
}

std::vector<std::string> Simulator::log_lines() const {
    std::vector<std::string> lines;
    std::ifstream in(log_path_);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

Finished run_to_end(std::vector<std::string> args, int limit_ms) {
    Finished result;
    int out[2], err[2];
    if (pipe(out) != 0) return result;
    if (pipe(err) != 0) return result;
    pid_t pid = spawn(std::move(args), out[1], err[1]);
    close(out[1]);
    close(err[1]);
    auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    read_until(out[0], result.out, deadline, false);
    read_until(err[0], result.err, deadline, false);
    close(out[0]);
    close(err[0]);
    if (pid > 0) {
        result.status = wait_status(pid, limit_ms);
        if (result.status < 0) {
            kill(pid, SIGKILL);
            wait_status(pid, 5000);
        }
    }
    return result;
}

std::string exchange(const std::string &address, unsigned port, const std::string &request, int *connect_errno) {
    std::string reply;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &peer.sin_addr);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int result = connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    if (connect_errno != nullptr) *connect_errno = result == 0 ? 0 : errno;
    if (result == 0) {
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        if (request.empty()) shutdown(fd, SHUT_WR);  // a connection that brings no request at all
        char chunk[4096];
        ssize_t n;
        while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) reply.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return reply;
}

std::string get(const Simulator &sim, const std::string &target, const std::string &authorization) {
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 192.168.2.110\r\n";
    if (!authorization.empty()) request += authorization + "\r\n";
    return exchange(sim.address(), sim.port(), request + "\r\n");
}

// ---- JSON ----

namespace {

struct Reader {
    const std::string &s;
    size_t at = 0;
    int depth = 0;

    void blanks() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r')) ++at;
    }
    bool literal(const char *word) {
        size_t n = std::strlen(word);
        if (s.compare(at, n, word) != 0) return false;
        at += n;
        return true;
    }
    bool string(std::string &out) {
        if (at >= s.size() || s[at] != '"') return false;
        ++at;
        while (at < s.size() && s[at] != '"') {
            unsigned char c = static_cast<unsigned char>(s[at]);
            if (c < 0x20) return false;
            if (c != '\\') {
                out += s[at++];
                continue;
            }
            if (++at >= s.size()) return false;
            char e = s[at++];
            static const std::string kSimple = "\"\\/bfnrt", kMeaning = "\"\\/\b\f\n\r\t";
            size_t k = kSimple.find(e);
            if (k != std::string::npos) {
                out += kMeaning[k];
            } else if (e == 'u' && at + 4 <= s.size()) {
                unsigned value = 0;
                for (int i = 0; i < 4; ++i) {
                    char h = s[at++];
                    if (!std::isxdigit(static_cast<unsigned char>(h))) return false;
                    value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (h | 0x20) - 'a' + 10);
                }
                if (value > 0xff) return false;  // the simulator only escapes single bytes
                out += static_cast<char>(value);
            } else {
                return false;
            }
        }
        if (at >= s.size()) return false;
        ++at;
        return true;
    }
    bool number(double &out) {
        size_t start = at;
        if (at < s.size() && s[at] == '-') ++at;
        if (at >= s.size() || !std::isdigit(static_cast<unsigned char>(s[at]))) return false;
        while (at < s.size() && (std::isdigit(static_cast<unsigned char>(s[at])) || s[at] == '.' || s[at] == 'e' ||
                                 s[at] == 'E' || s[at] == '+' || s[at] == '-'))
            ++at;
        char *end = nullptr;
        std::string text = s.substr(start, at - start);
        out = std::strtod(text.c_str(), &end);
        return *end == '\0';
    }
    bool value(Json &v) {
        if (++depth > 32) return false;
        blanks();
        bool ok = false;
        if (at >= s.size()) {
            ok = false;
        } else if (s[at] == '{') {
            v.type = Json::Type::object;
            ++at;
            blanks();
            ok = true;
            if (at < s.size() && s[at] == '}') {
                ++at;
            } else {
                for (;;) {
                    blanks();
                    std::string name;
                    Json member;
                    if (!string(name)) { ok = false; break; }
                    blanks();
                    if (at >= s.size() || s[at++] != ':' || !value(member)) { ok = false; break; }
                    if (v.members.count(name) != 0) { ok = false; break; }  // a repeated field is a fault
                    v.members[name] = member;
                    blanks();
                    if (at < s.size() && s[at] == ',') { ++at; continue; }
                    if (at < s.size() && s[at] == '}') { ++at; break; }
                    ok = false;
                    break;
                }
            }
        } else if (s[at] == '[') {
            v.type = Json::Type::array;
            ++at;
            blanks();
            ok = true;
            if (at < s.size() && s[at] == ']') {
                ++at;
            } else {
                for (;;) {
                    Json item;
                    if (!value(item)) { ok = false; break; }
                    v.items.push_back(item);
                    blanks();
                    if (at < s.size() && s[at] == ',') { ++at; continue; }
                    if (at < s.size() && s[at] == ']') { ++at; break; }
                    ok = false;
                    break;
                }
            }
        } else if (s[at] == '"') {
            v.type = Json::Type::string;
            ok = string(v.text);
        } else if (literal("null")) {
            v.type = Json::Type::null;
            ok = true;
        } else if (literal("true") || literal("false")) {
            v.type = Json::Type::boolean;
            v.boolean = s[at - 1] == 'e' && s[at - 2] == 'u';
            ok = true;
        } else {
            v.type = Json::Type::number;
            ok = number(v.number);
        }
        --depth;
        return ok;
    }
};

} // namespace

const Json &Json::operator[](const std::string &name) const {
    static const Json kNull;
    auto found = members.find(name);
    return found == members.end() ? kNull : found->second;
}

bool parse_json(const std::string &text, Json &out) {
    Reader reader{text};
    out = Json{};
    if (!reader.value(out)) return false;
    reader.blanks();
    return reader.at == text.size();
}

} // namespace simtest
