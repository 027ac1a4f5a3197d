// tests/platform/kernel_test_support.h: POSIX helpers for the kernel and socket tests.
//
// The tests see platform/win32.h, whose socket names clash with the BSD
// headers'; what they need from POSIX itself (running a child program, a
// TCP peer to talk to, descriptor flags) lives behind this header, which
// uses no system types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// ---- child programs ---------------------------------------------------------

struct ChildResult {
    bool started = false;    // false: the program could not be run (see `error`)
    bool timed_out = false;  // killed at the time limit
    bool exited = false;     // ended by exit/_exit (else by a signal)
    int exit_status = -1;    // when exited
    int signal = 0;          // when killed by a signal
    std::string out;         // all it wrote to standard output
    std::string err;         // all it wrote to standard error
    std::string error;
};

// One change to the environment the child inherits: set to a value, or
// (nullopt) removed.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

// Runs `program` with `arguments` (argv[1]...) and this process's
// environment changed by `changes`, standard input from /dev/null; waits
// at most `time_limit_ms`, then kills it.
ChildResult run_child(const std::string &program, const std::vector<std::string> &arguments,
                      const std::vector<EnvChange> &changes, int time_limit_ms);

// ---- a TCP peer on loopback --------------------------------------------------

// A listening TCP socket on the dotted IPv4 address and port (SO_REUSEADDR
// set, so a rerun of a test finds its port free); -1 on failure.
int peer_listen(const char *dotted, uint16_t port);
// The next connection within the time limit; -1 if none came.
int peer_accept(int listener, int time_limit_ms);
// Reads until `terminator` has arrived (or the peer closes or the time
// limit passes); true when the terminator came.
bool peer_read_until(int fd, const std::string &terminator, std::string *got,
                     int time_limit_ms);
// Writes all of data in chunks of at most `chunk` bytes, pausing between them.
bool peer_write_all(int fd, const std::string &data, size_t chunk);
void peer_close(int fd);

// ---- descriptors -------------------------------------------------------------

// 1 when the descriptor is close-on-exec, 0 when not, -1 when not open.
int descriptor_close_on_exec(int fd);
// True when the descriptor is open.
bool descriptor_open(int fd);
// A pipe's two ends, for a descriptor that is not a socket; false on failure.
bool make_pipe(int *read_end, int *write_end);
void close_descriptor(int fd);
