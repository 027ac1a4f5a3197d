// tools/device_sim/flash.h: the device writing a received image into its flash, and the version it reports afterwards.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tools/device_sim/http_server.h"
#include "tools/device_sim/options.h"

namespace sim {

struct Flash {
    bool active = false;
    long fetch = 0;               // the fetch whose image is being written
    bool reopen = false;          // the web server was open before and comes back
    std::chrono::steady_clock::time_point ends;
    std::string version;          // reported once the flash is over
    const char *source = "kept";  // "image", "option" or "kept"
};

// The web server goes away (connections are refused) until the flash time
// has passed.
void start_flash(Flash &flash, HttpServer &server, const Options &options, long fetch,
                 const std::vector<unsigned char> &image, std::chrono::steady_clock::time_point now);
// Ends the flash once its time is up: the server listens again on its port
// and reports the new version, and the nonce changes if so configured.
void flash_tick(Flash &flash, HttpServer &server, std::chrono::steady_clock::time_point now);

} // namespace sim
