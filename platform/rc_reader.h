// platform/rc_reader.h: a reader of resource scripts (.rc), enough of the
// language for the dialog templates and icons the program carries.
//
// It takes the same file the Windows resource compiler takes: comments,
// #include (quoted names resolved by the caller, <system> headers skipped:
// the reader knows the Win32 style names itself), #define of object-like
// macros, #ifdef / #ifndef / #if defined / #else / #endif, DIALOG and
// DIALOGEX templates with their controls, ICON resources, LANGUAGE, and
// user-defined resources (skipped: their files are embedded by the build).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RcControl {
    std::string window_class;  // canonical: "Button", "Static", "Edit", "ComboBox",
                               // "msctls_progress32", "SysIPAddress32", or as written
    std::string text;          // the text argument; empty when the statement has none
    int ordinal = -1;          // the text argument when it is a number (an icon's id)
    int id = -1;               // -1 for IDC_STATIC
    uint32_t style = 0;        // complete: WS_CHILD | WS_VISIBLE, the statement's defaults, the given bits
    uint32_t ex_style = 0;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
};

struct RcDialog {
    int id = 0;
    bool extended = false;     // DIALOGEX
    uint32_t style = 0;
    uint32_t ex_style = 0;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    std::string caption;
    int font_size = 0;
    std::string font_name;
    std::vector<RcControl> controls;  // in template order, which is the tab order
};

struct RcIcon {
    int id = 0;
    std::string file;
};

struct RcScript {
    std::vector<RcDialog> dialogs;
    std::vector<RcIcon> icons;

    const RcDialog *find_dialog(int id) const;
};

// Gives the text of a quoted #include; false when there is no such file.
using RcIncludeResolver = std::function<bool(const std::string &name, std::string &text)>;

// Reads the script `text` (called `name` in messages) into `out`. The
// `defines` are names defined before the first line, as -D would. On a
// fault returns false and says where and why in `error`, for example
// "upgrader.rc:12: unknown style name WS_POPUPP".
bool rc_read(const std::string &name, const std::string &text, const RcIncludeResolver &include,
             const std::vector<std::string> &defines, RcScript &out, std::string &error);
