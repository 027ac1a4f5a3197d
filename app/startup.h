// app/startup.h: start-up of the program and the mapping of its embedded
// firmware images.
#pragma once

#include <cstdint>

#include "app/firmware_image.h"

// Resource ids of the images, of the custom type "NUV_FIRMWARE".
constexpr int target_firmware_id = 112;
constexpr int transition_firmware_id = 319;

// Starts Windows Sockets, lists the PC's addresses, clears the digest
// state, seeds the random generator, registers the common controls, maps
// the images and identifies the model. Returns only on success; any
// failure is shown and ends the process with status 0.
void init_program();

// Why an image cannot be served, as the failure text the user sees, or
// null when its 128-byte header is whole and its version text ends in it.
const char *check_firmware_image(const unsigned char *data, uint32_t size);

// Maps resource `id` into `image` in place and copies its header. A
// missing or damaged image is shown and ends the process with status 0.
void map_firmware(int id, FirmwareImage *image);
