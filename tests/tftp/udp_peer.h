// tests/tftp/udp_peer.h: a UDP socket on a loopback address that plays the
// device's side of TFTP in the listener's and session's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udp_peer {

struct Datagram {
    std::string bytes;
    uint16_t from_port = 0;
    std::string from_address;
};

class Socket {
public:
    // Binds address:port (0: a free port); bound() says whether it worked.
    explicit Socket(const std::string &address, uint16_t port = 0);
    ~Socket();
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    bool bound() const { return bound_; }
    uint16_t port() const { return port_; }
    void send(const std::string &address, uint16_t port, const std::string &bytes);
    // The next datagram, or false when none came within `limit_ms`.
    bool receive(Datagram &out, int limit_ms);

private:
    int fd_ = -1;
    bool bound_ = false;
    uint16_t port_ = 0;
};

// Packets as a device sends them.
std::string read_request(const std::string &name, const std::string &mode = "octet",
                         const std::vector<std::string> &options = {"tsize", "0", "timeout", "5"});
std::string ack(uint16_t block);
uint16_t opcode_of(const std::string &packet);
uint16_t block_of(const std::string &packet);

} // namespace udp_peer
