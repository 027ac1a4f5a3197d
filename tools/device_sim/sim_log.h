// tools/device_sim/sim_log.h: the simulator's log, one JSON object per line.
#pragma once

#include <cstdio>
#include <string>

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

// Opens `path` for appending; an empty path means no log. False when the
// file cannot be opened.
bool open_log(const std::string &path);
void close_log();
// Writes the record as one line and flushes it, so a test can read the
// log while the simulator runs.
void log_connection(const ConnectionRecord &record);

// The JSON text of a string, quotes included; bytes outside printable
// ASCII become \u00XX so that any bytes off the wire give valid JSON.
std::string json_string(const std::string &text);

} // namespace sim
