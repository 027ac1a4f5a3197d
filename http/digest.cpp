// http/digest.cpp: HTTP digest authentication (RFC 2617) with the device.
//
// The challenge's directives are found by plain substring searches over
// the rest of the reply, values are taken verbatim up to the closing quote
// and cut at their field's capacity; the Authorization line echoes them.
#include "http/digest.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "app/random.h"
#include "http/md5.h"

namespace {

template <size_t N> void copy_text(char (&field)[N], const char *from, size_t length)
{
    size_t n = length < N - 1 ? length : N - 1;
    std::memcpy(field, from, n);
    field[n] = '\0';
}

// The value after `name` (which ends in the opening quote) up to the next
// double quote or the end of the text; false when the directive is absent.
template <size_t N> bool take_quoted(const char *challenge, const char *name, char (&field)[N])
{
    const char *at = std::strstr(challenge, name);
    if (at == nullptr)
        return false;
    at += std::strlen(name);
    const char *end = std::strchr(at, '"');
    copy_text(field, at, end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at));
    return true;
}

// algorithm=MD5 as RFC 7616 writes it and servers send it, without quotes:
// the token up to the next comma, blank, CR, LF or the end. Only a
// directive of that name counts, not one that merely ends in it
// ("xalgorithm="), so the name must start the text or follow a blank, a
// comma or a tab.
template <size_t N> bool take_unquoted_algorithm(const char *challenge, char (&field)[N])
{
    static const char kName[] = "algorithm=";
    for (const char *at = std::strstr(challenge, kName); at != nullptr;
         at = std::strstr(at + 1, kName)) {
        bool starts = at == challenge || at[-1] == ' ' || at[-1] == ',' || at[-1] == '\t';
        const char *value = at + sizeof kName - 1;
        if (!starts || *value == '"')
            continue;
        copy_text(field, value, std::strcspn(value, ", \r\n"));
        return true;
    }
    return false;
}

bool equal_ignoring_case(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

void update(Md5Context &context, const char *text) { md5_update(&context, text, std::strlen(text)); }

// Moves `used` past what snprintf reports it wrote, keeping it inside the
// buffer even if a piece was cut or the call failed.
void advance(size_t &used, size_t capacity, int written)
{
    if (written < 0)
        return;
    size_t room = capacity - 1 - used;
    used += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
}

} // namespace

void hex_digest(const unsigned char digest[16], char out[33])
{
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        out[2 * i] = kDigits[digest[i] >> 4];
        out[2 * i + 1] = kDigits[digest[i] & 15];
    }
    out[32] = '\0';
}

int parse_challenge(const char *challenge, DigestState *state)
{
    if (!take_quoted(challenge, "realm=\"", state->realm))
        return 1;
    if (!take_quoted(challenge, "nonce=\"", state->nonce))
        return 1;
    // The count starts again only for a new nonce: a count of 0 after a 401
    // is how the runner knows the device changed it.
    if (std::strcmp(state->nonce, state->previous_nonce) != 0) {
        copy_text(state->previous_nonce, state->nonce, std::strlen(state->nonce));
        state->nonce_count = 0;
    }
    std::snprintf(state->cnonce, sizeof state->cnonce, "%x", static_cast<unsigned>(next_random()));
    if (!take_quoted(challenge, "algorithm=\"", state->algorithm) &&
        !take_unquoted_algorithm(challenge, state->algorithm))
        state->algorithm[0] = '\0';
    if (!take_quoted(challenge, "qop=\"", state->qop))
        state->qop[0] = '\0';
    if (!take_quoted(challenge, "opaque=\"", state->opaque))
        state->opaque[0] = '\0';
    return 0;
}

void compute_ha1(const char *algorithm, const char *username, const char *realm,
                 const char *password, const char *nonce, const char *cnonce, char out[33])
{
    Md5Context context;
    unsigned char h[16];
    md5_init(&context);
    update(context, username);
    update(context, ":");
    update(context, realm);
    update(context, ":");
    update(context, password);
    md5_final(h, &context);
    if (equal_ignoring_case(algorithm, "md5-sess")) {
        // Over the 16 raw bytes of the first hash, not its hexadecimal text.
        md5_init(&context);
        md5_update(&context, h, sizeof h);
        update(context, ":");
        update(context, nonce);
        update(context, ":");
        update(context, cnonce);
        md5_final(h, &context);
    }
    hex_digest(h, out);
}

void compute_request_digest(const char *ha1, const char *nonce, const char *nonce_count,
                            const char *cnonce, const char *qop, const char *method,
                            const char *digest_uri, const char *entity_body, char out[33])
{
    Md5Context context;
    unsigned char h[16];
    char ha2[33];
    md5_init(&context);
    update(context, method);
    update(context, ":");
    update(context, digest_uri);
    if (equal_ignoring_case(qop, "auth-int")) {
        char body[33];
        Md5Context body_context;
        md5_init(&body_context);
        update(body_context, entity_body);
        md5_final(h, &body_context);
        hex_digest(h, body);
        update(context, ":");
        update(context, body);
    }
    md5_final(h, &context);
    hex_digest(h, ha2);

    md5_init(&context);
    update(context, ha1);
    update(context, ":");
    update(context, nonce);
    update(context, ":");
    if (qop[0] != '\0') {
        update(context, nonce_count);
        update(context, ":");
        update(context, cnonce);
        update(context, ":");
        update(context, qop);
        update(context, ":");
    }
    update(context, ha2);
    md5_final(h, &context);
    hex_digest(h, out);
}

int build_authorization(DigestState *state, const char *target, char *out)
{
    copy_text(state->digest_uri, target, std::strlen(target));
    char nonce_count[10] = "";
    if (state->qop[0] != '\0')
        std::snprintf(nonce_count, sizeof nonce_count, "%09x", static_cast<unsigned>(state->nonce_count));
    char ha1[33], response[33];
    compute_ha1(state->algorithm, state->username, state->realm, state->password, state->nonce,
                state->cnonce, ha1);
    compute_request_digest(ha1, state->nonce, nonce_count, state->cnonce, state->qop, "GET",
                           state->digest_uri, "", response);

    // Every field at its capacity makes 947 characters, which the buffer
    // holds with its NUL; a longer line could only be cut, never written
    // past the buffer's end.
    const size_t capacity = kAuthorizationCapacity;
    size_t used = 0;
    advance(used, capacity,
            std::snprintf(out, capacity,
                          "Authorization: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\","
                          "algorithm=\"%s\",response=\"%s\"",
                          state->username, state->realm, state->nonce, state->digest_uri,
                          state->algorithm, response));
    if (state->opaque[0] != '\0')
        advance(used, capacity, std::snprintf(out + used, capacity - used, ",opaque=\"%s\"", state->opaque));
    if (state->qop[0] != '\0')
        advance(used, capacity,
                std::snprintf(out + used, capacity - used, ",qop=%s,nc=%09x,cnonce=\"%s\"", state->qop,
                              static_cast<unsigned>(state->nonce_count), state->cnonce));
    advance(used, capacity, std::snprintf(out + used, capacity - used, "\r\n"));
    return static_cast<int>(used);
}
