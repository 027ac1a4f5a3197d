// platform/posix_net.h: the thin bridge from our Winsock 1.1 to BSD sockets.
//
// The Winsock layer (sockets.cpp) sees platform/win32.h, whose socket names
// would clash with the BSD headers'; this bridge sees only the POSIX
// headers. Its interface therefore uses plain values: descriptors as int,
// socket addresses as 16 raw bytes (the Winsock sockaddr_in and Linux's
// have the same layout), flags as the bits below.
//
// Every call returns -1 on failure and leaves errno set for the caller to
// map; EINTR never escapes (each call is retried or completed).
#pragma once

#include <cstddef>
#include <cstdint>

// The size of an IPv4 socket address, in both worlds.
constexpr int posix_net_address_size = 16;

// Message flags, with Winsock's values.
constexpr int posix_net_oob = 0x1;
constexpr int posix_net_peek = 0x2;
constexpr int posix_net_dontroute = 0x4;

// A socket, close-on-exec. Family, type and protocol take the same values
// in Winsock and on Linux for AF_INET, SOCK_STREAM and SOCK_DGRAM.
int posix_net_socket(int family, int type, int protocol);

// 1 when fd is an open socket; 0 (errno ENOTSOCK) when it is open but not a
// socket; -1 (errno EBADF) when it is not open.
int posix_net_is_socket(int fd);

int posix_net_bind(int fd, const void *address);
// A blocking connect interrupted by a signal is waited for to its end.
int posix_net_connect(int fd, const void *address);

// Sends data (to `to`, a 16-byte address, when not null). On a blocking
// socket everything is sent or the call fails; on a non-blocking one a
// single send is made and its count returned. Never raises SIGPIPE.
long posix_net_send(int fd, const void *data, size_t length, int flags,
                    const void *to);

// Receives once into buffer. `from` (16 bytes, may be null) gets the
// source address when the socket has one to give, and *from_given says
// whether it did. *truncated is set when a datagram was longer than the
// capacity (it is consumed all the same unless posix_net_peek is given).
long posix_net_receive(int fd, void *buffer, size_t capacity, int flags,
                       void *from, bool *from_given, bool *truncated);

// What posix_net_wait watches for and reports, per descriptor.
constexpr int posix_net_readable = 0x1;
constexpr int posix_net_writable = 0x2;
constexpr int posix_net_exceptional = 0x4;

// Waits until one of `count` descriptors is ready for what wants[i] asks
// or `timeout_us` microseconds have passed (negative: no limit); got[i]
// says what each is ready for. Returns how many are ready, 0 on time-out.
// A wait interrupted by a signal goes on for the rest of its time.
int posix_net_wait(const int *fds, const int *wants, int *got, int count, long long timeout_us);

int posix_net_set_nonblocking(int fd, bool on);
int posix_net_close(int fd);

// The host name, NUL-terminated and cut at capacity - 1; its full length.
long posix_net_hostname(char *buffer, size_t capacity);

// Results of posix_net_lookup_ipv4.
enum PosixNetLookup {
    posix_net_lookup_found = 0,
    posix_net_lookup_not_found,   // no such name
    posix_net_lookup_no_data,     // the name exists but has no IPv4 address
    posix_net_lookup_try_again,   // a temporary failure of the resolver
    posix_net_lookup_no_memory,
    posix_net_lookup_failed,      // any other failure
};

// The IPv4 addresses of a name (getaddrinfo, AF_INET), each in network
// byte order, without repeats, at most `capacity` of them; *count is how
// many were stored.
PosixNetLookup posix_net_lookup_ipv4(const char *name, uint32_t *addresses,
                                     int capacity, int *count);
