// tests/tftp/tftp_probe.cpp: starts the TFTP listener the way the upgrade
// sequence does, with an image of its own making, for the TFTP tests.
//
// Command line: LOCAL SIZE [key=value ...], LOCAL dotted. Keys:
//   mode=0|1        the starting target_mode (0: a transition image first)
//   transition=N    the transition image's size (mode=0)
//   phone=0|1       the device family
//   device=TEXT     the device address as the person typed it
//   version=TEXT    the target image's header version (images of 128 bytes up)
//   name=/NAME      the agreed file name
//   second=/NAME    the name the main thread agrees once target_mode is 1
//   software=TEXT   the software version read from the device before
// The bound port is shown in a box "port=N"; after it is pressed the main
// thread agrees the second name once target_mode is 1 (and says so in a
// box), then only sleeps, as the sequence's does, until the listener ends the
// process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/upgrade_context.h"
#include "tests/tftp/probe_image.h"
#include "tftp/listener.h"

extern const int32_t build_initial_target_mode = 1;

namespace {

struct ProbeArgs {
    char local[32] = "";
    unsigned long size = 0;
    int mode = 1;
    unsigned long transition_size = 0;
    int phone = 0;
    char device[64] = "127.0.0.1";
    char version[36] = "4.1.12(a)";
    char transition_version[36] = "2.0.9(t)";
    char name[128] = "/nuv1a2b.bi1";
    char second[128] = "";
    char software[128] = "";
};

void copy(char *to, size_t capacity, const char *from)
{
    std::snprintf(to, capacity, "%s", from);
}

bool parse_args(char *line, ProbeArgs &args)
{
    char *token = std::strtok(line, " ");
    if (token == nullptr)
        return false;
    copy(args.local, sizeof args.local, token);
    token = std::strtok(nullptr, " ");
    if (token == nullptr)
        return false;
    args.size = std::strtoul(token, nullptr, 10);
    while ((token = std::strtok(nullptr, " ")) != nullptr) {
        char *value = std::strchr(token, '=');
        if (value == nullptr)
            return false;
        *value++ = '\0';
        if (std::strcmp(token, "mode") == 0) args.mode = std::atoi(value);
        else if (std::strcmp(token, "transition") == 0) args.transition_size = std::strtoul(value, nullptr, 10);
        else if (std::strcmp(token, "phone") == 0) args.phone = std::atoi(value);
        else if (std::strcmp(token, "device") == 0) copy(args.device, sizeof args.device, value);
        else if (std::strcmp(token, "version") == 0) copy(args.version, sizeof args.version, value);
        else if (std::strcmp(token, "name") == 0) copy(args.name, sizeof args.name, value);
        else if (std::strcmp(token, "second") == 0) copy(args.second, sizeof args.second, value);
        else if (std::strcmp(token, "software") == 0) copy(args.software, sizeof args.software, value);
        else return false;
    }
    return true;
}

uint32_t dotted(const char *text)
{
    unsigned a, b, c, d;
    if (std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d) != 4)
        return 0;
    return (a << 24) | (b << 16) | (c << 8) | d;
}

void load_image(FirmwareImage &image, std::vector<unsigned char> &bytes, unsigned long size,
                const char *version)
{
    bytes = probe_image(size, version);
    image.data = bytes.data();
    image.size = static_cast<uint32_t>(size);
    if (size >= sizeof image.header)
        std::memcpy(&image.header, bytes.data(), sizeof image.header);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    static char line[1024];
    copy(line, sizeof line, command_line);
    ProbeArgs args;
    if (!parse_args(line, args)) {
        std::fprintf(stderr, "usage: tftp_probe LOCAL SIZE [key=value ...]\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    upgrade.instance = instance;
    upgrade.target_mode.store(args.mode);
    upgrade.is_phone = args.phone;
    copy(upgrade.device_address_text, sizeof upgrade.device_address_text, args.device);
    copy(upgrade.tftp_file_name, sizeof upgrade.tftp_file_name, args.name);
    copy(upgrade.device_info.software_version, sizeof upgrade.device_info.software_version,
         args.software);
    static std::vector<unsigned char> target, transition;
    load_image(upgrade.target_image, target, args.size, args.version);
    if (args.mode == 0)
        load_image(upgrade.transition_image, transition, args.transition_size,
                   args.transition_version);
    uint32_t local = dotted(args.local);
    upgrade.local_address = local;
    uint16_t port = start_tftp_listener(local);
    char report[32];
    std::snprintf(report, sizeof report, "port=%u", port);
    MessageBoxA(nullptr, report, "Listener", MB_OK);
    if (args.mode == 0 && args.second[0] != '\0') {
        while (upgrade.target_mode.load() == 0)
            Sleep(10);
        {
            FileNameLock lock;
            copy(upgrade.tftp_file_name, sizeof upgrade.tftp_file_name, args.second);
        }
        // Where the sequence would send its second command.
        MessageBoxA(nullptr, "second name agreed", "Listener", MB_OK);
    }
    for (;;)
        Sleep(10);
}
