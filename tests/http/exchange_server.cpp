// tests/http/exchange_server.cpp: the one-connection loopback server and the
// port holder, over POSIX sockets.
#include "tests/http/exchange_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace exchange_server {

namespace {

constexpr int kAcceptLimitMs = 10000;
constexpr int kReadLimitMs = 5000;
constexpr size_t kMostRequestBytes = 65536;

sockaddr_in address_of(const std::string &dotted, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, dotted.c_str(), &a.sin_addr);
    return a;
}

bool readable(int fd, int limit_ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, limit_ms) > 0;
}

std::string read_head(int fd)
{
    std::string head;
    char chunk[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMostRequestBytes) {
        if (!readable(fd, kReadLimitMs))
            break;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        head.append(chunk, static_cast<size_t>(n));
    }
    return head;
}

// A client that stops reading (at its capacity) ends this with an error,
// which is what it should see.
void send_all(int fd, const std::string &data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

} // namespace

OneShotServer::OneShotServer(const std::string &address, uint16_t port, std::string reply,
                             Ending ending)
    : reply_(std::move(reply)), ending_(ending)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    // A test that ran just before on the same address may have left the
    // port in TIME_WAIT.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = address_of(address, port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return;
    }
    listener_ = fd;
    thread_ = std::thread(&OneShotServer::serve, this);
}

OneShotServer::~OneShotServer()
{
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
}

Served OneShotServer::served()
{
    if (thread_.joinable())
        thread_.join();
    return served_;
}

void OneShotServer::serve()
{
    if (!readable(listener_, kAcceptLimitMs))
        return;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listener_, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    served_.accepted = true;
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    served_.peer_address = dotted;
    served_.peer_port = ntohs(peer.sin_port);
    served_.request = read_head(fd);
    send_all(fd, reply_);
    if (ending_ == Ending::reset) {
        // A zero linger makes close() send a reset instead of a FIN.
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(fd);
}

PortHolder::PortHolder(const std::string &address, uint16_t first, int count)
{
    for (int k = 0; k < count; k++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = address_of(address, static_cast<uint16_t>(first + k));
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            all_held_ = false;
            if (fd >= 0)
                close(fd);
            continue;
        }
        sockets_.push_back(fd);
    }
}

PortHolder::~PortHolder()
{
    for (int fd : sockets_)
        close(fd);
}

uint32_t host_order(const std::string &dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return ntohl(a.s_addr);
}

} // namespace exchange_server
