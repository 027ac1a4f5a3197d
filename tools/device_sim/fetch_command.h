// tools/device_sim/fetch_command.h: fetching the image with an outside command instead of the built-in client.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

// Why a --tftp-command template cannot be used, or nullptr when it can:
// it needs {file}, knows only {address} {port} {name} {file}, and must
// name a program.
const char *check_command_template(const std::string &text);

// The template split at blanks, each placeholder replaced. No shell sees
// the words, so a name off the wire cannot become a command.
std::vector<std::string> expand_command(const std::string &text, const std::string &address, long port,
                                        const std::string &name, const std::string &file);

struct CommandRun {
    pid_t pid = -1;            // -1: none running
    std::string file;          // where the command leaves the image
    std::chrono::steady_clock::time_point deadline;
};

// Starts the command with stdout sent to stderr (the simulator's stdout is
// its ready line). False, with `why`, when it cannot be started.
bool start_command(CommandRun &run, const std::vector<std::string> &words, std::string &why);
// Checks without waiting; true once the command has ended, with its exit
// status in `status` (128 + signal for a signal, -1 when it was killed for
// overrunning its deadline).
bool command_ended(CommandRun &run, int &status);
// Ends a command that is still running (the simulator is stopping).
void stop_command(CommandRun &run);

} // namespace sim
