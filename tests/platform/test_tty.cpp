// tests/platform/test_tty.cpp: whole upgrades of the simulated device by a
// person at a terminal: nuv-upgrade under the terminal front end inside a
// tmux server of the test's own, driven by keys, its screens read back as
// text.
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/sim_process.h"

namespace {

using simtest::Simulator;

constexpr int kScreenMs = 10000;   // a screen appears within this
constexpr int kUpgradeMs = 60000;  // the delivery and the flash wait, scaled

std::string file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string work_path(const std::string &name) { return std::string(TTY_WORK) + "/" + name; }

// Runs a command without a shell; its standard output, and its status.
std::string run(const std::vector<std::string> &argv, int *status = nullptr)
{
    int out[2];
    if (::pipe(out) != 0)
        return "";
    pid_t pid = ::fork();
    if (pid == 0) {
        // tmux's complaints once the program has ended its session are noise.
        int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDERR_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(n));
    ::close(out[0]);
    int st = -1;
    ::waitpid(pid, &st, 0);
    if (status != nullptr)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return text;
}

// A tmux server of the test's own with one 80 by 24 window running the
// program; the server goes with the object, also when a check fails.
class Terminal {
public:
    Terminal(const std::string &label, const std::string &pc_address)
        : socket_("nuv-tty-" + std::to_string(::getpid()) + "-" + label),
          status_file_(work_path(label + ".status"))
    {
        std::remove(status_file_.c_str());
        // The flash wait of 30 s runs 100 times faster.
        std::string command = "env NUV_UI=tty NUV_HOST_ADDRESSES=" + pc_address +
                              " NUV_CLOCK_SCALE=100 '" NUV_UPGRADE "'; echo $? > '" +
                              status_file_ + "'";
        int status = -1;
        run({"tmux", "-L", socket_, "-f", "/dev/null", "new-session", "-d", "-x", "80", "-y",
             "24", command},
            &status);
        started_ = status == 0;
    }
    ~Terminal() { run({"tmux", "-L", socket_, "kill-server"}); }

    bool started() const { return started_; }

    // tmux key names: "Tab", "BTab", "Enter", "Escape", "Space", "Down".
    void keys(const std::vector<std::string> &names)
    {
        std::vector<std::string> argv = {"tmux", "-L", socket_, "send-keys"};
        argv.insert(argv.end(), names.begin(), names.end());
        run(argv);
    }
    void type(const std::string &text) { run({"tmux", "-L", socket_, "send-keys", "-l", text}); }
    std::string screen() { return run({"tmux", "-L", socket_, "capture-pane", "-p"}); }
    std::string cursor()
    {
        return run({"tmux", "-L", socket_, "display-message", "-p", "#{cursor_x},#{cursor_y}"});
    }

    // The screen once it holds `text`; the last screen seen when it never
    // did within `limit_ms`.
    std::string wait_for(const std::string &text, int limit_ms = kScreenMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        std::string shown;
        do {
            shown = screen();
            if (shown.find(text) != std::string::npos)
                return shown;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < end);
        ADD_FAILURE() << "the screen never showed \"" << text << "\"; it shows:\n" << shown;
        return shown;
    }

    // The program's exit status, -1 if it has not ended within `limit_ms`.
    int wait_exit(int limit_ms = kScreenMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        do {
            std::string text = file_bytes(status_file_);
            if (!text.empty() && text.back() == '\n')
                return std::stoi(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    }

private:
    std::string socket_, status_file_;
    bool started_ = false;
};

// The simulated device on port 80 of its own loopback address.
std::unique_ptr<Simulator> device(const std::string &address, const std::string &label,
                                  std::vector<std::string> extra)
{
    std::string image = work_path(label + ".image");
    std::remove(image.c_str());
    std::vector<std::string> args = {"--port", "80", "--flash-seconds", "0.1", "--fetch-delay-ms",
                                     "50", "--image-out", image, "--product-name", "NUV-730",
                                     "--mac-address", "00:0E:08:12:34:56", "--software-version",
                                     "4.0.3(b)", "--hardware-version", "2.1", "--serial-number",
                                     "FM5000123456"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<Simulator>(address, args, work_path(label + ".log"));
}

// The rows of the screen, for checks on where things are.
std::vector<std::string> rows_of(const std::string &screen)
{
    std::vector<std::string> rows(1);
    for (char c : screen) {
        if (c == '\n')
            rows.emplace_back();
        else
            rows.back() += c;
    }
    return rows;
}

const char *const kWarningLines[] = {
    "WARNING: Forcing a firmware upgrade on your NUV",
    "without prior approval from your service provider or",
    "network administrator may cause interruption to your",
    "service.  If your NUV is managed by a service",
    "provider who retains administrative control of the",
    "device, please contact the service provider for",
    "authorization before proceeding.  In such cases, the",
    "most current, approved for service firmware is",
    "automatically provided by your service provider without",
    "any onus on the end user to upgrade manually.",
};

// Each device text in its field, on one row with its label.
struct Labelled {
    const char *label, *field;
};
constexpr Labelled kConfirmRows[] = {
    {"Serial Number", "[FM5000123456 "}, {"MAC Address", "[00:0E:08:12:34:56]"},
    {"Software Version", "[4.0.3(b) "},   {"Hardware Version", "[2.1 "},
    {"Product Name", "[NUV-730 "},
};

const char *const kConfirmLines[] = {
    "The following information was extracted", "from your NUV. Please click \"Upgrade\"",
    "if you would like to proceed. If you would", "like to quit click \"Cancel\".",
};

// True when a row shows `label`, then only blanks, then `field`.
bool on_one_row(const std::string &screen, const Labelled &l)
{
    for (const std::string &row : rows_of(screen)) {
        size_t at = row.find(l.label);
        if (at == std::string::npos)
            continue;
        size_t next = row.find_first_not_of(' ', at + std::string(l.label).size());
        if (next != std::string::npos && row.compare(next, std::string(l.field).size(), l.field) == 0)
            return true;
    }
    return false;
}

void expect_lines(const std::string &screen, const char *const *lines, size_t count)
{
    for (size_t i = 0; i < count; i++)
        EXPECT_NE(screen.find(lines[i]), std::string::npos) << lines[i] << "\nin:\n" << screen;
}

TEST(TtyFrontEnd, KeysTakeAPersonThroughAWholeUpgrade)
{
    auto sim = device("127.0.70.2", "release", {});
    Terminal t("release", "127.0.70.1");
    ASSERT_TRUE(t.started()) << "tmux did not start";

    std::string warning = t.wait_for("any onus on the end user");
    expect_lines(warning, kWarningLines, std::size(kWarningLines));
    EXPECT_NE(warning.find(" NUV-730/720 Firmware Upgrade"), std::string::npos) << warning;
    // Cancel is the default and has the focus: Tab moves it to Continue.
    EXPECT_NE(warning.find("<Cancel>"), std::string::npos) << warning;
    EXPECT_EQ(rows_of(warning).size(), 25u) << "an 80 by 24 screen and the last newline";
    t.keys({"Tab", "Enter"});

    std::string address = t.wait_for("Version 4.1.12(a)");
    EXPECT_NE(address.find(" NUV-730/720 Firmware Upgrade"), std::string::npos) << address;
    EXPECT_NE(address.find("This program will upgrade your NUV"), std::string::npos) << address;
    EXPECT_NE(address.find("Please enter IP address of your NUV:"), std::string::npos) << address;
    EXPECT_TRUE(on_one_row(address, {"Your IP Address", "[127.0.70.1 "})) << address;
    // The address field has the focus; it takes digits and dots, not letters.
    t.type("x127.0.70.2");
    std::string typed = t.wait_for("[127.0.70.2 ");
    EXPECT_EQ(typed.find("x127"), std::string::npos) << typed;
    t.keys({"Enter"});

    std::string confirm = t.wait_for("Confirm Upgrade to Ver. 4.1.12(a)");
    confirm = t.wait_for("[NUV-730 ");
    expect_lines(confirm, kConfirmLines, std::size(kConfirmLines));
    for (const Labelled &l : kConfirmRows)
        EXPECT_TRUE(on_one_row(confirm, l)) << l.label << " " << l.field << "\nin:\n" << confirm;
    EXPECT_NE(confirm.find("<Upgrade>"), std::string::npos) << confirm;
    t.keys({"Enter"});

    std::string success = t.wait_for("NUV@127.0.70.2 Upgrade Successful!", kUpgradeMs);
    success = t.wait_for("4.1.12(a)");
    EXPECT_NE(success.find("<OK>"), std::string::npos) << success;
    t.keys({"Enter"});
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(file_bytes(work_path("release.image")), file_bytes(NUV_RELEASE_IMAGE))
        << "the device holds the image byte for byte";
}

// The password screen is taller than the screen: it is squeezed and its
// notice scrolls; the password shows as stars; Escape on the confirm
// screen aborts with a message box in the middle of the screen.
TEST(TtyFrontEnd, PasswordIsMaskedAndEscapeAborts)
{
    auto sim = device("127.0.70.4", "password", {"--password", "s3cret"});
    Terminal t("password", "127.0.70.3");
    ASSERT_TRUE(t.started()) << "tmux did not start";

    t.wait_for("any onus on the end user");
    t.keys({"BTab", "Space"});  // Continue, by Shift-Tab and Space
    t.wait_for("Version 4.1.12(a)");
    t.type("127.0.70.4");
    t.wait_for("[127.0.70.4 ");
    t.keys({"Enter"});

    std::string password = t.wait_for("Password [");
    EXPECT_NE(password.find("This NUV requires a password in order to be"), std::string::npos)
        << password;
    EXPECT_EQ(password.find("information."), std::string::npos) << "the notice's end is below";
    EXPECT_EQ(rows_of(password).size(), 25u);
    t.type("s3cret");
    password = t.wait_for("[******  ");
    EXPECT_EQ(password.find("s3cret"), std::string::npos) << password;
    // Tab to the notice; the arrows scroll it to its end.
    t.keys({"Tab"});
    for (int i = 0; i < 12; i++)
        t.keys({"Down"});
    std::string scrolled = t.wait_for("information.");
    EXPECT_EQ(scrolled.find("This NUV requires a password"), std::string::npos) << scrolled;
    EXPECT_NE(scrolled.find("[******  "), std::string::npos) << "the fields stay" << scrolled;
    t.keys({"Enter"});  // the default button, from the notice

    t.wait_for("[NUV-730 ");
    t.keys({"Escape"});
    std::string box = t.wait_for("Upgrade Failed: User Abort");
    EXPECT_NE(box.find("NUV Firwmare Upgrade Error"), std::string::npos) << box;
    for (const std::string &row : rows_of(box)) {
        size_t at = row.find("Upgrade Failed: User Abort");
        if (at == std::string::npos)
            continue;
        size_t left = row.find('|'), right = row.rfind('|');
        ASSERT_NE(left, std::string::npos) << row;
        EXPECT_LE(std::max(left, 80 - right - 1) - std::min(left, 80 - right - 1), 1u)
            << "the box is in the middle: " << row;
    }
    t.keys({"Enter"});
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_TRUE(file_bytes(work_path("password.image")).empty()) << "nothing was delivered";
}

} // namespace
