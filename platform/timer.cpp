// platform/timer.cpp: the multimedia timer's millisecond counter.
//
// timeGetTime is a 32-bit count of milliseconds that wraps at 2^32. It
// follows the monotonic clock (so by default it counts from the machine's
// start, as on Windows). Two test hooks, read once at the first call:
// NUV_CLOCK_SCALE=N makes the counter run N times faster (Sleep is not
// scaled), NUV_CLOCK_START=V makes V its first value (to test wrapping).
// A malformed hook is a fault of the test rig: it ends the process with
// status 2 and a message, rather than letting a test run on a wrong clock.
#include "platform/win32.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using std::chrono::steady_clock;

constexpr uint64_t max_scale = 1000000;

struct Clock {
    steady_clock::time_point origin;
    uint64_t start = 0;  // the counter's value at origin
    uint64_t scale = 1;
};

[[noreturn]] void rig_fault(const char *variable, const char *value, const char *expected) {
    std::fprintf(stderr, "nuv platform: malformed %s=\"%s\": expected %s\n", variable, value,
                 expected);
    std::fflush(stderr);
    _exit(2);
}

int digit_value(char c, unsigned base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// A whole number in decimal, or (when allowed) hexadecimal after "0x",
// with nothing else around it and no more than `limit`.
bool parse_number(const char *text, bool allow_hex, uint64_t limit, uint64_t *out) {
    unsigned base = 10;
    if (allow_hex && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0')
        return false;
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        int digit = digit_value(*text, base);
        if (digit < 0)
            return false;
        value = value * base + static_cast<uint64_t>(digit);
        if (value > limit)
            return false;
    }
    *out = value;
    return true;
}

Clock make_clock() {
    Clock clock;
    clock.origin = steady_clock::now();
    auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(
        clock.origin.time_since_epoch());
    clock.start = static_cast<uint64_t>(since_epoch.count()) & 0xffffffffu;
    if (const char *scale = std::getenv("NUV_CLOCK_SCALE")) {
        if (!parse_number(scale, false, max_scale, &clock.scale) || clock.scale == 0)
            rig_fault("NUV_CLOCK_SCALE", scale,
                      "a positive whole number in decimal, at most 1000000");
    }
    if (const char *start = std::getenv("NUV_CLOCK_START")) {
        if (!parse_number(start, true, 0xffffffffu, &clock.start))
            rig_fault("NUV_CLOCK_START", start,
                      "a number from 0 to 4294967295, in decimal or 0x-hexadecimal");
    }
    return clock;
}

const Clock &the_clock() {
    static const Clock clock = make_clock();
    return clock;
}

} // namespace

DWORD timeGetTime() {
    const Clock &clock = the_clock();
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(steady_clock::now() -
                                                                        clock.origin);
    uint64_t nanoseconds = static_cast<uint64_t>(elapsed.count());
    // Whole milliseconds times the scale, plus the scaled remainder: no
    // overflow for any run length, and a scaled counter moves smoothly.
    uint64_t scaled = (nanoseconds / 1000000) * clock.scale +
                      (nanoseconds % 1000000) * clock.scale / 1000000;
    return static_cast<DWORD>(clock.start + scaled);
}
