// tools/device_sim/options.cpp: the simulated device's command line, one table row per option.
#include "tools/device_sim/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/device_sim/fetch_command.h"

namespace sim {

const char *const kLabelNames[kLabelCount] = {
    "product-name", "mac-address", "software-version", "hardware-version", "serial-number"};
const char *const kLabelTexts[kLabelCount] = {
    "Product Name:", "MAC Address:", "Software Version:", "Hardware Version:", "Serial Number:"};

namespace {

constexpr const char *kDefaultValues[kLabelCount] = {
    "NUV-2200", "000E08A1B2C3", "3.1.4(b)", "2.0", "SN0123456789"};

// A setter returns an error text, or nullptr when the value was taken.
using Setter = const char *(*)(Options &, const char *value);

struct OptionRow {
    const char *name;
    const char *value_name;  // nullptr: a flag without value
    Setter set;
    const char *help;
};

bool parse_number(const char *text, long low, long high, long &out) {
    if (*text == '\0') return false;
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

// Quotes and line breaks would let a value break out of its header field.
bool fits_header(const char *text) {
    return std::strpbrk(text, "\"\r\n") == nullptr;
}

int label_index(const char *name) {
    for (int i = 0; i < kLabelCount; ++i)
        if (std::strcmp(name, kLabelNames[i]) == 0) return i;
    return -1;
}

const char *set_address(Options &o, const char *v) {
    if (!parse_ipv4(v, o.address_host)) return "is not a dotted IPv4 address";
    o.address = v;
    return nullptr;
}

const char *set_port(Options &o, const char *v) {
    long port = 0;
    if (!parse_number(v, 0, 65535, port)) return "must be a number from 0 to 65535";
    o.port = static_cast<uint16_t>(port);
    return nullptr;
}

const char *set_log(Options &o, const char *v) {
    if (*v == '\0') return "must name a file";
    o.log_path = v;
    return nullptr;
}

const char *set_max_seconds(Options &o, const char *v) {
    if (!parse_number(v, 1, 86400, o.max_seconds)) return "must be a number from 1 to 86400";
    return nullptr;
}

template <int Label>
const char *set_label(Options &o, const char *v) {
    if (std::strchr(v, '<') != nullptr) return "must not contain '<' (it would end the value)";
    o.page.values[Label] = v;
    return nullptr;
}

const char *set_omit(Options &o, const char *v) {
    int index = label_index(v);
    if (index < 0)
        return "must be product-name, mac-address, software-version, hardware-version or serial-number";
    o.page.omitted[index] = true;
    return nullptr;
}

const char *set_user(Options &o, const char *v) {
    if (!fits_header(v)) return "must not contain quotes or line breaks";
    o.digest.username = v;
    return nullptr;
}

const char *set_password(Options &o, const char *v) {
    if (*v == '\0') return "must not be empty (leave it out for an unprotected device)";
    o.digest.password = v;
    o.digest.enabled = true;
    return nullptr;
}

const char *set_realm(Options &o, const char *v) {
    if (!fits_header(v)) return "must not contain quotes or line breaks";
    o.digest.realm = v;
    return nullptr;
}

const char *set_qop(Options &o, const char *v) {
    if (!fits_header(v) || *v == '\0') return "must be a non-empty text without quotes or line breaks";
    o.digest.qop = v;
    o.digest.has_qop = true;
    return nullptr;
}

const char *set_algorithm(Options &o, const char *v) {
    if (!fits_header(v) || *v == '\0' || std::strpbrk(v, " ,") != nullptr)
        return "must be a non-empty token such as MD5 or MD5-sess";
    o.digest.algorithm = v;
    o.digest.has_algorithm = true;
    return nullptr;
}

const char *set_algorithm_unquoted(Options &o, const char *) {
    o.digest.algorithm_unquoted = true;
    return nullptr;
}

const char *set_opaque(Options &o, const char *v) {
    if (!fits_header(v)) return "must not contain quotes or line breaks";
    o.digest.opaque = v;
    o.digest.has_opaque = true;
    return nullptr;
}

const char *set_nonce(Options &o, const char *v) {
    if (!fits_header(v) || *v == '\0' || std::strchr(v, ',') != nullptr)
        return "must be a non-empty text without quotes, commas or line breaks";
    o.digest.first_nonce = v;
    return nullptr;
}

const char *set_nonce_change(Options &o, const char *v) {
    DigestOptions &d = o.digest;
    if (std::strcmp(v, "never") == 0) {
        d.nonce_change = NonceChange::never;
    } else if (std::strcmp(v, "challenge") == 0) {
        d.nonce_change = NonceChange::every_challenge;
    } else if (std::strcmp(v, "flash") == 0) {
        d.nonce_change = NonceChange::after_flash;
    } else if (std::strncmp(v, "requests:", 9) == 0 &&
               parse_number(v + 9, 1, 1000000, d.nonce_requests)) {
        d.nonce_change = NonceChange::after_requests;
    } else {
        return "must be never, challenge, requests:N (N from 1) or flash";
    }
    return nullptr;
}

const char *set_refuse(Options &o, const char *) {
    o.faults.refuse = true;
    return nullptr;
}

const char *set_refuse_after(Options &o, const char *v) {
    if (!parse_number(v, 1, 1000000, o.faults.refuse_after)) return "must be a number from 1";
    return nullptr;
}

const char *set_close_without_reply(Options &o, const char *) {
    o.faults.close_without_reply = true;
    return nullptr;
}

const char *set_big_reply(Options &o, const char *) {
    o.faults.big_reply = true;
    return nullptr;
}

const char *set_http_version(Options &o, const char *v) {
    if (*v == '\0' || std::strpbrk(v, " \r\n") != nullptr) return "must be one token such as HTTP/1.0";
    o.faults.http_version = v;
    return nullptr;
}

const char *set_bad_challenge(Options &o, const char *v) {
    if (std::strcmp(v, "no-header") == 0) {
        o.faults.bad_challenge = BadChallenge::no_header;
    } else if (std::strcmp(v, "no-nonce") == 0) {
        o.faults.bad_challenge = BadChallenge::no_nonce;
    } else {
        return "must be no-header or no-nonce";
    }
    return nullptr;
}

const char *set_nul_in_reply(Options &o, const char *v) {
    if (std::strcmp(v, "head") == 0) {
        o.faults.nul_in_reply = kNulInHead;
        return nullptr;
    }
    int index = label_index(v);
    if (index < 0)
        return "must be head, product-name, mac-address, software-version, hardware-version or serial-number";
    o.faults.nul_in_reply = index;
    return nullptr;
}

const char *set_endless_reply(Options &o, const char *) {
    o.faults.endless_reply = true;
    return nullptr;
}

const char *set_fault_connections(Options &o, const char *v) {
    if (!parse_number(v, 1, 1000000, o.faults.fault_connections)) return "must be a number from 1";
    return nullptr;
}

// Seconds with an optional fraction, so tests can make a flash short.
bool parse_seconds(const char *text, double low, double high, double &out) {
    if (*text == '\0') return false;
    errno = 0;
    char *end = nullptr;
    double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value >= low && value <= high)) return false;
    out = value;
    return true;
}

const char *set_fetch_delay(Options &o, const char *v) {
    if (!parse_number(v, 0, 600000, o.tftp.fetch_delay_ms)) return "must be a number from 0 to 600000";
    return nullptr;
}

const char *set_request_timeout(Options &o, const char *v) {
    if (!parse_number(v, 1, 255, o.tftp.request_timeout)) return "must be a number from 1 to 255";
    return nullptr;
}

const char *set_retry_ms(Options &o, const char *v) {
    if (!parse_number(v, 10, 600000, o.tftp.retry_ms)) return "must be a number from 10 to 600000";
    return nullptr;
}

const char *set_tries(Options &o, const char *v) {
    if (!parse_number(v, 1, 1000, o.tftp.tries)) return "must be a number from 1 to 1000";
    return nullptr;
}

const char *set_flash_seconds(Options &o, const char *v) {
    if (!parse_seconds(v, 0, 3600, o.tftp.flash_seconds)) return "must be a number of seconds from 0 to 3600";
    return nullptr;
}

const char *set_report_version(Options &o, const char *v) {
    if (std::strchr(v, '<') != nullptr) return "must not contain '<' (it would end the value)";
    o.tftp.report_version = v;
    o.tftp.has_report_version = true;
    return nullptr;
}

const char *set_image_out(Options &o, const char *v) {
    if (*v == '\0') return "must name a file";
    o.tftp.image_out = v;
    return nullptr;
}

const char *set_tftp_command(Options &o, const char *v) {
    if (const char *why = check_command_template(v)) return why;
    o.tftp.command = v;
    return nullptr;
}

const char *set_fault_fetches(Options &o, const char *v) {
    if (!parse_number(v, 1, 1000000, o.tftp.fault_fetches)) return "must be a number from 1";
    return nullptr;
}

const char *set_lose_acks(Options &o, const char *v) {
    if (!parse_number(v, 0, 100, o.tftp.lose_acks_percent)) return "must be a percentage from 0 to 100";
    return nullptr;
}

const char *set_seed(Options &o, const char *v) {
    long seed = 0;
    if (!parse_number(v, 0, 2147483647, seed)) return "must be a number from 0 to 2147483647";
    o.tftp.seed = static_cast<unsigned long>(seed);
    return nullptr;
}

const char *set_lose_ack_every(Options &o, const char *v) {
    if (!parse_number(v, 1, 1000000, o.tftp.lose_ack_every)) return "must be a number from 1";
    return nullptr;
}

const char *set_repeat_acks(Options &o, const char *) {
    o.tftp.repeat_acks = true;
    return nullptr;
}

const char *set_ignore_oack(Options &o, const char *) {
    o.tftp.ignore_oack = true;
    return nullptr;
}

// A block number of a fault: 0 (the OACK) up to the last block TFTP can count.
template <long TftpOptions::*Field, long Low>
const char *set_block(Options &o, const char *v) {
    if (!parse_number(v, Low, 65535, o.tftp.*Field))
        return Low == 0 ? "must be a block number from 0 (the OACK) to 65535" : "must be a block number from 1 to 65535";
    return nullptr;
}

const char *set_stray_datagrams(Options &o, const char *v) {
    if (!parse_number(v, 1, 65535, o.tftp.stray_datagrams)) return "must be a number from 1 to 65535";
    return nullptr;
}

constexpr OptionRow kOptions[] = {
    {"--address", "A.B.C.D", set_address, "IPv4 address to serve on (default 127.0.0.1)"},
    {"--port", "N", set_port, "TCP port (default 80; 0 picks a free one, shown on the ready line)"},
    {"--log", "FILE", set_log, "append one JSON object per connection to FILE, flushed per line"},
    {"--max-seconds", "N", set_max_seconds, "end by itself after N seconds (default 300)"},
    {"--product-name", "TEXT", set_label<0>, "value after \"Product Name:\" (default NUV-2200)"},
    {"--mac-address", "TEXT", set_label<1>, "value after \"MAC Address:\" (default 000E08A1B2C3)"},
    {"--software-version", "TEXT", set_label<2>, "value after \"Software Version:\" (default 3.1.4(b))"},
    {"--hardware-version", "TEXT", set_label<3>, "value after \"Hardware Version:\" (default 2.0)"},
    {"--serial-number", "TEXT", set_label<4>, "value after \"Serial Number:\" (default SN0123456789)"},
    {"--omit-label", "NAME", set_omit,
     "leave a label out of the page: product-name, mac-address, software-version,\n"
     "                           hardware-version or serial-number (repeatable)"},
    {"--password", "TEXT", set_password, "protect the device with digest authentication"},
    {"--user", "TEXT", set_user, "user name the device accepts (default admin)"},
    {"--realm", "TEXT", set_realm, "realm of the challenge (default \"NUV Device\")"},
    {"--qop", "TEXT", set_qop, "qop value of the challenge, verbatim: auth, auth-int, auth,auth-int (default: none)"},
    {"--algorithm", "TEXT", set_algorithm, "algorithm value of the challenge, verbatim: MD5, MD5-sess (default: none)"},
    {"--algorithm-unquoted", nullptr, set_algorithm_unquoted, "write algorithm=VALUE without quotes"},
    {"--opaque", "TEXT", set_opaque, "opaque value of the challenge, may be empty (default: none)"},
    {"--nonce", "TEXT", set_nonce, "the first nonce (default: made up at start)"},
    {"--nonce-change", "WHEN", set_nonce_change,
     "never (default); challenge: a new nonce in every challenge after the first;\n"
     "                           requests:N: a new nonce after N requests under one nonce; flash: after flashing"},
    {"--refuse", nullptr, set_refuse, "fault: bind the port but never listen (prints \"refusing\")"},
    {"--refuse-after", "N", set_refuse_after, "fault: close the listener when connection N is accepted"},
    {"--close-without-reply", nullptr, set_close_without_reply, "fault: read the request, close without a reply"},
    {"--big-reply", nullptr, set_big_reply, "fault: pad every 200 reply to 200000 bytes in all"},
    {"--http-version", "TEXT", set_http_version, "fault: version of the status line (default HTTP/1.1)"},
    {"--bad-challenge", "KIND", set_bad_challenge,
     "fault: answer every request 401 with no-header (no WWW-Authenticate)\n"
     "                           or no-nonce (a challenge without a nonce)"},
    {"--nul-in-reply", "WHERE", set_nul_in_reply,
     "fault: a NUL byte in every reply: head (in the Server header line), or a label\n"
     "                           name (product-name, ...: in the middle of that value on the page)"},
    {"--endless-reply", nullptr, set_endless_reply,
     "fault: send the reply's head and the start of its page, then one byte every\n"
     "                           100 ms, never ending, until the client closes or the simulator stops"},
    {"--fault-connections", "N", set_fault_connections,
     "the reply faults hit only the first N connections (default: all)"},
    {"--fetch-delay-ms", "N", set_fetch_delay,
     "wait N ms after an upgrade command before the read request (default 300)"},
    {"--tftp-timeout", "S", set_request_timeout, "value of the \"timeout\" option in the read request (default 5)"},
    {"--retry-ms", "N", set_retry_ms,
     "own wait before resending the read request or the last ACK (default 1000;\n"
     "                           the OACK's timeout is logged, not followed, so tests stay fast)"},
    {"--tries", "N", set_tries, "sends of one packet (or silent waits) before the fetch gives up (default 5)"},
    {"--flash-seconds", "S", set_flash_seconds,
     "after a good fetch the web server refuses connections for S seconds\n"
     "                           (default 30, fractions allowed)"},
    {"--report-version", "TEXT", set_report_version,
     "after a flash report TEXT instead of the image's header version (offset 92)"},
    {"--image-out", "FILE", set_image_out, "write each received image to FILE (replaced per fetch)"},
    {"--tftp-command", "TEMPLATE", set_tftp_command,
     "fetch with this command instead of the built-in client; split at blanks and\n"
     "                           run without a shell; {address} {port} {name} {file} are replaced,\n"
     "                           {file} (required) is where the command leaves the image; exit 0 = fetched"},
    {"--tftp-fault-fetches", "N", set_fault_fetches, "the TFTP faults hit only the first N fetches (default: all)"},
    {"--lose-acks", "P", set_lose_acks, "fault: lose each ACK with P percent chance, drawn from --seed"},
    {"--seed", "N", set_seed, "seed of --lose-acks (default 1; the same seed loses the same ACKs)"},
    {"--lose-ack-every", "N", set_lose_ack_every, "fault: lose the Nth, 2Nth, ... ACK of each fetch"},
    {"--repeat-acks", nullptr, set_repeat_acks, "fault: send every ACK twice"},
    {"--ack-from-other-port", "N", set_block<&TftpOptions::ack_from_other_port, 0>,
     "fault: send the first ACK of block N (0: the OACK) from a second socket"},
    {"--ignore-oack", nullptr, set_ignore_oack, "fault: never acknowledge the OACK"},
    {"--error-at-block", "N", set_block<&TftpOptions::error_at_block, 0>,
     "fault: send ERROR 0 after the ACK of block N, then carry on"},
    {"--abort-at-block", "N", set_block<&TftpOptions::abort_at_block, 0>,
     "fault: send ERROR 0 instead of the ACK of block N, then stop (fetch failed)"},
    {"--silent-after-block", "N", set_block<&TftpOptions::silent_after_block, 0>,
     "fault: send nothing after the ACK of block N (fetch failed)"},
    {"--stray-datagrams", "N", set_stray_datagrams,
     "fault: after each of the first N ACKs send, from a second socket, an ACK of\n"
     "                           the next block to the server's port"},
    {"--oversize-ack", "N", set_block<&TftpOptions::oversize_ack_at_block, 0>,
     "fault: pad the first ACK of block N to a 1100-byte datagram"},
    {"--help", nullptr, nullptr, "show this list and exit"},
};

const OptionRow *find_option(const char *name) {
    for (const OptionRow &row : kOptions)
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

void print_help() {
    std::printf(
        "usage: nuv-device-sim [options]\n"
        "A simulated NUV device: its web server with the information page\n"
        "/admin/advanced and the upgrade command /admin/upgrade?tftp://A.B.C.D:PORT/NAME,\n"
        "optional digest protection, the TFTP fetch that the command starts, the flash\n"
        "after it and the version report, and faults for tests. A device on a loopback\n"
        "address fetches only from loopback addresses. Prints \"listening ADDRESS:PORT\"\n"
        "once it accepts connections; ends on SIGTERM or SIGINT, or after --max-seconds.\n\n");
    for (const OptionRow &row : kOptions) {
        char head[64];
        std::snprintf(head, sizeof head, "%s%s%s", row.name, row.value_name ? " " : "",
                      row.value_name ? row.value_name : "");
        std::printf("  %-24s %s\n", head, row.help);
    }
    std::fflush(stdout);
}

void set_defaults(Options &options) {
    options = Options{};
    for (int i = 0; i < kLabelCount; ++i) options.page.values[i] = kDefaultValues[i];
}

} // namespace

bool parse_ipv4(const std::string &text, uint32_t &address) {
    uint32_t result = 0;
    const char *p = text.c_str();
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.') return false;
        int digits = 0;
        uint32_t value = 0;
        while (*p >= '0' && *p <= '9' && digits < 4) {
            value = value * 10 + static_cast<uint32_t>(*p++ - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        result = (result << 8) | value;
    }
    if (*p != '\0') return false;
    address = result;
    return true;
}

int parse_options(int argc, char **argv, Options &options) {
    set_defaults(options);
    for (int i = 1; i < argc; ++i) {
        const OptionRow *row = find_option(argv[i]);
        if (row == nullptr) {
            std::fprintf(stderr, "nuv-device-sim: unknown option '%s' (see --help)\n", argv[i]);
            return kBadOptions;
        }
        if (row->set == nullptr) {
            print_help();
            return kHelpShown;
        }
        const char *value = "";
        if (row->value_name != nullptr) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "nuv-device-sim: %s needs a value %s\n", row->name, row->value_name);
                return kBadOptions;
            }
            value = argv[++i];
        }
        if (const char *why = row->set(options, value)) {
            std::fprintf(stderr, "nuv-device-sim: %s '%s': %s\n", row->name, value, why);
            return kBadOptions;
        }
    }
    if (options.digest.password.empty() &&
        (options.digest.has_qop || options.digest.has_algorithm || options.digest.has_opaque)) {
        std::fprintf(stderr, "nuv-device-sim: --qop, --algorithm and --opaque need --password\n");
        return kBadOptions;
    }
    if (options.digest.algorithm_unquoted && !options.digest.has_algorithm) {
        std::fprintf(stderr, "nuv-device-sim: --algorithm-unquoted needs --algorithm\n");
        return kBadOptions;
    }
    const TftpOptions &t = options.tftp;
    bool tftp_faults = t.lose_acks_percent > 0 || t.lose_ack_every > 0 || t.repeat_acks ||
                       t.ack_from_other_port >= 0 || t.ignore_oack || t.error_at_block >= 0 ||
                       t.abort_at_block >= 0 || t.silent_after_block >= 0 || t.stray_datagrams > 0 ||
                       t.oversize_ack_at_block >= 0;
    if (!t.command.empty() && tftp_faults) {
        std::fprintf(stderr, "nuv-device-sim: the TFTP faults need the built-in client, not --tftp-command\n");
        return kBadOptions;
    }
    return kParsed;
}

} // namespace sim
