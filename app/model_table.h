// app/model_table.h: the device families an image can be built for, and
// the identification of the embedded image's family by its header key.
#pragma once

#include <cstdint>

#include "app/firmware_image.h"

struct ModelEntry {
    const char *key;
    uint32_t compare_length;   // bytes of the header compared: the key's length
    bool exact_case;           // false: ASCII letters match in either case
    const char *display_name;  // at most 13 characters
    int32_t is_phone;          // 1: IP phone, 0: analogue telephone adapter
};

constexpr int model_table_rows = 13;

// Tested in order; the first row whose key begins the header wins, so a
// longer key must come before any row whose key is its prefix.
extern const ModelEntry model_table[model_table_rows];

// The row that the header's key text begins with, or null when none does.
const ModelEntry *find_model(const FirmwareHeader &header);

// Sets upgrade.model_name and upgrade.is_phone from the header; a header
// that matches no row is an "ODM-Product" adapter.
void identify_model(const FirmwareHeader &header);
