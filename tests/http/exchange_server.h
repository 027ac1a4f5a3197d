// tests/http/exchange_server.h: a one-connection loopback HTTP server and a
// holder of local ports, for the exchange's tests. POSIX sockets live in
// the .cpp only, so a test that includes platform/win32.h may use these.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace exchange_server {

// How the server ends its side after the canned reply.
enum class Ending { close, reset };

// What the server saw of its one connection.
struct Served {
    bool accepted = false;
    std::string request;      // up to and including the empty line
    std::string peer_address; // dotted
    uint16_t peer_port = 0;
};

// Listens on address:port from construction; accepts one connection, reads
// the request head, records it, sends `reply` and ends the connection.
// Every wait is bounded, so a client that never comes does not hang a test.
class OneShotServer {
public:
    OneShotServer(const std::string &address, uint16_t port, std::string reply,
                  Ending ending = Ending::close);
    ~OneShotServer();
    OneShotServer(const OneShotServer &) = delete;
    OneShotServer &operator=(const OneShotServer &) = delete;

    bool listening() const { return listener_ >= 0; }
    // Waits for the connection to have been served and returns what came.
    Served served();

private:
    void serve();

    int listener_ = -1;
    std::string reply_;
    Ending ending_;
    Served served_;
    std::thread thread_;
};

// Binds (without listening) TCP sockets to address:first .. first+count-1,
// so that a client cannot bind those ports there.
class PortHolder {
public:
    PortHolder(const std::string &address, uint16_t first, int count);
    ~PortHolder();
    PortHolder(const PortHolder &) = delete;
    PortHolder &operator=(const PortHolder &) = delete;

    bool all_held() const { return all_held_; }

private:
    std::vector<int> sockets_;
    bool all_held_ = true;
};

// A dotted address in host byte order (most significant byte first).
uint32_t host_order(const std::string &dotted);

} // namespace exchange_server
