// tests/fuzz/fuzz_device_address.cpp: the reader of the typed device address
// over arbitrary texts.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/device_address.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The address box holds a text; anything behind a NUL is not part of it.
    const std::string typed(reinterpret_cast<const char *>(data), size);
    std::string text = typed;

    uint32_t result = 0xdeadbeef;
    int code = parse_device_address(text.data(), &result);
    FUZZ_CHECK(code >= 0 && code <= 5);
    FUZZ_CHECK(text == typed);  // the parser never writes the text
    FUZZ_CHECK(code == 0 || result == 0);
    FUZZ_CHECK(parse_device_address(text.data(), nullptr) == code);  // keeps no state

    size_t length = std::strlen(text.data());
    FUZZ_CHECK((length < 7 || length > 15) == (code == 4));
    if (code != 0)
        return 0;

    // An accepted text holds four numbers and separators only, and the
    // address it gives reads back the same from its dotted form.
    FUZZ_CHECK(std::strspn(text.data(), "0123456789.*") == length);
    char dotted[16];
    int written = std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", result >> 24,
                                (result >> 16) & 0xff, (result >> 8) & 0xff, result & 0xff);
    FUZZ_CHECK(written >= 7 && written <= 15);
    uint32_t again = 1;
    FUZZ_CHECK(parse_device_address(dotted, &again) == 0);
    FUZZ_CHECK(again == result);
    return 0;
}
