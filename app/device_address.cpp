// app/device_address.cpp: dotted (or starred) decimal text to an IPv4
// address.
#include "app/device_address.h"

#include <cstring>

namespace {

constexpr int address_accepted = 0;
constexpr int part_too_large = 1;
constexpr int too_many_parts = 2;
constexpr int too_few_parts = 3;
constexpr int bad_length = 4;
constexpr int bad_character = 5;

constexpr size_t shortest_text = 7;   // "0.0.0.0"
constexpr size_t longest_text = 15;   // "255.255.255.255"

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_separator(char c)
{
    return c == '.' || c == '*';
}

// Counts no further than one past the longest text we accept, so a long
// text is never walked to its end.
size_t bounded_length(const char *text)
{
    size_t n = 0;
    while (n <= longest_text && text[n] != '\0')
        ++n;
    return n;
}

bool only_address_characters(const char *text, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (!is_digit(text[i]) && !is_separator(text[i]))
            return false;
    return true;
}

// Reads the run of digits at *at and moves past it. The value stops
// growing once it passes 255: a part of any length is then simply too
// large, and nothing overflows.
uint32_t read_part(const char **at)
{
    uint32_t value = 0;
    const char *p = *at;
    for (; is_digit(*p); ++p) {
        if (value <= 255)
            value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
    *at = p;
    return value;
}

const char *skip_separators(const char *p)
{
    while (is_separator(*p))
        ++p;
    return p;
}

} // namespace

int parse_device_address(const char *text, uint32_t *result)
{
    if (result != nullptr)
        *result = 0;
    if (text == nullptr)
        return bad_length;

    size_t n = bounded_length(text);
    if (n > longest_text || n < shortest_text)
        return bad_length;
    if (!only_address_characters(text, n))
        return bad_character;

    char work[longest_text + 1];
    static_assert(sizeof work == 16);
    std::memcpy(work, text, n);
    work[n] = '\0';

    // A text of separators only has no part at all; the count after the
    // loop refuses it with the same code as too few parts.
    uint32_t bytes[4] = {0, 0, 0, 0};
    int taken = 0;
    for (const char *p = skip_separators(work); *p != '\0'; p = skip_separators(p)) {
        // A fifth part is refused by its position, before its value is read.
        if (taken == 4)
            return too_many_parts;
        uint32_t value = read_part(&p);
        if (value > 255)
            return part_too_large;
        bytes[taken++] = value;
    }
    if (taken < 4)
        return too_few_parts;

    if (result != nullptr)
        *result = bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    return address_accepted;
}
