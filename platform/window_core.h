// platform/window_core.h: the native windows, dialogs and controls, as the
// front ends see them.
//
// The core keeps every window, runs dialog procedures and control
// behaviour, and owns the per-thread message queues. A front end (the
// script front end for tests and automation, a terminal one for people)
// is told what appears and goes, reads what is on the screen through
// views, and gives input the way a person would: input is posted to the
// queue of the thread that owns the window, so it takes effect only when
// that thread pumps, as on Windows.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

// What the core tells the front end. Called on whichever thread caused
// it, without the core's lock held; the calls for one window come in
// order (opened, then closed).
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // A dialog has handled WM_INITDIALOG and is now visible.
    virtual void opened(HWND dialog, int template_id) = 0;
    // A dialog or message box has ended or been destroyed.
    virtual void closed(HWND window) = 0;
    // A message box is up and waits for a button.
    virtual void message_box(HWND box, UINT style, const std::string &caption,
                             const std::string &text) = 0;
    // Something visible changed (a text, a position, a selection).
    virtual void changed() {}
    // The process is about to end with this status.
    virtual void exiting(UINT exit_code) = 0;
};

// Installs the front end (once, before WinMain runs); also hooks
// ExitProcess so the front end hears of the end.
void install_front_end(FrontEnd *front_end);

struct ControlView {
    int id = 0;
    std::string window_class;
    std::string text;
    DWORD style = 0;
    RECT rect{};  // screen pixels
    int x = 0, y = 0, width = 0, height = 0;  // dialog units, from the template
    bool visible = true;
    bool enabled = true;
    bool focused = false;
    bool is_default = false;        // the dialog's default push button
    int range_low = 0, range_high = 0, position = 0;  // progress bars
    std::vector<std::string> items;  // combo boxes
    int selection = -1;
};

struct WindowView {
    HWND handle = nullptr;
    int template_id = 0;   // 0 for a message box
    bool message_box = false;
    UINT box_style = 0;
    std::string caption;
    DWORD style = 0;
    RECT rect{};           // screen pixels
    bool enabled = true;
    std::vector<ControlView> controls;  // in template order
};

// The view of a visible dialog or message box; false when `window` is
// not one.
bool view_window(HWND window, WindowView &out);

// Visible dialogs and message boxes, bottom of the Z order first.
std::vector<HWND> visible_windows();

enum class InputKey { enter, escape, tab, shift_tab, space, up, down };

// Input as a person gives it. Each returns an empty string when the input
// was taken, otherwise why not (and nothing changed).
std::string input_click(HWND dialog, int control_id);
std::string input_type(HWND dialog, int control_id, const std::string &text);
std::string input_select(HWND dialog, int control_id, int index);
std::string input_key(HWND dialog, InputKey key);
std::string input_press(HWND box, int button_id);

// Test hook: how many times SetWindowPos has been called in this process.
long set_window_pos_count();
