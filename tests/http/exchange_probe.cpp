// tests/http/exchange_probe.cpp: runs one http_exchange as the worker thread
// does, for the failures that end the process; if the exchange returns, a
// box "result=R" says so.
//
// Command line: MODE LOCAL DEVICE PORT, addresses dotted. MODE "exchange"
// runs it as the program does; "no-startup" leaves Windows Sockets
// unstarted, so that no socket can be made (using up every descriptor
// instead would also starve the sanitizers' runtime).
#include <cstdio>
#include <cstring>

#include "app/upgrade_context.h"
#include "http/exchange.h"
#include "tests/http/probe_args.h"

extern const int32_t build_initial_target_mode = 1;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int)
{
    char mode[32], local[32], device[32];
    unsigned port = 0;
    uint32_t local_address = 0, device_address = 0;
    if (std::sscanf(command_line, "%31s %31s %31s %u", mode, local, device, &port) != 4 ||
        !parse_probe_address(local, local_address) || !parse_probe_address(device, device_address)) {
        std::fprintf(stderr, "usage: exchange_probe MODE LOCAL DEVICE PORT\n");
        return 2;
    }
    if (std::strcmp(mode, "no-startup") != 0) {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
    }
    int32_t result = http_exchange(local_address, 23456, device_address, static_cast<uint16_t>(port),
                                   "/admin/advanced", upgrade.reply_buffer,
                                   sizeof upgrade.reply_buffer - 1);
    char report[64];
    std::snprintf(report, sizeof report, "result=%d", result);
    MessageBoxA(nullptr, report, "Exchange", MB_OK);
    return 0;
}
