// http/runner.cpp: one request to the device on a worker thread behind the
// connecting screen, and the password screen when the device asks.
//
// The thread that calls run_device_request owns both screens and pumps the
// connecting screen's messages while the worker blocks in its socket calls;
// the worker alone touches the reply buffer, the device texts and the
// digest state until it has ended, and the caller reads them only then.
#include "http/runner.h"

#include <cstdio>

#include "app/upgrade_context.h"
#include "http/exchange.h"
#include "upgrader_ids.h"

namespace {

constexpr char kPasswordNotice[] =
    "This NUV requires a password in order to be\r\n"
    "upgraded. If you do not have administrator's\r\n"
    "privileges for this unit, please contact your\r\n"
    "Service Provider or network administrator,\r\n"
    "before proceeding.\r\n"
    "\r\n"
    "You must provide the NUV administrator's\r\n"
    "password to upgrade. If you are the administrator\r\n"
    "and forgot the password, you may perform a\r\n"
    "factory reset by entering * * * *, option 58294#,\r\n"
    "and value 1 from a telephone connected to the\r\n"
    "unit to be upgraded.\r\n"
    "\r\n"
    "* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\n"
    "All settings will revert to default values\r\n"
    "after factory reset!  You may not be able to\r\n"
    "reestablish service after completing this upgrade\r\n"
    "without first reentering service configuration\r\n"
    "information.";
static_assert(sizeof kPasswordNotice - 1 == 719, "the notice is 719 characters");

constexpr int kPollsPerStep = 10;  // the bar moves once every 10 polls of 1 ms

// A person who cancels ends the run here, whatever the worker is doing.
[[noreturn]] void abort_upgrade()
{
    show_failure("Upgrade Failed: User Abort");
    ExitProcess(0);
}

struct Progress {
    int position = 0;  // what the bar is given next, 0 to 100
    int polls = 0;     // polls since it last moved
};

// Waits for the worker's end, keeping the connecting screen alive. The
// end is told by the signalled handle only: the result may be any byte
// count, STILL_ACTIVE's 259 included. Without a worker (it could not be
// started) the screen stays until the person cancels.
void poll_until_ended(HANDLE worker, HWND screen, Progress &progress)
{
    while (worker == nullptr || WaitForSingleObject(worker, 0) != WAIT_OBJECT_0) {
        MSG message;
        if (PeekMessageA(&message, screen, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(1);
        if (++progress.polls == kPollsPerStep) {
            SendDlgItemMessageA(screen, IDC_PROGRESS_BAR, PBM_SETPOS,
                                static_cast<WPARAM>(progress.position), 0);
            progress.position = progress.position == 100 ? 0 : progress.position + 1;
            progress.polls = 0;
        }
    }
}

// One attempt: the connecting screen and a worker running the exchange.
int32_t attempt(DeviceRequest &request, Progress &progress)
{
    HWND screen = CreateDialogParamA(request.instance, MAKEINTRESOURCEA(IDD_CONNECTING), nullptr,
                                     connecting_screen_proc, 0);
    ShowWindow(screen, SW_SHOWNORMAL);
    HANDLE worker = CreateThread(nullptr, 0, request_worker, &request, 0, nullptr);
    poll_until_ended(worker, screen, progress);
    DestroyWindow(screen);
    DWORD exit_code = 0;
    GetExitCodeThread(worker, &exit_code);
    CloseHandle(worker);
    return static_cast<int32_t>(exit_code);
}

} // namespace

DWORD WINAPI request_worker(LPVOID parameter)
{
    const DeviceRequest *r = static_cast<const DeviceRequest *>(parameter);
    trace("HTTP %x:%u to %x:%u", r->local_address, static_cast<unsigned>(r->local_port_base),
          r->device_address, static_cast<unsigned>(r->device_port));
    int32_t result = http_exchange(r->local_address, r->local_port_base, r->device_address,
                                   r->device_port, r->target, r->reply_buffer, r->reply_capacity);
    return static_cast<DWORD>(result);
}

int32_t run_device_request(HINSTANCE instance, uint32_t local_address, uint16_t local_port_base,
                           uint32_t device_address, uint16_t device_port, const char *target,
                           char *reply_buffer, int32_t reply_capacity)
{
    Progress progress;
    int quick_retry = 0;
    for (;;) {
        DeviceRequest request{instance,    local_address, local_port_base, device_address,
                              device_port, target,        reply_buffer,    reply_capacity};
        int32_t result = attempt(request, progress);
        if (result >= 0)
            return result;

        // The device demands authentication. Credentials already being sent
        // with a count back at 0 mean it has just changed its nonce: repeat
        // once at once before asking the person.
        const DigestState &digest = upgrade.digest;
        if (digest.password[0] != '\0' && digest.nonce_count == 0 && quick_retry == 0) {
            quick_retry = 1;
            continue;
        }
        if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PASSWORD), nullptr, password_screen_proc,
                            0) != 1)
            abort_upgrade();
        quick_retry = 0;
    }
}

INT_PTR CALLBACK connecting_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char caption[96];
        std::snprintf(caption, sizeof caption, "Connecting with NUV@%s", upgrade.device_address_text);
        SetWindowTextA(dialog, caption);
        center_window(dialog);
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == IDCANCEL) {
            DestroyWindow(dialog);
            abort_upgrade();
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK password_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    // Each box gives at most 126 characters: 127 bytes with the NUL.
    constexpr int kCredentialLimit = 127;
    static_assert(kCredentialLimit <= static_cast<int>(sizeof upgrade.digest.username), "fits");
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_PASSWORD_NOTICE, kPasswordNotice);
        SetDlgItemTextA(dialog, IDC_USER_BOX, "admin");
        SetFocus(GetDlgItem(dialog, IDC_PASSWORD_BOX));
        center_window(dialog);
        return FALSE;  // the focus is set
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            GetDlgItemTextA(dialog, IDC_USER_BOX, upgrade.digest.username, kCredentialLimit);
            GetDlgItemTextA(dialog, IDC_PASSWORD_BOX, upgrade.digest.password, kCredentialLimit);
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
