// http/digest_state.h: the digest authentication state shared by every
// request of the run.
#pragma once

#include <cstdint>

struct DigestState {
    uint32_t nonce_count;      // nc of the latest authorised request under this nonce
    char previous_nonce[128];  // what the next challenge's nonce is compared with
    char nonce[128];
    char cnonce[128];          // 1 to 4 lower-case hexadecimal digits
    char username[128];
    char password[128];        // non-empty: every request is authenticated
    char realm[128];
    char qop[16];              // the challenge's quoted qop value, verbatim
    char algorithm[16];        // the challenge's quoted algorithm value, verbatim
    char digest_uri[128];      // request target of the request being authorised
    char opaque[128];
};
