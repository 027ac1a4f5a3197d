// tools/device_sim/fetch_command.cpp: fetching the image with an outside command instead of the built-in client.
#include "tools/device_sim/fetch_command.h"

#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace sim {

namespace {

constexpr const char *kPlaceholders[] = {"{address}", "{port}", "{name}", "{file}"};

std::vector<std::string> split_words(const std::string &text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// The placeholder that starts at `at`, or -1.
int placeholder_at(const std::string &word, size_t at) {
    for (int i = 0; i < 4; ++i)
        if (word.compare(at, std::strlen(kPlaceholders[i]), kPlaceholders[i]) == 0) return i;
    return -1;
}

} // namespace

const char *check_command_template(const std::string &text) {
    std::vector<std::string> words = split_words(text);
    if (words.empty()) return "must name a program";
    bool has_file = false;
    for (const std::string &word : words) {
        for (size_t at = word.find('{'); at != std::string::npos; at = word.find('{', at + 1)) {
            int kind = placeholder_at(word, at);
            if (kind < 0) return "knows only the placeholders {address} {port} {name} {file}";
            if (kind == 3) has_file = true;
        }
    }
    if (placeholder_at(words[0], 0) >= 0) return "must start with a program, not a placeholder";
    if (!has_file) return "needs {file}, where the command leaves the image";
    return nullptr;
}

std::vector<std::string> expand_command(const std::string &text, const std::string &address, long port,
                                        const std::string &name, const std::string &file) {
    const std::string values[4] = {address, std::to_string(port), name, file};
    std::vector<std::string> words = split_words(text);
    for (std::string &word : words) {
        std::string out;
        for (size_t at = 0; at < word.size();) {
            int kind = word[at] == '{' ? placeholder_at(word, at) : -1;
            if (kind < 0) {
                out += word[at++];
                continue;
            }
            out += values[kind];
            at += std::strlen(kPlaceholders[kind]);
        }
        word = out;
    }
    return words;
}

bool start_command(CommandRun &run, const std::vector<std::string> &words, std::string &why) {
    std::vector<std::string> copy = words;
    std::vector<char *> argv;
    for (std::string &w : copy) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    // The simulator ignores SIGPIPE for its own sockets; the command gets
    // the usual behaviour back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        why = std::string("cannot start '") + words[0] + "': " + std::strerror(error);
        return false;
    }
    run.pid = pid;
    return true;
}

bool command_ended(CommandRun &run, int &status) {
    if (run.pid <= 0) return false;
    int raw = 0;
    pid_t done = waitpid(run.pid, &raw, WNOHANG);
    if (done == run.pid) {
        run.pid = -1;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return true;
    }
    if (std::chrono::steady_clock::now() >= run.deadline) {
        stop_command(run);
        status = -1;
        return true;
    }
    return false;
}

void stop_command(CommandRun &run) {
    if (run.pid <= 0) return;
    kill(run.pid, SIGKILL);
    waitpid(run.pid, nullptr, 0);
    run.pid = -1;
}

} // namespace sim
