// tools/device_sim/main.cpp: nuv-device-sim, a simulated NUV device for trying out and testing the upgrader.
//
// One process plays the device: its web server, its TFTP client and its
// flash, each in a file of its own. The main loop waits on every socket of
// the device at once and wakes for the timers of the fetch and the flash,
// so a role never blocks another for longer than one connection takes.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>

#include "tools/device_sim/flash.h"
#include "tools/device_sim/http_server.h"
#include "tools/device_sim/options.h"
#include "tools/device_sim/sim_log.h"
#include "tools/device_sim/tftp_client.h"

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

using Clock = std::chrono::steady_clock;

constexpr int kRoundMs = 100;  // the longest poll, so a stop signal is seen soon

struct Device {
    sim::HttpServer server;
    sim::TftpFetch fetch;
    sim::Flash flash;
    long fetches = 0;
};

int ms_until(Clock::time_point when, Clock::time_point now) {
    if (when <= now) return 0;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, kRoundMs));
}

// An upgrade command starts a fetch unless one is under way.
void take_upgrade(Device &d, const sim::Options &options, Clock::time_point now) {
    if (!d.server.upgrade_pending) return;
    d.server.upgrade_pending = false;
    if (sim::fetch_in_progress(d.fetch)) {
        sim::log_upgrade_ignored(d.server.upgrade.name, "a fetch is under way");
        return;
    }
    sim::begin_fetch(d.fetch, options, ++d.fetches, d.server.upgrade, now);
}

// A good image is flashed; the fetch may still dally on its socket meanwhile.
void take_fetch_result(Device &d, const sim::Options &options, Clock::time_point now) {
    if (!d.fetch.finished || d.fetch.taken) return;
    d.fetch.taken = true;
    if (d.fetch.good) sim::start_flash(d.flash, d.server, options, d.fetch.number, d.fetch.image, now);
}

// Runs until a stop signal or the time limit.
void run(Device &d, const sim::Options &options) {
    auto deadline = Clock::now() + std::chrono::seconds(options.max_seconds);
    while (g_stop == 0 && Clock::now() < deadline) {
        pollfd watched[3];
        int count = 0;
        bool http = d.server.listening && d.server.listener >= 0;
        if (http) watched[count++] = pollfd{d.server.listener, POLLIN, 0};
        int first_tftp = count;
        count += sim::fetch_poll_fds(d.fetch, watched + count, 3 - count);
        Clock::time_point now = Clock::now();
        int wait = kRoundMs;
        if (sim::fetch_busy(d.fetch)) wait = std::min(wait, ms_until(sim::fetch_wakeup(d.fetch), now));
        if (d.flash.active) wait = std::min(wait, ms_until(d.flash.ends, now));
        int ready = poll(watched, static_cast<nfds_t>(count), wait);
        now = Clock::now();
        if (ready > 0) {
            for (int i = first_tftp; i < count; ++i)
                if ((watched[i].revents & POLLIN) != 0) sim::fetch_readable(d.fetch, watched[i].fd, now);
            if (http && (watched[0].revents & POLLIN) != 0) sim::serve_http_connection(d.server);
        }
        now = Clock::now();
        sim::fetch_tick(d.fetch, now);
        take_fetch_result(d, options, now);
        sim::flash_tick(d.flash, d.server, now);
        take_upgrade(d, options, now);
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
    static Device device;  // large; lives for the whole run
    if (!sim::open_http_server(device.server, options)) return 1;
    announce(device.server, options);
    run(device, options);
    sim::end_fetch(device.fetch);
    sim::close_http_server(device.server);
    sim::close_log();
    return 0;
}
