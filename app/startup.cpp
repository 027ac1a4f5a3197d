// app/startup.cpp: init_program and the mapping of the embedded images.
#include "app/startup.h"

#include <cstddef>
#include <cstring>

#include "app/model_table.h"
#include "app/random.h"
#include "app/upgrade_context.h"
#include "platform/win32.h"

namespace {

constexpr size_t header_size = sizeof(FirmwareHeader);
constexpr size_t version_offset = offsetof(FirmwareHeader, version);
static_assert(version_offset == 92, "the version text sits at offset 92");

constexpr int local_address_slots = sizeof upgrade.local_addresses / sizeof upgrade.local_addresses[0];

// Every later step relies on a failure having ended the process.
[[noreturn]] void fail(const char *text)
{
    show_failure(text);
    ExitProcess(0);
}

void start_sockets()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        fail("Upgrade Failed: Winsock init error");
}

// A failed lookup is not an error here: the list stays empty and the
// address screen offers nothing to choose.
void list_local_addresses()
{
    gethostname(upgrade.host_name, static_cast<int>(sizeof upgrade.host_name) - 1);
    hostent *host = gethostbyname(upgrade.host_name);
    for (uint32_t &address : upgrade.local_addresses)
        address = 0;
    if (host == nullptr || host->h_addr_list == nullptr)
        return;
    for (int i = 0; i < local_address_slots; ++i) {
        const char *entry = host->h_addr_list[i];
        if (entry == nullptr)
            return;
        // The entry's bytes need not be aligned for a 32-bit read.
        uint32_t network_order;
        std::memcpy(&network_order, entry, sizeof network_order);
        upgrade.local_addresses[i] = ntohl(network_order);
        trace("Client IP = %x\n", static_cast<unsigned>(network_order));
    }
}

void register_common_controls()
{
    INITCOMMONCONTROLSEX controls;
    static_assert(sizeof controls == 8, "the structure Windows expects");
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
}

} // namespace

const char *check_firmware_image(const unsigned char *data, uint32_t size)
{
    if (data == nullptr)
        return "Upgrade Failed: Firmware image missing";
    if (size < header_size)
        return "Upgrade Failed: Firmware image too short";
    // The version text is read as a C string by the screens and the check
    // after flashing; without a NUL they would read past the header.
    if (std::memchr(data + version_offset, '\0', header_size - version_offset) == nullptr)
        return "Upgrade Failed: Firmware image damaged";
    return nullptr;
}

void map_firmware(int id, FirmwareImage *image)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), "NUV_FIRMWARE");
    const unsigned char *data = nullptr;
    uint32_t size = 0;
    if (found != nullptr) {
        size = SizeofResource(nullptr, found);
        HGLOBAL loaded = LoadResource(nullptr, found);
        if (loaded != nullptr)
            data = static_cast<const unsigned char *>(LockResource(loaded));
    }
    if (const char *why = check_firmware_image(data, size))
        fail(why);
    image->data = data;
    image->size = size;
    std::memcpy(&image->header, data, header_size);
}

void init_program()
{
    start_sockets();
    list_local_addresses();
    std::memset(&upgrade.digest, 0, sizeof upgrade.digest);
    upgrade.local_address = upgrade.local_addresses[0];
    seed_random(timeGetTime());
    register_common_controls();
    map_firmware(target_firmware_id, &upgrade.target_image);
    if (upgrade.target_mode.load() == 0)
        map_firmware(transition_firmware_id, &upgrade.transition_image);
    identify_model(upgrade.target_image.header);
}
