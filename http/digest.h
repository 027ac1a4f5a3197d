// http/digest.h: HTTP digest authentication (RFC 2617) with the device:
// taking its challenge and writing the Authorization line.
#pragma once

#include <cstdint>

#include "http/digest_state.h"

// The longest Authorization line, every field at its capacity, with its
// terminating NUL.
constexpr int kAuthorizationCapacity = 948;

// Takes the challenge from `challenge` (the reply from its first
// "WWW-Authenticate:" to its end) into `state`. 0 when it carries a realm
// and a nonce, 1 otherwise.
int parse_challenge(const char *challenge, DigestState *state);

// Writes the complete Authorization line for a GET of `target`, "\r\n" and
// a NUL included, into `out` (kAuthorizationCapacity bytes); returns the
// characters written, NUL not counted. Sets state->digest_uri.
int build_authorization(DigestState *state, const char *target, char *out);

// HA1 as 32 hexadecimal digits and a NUL.
void compute_ha1(const char *algorithm, const char *username, const char *realm,
                 const char *password, const char *nonce, const char *cnonce, char out[33]);

// The request digest (the response directive's value) as 32 hexadecimal
// digits and a NUL.
void compute_request_digest(const char *ha1, const char *nonce, const char *nonce_count,
                            const char *cnonce, const char *qop, const char *method,
                            const char *digest_uri, const char *entity_body, char out[33]);

// 16 digest bytes as 32 lower-case hexadecimal digits and a NUL.
void hex_digest(const unsigned char digest[16], char out[33]);
