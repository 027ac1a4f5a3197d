// tests/http/http_peer.cpp: the scripted loopback HTTP peer and the port
// holder, over POSIX sockets.
#include "tests/http/http_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace http_peer {

const std::string kHold = "\x01hold";

namespace {

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

// Up to the empty line that ends the head; every wait is bounded, so a
// client that sends nothing does not hang a test.
std::string read_request(int fd)
{
    std::string request;
    char chunk[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMostRequestBytes) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kReadLimitMs) <= 0)
            break;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        request.append(chunk, static_cast<size_t>(n));
    }
    return request;
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

Responder always(std::string reply)
{
    return [reply = std::move(reply)](const std::string &, int) { return reply; };
}

Peer::Peer(const std::string &address, uint16_t port, Responder responder, Ending ending)
    : responder_(std::move(responder)), ending_(ending)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    // A test that ran just before on the same address may have left the
    // port in TIME_WAIT.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = address_of(address, port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return;
    }
    listener_ = fd;
    thread_ = std::thread(&Peer::serve, this);
}

Peer::~Peer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
    for (int fd : held_)
        close(fd);
}

void Peer::serve()
{
    int index = 0;
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        int fd = accept4(listener_, reinterpret_cast<sockaddr *>(&from), &length, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Connection connection;
        char dotted[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
        connection.peer_address = dotted;
        connection.peer_port = ntohs(from.sin_port);
        connection.request = read_request(fd);
        std::string request = connection.request;
        {
            std::lock_guard<std::mutex> guard(lock_);
            connections_.push_back(std::move(connection));
        }
        std::string answer = responder_(request, index++);
        if (answer == kHold) {
            held_.push_back(fd);
            continue;
        }
        send_all(fd, answer);
        if (ending_ == Ending::reset) {
            // A zero linger makes close() send a reset instead of a FIN.
            linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(fd);
    }
}

std::vector<std::string> Peer::requests()
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const Connection &c : connections_)
        out.push_back(c.request);
    return out;
}

std::vector<Connection> Peer::connections()
{
    std::lock_guard<std::mutex> guard(lock_);
    return connections_;
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

std::string authorization(const std::string &request)
{
    const std::string name = "\r\nAuthorization: ";
    size_t at = request.find(name);
    if (at == std::string::npos)
        return "";
    at += name.size();
    return request.substr(at, request.find("\r\n", at) - at);
}

std::string directive(const std::string &request, const std::string &name)
{
    std::string line = authorization(request);
    for (size_t at = 0; at < line.size();) {
        size_t start = line.find(name + "=", at);
        if (start == std::string::npos)
            return "";
        bool boundary = start == 0 || line[start - 1] == ',' || line[start - 1] == ' ';
        size_t value = start + name.size() + 1;
        if (!boundary) {
            at = value;
            continue;
        }
        if (value < line.size() && line[value] == '"')
            return line.substr(value + 1, line.find('"', value + 1) - value - 1);
        return line.substr(value, line.find(',', value) - value);
    }
    return "";
}

} // namespace http_peer
