// tests/http/probe_args.h: the dotted addresses on the command lines of the
// HTTP probe programs.
#pragma once

#include <cstdint>
#include <cstdio>

// "A.B.C.D", each number 0 to 255 and nothing after it, to a host-order
// address (A the most significant byte); false, `address` untouched, for
// anything else.
inline bool parse_probe_address(const char *text, uint32_t &address)
{
    unsigned a, b, c, d;
    int used = 0;
    if (std::sscanf(text, "%u.%u.%u.%u%n", &a, &b, &c, &d, &used) != 4 || text[used] != '\0' || a > 255 ||
        b > 255 || c > 255 || d > 255)
        return false;
    address = a << 24 | b << 16 | c << 8 | d;
    return true;
}
