// app/random.h: the program's pseudo-random generator (TFTP file names, the
// digest client nonce).
#pragma once

#include <cstdint>

// Sets the generator's 32-bit state; start-up seeds it with the tick count.
void seed_random(uint32_t seed);

// The next number, 0 to 32767: state = state * 214013 + 2531011 (mod 2^32),
// then bits 16 to 30 of the new state.
int next_random();
