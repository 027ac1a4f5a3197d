// tools/device_sim/main.cpp: nuv-device-sim, a simulated NUV device for trying out and testing the upgrader.
//
// One process plays the device: its web server now, its TFTP client later,
// each in a file of its own. The main loop waits on every socket of the
// device at once, so a role never blocks another for longer than one
// connection takes.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>

#include "tools/device_sim/http_server.h"
#include "tools/device_sim/options.h"
#include "tools/device_sim/sim_log.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_stop_signal(int) { g_stop = 1; }

void install_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void announce(const sim::HttpServer &server, const sim::Options &options) {
    std::printf("%s %s:%u\n", server.listening ? "listening" : "refusing", options.address.c_str(),
                server.port);
    std::fflush(stdout);
}

// Runs until a stop signal or the time limit; short poll rounds keep both prompt.
void run(sim::HttpServer &server, const sim::Options &options) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.max_seconds);
    while (g_stop == 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd watched{server.listening ? server.listener : -1, POLLIN, 0};
        int ready = poll(&watched, 1, 100);
        if (ready > 0 && (watched.revents & POLLIN) != 0) sim::serve_http_connection(server);
    }
}

} // namespace

int main(int argc, char **argv) {
    sim::Options options;
    int parsed = sim::parse_options(argc, argv, options);
    if (parsed == sim::kHelpShown) return 0;
    if (parsed != sim::kParsed) return 2;
    if (!sim::open_log(options.log_path)) {
        std::fprintf(stderr, "nuv-device-sim: cannot open the log file '%s'\n", options.log_path.c_str());
        return 1;
    }
    install_signals();
    sim::HttpServer server;
    if (!sim::open_http_server(server, options)) return 1;
    announce(server, options);
    run(server, options);
    sim::close_http_server(server);
    sim::close_log();
    return 0;
}
