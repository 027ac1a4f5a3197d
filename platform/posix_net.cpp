// platform/posix_net.cpp: the thin bridge from our Winsock 1.1 to BSD sockets.
//
// Only POSIX headers here, never platform/win32.h: the Winsock layer above
// maps what these calls report (errno) to Winsock's results.
#include "platform/posix_net.h"

#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

static_assert(sizeof(sockaddr_in) == posix_net_address_size,
              "the Winsock and BSD IPv4 socket addresses must have one layout");
static_assert(offsetof(sockaddr_in, sin_port) == 2 && offsetof(sockaddr_in, sin_addr) == 4,
              "the Winsock and BSD IPv4 socket addresses must have one layout");
static_assert(AF_INET == 2 && SOCK_STREAM == 1 && SOCK_DGRAM == 2,
              "Winsock's socket constants are passed through unchanged");
static_assert(MSG_OOB == posix_net_oob && MSG_PEEK == posix_net_peek &&
                  MSG_DONTROUTE == posix_net_dontroute,
              "Winsock's message flags are passed through unchanged");

namespace {

int message_flags(int flags) {
    return flags & (posix_net_oob | posix_net_peek | posix_net_dontroute);
}

// The address bytes are copied so that a caller's buffer needs no alignment.
sockaddr_in address_from(const void *bytes) {
    sockaddr_in address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

} // namespace

int posix_net_socket(int family, int type, int protocol) {
    return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

int posix_net_is_socket(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return -1;
    if (!S_ISSOCK(status.st_mode)) {
        errno = ENOTSOCK;
        return 0;
    }
    return 1;
}

int posix_net_bind(int fd, const void *address_bytes) {
    sockaddr_in address = address_from(address_bytes);
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int posix_net_connect(int fd, const void *address_bytes) {
    sockaddr_in address = address_from(address_bytes);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return 0;
    if (errno != EINTR)
        return -1;
    // An interrupted connect goes on in the kernel and cannot be restarted:
    // wait until the socket is writable, then take the connection's result.
    for (;;) {
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return -1;
        if (error != 0) {
            errno = error;
            return -1;
        }
        return 0;
    }
}

long posix_net_send(int fd, const void *data, size_t length, int flags, const void *to) {
    int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0)
        return -1;
    const bool blocking = (mode & O_NONBLOCK) == 0;
    sockaddr_in address{};
    const sockaddr *destination = nullptr;
    socklen_t destination_length = 0;
    if (to != nullptr) {
        address = address_from(to);
        destination = reinterpret_cast<const sockaddr *>(&address);
        destination_length = sizeof address;
    }
    const char *bytes = static_cast<const char *>(data);
    const int send_flags = message_flags(flags) | MSG_NOSIGNAL;
    size_t sent = 0;
    // One send at least, so that a zero-length datagram goes out too.
    do {
        ssize_t n = ::sendto(fd, bytes + sent, length - sent, send_flags, destination,
                             destination_length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        sent += static_cast<size_t>(n);
    } while (blocking && sent < length);
    return static_cast<long>(sent);
}

long posix_net_receive(int fd, void *buffer, size_t capacity, int flags, void *from,
                       bool *from_given, bool *truncated) {
    for (;;) {
        sockaddr_in source{};
        iovec vector{buffer, capacity};
        msghdr message{};
        message.msg_name = &source;
        message.msg_namelen = sizeof source;
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        ssize_t n = ::recvmsg(fd, &message, message_flags(flags));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        *truncated = (message.msg_flags & MSG_TRUNC) != 0;
        // A stream socket names no source (the length comes back 0).
        *from_given = message.msg_namelen >= sizeof source;
        if (*from_given && from != nullptr)
            std::memcpy(from, &source, sizeof source);
        return static_cast<long>(n);
    }
}

namespace {

long long monotonic_us() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

short poll_events(int wants) {
    short events = 0;
    if ((wants & posix_net_readable) != 0)
        events |= POLLIN;
    if ((wants & posix_net_writable) != 0)
        events |= POLLOUT;
    if ((wants & posix_net_exceptional) != 0)
        events |= POLLPRI;
    return events;
}

// A closed peer or a pending error makes a socket readable (and writable),
// as select() reports it: the next call then returns the error.
int ready_for(short revents, int wants) {
    int got = 0;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        got |= posix_net_readable;
    if ((revents & (POLLOUT | POLLHUP | POLLERR)) != 0)
        got |= posix_net_writable;
    if ((revents & POLLPRI) != 0)
        got |= posix_net_exceptional;
    return got & wants;
}

} // namespace

int posix_net_wait(const int *fds, const int *wants, int *got, int count, long long timeout_us) {
    constexpr int capacity = 256;
    if (count < 0 || count > capacity) {
        errno = EINVAL;
        return -1;
    }
    pollfd watched[capacity];
    for (int i = 0; i < count; ++i)
        watched[i] = pollfd{fds[i], poll_events(wants[i]), 0};
    long long deadline = timeout_us < 0 ? 0 : monotonic_us() + timeout_us;
    for (;;) {
        timespec left{};
        if (timeout_us >= 0) {
            long long remaining = deadline - monotonic_us();
            if (remaining < 0)
                remaining = 0;
            left.tv_sec = static_cast<time_t>(remaining / 1000000);
            left.tv_nsec = static_cast<long>(remaining % 1000000) * 1000;
        }
        int n = ::ppoll(watched, static_cast<nfds_t>(count), timeout_us < 0 ? nullptr : &left,
                        nullptr);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        int ready = 0;
        for (int i = 0; i < count; ++i) {
            got[i] = ready_for(watched[i].revents, wants[i]);
            if (got[i] != 0)
                ++ready;
        }
        return ready;
    }
}

int posix_net_set_nonblocking(int fd, bool on) {
    int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0)
        return -1;
    int wanted = on ? (mode | O_NONBLOCK) : (mode & ~O_NONBLOCK);
    if (wanted != mode && ::fcntl(fd, F_SETFL, wanted) != 0)
        return -1;
    return 0;
}

int posix_net_close(int fd) {
    // On Linux the descriptor is released even when close reports EINTR;
    // closing it again could close someone else's.
    if (::close(fd) != 0 && errno != EINTR)
        return -1;
    return 0;
}

long posix_net_hostname(char *buffer, size_t capacity) {
    char name[HOST_NAME_MAX + 1];
    if (::gethostname(name, sizeof name) != 0)
        return -1;
    name[sizeof name - 1] = '\0';
    size_t length = std::strlen(name);
    if (capacity > 0) {
        size_t kept = length < capacity - 1 ? length : capacity - 1;
        std::memcpy(buffer, name, kept);
        buffer[kept] = '\0';
    }
    return static_cast<long>(length);
}

PosixNetLookup posix_net_lookup_ipv4(const char *name, uint32_t *addresses, int capacity,
                                     int *count) {
    *count = 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo *found = nullptr;
    int result = ::getaddrinfo(name, nullptr, &hints, &found);
    if (result != 0) {
        switch (result) {
        case EAI_NONAME:
            return posix_net_lookup_not_found;
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
#endif
            return posix_net_lookup_no_data;
        case EAI_AGAIN:
            return posix_net_lookup_try_again;
        case EAI_MEMORY:
            return posix_net_lookup_no_memory;
        default:
            return posix_net_lookup_failed;
        }
    }
    for (addrinfo *entry = found; entry != nullptr && *count < capacity; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in))
            continue;
        sockaddr_in address;
        std::memcpy(&address, entry->ai_addr, sizeof address);
        uint32_t value = address.sin_addr.s_addr;
        bool repeated = false;
        for (int i = 0; i < *count; ++i)
            repeated = repeated || addresses[i] == value;
        if (!repeated)
            addresses[(*count)++] = value;
    }
    ::freeaddrinfo(found);
    return *count > 0 ? posix_net_lookup_found : posix_net_lookup_no_data;
}
