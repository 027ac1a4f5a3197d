// tests/tftp/udp_peer.cpp: the test's UDP socket, on POSIX sockets.
#include "tests/tftp/udp_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace udp_peer {

namespace {

sockaddr_in address_of(const std::string &address, uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &out.sin_addr);
    return out;
}

} // namespace

Socket::Socket(const std::string &address, uint16_t port)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    sockaddr_in local = address_of(address, port);
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
        return;
    socklen_t length = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &length);
    port_ = ntohs(local.sin_port);
    bound_ = true;
}

Socket::~Socket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void Socket::send(const std::string &address, uint16_t port, const std::string &bytes)
{
    sockaddr_in to = address_of(address, port);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

bool Socket::receive(Datagram &out, int limit_ms)
{
    pollfd watched{fd_, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&watched, 1, limit_ms);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    char buffer[70000];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from),
                           &from_length);
    if (n < 0)
        return false;
    out.bytes.assign(buffer, static_cast<size_t>(n));
    out.from_port = ntohs(from.sin_port);
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    out.from_address = text;
    return true;
}

std::string read_request(const std::string &name, const std::string &mode,
                         const std::vector<std::string> &options)
{
    std::string packet("\0\1", 2);
    packet += name;
    packet += '\0';
    packet += mode;
    packet += '\0';
    for (const std::string &option : options) {
        packet += option;
        packet += '\0';
    }
    return packet;
}

std::string ack(uint16_t block)
{
    std::string packet("\0\4", 2);
    packet += static_cast<char>(block >> 8);
    packet += static_cast<char>(block & 0xff);
    return packet;
}

uint16_t opcode_of(const std::string &packet)
{
    if (packet.size() < 2)
        return 0xffff;
    return static_cast<uint16_t>((static_cast<unsigned char>(packet[0]) << 8) |
                                 static_cast<unsigned char>(packet[1]));
}

uint16_t block_of(const std::string &packet)
{
    if (packet.size() < 4)
        return 0xffff;
    return static_cast<uint16_t>((static_cast<unsigned char>(packet[2]) << 8) |
                                 static_cast<unsigned char>(packet[3]));
}

} // namespace udp_peer
