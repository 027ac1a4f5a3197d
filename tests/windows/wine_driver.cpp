// tests/windows/wine_driver.cpp: a console program that drives the upgrader's
// real dialogs from outside, in the same Wine prefix, for the shell test.
//
// It reads one command a line on standard input and answers each with zero
// or more result lines and then "ok" or "error <why>", flushed at once, so
// that a shell can hold it as a co-process and check every step:
//
//   wait-caption "TEXT" MS [ID]    a visible dialog with exactly this caption
//                                  (and a control ID: two screens may share one)
//   wait-caption-prefix "TEXT" MS [ID]  ... whose caption starts with TEXT
//   wait-msgbox MS                 a visible message box (it has control 0xFFFF)
//   wait-gone MS                   the current dialog is destroyed or hidden
//   wait-progress ID MIN MS        progress bar ID of the current dialog reaches MIN
//   caption | dump | windows       the current dialog's caption, its controls, all dialogs
//   wait-text ID "TEXT" MS         control ID of the current dialog shows TEXT
//                                  (a modeless screen may fill it after showing)
//   text ID | progress ID | items ID
//   set-address ID A.B.C.D         IPM_SETADDRESS (Wine's IP control ignores WM_SETTEXT)
//   type ID "TEXT"                 WM_SETTEXT on an edit box
//   click ID | msgbox-press ID     posts WM_COMMAND: a handler may open a modal box
//   msgbox-text                    the text of the current message box
//   sleep MS | quit
//
// Texts are printed in double quotes with the escapes \\ \" \r \n \t \xHH.
// The found dialog becomes the current one for the commands after it.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLineSize = 2048;
constexpr int kMaxWords = 8;
constexpr int kWordSize = 1024;
constexpr int kTextSize = 4096;
constexpr int kMessageBoxText = 0xFFFF;
// A cross-process message waits at most this long: the upgrader's threads
// pump their screens every few milliseconds, so a longer wait is a hang.
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;

struct Command {
    int count = 0;
    char words[kMaxWords][kWordSize] = {};
};

HWND current = nullptr;

// Reply lines.

void reply_ok()
{
    std::fputs("ok\n", stdout);
    std::fflush(stdout);
}

void reply_error(const char *why, const char *detail = "")
{
    std::printf("error %s%s\n", why, detail);
    std::fflush(stdout);
}

// Prints TEXT in double quotes with the escapes the shell test undoes.
void print_quoted(const char *text)
{
    std::fputc('"', stdout);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        switch (*p) {
        case '\\': std::fputs("\\\\", stdout); break;
        case '"': std::fputs("\\\"", stdout); break;
        case '\r': std::fputs("\\r", stdout); break;
        case '\n': std::fputs("\\n", stdout); break;
        case '\t': std::fputs("\\t", stdout); break;
        default:
            if (*p < 0x20 || *p > 0x7e)
                std::printf("\\x%02X", *p);
            else
                std::fputc(*p, stdout);
        }
    }
    std::fputc('"', stdout);
}

// Parsing of command lines.

bool unescape(char c, char &out)
{
    switch (c) {
    case '\\': out = '\\'; return true;
    case '"': out = '"'; return true;
    case 'r': out = '\r'; return true;
    case 'n': out = '\n'; return true;
    case 't': out = '\t'; return true;
    default: return false;
    }
}

// Reads one word at *p (quoted or bare) into `word`; false when it is too
// long or badly quoted.
bool read_word(const char *&p, char *word)
{
    int length = 0;
    bool quoted = *p == '"';
    if (quoted)
        ++p;
    while (*p && (quoted ? *p != '"' : (*p != ' ' && *p != '\t'))) {
        char c = *p++;
        if (quoted && c == '\\') {
            if (!unescape(*p, c))
                return false;
            ++p;
        }
        if (length + 1 >= kWordSize)
            return false;
        word[length++] = c;
    }
    if (quoted) {
        if (*p != '"')
            return false;
        ++p;
    }
    word[length] = '\0';
    return true;
}

bool parse_command(const char *line, Command &command)
{
    command.count = 0;
    const char *p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p)
            return command.count > 0;
        if (command.count == kMaxWords || !read_word(p, command.words[command.count]))
            return false;
        ++command.count;
    }
}

bool to_number(const char *text, long &value)
{
    char *end = nullptr;
    value = std::strtol(text, &end, 0);
    return end != text && *end == '\0';
}

// Access to the other process's windows.

bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR &result)
{
    result = 0;
    return SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &result) != 0;
}

bool send_wide(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR &result)
{
    result = 0;
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &result) != 0;
}

bool window_text(HWND window, char *text, int size)
{
    DWORD_PTR result = 0;
    text[0] = '\0';
    if (!send(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text), result))
        return false;
    text[size - 1] = '\0';
    return true;
}

bool is_dialog(HWND window)
{
    char name[64];
    if (!GetClassNameA(window, name, sizeof name))
        return false;
    return std::strcmp(name, "#32770") == 0 && IsWindowVisible(window);
}

// What a search looks for among the top-level dialogs.
struct Search {
    const char *caption = nullptr;  // nullptr: any
    bool prefix = false;
    bool message_box = false;
    int control = 0;  // 0: any; else the dialog must have this control
    HWND found = nullptr;
};

bool matches(HWND window, const Search &search)
{
    if (!is_dialog(window))
        return false;
    if (search.message_box && !GetDlgItem(window, kMessageBoxText))
        return false;
    if (search.control && !GetDlgItem(window, search.control))
        return false;
    if (!search.caption)
        return true;
    char caption[kTextSize];
    if (!window_text(window, caption, sizeof caption))
        return false;
    if (search.prefix)
        return std::strncmp(caption, search.caption, std::strlen(search.caption)) == 0;
    return std::strcmp(caption, search.caption) == 0;
}

BOOL CALLBACK search_window(HWND window, LPARAM lparam)
{
    Search &search = *reinterpret_cast<Search *>(lparam);
    if (!matches(window, search))
        return TRUE;
    search.found = window;
    return FALSE;
}

BOOL CALLBACK list_window(HWND window, LPARAM)
{
    if (!is_dialog(window))
        return TRUE;
    char caption[kTextSize];
    window_text(window, caption, sizeof caption);
    std::printf("window %p ", static_cast<void *>(window));
    print_quoted(caption);
    std::fputc('\n', stdout);
    return TRUE;
}

void list_windows()
{
    EnumWindows(list_window, 0);
}

// Polls the desktop until the search finds a dialog or `limit` ms pass.
bool wait_for(Search &search, long limit)
{
    DWORD start = GetTickCount();
    for (;;) {
        search.found = nullptr;
        EnumWindows(search_window, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return true;
        if (static_cast<long>(GetTickCount() - start) >= limit)
            return false;
        Sleep(kPollMs);
    }
}

// Commands.

void found_or_timeout(Search &search, long limit, const char *what)
{
    if (!wait_for(search, limit)) {
        list_windows();
        reply_error("timed out waiting for ", what);
        return;
    }
    current = search.found;
    std::printf("window %p\n", static_cast<void *>(current));
    reply_ok();
}

void do_wait_caption(const Command &c, bool prefix)
{
    long limit = 0, control = 0;
    if (c.count < 3 || c.count > 4 || !to_number(c.words[2], limit) ||
        (c.count == 4 && !to_number(c.words[3], control)))
        return reply_error("usage: wait-caption[-prefix] \"TEXT\" MS [ID]");
    Search search;
    search.caption = c.words[1];
    search.prefix = prefix;
    search.control = static_cast<int>(control);
    found_or_timeout(search, limit, c.words[1]);
}

void do_wait_msgbox(const Command &c)
{
    long limit = 0;
    if (c.count != 2 || !to_number(c.words[1], limit))
        return reply_error("usage: wait-msgbox MS");
    Search search;
    search.message_box = true;
    found_or_timeout(search, limit, "a message box");
}

bool current_shown()
{
    return current && IsWindow(current) && IsWindowVisible(current);
}

void do_wait_gone(const Command &c)
{
    long limit = 0;
    if (c.count != 2 || !to_number(c.words[1], limit))
        return reply_error("usage: wait-gone MS");
    DWORD start = GetTickCount();
    while (current_shown()) {
        if (static_cast<long>(GetTickCount() - start) >= limit)
            return reply_error("the dialog is still shown");
        Sleep(kPollMs);
    }
    reply_ok();
}

// The control ID of the current dialog, or an error reply and nullptr.
HWND control_of(const char *id_text)
{
    long id = 0;
    if (!current_shown()) {
        reply_error("no current dialog");
        return nullptr;
    }
    if (!to_number(id_text, id)) {
        reply_error("bad control id ", id_text);
        return nullptr;
    }
    HWND control = GetDlgItem(current, static_cast<int>(id));
    if (!control)
        reply_error("no control ", id_text);
    return control;
}

void do_text(const Command &c)
{
    if (c.count != 2)
        return reply_error("usage: text ID");
    HWND control = control_of(c.words[1]);
    if (!control)
        return;
    char text[kTextSize];
    if (!window_text(control, text, sizeof text))
        return reply_error("WM_GETTEXT timed out");
    std::fputs("text ", stdout);
    print_quoted(text);
    std::fputc('\n', stdout);
    reply_ok();
}

void do_wait_text(const Command &c)
{
    long limit = 0;
    if (c.count != 4 || !to_number(c.words[3], limit))
        return reply_error("usage: wait-text ID \"TEXT\" MS");
    HWND control = control_of(c.words[1]);
    if (!control)
        return;
    DWORD start = GetTickCount();
    char text[kTextSize];
    for (;;) {
        if (!IsWindow(control) || !window_text(control, text, sizeof text))
            return reply_error("control gone");
        if (std::strcmp(text, c.words[2]) == 0)
            break;
        if (static_cast<long>(GetTickCount() - start) >= limit) {
            std::fputs("text ", stdout);
            print_quoted(text);
            std::fputc('\n', stdout);
            return reply_error("the control shows another text");
        }
        Sleep(kPollMs);
    }
    reply_ok();
}

void do_caption(const Command &c)
{
    if (c.count != 1)
        return reply_error("usage: caption");
    if (!current_shown())
        return reply_error("no current dialog");
    char text[kTextSize];
    if (!window_text(current, text, sizeof text))
        return reply_error("WM_GETTEXT timed out");
    std::fputs("caption ", stdout);
    print_quoted(text);
    std::fputc('\n', stdout);
    reply_ok();
}

// PBM_GETRANGE is asked for each limit alone: its PBRANGE pointer would
// not cross into the other process.
bool read_progress(HWND bar, long &pos, long &low, long &high)
{
    DWORD_PTR p = 0, l = 0, h = 0;
    if (!send(bar, PBM_GETPOS, 0, 0, p) || !send(bar, PBM_GETRANGE, TRUE, 0, l) ||
        !send(bar, PBM_GETRANGE, FALSE, 0, h))
        return false;
    pos = static_cast<long>(p);
    low = static_cast<long>(l);
    high = static_cast<long>(h);
    return true;
}

void do_progress(const Command &c)
{
    if (c.count != 2)
        return reply_error("usage: progress ID");
    HWND bar = control_of(c.words[1]);
    if (!bar)
        return;
    long pos = 0, low = 0, high = 0;
    if (!read_progress(bar, pos, low, high))
        return reply_error("progress bar did not answer");
    std::printf("progress %ld %ld %ld\n", pos, low, high);
    reply_ok();
}

void do_wait_progress(const Command &c)
{
    long minimum = 0, limit = 0;
    if (c.count != 4 || !to_number(c.words[2], minimum) || !to_number(c.words[3], limit))
        return reply_error("usage: wait-progress ID MIN MS");
    HWND bar = control_of(c.words[1]);
    if (!bar)
        return;
    DWORD start = GetTickCount();
    long pos = 0, low = 0, high = 0;
    for (;;) {
        if (!IsWindow(bar) || !read_progress(bar, pos, low, high))
            return reply_error("progress bar gone");
        if (pos >= minimum)
            break;
        if (static_cast<long>(GetTickCount() - start) >= limit)
            return reply_error("progress stays below the minimum");
        Sleep(kPollMs);
    }
    std::printf("progress %ld %ld %ld\n", pos, low, high);
    reply_ok();
}

// Entry `index` of a combo box in another process. Asked for in UTF-16:
// Wine hands CB_GETLBTEXT across processes in wide characters and does not
// convert them back for the ANSI call, which then sees only the first one.
bool list_entry(HWND list, long index, char *text, int size)
{
    DWORD_PTR length = 0;
    WCHAR wide[kTextSize];
    if (!send_wide(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0, length) ||
        length >= kTextSize)
        return false;
    if (!send_wide(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide), length))
        return false;
    wide[length] = L'\0';
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size, nullptr, nullptr) > 0;
}

// Prints `items N sel=S` and then one `item "..."` line per entry.
bool print_items(HWND list)
{
    DWORD_PTR count = 0, selected = 0;
    if (!send(list, CB_GETCOUNT, 0, 0, count) || !send(list, CB_GETCURSEL, 0, 0, selected))
        return false;
    std::printf("items %ld sel=%ld\n", static_cast<long>(count), static_cast<long>(static_cast<LRESULT>(selected)));
    for (long i = 0; i < static_cast<long>(count); ++i) {
        char text[kTextSize];
        if (!list_entry(list, i, text, sizeof text))
            return false;
        std::fputs("item ", stdout);
        print_quoted(text);
        std::fputc('\n', stdout);
    }
    return true;
}

void do_items(const Command &c)
{
    if (c.count != 2)
        return reply_error("usage: items ID");
    HWND list = control_of(c.words[1]);
    if (!list)
        return;
    if (!print_items(list))
        return reply_error("list did not answer");
    reply_ok();
}

// One line per direct child: `control ID CLASS "text"`.
void do_dump(const Command &c)
{
    if (c.count != 1)
        return reply_error("usage: dump");
    if (!current_shown())
        return reply_error("no current dialog");
    char text[kTextSize];
    window_text(current, text, sizeof text);
    std::fputs("caption ", stdout);
    print_quoted(text);
    std::fputc('\n', stdout);
    for (HWND child = GetWindow(current, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64];
        if (!GetClassNameA(child, name, sizeof name))
            name[0] = '\0';
        window_text(child, text, sizeof text);
        std::printf("control %d %s ", GetDlgCtrlID(child), name);
        print_quoted(text);
        std::fputc('\n', stdout);
    }
    reply_ok();
}

bool parse_ipv4(const char *text, BYTE parts[4])
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4)
        return false;
    if (a > 255 || b > 255 || c > 255 || d > 255)
        return false;
    parts[0] = static_cast<BYTE>(a);
    parts[1] = static_cast<BYTE>(b);
    parts[2] = static_cast<BYTE>(c);
    parts[3] = static_cast<BYTE>(d);
    return true;
}

// The address travels by value in lParam, so it is safe across processes;
// the control's text is read back to show what the program will read.
void do_set_address(const Command &c)
{
    BYTE parts[4];
    if (c.count != 3 || !parse_ipv4(c.words[2], parts))
        return reply_error("usage: set-address ID A.B.C.D");
    HWND control = control_of(c.words[1]);
    if (!control)
        return;
    DWORD_PTR result = 0;
    if (!send(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(parts[0], parts[1], parts[2], parts[3]), result))
        return reply_error("IPM_SETADDRESS timed out");
    char text[kTextSize];
    if (!window_text(control, text, sizeof text))
        return reply_error("WM_GETTEXT timed out");
    std::fputs("text ", stdout);
    print_quoted(text);
    std::fputc('\n', stdout);
    reply_ok();
}

void do_type(const Command &c)
{
    if (c.count != 3)
        return reply_error("usage: type ID \"TEXT\"");
    HWND control = control_of(c.words[1]);
    if (!control)
        return;
    DWORD_PTR result = 0;
    if (!send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.words[2]), result) || !result)
        return reply_error("WM_SETTEXT failed");
    reply_ok();
}

// Posted, not sent: the button's handler may run a modal box, and a sent
// message would wait for it to close.
void do_click(const Command &c)
{
    if (c.count != 2)
        return reply_error("usage: click ID");
    HWND control = control_of(c.words[1]);
    if (!control)
        return;
    int id = GetDlgCtrlID(control);
    if (!PostMessageA(current, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control)))
        return reply_error("PostMessage failed");
    reply_ok();
}

void do_msgbox_text(const Command &c)
{
    if (c.count != 1)
        return reply_error("usage: msgbox-text");
    Command text_command;
    text_command.count = 2;
    std::snprintf(text_command.words[0], kWordSize, "text");
    std::snprintf(text_command.words[1], kWordSize, "%d", kMessageBoxText);
    do_text(text_command);
}

void do_sleep(const Command &c)
{
    long ms = 0;
    if (c.count != 2 || !to_number(c.words[1], ms) || ms < 0)
        return reply_error("usage: sleep MS");
    Sleep(static_cast<DWORD>(ms));
    reply_ok();
}

void do_windows(const Command &c)
{
    if (c.count != 1)
        return reply_error("usage: windows");
    list_windows();
    reply_ok();
}

struct Handler {
    const char *name;
    void (*run)(const Command &);
};

void wait_caption(const Command &c) { do_wait_caption(c, false); }
void wait_caption_prefix(const Command &c) { do_wait_caption(c, true); }

constexpr Handler kHandlers[] = {
    {"wait-caption", wait_caption},
    {"wait-caption-prefix", wait_caption_prefix},
    {"wait-msgbox", do_wait_msgbox},
    {"wait-gone", do_wait_gone},
    {"wait-progress", do_wait_progress},
    {"caption", do_caption},
    {"dump", do_dump},
    {"windows", do_windows},
    {"wait-text", do_wait_text},
    {"text", do_text},
    {"progress", do_progress},
    {"items", do_items},
    {"set-address", do_set_address},
    {"type", do_type},
    {"click", do_click},
    {"msgbox-press", do_click},
    {"msgbox-text", do_msgbox_text},
    {"sleep", do_sleep},
};

// False after `quit`.
bool run_line(const char *line)
{
    Command command;
    if (!parse_command(line, command)) {
        reply_error("cannot parse: ", line);
        return true;
    }
    if (std::strcmp(command.words[0], "quit") == 0) {
        reply_ok();
        return false;
    }
    for (const Handler &handler : kHandlers) {
        if (std::strcmp(command.words[0], handler.name) == 0) {
            handler.run(command);
            return true;
        }
    }
    reply_error("unknown command ", command.words[0]);
    return true;
}

// Strips the line end; false when the line did not fit the buffer.
bool trim_line(char *line)
{
    size_t length = std::strlen(line);
    bool complete = length > 0 && line[length - 1] == '\n';
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
    return complete;
}

} // namespace

int main()
{
    // Binary mode: the shell reads LF-ended lines, not the C runtime's CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    char line[kLineSize];
    while (std::fgets(line, sizeof line, stdin)) {
        if (!trim_line(line) && !std::feof(stdin)) {
            reply_error("line too long");
            int c;
            while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
            }
            continue;
        }
        if (line[0] == '\0' || line[0] == '#')
            continue;
        if (!run_line(line))
            return 0;
    }
    return 0;
}
