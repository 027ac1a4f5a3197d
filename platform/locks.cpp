// platform/locks.cpp: slim reader/writer locks, the exclusive half.
//
// The lock is one word whose all-zero state is unlocked, as on Windows:
// 0 unlocked, 1 locked, 2 locked with (possibly) threads waiting. Waiters
// sleep in the word's atomic wait (a futex where the library has one), so
// a held lock costs no CPU; the acquire/release pairs on the word are what
// order the guarded data between threads.
#include "platform/win32.h"

#include <atomic>

namespace {

constexpr uintptr_t unlocked = 0;
constexpr uintptr_t locked = 1;
constexpr uintptr_t contended = 2;

static_assert(std::atomic_ref<uintptr_t>::required_alignment <= alignof(SRWLOCK),
              "an SRWLOCK must be usable as an atomic word where it stands");

} // namespace

void AcquireSRWLockExclusive(SRWLOCK *lock) {
    std::atomic_ref<uintptr_t> state(lock->state);
    uintptr_t expected = unlocked;
    if (state.compare_exchange_strong(expected, locked, std::memory_order_acquire,
                                      std::memory_order_relaxed))
        return;
    // Taken: say that someone waits, and sleep until the word changes. Whoever
    // gets the lock this way keeps it marked contended, so the release that
    // follows wakes the next waiter (at worst one wake-up too many).
    while (state.exchange(contended, std::memory_order_acquire) != unlocked)
        state.wait(contended, std::memory_order_relaxed);
}

void ReleaseSRWLockExclusive(SRWLOCK *lock) {
    std::atomic_ref<uintptr_t> state(lock->state);
    if (state.exchange(unlocked, std::memory_order_release) == contended)
        state.notify_one();
}
