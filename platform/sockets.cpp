// platform/sockets.cpp: Windows Sockets 1.1 over the BSD sockets bridge.
//
// Keeps Winsock's results where the system relies on them: INVALID_SOCKET
// and SOCKET_ERROR, a per-thread last error with WSAE* codes,
// WSANOTINITIALISED before WSAStartup, WSAEWOULDBLOCK for an empty
// non-blocking receive, WSAEMSGSIZE (not a cut datagram) for a datagram
// longer than the buffer. The BSD calls themselves are in posix_net.cpp.
#include "platform/win32.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix_net.h"

static_assert(sizeof(winsock::sockaddr_in) == posix_net_address_size,
              "the Winsock and BSD IPv4 socket addresses must have one layout");
static_assert(sizeof(winsock::sockaddr) == posix_net_address_size,
              "the Winsock and BSD socket addresses must have one size");

namespace {

std::atomic<bool> started{false};
thread_local int last_error = 0;

// errno as Winsock would have reported the same failure.
struct ErrnoMapping {
    int posix;
    int winsock;
};
// A table rather than a switch: some errno names share a value
// (EAGAIN/EWOULDBLOCK, ENOTSUP/EOPNOTSUPP).
const ErrnoMapping errno_mappings[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAENOTSOCK},
    {ENOTSOCK, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},  // a non-blocking connect under way, as Winsock says it
    {EALREADY, WSAEALREADY},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},  // the peer is gone; SIGPIPE is never raised
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

int winsock_error_from(int posix_error) {
    for (const ErrnoMapping &mapping : errno_mappings)
        if (mapping.posix == posix_error)
            return mapping.winsock;
    return WSAEINVAL;
}

int fail(int error) {
    last_error = error;
    return SOCKET_ERROR;
}

// The bridge has just failed: take its errno.
int fail_from_errno() {
    return fail(winsock_error_from(errno));
}

// A Winsock socket is a descriptor; anything else cannot be one.
bool descriptor_of(winsock::SOCKET s, int *fd) {
    if (s > static_cast<winsock::SOCKET>(INT_MAX)) {
        last_error = WSAENOTSOCK;
        return false;
    }
    *fd = static_cast<int>(s);
    return true;
}

// Checks the common preconditions of a call on a socket.
bool ready(winsock::SOCKET s, int *fd) {
    if (!started.load(std::memory_order_acquire)) {
        last_error = WSANOTINITIALISED;
        return false;
    }
    return descriptor_of(s, fd);
}

// The flags a call accepts; others are refused, as Winsock refuses them.
bool flags_allowed(int flags, int allowed) {
    if ((flags & ~allowed) != 0) {
        last_error = WSAEOPNOTSUPP;
        return false;
    }
    return true;
}

// ---- host lookup ---------------------------------------------------------

// The storage of the host entry that gethostbyname returns: one per
// thread, valid until the thread's next lookup, as Winsock's is.
struct HostEntryStorage {
    std::string name;
    std::vector<uint32_t> addresses;  // network byte order
    std::vector<char *> address_list;
    char *aliases[1] = {nullptr};
    winsock::hostent entry{};
};
thread_local HostEntryStorage host_storage;

winsock::hostent *make_host_entry(const char *name, const std::vector<uint32_t> &addresses) {
    HostEntryStorage &storage = host_storage;
    storage.name = name;
    storage.addresses = addresses;
    storage.address_list.clear();
    for (uint32_t &address : storage.addresses)
        storage.address_list.push_back(reinterpret_cast<char *>(&address));
    storage.address_list.push_back(nullptr);
    storage.entry.h_name = storage.name.data();
    storage.entry.h_aliases = storage.aliases;
    storage.entry.h_addrtype = AF_INET;
    storage.entry.h_length = 4;
    storage.entry.h_addr_list = storage.address_list.data();
    return &storage.entry;
}

// One dotted IPv4 address "a.b.c.d" of decimal numbers 0 to 255 without
// leading zeros (which some readers take for octal); host byte order.
bool parse_ipv4(const std::string &text, uint32_t *address) {
    uint32_t value = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return false;
            ++at;
        }
        size_t begin = at;
        unsigned number = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 3)
            number = number * 10 + static_cast<unsigned>(text[at++] - '0');
        size_t digits = at - begin;
        if (digits == 0 || number > 255 || (digits > 1 && text[begin] == '0'))
            return false;
        value = (value << 8) | number;
    }
    if (at != text.size())
        return false;
    *address = value;
    return true;
}

std::string trimmed(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// The test hook NUV_HOST_ADDRESSES: comma-separated IPv4 addresses, in
// order; empty means the lookup fails. False (after a message) when an
// entry is malformed.
bool parse_host_addresses(const char *list, std::vector<uint32_t> *addresses) {
    std::string text(list);
    size_t begin = 0;
    int index = 1;
    for (;;) {
        size_t comma = text.find(',', begin);
        std::string entry =
            trimmed(text.substr(begin, comma == std::string::npos ? std::string::npos
                                                                  : comma - begin));
        uint32_t address = 0;
        if (!parse_ipv4(entry, &address)) {
            std::fprintf(stderr,
                         "nuv platform: NUV_HOST_ADDRESSES=\"%s\": entry %d (\"%s\") is not "
                         "a dotted IPv4 address; the host lookup fails\n",
                         list, index, entry.c_str());
            return false;
        }
        addresses->push_back(htonl(address));
        if (comma == std::string::npos)
            return true;
        begin = comma + 1;
        ++index;
    }
}

int lookup_error(PosixNetLookup result) {
    switch (result) {
    case posix_net_lookup_found:
        return 0;
    case posix_net_lookup_not_found:
        return WSAHOST_NOT_FOUND;
    case posix_net_lookup_no_data:
        return WSANO_DATA;
    case posix_net_lookup_try_again:
        return WSATRY_AGAIN;
    case posix_net_lookup_no_memory:
        return WSAENOBUFS;
    case posix_net_lookup_failed:
        break;
    }
    return WSANO_RECOVERY;
}

} // namespace

namespace winsock {

int WSAStartup(WORD version, WSADATA *data) {
    // Only the version is looked at; the result is the error itself.
    const BYTE major = static_cast<BYTE>(version & 0xff);
    const BYTE minor = static_cast<BYTE>(version >> 8);
    if (data == nullptr)
        return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    data->wHighVersion = MAKEWORD(1, 1);
    if (major < 1) {
        data->wVersion = MAKEWORD(1, 1);
        return WSAVERNOTSUPPORTED;
    }
    data->wVersion = (major == 1 && minor == 0) ? MAKEWORD(1, 0) : MAKEWORD(1, 1);
    std::snprintf(data->szDescription, sizeof data->szDescription,
                  "NUV native Windows Sockets 1.1");
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    started.store(true, std::memory_order_release);
    return 0;
}

int WSAGetLastError() {
    return last_error;
}

void WSASetLastError(int error) {
    last_error = error;
}

int gethostname(char *name, int capacity) {
    if (!started.load(std::memory_order_acquire))
        return fail(WSANOTINITIALISED);
    if (name == nullptr || capacity <= 0)
        return fail(WSAEFAULT);
    char full[256];
    long length = posix_net_hostname(full, sizeof full);
    if (length < 0)
        return fail_from_errno();
    if (length >= static_cast<long>(sizeof full) || length >= capacity)
        return fail(WSAEFAULT);  // the name does not fit: Winsock's answer
    std::memcpy(name, full, static_cast<size_t>(length) + 1);
    return 0;
}

struct hostent *gethostbyname(const char *name) {
    if (!started.load(std::memory_order_acquire)) {
        last_error = WSANOTINITIALISED;
        return nullptr;
    }
    if (name == nullptr) {
        last_error = WSAEFAULT;
        return nullptr;
    }
    std::vector<uint32_t> addresses;
    if (const char *hook = std::getenv("NUV_HOST_ADDRESSES")) {
        if (*hook == '\0') {
            last_error = WSAHOST_NOT_FOUND;
            return nullptr;
        }
        if (!parse_host_addresses(hook, &addresses)) {
            last_error = WSANO_RECOVERY;
            return nullptr;
        }
        return make_host_entry(name, addresses);
    }
    uint32_t found[64];
    int count = 0;
    PosixNetLookup result = posix_net_lookup_ipv4(name, found, 64, &count);
    if (result != posix_net_lookup_found) {
        last_error = lookup_error(result);
        return nullptr;
    }
    addresses.assign(found, found + count);
    return make_host_entry(name, addresses);
}

SOCKET socket(int family, int type, int protocol) {
    if (!started.load(std::memory_order_acquire)) {
        last_error = WSANOTINITIALISED;
        return INVALID_SOCKET;
    }
    // Winsock types are small numbers; Linux's flag bits must not slip in.
    if (type <= 0 || type > 0xff) {
        last_error = WSAESOCKTNOSUPPORT;
        return INVALID_SOCKET;
    }
    int fd = posix_net_socket(family, type, protocol);
    if (fd < 0) {
        fail_from_errno();
        return INVALID_SOCKET;
    }
    return static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const struct sockaddr *address, int length) {
    int fd;
    if (!ready(s, &fd))
        return SOCKET_ERROR;
    if (address == nullptr || length < posix_net_address_size)
        return fail(WSAEFAULT);
    if (posix_net_bind(fd, address) != 0)
        return fail_from_errno();
    return 0;
}

int connect(SOCKET s, const struct sockaddr *address, int length) {
    int fd;
    if (!ready(s, &fd))
        return SOCKET_ERROR;
    if (address == nullptr || length < posix_net_address_size)
        return fail(WSAEFAULT);
    if (posix_net_connect(fd, address) != 0)
        return fail_from_errno();
    return 0;
}

int sendto(SOCKET s, const char *data, int length, int flags, const struct sockaddr *to,
           int to_length) {
    int fd;
    if (!ready(s, &fd))
        return SOCKET_ERROR;
    if (!flags_allowed(flags, posix_net_oob | posix_net_dontroute))
        return SOCKET_ERROR;
    if (length < 0 || (data == nullptr && length > 0))
        return fail(WSAEFAULT);
    if (to != nullptr && to_length < posix_net_address_size)
        return fail(WSAEFAULT);
    long sent = posix_net_send(fd, data, static_cast<size_t>(length), flags, to);
    if (sent < 0)
        return fail_from_errno();
    return static_cast<int>(sent);
}

int send(SOCKET s, const char *data, int length, int flags) {
    return sendto(s, data, length, flags, nullptr, 0);
}

int recvfrom(SOCKET s, char *buffer, int capacity, int flags, struct sockaddr *from,
             int *from_length) {
    int fd;
    if (!ready(s, &fd))
        return SOCKET_ERROR;
    if (!flags_allowed(flags, posix_net_oob | posix_net_peek))
        return SOCKET_ERROR;
    if (capacity < 0 || (buffer == nullptr && capacity > 0))
        return fail(WSAEFAULT);
    if (from != nullptr && (from_length == nullptr || *from_length < posix_net_address_size))
        return fail(WSAEFAULT);
    bool from_given = false;
    bool truncated = false;
    long received = posix_net_receive(fd, buffer, static_cast<size_t>(capacity), flags, from,
                                      &from_given, &truncated);
    if (received < 0)
        return fail_from_errno();
    if (from != nullptr && from_given)
        *from_length = posix_net_address_size;
    // Winsock does not hand out the first part of a datagram as if it were
    // all of it: the caller learns that it was cut (and it is gone).
    if (truncated)
        return fail(WSAEMSGSIZE);
    return static_cast<int>(received);
}

int recv(SOCKET s, char *buffer, int capacity, int flags) {
    return recvfrom(s, buffer, capacity, flags, nullptr, nullptr);
}

int ioctlsocket(SOCKET s, long command, u_long *argument) {
    int fd;
    if (!ready(s, &fd))
        return SOCKET_ERROR;
    // FIONBIO is negative where long has 32 bits: compare the low 32 bits.
    if (static_cast<uint32_t>(command) != static_cast<uint32_t>(FIONBIO))
        return fail(WSAEINVAL);
    if (argument == nullptr)
        return fail(WSAEFAULT);
    if (posix_net_is_socket(fd) != 1)
        return fail_from_errno();
    if (posix_net_set_nonblocking(fd, *argument != 0) != 0)
        return fail_from_errno();
    return 0;
}

int closesocket(SOCKET s) {
    int fd;
    if (!ready(s, &fd))
        return SOCKET_ERROR;
    // Never close a descriptor that is not a socket (standard output, say).
    if (posix_net_is_socket(fd) != 1)
        return fail_from_errno();
    if (posix_net_close(fd) != 0)
        return fail_from_errno();
    return 0;
}

// ---- select ----------------------------------------------------------------

namespace {

// One entry per distinct socket of the three sets, with what it is
// watched for.
struct WaitList {
    int fds[3 * FD_SETSIZE];
    int wants[3 * FD_SETSIZE];
    int got[3 * FD_SETSIZE];
    int count = 0;
};

bool add_set(WaitList &list, const winsock::winsock_fd_set *set, int want) {
    if (set == nullptr)
        return true;
    if (set->fd_count > FD_SETSIZE) {
        last_error = WSAEINVAL;
        return false;
    }
    for (u_int i = 0; i < set->fd_count; ++i) {
        int fd;
        if (!descriptor_of(set->fd_array[i], &fd))
            return false;
        if (posix_net_is_socket(fd) != 1) {
            last_error = WSAENOTSOCK;
            return false;
        }
        int at = 0;
        while (at < list.count && list.fds[at] != fd)
            ++at;
        if (at == list.count) {
            list.fds[at] = fd;
            list.wants[at] = 0;
            ++list.count;
        }
        list.wants[at] |= want;
    }
    return true;
}

// Keeps in `set` only the sockets that are ready for `want`; their count.
int keep_ready(const WaitList &list, winsock::winsock_fd_set *set, int want) {
    if (set == nullptr)
        return 0;
    u_int kept = 0;
    for (u_int i = 0; i < set->fd_count; ++i) {
        int fd = static_cast<int>(set->fd_array[i]);
        for (int at = 0; at < list.count; ++at)
            if (list.fds[at] == fd && (list.got[at] & want) != 0) {
                set->fd_array[kept++] = set->fd_array[i];
                break;
            }
    }
    set->fd_count = kept;
    return static_cast<int>(kept);
}

} // namespace

int select(int, winsock_fd_set *read_set, winsock_fd_set *write_set, winsock_fd_set *except_set,
           const winsock_timeval *timeout) {
    if (!started.load(std::memory_order_acquire))
        return fail(WSANOTINITIALISED);
    WaitList list;
    if (!add_set(list, read_set, posix_net_readable) ||
        !add_set(list, write_set, posix_net_writable) ||
        !add_set(list, except_set, posix_net_exceptional))
        return SOCKET_ERROR;
    if (list.count == 0)
        return fail(WSAEINVAL);
    long long timeout_us = -1;
    if (timeout != nullptr) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0)
            return fail(WSAEINVAL);
        timeout_us = static_cast<long long>(timeout->tv_sec) * 1000000 + timeout->tv_usec;
    }
    if (posix_net_wait(list.fds, list.wants, list.got, list.count, timeout_us) < 0)
        return fail_from_errno();
    return keep_ready(list, read_set, posix_net_readable) +
           keep_ready(list, write_set, posix_net_writable) +
           keep_ready(list, except_set, posix_net_exceptional);
}

int fd_is_set(SOCKET s, const winsock_fd_set *set) {
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i)
        if (set->fd_array[i] == s)
            return 1;
    return 0;
}

void fd_set_add(SOCKET s, winsock_fd_set *set) {
    if (fd_is_set(s, set) || set->fd_count >= FD_SETSIZE)
        return;
    set->fd_array[set->fd_count++] = s;
}

void fd_set_remove(SOCKET s, winsock_fd_set *set) {
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i)
        if (set->fd_array[i] == s) {
            set->fd_array[i] = set->fd_array[--set->fd_count];
            return;
        }
}

uint16_t htons(uint16_t value) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<uint16_t>((value >> 8) | (value << 8));
    return value;
}

uint16_t ntohs(uint16_t value) {
    return htons(value);
}

uint32_t htonl(uint32_t value) {
    if constexpr (std::endian::native == std::endian::little)
        return ((value & 0x000000ffu) << 24) | ((value & 0x0000ff00u) << 8) |
               ((value & 0x00ff0000u) >> 8) | ((value & 0xff000000u) >> 24);
    return value;
}

uint32_t ntohl(uint32_t value) {
    return htonl(value);
}

} // namespace winsock
