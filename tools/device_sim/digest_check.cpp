// tools/device_sim/digest_check.cpp: checks a client's Authorization line as an RFC 2617 server would.
#include "tools/device_sim/digest_check.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "http/md5.h"

namespace sim {

namespace {

struct Directives {
    std::string username, realm, nonce, uri, algorithm, response, opaque, qop, nc, cnonce;
    bool has_username = false, has_realm = false, has_nonce = false, has_uri = false;
    bool has_algorithm = false, has_response = false, has_opaque = false;
    bool has_qop = false, has_nc = false, has_cnonce = false;
};

std::string hex_of(const unsigned char digest[16]) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return text;
}

void md5_of(const std::string &data, unsigned char digest[16]) {
    Md5Context context;
    md5_init(&context);
    md5_update(&context, data.data(), data.size());
    md5_final(digest, &context);
}

std::string md5_hex(const std::string &data) {
    unsigned char digest[16];
    md5_of(data, digest);
    return hex_of(digest);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// One directive value: a quoted string (with RFC 2616 backslash escapes)
// or a token; false only for a quote that is never closed. An unquoted value that is followed by comma-separated items
// without "=" takes them along: a client may echo a qop list unquoted
// (qop=auth,auth-int), and that list is one value, not stray directives.
bool read_value(const char *&p, std::string &value) {
    value.clear();
    if (*p == '"') {
        ++p;
        while (*p != '"') {
            if (*p == '\0') return false;
            if (*p == '\\' && p[1] != '\0') ++p;
            value += *p++;
        }
        ++p;
        return true;
    }
    for (;;) {
        while (*p != '\0' && *p != ',' && !is_blank(*p)) value += *p++;
        if (*p != ',' || value.empty()) return true;
        const char *item = p + 1;
        const char *end = item;
        while (*end != '\0' && *end != ',' && *end != '=') ++end;
        if (*end == '=' || end == item) return true;
        value += ',';
        p = item;
        while (is_blank(*p)) ++p;
    }
}

void store(Directives &d, const std::string &name, const std::string &value) {
    struct Slot { const char *name; std::string Directives::*text; bool Directives::*present; };
    static const Slot kSlots[] = {
        {"username", &Directives::username, &Directives::has_username},
        {"realm", &Directives::realm, &Directives::has_realm},
        {"nonce", &Directives::nonce, &Directives::has_nonce},
        {"uri", &Directives::uri, &Directives::has_uri},
        {"algorithm", &Directives::algorithm, &Directives::has_algorithm},
        {"response", &Directives::response, &Directives::has_response},
        {"opaque", &Directives::opaque, &Directives::has_opaque},
        {"qop", &Directives::qop, &Directives::has_qop},
        {"nc", &Directives::nc, &Directives::has_nc},
        {"cnonce", &Directives::cnonce, &Directives::has_cnonce},
    };
    for (const Slot &slot : kSlots) {
        if (strcasecmp(name.c_str(), slot.name) == 0 && !(d.*slot.present)) {
            d.*slot.text = value;
            d.*slot.present = true;
        }
    }
}

// "Digest name=value, name="value", ..."; false when it is not readable.
bool parse_directives(const char *p, Directives &d) {
    while (*p != '\0') {
        while (is_blank(*p) || *p == ',') ++p;
        if (*p == '\0') break;
        std::string name;
        while (*p != '\0' && *p != '=' && *p != ',' && !is_blank(*p)) name += *p++;
        while (is_blank(*p)) ++p;
        if (*p != '=' || name.empty()) return false;
        ++p;
        while (is_blank(*p)) ++p;
        std::string value;
        if (!read_value(p, value)) return false;
        store(d, name, value);
        while (is_blank(*p)) ++p;
        if (*p != '\0' && *p != ',') return false;
    }
    return true;
}

bool equals_nocase(const std::string &a, const char *b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// The qop the client chose must be one the challenge offered; the whole
// offered list echoed back is accepted too, as the upgrader sends it so.
bool qop_offered(const std::string &chosen, const std::string &offered) {
    if (chosen == offered) return true;
    size_t start = 0;
    while (start <= offered.size()) {
        size_t comma = offered.find(',', start);
        if (comma == std::string::npos) comma = offered.size();
        std::string option = offered.substr(start, comma - start);
        while (!option.empty() && is_blank(option.front())) option.erase(0, 1);
        while (!option.empty() && is_blank(option.back())) option.pop_back();
        if (!option.empty() && strcasecmp(option.c_str(), chosen.c_str()) == 0) return true;
        start = comma + 1;
    }
    return false;
}

bool all_hex(const std::string &text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// RFC 2617 3.2.2.2. For MD5-sess the first hash enters as its 16 raw
// bytes, as in the RFC's reference code (section 5), not as hex text.
std::string expected_ha1(const DigestOptions &o, const Directives &d) {
    unsigned char first[16];
    md5_of(o.username + ":" + o.realm + ":" + o.password, first);
    if (!equals_nocase(o.algorithm, "md5-sess")) return hex_of(first);
    std::string session(reinterpret_cast<const char *>(first), 16);
    return md5_hex(session + ":" + d.nonce + ":" + d.cnonce);
}

// RFC 2617 3.2.2.1 and 3.2.2.3, for a request without a body.
std::string expected_response(const DigestOptions &o, const Directives &d, const std::string &method) {
    std::string a2 = method + ":" + d.uri;
    if (d.has_qop && equals_nocase(d.qop, "auth-int")) a2.append(":").append(md5_hex(""));
    std::string ha1 = expected_ha1(o, d);
    std::string ha2 = md5_hex(a2);
    if (!d.has_qop) return md5_hex(ha1 + ":" + d.nonce + ":" + ha2);
    return md5_hex(ha1 + ":" + d.nonce + ":" + d.nc + ":" + d.cnonce + ":" + d.qop + ":" + ha2);
}

Verdict check_fields(const Directives &d, const std::string &target, const DigestOptions &o,
                     const std::string &nonce) {
    if (!d.has_username || !d.has_realm || !d.has_nonce || !d.has_uri || !d.has_response)
        return Verdict::malformed;
    if (d.username != o.username) return Verdict::wrong_user;
    if (d.realm != o.realm) return Verdict::wrong_realm;
    if (d.nonce != nonce) return Verdict::stale_nonce;
    if (d.uri != target) return Verdict::wrong_uri;
    // An absent or empty algorithm means MD5 (RFC 2617 3.2.1).
    const char *offered = o.has_algorithm ? o.algorithm.c_str() : "MD5";
    const char *used = (d.has_algorithm && !d.algorithm.empty()) ? d.algorithm.c_str() : "MD5";
    if (strcasecmp(offered, used) != 0) return Verdict::wrong_algorithm;
    if (o.has_qop != d.has_qop) return Verdict::wrong_qop;
    if (d.has_qop && !qop_offered(d.qop, o.qop)) return Verdict::wrong_qop;
    if (d.has_qop && (!d.has_nc || !all_hex(d.nc) || !d.has_cnonce || d.cnonce.empty()))
        return Verdict::missing_nc_cnonce;
    // A client leaves an empty opaque out; any other must come back unchanged.
    if (o.has_opaque && !o.opaque.empty() && (!d.has_opaque || d.opaque != o.opaque))
        return Verdict::wrong_opaque;
    if (o.has_opaque && o.opaque.empty() && d.has_opaque && !d.opaque.empty())
        return Verdict::wrong_opaque;
    return Verdict::ok;
}

void make_nonce(NonceState &state) {
    char seed_text[64];
    std::snprintf(seed_text, sizeof seed_text, "nuv:%lx:%lu", state.seed, state.serial++);
    state.current = md5_hex(seed_text);
    state.requests_under_current = 0;
}

} // namespace

void init_nonce(NonceState &state, const DigestOptions &options, unsigned long seed) {
    state = NonceState{};
    state.seed = seed;
    if (options.first_nonce.empty()) {
        make_nonce(state);
    } else {
        state.current = options.first_nonce;
    }
}

void nonce_before_request(NonceState &state, const DigestOptions &options) {
    if (options.nonce_change == NonceChange::after_requests &&
        state.requests_under_current >= options.nonce_requests)
        make_nonce(state);
    ++state.requests_under_current;
}

void nonce_before_challenge(NonceState &state, const DigestOptions &options) {
    if (options.nonce_change == NonceChange::every_challenge && state.challenges_sent > 0) {
        long requests = state.requests_under_current;
        make_nonce(state);
        state.requests_under_current = requests;
    }
    ++state.challenges_sent;
}

void nonce_after_flash(NonceState &state, const DigestOptions &options) {
    if (options.nonce_change == NonceChange::after_flash) make_nonce(state);
}

std::string challenge_line(const DigestOptions &o, const std::string &nonce) {
    std::string line = "WWW-Authenticate: Digest realm=\"" + o.realm + "\", nonce=\"" + nonce + "\"";
    if (o.has_qop) line += ", qop=\"" + o.qop + "\"";
    if (o.has_algorithm)
        line += o.algorithm_unquoted ? ", algorithm=" + o.algorithm : ", algorithm=\"" + o.algorithm + "\"";
    if (o.has_opaque) line += ", opaque=\"" + o.opaque + "\"";
    return line + "\r\n";
}

const char *verdict_name(Verdict verdict) {
    switch (verdict) {
    case Verdict::ok: return "ok";
    case Verdict::missing: return "missing";
    case Verdict::not_digest: return "not-digest";
    case Verdict::malformed: return "malformed";
    case Verdict::wrong_user: return "wrong-user";
    case Verdict::wrong_realm: return "wrong-realm";
    case Verdict::stale_nonce: return "stale-nonce";
    case Verdict::wrong_uri: return "wrong-uri";
    case Verdict::wrong_algorithm: return "wrong-algorithm";
    case Verdict::wrong_qop: return "wrong-qop";
    case Verdict::missing_nc_cnonce: return "missing-nc-cnonce";
    case Verdict::wrong_opaque: return "wrong-opaque";
    case Verdict::wrong_response: return "wrong-response";
    }
    return "?";
}

Verdict check_authorization(const char *value, const std::string &method, const std::string &target,
                            const DigestOptions &options, const std::string &nonce) {
    if (value == nullptr) return Verdict::missing;
    while (is_blank(*value)) ++value;
    if (strncasecmp(value, "Digest", 6) != 0 || !is_blank(value[6])) return Verdict::not_digest;
    Directives d;
    if (!parse_directives(value + 7, d)) return Verdict::malformed;
    Verdict verdict = check_fields(d, target, options, nonce);
    if (verdict != Verdict::ok) return verdict;
    return d.response == expected_response(options, d, method) ? Verdict::ok : Verdict::wrong_response;
}

} // namespace sim
