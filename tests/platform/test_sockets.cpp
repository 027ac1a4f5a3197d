// tests/platform/test_sockets.cpp: unit tests of the native Windows Sockets 1.1.
//
// Everything on loopback: this file's tests use 127.0.9.1 to 127.0.9.30
// with ports 40900 to 40999, each test its own address and ports, so they
// can run side by side with each other and with other test programs.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "kernel_test_support.h"

#ifndef NUV_EXIT_PROBE
#error "NUV_EXIT_PROBE (the path of exit_probe) must be defined by the build"
#endif

namespace {

using Clock = std::chrono::steady_clock;

uint32_t loopback(int last) {  // 127.0.9.last, host order
    return (127u << 24) | (9u << 8) | static_cast<uint32_t>(last);
}

sockaddr_in address_of(uint32_t host_address, uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host_address);
    return address;
}

const sockaddr *as_sockaddr(const sockaddr_in &address) {
    return reinterpret_cast<const sockaddr *>(&address);
}

class Winsock : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    }
    void TearDown() override {
        for (SOCKET s : sockets_)
            closesocket(s);
    }
    // A socket closed at the end of the test, bound when `port` is not 0.
    SOCKET open_socket(int type, uint32_t host_address = 0, uint16_t port = 0) {
        SOCKET s = socket(AF_INET, type, 0);
        EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        if (s == INVALID_SOCKET)
            return s;
        sockets_.push_back(s);
        if (port != 0) {
            sockaddr_in address = address_of(host_address, port);
            EXPECT_EQ(bind(s, as_sockaddr(address), sizeof address), 0) << WSAGetLastError();
        }
        return s;
    }
    void forget(SOCKET s) {
        for (SOCKET &kept : sockets_)
            if (kept == s)
                kept = INVALID_SOCKET;
    }

private:
    std::vector<SOCKET> sockets_;
};

void set_nonblocking(SOCKET s) {
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0) << WSAGetLastError();
}

// A non-blocking receive retried while it would block, for at most 5 s;
// the result and last error of the first call that did not.
struct Received {
    int result = 0;
    int error = 0;
    std::string bytes;
    sockaddr_in from{};
    int from_length = 0;
};

Received receive_within(SOCKET s, int capacity, int flags = 0) {
    Received received;
    std::vector<char> buffer(static_cast<size_t>(capacity) + 1, '\x55');
    Clock::time_point begin = Clock::now();
    for (;;) {
        received.from_length = sizeof received.from;
        WSASetLastError(0);
        received.result = recvfrom(s, buffer.data(), capacity, flags,
                                   reinterpret_cast<sockaddr *>(&received.from),
                                   &received.from_length);
        received.error = WSAGetLastError();
        if (received.result != SOCKET_ERROR || received.error != WSAEWOULDBLOCK ||
            Clock::now() - begin > std::chrono::seconds(5))
            break;
        Sleep(1);
    }
    if (received.result > 0)
        received.bytes.assign(buffer.data(), static_cast<size_t>(received.result));
    return received;
}

std::string pattern(size_t length, int seed) {
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xff);
    return text;
}

// ---- start-up and errors -------------------------------------------------------

TEST(WinsockStartup, CallsBeforeWSAStartupFailWithNotInitialised) {
    // A fresh process: this test program has long since started Winsock.
    ChildResult probe = run_child(NUV_EXIT_PROBE, {"winsock-before-startup"}, {}, 20000);
    ASSERT_TRUE(probe.started) << probe.error;
    ASSERT_TRUE(probe.exited) << probe.err;
    EXPECT_EQ(probe.exit_status, 0);
    EXPECT_EQ(probe.out,
              "socket invalid 10093\n"
              "bind -1 10093\n"
              "recv -1 10093\n"
              "closesocket -1 10093\n"
              "gethostname -1 10093\n"
              "gethostbyname null 10093\n"
              "WSAStartup 0 0101\n"
              "socket valid\n"
              "closesocket 0\n");
}

TEST(WinsockStartup, VersionOnePointOneIsGiven) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(1, 1));
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1)) << "the highest version there is";
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
}

TEST(WinsockStartup, TheLastErrorBelongsToTheThread) {
    WSASetLastError(1234);
    int seen_there = -1;
    std::thread other([&seen_there] {
        seen_there = WSAGetLastError();
        WSASetLastError(WSAEWOULDBLOCK);
    });
    other.join();
    EXPECT_EQ(seen_there, 0);
    EXPECT_EQ(WSAGetLastError(), 1234);
}

TEST(WinsockStartup, ByteOrderIsNetworkOrder) {
    uint16_t port = htons(0x1234);
    uint32_t address = htonl(0x7f000901u);
    unsigned char bytes[4];
    std::memcpy(bytes, &port, 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
    std::memcpy(bytes, &address, 4);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 9);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(ntohs(port), 0x1234);
    EXPECT_EQ(ntohl(address), 0x7f000901u);
}

// ---- UDP -------------------------------------------------------------------------

TEST_F(Winsock, EmptyNonBlockingUdpReceiveWouldBlock) {
    SOCKET s = open_socket(SOCK_DGRAM, loopback(1), 40901);
    set_nonblocking(s);
    char buffer[1024];
    sockaddr_in from;
    int from_length = sizeof from;
    WSASetLastError(0);
    EXPECT_EQ(recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from),
                       &from_length),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    WSASetLastError(0);
    EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(Winsock, DatagramLongerThanTheBufferIsAnErrorAndIsConsumed) {
    SOCKET receiver = open_socket(SOCK_DGRAM, loopback(2), 40902);
    SOCKET sender = open_socket(SOCK_DGRAM, loopback(2), 40912);
    set_nonblocking(receiver);
    sockaddr_in to = address_of(loopback(2), 40902);
    const std::string long_one = pattern(100, 1), short_one = pattern(10, 2),
                      exact_one = pattern(50, 3);
    ASSERT_EQ(sendto(sender, long_one.data(), 100, 0, as_sockaddr(to), sizeof to), 100);
    ASSERT_EQ(sendto(sender, short_one.data(), 10, 0, as_sockaddr(to), sizeof to), 10);
    ASSERT_EQ(sendto(sender, "", 0, 0, as_sockaddr(to), sizeof to), 0);
    ASSERT_EQ(sendto(sender, exact_one.data(), 50, 0, as_sockaddr(to), sizeof to), 50);

    Received cut = receive_within(receiver, 50);
    EXPECT_EQ(cut.result, SOCKET_ERROR) << "not a cut datagram passed off as whole";
    EXPECT_EQ(cut.error, WSAEMSGSIZE);

    Received whole = receive_within(receiver, 50);
    EXPECT_EQ(whole.result, 10) << "the long datagram is gone; the next comes whole";
    EXPECT_EQ(whole.bytes, short_one);
    EXPECT_EQ(whole.from_length, 16);
    EXPECT_EQ(ntohl(whole.from.sin_addr.s_addr), loopback(2));
    EXPECT_EQ(ntohs(whole.from.sin_port), 40912);
    EXPECT_EQ(whole.from.sin_family, AF_INET);

    Received empty = receive_within(receiver, 50);
    EXPECT_EQ(empty.result, 0) << "a zero-length datagram gives 0";
    EXPECT_EQ(empty.from_length, 16);

    Received exact = receive_within(receiver, 50);
    EXPECT_EQ(exact.result, 50) << "a datagram that just fits is whole";
    EXPECT_EQ(exact.bytes, exact_one);

    char buffer[50];
    WSASetLastError(0);
    EXPECT_EQ(recv(receiver, buffer, sizeof buffer, 0), SOCKET_ERROR) << "all four were taken";
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(Winsock, PeekingAtALongDatagramLeavesIt) {
    SOCKET receiver = open_socket(SOCK_DGRAM, loopback(3), 40903);
    SOCKET sender = open_socket(SOCK_DGRAM, loopback(3), 40913);
    set_nonblocking(receiver);
    sockaddr_in to = address_of(loopback(3), 40903);
    const std::string datagram = pattern(300, 4);
    ASSERT_EQ(sendto(sender, datagram.data(), 300, 0, as_sockaddr(to), sizeof to), 300);
    const int msg_peek = 0x2;
    Received peeked = receive_within(receiver, 100, msg_peek);
    EXPECT_EQ(peeked.result, SOCKET_ERROR);
    EXPECT_EQ(peeked.error, WSAEMSGSIZE);
    Received whole = receive_within(receiver, 1024);
    EXPECT_EQ(whole.result, 300);
    EXPECT_EQ(whole.bytes, datagram);
}

TEST_F(Winsock, ConnectedUdpSocketSendsAndReceives) {
    SOCKET receiver = open_socket(SOCK_DGRAM, loopback(4), 40904);
    SOCKET sender = open_socket(SOCK_DGRAM, loopback(4), 40914);
    set_nonblocking(receiver);
    sockaddr_in to = address_of(loopback(4), 40904);
    ASSERT_EQ(connect(sender, as_sockaddr(to), sizeof to), 0) << WSAGetLastError();
    ASSERT_EQ(send(sender, "ack", 3, 0), 3);
    char buffer[16];
    Clock::time_point begin = Clock::now();
    int got;
    while ((got = recv(receiver, buffer, sizeof buffer, 0)) == SOCKET_ERROR &&
           WSAGetLastError() == WSAEWOULDBLOCK && Clock::now() - begin < std::chrono::seconds(5))
        Sleep(1);
    ASSERT_EQ(got, 3);
    EXPECT_EQ(std::string(buffer, 3), "ack");
}

// ---- binding, lengths, descriptors ---------------------------------------------

class WinsockSecondBind : public Winsock, public testing::WithParamInterface<int> {};

TEST_P(WinsockSecondBind, ASecondBindOfATakenPortIsAddressInUse) {
    const int type = GetParam();
    const uint16_t port = type == SOCK_STREAM ? 40905 : 40906;
    SOCKET first = open_socket(type, loopback(5), port);
    (void)first;
    SOCKET second = open_socket(type);
    sockaddr_in address = address_of(loopback(5), port);
    WSASetLastError(0);
    EXPECT_EQ(bind(second, as_sockaddr(address), sizeof address), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    // The next port up is free, as the system's bind loops expect.
    sockaddr_in next = address_of(loopback(5), static_cast<uint16_t>(port + 10));
    EXPECT_EQ(bind(second, as_sockaddr(next), sizeof next), 0) << WSAGetLastError();
}

INSTANTIATE_TEST_SUITE_P(Types, WinsockSecondBind, testing::Values(SOCK_STREAM, SOCK_DGRAM),
                         [](const testing::TestParamInfo<int> &info) {
                             return std::string(info.param == SOCK_STREAM ? "Tcp" : "Udp");
                         });

TEST_F(Winsock, AddressLengthsShorterThan16AreFaults) {
    SOCKET udp = open_socket(SOCK_DGRAM, loopback(7), 40907);
    SOCKET tcp = open_socket(SOCK_STREAM);
    sockaddr_in address = address_of(loopback(7), 40917);
    char buffer[8];
    sockaddr_in from;
    struct Call {
        const char *name;
        int result;
    };
    int short_length = 15;
    int from_length = 15;
    WSASetLastError(0);
    const Call calls[] = {
        {"bind", bind(udp, as_sockaddr(address), 15)},
        {"bind null", bind(udp, nullptr, 16)},
        {"connect", connect(tcp, as_sockaddr(address), 15)},
        {"sendto", sendto(udp, "x", 1, 0, as_sockaddr(address), short_length)},
        {"recvfrom", recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from),
                              &from_length)},
        {"recvfrom null length",
         recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), nullptr)},
    };
    for (const Call &call : calls)
        EXPECT_EQ(call.result, SOCKET_ERROR) << call.name;
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    // One at a time, each sets the fault itself.
    WSASetLastError(0);
    EXPECT_EQ(bind(udp, as_sockaddr(address), 15), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    WSASetLastError(0);
    EXPECT_EQ(connect(tcp, as_sockaddr(address), 8), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    WSASetLastError(0);
    from_length = 15;
    EXPECT_EQ(recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from),
                       &from_length),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(from_length, 15);
}

TEST_F(Winsock, SocketsAreCloseOnExecAndOnlySocketsAreClosed) {
    SOCKET udp = open_socket(SOCK_DGRAM);
    SOCKET tcp = open_socket(SOCK_STREAM);
    EXPECT_EQ(descriptor_close_on_exec(static_cast<int>(udp)), 1);
    EXPECT_EQ(descriptor_close_on_exec(static_cast<int>(tcp)), 1);

    int read_end = -1, write_end = -1;
    ASSERT_TRUE(make_pipe(&read_end, &write_end));
    WSASetLastError(0);
    EXPECT_EQ(closesocket(static_cast<SOCKET>(read_end)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_TRUE(descriptor_open(read_end)) << "a pipe is not closed as a socket";
    u_long on = 1;
    EXPECT_EQ(ioctlsocket(static_cast<SOCKET>(write_end), FIONBIO, &on), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    close_descriptor(read_end);
    close_descriptor(write_end);

    EXPECT_EQ(closesocket(udp), 0);
    forget(udp);
    WSASetLastError(0);
    EXPECT_EQ(closesocket(udp), SOCKET_ERROR) << "closed once";
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    char buffer[4];
    EXPECT_EQ(recv(INVALID_SOCKET, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(ioctlsocket(tcp, 0x4004667f /* FIONREAD: not offered */, &on), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

// ---- TCP -------------------------------------------------------------------------

TEST_F(Winsock, RefusedConnectionIsConnectionRefused) {
    SOCKET s = open_socket(SOCK_STREAM, loopback(8), 40918);
    sockaddr_in nobody = address_of(loopback(8), 40908);  // nothing listens there
    WSASetLastError(0);
    EXPECT_EQ(connect(s, as_sockaddr(nobody), sizeof nobody), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(Winsock, ReplyIsReadUntilThePeerCloses) {
    const std::string reply = "HTTP/1.1 200 OK\r\n\r\n" + pattern(200000, 5);
    int listener = peer_listen("127.0.9.9", 40909);
    ASSERT_GE(listener, 0);
    std::string request_seen;
    std::thread peer([&] {
        int connection = peer_accept(listener, 10000);
        if (connection >= 0) {
            if (peer_read_until(connection, "\r\n\r\n", &request_seen, 10000))
                peer_write_all(connection, reply, 7000);
            peer_close(connection);
        }
    });
    // As the system's HTTP client does: bound locally, connected, one
    // request, then receive until the peer closes.
    SOCKET s = open_socket(SOCK_STREAM, loopback(9), 40919);
    sockaddr_in server = address_of(loopback(9), 40909);
    ASSERT_EQ(connect(s, as_sockaddr(server), sizeof server), 0) << WSAGetLastError();
    const std::string request = "GET /admin/advanced HTTP/1.1\r\nHost: 127.0.9.9\r\n\r\n";
    EXPECT_EQ(send(s, request.data(), static_cast<int>(request.size()), 0),
              static_cast<int>(request.size()));
    std::string got;
    char buffer[4096];
    int n;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0)
        got.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(n, 0) << "the peer's close reads as 0, error " << WSAGetLastError();
    peer.join();
    peer_close(listener);
    EXPECT_EQ(request_seen, request);
    EXPECT_EQ(got.size(), reply.size());
    EXPECT_TRUE(got == reply);
}

TEST_F(Winsock, SendToAPeerThatHasClosedFailsAndDoesNotKillTheProcess) {
    int listener = peer_listen("127.0.9.10", 40910);
    ASSERT_GE(listener, 0);
    std::thread peer([listener] { peer_close(peer_accept(listener, 10000)); });
    SOCKET s = open_socket(SOCK_STREAM);
    sockaddr_in server = address_of(loopback(10), 40910);
    ASSERT_EQ(connect(s, as_sockaddr(server), sizeof server), 0) << WSAGetLastError();
    peer.join();
    peer_close(listener);
    // The first sends may still be taken; once the peer has answered with a
    // reset, a send fails (with SIGPIPE this process would be dead by now).
    const std::string data = pattern(1000, 6);
    int result = 0, error = 0;
    for (int i = 0; i < 200; ++i) {
        WSASetLastError(0);
        result = send(s, data.data(), static_cast<int>(data.size()), 0);
        error = WSAGetLastError();
        if (result == SOCKET_ERROR)
            break;
        EXPECT_EQ(result, static_cast<int>(data.size())) << "a blocking send sends all";
        Sleep(5);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_TRUE(error == WSAECONNRESET || error == WSAECONNABORTED) << error;
    char buffer[16];
    int after = recv(s, buffer, sizeof buffer, 0);
    EXPECT_TRUE(after == 0 || after == SOCKET_ERROR) << after;
}

// ---- host names --------------------------------------------------------------------

// Sets NUV_HOST_ADDRESSES for one test and removes it afterwards.
class WinsockHost : public Winsock {
protected:
    void TearDown() override {
        unsetenv("NUV_HOST_ADDRESSES");
        Winsock::TearDown();
    }
    static std::vector<uint32_t> addresses_of(const hostent *host) {
        std::vector<uint32_t> result;
        for (char **entry = host->h_addr_list; *entry != nullptr; ++entry) {
            uint32_t address;
            std::memcpy(&address, *entry, 4);
            result.push_back(ntohl(address));
        }
        return result;
    }
};

std::string dotted(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

TEST_F(WinsockHost, HookOfTenAddressesListsAllTenInOrder) {
    std::vector<uint32_t> expected;
    std::string list;
    for (int i = 0; i < 10; ++i) {
        uint32_t address = i % 2 == 0 ? loopback(20 + i)
                                      : (192u << 24 | 168u << 16 | 7u << 8 |
                                         static_cast<uint32_t>(250 - i));
        expected.push_back(address);
        if (i > 0)
            list += ',';
        list += dotted(address);
    }
    setenv("NUV_HOST_ADDRESSES", list.c_str(), 1);
    hostent *host = gethostbyname("nuv-test-pc");
    ASSERT_NE(host, nullptr) << WSAGetLastError();
    EXPECT_EQ(host->h_addrtype, AF_INET);
    EXPECT_EQ(host->h_length, 4);
    EXPECT_EQ(addresses_of(host), expected);
    EXPECT_EQ(host->h_addr, host->h_addr_list[0]);
    ASSERT_NE(host->h_aliases, nullptr);
    EXPECT_EQ(host->h_aliases[0], nullptr);
}

TEST_F(WinsockHost, HookOfFortyAddressesListsThemAll) {
    std::vector<uint32_t> expected;
    std::string list;
    for (int i = 0; i < 40; ++i) {
        expected.push_back((10u << 24) | static_cast<uint32_t>(i + 1));
        if (i > 0)
            list += ", ";  // blanks after commas are fine
        list += dotted(expected.back());
    }
    setenv("NUV_HOST_ADDRESSES", list.c_str(), 1);
    hostent *host = gethostbyname("nuv-test-pc");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(addresses_of(host), expected);
}

TEST_F(WinsockHost, EmptyHookMeansTheLookupFails) {
    setenv("NUV_HOST_ADDRESSES", "", 1);
    WSASetLastError(0);
    EXPECT_EQ(gethostbyname("nuv-test-pc"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST_F(WinsockHost, HookIsReadAtEachCall) {
    setenv("NUV_HOST_ADDRESSES", "127.0.9.21", 1);
    hostent *host = gethostbyname("nuv-test-pc");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(addresses_of(host), std::vector<uint32_t>{loopback(21)});
    setenv("NUV_HOST_ADDRESSES", "127.0.9.22,127.0.9.23", 1);
    host = gethostbyname("nuv-test-pc");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(addresses_of(host), (std::vector<uint32_t>{loopback(22), loopback(23)}));
}

struct MalformedList {
    const char *label;
    const char *value;
};

// Named by its label in test names and messages.
void PrintTo(const MalformedList &value, std::ostream *out) {
    *out << value.label;
}

class WinsockMalformedHost : public WinsockHost,
                             public testing::WithParamInterface<MalformedList> {};

TEST_P(WinsockMalformedHost, MalformedHookFailsTheLookupWithAMessage) {
    setenv("NUV_HOST_ADDRESSES", GetParam().value, 1);
    testing::internal::CaptureStderr();
    hostent *host = gethostbyname("nuv-test-pc");
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(host, nullptr);
    EXPECT_NE(message.find("NUV_HOST_ADDRESSES"), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Values, WinsockMalformedHost,
    testing::Values(MalformedList{"TrailingComma", "127.0.9.1,"},
                    MalformedList{"LeadingComma", ",127.0.9.1"},
                    MalformedList{"EmptyEntry", "127.0.9.1,,127.0.9.2"},
                    MalformedList{"ThreeParts", "127.0.9"},
                    MalformedList{"FiveParts", "127.0.9.1.5"},
                    MalformedList{"PartTooBig", "127.0.9.256"},
                    MalformedList{"Letters", "a.b.c.d"},
                    MalformedList{"Semicolon", "127.0.9.1;127.0.9.2"},
                    MalformedList{"LeadingZero", "127.0.09.1"},
                    MalformedList{"FourDigits", "1270.0.9.1"},
                    MalformedList{"Negative", "127.0.9.-1"},
                    MalformedList{"OnlyBlanksAndComma", " , "}),
    [](const testing::TestParamInfo<MalformedList> &info) { return info.param.label; });

TEST_F(WinsockHost, HostEntryStorageIsPerThread) {
    setenv("NUV_HOST_ADDRESSES", "127.0.9.24,127.0.9.25", 1);
    hostent *mine = gethostbyname("nuv-test-pc");
    ASSERT_NE(mine, nullptr);
    setenv("NUV_HOST_ADDRESSES", "127.0.9.26", 1);
    std::vector<uint32_t> theirs;
    std::thread other([&theirs] {
        hostent *host = gethostbyname("nuv-test-pc");
        if (host != nullptr)
            theirs = addresses_of(host);
    });
    other.join();
    EXPECT_EQ(theirs, std::vector<uint32_t>{loopback(26)});
    EXPECT_EQ(addresses_of(mine), (std::vector<uint32_t>{loopback(24), loopback(25)}))
        << "another thread's lookup leaves this thread's entry alone";
}

TEST_F(WinsockHost, WithoutTheHookANumericNameIsLookedUp) {
    unsetenv("NUV_HOST_ADDRESSES");
    hostent *host = gethostbyname("127.0.9.27");
    ASSERT_NE(host, nullptr) << WSAGetLastError();
    EXPECT_EQ(host->h_addrtype, AF_INET);
    EXPECT_EQ(host->h_length, 4);
    EXPECT_EQ(addresses_of(host), std::vector<uint32_t>{loopback(27)});
}

TEST_F(WinsockHost, HostNameIsGivenWhenItFits) {
    char name[128];
    ASSERT_EQ(gethostname(name, 127), 0) << WSAGetLastError();
    EXPECT_GT(std::strlen(name), 0u);
    char tiny[1];
    WSASetLastError(0);
    EXPECT_EQ(gethostname(tiny, 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

} // namespace

// ---- select ------------------------------------------------------------------

namespace {

struct Waited {
    int result;
    int error;
    std::chrono::microseconds took;
};

Waited select_for(fd_set *read_set, long usec) {
    timeval limit;
    limit.tv_sec = 0;
    limit.tv_usec = usec;
    WSASetLastError(0);
    Clock::time_point begin = Clock::now();
    int result = select(0, read_set, nullptr, nullptr, &limit);
    return {result, WSAGetLastError(),
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin)};
}

} // namespace

TEST_F(Winsock, SelectWaitsItsTimeWhenNothingComesAndLeavesTheSetEmpty) {
    SOCKET s = open_socket(SOCK_DGRAM, loopback(40), 40940);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    Waited waited = select_for(&readable, 20000);
    EXPECT_EQ(waited.result, 0);
    EXPECT_GE(waited.took, std::chrono::milliseconds(19));
    EXPECT_EQ(readable.fd_count, 0u);
    EXPECT_FALSE(FD_ISSET(s, &readable));
}

TEST_F(Winsock, SelectReturnsAtOnceForAWaitingDatagramAndKeepsOnlyReadySockets) {
    SOCKET ready = open_socket(SOCK_DGRAM, loopback(41), 40941);
    SOCKET quiet = open_socket(SOCK_DGRAM, loopback(41), 40942);
    SOCKET sender = open_socket(SOCK_DGRAM, loopback(41), 40943);
    sockaddr_in to = address_of(loopback(41), 40941);
    ASSERT_EQ(sendto(sender, "x", 1, 0, as_sockaddr(to), sizeof to), 1);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(quiet, &readable);
    FD_SET(ready, &readable);
    FD_SET(ready, &readable);  // a socket is held once
    EXPECT_EQ(readable.fd_count, 2u);
    Waited waited = select_for(&readable, 2000000);
    EXPECT_EQ(waited.result, 1);
    EXPECT_LT(waited.took, std::chrono::milliseconds(1000));
    EXPECT_TRUE(FD_ISSET(ready, &readable));
    EXPECT_FALSE(FD_ISSET(quiet, &readable));
    FD_CLR(ready, &readable);
    EXPECT_EQ(readable.fd_count, 0u);
}

TEST_F(Winsock, SelectEndsItsWaitWhenADatagramArrives) {
    SOCKET receiver = open_socket(SOCK_DGRAM, loopback(42), 40944);
    std::thread sender([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to = address_of(loopback(42), 40944);
        sendto(s, "late", 4, 0, as_sockaddr(to), sizeof to);
        closesocket(s);
    });
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(receiver, &readable);
    Waited waited = select_for(&readable, 3000000);
    sender.join();
    EXPECT_EQ(waited.result, 1);
    EXPECT_GE(waited.took, std::chrono::milliseconds(25));
    EXPECT_LT(waited.took, std::chrono::milliseconds(2000));
}

TEST_F(Winsock, SelectRefusesEmptySetsAndThingsThatAreNotSockets) {
    fd_set empty;
    FD_ZERO(&empty);
    Waited waited = select_for(&empty, 1000);
    EXPECT_EQ(waited.result, SOCKET_ERROR);
    EXPECT_EQ(waited.error, WSAEINVAL);
    EXPECT_EQ(select(0, static_cast<fd_set *>(nullptr), nullptr, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    fd_set not_a_socket;
    FD_ZERO(&not_a_socket);
    FD_SET(static_cast<SOCKET>(1), &not_a_socket);  // standard output
    waited = select_for(&not_a_socket, 1000);
    EXPECT_EQ(waited.result, SOCKET_ERROR);
    EXPECT_EQ(waited.error, WSAENOTSOCK);
}
