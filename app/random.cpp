// app/random.cpp: the linear congruential generator behind seed_random and
// next_random.
#include "app/random.h"

#include <atomic>

namespace {

// The main thread draws file names while a worker thread may draw a client
// nonce, so each draw takes one whole step of the state, never half of one.
std::atomic<uint32_t> random_state{0};

constexpr uint32_t random_step(uint32_t state)
{
    // Unsigned arithmetic wraps modulo 2^32, which is the recurrence's modulus.
    return state * 214013u + 2531011u;
}

} // namespace

void seed_random(uint32_t seed)
{
    random_state.store(seed, std::memory_order_relaxed);
}

int next_random()
{
    uint32_t state = random_state.load(std::memory_order_relaxed);
    uint32_t next = random_step(state);
    while (!random_state.compare_exchange_weak(state, next, std::memory_order_relaxed))
        next = random_step(state);
    return static_cast<int>((next >> 16) & 0x7fff);
}
