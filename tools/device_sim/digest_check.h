// tools/device_sim/digest_check.h: the device's side of digest authentication (RFC 2617).
#pragma once

#include <string>

#include "tools/device_sim/options.h"

namespace sim {

// The nonce the device hands out, and when it makes a new one.
struct NonceState {
    std::string current;
    unsigned long serial = 0;       // nonces made so far, for the next one
    unsigned long seed = 0;         // differs between runs, so nonces do too
    long requests_under_current = 0;
    long challenges_sent = 0;
};

void init_nonce(NonceState &state, const DigestOptions &options, unsigned long seed);
// Called for every request before it is judged: the "requests:N" mode
// renews the nonce once N requests have been made under it.
void nonce_before_request(NonceState &state, const DigestOptions &options);
// Called before each 401 with a challenge: the "challenge" mode renews
// the nonce for every challenge after the first.
void nonce_before_challenge(NonceState &state, const DigestOptions &options);
// For the TFTP side: the device comes back from flashing.
void nonce_after_flash(NonceState &state, const DigestOptions &options);

// The header line "WWW-Authenticate: Digest ...\r\n" as configured.
std::string challenge_line(const DigestOptions &options, const std::string &nonce);

enum class Verdict {
    ok,
    missing,          // no Authorization line
    not_digest,       // another scheme
    malformed,        // directives that cannot be read
    wrong_user,
    wrong_realm,
    stale_nonce,
    wrong_uri,        // the uri directive is not the request target
    wrong_algorithm,
    wrong_qop,
    missing_nc_cnonce,
    wrong_opaque,
    wrong_response,
};

const char *verdict_name(Verdict verdict);

// Judges the Authorization header's value (the text after "Authorization:",
// nullptr when the request had none) for a request of `method` on `target`.
Verdict check_authorization(const char *value, const std::string &method,
                            const std::string &target, const DigestOptions &options,
                            const std::string &nonce);

} // namespace sim
