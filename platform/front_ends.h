// platform/front_ends.h: the front ends a native program can run under.
#pragma once

#include <string>

// The automation protocol: commands on `input`, events and answers on
// `output`, one line each. Installs itself and starts reading at once.
void start_script_front_end(int input_fd, int output_fd);

// The full-screen terminal front end on standard input and output, for
// people. False, with the reason in `why`, when it cannot start (not a
// terminal, an unknown terminal type); nothing is installed then.
bool start_tty_front_end(std::string &why);
