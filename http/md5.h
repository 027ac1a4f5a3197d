// http/md5.h: the MD5 message digest (RFC 1321), for digest authentication.
#pragma once

#include <cstddef>
#include <cstdint>

struct Md5Context {
    uint32_t state[4];         // chaining words A, B, C, D
    uint32_t count[2];         // message length in bits, low word first
    unsigned char buffer[64];  // the block being filled
};

void md5_init(Md5Context *context);
void md5_update(Md5Context *context, const void *data, size_t length);
// Writes the 16-byte digest, then overwrites the whole context with zeros.
void md5_final(unsigned char digest[16], Md5Context *context);
