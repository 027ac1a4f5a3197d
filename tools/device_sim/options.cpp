// tools/device_sim/options.cpp: the simulated device's command line, one table row per option.
#include "tools/device_sim/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

const char *set_fault_connections(Options &o, const char *v) {
    if (!parse_number(v, 1, 1000000, o.faults.fault_connections)) return "must be a number from 1";
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
    {"--fault-connections", "N", set_fault_connections,
     "the reply faults hit only the first N connections (default: all)"},
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
        "A simulated NUV device's web server: the information page /admin/advanced,\n"
        "the upgrade command /admin/upgrade?tftp://A.B.C.D:PORT/NAME, optional digest\n"
        "protection, and faults for tests. Prints \"listening ADDRESS:PORT\" once it\n"
        "accepts connections; ends on SIGTERM or SIGINT, or after --max-seconds.\n\n");
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
    return kParsed;
}

} // namespace sim
