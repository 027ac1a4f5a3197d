// platform/kernel_hooks.h: what the kernel services let the layers above
// them hook into.
#pragma once

#include "platform/win32.h"

// Called by ExitProcess on the exiting thread just before the process
// ends, so a front end can report the status; null when no one listens.
extern void (*before_process_exit)(UINT exit_code);
