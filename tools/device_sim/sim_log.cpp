// tools/device_sim/sim_log.cpp: writes the simulator's log, one JSON object per line.
#include "tools/device_sim/sim_log.h"

#include <chrono>

namespace sim {

namespace {

FILE *g_log = nullptr;
std::chrono::steady_clock::time_point g_opened = std::chrono::steady_clock::now();

void write_line(const std::string &line) {
    if (g_log == nullptr) return;
    std::fputs(line.c_str(), g_log);
    std::fflush(g_log);
}

std::string seconds_text() {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", log_seconds());
    return seconds;
}

std::string json_number_or_null(bool present, long value) {
    return present ? std::to_string(value) : "null";
}

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
    g_opened = std::chrono::steady_clock::now();
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
    write_line(line);
}

double log_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_opened).count();
}

// Builds one record by appending, field after field.
struct Fields {
    std::string line;
    explicit Fields(const char *event) {
        line.append("{\"event\":").append(json_string(event)).append(",\"seconds\":").append(seconds_text());
    }
    Fields &raw(const char *name, const std::string &json) {
        line.append(",\"").append(name).append("\":").append(json);
        return *this;
    }
    Fields &text(const char *name, const std::string &value) { return raw(name, json_string(value)); }
    Fields &number(const char *name, long value) { return raw(name, std::to_string(value)); }
    Fields &number_or_null(const char *name, bool present, long value) {
        return raw(name, json_number_or_null(present, value));
    }
    Fields &text_or_null(const char *name, bool present, const std::string &value) {
        return raw(name, present ? json_string(value) : std::string("null"));
    }
    Fields &boolean(const char *name, bool value) { return raw(name, value ? "true" : "false"); }
    void write() {
        line.append("}\n");
        write_line(line);
    }
};

void log_packet(const PacketRecord &r) {
    Fields f("tftp");
    f.number("fetch", r.fetch).text("direction", r.direction).text("peer", r.peer).text("local", r.local);
    f.number_or_null("opcode", r.opcode >= 0, r.opcode).number_or_null("block", r.block >= 0, r.block);
    f.number("length", r.length).text_or_null("name", r.has_name, r.name).text_or_null("mode", r.has_name, r.mode);
    // A list of pairs rather than an object: a peer may repeat a name.
    std::string options = "null";
    if (r.has_options) {
        options = "[";
        for (size_t i = 0; i < r.options.size(); ++i) {
            if (i > 0) options.append(",");
            options.append("[").append(json_string(r.options[i].first)).append(",");
            options.append(json_string(r.options[i].second)).append("]");
        }
        options.append("]");
    }
    f.raw("options", options);
    f.number_or_null("error_code", r.error_code >= 0, r.error_code);
    f.text_or_null("error_text", r.error_code >= 0, r.error_text);
    f.text_or_null("note", !r.note.empty(), r.note);
    f.write();
}

void log_fetch(const FetchRecord &r) {
    Fields f("fetch");
    f.number("fetch", r.fetch).text("via", r.via).text("server", r.server).text("name", r.name);
    f.number("bytes", r.bytes).number("blocks", r.blocks).number_or_null("tsize", r.has_tsize, r.tsize);
    f.number_or_null("timeout", r.has_timeout, r.timeout).boolean("complete", r.complete);
    f.raw("size_matched", !r.has_tsize ? "null" : r.size_matched ? "true" : "false");
    f.text("md5", r.md5).raw("image_out", json_maybe(r.image_out)).raw("command", json_maybe(r.command));
    f.raw("command_status", r.command_status.present ? r.command_status.text : std::string("null"));
    f.text("result", r.result).boolean("flashing", r.flashing);
    f.write();
}

void log_flash(long fetch, const char *phase, double flash_seconds, const std::string &version,
               const char *source, const std::string &nonce) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", flash_seconds);
    Fields f("flash");
    f.number("fetch", fetch).text("phase", phase).raw("flash_seconds", duration).text("version", version);
    f.text("version_source", source).text_or_null("nonce", !nonce.empty(), nonce);
    f.write();
}

void log_upgrade_ignored(const std::string &name, const char *why) {
    Fields f("upgrade_ignored");
    f.text("name", name).text("why", why);
    f.write();
}

} // namespace sim
