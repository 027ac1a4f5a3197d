// tftp/completion.cpp: after a transfer, the wait while the device writes
// its flash, the re-query of its page, the version check and the success
// screen.
#include "tftp/completion.h"

#include <cstdio>
#include <cstring>

#include "app/upgrade_context.h"
#include "http/runner.h"
#include "upgrader_ids.h"

namespace {

// The flash wait counts ticks of 32 ms; the tick count wraps at 2^27 with
// the millisecond counter.
constexpr DWORD kFlashTicks = 937;
constexpr DWORD kTickWrap = 1u << 27;
constexpr int kRequeryAttempts = 10;
constexpr uint16_t kLocalPortBase = 23456;
constexpr uint16_t kDevicePort = 80;

DWORD tick_count()
{
    return timeGetTime() >> 5;
}

void pump_upload_screen()
{
    MSG message;
    while (PeekMessageA(&message, upgrade.upload_screen, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The device writes its flash for about 30 seconds whatever the outcome;
// Cancel on the upload screen still ends the process meanwhile.
void wait_for_flash()
{
    DWORD start = tick_count();
    HWND screen = upgrade.upload_screen;
    SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, kFlashTicks));
    SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    char title[128];
    std::snprintf(title, sizeof title, "Updating %s Firmware to NUV@%s",
                  upgrade.target_mode.load() != 0 ? "Target" : "Transition",
                  upgrade.device_address_text);
    SetWindowTextA(screen, title);
    for (;;) {
        DWORD now = tick_count();
        if (now < start)
            now += kTickWrap;
        SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(now - start),
                            0);
        pump_upload_screen();
        if (now >= start + kFlashTicks)
            break;
        Sleep(32);
    }
    DestroyWindow(screen);
}

bool requery_device(const TftpSession *session)
{
    for (int attempt = 0; attempt < kRequeryAttempts; ++attempt)
        if (run_device_request(upgrade.instance, session->local_address, kLocalPortBase,
                               session->peer_address, kDevicePort, "/admin/advanced",
                               upgrade.reply_buffer, sizeof upgrade.reply_buffer - 1) > 0)
            return true;
    return false;
}

} // namespace

void complete_upgrade(TftpSession *session, UploadOutcome outcome)
{
    wait_for_flash();
    if (outcome == UploadOutcome::failed) {
        show_failure("Upgrade Failed: Firmware Upload Incomplete");
        return;
    }
    if (!requery_device(session))
        return;
    int32_t mode = upgrade.target_mode.load();
    const FirmwareImage &served = mode != 0 ? upgrade.target_image : upgrade.transition_image;
    trace("[%d]%s %s\n", mode, served.header.version, upgrade.device_info.software_version);
    if (upgrade.is_phone == 0 &&
        std::strcmp(served.header.version, upgrade.device_info.software_version) != 0) {
        show_failure("Upgrade Failed: Version not matching");
        return;
    }
    if (mode == 1)
        DialogBoxParamA(upgrade.instance, MAKEINTRESOURCEA(IDD_SUCCESS), nullptr,
                        success_dialog_proc, 0);
}

INT_PTR CALLBACK success_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        char caption[128];
        std::snprintf(caption, sizeof caption, "NUV@%s Upgrade Successful!",
                      upgrade.device_address_text);
        SetWindowTextA(dialog, caption);
        SetDlgItemTextA(dialog, IDC_SUCCESS_TEXT,
                        "Your NUV has been successfully\r\nupgraded to the version shown\r\nbelow.");
        SetDlgItemTextA(dialog, IDC_SOFTWARE_VERSION, upgrade.device_info.software_version);
        center_window(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}
