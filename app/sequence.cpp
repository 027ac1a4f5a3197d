// app/sequence.cpp: the upgrade sequence and the upgrade command.
#include "app/sequence.h"

#include <cstdio>

#include "app/screens.h"
#include "app/upgrade_context.h"
#include "http/runner.h"
#include "tftp/listener.h"
#include "upgrader_ids.h"

namespace {

constexpr const char kInformationPage[] = "/admin/advanced";
constexpr const char kUpgradeTargetFormat[] = "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s";
constexpr const char kNoResponseText[] = "Upgrade Failed: No Response From NUV";
constexpr const char kUserAbortText[] = "Upgrade Failed: User Abort";

constexpr uint16_t kLocalPortBase = 23456;
constexpr uint16_t kDevicePort = 80;
// One less than the reply buffer, so the terminating NUL always fits.
constexpr int32_t kReplyCapacity = static_cast<int32_t>(sizeof upgrade.reply_buffer) - 1;
constexpr int kUpgradeTargetSize = 128;
constexpr DWORD kPollMilliseconds = 10;

int32_t request_device(HINSTANCE instance, const char *target)
{
    return run_device_request(instance, upgrade.local_address, kLocalPortBase,
                              upgrade.device_address, kDevicePort, target, upgrade.reply_buffer,
                              kReplyCapacity);
}

INT_PTR show_screen(HINSTANCE instance, int template_id, DLGPROC proc)
{
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(template_id), nullptr, proc, 0);
}

// From here on the process ends on another thread: the listener's after
// the transfer, or a failure or Cancel on the TFTP side.
[[noreturn]] void sleep_for_ever()
{
    for (;;)
        Sleep(kPollMilliseconds);
}

} // namespace

void send_upgrade_command(HINSTANCE instance, uint16_t port)
{
    char target[kUpgradeTargetSize];
    uint32_t a = upgrade.local_address;
    int length;
    {
        // The name is only replaced on this thread, but the lock keeps the
        // read of it in step with the rule for every use of the name.
        FileNameLock lock;
        length = snprintf(target, sizeof target, kUpgradeTargetFormat, (a >> 24) & 0xff,
                          (a >> 16) & 0xff, (a >> 8) & 0xff, a & 0xff, static_cast<unsigned>(port),
                          upgrade.tftp_file_name);
    }
    // A target that does not fit (it cannot: at most 55 characters) would
    // name a file the listener does not know; it is not sent cut.
    if (length < 0 || length >= static_cast<int>(sizeof target)) {
        trace("upgrade target too long: %d\n", length);
        return;
    }
    request_device(instance, target);
}

int run_upgrade_sequence(HINSTANCE instance)
{
    if (show_screen(instance, IDD_WARNING, warning_screen_proc) != 1)
        return 0;
    int address_screen = upgrade.is_phone != 0 ? IDD_PHONE_ADDRESS : IDD_ADAPTER_ADDRESS;
    if (show_screen(instance, address_screen, address_screen_proc) != 1)
        return 0;
    if (upgrade.device_address == 0)
        return 0;

    // Any reply counts as an answer; the confirm screen shows what could
    // be read from it.
    if (request_device(instance, kInformationPage) <= 0) {
        show_failure(kNoResponseText);
        return 0;
    }

    int confirm_screen = upgrade.target_mode.load() != 0 ? IDD_CONFIRM : IDD_TRANSITION_CONFIRM;
    if (show_screen(instance, confirm_screen, confirm_screen_proc) != 1) {
        show_failure(kUserAbortText);
        return 0;
    }

    uint16_t port = start_tftp_listener(upgrade.local_address);
    send_upgrade_command(instance, port);
    if (upgrade.target_mode.load() == 1)
        sleep_for_ever();

    // Transition build: the command above asked for the transition image.
    // Once the listener has served it, the device is sent for the target
    // image under a new name, on the same port.
    while (upgrade.target_mode.load() != 1)
        Sleep(kPollMilliseconds);
    draw_tftp_file_name(1);
    send_upgrade_command(instance, port);
    sleep_for_ever();
}
