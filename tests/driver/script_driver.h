// tests/driver/script_driver.h: runs a native program under the script
// front end and drives it as a person would, for end-to-end tests.
//
//   driver::Program p({build_dir + "/nuv-upgrade"}, {{"NUV_HOST_ADDRESSES", "127.0.4.1"}});
//   driver::Event warning = p.wait_open(139);
//   driver::Dump d = p.dump(warning.handle);
//   EXPECT_EQ(d.caption, "NUV-730/720 Firmware Upgrade");
//   p.click(warning.handle, 2);
//   EXPECT_EQ(p.wait_exit(), 0);
//   EXPECT_TRUE(p.errors().empty());
//
// Events are kept in arrival order; the wait_* calls take the first event
// that matches and leave the others queued, so screens that appear side by
// side (a waiting screen and a connecting screen) can be met in any order.
// Every wait has a time limit; on a timeout the test fails with what the
// program printed so far.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace driver {

using Limit = std::chrono::milliseconds;
constexpr Limit kDefaultLimit{10000};

struct Event {
    enum class Kind { none, open, close, msgbox, exit } kind = Kind::none;
    long handle = 0;
    int template_id = 0;      // open
    unsigned style = 0;       // msgbox
    std::string caption;      // msgbox
    std::string text;         // msgbox
    int code = -1;            // exit
    std::string line;         // as received

    explicit operator bool() const { return kind != Kind::none; }
};

struct Control {
    int id = 0;
    std::string window_class;
    std::string text;
    bool focus = false;
    bool has_range = false;
    int range_low = 0, range_high = 0, position = 0;
    bool has_items = false;
    std::vector<std::string> items;
    int selection = -1;
};

struct Dump {
    long handle = 0;
    std::string caption;
    std::vector<Control> controls;
    std::string error;  // the program's answer when the dump was refused

    // The control with this id; a test failure and an empty control if none.
    const Control &control(int id) const;
    bool has(int id) const;
};

// Parses one quoted text of the protocol starting at `at`; returns false
// on a malformed one.
bool unquote(const std::string &line, size_t &at, std::string &out);
std::string quote(const std::string &text);

class Program {
public:
    // Starts argv[0] with the environment of the test plus `env`, and
    // NUV_UI=script.
    Program(std::vector<std::string> argv,
            std::vector<std::pair<std::string, std::string>> env = {});
    ~Program();  // kills the program if it still runs
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // The next event, whatever it is; an empty event on a timeout.
    Event next(Limit limit = kDefaultLimit);
    // The first queued or coming event that `match` accepts.
    Event wait_for(const std::function<bool(const Event &)> &match, const std::string &what,
                   Limit limit = kDefaultLimit);
    // Whether an event that `match` accepts has come and not been taken;
    // waits for nothing.
    bool queued(const std::function<bool(const Event &)> &match);
    Event wait_open(int template_id, Limit limit = kDefaultLimit);
    Event wait_close(long handle, Limit limit = kDefaultLimit);
    Event wait_msgbox(Limit limit = kDefaultLimit);
    // Waits for the process to end; returns its exit status (-1 on a
    // timeout or a death by signal, which fail the test). Also checks that
    // the program announced the same status.
    int wait_exit(Limit limit = kDefaultLimit);
    // True while the process runs.
    bool running();

    Dump dump(long handle, Limit limit = kDefaultLimit);
    void click(long handle, int id);
    void type(long handle, int id, const std::string &text);
    void select(long handle, int id, int index);
    void key(long handle, const std::string &key);
    void press(long handle, int id);
    void send(const std::string &line);

    // The error lines the program wrote for commands, in order.
    std::vector<std::string> errors();
    // Everything the program wrote to standard error so far.
    std::string error_output();
    // Everything it wrote to standard output so far, for failure messages.
    std::string transcript();
    int pid() const { return pid_; }

private:
    void read_output();
    void read_errors();
    void take_line(const std::string &line);
    bool reap(Limit limit);

    int pid_ = -1;
    int in_fd_ = -1, out_fd_ = -1, err_fd_ = -1;
    std::thread out_reader_, err_reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    std::deque<std::string> answers_;  // caption/control/end/error lines
    std::vector<std::string> errors_;
    std::string transcript_;
    std::string stderr_;
    bool out_closed_ = false;
    bool exited_ = false;
    int status_ = -1;
    int announced_exit_ = -1;
};

} // namespace driver
