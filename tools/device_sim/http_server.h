// tools/device_sim/http_server.h: the simulated device's web server, one GET per connection.
#pragma once

#include <chrono>

#include "tools/device_sim/digest_check.h"
#include "tools/device_sim/options.h"
#include "tools/device_sim/sim_log.h"

namespace sim {

struct HttpServer {
    const Options *options = nullptr;
    int listener = -1;     // -1 once closed
    bool listening = false;  // false in the refusing fault
    uint16_t port = 0;     // the port actually bound
    long connections = 0;
    NonceState nonce;
    std::chrono::steady_clock::time_point started;
    PageOptions page;       // what the information page shows now; a flash changes the version
    bool upgrade_pending = false;  // a valid upgrade command came and waits to be taken
    UpgradeParts upgrade;
};

// Binds (and unless refusing, listens on) the configured address and port.
// False after a message on stderr.
bool open_http_server(HttpServer &server, const Options &options);
void close_http_server(HttpServer &server);
// Binds and listens again on the port bound before (the device is back
// from flashing). False when the port cannot be had; the caller retries.
bool reopen_http_server(HttpServer &server);
// Accepts one connection, answers its request and closes it. Called when
// the listener is readable.
void serve_http_connection(HttpServer &server);

} // namespace sim
