// tools/device_sim/sim_log.h: the simulator's log, one JSON object per line.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// A JSON field that may be null.
struct MaybeText {
    bool present = false;
    std::string text;
    void set(const std::string &value) { present = true; text = value; }
};

struct UpgradeParts {
    bool present = false;  // the request was for the upgrade command
    bool valid = false;    // and its tftp:// part could be read
    std::string address;
    long port = 0;
    std::string name;
};

// What one connection brought and what it got.
struct ConnectionRecord {
    long connection = 0;   // 1 for the first accepted connection
    double seconds = 0;    // since the simulator started
    std::string peer;
    MaybeText request_line;   // without its CR LF
    MaybeText host;           // the Host header's value
    MaybeText authorization;  // the whole Authorization line, verbatim, without CR LF
    MaybeText auth;           // the verdict, when the device is protected
    int status = 0;           // 0: nothing was answered (null)
    long bytes_sent = 0;
    MaybeText fault;
    MaybeText nonce;            // the nonce in force when the request was judged
    MaybeText challenge_nonce;  // the nonce of the challenge sent, if one was
    UpgradeParts upgrade;
};

// One TFTP datagram that the device sent, received or (by a fault) lost.
struct PacketRecord {
    long fetch = 0;              // 1 for the first fetch
    const char *direction = "";  // "sent", "received", "lost"
    std::string peer;            // the other end, address:port
    std::string local;           // the device's socket, address:port
    int opcode = -1;             // -1: too short to carry one
    long block = -1;             // DATA and ACK; -1: none (null)
    long length = 0;             // of the whole datagram
    bool has_name = false;       // RRQ and WRQ
    std::string name, mode;
    bool has_options = false;    // RRQ, WRQ and OACK
    std::vector<std::pair<std::string, std::string>> options;
    int error_code = -1;         // ERROR; -1: none (null)
    std::string error_text;
    std::string note;            // what the device made of it; empty: null
};

// The end of one fetch.
struct FetchRecord {
    long fetch = 0;
    const char *via = "tftp";    // "tftp" or "command"
    std::string server;          // address:port of the upgrade command
    std::string name;
    long bytes = 0;              // image bytes received
    long blocks = 0;             // DATA blocks taken
    bool has_tsize = false;      // the server announced a size
    long tsize = 0;
    bool complete = false;       // the transfer reached its end
    bool size_matched = false;   // meaningful with has_tsize
    bool has_timeout = false;    // the OACK's timeout value
    long timeout = 0;
    std::string md5;             // hex digest of the received bytes
    MaybeText image_out;         // the file written, when one was
    MaybeText command;           // the words --tftp-command ran, joined by blanks
    MaybeText command_status;    // its exit status
    std::string result;          // "ok" or why not
    bool flashing = false;       // the device goes on to flash it
};

// Opens `path` for appending; an empty path means no log. False when the
// file cannot be opened.
bool open_log(const std::string &path);
void close_log();
// Writes the record as one line and flushes it, so a test can read the
// log while the simulator runs.
void log_connection(const ConnectionRecord &record);

void log_packet(const PacketRecord &record);
void log_fetch(const FetchRecord &record);
// phase "start": `version` is what the device will report afterwards;
// phase "end": what it reports now. `source` says where the version came
// from: "image", "option" or "kept".
void log_flash(long fetch, const char *phase, double flash_seconds, const std::string &version,
               const char *source, const std::string &nonce);
// An upgrade command that the device did not act on, and why.
void log_upgrade_ignored(const std::string &name, const char *why);
// Seconds since the log was opened, for the records above.
double log_seconds();

// The JSON text of a string, quotes included; bytes outside printable
// ASCII become \u00XX so that any bytes off the wire give valid JSON.
std::string json_string(const std::string &text);

} // namespace sim
