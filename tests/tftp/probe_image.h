// tests/tftp/probe_image.h: the deterministic image the TFTP tests serve,
// made the same way by the probe and by the tests that check it.
#pragma once

#include <cstring>
#include <vector>

inline std::vector<unsigned char> probe_image(unsigned long size, const char *version)
{
    std::vector<unsigned char> bytes(size);
    for (unsigned long i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i * 131 + i / 509 + 7) & 0xff);
    // A header with its version text at 92, as a real image has.
    if (size >= 128) {
        std::memset(bytes.data() + 92, 0, 36);
        std::memcpy(bytes.data() + 92, version, std::strlen(version) < 35 ? std::strlen(version) : 35);
    }
    return bytes;
}
