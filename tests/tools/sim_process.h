// tests/tools/sim_process.h: runs nuv-device-sim as a child process and talks to it over loopback sockets.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simtest {

// A running simulator; the constructor waits for its ready line, the
// destructor stops it (SIGTERM, then SIGKILL if it lingers).
class Simulator {
public:
    Simulator(const std::string &address, std::vector<std::string> args, const std::string &log_path);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    const std::string &ready_line() const { return ready_line_; }
    const std::string &address() const { return address_; }
    unsigned port() const { return port_; }
    // Sends SIGTERM (unless `signal` is 0) and waits up to `limit_ms` for
    // the end; the exit status, or -1 if it did not end.
    int stop(int signal, int limit_ms);
    std::vector<std::string> log_lines() const;

private:
    pid_t pid_ = -1;
    std::string address_;
    unsigned port_ = 0;
    std::string ready_line_;
    std::string log_path_;
};

struct Finished {
    int status = -1;  // exit status, -1 if it did not end in time
    std::string out, err;
};
// Runs the simulator with `args` to its end (at most `limit_ms`).
Finished run_to_end(std::vector<std::string> args, int limit_ms);

// One connection: sends `request`, reads until the peer closes (at most
// 5 s). `connect_errno` gets 0 or the connect's errno.
std::string exchange(const std::string &address, unsigned port, const std::string &request,
                     int *connect_errno = nullptr);
std::string get(const Simulator &sim, const std::string &target, const std::string &authorization = "");

// A small JSON reader, strict enough to reject what is not JSON.
struct Json {
    enum class Type { null, boolean, number, string, object, array } type = Type::null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::map<std::string, Json> members;
    std::vector<Json> items;

    bool has(const std::string &name) const { return members.count(name) != 0; }
    const Json &operator[](const std::string &name) const;
};
bool parse_json(const std::string &text, Json &out);

} // namespace simtest
