// tests/platform/kernel_test_support.cpp: POSIX helpers for the kernel and socket tests.
#include "kernel_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::vector<std::string> changed_environment(const std::vector<EnvChange> &changes) {
    std::vector<std::string> result;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        std::string key = text.substr(0, text.find('='));
        bool replaced = false;
        for (const EnvChange &change : changes)
            replaced = replaced || change.first == key;
        if (!replaced)
            result.push_back(text);
    }
    for (const EnvChange &change : changes)
        if (change.second)
            result.push_back(change.first + "=" + *change.second);
    return result;
}

std::vector<char *> pointers_to(std::vector<std::string> &texts) {
    std::vector<char *> result;
    for (std::string &text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

ChildResult run_child(const std::string &program, const std::vector<std::string> &arguments,
                      const std::vector<EnvChange> &changes, int time_limit_ms) {
    ChildResult result;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    std::vector<std::string> argv_texts{program};
    argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env_texts = changed_environment(changes);
    std::vector<char *> argv = pointers_to(argv_texts);
    std::vector<char *> envp = pointers_to(env_texts);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) {
        result.error = "posix_spawn " + program + ": " + std::strerror(spawned);
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }
    result.started = true;

    // Read both outputs until the child closes them or the time is up.
    auto deadline = Clock::now() + std::chrono::milliseconds(time_limit_ms);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        int left = remaining_ms(deadline);
        if (left == 0) {
            result.timed_out = true;
            break;
        }
        int ready = poll(fds, 2, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;  // time-out: checked at the top
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    if (result.timed_out)
        kill(pid, SIGKILL);
    for (pollfd &fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    // A child that closed its outputs early may still be running: give it
    // what is left of the time, then kill it.
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            break;
        if (remaining_ms(deadline) == 0 && !result.timed_out) {
            result.timed_out = true;
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

int peer_listen(const char *dotted, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, dotted, &address.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int peer_accept(int listener, int time_limit_ms) {
    pollfd waiting{listener, POLLIN, 0};
    if (poll(&waiting, 1, time_limit_ms) != 1)
        return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

bool peer_read_until(int fd, const std::string &terminator, std::string *got,
                     int time_limit_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(time_limit_ms);
    while (got->find(terminator) == std::string::npos) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, remaining_ms(deadline)) != 1)
            return false;
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        got->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool peer_write_all(int fd, const std::string &data, size_t chunk) {
    size_t sent = 0;
    while (sent < data.size()) {
        size_t size = data.size() - sent < chunk ? data.size() - sent : chunk;
        ssize_t n = send(fd, data.data() + sent, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void peer_close(int fd) {
    if (fd >= 0)
        close(fd);
}

int descriptor_close_on_exec(int fd) {
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0)
        return -1;
    return (flags & FD_CLOEXEC) != 0 ? 1 : 0;
}

bool descriptor_open(int fd) {
    return fcntl(fd, F_GETFD) >= 0;
}

bool make_pipe(int *read_end, int *write_end) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    *read_end = ends[0];
    *write_end = ends[1];
    return true;
}

void close_descriptor(int fd) {
    close(fd);
}
