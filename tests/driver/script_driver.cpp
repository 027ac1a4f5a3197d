// tests/driver/script_driver.cpp: the script-front-end driver for tests.
#include "tests/driver/script_driver.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char **environ;

namespace driver {

namespace {

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> words(const std::string &line, size_t count)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (out.size() < count && at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string::npos)
            end = line.size();
        out.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// Where the n-th blank-separated word begins.
size_t word_start(const std::string &line, int n)
{
    size_t at = 0;
    for (int i = 0; i < n && at != std::string::npos; i++) {
        at = line.find(' ', at);
        if (at != std::string::npos)
            at++;
    }
    return at == std::string::npos ? line.size() : at;
}

Event parse_event(const std::string &line)
{
    Event e;
    e.line = line;
    std::vector<std::string> w = words(line, 3);
    if (w.empty())
        return e;
    if (w[0] == "open" && w.size() == 3) {
        e.kind = Event::Kind::open;
        e.handle = std::atol(w[1].c_str());
        e.template_id = std::atoi(w[2].c_str());
    } else if (w[0] == "close" && w.size() >= 2) {
        e.kind = Event::Kind::close;
        e.handle = std::atol(w[1].c_str());
    } else if (w[0] == "exit" && w.size() >= 2) {
        e.kind = Event::Kind::exit;
        e.code = std::atoi(w[1].c_str());
    } else if (w[0] == "msgbox" && w.size() == 3) {
        e.handle = std::atol(w[1].c_str());
        size_t at = word_start(line, 2);
        e.style = static_cast<unsigned>(std::strtoul(line.c_str() + at, nullptr, 16));
        at = word_start(line, 3);
        if (unquote(line, at, e.caption) && at < line.size() && line[at] == ' ' &&
            unquote(line, ++at, e.text))
            e.kind = Event::Kind::msgbox;
    }
    return e;
}

bool parse_control(const std::string &line, Control &c)
{
    // control H ID CLASS "text" [range=L..H pos=P] [items="a","b" sel=N] [focus]
    std::vector<std::string> w = words(line, 4);
    if (w.size() < 4)
        return false;
    c.id = std::atoi(w[2].c_str());
    c.window_class = w[3];
    size_t at = word_start(line, 4);
    if (!unquote(line, at, c.text))
        return false;
    while (at < line.size()) {
        if (line[at] == ' ') {
            at++;
            continue;
        }
        if (starts_with(line.substr(at), "range=")) {
            c.has_range = true;
            std::sscanf(line.c_str() + at, "range=%d..%d pos=%d", &c.range_low, &c.range_high,
                        &c.position);
            at = line.find(" pos=", at);
            at = at == std::string::npos ? line.size() : line.find(' ', at + 1);
            if (at == std::string::npos)
                at = line.size();
        } else if (starts_with(line.substr(at), "items=")) {
            c.has_items = true;
            at += 6;
            while (at < line.size() && line[at] == '"') {
                std::string item;
                if (!unquote(line, at, item))
                    return false;
                c.items.push_back(item);
                if (at < line.size() && line[at] == ',')
                    at++;
            }
            if (!starts_with(line.substr(at), " sel="))
                return false;
            c.selection = std::atoi(line.c_str() + at + 5);
            at = line.find(' ', at + 1);
            if (at == std::string::npos)
                at = line.size();
        } else if (starts_with(line.substr(at), "focus")) {
            c.focus = true;
            at += 5;
        } else {
            return false;
        }
    }
    return true;
}

std::string describe(const std::string &what, const std::string &transcript,
                     const std::string &errors)
{
    return "timed out waiting for " + what + "\n--- program output ---\n" + transcript +
           "--- standard error ---\n" + errors;
}

} // namespace

bool unquote(const std::string &line, size_t &at, std::string &out)
{
    if (at >= line.size() || line[at] != '"')
        return false;
    out.clear();
    for (size_t i = at + 1; i < line.size(); i++) {
        char c = line[i];
        if (c == '"') {
            at = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size())
            return false;
        switch (line[i]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'x':
            if (i + 2 >= line.size())
                return false;
            out += static_cast<char>(std::strtol(line.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
            break;
        default:
            return false;
        }
    }
    return false;
}

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

const Control &Dump::control(int id) const
{
    for (const Control &c : controls)
        if (c.id == id)
            return c;
    ADD_FAILURE() << "window " << handle << " has no control " << id;
    static const Control none;
    return none;
}

bool Dump::has(int id) const
{
    for (const Control &c : controls)
        if (c.id == id)
            return true;
    return false;
}

Program::Program(std::vector<std::string> argv, std::vector<std::pair<std::string, std::string>> env)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    std::vector<std::string> environment;
    for (char **e = environ; *e != nullptr; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = name == "NUV_UI";
        for (auto &[key, value] : env)
            replaced = replaced || key == name;
        if (!replaced)
            environment.push_back(entry);
    }
    environment.push_back("NUV_UI=script");
    for (auto &[key, value] : env)
        environment.push_back(key + "=" + value);
    std::vector<char *> args, envp;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (std::string &e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execve(args[0], args.data(), envp.data());
        std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return;
    }
    out_reader_ = std::thread(&Program::read_output, this);
    err_reader_ = std::thread(&Program::read_errors, this);
}

Program::~Program()
{
    if (pid_ > 0 && !reap(Limit(0))) {
        kill(pid_, SIGKILL);
        reap(Limit(5000));
    }
    if (in_fd_ >= 0)
        close(in_fd_);
    if (out_reader_.joinable())
        out_reader_.join();
    if (err_reader_.joinable())
        err_reader_.join();
    if (out_fd_ >= 0)
        close(out_fd_);
    if (err_fd_ >= 0)
        close(err_fd_);
}

void Program::read_output()
{
    std::string pending;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(out_fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; i++) {
            if (chunk[i] != '\n') {
                pending += chunk[i];
                continue;
            }
            take_line(pending);
            pending.clear();
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    out_closed_ = true;
    changed_.notify_all();
}

void Program::read_errors()
{
    char chunk[4096];
    for (;;) {
        ssize_t n = read(err_fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        std::lock_guard<std::mutex> guard(lock_);
        stderr_.append(chunk, static_cast<size_t>(n));
    }
}

void Program::take_line(const std::string &line)
{
    std::lock_guard<std::mutex> guard(lock_);
    transcript_ += line + "\n";
    if (starts_with(line, "error ")) {
        errors_.push_back(line);
        answers_.push_back(line);
    } else if (starts_with(line, "caption ") || starts_with(line, "control ") ||
               starts_with(line, "end ")) {
        answers_.push_back(line);
    } else {
        Event e = parse_event(line);
        if (!e)
            errors_.push_back("unreadable line from the program: " + line);
        else {
            if (e.kind == Event::Kind::exit)
                announced_exit_ = e.code;
            events_.push_back(e);
        }
    }
    changed_.notify_all();
}

Event Program::next(Limit limit)
{
    return wait_for([](const Event &) { return true; }, "any event", limit);
}

Event Program::wait_for(const std::function<bool(const Event &)> &match, const std::string &what,
                        Limit limit)
{
    std::unique_lock<std::mutex> guard(lock_);
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (auto it = events_.begin(); it != events_.end(); ++it) {
            if (match(*it)) {
                Event e = *it;
                events_.erase(it);
                return e;
            }
        }
        if (out_closed_ || changed_.wait_until(guard, deadline) == std::cv_status::timeout) {
            if (!out_closed_ && std::chrono::steady_clock::now() < deadline)
                continue;
            // One last look: the line may have come with the close.
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (match(*it)) {
                    Event e = *it;
                    events_.erase(it);
                    return e;
                }
            }
            ADD_FAILURE() << describe(what, transcript_, stderr_);
            return Event{};
        }
    }
}

bool Program::queued(const std::function<bool(const Event &)> &match)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const Event &e : events_)
        if (match(e))
            return true;
    return false;
}

Event Program::wait_open(int template_id, Limit limit)
{
    return wait_for(
        [&](const Event &e) { return e.kind == Event::Kind::open && e.template_id == template_id; },
        "dialog " + std::to_string(template_id) + " to open", limit);
}

Event Program::wait_close(long handle, Limit limit)
{
    return wait_for([&](const Event &e) { return e.kind == Event::Kind::close && e.handle == handle; },
                    "window " + std::to_string(handle) + " to close", limit);
}

Event Program::wait_msgbox(Limit limit)
{
    return wait_for([](const Event &e) { return e.kind == Event::Kind::msgbox; }, "a message box",
                    limit);
}

bool Program::reap(Limit limit)
{
    if (exited_)
        return true;
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (WIFSIGNALED(status))
                stderr_ += "\n[killed by signal " + std::to_string(WTERMSIG(status)) + "]\n";
            return true;
        }
        if (r < 0 || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int Program::wait_exit(Limit limit)
{
    if (!reap(limit)) {
        std::lock_guard<std::mutex> guard(lock_);
        ADD_FAILURE() << describe("the program to end", transcript_, stderr_);
        return -1;
    }
    // The announcement comes before the end; let the reader catch up.
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, std::chrono::seconds(5), [&] { return out_closed_; });
    if (status_ < 0)
        ADD_FAILURE() << "the program did not end normally\n" << stderr_;
    else if (announced_exit_ < 0)
        ADD_FAILURE() << "the program ended with " << status_ << " without announcing it\n"
                      << transcript_;
    else if (announced_exit_ != status_)
        ADD_FAILURE() << "the program announced exit " << announced_exit_ << " but ended with "
                      << status_;
    return status_;
}

bool Program::running() { return !reap(Limit(0)); }

Dump Program::dump(long handle, Limit limit)
{
    send("dump " + std::to_string(handle));
    Dump d;
    d.handle = handle;
    std::string h = std::to_string(handle);
    std::string own_error = "error \"dump " + h + ":";
    std::unique_lock<std::mutex> guard(lock_);
    auto deadline = std::chrono::steady_clock::now() + limit;
    bool started = false;
    for (;;) {
        while (!answers_.empty()) {
            std::string line = answers_.front();
            answers_.pop_front();
            if (starts_with(line, own_error)) {
                d.error = line;
                auto it = std::find(errors_.begin(), errors_.end(), line);
                if (it != errors_.end())
                    errors_.erase(it);
                return d;
            }
            if (starts_with(line, "caption " + h + " ")) {
                started = true;
                size_t at = 9 + h.size();
                unquote(line, at, d.caption);
            } else if (started && starts_with(line, "control " + h + " ")) {
                Control c;
                if (!parse_control(line, c))
                    ADD_FAILURE() << "unreadable control line: " << line;
                d.controls.push_back(c);
            } else if (started && line == "end " + h) {
                return d;
            }
        }
        if (out_closed_ || changed_.wait_until(guard, deadline) == std::cv_status::timeout) {
            if (!out_closed_ && std::chrono::steady_clock::now() < deadline)
                continue;
            ADD_FAILURE() << describe("the dump of " + h, transcript_, stderr_);
            d.error = "no answer";
            return d;
        }
    }
}

void Program::send(const std::string &line)
{
    std::string data = line + "\n";
    const char *p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = write(in_fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the program has gone; its end shows in wait_exit
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void Program::click(long handle, int id) { send("click " + std::to_string(handle) + " " + std::to_string(id)); }

void Program::type(long handle, int id, const std::string &text)
{
    send("type " + std::to_string(handle) + " " + std::to_string(id) + " " + quote(text));
}

void Program::select(long handle, int id, int index)
{
    send("select " + std::to_string(handle) + " " + std::to_string(id) + " " + std::to_string(index));
}

void Program::key(long handle, const std::string &key) { send("key " + std::to_string(handle) + " " + key); }

void Program::press(long handle, int id) { send("press " + std::to_string(handle) + " " + std::to_string(id)); }

std::vector<std::string> Program::errors()
{
    std::lock_guard<std::mutex> guard(lock_);
    return errors_;
}

std::string Program::error_output()
{
    std::lock_guard<std::mutex> guard(lock_);
    return stderr_;
}

std::string Program::transcript()
{
    std::lock_guard<std::mutex> guard(lock_);
    return transcript_;
}

} // namespace driver
