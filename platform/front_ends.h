// platform/front_ends.h: the front ends a native program can run under.
#pragma once

// The automation protocol: commands on `input`, events and answers on
// `output`, one line each. Installs itself and starts reading at once.
void start_script_front_end(int input_fd, int output_fd);
