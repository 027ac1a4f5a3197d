// tests/http/http_peer.h: a scripted HTTP peer on a loopback address, for
// tests of the program's requests: it records each request and answers
// what the test's responder says, one request per connection. Also a holder
// of local ports. POSIX sockets live in the .cpp only, so a test that
// includes platform/win32.h may use these.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace http_peer {

// The answer to the index-th request (from 0); an empty answer closes the
// connection without a reply; kHold keeps it open, unanswered, until the
// peer stops.
using Responder = std::function<std::string(const std::string &request, int index)>;
extern const std::string kHold;

// The same answer to every request.
Responder always(std::string reply);

// How the peer ends a connection after its answer.
enum class Ending { close, reset };

// What the peer saw of one connection.
struct Connection {
    std::string request;       // up to and including the empty line
    std::string peer_address;  // dotted
    uint16_t peer_port = 0;
};

class Peer {
public:
    Peer(const std::string &address, uint16_t port, Responder responder, Ending ending = Ending::close);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool listening() const { return listener_ >= 0; }
    // Every connection is recorded before it is answered, so once a client
    // has its answer the record is there.
    std::vector<std::string> requests();
    std::vector<Connection> connections();

private:
    void serve();

    int listener_ = -1;
    Responder responder_;
    Ending ending_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<Connection> connections_;
    std::vector<int> held_;
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

// The value of a directive of an Authorization line ("" when absent);
// quoted values come without their quotes.
std::string directive(const std::string &request, const std::string &name);
// The request's Authorization line without its name, or "" when none.
std::string authorization(const std::string &request);

} // namespace http_peer
