// tests/http/runner_probe.cpp: runs run_device_request as the program
// does and shows what came of it in a message box, for the runner's tests.
//
// Command line: LOCAL DEVICE PORT TARGET [CALLS], addresses dotted. Each
// call is followed by a box "result=R nc=N user=U password=P".
#include <cstdio>
#include <cstring>

#include "app/random.h"
#include "app/upgrade_context.h"
#include "http/runner.h"
#include "tests/http/probe_args.h"

extern const int32_t build_initial_target_mode = 1;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    char local[32], device[32], target[128];
    unsigned port = 0, calls = 1;
    uint32_t local_address = 0, device_address = 0;
    int fields = std::sscanf(command_line, "%31s %31s %u %127s %u", local, device, &port, target, &calls);
    if (fields < 4 || !parse_probe_address(local, local_address) ||
        !parse_probe_address(device, device_address)) {
        std::fprintf(stderr, "usage: runner_probe LOCAL DEVICE PORT TARGET [CALLS]\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    seed_random(1);
    std::snprintf(upgrade.device_address_text, sizeof upgrade.device_address_text, "%s", device);
    for (unsigned i = 0; i < calls; i++) {
        int32_t result = run_device_request(instance, local_address, 23456, device_address,
                                            static_cast<uint16_t>(port), target, upgrade.reply_buffer,
                                            sizeof upgrade.reply_buffer - 1);
        char report[400];
        std::snprintf(report, sizeof report, "result=%d nc=%u user=%s password=%s", result,
                      upgrade.digest.nonce_count, upgrade.digest.username, upgrade.digest.password);
        MessageBoxA(nullptr, report, "Runner", MB_OK);
    }
    return 0;
}
