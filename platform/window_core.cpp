// platform/window_core.cpp: windows, dialogs, controls and message queues
// of the native layer, behaving as Win32 does where the system relies on it.
//
// Every window lives in one table under one lock; a handle is a number
// that is never reused, so a stale handle is refused, not followed. Window
// and dialog procedures always run without the lock held, on the thread
// that sent or dispatched the message. Each thread has its own queue;
// posted messages (and all input) wait there until the owner thread pumps.
#include "platform/window_core.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/embedded.h"
#include "platform/kernel_hooks.h"
#include "platform/rc_reader.h"

namespace {

// Private messages that carry a person's input to the owner thread.
constexpr UINT kPickEntry = WM_APP + 0x3F01;  // combo box: wParam is the entry
constexpr UINT kPressButton = WM_APP + 0x3F02;  // message box: wParam is the button
constexpr LPARAM kShiftDown = 1;  // lParam of WM_KEYDOWN VK_TAB: Shift is held

constexpr int kMessageTextId = 0xFFFF;  // the text of a message box, as on Windows

// The screen, and the dialog font's base units (8-point "MS Sans Serif" at
// 96 dots per inch): a dialog unit is a quarter of the average character
// width and an eighth of its height.
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int kFrame = 3;     // dialog frame, each side
constexpr int kCaption = 19;  // caption bar

int units_to_x(int units) { return units * kBaseUnitX / 4; }
int units_to_y(int units) { return units * kBaseUnitY / 8; }

struct Queue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<MSG> messages;
};

thread_local std::shared_ptr<Queue> this_thread_queue;

std::shared_ptr<Queue> current_queue()
{
    if (!this_thread_queue)
        this_thread_queue = std::make_shared<Queue>();
    return this_thread_queue;
}

enum class Kind { dialog, message_box, control };
enum class Type { none, button, static_text, edit, combo, progress, ip_address, other };

struct Window {
    uintptr_t handle = 0;
    Kind kind = Kind::dialog;
    Type type = Type::none;
    DWORD owner_thread = 0;
    std::shared_ptr<Queue> queue;
    uintptr_t parent = 0;  // a control's dialog; a top-level window's owner (0: none)
    std::vector<uintptr_t> children;
    std::string window_class;
    std::string text;  // caption of a top-level window, text of a control
    DWORD style = 0;
    bool visible = false;
    bool enabled = true;
    RECT rect{};  // top-level windows, screen pixels

    // Dialogs.
    int template_id = 0;
    DLGPROC proc = nullptr;
    bool modal = false;
    bool ended = false;
    bool announced = false;  // opened has been reported, closed not yet
    INT_PTR result = 0;
    uintptr_t focus = 0;

    // Controls.
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    std::vector<std::string> items;
    int selection = -1;
    int range_low = 0, range_high = 100, position = 0;
    size_t select_from = 0, select_to = 0;  // edit selection

    // Message boxes.
    UINT box_style = 0;
    std::vector<int> buttons;
    bool pressed = false;
    int pressed_button = 0;
};

struct Core {
    std::mutex lock;
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    std::vector<uintptr_t> z_order;  // visible top-level windows, bottom first
    uintptr_t next_handle = 1;
    std::set<std::string> classes;
    FrontEnd *front_end = nullptr;
};

Core &core()
{
    static Core instance;
    return instance;
}

std::atomic<long> set_window_pos_calls{0};

uintptr_t number(HWND window) { return reinterpret_cast<uintptr_t>(window); }
HWND handle_of(uintptr_t n) { return reinterpret_cast<HWND>(n); }

// All of these need core().lock held.

Window *find(uintptr_t n)
{
    auto &windows = core().windows;
    auto it = windows.find(n);
    return it == windows.end() ? nullptr : it->second.get();
}

Window *find(HWND window) { return find(number(window)); }

Window *top_level_of(Window *w)
{
    if (w != nullptr && w->kind == Kind::control)
        return find(w->parent);
    return w;
}

Window *child_by_id(Window *dialog, int id)
{
    for (uintptr_t n : dialog->children) {
        Window *c = find(n);
        if (c != nullptr && c->id == id)
            return c;
    }
    return nullptr;
}

bool is_same_or_child(uintptr_t window, uintptr_t of)
{
    if (window == of)
        return true;
    Window *w = find(window);
    return w != nullptr && w->kind == Kind::control && w->parent == of;
}

bool is_push_button(const Window *c)
{
    DWORD kind = c->style & 0x0F;
    return c->type == Type::button && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON);
}

bool is_tab_stop(const Window *c)
{
    return (c->style & WS_TABSTOP) && c->visible && c->enabled;
}

void raise(uintptr_t n)
{
    auto &z = core().z_order;
    z.erase(std::remove(z.begin(), z.end(), n), z.end());
    z.push_back(n);
}

void unlist(uintptr_t n)
{
    auto &z = core().z_order;
    z.erase(std::remove(z.begin(), z.end(), n), z.end());
}

RECT control_rect(const Window *dialog, const Window *c)
{
    RECT r;
    r.left = dialog->rect.left + kFrame + units_to_x(c->x);
    r.top = dialog->rect.top + kFrame + kCaption + units_to_y(c->y);
    r.right = r.left + units_to_x(c->width);
    r.bottom = r.top + units_to_y(c->height);
    return r;
}

uintptr_t new_handle() { return core().next_handle++; }

// ---- queues ---------------------------------------------------------------

void post_to(const std::shared_ptr<Queue> &queue, HWND target, UINT message, WPARAM wparam,
             LPARAM lparam)
{
    MSG m{};
    m.hwnd = target;
    m.message = message;
    m.wParam = wparam;
    m.lParam = lparam;
    m.time = timeGetTime();
    {
        std::lock_guard<std::mutex> guard(queue->lock);
        queue->messages.push_back(m);
    }
    queue->ready.notify_all();
}

// Takes the next message of this thread's queue, waiting for one.
MSG wait_message()
{
    auto queue = current_queue();
    std::unique_lock<std::mutex> guard(queue->lock);
    queue->ready.wait(guard, [&] { return !queue->messages.empty(); });
    MSG m = queue->messages.front();
    queue->messages.pop_front();
    return m;
}

// Drops what is queued for windows that are gone. Needs core().lock.
void purge(const std::shared_ptr<Queue> &queue, const std::set<uintptr_t> &gone)
{
    std::lock_guard<std::mutex> guard(queue->lock);
    auto &q = queue->messages;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [&](const MSG &m) { return gone.count(number(m.hwnd)) != 0; }),
            q.end());
}

// ---- reporting to the front end -------------------------------------------

FrontEnd *front_end()
{
    std::lock_guard<std::mutex> guard(core().lock);
    return core().front_end;
}

void report_opened(uintptr_t n, int template_id)
{
    if (FrontEnd *fe = front_end())
        fe->opened(handle_of(n), template_id);
}

void report_closed(uintptr_t n)
{
    if (FrontEnd *fe = front_end())
        fe->closed(handle_of(n));
}

void report_changed()
{
    if (FrontEnd *fe = front_end())
        fe->changed();
}

// ---- the resource script --------------------------------------------------

const EmbeddedResource *embedded(const char *type, const std::string &name)
{
    for (int i = 0; i < embedded_resource_count; i++) {
        const EmbeddedResource &r = embedded_resources[i];
        if (std::strcmp(r.type, type) == 0 && (name.empty() || name == r.name))
            return &r;
    }
    return nullptr;
}

std::string text_of(const EmbeddedResource &r)
{
    return std::string(reinterpret_cast<const char *>(r.begin), static_cast<size_t>(r.end - r.begin));
}

// The program's dialog templates, read once from its embedded script. A
// script that does not read is a fault of the build: say so loudly.
const RcScript *templates()
{
    static std::once_flag once;
    static RcScript script;
    static bool ok = false;
    std::call_once(once, [] {
        const EmbeddedResource *main = embedded("#script", "");
        if (main == nullptr) {
            std::fprintf(stderr, "nuv: this program carries no resource script\n");
            return;
        }
        auto include = [](const std::string &name, std::string &text) {
            const EmbeddedResource *r = embedded("#file", name);
            if (r == nullptr)
                return false;
            text = text_of(*r);
            return true;
        };
        std::string error;
        ok = rc_read(main->name, text_of(*main), include, {}, script, error);
        if (!ok)
            std::fprintf(stderr, "nuv: cannot read the dialog templates: %s\n", error.c_str());
    });
    return ok ? &script : nullptr;
}

int template_number(LPCSTR name)
{
    if (IS_INTRESOURCE(name))
        return static_cast<int>(reinterpret_cast<uintptr_t>(name));
    if (name != nullptr && name[0] == '#')
        return std::atoi(name + 1);
    return -1;
}

Type type_of(const std::string &window_class)
{
    if (window_class == "Button")
        return Type::button;
    if (window_class == "Static")
        return Type::static_text;
    if (window_class == "Edit")
        return Type::edit;
    if (window_class == "ComboBox")
        return Type::combo;
    if (window_class == "msctls_progress32")
        return Type::progress;
    if (window_class == "SysIPAddress32")
        return Type::ip_address;
    return Type::other;
}

// A new top-level window of the calling thread. Needs core().lock.
Window *new_top_level(Kind kind, HWND owner, const std::string &caption)
{
    auto made = std::make_unique<Window>();
    Window *w = made.get();
    w->handle = new_handle();
    w->kind = kind;
    w->owner_thread = GetCurrentThreadId();
    w->queue = current_queue();
    w->parent = number(owner);
    w->window_class = "#32770";
    w->text = caption;
    core().windows[w->handle] = std::move(made);
    return w;
}

// A new control of a top-level window, after its other controls. Needs
// core().lock.
Window *new_control(Window *parent, int id, const std::string &window_class,
                    const std::string &text, DWORD style)
{
    auto made = std::make_unique<Window>();
    Window *c = made.get();
    c->handle = new_handle();
    c->kind = Kind::control;
    c->type = type_of(window_class);
    c->owner_thread = parent->owner_thread;
    c->queue = parent->queue;
    c->parent = parent->handle;
    c->window_class = window_class;
    c->text = text;
    c->style = style;
    c->visible = (style & WS_VISIBLE) != 0;
    c->enabled = !(style & WS_DISABLED);
    c->id = id;
    parent->children.push_back(c->handle);
    core().windows[c->handle] = std::move(made);
    return c;
}

// Makes the dialog and its controls from a template. Needs core().lock.
Window *build_dialog(const RcDialog &t, HWND owner, DLGPROC proc, bool modal)
{
    Window *d = new_top_level(Kind::dialog, owner, t.caption);
    d->style = t.style;
    d->template_id = t.id;
    d->proc = proc;
    d->modal = modal;
    d->enabled = !(t.style & WS_DISABLED);
    int client_width = units_to_x(t.width), client_height = units_to_y(t.height);
    int width = client_width + 2 * kFrame, height = client_height + 2 * kFrame + kCaption;
    int left = units_to_x(t.x), top = units_to_y(t.y);
    if (t.style & DS_CENTER) {
        left = (kScreenWidth - width) / 2;
        top = (kScreenHeight - height) / 2;
    }
    d->rect = {left, top, left + width, top + height};
    for (const RcControl &tc : t.controls) {
        Window *c = new_control(d, tc.id, tc.window_class, tc.text, tc.style);
        c->x = tc.x;
        c->y = tc.y;
        c->width = tc.width;
        c->height = tc.height;
    }
    return d;
}

uintptr_t first_tab_stop(Window *d)
{
    for (uintptr_t n : d->children) {
        Window *c = find(n);
        if (c != nullptr && is_tab_stop(c))
            return n;
    }
    return 0;
}

// ---- sending --------------------------------------------------------------

INT_PTR call_dialog_proc(uintptr_t dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    DLGPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *d = find(dialog);
        if (d == nullptr || d->kind != Kind::dialog)
            return 0;
        proc = d->proc;
    }
    return proc != nullptr ? proc(handle_of(dialog), message, wparam, lparam) : 0;
}

// A notification a control sends its dialog once the lock is released.
struct Notice {
    uintptr_t dialog = 0;
    int id = 0;
    WORD code = 0;
    uintptr_t control = 0;
};

void deliver(const Notice &n)
{
    if (n.dialog != 0)
        call_dialog_proc(n.dialog, WM_COMMAND, MAKEWPARAM(n.id, n.code),
                         static_cast<LPARAM>(n.control));
}

Notice notice(const Window *c, WORD code) { return Notice{c->parent, c->id, code, c->handle}; }

LRESULT copy_text(const std::string &text, WPARAM capacity, LPARAM buffer)
{
    char *out = reinterpret_cast<char *>(buffer);
    if (out == nullptr || capacity == 0)
        return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

bool accepts_char(const Window *c, unsigned char ch)
{
    if (c->type == Type::ip_address)
        return (ch >= '0' && ch <= '9') || ch == '.' || ch == '*';
    if ((c->style & ES_NUMBER) && !(ch >= '0' && ch <= '9'))
        return false;
    if (ch == '\r' || ch == '\n')
        return (c->style & ES_MULTILINE) && (c->style & ES_WANTRETURN);
    return ch >= 0x20 || ch == '\t';
}

// A character typed into an edit or address control: replaces the
// selection, as on Windows.
bool type_char(Window *c, unsigned char ch)
{
    if (c->style & ES_READONLY)
        return false;
    size_t from = std::min(c->select_from, c->text.size());
    size_t to = std::min(std::max(c->select_to, from), c->text.size());
    if (ch == VK_BACK) {
        if (from == to && from > 0)
            from--;
        c->text.erase(from, to - from);
    } else {
        if (!accepts_char(c, ch))
            return false;
        std::string insert = ch == '\r' ? std::string("\r\n") : std::string(1, static_cast<char>(ch));
        c->text.replace(from, to - from, insert);
        from += insert.size();
    }
    c->select_from = c->select_to = from;
    return true;
}

// Built-in behaviour of the control classes. Needs core().lock.
LRESULT control_message(Window *c, UINT message, WPARAM wparam, LPARAM lparam, Notice &out)
{
    switch (message) {
    case WM_SETTEXT:
        c->text = lparam != 0 ? reinterpret_cast<const char *>(lparam) : "";
        c->select_from = c->select_to = 0;
        return TRUE;
    case WM_GETTEXT:
        if (c->type == Type::combo)
            return copy_text(c->selection >= 0 ? c->items[c->selection] : "", wparam, lparam);
        return copy_text(c->text, wparam, lparam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(c->text.size());
    case EM_SETSEL: {
        long from = static_cast<long>(static_cast<int>(wparam));
        long to = static_cast<long>(static_cast<int>(lparam));
        if (from < 0) {
            c->select_from = c->select_to = c->text.size();
        } else {
            c->select_from = static_cast<size_t>(from);
            c->select_to = to < 0 ? c->text.size() : static_cast<size_t>(to);
        }
        return 0;
    }
    case WM_CHAR:
        if ((c->type == Type::edit || c->type == Type::ip_address) &&
            type_char(c, static_cast<unsigned char>(wparam)))
            out = notice(c, EN_CHANGE);
        return 0;
    case BM_CLICK:
        if (c->type == Type::button && c->enabled)
            out = notice(c, BN_CLICKED);
        return 0;
    case WM_KEYDOWN:
        if (c->type == Type::button && wparam == VK_SPACE && c->enabled)
            out = notice(c, BN_CLICKED);
        if (c->type == Type::combo && (wparam == VK_UP || wparam == VK_DOWN) && !c->items.empty()) {
            int last = static_cast<int>(c->items.size()) - 1;
            int next = c->selection + (wparam == VK_DOWN ? 1 : -1);
            next = std::clamp(next, 0, last);
            if (next != c->selection) {
                c->selection = next;
                out = notice(c, CBN_SELCHANGE);
            }
        }
        return 0;
    case kPickEntry:
        if (c->type == Type::combo && wparam < c->items.size()) {
            c->selection = static_cast<int>(wparam);
            out = notice(c, CBN_SELCHANGE);
        }
        return 0;
    case CB_ADDSTRING: {
        if (c->type != Type::combo)
            return CB_ERR;
        std::string item = lparam != 0 ? reinterpret_cast<const char *>(lparam) : "";
        auto at = c->items.end();
        if (c->style & CBS_SORT)
            at = std::upper_bound(c->items.begin(), c->items.end(), item);
        at = c->items.insert(at, item);
        return at - c->items.begin();
    }
    case CB_GETCOUNT:
        return c->type == Type::combo ? static_cast<LRESULT>(c->items.size()) : CB_ERR;
    case CB_GETCURSEL:
        return c->type == Type::combo ? c->selection : CB_ERR;
    case CB_SETCURSEL:
        if (c->type != Type::combo)
            return CB_ERR;
        // An index out of range removes the selection, as on Windows.
        if (wparam < c->items.size()) {
            c->selection = static_cast<int>(wparam);
            return c->selection;
        }
        c->selection = -1;
        return CB_ERR;
    case PBM_SETRANGE: {
        if (c->type != Type::progress)
            return 0;
        LRESULT old = MAKELONG(c->range_low, c->range_high);
        c->range_low = LOWORD(lparam);
        c->range_high = HIWORD(lparam);
        c->position = std::clamp(c->position, c->range_low, std::max(c->range_low, c->range_high));
        return old;
    }
    case PBM_SETPOS: {
        if (c->type != Type::progress)
            return 0;
        int old = c->position;
        // Windows keeps the position within the range.
        c->position = std::clamp(static_cast<int>(wparam), c->range_low,
                                 std::max(c->range_low, c->range_high));
        return old;
    }
    case PBM_GETPOS:
        return c->type == Type::progress ? c->position : 0;
    default:
        return 0;
    }
}

int default_button_id(Window *d)
{
    for (uintptr_t n : d->children) {
        Window *c = find(n);
        if (c != nullptr && c->type == Type::button && (c->style & 0x0F) == BS_DEFPUSHBUTTON)
            return c->id;
    }
    return 0;
}

// What DefDlgProc does for a dialog message its procedure left alone.
LRESULT default_dialog_message(uintptr_t dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    std::unique_lock<std::mutex> guard(core().lock);
    Window *d = find(dialog);
    if (d == nullptr)
        return 0;
    switch (message) {
    case WM_SETTEXT:
        d->text = lparam != 0 ? reinterpret_cast<const char *>(lparam) : "";
        return TRUE;
    case WM_GETTEXT:
        return copy_text(d->text, wparam, lparam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(d->text.size());
    case DM_GETDEFID: {
        int id = default_button_id(d);
        return id != 0 ? MAKELONG(id, DC_HASDEFID) : 0;
    }
    case WM_CLOSE: {
        Window *cancel = child_by_id(d, IDCANCEL);
        LPARAM control = cancel != nullptr ? static_cast<LPARAM>(cancel->handle) : 0;
        guard.unlock();
        call_dialog_proc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), control);
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT send(uintptr_t target, UINT message, WPARAM wparam, LPARAM lparam)
{
    Kind kind;
    LRESULT result = 0;
    Notice n;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(target);
        if (w == nullptr)
            return 0;
        kind = w->kind;
        if (kind == Kind::control)
            result = control_message(w, message, wparam, lparam, n);
        if (kind == Kind::message_box && message == WM_GETTEXT)
            result = copy_text(w->text, wparam, lparam);
    }
    if (kind == Kind::dialog) {
        INT_PTR handled = call_dialog_proc(target, message, wparam, lparam);
        if (handled)
            return handled;
        return default_dialog_message(target, message, wparam, lparam);
    }
    deliver(n);
    if (message == WM_SETTEXT || message == WM_CHAR || n.dialog != 0 || message == PBM_SETPOS ||
        message == CB_SETCURSEL || message == CB_ADDSTRING)
        report_changed();
    return result;
}

// ---- the dialog manager ---------------------------------------------------

void move_focus(uintptr_t dialog, bool backward)
{
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *d = find(dialog);
        if (d == nullptr)
            return;
        std::vector<uintptr_t> stops;
        for (uintptr_t n : d->children) {
            Window *c = find(n);
            if (c != nullptr && is_tab_stop(c))
                stops.push_back(n);
        }
        if (stops.empty())
            return;
        auto at = std::find(stops.begin(), stops.end(), d->focus);
        size_t i = at == stops.end() ? 0 : static_cast<size_t>(at - stops.begin());
        size_t count = stops.size();
        size_t next = at == stops.end() ? (backward ? count - 1 : 0)
                                        : (backward ? (i + count - 1) % count : (i + 1) % count);
        d->focus = stops[next];
        Window *c = find(d->focus);
        if (c->type == Type::edit || c->type == Type::ip_address) {
            c->select_from = 0;
            c->select_to = c->text.size();
        }
    }
    report_changed();
}

// The keyboard handling a modal dialog's loop gives its own messages
// (IsDialogMessage): Enter presses the focused push button or the default
// one, Escape is Cancel, Tab moves the focus. True when the message was
// taken here.
bool dialog_manager(uintptr_t dialog, const MSG &m)
{
    if (m.message != WM_KEYDOWN)
        return false;
    int command = 0;
    uintptr_t button = 0;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        if (!is_same_or_child(number(m.hwnd), dialog))
            return false;
        Window *d = find(dialog);
        Window *focus = find(d->focus);
        switch (m.wParam) {
        case VK_RETURN: {
            if (focus != nullptr && focus->type == Type::edit && (focus->style & ES_WANTRETURN))
                return false;
            if (focus != nullptr && is_push_button(focus)) {
                command = focus->id;
            } else {
                command = default_button_id(d);
                if (command == 0)
                    command = IDOK;
            }
            Window *b = child_by_id(d, command);
            if (b != nullptr && !b->enabled)
                return true;
            button = b != nullptr ? b->handle : 0;
            break;
        }
        case VK_ESCAPE: {
            command = IDCANCEL;
            Window *b = child_by_id(d, IDCANCEL);
            button = b != nullptr ? b->handle : 0;
            break;
        }
        case VK_TAB:
            break;
        default:
            return false;
        }
    }
    if (m.wParam == VK_TAB)
        move_focus(dialog, m.lParam == kShiftDown);
    else
        call_dialog_proc(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                         static_cast<LPARAM>(button));
    return true;
}

// ---- showing and destroying -----------------------------------------------

void show(uintptr_t n)
{
    bool report = false;
    int template_id = 0;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(n);
        if (w == nullptr)
            return;
        w->visible = true;
        raise(n);
        if (w->kind == Kind::dialog && !w->announced && !w->ended) {
            w->announced = true;
            report = true;
            template_id = w->template_id;
        }
    }
    if (report)
        report_opened(n, template_id);
    report_changed();
}

bool destroy(uintptr_t n)
{
    bool report = false;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(n);
        if (w == nullptr || w->kind == Kind::control || w->owner_thread != GetCurrentThreadId())
            return false;
    }
    call_dialog_proc(n, WM_DESTROY, 0, 0);
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(n);
        if (w == nullptr)
            return false;
        report = w->announced;
        std::set<uintptr_t> gone(w->children.begin(), w->children.end());
        gone.insert(n);
        purge(w->queue, gone);
        unlist(n);
        for (uintptr_t c : gone)
            core().windows.erase(c);
    }
    if (report)
        report_closed(n);
    report_changed();
    return true;
}

HWND create_dialog(LPCSTR name, HWND owner, DLGPROC proc, LPARAM init, bool modal)
{
    const RcScript *script = templates();
    const RcDialog *t = script != nullptr ? script->find_dialog(template_number(name)) : nullptr;
    if (t == nullptr)
        return nullptr;
    uintptr_t n, tab;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        if (owner != nullptr && find(owner) == nullptr)
            return nullptr;
        Window *d = build_dialog(*t, owner, proc, modal);
        n = d->handle;
        tab = first_tab_stop(d);
    }
    INT_PTR set_focus = call_dialog_proc(n, WM_INITDIALOG, static_cast<WPARAM>(tab), init);
    bool visible = false;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *d = find(n);
        if (d == nullptr)
            return nullptr;
        if (set_focus && tab != 0 && find(tab) != nullptr)
            d->focus = tab;
        visible = (d->style & WS_VISIBLE) != 0;
    }
    if (visible && !modal)
        show(n);
    return handle_of(n);
}

// ---- message boxes --------------------------------------------------------

struct ButtonSet {
    UINT type;
    int ids[3];
    const char *texts[3];
};

constexpr ButtonSet kButtonSets[] = {
    {MB_OK, {IDOK, 0, 0}, {"OK", nullptr, nullptr}},
    {MB_OKCANCEL, {IDOK, IDCANCEL, 0}, {"OK", "Cancel", nullptr}},
    {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, {"&Abort", "&Retry", "&Ignore"}},
    {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, {"&Yes", "&No", "Cancel"}},
    {MB_YESNO, {IDYES, IDNO, 0}, {"&Yes", "&No", nullptr}},
    {MB_RETRYCANCEL, {IDRETRY, IDCANCEL, 0}, {"&Retry", "Cancel", nullptr}},
};

const ButtonSet &buttons_for(UINT style)
{
    for (const ButtonSet &set : kButtonSets)
        if (set.type == (style & MB_TYPEMASK))
            return set;
    return kButtonSets[0];
}

// Escape closes a box with a Cancel button, and a box whose only button
// is OK; other boxes ignore it, as on Windows.
int escape_button(const Window *box)
{
    for (int id : box->buttons)
        if (id == IDCANCEL)
            return IDCANCEL;
    return box->buttons.size() == 1 && box->buttons[0] == IDOK ? IDOK : 0;
}

uintptr_t build_message_box(HWND owner, const std::string &text, const std::string &caption,
                            UINT style, std::vector<uintptr_t> &disabled)
{
    Window *b = new_top_level(Kind::message_box, owner, caption);
    b->box_style = style;
    b->visible = true;
    const ButtonSet &set = buttons_for(style);
    new_control(b, kMessageTextId, "Static", text, WS_CHILD | WS_VISIBLE);
    for (int i = 0; i < 3 && set.ids[i] != 0; i++) {
        b->buttons.push_back(set.ids[i]);
        new_control(b, set.ids[i], "Button", set.texts[i], WS_CHILD | WS_VISIBLE);
    }
    b->focus = b->children[1];
    int width = std::clamp(static_cast<int>(std::max(text.size(), caption.size())) * 6 + 40, 160, 900);
    int height = 120;
    b->rect = {(kScreenWidth - width) / 2, (kScreenHeight - height) / 2,
               (kScreenWidth + width) / 2, (kScreenHeight + height) / 2};

    // A task-modal box disables every top-level window of its thread; any
    // other box disables its owner.
    for (auto &[n, w] : core().windows) {
        bool top = w->kind != Kind::control && n != b->handle;
        bool hit = (style & MB_TASKMODAL) ? (top && w->owner_thread == b->owner_thread)
                                          : (n == number(owner));
        if (hit && w->enabled) {
            w->enabled = false;
            disabled.push_back(n);
        }
    }
    raise(b->handle);
    return b->handle;
}

// The box's own keyboard: Enter presses the focused button, Escape as
// escape_button says.
bool box_key(uintptr_t box, const MSG &m, int &pressed)
{
    if (m.message != WM_KEYDOWN || number(m.hwnd) != box)
        return false;
    std::lock_guard<std::mutex> guard(core().lock);
    Window *b = find(box);
    if (m.wParam == VK_RETURN) {
        Window *focus = find(b->focus);
        pressed = focus != nullptr ? focus->id : b->buttons.front();
    } else if (m.wParam == VK_ESCAPE) {
        pressed = escape_button(b);
    }
    return true;
}

// ---- checks on a person's input -------------------------------------------

std::string number_text(uintptr_t n) { return std::to_string(n); }

// Needs core().lock. Can a person reach this window now?
std::string check_reachable(Window *w, uintptr_t n)
{
    if (w == nullptr || w->kind == Kind::control)
        return "no window " + number_text(n);
    if (!w->visible)
        return "window " + number_text(n) + " is not visible";
    if (!w->enabled)
        return "window " + number_text(n) + " is disabled";
    return "";
}

std::string check_control(Window *w, uintptr_t n, int id, Window *&out)
{
    std::string why = check_reachable(w, n);
    if (!why.empty())
        return why;
    out = child_by_id(w, id);
    if (out == nullptr)
        return "window " + number_text(n) + " has no control " + std::to_string(id);
    if (!out->visible || !out->enabled)
        return "control " + std::to_string(id) + " is disabled";
    return "";
}

// The common part of typing and picking: under the lock, finds control
// `control_id` of `dialog`, checks that a person can reach it and that
// `suits` takes it (an empty text), and gives the queue of the thread that
// owns it and its handle. The input is posted after the lock is let go.
template <typename Suits>
std::string take_control(HWND dialog, int control_id, std::shared_ptr<Queue> &queue, HWND &target,
                         const Suits &suits)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *w = find(dialog), *c = nullptr;
    std::string why = check_control(w, number(dialog), control_id, c);
    if (why.empty())
        why = suits(c);
    if (!why.empty())
        return why;
    queue = w->queue;
    target = handle_of(c->handle);
    return "";
}

} // namespace

// ---- the front end's side ---------------------------------------------------

void install_front_end(FrontEnd *front_end)
{
    {
        std::lock_guard<std::mutex> guard(core().lock);
        core().front_end = front_end;
    }
    before_process_exit = [](UINT code) {
        if (FrontEnd *fe = ::front_end())
            fe->exiting(code);
    };
}

bool view_window(HWND window, WindowView &out)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *w = find(window);
    if (w == nullptr || w->kind == Kind::control || !w->visible)
        return false;
    out = WindowView{};
    out.handle = window;
    out.template_id = w->template_id;
    out.message_box = w->kind == Kind::message_box;
    out.box_style = w->box_style;
    out.caption = w->text;
    out.style = w->style;
    out.rect = w->rect;
    out.enabled = w->enabled;
    int default_id = w->kind == Kind::dialog ? default_button_id(w) : 0;
    for (uintptr_t n : w->children) {
        Window *c = find(n);
        if (c == nullptr)
            continue;
        ControlView v;
        v.id = c->id;
        v.window_class = c->window_class;
        v.text = c->type == Type::combo ? (c->selection >= 0 ? c->items[c->selection] : "") : c->text;
        v.style = c->style;
        v.rect = control_rect(w, c);
        v.x = c->x;
        v.y = c->y;
        v.width = c->width;
        v.height = c->height;
        v.visible = c->visible;
        v.enabled = c->enabled;
        v.focused = w->focus == n;
        v.is_default = c->type == Type::button && c->id == default_id;
        v.range_low = c->range_low;
        v.range_high = c->range_high;
        v.position = c->position;
        v.items = c->items;
        v.selection = c->selection;
        out.controls.push_back(std::move(v));
    }
    return true;
}

std::vector<HWND> visible_windows()
{
    std::lock_guard<std::mutex> guard(core().lock);
    std::vector<HWND> out;
    for (uintptr_t n : core().z_order)
        out.push_back(handle_of(n));
    return out;
}

std::string input_click(HWND dialog, int control_id)
{
    std::shared_ptr<Queue> queue;
    HWND target;
    UINT message = BM_CLICK;
    WPARAM wparam = 0;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(dialog), *c = nullptr;
        if (w != nullptr && w->kind == Kind::message_box) {
            std::string why = check_reachable(w, number(dialog));
            if (!why.empty())
                return why;
            if (std::find(w->buttons.begin(), w->buttons.end(), control_id) == w->buttons.end())
                return "message box " + number_text(number(dialog)) + " has no button " +
                       std::to_string(control_id);
            target = dialog;
            message = kPressButton;
            wparam = static_cast<WPARAM>(control_id);
        } else {
            std::string why = check_control(w, number(dialog), control_id, c);
            if (!why.empty())
                return why;
            if (c->type != Type::button)
                return "control " + std::to_string(control_id) + " is not a button";
            target = handle_of(c->handle);
        }
        queue = w->queue;
    }
    post_to(queue, target, message, wparam, 0);
    return "";
}

std::string input_type(HWND dialog, int control_id, const std::string &text)
{
    std::shared_ptr<Queue> queue;
    HWND target = nullptr;
    std::string why = take_control(dialog, control_id, queue, target, [&](const Window *c) -> std::string {
        if (c->type != Type::edit && c->type != Type::ip_address)
            return "control " + std::to_string(control_id) + " takes no typing";
        if (c->style & ES_READONLY)
            return "control " + std::to_string(control_id) + " is read-only";
        for (char ch : text)
            if (!accepts_char(c, static_cast<unsigned char>(ch)))
                return "control " + std::to_string(control_id) + " does not take the character " +
                       std::to_string(static_cast<unsigned char>(ch));
        return "";
    });
    if (!why.empty())
        return why;
    // A person selects the whole text and types over it.
    post_to(queue, target, EM_SETSEL, 0, -1);
    if (text.empty())
        post_to(queue, target, WM_CHAR, VK_BACK, 0);
    for (char ch : text)
        post_to(queue, target, WM_CHAR, static_cast<unsigned char>(ch), 0);
    return "";
}

std::string input_select(HWND dialog, int control_id, int index)
{
    std::shared_ptr<Queue> queue;
    HWND target = nullptr;
    std::string why = take_control(dialog, control_id, queue, target, [&](const Window *c) -> std::string {
        if (c->type != Type::combo)
            return "control " + std::to_string(control_id) + " is not a list";
        if (index < 0 || static_cast<size_t>(index) >= c->items.size())
            return "list " + std::to_string(control_id) + " has no entry " + std::to_string(index);
        return "";
    });
    if (!why.empty())
        return why;
    post_to(queue, target, kPickEntry, static_cast<WPARAM>(index), 0);
    return "";
}

std::string input_key(HWND dialog, InputKey key)
{
    std::shared_ptr<Queue> queue;
    HWND target;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(dialog);
        std::string why = check_reachable(w, number(dialog));
        if (!why.empty())
            return why;
        // Keys go to the focused control, or to the window itself.
        target = w->kind == Kind::message_box || w->focus == 0 ? dialog : handle_of(w->focus);
        queue = w->queue;
    }
    WPARAM vk = 0;
    LPARAM flags = 0;
    switch (key) {
    case InputKey::enter: vk = VK_RETURN; break;
    case InputKey::escape: vk = VK_ESCAPE; break;
    case InputKey::tab: vk = VK_TAB; break;
    case InputKey::shift_tab: vk = VK_TAB; flags = kShiftDown; break;
    case InputKey::space: vk = VK_SPACE; break;
    case InputKey::up: vk = VK_UP; break;
    case InputKey::down: vk = VK_DOWN; break;
    }
    post_to(queue, target, WM_KEYDOWN, vk, flags);
    return "";
}

std::string input_press(HWND box, int button_id)
{
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(box);
        if (w == nullptr || w->kind != Kind::message_box)
            return "no message box " + number_text(number(box));
    }
    return input_click(box, button_id);
}

long set_window_pos_count() { return set_window_pos_calls.load(); }

// ---- Win32 -------------------------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA *wc)
{
    if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpszClassName[0] == '\0' ||
        wc->lpfnWndProc == nullptr)
        return 0;
    std::string name;
    for (const char *p = wc->lpszClassName; *p != '\0'; p++)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    std::lock_guard<std::mutex> guard(core().lock);
    if (!core().classes.insert(name).second)
        return 0;  // already registered
    return static_cast<ATOM>(0xC000 + core().classes.size());
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR template_name, HWND owner, DLGPROC proc, LPARAM init)
{
    HWND dialog = create_dialog(template_name, owner, proc, init, true);
    if (dialog == nullptr)
        return -1;
    uintptr_t n = number(dialog);
    bool ended;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        ended = find(n) == nullptr || find(n)->ended;
    }
    if (!ended)
        show(n);
    INT_PTR result = -1;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(core().lock);
            Window *d = find(n);
            if (d == nullptr)
                return -1;
            if (d->ended) {
                result = d->result;
                break;
            }
        }
        MSG m = wait_message();
        if (!dialog_manager(n, m))
            DispatchMessageA(&m);
    }
    destroy(n);
    return result;
}

HWND CreateDialogParamA(HINSTANCE, LPCSTR template_name, HWND owner, DLGPROC proc, LPARAM init)
{
    return create_dialog(template_name, owner, proc, init, false);
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    bool report = false;
    std::shared_ptr<Queue> queue;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *d = find(dialog);
        if (d == nullptr || d->kind != Kind::dialog)
            return FALSE;
        d->ended = true;
        d->result = result;
        queue = d->queue;
        if (!d->modal) {
            // A modeless dialog is only hidden; it stays until destroyed.
            d->visible = false;
            unlist(d->handle);
            report = d->announced;
            d->announced = false;
        }
    }
    if (report)
        report_closed(number(dialog));
    // Wake the modal loop in case it waits for a message.
    post_to(queue, dialog, WM_NULL, 0, 0);
    return TRUE;
}

BOOL DestroyWindow(HWND window) { return destroy(number(window)) ? TRUE : FALSE; }

BOOL ShowWindow(HWND window, int command)
{
    bool was_visible;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(window);
        if (w == nullptr)
            return FALSE;
        was_visible = w->visible;
        if (command == SW_HIDE) {
            w->visible = false;
            unlist(w->handle);
        }
    }
    if (command != SW_HIDE)
        show(number(window));
    else
        report_changed();
    return was_visible ? TRUE : FALSE;
}

BOOL IsWindow(HWND window)
{
    std::lock_guard<std::mutex> guard(core().lock);
    return find(window) != nullptr ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *w = find(window);
    return w != nullptr && w->enabled ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *w = find(window);
    if (w == nullptr)
        return FALSE;
    bool was_disabled = !w->enabled;
    w->enabled = enable != FALSE;
    return was_disabled ? TRUE : FALSE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text)
{
    return send(number(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int capacity)
{
    if (buffer == nullptr || capacity <= 0)
        return 0;
    buffer[0] = '\0';
    return static_cast<int>(send(number(window), WM_GETTEXT, static_cast<WPARAM>(capacity),
                                 reinterpret_cast<LPARAM>(buffer)));
}

HWND GetDlgItem(HWND dialog, int id)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *d = find(dialog);
    if (d == nullptr || d->kind == Kind::control)
        return nullptr;
    Window *c = child_by_id(d, id);
    return c != nullptr ? handle_of(c->handle) : nullptr;
}

int GetDlgCtrlID(HWND control)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *c = find(control);
    return c != nullptr && c->kind == Kind::control ? c->id : 0;
}

HWND GetParent(HWND window)
{
    std::lock_guard<std::mutex> guard(core().lock);
    Window *w = find(window);
    return w != nullptr ? handle_of(w->parent) : nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? SetWindowTextA(control, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int capacity)
{
    if (buffer != nullptr && capacity > 0)
        buffer[0] = '\0';
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? static_cast<UINT>(GetWindowTextA(control, buffer, capacity)) : 0;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return send(number(window), message, wparam, lparam);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam)
{
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? SendMessageA(control, message, wparam, lparam) : 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    std::shared_ptr<Queue> queue;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(window);
        if (w == nullptr)
            return FALSE;
        queue = w->queue;
    }
    post_to(queue, window, message, wparam, lparam);
    return TRUE;
}

HWND SetFocus(HWND window)
{
    uintptr_t previous = 0;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *c = find(window);
        Window *top = top_level_of(c);
        if (top == nullptr)
            return nullptr;
        previous = top->focus;
        top->focus = c->kind == Kind::control ? c->handle : 0;
    }
    report_changed();
    return handle_of(previous);
}

HWND GetFocus()
{
    std::lock_guard<std::mutex> guard(core().lock);
    DWORD thread = GetCurrentThreadId();
    auto &z = core().z_order;
    for (auto it = z.rbegin(); it != z.rend(); ++it) {
        Window *w = find(*it);
        if (w != nullptr && w->owner_thread == thread)
            return handle_of(w->focus);
    }
    return nullptr;
}

BOOL PeekMessageA(MSG *msg, HWND window, UINT first, UINT last, UINT remove)
{
    if (msg == nullptr)
        return FALSE;
    auto queue = current_queue();
    std::lock_guard<std::mutex> guard(core().lock);
    uintptr_t filter = number(window);
    if (filter != 0) {
        // Only the calling thread's own windows can be filtered on.
        Window *w = find(filter);
        if (w == nullptr || w->owner_thread != GetCurrentThreadId())
            return FALSE;
    }
    std::lock_guard<std::mutex> queue_guard(queue->lock);
    auto &q = queue->messages;
    for (auto it = q.begin(); it != q.end(); ++it) {
        if (filter != 0 && !is_same_or_child(number(it->hwnd), filter))
            continue;
        if ((first != 0 || last != 0) && (it->message < first || it->message > last))
            continue;
        *msg = *it;
        if (remove & PM_REMOVE)
            q.erase(it);
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG *)
{
    // Typed characters already arrive as WM_CHAR: there is nothing to translate.
    return FALSE;
}

LRESULT DispatchMessageA(const MSG *msg)
{
    if (msg == nullptr)
        return 0;
    Kind kind;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(msg->hwnd);
        if (w == nullptr)
            return 0;
        kind = w->kind;
    }
    if (kind == Kind::message_box)
        return 0;  // a box answers its own messages in MessageBoxA
    if (kind == Kind::dialog && msg->message == WM_KEYDOWN)
        return 0;  // without the dialog manager a key means nothing to a dialog
    return send(number(msg->hwnd), msg->message, msg->wParam, msg->lParam);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    std::string body = text != nullptr ? text : "";
    std::string title = caption != nullptr ? caption : "Error";
    std::vector<uintptr_t> disabled;
    uintptr_t box;
    FrontEnd *fe;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        box = build_message_box(owner, body, title, style, disabled);
        fe = core().front_end;
    }
    if (fe != nullptr)
        fe->message_box(handle_of(box), style, title, body);
    report_changed();

    // The box's own modal loop: it runs the thread's other messages too,
    // as Windows' does, until a button is pressed.
    int pressed = 0;
    while (pressed == 0) {
        MSG m = wait_message();
        if (number(m.hwnd) == box) {
            if (m.message == kPressButton)
                pressed = static_cast<int>(m.wParam);
            else
                box_key(box, m, pressed);
            continue;
        }
        DispatchMessageA(&m);
    }
    {
        std::lock_guard<std::mutex> guard(core().lock);
        for (uintptr_t n : disabled)
            if (Window *w = find(n))
                w->enabled = true;
        Window *b = find(box);
        std::set<uintptr_t> gone(b->children.begin(), b->children.end());
        gone.insert(box);
        purge(b->queue, gone);
        unlist(box);
        for (uintptr_t n : gone)
            core().windows.erase(n);
    }
    report_closed(box);
    report_changed();
    return pressed;
}

BOOL GetWindowRect(HWND window, RECT *rect)
{
    if (rect == nullptr)
        return FALSE;
    std::lock_guard<std::mutex> guard(core().lock);
    Window *w = find(window);
    if (w == nullptr)
        return FALSE;
    if (w->kind == Kind::control) {
        Window *d = find(w->parent);
        if (d == nullptr)
            return FALSE;
        *rect = control_rect(d, w);
    } else {
        *rect = w->rect;
    }
    return TRUE;
}

int GetSystemMetrics(int index)
{
    switch (index) {
    case SM_CXSCREEN: return kScreenWidth;
    case SM_CYSCREEN: return kScreenHeight;
    default: return 0;
    }
}

BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags)
{
    set_window_pos_calls++;
    {
        std::lock_guard<std::mutex> guard(core().lock);
        Window *w = find(window);
        if (w == nullptr || w->kind == Kind::control)
            return FALSE;
        RECT &r = w->rect;
        int width = r.right - r.left, height = r.bottom - r.top;
        if (!(flags & SWP_NOSIZE)) {
            width = cx;
            height = cy;
        }
        if (!(flags & SWP_NOMOVE)) {
            r.left = x;
            r.top = y;
        }
        r.right = r.left + width;
        r.bottom = r.top + height;
        if (!(flags & SWP_NOZORDER) && insert_after == HWND_TOP && w->visible)
            raise(w->handle);
    }
    report_changed();
    return TRUE;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX *init)
{
    // The progress bar and the address control are always there; like
    // Windows, refuse a structure of the wrong size.
    return init != nullptr && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}
