// app/screens.h: the warning, address and confirm screens of the wizard,
// and the drawing of the TFTP file name they share with the sequence.
#pragma once

#include "platform/win32.h"

// Warning screen (dialog 139): ends with 1 on Continue, 0 on Cancel.
INT_PTR CALLBACK warning_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Address screen (dialog 101 or 305): ends with 1 once it has taken a
// device address, a PC address and drawn the file name; 0 on Cancel.
INT_PTR CALLBACK address_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Confirm screen (dialog 103 or 304): ends with 1 on Upgrade, 0 on Cancel.
INT_PTR CALLBACK confirm_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Replaces upgrade.tftp_file_name with "/nuv%x.bi%d" made from a fresh
// random number and `suffix`, holding the file-name lock while it writes.
// Main thread only (the random generator is not shared).
void draw_tftp_file_name(int suffix);
