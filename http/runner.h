// http/runner.h: one request to the device on a worker thread behind the
// connecting screen, with the password screen when the device asks.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct DeviceRequest {
    HINSTANCE instance;
    uint32_t local_address;
    uint16_t local_port_base;
    uint32_t device_address;
    uint16_t device_port;
    const char *target;
    char *reply_buffer;
    int32_t reply_capacity;
};

// The reply's byte count, 0 when the device did not answer; never
// negative. Does not return when the person cancels a screen.
int32_t run_device_request(HINSTANCE instance, uint32_t local_address, uint16_t local_port_base,
                           uint32_t device_address, uint16_t device_port, const char *target,
                           char *reply_buffer, int32_t reply_capacity);

DWORD WINAPI request_worker(LPVOID request);
INT_PTR CALLBACK connecting_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK password_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
