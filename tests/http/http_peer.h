// tests/http/http_peer.h: a scripted HTTP peer on a loopback address, for
// tests of the program's requests: it records each request and answers
// what the test's responder says, one request per connection.
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

class Peer {
public:
    Peer(const std::string &address, uint16_t port, Responder responder);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool listening() const { return listener_ >= 0; }
    std::vector<std::string> requests();

private:
    void serve();

    int listener_ = -1;
    Responder responder_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> requests_;
    std::vector<int> held_;
    std::thread thread_;
};

// The value of a directive of an Authorization line ("" when absent);
// quoted values come without their quotes.
std::string directive(const std::string &request, const std::string &name);
// The request's Authorization line without its name, or "" when none.
std::string authorization(const std::string &request);

} // namespace http_peer
