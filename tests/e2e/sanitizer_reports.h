// tests/e2e/sanitizer_reports.h: whether a program under test wrote a
// sanitizer report. A report from a child process need not change its exit
// status (a sanitizer without halt_on_error carries on), so the end-to-end
// tests read the program's standard error for one.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "tests/driver/script_driver.h"

namespace e2e {

// The first line of the first report in `text`, or "" when there is none.
inline std::string sanitizer_report(const std::string &text)
{
    static const char *const kMarks[] = {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer",
                                         "ERROR: LeakSanitizer", "runtime error:",
                                         "ThreadSanitizer:", "AddressSanitizer:"};
    for (const char *mark : kMarks) {
        size_t at = text.find(mark);
        if (at == std::string::npos)
            continue;
        size_t start = text.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        return text.substr(start, text.find('\n', at) - start);
    }
    return "";
}

// The program's standard error once it has stopped growing: after the
// program's end the driver may still be reading the last of it. Waits at
// most about a second.
inline std::string settled_error_output(driver::Program &program)
{
    std::string seen = program.error_output();
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string now = program.error_output();
        if (now == seen)
            break;
        seen = now;
    }
    return seen;
}

} // namespace e2e
