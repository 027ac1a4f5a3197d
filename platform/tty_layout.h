// platform/tty_layout.h: lays out a dialog or message box as character
// cells for the terminal front end, without touching the terminal.
//
// A dialog's controls keep their template places, one cell for 4 by 8
// dialog units. Texts drawn in a proportional font on Windows are wider in
// a terminal, so a text may spread into free cells beside or below it and
// a dialog may grow wider, up to the screen; a dialog taller than the
// screen has its rows squeezed, and its long texts scroll.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/window_core.h"

namespace tty {

enum class Look {
    plain,
    title,           // caption of the active window
    title_inactive,  // caption of a window behind it or disabled
    field,           // a field that takes typing
    button,
    focused,         // the focused control (or pick list entry)
    bar,             // the filled part of a progress bar
    mark,            // icons, scroll marks
};

struct Span {
    int row = 0, col = 0;  // screen cells
    std::string text;
    Look look = Look::plain;
};

// One window, placed on the screen.
struct Frame {
    int top = 0, left = 0, rows = 0, cols = 0;  // including title bar and border
    std::vector<Span> spans;
    int cursor_row = -1, cursor_col = -1;  // where the focus is, -1: nowhere
    bool cursor_visible = false;           // a field takes typing there
    std::map<int, int> scroll_room;        // control id -> how far its text can scroll
};

// What the front end keeps between screens: scroll offsets of long texts,
// the focused message box button, an open pick list.
struct ViewState {
    std::map<int, int> scroll;  // control id -> first line shown
    int box_button = 0;         // index into the message box's buttons
    int pick_list = 0;          // control id of the open pick list, 0: none
    int pick_entry = 0;
};

// Lays out `view` on a screen of `rows` by `cols` cells. `active` tells
// whether this is the window that takes the keys.
Frame lay_out(const WindowView &view, const ViewState &state, bool active, int rows, int cols);

// Strips the '&' that marks a keyboard mnemonic ("&&" stays one '&').
std::string without_mnemonic(const std::string &text);

// Splits at CR LF (and lone CR or LF).
std::vector<std::string> split_lines(const std::string &text);

// Breaks `line` at blanks into lines of at most `width` characters (a word
// longer than that is cut).
std::vector<std::string> wrap(const std::string &line, int width);

} // namespace tty
