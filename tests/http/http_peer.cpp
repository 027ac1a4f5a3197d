// tests/http/http_peer.cpp: the scripted loopback HTTP peer.
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

std::string read_request(int fd)
{
    std::string request;
    char chunk[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            break;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        request.append(chunk, static_cast<size_t>(n));
    }
    return request;
}

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

Peer::Peer(const std::string &address, uint16_t port, Responder responder)
    : responder_(std::move(responder))
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
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
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::string request = read_request(fd);
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(request);
        }
        std::string answer = responder_(request, index++);
        if (answer == kHold) {
            held_.push_back(fd);
            continue;
        }
        send_all(fd, answer);
        close(fd);
    }
}

std::vector<std::string> Peer::requests()
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
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
