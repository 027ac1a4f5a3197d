// app/upgrade_context.h: the process-wide state of one upgrade run, and
// the small helpers every part of the system calls.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/firmware_image.h"
#include "http/device_info.h"
#include "http/digest_state.h"
#include "platform/win32.h"

// The starting value of target_mode, fixed by each program's build:
// 1 when it carries only the target image, 0 when a transition image too.
extern const int32_t build_initial_target_mode;

struct UpgradeContext {
    // Configuration. The listener thread sets it from 0 to 1 once while the
    // main thread polls it, so it is read and written atomically.
    std::atomic<int32_t> target_mode{build_initial_target_mode};

    // Model identity.
    char model_name[32];
    int32_t is_phone;

    // Firmware images; transition_image stays empty unless target_mode
    // started at 0.
    FirmwareImage target_image;
    FirmwareImage transition_image;

    // Addresses, IPv4 in host byte order.
    char host_name[128];
    uint32_t local_addresses[8];  // ends at the first 0 or after 8 entries
    uint32_t local_address;       // bind address of every socket; the PC in the upgrade command
    uint32_t device_address;      // 0 means none
    char device_address_text[64];

    DeviceInfo device_info;

    // The name the device must ask for, leading "/" included. The main
    // thread replaces it for the second command of a transition build while
    // the listener may be comparing a read request against it: both hold
    // file_name_lock (zero bytes are its unlocked state).
    char tftp_file_name[128];
    SRWLOCK file_name_lock;

    DigestState digest;

    // Every request is composed here and its reply received here; requests
    // are given 131071 bytes so a terminating NUL always fits.
    char reply_buffer[131072];

    HINSTANCE instance;
    HWND waiting_screen;
    HWND upload_screen;
};

// The one instance: it exists before the first routine runs and is never
// freed or reset.
extern UpgradeContext upgrade;

// Holds upgrade.file_name_lock for its lifetime: around every write of
// tftp_file_name on the main thread and every comparison on the listener's.
class FileNameLock {
public:
    FileNameLock() { AcquireSRWLockExclusive(&upgrade.file_name_lock); }
    ~FileNameLock() { ReleaseSRWLockExclusive(&upgrade.file_name_lock); }
    FileNameLock(const FileNameLock &) = delete;
    FileNameLock &operator=(const FileNameLock &) = delete;
};

// The failure box: one OK button, no icon, task-modal, caption
// "NUV Firwmare Upgrade Error" unless one is given. Returns MessageBoxA's
// result.
int show_failure(const char *text, const char *caption = nullptr);

// Centres a top-level window on the primary screen without resizing it.
void center_window(HWND window);

// Debug trace hook: printf-style, writes to standard error in trace builds
// and does nothing otherwise (the arguments are still evaluated).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void trace(const char *format, ...);
