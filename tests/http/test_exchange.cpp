// tests/http/test_exchange.cpp: reply classification, page scraping, socket
// addresses, and whole exchanges against a scripted loopback peer: the bytes
// on the wire, the reply kept, and what is scraped or left alone.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/random.h"
#include "app/upgrade_context.h"
#include "http/digest.h"
#include "http/exchange.h"
#include "tests/http/http_peer.h"

extern const int32_t build_initial_target_mode = 1;

namespace {

using http_peer::always;
using http_peer::Connection;
using http_peer::Ending;
using http_peer::host_order;
using http_peer::Peer;
using http_peer::PortHolder;

const char kChallenge[] = "WWW-Authenticate: Digest realm=\"nuv\", nonce=\"5ee1\", qop=\"auth\"\r\n";

// ---- classify_reply ------------------------------------------------------

struct ClassifyCase {
    const char *name;
    std::string reply;
    int expected;
};

const ClassifyCase kClassifyCases[] = {
    {"ok", "HTTP/1.1 200 OK\r\n\r\n", 0},
    {"blank_tab_blank_before_status", "HTTP/1.1 \t 200 OK\r\n", 0},
    {"ninth_character_not_examined", "HTTP/1.1x200 OK\r\n", 0},
    {"status_is_a_prefix_only", "HTTP/1.1 2001 Odd\r\n", 0},
    {"not_found", "HTTP/1.1 404 Not Found\r\n\r\n", 2},
    {"http_1_0_with_usable_challenge",
     std::string("HTTP/1.0 401 Unauthorized\r\n") + kChallenge + "\r\n", -1},
    {"version_is_case_sensitive", "http/1.1 200 OK\r\n", -1},
    {"empty_reply", "", -1},
    {"version_alone", "HTTP/1.1", -2},
    {"version_and_blanks_only", "HTTP/1.1 \t ", -2},
    {"401_without_challenge", "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n", 2},
    {"401_realm_without_nonce",
     "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"nuv\"\r\n\r\n", 2},
    {"401_header_name_is_case_sensitive",
     "HTTP/1.1 401 Unauthorized\r\nwww-authenticate: Digest realm=\"nuv\", nonce=\"5ee1\"\r\n\r\n", 2},
    {"401_with_usable_challenge",
     std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallenge + "\r\n", 1},
    {"401_challenge_in_body", "HTTP/1.1 401 Unauthorized\r\n\r\n<p>" + std::string(kChallenge), 1},
};

// Named in test listings by the case, not by its bytes.
void PrintTo(const ClassifyCase &c, std::ostream *os) { *os << c.name; }

class Classify : public testing::TestWithParam<ClassifyCase> {};

TEST_P(Classify, GivesTheResultOfTheStatusLine)
{
    DigestState state{};
    EXPECT_EQ(classify_reply(GetParam().reply.c_str(), &state), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Replies, Classify, testing::ValuesIn(kClassifyCases),
                         [](const testing::TestParamInfo<ClassifyCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(ClassifyChallenge, IsTakenFromTheFirstAuthenticateHeaderOn)
{
    // A realm= before the header must not be what the state gets.
    DigestState state{};
    const char reply[] = "HTTP/1.1 401 realm=\"early\"\r\n"
                         "WWW-Authenticate: Digest realm=\"late\", nonce=\"n1\"\r\n\r\n";
    ASSERT_EQ(classify_reply(reply, &state), 1);
    EXPECT_STREQ(state.realm, "late");
    EXPECT_STREQ(state.nonce, "n1");
}

TEST(ClassifyChallenge, IsNotReadWhenTheReplyIsNotHttp11)
{
    DigestState state{};
    std::string reply = std::string("HTTP/1.0 401 Unauthorized\r\n") + kChallenge;
    ASSERT_EQ(classify_reply(reply.c_str(), &state), -1);
    EXPECT_STREQ(state.realm, "");
    EXPECT_STREQ(state.nonce, "");
}

// ---- scrape_field ---------------------------------------------------------

struct ScrapeCase {
    const char *name;
    std::string reply;  // may hold a NUL
    const char *label;
    bool found;
    std::string value;
};

const ScrapeCase kScrapeCases[] = {
    {"plain_cell", "<td>Product Name:</td><td>ABC-1</td>", "Product Name:", true, "ABC-1"},
    {"nested_tags", "<td>MAC Address:</td><td><b>000E08A1B2C3</b></td>", "MAC Address:", true,
     "000E08A1B2C3"},
    {"line_break_between_tags", "<td>Software Version:</td>\r\n<td>X1</td>", "Software Version:", true,
     "\r\n"},
    {"value_to_end_of_text", "<td>Serial Number:</td><td>S-77", "Serial Number:", true, "S-77"},
    {"empty_value_then_tags", "<td>Serial Number:</td><td></td></tr>", "Serial Number:", true, ""},
    {"first_occurrence_counts", "Product Name:</td><td>A</td><td>Product Name:</td><td>B</td>",
     "Product Name:", true, "A"},
    {"label_inside_header_line", "HTTP/1.1 200 OK\r\nX-Info: Product Name:<x>hdr\r\n", "Product Name:",
     true, "hdr\r\n"},
    {"nul_ends_the_value", std::string("<td>Product Name:</td><td>AB\0CD</td>", 36), "Product Name:",
     true, "AB"},
    {"missing_label", "<td>Product:</td><td>ABC-1</td>", "Product Name:", false, ""},
    {"label_is_case_sensitive", "<td>product name:</td><td>ABC-1</td>", "Product Name:", false, ""},
    {"no_closing_bracket_after_label", "<td>Product Name: ABC-1", "Product Name:", false, ""},
    {"tag_without_closing_bracket", "<td>Product Name:</td><td", "Product Name:", false, ""},
    {"label_after_nul_is_not_seen", std::string("<p>x\0Product Name:</td><td>A</td>", 33),
     "Product Name:", false, ""},
};

void PrintTo(const ScrapeCase &c, std::ostream *os) { *os << c.name; }

class Scrape : public testing::TestWithParam<ScrapeCase> {};

TEST_P(Scrape, StoresTheValueOrLeavesTheDestination)
{
    const ScrapeCase &c = GetParam();
    char destination[128];
    std::strcpy(destination, "untouched");
    char *result = scrape_field(c.reply.c_str(), c.label, destination, 127);
    if (c.found) {
        EXPECT_EQ(result, destination);
        EXPECT_EQ(std::string(destination), c.value);
    } else {
        EXPECT_EQ(result, nullptr);
        EXPECT_STREQ(destination, "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, Scrape, testing::ValuesIn(kScrapeCases),
                         [](const testing::TestParamInfo<ScrapeCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(ScrapeLimit, ALongValueIsCutAt127Characters)
{
    std::string value;
    for (int i = 0; i < 200; i++)
        value += static_cast<char>('a' + i % 26);
    std::string page = "<td>Hardware Version:</td><td>" + value + "</td>";
    char destination[130];
    std::memset(destination, 'Z', sizeof destination);
    ASSERT_EQ(scrape_field(page.c_str(), "Hardware Version:", destination, 127), destination);
    EXPECT_EQ(std::string(destination), value.substr(0, 127));
    EXPECT_EQ(destination[128], 'Z') << "written past limit + 1 bytes";
}

// ---- fill_sockaddr / read_sockaddr ------------------------------------------

struct SockaddrCase {
    uint32_t address;
    uint16_t port;
    unsigned char address_bytes[4];
    unsigned char port_bytes[2];
};

const SockaddrCase kSockaddrCases[] = {
    {0x7F000A01, 8080, {127, 0, 10, 1}, {0x1F, 0x90}},
    {0xC0A8026E, 80, {192, 168, 2, 110}, {0x00, 0x50}},
    {0, 69, {0, 0, 0, 0}, {0x00, 0x45}},
    {0xFFFFFFFE, 65535, {255, 255, 255, 254}, {0xFF, 0xFF}},
};

TEST(Sockaddr, FillsNetworkOrderAndReadsBackHostOrder)
{
    for (const SockaddrCase &c : kSockaddrCases) {
        SCOPED_TRACE(c.address);
        sockaddr_in a;
        std::memset(&a, 0xA5, sizeof a);
        fill_sockaddr(c.address, c.port, &a);
        EXPECT_EQ(a.sin_family, AF_INET);
        EXPECT_EQ(std::memcmp(&a.sin_addr, c.address_bytes, 4), 0);
        EXPECT_EQ(std::memcmp(&a.sin_port, c.port_bytes, 2), 0);
        const char zero[8] = {};
        EXPECT_EQ(std::memcmp(a.sin_zero, zero, 8), 0);
        uint32_t address = 1;
        uint16_t port = 1;
        read_sockaddr(&a, &address, &port);
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(port, c.port);
    }
}

// ---- whole exchanges on loopback ---------------------------------------------

constexpr uint16_t kDevicePort = 18080;
constexpr uint16_t kLocalBase = 23456;
constexpr int32_t kCapacity = sizeof upgrade.reply_buffer - 1;

// Each test its own pair of addresses, as tests run side by side.
struct Hosts {
    std::string local, device;
    explicit Hosts(int n)
        : local("127.0.10." + std::to_string(2 * n + 1)), device("127.0.10." + std::to_string(2 * n + 2))
    {
    }
};

const std::string kPage =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<table>"
    "<tr><td>Product Name:</td><td>NUV-2200</td></tr>"
    "<tr><td>MAC Address:</td><td><b>000E08A1B2C3</b></td></tr>"
    "<tr><td>Software Version:</td><td>2.0.9(t)</td></tr>"
    "<tr><td>Hardware Version:</td><td>1.1.0</td></tr>"
    "<tr><td>Serial Number:</td><td>FM123456</td></tr></table>";

class Exchange : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        std::memset(&upgrade.digest, 0, sizeof upgrade.digest);
        std::memset(&upgrade.device_info, 0, sizeof upgrade.device_info);
        // No NUL anywhere but where the exchange writes one.
        std::memset(upgrade.reply_buffer, 'J', sizeof upgrade.reply_buffer);
        seed_random(7);
    }

    static int32_t run(const Hosts &h, const char *target = "/admin/advanced",
                       uint16_t device_port = kDevicePort)
    {
        return http_exchange(host_order(h.local), kLocalBase, host_order(h.device), device_port, target,
                             upgrade.reply_buffer, kCapacity);
    }

    static void set_old_device_info()
    {
        DeviceInfo &d = upgrade.device_info;
        std::strcpy(d.product_name, "old product");
        std::strcpy(d.mac_address, "old mac");
        std::strcpy(d.software_version, "old software");
        std::strcpy(d.hardware_version, "old hardware");
        std::strcpy(d.serial_number, "old serial");
    }

    // A password and a challenge already taken, as after the password screen.
    static void set_credentials(uint32_t nonce_count)
    {
        DigestState &s = upgrade.digest;
        s.nonce_count = nonce_count;
        std::strcpy(s.previous_nonce, "5ee1");
        std::strcpy(s.nonce, "5ee1");
        std::strcpy(s.cnonce, "1a2b");
        std::strcpy(s.username, "admin");
        std::strcpy(s.password, "secret");
        std::strcpy(s.realm, "nuv");
        std::strcpy(s.qop, "auth");
    }
};

TEST_F(Exchange, WithoutPasswordSendsExactlyThreeLines)
{
    // The second device address is not the one of the Host line either: the
    // line is fixed whatever the device is reached at.
    const char *targets[] = {"/admin/advanced", "/admin/upgrade?tftp://127.0.10.1:69/nuv3a7.bi1"};
    for (int i = 0; i < 2; i++) {
        Hosts h(1 + i);
        Peer device(h.device, kDevicePort, always(kPage));
        ASSERT_TRUE(device.listening());
        EXPECT_EQ(run(h, targets[i]), static_cast<int32_t>(kPage.size()));
        ASSERT_EQ(device.requests().size(), 1u);
        EXPECT_EQ(device.requests()[0],
                  std::string("GET ") + targets[i] + " HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n");
        EXPECT_EQ(upgrade.digest.nonce_count, 0u);
    }
}

TEST_F(Exchange, WithPasswordAddsTheAuthorizationLineWithTheNextCount)
{
    Hosts h(3);
    set_credentials(3);
    // The line the exchange must send is the one of the state with its count
    // one up; built here on a copy.
    DigestState expected_state = upgrade.digest;
    expected_state.nonce_count = 4;
    char line[kAuthorizationCapacity];
    build_authorization(&expected_state, "/admin/advanced", line);

    Peer device(h.device, kDevicePort, always(kPage));
    ASSERT_TRUE(device.listening());
    EXPECT_EQ(run(h), static_cast<int32_t>(kPage.size()));
    ASSERT_EQ(device.requests().size(), 1u);
    std::string request = device.requests()[0];
    EXPECT_EQ(request, std::string("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n") + line + "\r\n");
    EXPECT_NE(request.find(",nc=000000004,"), std::string::npos) << request;
    EXPECT_EQ(upgrade.digest.nonce_count, 4u);
    EXPECT_STREQ(upgrade.digest.digest_uri, "/admin/advanced");
}

TEST_F(Exchange, APageFillsAllFiveTexts)
{
    Hosts h(4);
    Peer device(h.device, kDevicePort, always(kPage));
    ASSERT_TRUE(device.listening());
    ASSERT_EQ(run(h), static_cast<int32_t>(kPage.size()));
    EXPECT_STREQ(upgrade.reply_buffer, kPage.c_str());
    const DeviceInfo &d = upgrade.device_info;
    EXPECT_STREQ(d.product_name, "NUV-2200");
    EXPECT_STREQ(d.mac_address, "000E08A1B2C3");
    EXPECT_STREQ(d.software_version, "2.0.9(t)");
    EXPECT_STREQ(d.hardware_version, "1.1.0");
    EXPECT_STREQ(d.serial_number, "FM123456");
}

TEST_F(Exchange, ASecondPageWithoutALabelKeepsTheFirstValue)
{
    Hosts h(5);
    {
        Peer first(h.device, kDevicePort, always(kPage));
        ASSERT_TRUE(first.listening());
        ASSERT_GT(run(h), 0);
    }
    std::string second = "HTTP/1.1 200 OK\r\n\r\n<td>Product Name:</td><td>NUV-2200</td>"
                         "<td>Software Version:</td><td>4.1.12(a)</td>";
    Peer device(h.device, kDevicePort, always(second));
    ASSERT_TRUE(device.listening());
    ASSERT_EQ(run(h), static_cast<int32_t>(second.size()));
    EXPECT_STREQ(upgrade.device_info.software_version, "4.1.12(a)");
    EXPECT_STREQ(upgrade.device_info.serial_number, "FM123456");
    EXPECT_STREQ(upgrade.device_info.hardware_version, "1.1.0");
}

TEST_F(Exchange, AUsableChallengeAsksForAuthenticationAndScrapesNothing)
{
    Hosts h(6);
    set_old_device_info();
    std::string reply = std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallenge +
                        "\r\n<td>Product Name:</td><td>NUV-2200</td><td>Serial Number:</td><td>X</td>";
    Peer device(h.device, kDevicePort, always(reply));
    ASSERT_TRUE(device.listening());
    EXPECT_EQ(run(h), -1);
    EXPECT_STREQ(upgrade.digest.nonce, "5ee1");
    EXPECT_STREQ(upgrade.digest.realm, "nuv");
    const DeviceInfo &d = upgrade.device_info;
    EXPECT_STREQ(d.product_name, "old product");
    EXPECT_STREQ(d.mac_address, "old mac");
    EXPECT_STREQ(d.software_version, "old software");
    EXPECT_STREQ(d.hardware_version, "old hardware");
    EXPECT_STREQ(d.serial_number, "old serial");
}

// Replies that are not a demand for authentication: the byte count comes
// back and the page is scraped whatever its status.
TEST_F(Exchange, OtherRepliesAreCountedAndScraped)
{
    const std::string body = "\r\n\r\n<td>Product Name:</td><td>NUV-9</td>";
    const std::string replies[] = {
        "HTTP/1.1 404 Not Found" + body,
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"nuv\"" + body,
        "HTTP/1.1 401 Unauthorized" + body,
        std::string("HTTP/1.0 401 Unauthorized\r\n") + kChallenge + body,
    };
    int n = 7;
    for (const std::string &reply : replies) {
        SCOPED_TRACE(reply);
        std::memset(&upgrade.device_info, 0, sizeof upgrade.device_info);
        Hosts h(n++);
        Peer device(h.device, kDevicePort, always(reply));
        ASSERT_TRUE(device.listening());
        EXPECT_EQ(run(h), static_cast<int32_t>(reply.size()));
        EXPECT_STREQ(upgrade.device_info.product_name, "NUV-9");
    }
}

TEST_F(Exchange, ALongReplyIsCutAtTheCapacity)
{
    Hosts h(11);
    set_old_device_info();
    // A value that straddles the cut, and a label wholly beyond it.
    std::string reply = "HTTP/1.1 200 OK\r\n\r\n";
    while (reply.size() < static_cast<size_t>(kCapacity) - 40)
        reply += static_cast<char>('a' + reply.size() % 26);
    reply += "<td>Product Name:</td><td>";
    reply += "NUV-ABCDEFGHIJKLMNOPQRSTUVWXYZ</td>";
    size_t cut_value = kCapacity - (reply.size() - std::strlen("NUV-ABCDEFGHIJKLMNOPQRSTUVWXYZ</td>"));
    reply += "<td>Serial Number:</td><td>beyond</td>";
    while (reply.size() < 200000)
        reply += 'z';
    ASSERT_GT(cut_value, 0u);

    Peer device(h.device, kDevicePort, always(reply));
    ASSERT_TRUE(device.listening());
    EXPECT_EQ(run(h), kCapacity);
    EXPECT_EQ(std::memcmp(upgrade.reply_buffer, reply.data(), kCapacity), 0);
    EXPECT_EQ(upgrade.reply_buffer[kCapacity], '\0');
    EXPECT_EQ(std::string(upgrade.device_info.product_name),
              std::string("NUV-ABCDEFGHIJKLMNOPQRSTUVWXYZ").substr(0, cut_value));
    EXPECT_STREQ(upgrade.device_info.serial_number, "old serial");
    EXPECT_EQ(device.requests().size(), 1u);
}

TEST_F(Exchange, AReplyCutShortGivesWhatCame)
{
    const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<td>Product Name:</td><td>NUV-1";
    const Ending endings[] = {Ending::close, Ending::reset};
    int n = 12;
    for (Ending ending : endings) {
        SCOPED_TRACE(ending == Ending::close ? "close" : "reset");
        std::memset(&upgrade.device_info, 0, sizeof upgrade.device_info);
        Hosts h(n++);
        Peer device(h.device, kDevicePort, always(partial), ending);
        ASSERT_TRUE(device.listening());
        EXPECT_EQ(run(h), static_cast<int32_t>(partial.size()));
        EXPECT_STREQ(upgrade.reply_buffer, partial.c_str());
        EXPECT_STREQ(upgrade.device_info.product_name, "NUV-1");
    }
}

TEST_F(Exchange, ASilentCloseGivesZeroAndScrapesNothing)
{
    Hosts h(14);
    set_old_device_info();
    Peer device(h.device, kDevicePort, always(""));
    ASSERT_TRUE(device.listening());
    EXPECT_EQ(run(h), 0);
    EXPECT_EQ(device.requests().size(), 1u) << "the connection was accepted";
    EXPECT_STREQ(upgrade.device_info.product_name, "old product");
}

TEST_F(Exchange, ARefusedConnectionGivesZeroAndSendsNothing)
{
    // Nothing listens on the device's port.
    Hosts h(15);
    set_old_device_info();
    EXPECT_EQ(run(h), 0);
    // The buffer still holds the request that was never sent.
    EXPECT_STREQ(upgrade.reply_buffer, "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n");
    EXPECT_EQ(upgrade.digest.nonce_count, 0u);
    EXPECT_STREQ(upgrade.device_info.product_name, "old product");
}

TEST_F(Exchange, ARefusedConnectionStillAdvancesTheNonceCount)
{
    Hosts h(16);
    set_credentials(1);
    EXPECT_EQ(run(h), 0);
    EXPECT_EQ(upgrade.digest.nonce_count, 2u);
    std::string request = upgrade.reply_buffer;
    EXPECT_EQ(request.rfind("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\nAuthorization: Digest ", 0), 0u)
        << request;
    EXPECT_NE(request.find(",nc=000000002,"), std::string::npos) << request;
}

TEST_F(Exchange, TheFirstFreeLocalPortIsUsed)
{
    struct PortCase {
        int taken;
        uint16_t expected;
    };
    const PortCase cases[] = {{0, 23456}, {1, 23457}, {100, 23556}};
    int n = 17;
    for (const PortCase &c : cases) {
        SCOPED_TRACE(c.taken);
        Hosts h(n++);
        PortHolder held(h.local, kLocalBase, c.taken);
        ASSERT_TRUE(held.all_held());
        Peer device(h.device, kDevicePort, always(kPage));
        ASSERT_TRUE(device.listening());
        EXPECT_EQ(run(h), static_cast<int32_t>(kPage.size()));
        std::vector<Connection> served = device.connections();
        ASSERT_EQ(served.size(), 1u);
        EXPECT_EQ(served[0].peer_address, h.local);
        EXPECT_EQ(served[0].peer_port, c.expected);
    }
}

TEST_F(Exchange, ATargetTooLongForTheBufferIsCutInside)
{
    Hosts h(20);
    // 64 bytes of buffer, 63 characters of request at most; the bytes behind
    // must stay as they were.
    char buffer[80];
    std::memset(buffer, 'Q', sizeof buffer);
    std::string target = "/admin/" + std::string(100, 't');
    // Refused: the request is formatted all the same and stays in the buffer.
    int32_t result = http_exchange(host_order(h.local), kLocalBase, host_order(h.device), kDevicePort,
                                   target.c_str(), buffer, 63);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(buffer), ("GET " + target).substr(0, 63));
    for (size_t i = 64; i < sizeof buffer; i++)
        EXPECT_EQ(buffer[i], 'Q') << "byte " << i;
}

} // namespace
