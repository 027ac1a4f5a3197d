// tftp/packets.h: the TFTP packet formats the upgrader sends and reads.
#pragma once

#include <cstdint>

constexpr uint16_t kTftpRrq = 1;
constexpr uint16_t kTftpWrq = 2;
constexpr uint16_t kTftpData = 3;
constexpr uint16_t kTftpAck = 4;
constexpr uint16_t kTftpError = 5;
constexpr uint16_t kTftpOack = 6;

constexpr int kTftpPacketCapacity = 1024;
constexpr int kTftpBlockSize = 512;

// Big-endian 16-bit fields, most significant byte first.
inline void store_be16(char *at, uint16_t value)
{
    at[0] = static_cast<char>(value >> 8);
    at[1] = static_cast<char>(value & 0xff);
}

inline uint16_t load_be16(const char *at)
{
    return static_cast<uint16_t>((static_cast<unsigned char>(at[0]) << 8) |
                                 static_cast<unsigned char>(at[1]));
}
