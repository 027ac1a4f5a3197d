// app/sequence.h: the upgrade sequence that follows start-up, and the
// command that makes the device fetch its firmware.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Warning, address and confirm screens, the device query between them,
// then the TFTP listener and the upgrade command(s). Returns 0 when the
// person stops or the device does not answer; on the way to an upgrade it
// does not return (the listener thread ends the process).
int run_upgrade_sequence(HINSTANCE instance);

// Tells the device to fetch tftp_file_name from local_address:port over
// TFTP. Whether the device answers is not looked at.
void send_upgrade_command(HINSTANCE instance, uint16_t port);
