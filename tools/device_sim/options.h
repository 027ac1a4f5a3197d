// tools/device_sim/options.h: the simulated device's command line.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

enum class NonceChange { never, every_challenge, after_requests, after_flash };
enum class BadChallenge { none, no_header, no_nonce };

// The five labels of the information page, in the order the page shows them.
constexpr int kLabelCount = 5;
extern const char *const kLabelNames[kLabelCount];    // option spellings: "product-name", ...
extern const char *const kLabelTexts[kLabelCount];    // page texts: "Product Name:", ...

struct PageOptions {
    std::string values[kLabelCount];
    bool omitted[kLabelCount] = {};
};

struct DigestOptions {
    bool enabled = false;  // only when a password is given
    std::string username = "admin";
    std::string password;
    std::string realm = "NUV Device";
    bool has_qop = false;
    std::string qop;        // written verbatim between the quotes
    bool has_algorithm = false;
    std::string algorithm;  // written verbatim
    bool algorithm_unquoted = false;
    bool has_opaque = false;
    std::string opaque;     // may be empty: opaque=""
    std::string first_nonce;  // empty: one is made up
    NonceChange nonce_change = NonceChange::never;
    long nonce_requests = 0;  // for after_requests
};

struct FaultOptions {
    bool refuse = false;           // bind, never listen
    long refuse_after = 0;         // close the listener after this many connections (0: never)
    bool close_without_reply = false;
    bool big_reply = false;
    std::string http_version = "HTTP/1.1";
    BadChallenge bad_challenge = BadChallenge::none;
    long fault_connections = 0;    // the reply faults hit only the first N connections (0: all)
};

struct Options {
    std::string address = "127.0.0.1";
    uint32_t address_host = 0x7f000001;  // host order
    uint16_t port = 80;
    std::string log_path;  // empty: no log
    long max_seconds = 300;
    PageOptions page;
    DigestOptions digest;
    FaultOptions faults;
};

constexpr int kParsed = 0;
constexpr int kHelpShown = 1;
constexpr int kBadOptions = 2;

// Fills `options` from argv. kHelpShown after --help (printed on stdout);
// kBadOptions after a message on stderr.
int parse_options(int argc, char **argv, Options &options);

// Dotted IPv4 text to a host-order address; false when not four numbers 0-255.
bool parse_ipv4(const std::string &text, uint32_t &address);

} // namespace sim
