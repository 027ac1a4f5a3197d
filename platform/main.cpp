// platform/main.cpp: the native process entry: picks the front end, then
// runs the system's WinMain and ends the process with its result.
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/front_ends.h"
#include "platform/win32.h"

namespace {

// Windows hands a program its module's load address; any fixed non-null
// value serves the same purpose here.
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));

// NUV_UI names the front end; without it a person at a terminal gets the
// terminal front end and anything else (a pipe, a test) the protocol.
bool start_front_end()
{
    const char *ui = std::getenv("NUV_UI");
    bool unset = ui == nullptr || ui[0] == '\0';
    bool tty = unset ? isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) : std::strcmp(ui, "tty") == 0;
    if (tty) {
        std::string why;
        if (start_tty_front_end(why))
            return true;
        std::fprintf(stderr, "nuv-upgrade: the terminal front end cannot start: %s "
                             "(NUV_UI=script gives the automation protocol)\n", why.c_str());
        return false;
    }
    if (unset || std::strcmp(ui, "script") == 0) {
        start_script_front_end(STDIN_FILENO, STDOUT_FILENO);
        return true;
    }
    std::fprintf(stderr, "NUV_UI=%s: there is no such front end (this build has: tty, script)\n", ui);
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    // A peer that goes away must show up as an error from a call, not kill
    // the process: Windows has no SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (!start_front_end())
        return 2;
    std::string command_line;
    for (int i = 1; i < argc; i++) {
        if (i > 1)
            command_line += ' ';
        command_line += argv[i];
    }
    int result = WinMain(kInstance, nullptr, command_line.data(), SW_SHOWNORMAL);
    ExitProcess(static_cast<UINT>(result));
}
