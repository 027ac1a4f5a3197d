// tests/fuzz/fuzz_digest.cpp: a device's challenge taken by parse_challenge,
// then the Authorization line that build_authorization writes from it,
// which must be one whole header line inside its fixed buffer.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "app/random.h"
#include "http/digest.h"
#include "http/digest_state.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// A text of the state from the input, as long as the input says, cut at
// the field's capacity and at a NUL, as a typed or received text would be.
template <size_t N> void take_text(FuzzInput *in, char (&field)[N], size_t length)
{
    size_t taken = 0;
    const uint8_t *bytes = take_bytes(in, length, &taken);
    size_t n = taken < N - 1 ? taken : N - 1;
    std::memcpy(field, bytes, n);
    field[n] = '\0';
}

bool state_terminated(const DigestState &s)
{
    return terminated_within(s.previous_nonce, sizeof s.previous_nonce) &&
           terminated_within(s.nonce, sizeof s.nonce) &&
           terminated_within(s.cnonce, sizeof s.cnonce) &&
           terminated_within(s.username, sizeof s.username) &&
           terminated_within(s.password, sizeof s.password) &&
           terminated_within(s.realm, sizeof s.realm) &&
           terminated_within(s.qop, sizeof s.qop) &&
           terminated_within(s.algorithm, sizeof s.algorithm) &&
           terminated_within(s.digest_uri, sizeof s.digest_uri) &&
           terminated_within(s.opaque, sizeof s.opaque);
}

// Builds the line into a buffer of exactly its documented size, so that a
// sanitizer sees a single byte written past it.
void check_line(DigestState *state, const char *target)
{
    std::unique_ptr<char[]> line(new char[kAuthorizationCapacity]);
    int length = build_authorization(state, target, line.get());
    FUZZ_CHECK(length > 0 && length < kAuthorizationCapacity);
    FUZZ_CHECK(std::strlen(line.get()) == static_cast<size_t>(length));
    // Never cut: a cut line would lose its end and run into the next one.
    FUZZ_CHECK(length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n');
    static const char kStart[] = "Authorization: Digest username=\"";
    FUZZ_CHECK(std::strncmp(line.get(), kStart, sizeof kStart - 1) == 0);
    FUZZ_CHECK(std::strlen(state->digest_uri) <= 127);
    FUZZ_CHECK(std::strncmp(state->digest_uri, target, std::strlen(state->digest_uri)) == 0);
    FUZZ_CHECK(state_terminated(*state));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    seed_random(take_be16(&in));
    DigestState state{};
    // What the password screen and earlier requests left in the state.
    size_t user_length = take_byte(&in);
    size_t password_length = take_byte(&in);
    size_t target_length = take_be16(&in) % 512;
    uint32_t count = static_cast<uint32_t>(take_be16(&in)) << 16;
    count |= take_be16(&in);
    take_text(&in, state.username, user_length);
    take_text(&in, state.password, password_length);
    std::vector<char> target(target_length + 1);
    size_t taken = 0;
    const uint8_t *target_bytes = take_bytes(&in, target_length, &taken);
    if (taken > 0)
        std::memcpy(target.data(), target_bytes, taken);
    target[taken] = '\0';

    // The rest is the reply from its "WWW-Authenticate:" on.
    std::vector<char> challenge(in.size + 1);
    if (in.size > 0)
        std::memcpy(challenge.data(), in.data, in.size);
    challenge[in.size] = '\0';

    state.nonce_count = count;
    int taken_challenge = parse_challenge(challenge.data(), &state);
    FUZZ_CHECK(taken_challenge == 0 || taken_challenge == 1);
    FUZZ_CHECK(state_terminated(state));
    if (taken_challenge != 0)
        return 0;
    // A new nonce starts the count again; the same one (here only the
    // empty nonce, which the fresh state held) goes on from it.
    FUZZ_CHECK(std::strcmp(state.nonce, state.previous_nonce) == 0);
    FUZZ_CHECK(state.nonce_count == (state.nonce[0] == '\0' ? count : 0u));
    FUZZ_CHECK(std::strlen(state.cnonce) >= 1 && std::strlen(state.cnonce) <= 4);

    // Two requests under the challenge, as the exchange sends them.
    for (int request = 0; request < 2; ++request) {
        state.nonce_count++;
        check_line(&state, target.data());
    }
    return 0;
}
