// http/md5.cpp: the MD5 message digest, as RFC 1321 gives it.
#include "http/md5.h"

#include <cstring>

namespace {

constexpr uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr int kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t rotate_left(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The block transform. The decoded block is cleared afterwards, so no
// message words stay behind on the stack.
void transform(uint32_t state[4], const unsigned char block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 |
               uint32_t(block[4 * i + 2]) << 16 | uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t next = b + rotate_left(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    volatile uint32_t *wipe = x;
    for (int i = 0; i < 16; i++)
        wipe[i] = 0;
}

void store_le32(unsigned char *out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

void md5_init(Md5Context *context)
{
    std::memcpy(context->state, kInitial, sizeof kInitial);
    context->count[0] = context->count[1] = 0;
    std::memset(context->buffer, 0, sizeof context->buffer);
}

void md5_update(Md5Context *context, const void *data, size_t length)
{
    const unsigned char *input = static_cast<const unsigned char *>(data);
    size_t used = (context->count[0] >> 3) & 63;
    // The bit count is 64 bits wide, kept as two 32-bit words.
    uint64_t bits = (uint64_t(context->count[1]) << 32 | context->count[0]) + uint64_t(length) * 8;
    context->count[0] = static_cast<uint32_t>(bits);
    context->count[1] = static_cast<uint32_t>(bits >> 32);
    while (length > 0) {
        size_t take = 64 - used < length ? 64 - used : length;
        std::memcpy(context->buffer + used, input, take);
        used += take;
        input += take;
        length -= take;
        if (used == 64) {
            transform(context->state, context->buffer);
            used = 0;
        }
    }
}

void md5_final(unsigned char digest[16], Md5Context *context)
{
    unsigned char length[8];
    store_le32(length, context->count[0]);
    store_le32(length + 4, context->count[1]);
    // Pad with 0x80 and zeros to 56 bytes modulo 64, then the bit count.
    static const unsigned char kPadding[64] = {0x80};
    size_t used = (context->count[0] >> 3) & 63;
    size_t pad = used < 56 ? 56 - used : 120 - used;
    md5_update(context, kPadding, pad);
    md5_update(context, length, sizeof length);
    for (int i = 0; i < 4; i++)
        store_le32(digest + 4 * i, context->state[i]);
    volatile unsigned char *wipe = reinterpret_cast<unsigned char *>(context);
    for (size_t i = 0; i < sizeof *context; i++)
        wipe[i] = 0;
}
