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

// --nul-in-reply head: the NUL goes into the header lines, not a value.
constexpr int kNulInHead = kLabelCount;

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
    // A NUL byte inside the reply: kNulInHead in the header lines, else in
    // the middle of the value of label nul_in_reply; -1: none.
    int nul_in_reply = -1;
    bool endless_reply = false;    // the reply starts and never ends
    long fault_connections = 0;    // the reply faults hit only the first N connections (0: all)
};

// The TFTP side: the fetch that an upgrade command starts, the flash after
// it, and the faults of the fetch. Block numbers count DATA blocks from 1
// (0 stands for the OACK), without the 16-bit wrap of the wire.
struct TftpOptions {
    long fetch_delay_ms = 300;    // idle wait between the command and the read request
    long request_timeout = 5;     // value of the "timeout" option in the read request
    long retry_ms = 1000;         // own wait before resending the read request or the last ACK
    long tries = 5;               // sends of one packet (or silent waits) before giving up
    double flash_seconds = 30;
    bool has_report_version = false;
    std::string report_version;   // reported after a flash instead of the image's header version
    std::string image_out;        // empty: the image stays in memory only
    std::string command;          // --tftp-command template; empty: the built-in client
    // faults of the fetch
    long fault_fetches = 0;       // the faults hit only the first N fetches (0: all)
    long lose_acks_percent = 0;   // each ACK lost with this chance, drawn from the seed
    unsigned long seed = 1;
    long lose_ack_every = 0;      // every Nth ACK of a fetch lost (0: none)
    bool repeat_acks = false;     // every ACK sent twice
    long ack_from_other_port = -1;    // the first ACK of this block leaves from a second socket
    bool ignore_oack = false;     // the OACK is never acknowledged
    long error_at_block = -1;     // ERROR after the ACK of this block; the fetch goes on
    long abort_at_block = -1;     // ERROR in place of the ACK of this block; the fetch ends
    long silent_after_block = -1; // nothing is sent after the ACK of this block
    long stray_datagrams = 0;     // after each of the first N ACKs, a stray ACK from a second socket
    long oversize_ack_at_block = -1;  // the first ACK of this block padded to 1100 bytes
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
    TftpOptions tftp;
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
