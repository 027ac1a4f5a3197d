// tools/device_sim/flash.cpp: the device writing a received image into its flash, and the version it reports afterwards.
#include "tools/device_sim/flash.h"

#include "tools/device_sim/sim_log.h"
#include "tools/device_sim/tftp_client.h"

namespace sim {

namespace {

constexpr int kSoftwareVersion = 2;  // index of "Software Version:" among the labels
constexpr auto kReopenRetry = std::chrono::milliseconds(100);

} // namespace

void start_flash(Flash &flash, HttpServer &server, const Options &options, long fetch,
                 const std::vector<unsigned char> &image, std::chrono::steady_clock::time_point now) {
    flash.active = true;
    flash.fetch = fetch;
    flash.reopen = server.listener >= 0 && server.listening;
    flash.ends = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(options.tftp.flash_seconds));
    std::string from_image;
    if (options.tftp.has_report_version) {
        flash.version = options.tftp.report_version;
        flash.source = "option";
    } else if (header_version(image, from_image)) {
        flash.version = from_image;
        flash.source = "image";
    } else {
        // An image without a readable header: the device keeps its firmware.
        flash.version = server.page.values[kSoftwareVersion];
        flash.source = "kept";
    }
    // Closed, not just left unanswered, so that a connect is refused.
    close_http_server(server);
    log_flash(fetch, "start", options.tftp.flash_seconds, flash.version, flash.source, "");
}

void flash_tick(Flash &flash, HttpServer &server, std::chrono::steady_clock::time_point now) {
    if (!flash.active || now < flash.ends) return;
    if (flash.reopen && !reopen_http_server(server)) {
        flash.ends = now + kReopenRetry;  // the port is taken for the moment; the device tries again
        return;
    }
    flash.active = false;
    server.page.values[kSoftwareVersion] = flash.version;
    nonce_after_flash(server.nonce, server.options->digest);
    log_flash(flash.fetch, "end", server.options->tftp.flash_seconds, flash.version, flash.source,
              server.options->digest.enabled ? server.nonce.current : "");
}

} // namespace sim
