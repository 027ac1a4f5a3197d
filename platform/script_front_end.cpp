// platform/script_front_end.cpp: the automation protocol: commands read
// from one descriptor, events and answers written to another, a line each.
//
// Events: open H T, close H, msgbox H STYLE "caption" "text", exit CODE.
// Commands: dump H, click H ID, type H ID "text", select H ID N,
// key H enter|escape, press H ID. A command that cannot be carried out
// gets error "<the command>: why" and changes nothing.
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/front_ends.h"
#include "platform/window_core.h"

namespace {

constexpr size_t kMaxLine = 1 << 20;

std::string quote(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char ch : text) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (ch < 0x20 || ch >= 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", ch);
                out += hex;
            } else {
                out += static_cast<char>(ch);
            }
        }
    }
    return out + "\"";
}

uintptr_t number(HWND window) { return reinterpret_cast<uintptr_t>(window); }

class Output {
public:
    explicit Output(int fd) : fd_(fd) {}

    // Writes whole lines at once, so that an event never lands inside a
    // dump's answer.
    void write_lines(const std::string &lines)
    {
        std::lock_guard<std::mutex> guard(lock_);
        const char *p = lines.data();
        size_t left = lines.size();
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;  // the reader has gone; nothing is left to tell
            p += n;
            left -= static_cast<size_t>(n);
        }
    }

private:
    int fd_;
    std::mutex lock_;
};

class ScriptFrontEnd : public FrontEnd {
public:
    explicit ScriptFrontEnd(int output_fd) : out_(output_fd) {}

    void opened(HWND dialog, int template_id) override
    {
        out_.write_lines("open " + std::to_string(number(dialog)) + " " +
                         std::to_string(template_id) + "\n");
    }
    void closed(HWND window) override
    {
        out_.write_lines("close " + std::to_string(number(window)) + "\n");
    }
    void message_box(HWND box, UINT style, const std::string &caption,
                     const std::string &text) override
    {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", style);
        out_.write_lines("msgbox " + std::to_string(number(box)) + " " + hex + " " +
                         quote(caption) + " " + quote(text) + "\n");
    }
    void exiting(UINT exit_code) override
    {
        out_.write_lines("exit " + std::to_string(exit_code) + "\n");
    }

    Output &out() { return out_; }

private:
    Output out_;
};

// ---- reading commands ----------------------------------------------------

struct Words {
    std::vector<std::string> items;
    std::string error;
};

bool hex_digit(char c, int &value)
{
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else
        return false;
    return true;
}

// Splits a command into words; a quoted word takes the protocol's escapes.
Words split(const std::string &line)
{
    Words w;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            i++;
            continue;
        }
        std::string word;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                word += line[i++];
            w.items.push_back(word);
            continue;
        }
        i++;
        for (;;) {
            if (i >= line.size()) {
                w.error = "unterminated text";
                return w;
            }
            char c = line[i++];
            if (c == '"')
                break;
            if (c != '\\') {
                word += c;
                continue;
            }
            if (i >= line.size()) {
                w.error = "unterminated text";
                return w;
            }
            char e = line[i++];
            int high, low;
            switch (e) {
            case '\\': word += '\\'; break;
            case '"': word += '"'; break;
            case 'r': word += '\r'; break;
            case 'n': word += '\n'; break;
            case 't': word += '\t'; break;
            case 'x':
                if (i + 1 >= line.size() || !hex_digit(line[i], high) ||
                    !hex_digit(line[i + 1], low)) {
                    w.error = "\\x needs two hexadecimal digits";
                    return w;
                }
                word += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            default:
                w.error = std::string("unknown escape \\") + e;
                return w;
            }
        }
        if (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            w.error = "text must be followed by a blank";
            return w;
        }
        w.items.push_back("\"" + word);  // the mark tells a text from a bare word
    }
    return w;
}

bool to_int(const std::string &word, long low, long high, long &out)
{
    if (word.empty() || word.size() > 11)
        return false;
    size_t i = word[0] == '-' ? 1 : 0;
    if (i == word.size())
        return false;
    long value = 0;
    for (; i < word.size(); i++) {
        if (word[i] < '0' || word[i] > '9')
            return false;
        value = value * 10 + (word[i] - '0');
    }
    if (word[0] == '-')
        value = -value;
    if (value < low || value > high)
        return false;
    out = value;
    return true;
}

bool is_text(const std::string &word) { return !word.empty() && word[0] == '"'; }

std::string control_line(uintptr_t handle, const ControlView &c)
{
    std::string line = "control " + std::to_string(handle) + " " + std::to_string(c.id) + " " +
                       c.window_class + " " + quote(c.text);
    if (c.window_class == "msctls_progress32")
        line += " range=" + std::to_string(c.range_low) + ".." + std::to_string(c.range_high) +
                " pos=" + std::to_string(c.position);
    if (c.window_class == "ComboBox") {
        line += " items=";
        for (size_t i = 0; i < c.items.size(); i++) {
            if (i > 0)
                line += ',';
            line += quote(c.items[i]);
        }
        line += " sel=" + std::to_string(c.selection);
    }
    if (c.focused)
        line += " focus";
    return line + "\n";
}

std::string dump(uintptr_t handle, std::string &why)
{
    WindowView view;
    if (!view_window(reinterpret_cast<HWND>(handle), view)) {
        why = "no visible window " + std::to_string(handle);
        return "";
    }
    std::string lines = "caption " + std::to_string(handle) + " " + quote(view.caption) + "\n";
    for (const ControlView &c : view.controls)
        lines += control_line(handle, c);
    return lines + "end " + std::to_string(handle) + "\n";
}

template <typename Fail> std::string fail_if(const std::string &why, Fail fail)
{
    return why.empty() ? std::string() : fail(why);
}

// Carries out one command; returns what to write back (nothing for input
// that was taken).
std::string run_command(const std::string &line)
{
    Words words = split(line);
    auto fail = [&](const std::string &why) { return "error " + quote(line + ": " + why) + "\n"; };
    if (!words.error.empty())
        return fail(words.error);
    const std::vector<std::string> &w = words.items;
    if (w.empty())
        return "";  // a blank line asks for nothing
    const std::string &verb = w[0];
    struct Shape {
        const char *verb;
        size_t words;
        const char *usage;
    };
    static constexpr Shape kShapes[] = {
        {"dump", 2, "dump H"},         {"click", 3, "click H ID"},
        {"type", 4, "type H ID \"text\""}, {"select", 4, "select H ID N"},
        {"key", 3, "key H enter|escape"}, {"press", 3, "press H ID"},
    };
    const Shape *shape = nullptr;
    for (const Shape &s : kShapes)
        if (verb == s.verb)
            shape = &s;
    if (shape == nullptr)
        return fail("unknown command");
    if (w.size() != shape->words)
        return fail(std::string("usage: ") + shape->usage);
    long handle = 0;
    if (!to_int(w[1], 1, 0x7FFFFFFF, handle))
        return fail("bad window handle");
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
    if (verb == "dump") {
        std::string why;
        std::string lines = dump(static_cast<uintptr_t>(handle), why);
        return why.empty() ? lines : fail(why);
    }
    if (verb == "key") {
        if (w[2] == "enter")
            return fail_if(input_key(window, InputKey::enter), fail);
        if (w[2] == "escape")
            return fail_if(input_key(window, InputKey::escape), fail);
        return fail("usage: key H enter|escape");
    }
    long id = 0;
    if (!to_int(w[2], -1, 0xFFFF, id))
        return fail("bad control id");
    if (verb == "click")
        return fail_if(input_click(window, static_cast<int>(id)), fail);
    if (verb == "press")
        return fail_if(input_press(window, static_cast<int>(id)), fail);
    if (verb == "type") {
        if (!is_text(w[3]))
            return fail("the text must be in double quotes");
        return fail_if(input_type(window, static_cast<int>(id), w[3].substr(1)), fail);
    }
    long index = 0;
    if (!to_int(w[3], 0, 0x7FFFFFFF, index))
        return fail("bad entry number");
    return fail_if(input_select(window, static_cast<int>(id), static_cast<int>(index)), fail);
}

void read_commands(int fd, ScriptFrontEnd *front_end)
{
    std::string pending;
    bool too_long = false;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // no more commands; the program goes on by itself
        for (ssize_t i = 0; i < n; i++) {
            char c = chunk[i];
            if (c != '\n') {
                if (pending.size() < kMaxLine)
                    pending += c;
                else
                    too_long = true;
                continue;
            }
            if (!pending.empty() && pending.back() == '\r')
                pending.pop_back();
            std::string answer = too_long ? "error " + quote("line longer than " +
                                                             std::to_string(kMaxLine) + " bytes") + "\n"
                                          : run_command(pending);
            if (!answer.empty())
                front_end->out().write_lines(answer);
            pending.clear();
            too_long = false;
        }
    }
}

} // namespace

void start_script_front_end(int input_fd, int output_fd)
{
    // Lives as long as the process: events may come from any thread until
    // the very end.
    static ScriptFrontEnd *front_end = new ScriptFrontEnd(output_fd);
    install_front_end(front_end);
    std::thread(read_commands, input_fd, front_end).detach();
}
