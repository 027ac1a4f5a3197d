// tests/platform/test_windows.cpp: dialogs, controls, message queues and
// message boxes of the native layer, in process.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/upgrade_context.h"
#include "platform/window_core.h"
#include "ui_test_ids.h"

extern const int32_t build_initial_target_mode = 1;

namespace {

using namespace std::chrono_literals;

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));

// Records what the core reports, and lets a test wait for it.
class Recorder : public FrontEnd {
public:
    void opened(HWND dialog, int template_id) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        opened_.push_back({dialog, template_id});
        changed_.notify_all();
    }
    void closed(HWND window) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_.push_back(window);
        changed_.notify_all();
    }
    void message_box(HWND box, UINT style, const std::string &caption, const std::string &text) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        boxes_.push_back({box, style, caption, text});
        changed_.notify_all();
    }
    void exiting(UINT) override {}

    // The next dialog of this template to open (each is taken once).
    HWND wait_opened(int template_id)
    {
        std::unique_lock<std::mutex> guard(lock_);
        HWND found = nullptr;
        changed_.wait_for(guard, 5s, [&] {
            for (auto it = opened_.begin(); it != opened_.end(); ++it)
                if (it->second == template_id) {
                    found = it->first;
                    opened_.erase(it);
                    return true;
                }
            return false;
        });
        return found;
    }

    struct Box {
        HWND handle;
        UINT style;
        std::string caption, text;
    };

    bool wait_box(Box &out)
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, 5s, [&] { return !boxes_.empty(); }))
            return false;
        out = boxes_.front();
        boxes_.erase(boxes_.begin());
        return true;
    }

    bool wait_closed(HWND window)
    {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, 5s, [&] {
            for (HWND w : closed_)
                if (w == window)
                    return true;
            return false;
        });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::pair<HWND, int>> opened_;
    std::vector<HWND> closed_;
    std::vector<Box> boxes_;
};

Recorder &recorder()
{
    static Recorder *r = [] {
        auto *made = new Recorder;
        install_front_end(made);
        return made;
    }();
    return *r;
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override { recorder(); }
};

// A flag one thread raises and another waits for.
class Latch {
public:
    void raise()
    {
        std::lock_guard<std::mutex> guard(lock_);
        up_ = true;
        changed_.notify_all();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, 5s, [&] { return up_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool up_ = false;
};

// What a dialog procedure saw; the procedures below are plain functions,
// as the system's are, so they reach their test through this.
struct Seen {
    std::atomic<int> commands{0};
    std::atomic<int> first_command{0};
    std::atomic<int> changes{0};
    std::atomic<DWORD> thread{0};
    std::atomic<int> focus_id{0};  // control to focus in WM_INITDIALOG (0: let the system)
};
Seen seen;

void reset_seen()
{
    seen.commands = 0;
    seen.first_command = 0;
    seen.changes = 0;
    seen.thread = 0;
    seen.focus_id = 0;
}

// Ends a modal dialog with the id of the first command it is given.
INT_PTR CALLBACK ending_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        if (seen.focus_id != 0) {
            SetFocus(GetDlgItem(dialog, seen.focus_id));
            return FALSE;
        }
        return TRUE;
    }
    if (message == WM_COMMAND) {
        WORD code = HIWORD(wparam);
        if (code == EN_CHANGE || code == CBN_SELCHANGE) {
            seen.changes++;
            return FALSE;
        }
        if (seen.commands++ == 0) {
            seen.first_command = LOWORD(wparam);
            seen.thread = GetCurrentThreadId();
        }
        EndDialog(dialog, 40 + LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

// Counts commands of a modeless dialog without ending anything.
INT_PTR CALLBACK counting_proc(HWND, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_COMMAND) {
        if (HIWORD(wparam) == EN_CHANGE || HIWORD(wparam) == CBN_SELCHANGE) {
            seen.changes++;
            return FALSE;
        }
        if (seen.commands++ == 0) {
            seen.first_command = LOWORD(wparam);
            seen.thread = GetCurrentThreadId();
        }
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

// Runs a modal dialog on a thread of its own.
struct ModalRun {
    std::thread thread;
    std::atomic<INT_PTR> result{-100};
    std::atomic<DWORD> caller{0};

    explicit ModalRun(int template_id)
    {
        thread = std::thread([this, template_id] {
            caller = GetCurrentThreadId();
            result = DialogBoxParamA(kInstance, MAKEINTRESOURCEA(template_id), nullptr, ending_proc, 0);
        });
    }
    ~ModalRun()
    {
        if (thread.joinable())
            thread.join();
    }
};

void pump(HWND window)
{
    MSG m;
    while (PeekMessageA(&m, window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

const ControlView *control_in(const WindowView &view, int id)
{
    for (const ControlView &c : view.controls)
        if (c.id == id)
            return &c;
    return nullptr;
}

TEST_F(Windows, ModalLoopRunsOnTheCallingThreadAndReturnsTheEndDialogValue)
{
    reset_seen();
    ModalRun run(IDD_FORM);
    HWND dialog = recorder().wait_opened(IDD_FORM);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(input_click(dialog, IDC_APPLY), "");
    run.thread.join();
    EXPECT_EQ(run.result, 40 + IDC_APPLY);
    EXPECT_EQ(seen.first_command, IDC_APPLY);
    EXPECT_EQ(seen.thread.load(), run.caller.load());
    EXPECT_NE(seen.thread.load(), GetCurrentThreadId());
    EXPECT_TRUE(recorder().wait_closed(dialog));
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(Windows, ModelessClickWaitsUntilTheOwnerThreadPumps)
{
    reset_seen();
    Latch created, go, done;
    std::atomic<HWND> dialog{nullptr};
    std::atomic<DWORD> owner{0};
    std::thread owner_thread([&] {
        owner = GetCurrentThreadId();
        HWND d = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, counting_proc, 0);
        ShowWindow(d, SW_SHOWNORMAL);
        dialog = d;
        created.raise();
        go.wait();
        for (int i = 0; i < 2000 && seen.commands == 0; i++) {
            pump(d);
            Sleep(1);
        }
        DestroyWindow(d);
        done.raise();
    });
    ASSERT_TRUE(created.wait());
    EXPECT_EQ(input_click(dialog, IDCANCEL), "");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(seen.commands, 0) << "the click ran before the owner pumped";
    go.raise();
    ASSERT_TRUE(done.wait());
    owner_thread.join();
    EXPECT_EQ(seen.commands, 1);
    EXPECT_EQ(seen.first_command, IDCANCEL);
    EXPECT_EQ(seen.thread.load(), owner.load());
}

TEST_F(Windows, PeekMessageWithAWindowTakesThatWindowsAndItsControlsMessagesOnly)
{
    reset_seen();
    HWND first = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, counting_proc, 0);
    HWND second = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_SECOND), nullptr, counting_proc, 0);
    ShowWindow(first, SW_SHOWNORMAL);
    ShowWindow(second, SW_SHOWNORMAL);
    ASSERT_EQ(input_click(first, IDCANCEL), "");
    ASSERT_EQ(input_click(second, IDOK), "");
    ASSERT_TRUE(PostMessageA(first, WM_NULL, 0, 0));

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, second, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.hwnd, GetDlgItem(second, IDOK));  // addressed to the control
    EXPECT_FALSE(PeekMessageA(&m, second, 0, 0, PM_REMOVE));

    // Another thread cannot take this thread's messages, even by window.
    std::thread other([&] {
        MSG n;
        EXPECT_FALSE(PeekMessageA(&n, first, 0, 0, PM_REMOVE));
    });
    other.join();

    ASSERT_TRUE(PeekMessageA(&m, first, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.hwnd, GetDlgItem(first, IDCANCEL));
    ASSERT_TRUE(PeekMessageA(&m, first, 0, 0, PM_REMOVE));
    DispatchMessageA(&m);
    EXPECT_EQ(seen.first_command, IDCANCEL);
    ASSERT_TRUE(PeekMessageA(&m, first, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.hwnd, first);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_NULL));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST_F(Windows, CenterWindowPutsTheWindowInTheMiddleRoundingTowardNegativeInfinity)
{
    struct Case {
        int width, height, left, top;
    };
    const Case cases[] = {
        {300, 200, 362, 284},
        {1025, 100, -1, 334},  // wider than the screen: (1024 - 1025) >> 1
        {1027, 771, -2, -2},   // -3 >> 1 is -2, where division would give -1
        {1024, 768, 0, 0},
    };
    HWND dialog = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_SECOND), nullptr, counting_proc, 0);
    ASSERT_NE(dialog, nullptr);
    for (const Case &c : cases) {
        ASSERT_TRUE(SetWindowPos(dialog, HWND_TOP, 5, 7, c.width, c.height, 0));
        center_window(dialog);
        RECT r;
        ASSERT_TRUE(GetWindowRect(dialog, &r));
        EXPECT_EQ(r.left, c.left) << c.width << "x" << c.height;
        EXPECT_EQ(r.top, c.top) << c.width << "x" << c.height;
        EXPECT_EQ(r.right - r.left, c.width) << "the size must not change";
        EXPECT_EQ(r.bottom - r.top, c.height);
    }
    DestroyWindow(dialog);

    // A window whose rectangle cannot be read is not moved at all.
    long before = set_window_pos_count();
    center_window(dialog);
    center_window(nullptr);
    EXPECT_EQ(set_window_pos_count(), before);
}

TEST_F(Windows, DialogManagerKeysInAModalDialog)
{
    struct Case {
        int template_id;
        int focus;  // control focused in WM_INITDIALOG; 0 lets the system pick
        InputKey key;
        int command;
    };
    const Case cases[] = {
        {IDD_FORM, IDC_NAME, InputKey::enter, IDOK},        // the default button
        {IDD_FORM, IDC_APPLY, InputKey::enter, IDC_APPLY},  // a focused push button wins
        {IDD_FORM, IDC_NAME, InputKey::escape, IDCANCEL},
        {IDD_NO_DEFAULT, IDC_NAME, InputKey::enter, IDOK},  // no default button: IDOK
        {IDD_NO_DEFAULT, IDCANCEL, InputKey::enter, IDCANCEL},
    };
    for (const Case &c : cases) {
        reset_seen();
        seen.focus_id = c.focus;
        ModalRun run(c.template_id);
        HWND dialog = recorder().wait_opened(c.template_id);
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(input_key(dialog, c.key), "");
        run.thread.join();
        EXPECT_EQ(seen.first_command, c.command) << "template " << c.template_id << " focus " << c.focus;
        EXPECT_EQ(run.result, 40 + c.command);
    }
}

TEST_F(Windows, KeysMeanNothingToAModelessDialogPumpedWithoutTheDialogManager)
{
    reset_seen();
    HWND dialog = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, counting_proc, 0);
    ShowWindow(dialog, SW_SHOWNORMAL);
    ASSERT_EQ(input_key(dialog, InputKey::enter), "");
    ASSERT_EQ(input_key(dialog, InputKey::escape), "");
    pump(dialog);
    EXPECT_EQ(seen.commands, 0);
    // Space on the focused button still presses it: that is the button's own doing.
    ASSERT_EQ(input_key(dialog, InputKey::space), "");
    pump(dialog);
    EXPECT_EQ(seen.first_command, IDCANCEL);
    DestroyWindow(dialog);
}

TEST_F(Windows, InitDialogFocusAndTabOrder)
{
    reset_seen();
    ModalRun run(IDD_FORM);
    HWND dialog = recorder().wait_opened(IDD_FORM);
    ASSERT_NE(dialog, nullptr);
    WindowView view;
    ASSERT_TRUE(view_window(dialog, view));
    // TRUE from WM_INITDIALOG: the first tab stop (the note is not one).
    ASSERT_NE(control_in(view, IDC_NAME), nullptr);
    EXPECT_TRUE(control_in(view, IDC_NAME)->focused);
    EXPECT_FALSE(control_in(view, IDC_NOTE)->focused);

    const int order[] = {IDC_SECRET, IDC_ADDRESS, IDC_CHOICE, IDC_APPLY, IDOK, IDCANCEL, IDC_NAME};
    for (int expected : order) {
        ASSERT_EQ(input_key(dialog, InputKey::tab), "");
        bool focused = false;
        for (int i = 0; i < 500 && !focused; i++) {
            std::this_thread::sleep_for(1ms);
            ASSERT_TRUE(view_window(dialog, view));
            focused = control_in(view, expected)->focused;
        }
        EXPECT_TRUE(focused) << "tab did not reach " << expected;
    }
    ASSERT_EQ(input_key(dialog, InputKey::shift_tab), "");
    ASSERT_EQ(input_key(dialog, InputKey::enter), "");  // focus on Cancel: Cancel
    run.thread.join();
    EXPECT_EQ(seen.first_command, IDCANCEL);
}

TEST_F(Windows, ControlsBehaveAsTheirWin32Classes)
{
    reset_seen();
    HWND d = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_FORM), nullptr, counting_proc, 0);
    ASSERT_NE(d, nullptr);
    ShowWindow(d, SW_SHOWNORMAL);

    // The list keeps the order entries were added in, and an index out of
    // range removes the selection.
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("zeta")), 0);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("alpha")), 1);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_SETCURSEL, 1, 0), 1);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_SETCURSEL, 5, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_GETCURSEL, 0, 0), CB_ERR);

    // The bar keeps its position within its range.
    SendDlgItemMessageA(d, IDC_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 2));
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_BAR, PBM_SETPOS, 3, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_BAR, PBM_GETPOS, 0, 0), 2);
    SendDlgItemMessageA(d, IDC_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_BAR, PBM_SETPOS, 999, 0), 2);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_BAR, PBM_GETPOS, 0, 0), 999);

    // A text read into a small buffer is cut to its capacity less one.
    ASSERT_TRUE(SetDlgItemTextA(d, IDC_NAME, "abcdef"));
    char small[4] = "xyz";
    EXPECT_EQ(GetDlgItemTextA(d, IDC_NAME, small, sizeof small), 3u);
    EXPECT_STREQ(small, "abc");
    char none[8] = "junk";
    EXPECT_EQ(GetDlgItemTextA(d, 9999, none, sizeof none), 0u);
    EXPECT_STREQ(none, "");

    // Typing replaces the whole text once the owner pumps, and tells the dialog.
    ASSERT_EQ(input_type(d, IDC_NAME, "hello"), "");
    char text[64];
    GetDlgItemTextA(d, IDC_NAME, text, sizeof text);
    EXPECT_STREQ(text, "abcdef") << "typed before the owner pumped";
    pump(d);
    GetDlgItemTextA(d, IDC_NAME, text, sizeof text);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(seen.changes, 5);
    ASSERT_EQ(input_type(d, IDC_NAME, ""), "");
    pump(d);
    GetDlgItemTextA(d, IDC_NAME, text, sizeof text);
    EXPECT_STREQ(text, "");

    ASSERT_EQ(input_type(d, IDC_ADDRESS, "10*1.0*13"), "");
    pump(d);
    GetDlgItemTextA(d, IDC_ADDRESS, text, sizeof text);
    EXPECT_STREQ(text, "10*1.0*13");

    ASSERT_EQ(input_select(d, IDC_CHOICE, 0), "");
    pump(d);
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_GETCURSEL, 0, 0), 0);

    // Input a person could not give is refused and changes nothing.
    struct Refusal {
        int id;
        const char *text;
    };
    const Refusal refusals[] = {
        {IDC_ADDRESS, "10.1.x.1"},  // the address control takes digits, dots and stars
        {IDC_NOTE, "x"},            // read-only
        {IDC_APPLY, "x"},           // a button takes no typing
        {IDC_NAME, "a\nb"},         // one line only
        {4242, "x"},                // no such control
    };
    for (const Refusal &r : refusals)
        EXPECT_NE(input_type(d, r.id, r.text), "") << r.id << " took \"" << r.text << "\"";
    EXPECT_NE(input_select(d, IDC_CHOICE, 2), "");
    EXPECT_NE(input_click(d, IDC_NAME), "");
    pump(d);
    GetDlgItemTextA(d, IDC_ADDRESS, text, sizeof text);
    EXPECT_STREQ(text, "10*1.0*13");
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_CHOICE, CB_GETCURSEL, 0, 0), 0);
    DestroyWindow(d);
    EXPECT_NE(input_click(d, IDCANCEL), "") << "a destroyed dialog took a click";
}

TEST_F(Windows, TaskModalMessageBoxDisablesTheThreadsWindowsUntilPressed)
{
    reset_seen();
    Latch shown;
    std::atomic<HWND> dialog{nullptr};
    std::atomic<int> pressed{0};
    std::thread owner([&] {
        HWND d = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_SECOND), nullptr, counting_proc, 0);
        ShowWindow(d, SW_SHOWNORMAL);
        dialog = d;
        shown.raise();
        pressed = MessageBoxA(nullptr, "Text", "Caption", MB_OKCANCEL | MB_TASKMODAL);
        pump(d);
        DestroyWindow(d);
    });
    ASSERT_TRUE(shown.wait());
    Recorder::Box box;
    ASSERT_TRUE(recorder().wait_box(box));
    EXPECT_EQ(box.caption, "Caption");
    EXPECT_EQ(box.text, "Text");
    EXPECT_EQ(box.style, static_cast<UINT>(MB_OKCANCEL | MB_TASKMODAL));
    EXPECT_NE(input_click(dialog, IDOK), "") << "a disabled window took a click";
    EXPECT_NE(input_press(box.handle, IDYES), "") << "the box has no Yes button";
    EXPECT_NE(input_press(dialog, IDOK), "") << "a dialog is not a message box";
    EXPECT_EQ(input_press(box.handle, IDCANCEL), "");
    owner.join();
    EXPECT_EQ(pressed, IDCANCEL);
    EXPECT_TRUE(recorder().wait_closed(box.handle));
    EXPECT_EQ(seen.commands, 0);
}

TEST_F(Windows, MessageBoxWithoutCaptionSaysError)
{
    std::atomic<int> pressed{0};
    std::thread owner([&] { pressed = MessageBoxA(nullptr, "Body", nullptr, MB_OK); });
    Recorder::Box box;
    ASSERT_TRUE(recorder().wait_box(box));
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(input_key(box.handle, InputKey::escape), "");  // an OK-only box takes Escape as OK
    owner.join();
    EXPECT_EQ(pressed, IDOK);
}

TEST_F(Windows, ShowFailureIsATaskModalOkBoxWithTheDefaultCaption)
{
    std::atomic<int> result{0};
    std::thread owner([&] { result = show_failure("Upgrade Failed: Test"); });
    Recorder::Box box;
    ASSERT_TRUE(recorder().wait_box(box));
    EXPECT_EQ(box.caption, "NUV Firwmare Upgrade Error");
    EXPECT_EQ(box.text, "Upgrade Failed: Test");
    EXPECT_EQ(box.style, static_cast<UINT>(MB_OK | MB_TASKMODAL));  // one OK button, no icon
    WindowView view;
    ASSERT_TRUE(view_window(box.handle, view));
    int buttons = 0;
    for (const ControlView &c : view.controls)
        buttons += c.window_class == "Button";
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(input_press(box.handle, IDOK), "");
    owner.join();
    EXPECT_EQ(result, IDOK);
}

TEST_F(Windows, TemplatesGiveTheDialogItsControlsInOrder)
{
    HWND d = CreateDialogParamA(kInstance, MAKEINTRESOURCEA(IDD_FORM), nullptr, counting_proc, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(IsWindow(CreateDialogParamA(kInstance, MAKEINTRESOURCEA(999), nullptr, counting_proc, 0)));
    ShowWindow(d, SW_SHOWNORMAL);
    WindowView view;
    ASSERT_TRUE(view_window(d, view));
    EXPECT_EQ(view.caption, "Form");
    EXPECT_EQ(view.template_id, IDD_FORM);
    std::vector<int> ids;
    for (const ControlView &c : view.controls)
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<int>{IDC_NOTE, IDC_NAME, IDC_SECRET, IDC_ADDRESS, IDC_CHOICE, IDC_BAR,
                                     IDC_STATIC, IDC_APPLY, IDOK, IDCANCEL}));
    EXPECT_EQ(control_in(view, IDC_ADDRESS)->window_class, "SysIPAddress32");
    EXPECT_EQ(control_in(view, IDC_BAR)->window_class, "msctls_progress32");
    EXPECT_TRUE(control_in(view, IDOK)->is_default);
    // 10,20 dialog units from the screen's corner; 200 by 150 units of client
    // area inside the frame and caption.
    EXPECT_EQ(view.rect.left, 15);
    EXPECT_EQ(view.rect.top, 32);
    EXPECT_EQ(view.rect.right - view.rect.left, 300 + 6);
    EXPECT_EQ(view.rect.bottom - view.rect.top, 243 + 6 + 19);
    DestroyWindow(d);
}

TEST_F(Windows, RegisterClassRefusesASecondRegistrationOfTheSameName)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    wc.hInstance = kInstance;
    wc.lpszClassName = "LayerTestClass";
    EXPECT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    wc.lpszClassName = "layertestclass";  // class names ignore case
    EXPECT_EQ(RegisterClassA(&wc), 0);
    INITCOMMONCONTROLSEX init{8, ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS};
    EXPECT_TRUE(InitCommonControlsEx(&init));
    init.dwSize = 4;
    EXPECT_FALSE(InitCommonControlsEx(&init));
}

} // namespace
