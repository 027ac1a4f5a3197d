// app/firmware_image.h: an embedded firmware image and its header.
#pragma once

#include <cstdint>

// The first 128 bytes of an image. Only the key text at offset 0 and the
// NUL-terminated version text at offset 92 mean anything to the program;
// every other byte is the device's business.
struct FirmwareHeader {
    char key[92];
    char version[36];
};
static_assert(sizeof(FirmwareHeader) == 128, "the header is 128 bytes");

struct FirmwareImage {
    const unsigned char *data;  // the resource, read in place, never written
    uint32_t size;              // bytes served over TFTP
    FirmwareHeader header;      // copy of the first 128 bytes
};
