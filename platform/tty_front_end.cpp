// platform/tty_front_end.cpp: the terminal front end for people: draws
// every visible dialog and message box full-screen with ncurses and turns
// keys into a person's input, with the keys of Windows dialogs.
//
// One thread owns the terminal: the core's callbacks, which come on any
// thread, only wake it. Every terminal call is made under one lock, so the
// end of the process can put the terminal back the way it was.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

#include <curses.h>

#include "platform/front_ends.h"
#include "platform/tty_layout.h"
#include "platform/window_core.h"

namespace {

constexpr int kPollMs = 250;      // a resize shows within this time at worst
constexpr int kFrameGapMs = 30;   // a busy progress bar redraws at most this often
constexpr int kCtrlC = 3, kCtrlL = 12, kCtrlU = 21, kEscape = 27, kDelete = 127;

enum Pair : short { kDesktop = 1, kWindow, kTitle, kTitleInactive, kButton, kFocus, kField, kBar };

int wake_fds[2] = {-1, -1};
std::atomic<bool> wake_pending{false};
std::atomic<int> stop_signal{0};

void wake()
{
    if (wake_pending.exchange(true))
        return;
    char byte = 1;
    while (::write(wake_fds[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

void on_stop_signal(int signal)
{
    stop_signal.store(signal);
    char byte = 2;
    ssize_t ignored = ::write(wake_fds[1], &byte, 1);  // async-signal-safe
    (void)ignored;
}

// What a person is typing into one field. Typing replaces a field's whole
// text, so the front end keeps the text it has sent: keys typed faster
// than the owning thread pumps then still add up.
struct Typing {
    HWND dialog = nullptr;
    int id = 0;
    std::string text;
};

class TtyFrontEnd : public FrontEnd {
public:
    bool start()
    {
        std::lock_guard<std::mutex> guard(screen_lock_);
        screen_ = newterm(nullptr, stdout, stdin);
        if (screen_ == nullptr)
            return false;
        raw();  // Ctrl-C is read as a key, so the terminal is put back first
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        set_escdelay(25);
        nodelay(stdscr, TRUE);
        colours_ = has_colors() && start_color() == OK;
        if (colours_)
            set_up_colours();
        return true;
    }

    void opened(HWND, int) override { forget_typing(); wake(); }
    void closed(HWND) override { forget_typing(); wake(); }
    void message_box(HWND, UINT, const std::string &, const std::string &) override
    {
        forget_typing();
        wake();
    }
    void changed() override { wake(); }
    void exiting(UINT) override { restore_terminal(); }

    void run();

private:
    void set_up_colours();
    void forget_typing()
    {
        std::lock_guard<std::mutex> guard(typing_lock_);
        typing_ = Typing{};
    }
    void restore_terminal()
    {
        std::lock_guard<std::mutex> guard(screen_lock_);
        if (ended_)
            return;
        ended_ = true;
        endwin();
    }
    int attributes(tty::Look look) const;
    void draw();
    void draw_frame(const tty::Frame &frame, bool active);
    void key(int ch);
    void dialog_key(HWND window, const WindowView &view, int ch);
    void box_key(HWND window, const WindowView &view, int ch);
    bool list_key(HWND window, const ControlView &list, int ch);
    void type_key(HWND window, const ControlView &field, int ch);
    void scroll_text(HWND window, int id, int by);
    HWND active_window() const;
    void move_focus(HWND window, const ControlView *from, InputKey key);
    void settle_focus();
    void refuse() { beep(); }

    SCREEN *screen_ = nullptr;
    std::mutex screen_lock_;  // every curses call
    bool ended_ = false;
    bool colours_ = false;
    std::map<HWND, tty::ViewState> states_;
    std::map<HWND, tty::Frame> frames_;  // as last drawn
    std::mutex typing_lock_;
    Typing typing_;
    // A focus move posted and not yet seen: keys typed right after it must
    // reach the control that gets the focus, not the one that had it.
    HWND moving_window_ = nullptr;
    int moving_from_ = 0;
};

int focused_id(const WindowView &view)
{
    for (const ControlView &c : view.controls)
        if (c.focused)
            return c.id;
    return 0;
}

void TtyFrontEnd::move_focus(HWND window, const ControlView *from, InputKey key)
{
    forget_typing();
    if (input_key(window, key).empty()) {
        moving_window_ = window;
        moving_from_ = from != nullptr ? from->id : 0;
    }
}

void TtyFrontEnd::settle_focus()
{
    if (moving_window_ == nullptr)
        return;
    constexpr int kSettleMs = 300;  // the owning thread pumps far more often
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
    WindowView view;
    while (view_window(moving_window_, view) && focused_id(view) == moving_from_ &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    moving_window_ = nullptr;
}

void TtyFrontEnd::set_up_colours()
{
    use_default_colors();
    init_pair(kDesktop, COLOR_WHITE, COLOR_BLUE);
    init_pair(kWindow, COLOR_BLACK, COLOR_WHITE);
    init_pair(kTitle, COLOR_WHITE, COLOR_BLUE);
    init_pair(kTitleInactive, COLOR_BLACK, COLOR_CYAN);
    init_pair(kButton, COLOR_BLACK, COLOR_WHITE);
    init_pair(kFocus, COLOR_WHITE, COLOR_RED);
    init_pair(kField, COLOR_BLACK, COLOR_CYAN);
    init_pair(kBar, COLOR_WHITE, COLOR_BLUE);
}

// Without colours the looks fall back to attributes every terminal has.
int TtyFrontEnd::attributes(tty::Look look) const
{
    using tty::Look;
    if (colours_) {
        switch (look) {
        case Look::title: return COLOR_PAIR(kTitle) | A_BOLD;
        case Look::title_inactive: return COLOR_PAIR(kTitleInactive);
        case Look::field: return COLOR_PAIR(kField);
        case Look::button: return COLOR_PAIR(kButton);
        case Look::focused: return COLOR_PAIR(kFocus) | A_BOLD;
        case Look::bar: return COLOR_PAIR(kBar);
        case Look::mark: return COLOR_PAIR(kWindow) | A_BOLD;
        case Look::plain: return COLOR_PAIR(kWindow);
        }
    }
    switch (look) {
    case Look::title: return A_REVERSE | A_BOLD;
    case Look::title_inactive: return A_REVERSE;
    case Look::field: return A_UNDERLINE;
    case Look::focused: return A_REVERSE;
    case Look::mark: return A_BOLD;
    default: return A_NORMAL;
    }
}

HWND TtyFrontEnd::active_window() const
{
    std::vector<HWND> windows = visible_windows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        WindowView view;
        if (view_window(*it, view) && view.enabled)
            return *it;
    }
    return nullptr;
}

void TtyFrontEnd::draw_frame(const tty::Frame &f, bool active)
{
    int plain = attributes(tty::Look::plain);
    attrset(plain);
    for (int r = 1; r < f.rows; r++)
        mvhline(f.top + r, f.left, ' ', f.cols);
    // Plain characters: the line-drawing set differs between terminals
    // and does not survive a copy of the screen as text.
    mvvline(f.top + 1, f.left, '|', f.rows - 2);
    mvvline(f.top + 1, f.left + f.cols - 1, '|', f.rows - 2);
    mvaddch(f.top + f.rows - 1, f.left, '+');
    mvhline(f.top + f.rows - 1, f.left + 1, '-', f.cols - 2);
    mvaddch(f.top + f.rows - 1, f.left + f.cols - 1, '+');
    for (const tty::Span &s : f.spans) {
        attrset(attributes(s.look));
        mvaddnstr(s.row, s.col, s.text.c_str(), std::max(0, COLS - s.col));
    }
    attrset(plain);
    (void)active;
}

void TtyFrontEnd::draw()
{
    if (ended_)
        return;
    std::vector<HWND> windows = visible_windows();
    HWND active = active_window();
    bkgdset(' ' | (colours_ ? COLOR_PAIR(kDesktop) : 0));
    erase();
    const char help[] = " Tab/Shift-Tab: move   Enter: OK   Space: press   Esc: cancel   "
                        "F4: open list";
    attrset(colours_ ? COLOR_PAIR(kDesktop) : A_NORMAL);
    mvaddnstr(LINES - 1, 0, help, COLS);
    std::map<HWND, tty::Frame> frames;
    const tty::Frame *top = nullptr;
    for (HWND w : windows) {
        WindowView view;
        if (!view_window(w, view))
            continue;
        tty::Frame f = tty::lay_out(view, states_[w], w == active, LINES, COLS);
        draw_frame(f, w == active);
        frames[w] = f;
        if (w == active)
            top = &frames[w];
    }
    // States of windows that are gone go with them.
    for (auto it = states_.begin(); it != states_.end();)
        it = frames.count(it->first) ? std::next(it) : states_.erase(it);
    if (top != nullptr && top->cursor_row >= 0) {
        move(top->cursor_row, top->cursor_col);
        curs_set(top->cursor_visible ? 1 : 0);
    } else {
        move(LINES - 1, 0);
        curs_set(0);
    }
    frames_ = std::move(frames);
    refresh();
}

void TtyFrontEnd::scroll_text(HWND window, int id, int by)
{
    auto f = frames_.find(window);
    int room = 0;
    if (f != frames_.end() && f->second.scroll_room.count(id))
        room = f->second.scroll_room.at(id);
    int &first = states_[window].scroll[id];
    int next = std::clamp(first + by, 0, room);
    if (next == first)
        refuse();
    first = next;
}

void TtyFrontEnd::type_key(HWND window, const ControlView &field, int ch)
{
    std::string text;
    {
        std::lock_guard<std::mutex> guard(typing_lock_);
        if (typing_.dialog != window || typing_.id != field.id)
            typing_ = Typing{window, field.id, field.text};
        text = typing_.text;
    }
    if (ch == KEY_BACKSPACE || ch == kDelete || ch == 8) {
        if (text.empty())
            return refuse();
        text.pop_back();
    } else if (ch == kCtrlU) {
        text.clear();
    } else {
        text += static_cast<char>(ch);
    }
    if (!input_type(window, field.id, text).empty())
        return refuse();  // a character the field does not take
    std::lock_guard<std::mutex> guard(typing_lock_);
    typing_ = Typing{window, field.id, text};
}

// Keys of an open pick list; true when the key was the list's.
bool TtyFrontEnd::list_key(HWND window, const ControlView &list, int ch)
{
    tty::ViewState &state = states_[window];
    int count = static_cast<int>(list.items.size());
    switch (ch) {
    case KEY_UP: state.pick_entry = std::max(0, state.pick_entry - 1); return true;
    case KEY_DOWN: state.pick_entry = std::min(count - 1, state.pick_entry + 1); return true;
    case '\r': case '\n': case KEY_ENTER: case ' ':
        if (state.pick_entry >= 0 && state.pick_entry < count)
            input_select(window, list.id, state.pick_entry);
        state.pick_list = 0;
        return true;
    case kEscape: case KEY_F(4):
        state.pick_list = 0;
        return true;
    default:
        state.pick_list = 0;
        return false;  // any other key closes the list and does its own work
    }
}

bool opens_list(int ch)
{
    if (ch == KEY_F(4) || ch == ' ')
        return true;
    const char *name = keyname(ch);
    return name != nullptr && std::strcmp(name, "kDN3") == 0;  // Alt-Down
}

void TtyFrontEnd::dialog_key(HWND window, const WindowView &view, int ch)
{
    const ControlView *focus = nullptr;
    for (const ControlView &c : view.controls)
        if (c.focused)
            focus = &c;
    std::string kind = focus != nullptr ? focus->window_class : "";
    for (char &c : kind)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool list = kind == "combobox";
    bool field = (kind == "edit" && !(focus->style & ES_READONLY)) || kind == "sysipaddress32";
    bool text = kind == "edit" && (focus->style & ES_MULTILINE) && (focus->style & ES_READONLY);
    tty::ViewState &state = states_[window];
    if (list && state.pick_list == focus->id && list_key(window, *focus, ch))
        return;
    switch (ch) {
    case '\t': move_focus(window, focus, InputKey::tab); return;
    case KEY_BTAB: move_focus(window, focus, InputKey::shift_tab); return;
    case '\r': case '\n': case KEY_ENTER: input_key(window, InputKey::enter); return;
    case kEscape: input_key(window, InputKey::escape); return;
    default: break;
    }
    if (list && opens_list(ch)) {
        state.pick_list = focus->id;
        state.pick_entry = std::max(0, focus->selection);
        return;
    }
    if (list && (ch == KEY_UP || ch == KEY_DOWN)) {
        input_key(window, ch == KEY_UP ? InputKey::up : InputKey::down);
        return;
    }
    if (text && (ch == KEY_UP || ch == KEY_DOWN || ch == KEY_PPAGE || ch == KEY_NPAGE)) {
        int page = std::max(1, focus->height / 8 - 1);
        scroll_text(window, focus->id, ch == KEY_UP ? -1 : ch == KEY_DOWN ? 1 : ch == KEY_PPAGE ? -page : page);
        return;
    }
    if (field && ((ch >= 0x20 && ch < 0x7F) || ch == KEY_BACKSPACE || ch == kDelete || ch == 8 ||
                  ch == kCtrlU))
        return type_key(window, *focus, ch);
    if (ch == ' ' && kind == "button") {
        input_key(window, InputKey::space);
        return;
    }
    refuse();
}

void TtyFrontEnd::box_key(HWND window, const WindowView &view, int ch)
{
    std::vector<int> buttons;
    for (const ControlView &c : view.controls)
        if (c.window_class == "Button")
            buttons.push_back(c.id);
    if (buttons.empty())
        return;
    int &at = states_[window].box_button;
    int count = static_cast<int>(buttons.size());
    at = std::clamp(at, 0, count - 1);
    switch (ch) {
    case '\t': case KEY_RIGHT: at = (at + 1) % count; return;
    case KEY_BTAB: case KEY_LEFT: at = (at + count - 1) % count; return;
    case '\r': case '\n': case KEY_ENTER: case ' ':
        input_press(window, buttons[static_cast<size_t>(at)]);
        return;
    case kEscape:
        input_key(window, InputKey::escape);
        return;
    default:
        refuse();
    }
}

void TtyFrontEnd::key(int ch)
{
    settle_focus();
    HWND window = active_window();
    WindowView view;
    if (window == nullptr || !view_window(window, view))
        return;
    if (view.message_box)
        box_key(window, view, ch);
    else
        dialog_key(window, view, ch);
}

void TtyFrontEnd::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point last_draw{};
    bool dirty = true;
    for (;;) {
        int wait = kPollMs;
        if (dirty) {
            auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_draw);
            wait = std::max(0, kFrameGapMs - static_cast<int>(since.count()));
        }
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fds[0], POLLIN, 0}};
        int n = ::poll(fds, 2, wait);
        if (n < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(wake_fds[0], drain, sizeof drain) > 0) {
            }
            wake_pending.store(false);
            dirty = true;
        }
        if (stop_signal.load() != 0) {
            restore_terminal();
            std::_Exit(128 + stop_signal.load());
        }
        std::unique_lock<std::mutex> guard(screen_lock_);
        if (ended_)
            return;
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            guard.unlock();
            restore_terminal();
            std::_Exit(1);  // the terminal has gone; nobody is left to answer
        }
        for (int ch = getch(); ch != ERR; ch = getch()) {
            if (ch == kCtrlC) {
                guard.unlock();
                restore_terminal();
                std::fputs("nuv-upgrade: interrupted\n", stderr);
                std::_Exit(130);
            }
            if (ch != KEY_RESIZE && ch != kCtrlL)
                key(ch);
            else if (ch == kCtrlL)
                clearok(curscr, TRUE);
            dirty = true;
        }
        auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_draw);
        // A quiet screen is still redrawn now and then, which also picks
        // up a resize whose signal went to another thread.
        if ((dirty && since.count() >= kFrameGapMs) || since.count() >= kPollMs) {
            draw();
            last_draw = Clock::now();
            dirty = false;
        }
    }
}

} // namespace

bool start_tty_front_end(std::string &why)
{
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        why = "standard input and output must be a terminal";
        return false;
    }
    if (::pipe(wake_fds) != 0) {
        why = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    for (int fd : wake_fds)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Lives as long as the process: callbacks may come until the very end.
    static TtyFrontEnd *front_end = new TtyFrontEnd;
    if (!front_end->start()) {
        const char *term = std::getenv("TERM");
        why = std::string("the terminal type \"") + (term != nullptr ? term : "") +
              "\" (TERM) is not known to this system";
        return false;
    }
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    install_front_end(front_end);
    std::thread([] { front_end->run(); }).detach();
    return true;
}
