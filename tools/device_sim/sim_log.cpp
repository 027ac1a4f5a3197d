// tools/device_sim/sim_log.cpp: writes the simulator's log, one JSON object per line.
#include "tools/device_sim/sim_log.h"

namespace sim {

namespace {

FILE *g_log = nullptr;

std::string json_maybe(const MaybeText &value) {
    return value.present ? json_string(value.text) : "null";
}

std::string json_upgrade(const UpgradeParts &u) {
    if (!u.present) return "null";
    if (!u.valid) return "{\"valid\":false}";
    return "{\"valid\":true,\"address\":" + json_string(u.address) + ",\"port\":" +
           std::to_string(u.port) + ",\"name\":" + json_string(u.name) + "}";
}

} // namespace

bool open_log(const std::string &path) {
    if (path.empty()) return true;
    g_log = std::fopen(path.c_str(), "a");
    return g_log != nullptr;
}

void close_log() {
    if (g_log != nullptr) std::fclose(g_log);
    g_log = nullptr;
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        }
    }
    return out + "\"";
}

void log_connection(const ConnectionRecord &r) {
    if (g_log == nullptr) return;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    std::string line = "{\"connection\":" + std::to_string(r.connection) +
                       ",\"seconds\":" + seconds +
                       ",\"peer\":" + json_string(r.peer) +
                       ",\"request_line\":" + json_maybe(r.request_line) +
                       ",\"host\":" + json_maybe(r.host) +
                       ",\"authorization\":" + json_maybe(r.authorization) +
                       ",\"auth\":" + json_maybe(r.auth) +
                       ",\"status\":" + (r.status != 0 ? std::to_string(r.status) : "null") +
                       ",\"bytes_sent\":" + std::to_string(r.bytes_sent) +
                       ",\"fault\":" + json_maybe(r.fault) +
                       ",\"nonce\":" + json_maybe(r.nonce) +
                       ",\"challenge_nonce\":" + json_maybe(r.challenge_nonce) +
                       ",\"upgrade\":" + json_upgrade(r.upgrade) + "}\n";
    std::fputs(line.c_str(), g_log);
    std::fflush(g_log);
}

} // namespace sim
