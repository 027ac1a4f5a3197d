// tools/device_sim/tftp_client.h: the simulated device's TFTP fetch of a firmware image, driven by the main poll loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <vector>

#include "tools/device_sim/fetch_command.h"
#include "tools/device_sim/options.h"
#include "tools/device_sim/sim_log.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// A read request (RFC 1350) with the options "tsize" and "timeout" (RFC
// 2347, 2349), or an outside command, and what came of it. The fetch never
// blocks: the main loop polls its sockets and calls it on every round.
enum class FetchPhase {
    idle,          // no fetch, or its sockets are closed
    waiting,       // the device finishes what it was doing before it starts
    requesting,    // the read request is out, no answer yet
    transferring,  // locked to the server's address and port
    dallying,      // the last block is acknowledged; a resent last block is acknowledged again
    commanding,    // an outside command fetches
};

struct TftpFetch {
    const Options *options = nullptr;
    long number = 0;            // 1 for the first fetch of the run
    bool faults = false;        // the TFTP faults hit this fetch
    FetchPhase phase = FetchPhase::idle;
    Clock::time_point deadline; // of the phase's timer
    uint32_t server_address = 0;  // host order, from the upgrade command
    uint16_t server_port = 0;
    std::string server_text;      // address:port
    std::string name;

    int socket = -1;            // the device's TFTP port
    int other_socket = -1;      // the second socket of some faults, made when needed
    std::string local_text, other_text;
    bool locked = false;        // the first answer fixed the peer
    sockaddr_in peer{};
    std::string peer_text;

    std::vector<unsigned char> image;
    long blocks = 0;            // DATA blocks taken, without the 16-bit wrap
    bool has_tsize = false, has_timeout = false;
    long tsize = 0, timeout = 0;
    std::vector<unsigned char> last_packet;  // resent when nothing comes
    bool last_is_ack = false;
    long sends_of_last = 0;     // sends (or silent waits) of last_packet so far
    bool silenced = false;      // the silent fault: nothing more goes out
    long acks_made = 0;         // ACKs of this fetch, for the loss faults
    unsigned long random_state = 1;
    long strays_sent = 0;
    CommandRun command;

    // Filled when the fetch is over; the main loop takes it once.
    bool finished = false;
    bool taken = false;
    bool good = false;          // complete, and of the announced size if one was
};

// Starts fetch `number` for a valid upgrade command: the read request goes
// out after the idle wait.
void begin_fetch(TftpFetch &fetch, const Options &options, long number, const UpgradeParts &upgrade,
                 Clock::time_point now);
// True while the fetch needs the loop (its sockets, its timer or its command).
bool fetch_busy(const TftpFetch &fetch);
// True while a new upgrade command must wait: the fetch has not yet got
// its image or given up.
bool fetch_in_progress(const TftpFetch &fetch);
// Adds the fetch's sockets to `fds`; returns how many were added.
int fetch_poll_fds(const TftpFetch &fetch, pollfd *fds, int room);
// Reads every datagram waiting on `fd` and answers as the device would.
void fetch_readable(TftpFetch &fetch, int fd, Clock::time_point now);
// Runs the timers and watches the command; call on every round.
void fetch_tick(TftpFetch &fetch, Clock::time_point now);
// When the fetch next needs a call of fetch_tick.
Clock::time_point fetch_wakeup(const TftpFetch &fetch);
// Closes the sockets and stops a command; the fetch becomes idle.
void end_fetch(TftpFetch &fetch);

// The version text in an image's header: NUL-terminated at offset 92,
// at most 32 bytes. False when the image has no such text.
bool header_version(const std::vector<unsigned char> &image, std::string &version);

} // namespace sim
