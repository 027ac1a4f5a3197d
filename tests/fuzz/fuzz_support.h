// tests/fuzz/fuzz_support.h: what every fuzz harness shares: the check that
// stops a run on a broken invariant, and a reader that splits the fuzz
// input into the pieces a harness feeds the code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken invariant is a finding: say which and abort, so that libFuzzer
// keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__,      \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

// The fuzz input, consumed from the front. Reads past its end give zeros
// and empty pieces, so a short input still makes a whole case.
struct FuzzInput {
    const uint8_t *data;
    size_t size;
};

inline uint8_t take_byte(FuzzInput *in)
{
    if (in->size == 0)
        return 0;
    uint8_t b = in->data[0];
    in->data++;
    in->size--;
    return b;
}

inline uint16_t take_be16(FuzzInput *in)
{
    uint16_t high = take_byte(in);
    return static_cast<uint16_t>((high << 8) | take_byte(in));
}

// Up to `count` bytes; `*taken` says how many there were.
inline const uint8_t *take_bytes(FuzzInput *in, size_t count, size_t *taken)
{
    if (count > in->size)
        count = in->size;
    const uint8_t *at = in->data;
    in->data += count;
    in->size -= count;
    *taken = count;
    return at;
}

// True when `text` ends within its `capacity` bytes: a fixed-size text of
// the system must always hold its NUL.
inline bool terminated_within(const char *text, size_t capacity)
{
    return std::memchr(text, '\0', capacity) != nullptr;
}
