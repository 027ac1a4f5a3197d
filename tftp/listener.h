// tftp/listener.h: the PC's TFTP server, waiting for the device's read
// request for the agreed file name.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct TftpListener {
    uint32_t local_address;  // host order; 0 binds to any local address
    uint16_t port;           // 69 to 168
    SOCKET udp_socket;       // carries the transfers too
    char receive_buffer[1024];
};

// Binds the first free UDP port from 69 to 168 on `local_address`, starts
// the listener thread and returns the port. Does not return on failure: a
// failure box, then status 0.
uint16_t start_tftp_listener(uint32_t local_address);

// Never returns: ends the process after the target image's session.
DWORD WINAPI tftp_listener_thread(LPVOID listener);

// The waiting and upload screens: Cancel ends the process.
INT_PTR CALLBACK abort_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
