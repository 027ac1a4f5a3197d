// platform/tty_layout.cpp: dialogs and message boxes as character cells
// for the terminal front end.
#include "platform/tty_layout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <string_view>

namespace tty {

std::string without_mnemonic(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '&' && i + 1 < text.size())
            i++;
        out += text[i];
    }
    return out;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                i++;
            lines.emplace_back();
            continue;
        }
        // A terminal must not get control characters from a text.
        lines.back() += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    }
    return lines;
}

std::vector<std::string> wrap(const std::string &line, int width)
{
    std::vector<std::string> out;
    if (width < 1)
        width = 1;
    size_t at = 0;
    const size_t w = static_cast<size_t>(width);
    while (line.size() - at > w) {
        size_t cut = line.rfind(' ', at + w);
        if (cut == std::string::npos || cut <= at)
            cut = at + w;  // one word longer than the line
        out.push_back(line.substr(at, cut - at));
        at = cut;
        while (at < line.size() && line[at] == ' ')
            at++;
    }
    out.push_back(line.substr(at));
    return out;
}

namespace {

enum class Kind { button, text, icon, edit, combo, progress, ip, other };

constexpr int kUnitsPerColumn = 4;
constexpr double kUnitsPerRow = 8.0;
constexpr double kMostUnitsPerRow = 40.0;  // squeezing stops here
constexpr int kComboHeight = 14;           // a closed drop-down list, in dialog units
constexpr int kPickListRows = 8;

bool same_name(const std::string &a, const char *b)
{
    size_t n = 0;
    for (; b[n] != '\0'; n++)
        if (n >= a.size() || std::tolower(static_cast<unsigned char>(a[n])) !=
                                 std::tolower(static_cast<unsigned char>(b[n])))
            return false;
    return n == a.size();
}

Kind kind_of(const ControlView &c)
{
    if (same_name(c.window_class, "Button"))
        return Kind::button;
    if (same_name(c.window_class, "Static"))
        return (c.style & 0x1F) == SS_ICON ? Kind::icon : Kind::text;
    if (same_name(c.window_class, "Edit"))
        return Kind::edit;
    if (same_name(c.window_class, "ComboBox"))
        return Kind::combo;
    if (same_name(c.window_class, "msctls_progress32"))
        return Kind::progress;
    if (same_name(c.window_class, "SysIPAddress32"))
        return Kind::ip;
    return Kind::other;
}

// A control in client cells, with the lines of its text.
struct Placed {
    const ControlView *c = nullptr;
    Kind kind = Kind::other;
    int row = 0, col = 0, rows = 1, cols = 1;
    bool multi_line = false;  // a text of several lines (static, multi-line edit)
    bool wraps = false;
    bool framed = false;      // drawn between brackets
    std::vector<std::string> lines;
};

bool single_row(const Placed &p)
{
    switch (p.kind) {
    case Kind::button: case Kind::combo: case Kind::ip: case Kind::progress: case Kind::icon:
        return true;
    case Kind::edit:
        return !(p.c->style & ES_MULTILINE);
    default:
        return p.c->height <= 12;
    }
}

void place(Placed &p, double units_per_row)
{
    const ControlView &c = *p.c;
    p.col = (c.x + kUnitsPerColumn / 2) / kUnitsPerColumn;
    p.cols = std::max(1, c.width / kUnitsPerColumn);
    if (single_row(p)) {
        // The middle of a one-line control decides its row, so a label and
        // the field beside it meet on one row.
        int height = p.kind == Kind::combo ? kComboHeight : c.height;
        p.row = static_cast<int>((c.y + height / 2.0) / units_per_row);
        p.rows = 1;
    } else {
        p.row = static_cast<int>(c.y / units_per_row + 0.5);
        p.rows = std::max(1, static_cast<int>(c.height / units_per_row + 0.5));
    }
}

bool covers(const Placed &p, int row, int col)
{
    return row >= p.row && row < p.row + p.rows && col >= p.col && col < p.col + p.cols;
}

bool cell_free(const std::vector<Placed> &all, size_t self, int row, int col)
{
    for (size_t i = 0; i < all.size(); i++)
        if (i != self && covers(all[i], row, col))
            return false;
    return true;
}

bool column_free(const std::vector<Placed> &all, size_t self, int col)
{
    for (int r = all[self].row; r < all[self].row + all[self].rows; r++)
        if (!cell_free(all, self, r, col))
            return false;
    return true;
}

bool row_free(const std::vector<Placed> &all, size_t self, int row)
{
    for (int c = all[self].col; c < all[self].col + all[self].cols; c++)
        if (!cell_free(all, self, row, c))
            return false;
    return true;
}

// How far right the control can reach (exclusive), keeping a blank column
// before a neighbour.
int free_right(const std::vector<Placed> &all, size_t self, int max_cols)
{
    int end = all[self].col + all[self].cols;
    while (end < max_cols && column_free(all, self, end))
        end++;
    return end < max_cols && end > all[self].col + all[self].cols ? end - 1 : end;
}

int free_left(const std::vector<Placed> &all, size_t self)
{
    int start = all[self].col;
    while (start > 0 && column_free(all, self, start - 1))
        start--;
    return start > 0 && start < all[self].col ? start + 1 : start;
}

std::vector<std::string> lines_of(const Placed &p, int width)
{
    std::vector<std::string> out;
    for (const std::string &line : split_lines(p.c->text)) {
        std::string shown = p.kind == Kind::text && !(p.c->style & SS_NOPREFIX)
                                ? without_mnemonic(line) : line;
        if (!p.wraps) {
            out.push_back(shown);
            continue;
        }
        for (std::string &piece : wrap(shown, width))
            out.push_back(std::move(piece));
    }
    return out;
}

int longest(const std::vector<std::string> &lines)
{
    size_t n = 0;
    for (const std::string &l : lines)
        n = std::max(n, l.size());
    return static_cast<int>(n);
}

// Gives a text the room it needs from the free cells around it.
void fit_text(std::vector<Placed> &all, size_t i, int max_cols, int max_rows)
{
    Placed &p = all[i];
    int border = p.framed ? 2 : 0;
    p.lines = lines_of(p, p.cols - border);
    if (!p.wraps) {
        int need = longest(p.lines) + border;
        if (need > p.cols)
            p.cols = std::min(need, free_right(all, i, max_cols) - p.col);
        if (need > p.cols && p.kind == Kind::text) {
            int start = std::max(free_left(all, i), p.col + p.cols - need);
            p.cols += p.col - start;
            p.col = start;
        }
        return;
    }
    // A label of one row first spreads sideways, as it would stay on one
    // line in the narrower font; a text of several rows first takes the
    // free rows below it. Then either grows wider.
    if (p.rows == 1 && p.kind == Kind::text && p.lines.size() > 1) {
        int need = longest(split_lines(without_mnemonic(p.c->text)));
        int end = std::min(p.col + need, free_right(all, i, max_cols));
        int start = std::max(free_left(all, i), end - need);
        p.col = std::min(p.col, start);
        p.cols = std::max(p.cols, end - p.col);
        p.lines = lines_of(p, p.cols - border);
    }
    auto grow_down = [&] {
        while (static_cast<int>(p.lines.size()) > p.rows && p.row + p.rows < max_rows &&
               p.kind == Kind::text && row_free(all, i, p.row + p.rows))
            p.rows++;
    };
    grow_down();
    int right = free_right(all, i, max_cols);
    while (static_cast<int>(p.lines.size()) > p.rows && p.col + p.cols < right) {
        p.cols++;
        p.lines = lines_of(p, p.cols - border);
        grow_down();
    }
}

struct Layout {
    std::vector<Placed> controls;
    int rows = 0, cols = 0;  // client cells
};

Layout arrange(const WindowView &view, int screen_rows, int screen_cols)
{
    const int max_rows = std::max(1, screen_rows - 2), max_cols = std::max(1, screen_cols - 2);
    const int dialog_width = (view.rect.right - view.rect.left - 6) * 4 / 6;  // 6 px: two frames
    const int dialog_height = (view.rect.bottom - view.rect.top - 25) * 8 / 13;  // and the caption
    Layout out;
    for (double units_per_row = kUnitsPerRow;; units_per_row += 0.5) {
        out = Layout{};
        for (const ControlView &c : view.controls) {
            if (!c.visible)
                continue;
            Placed p;
            p.c = &c;
            p.kind = kind_of(c);
            p.multi_line = p.kind == Kind::text || (p.kind == Kind::edit && (c.style & ES_MULTILINE));
            p.wraps = p.kind == Kind::text || (p.multi_line && !(c.style & ES_AUTOHSCROLL));
            p.framed = p.kind == Kind::combo || p.kind == Kind::ip || p.kind == Kind::progress ||
                       (p.kind == Kind::edit && (c.style & WS_BORDER));
            place(p, units_per_row);
            out.controls.push_back(std::move(p));
        }
        int template_rows = std::max(1, static_cast<int>(dialog_height / units_per_row + 0.5));
        int bound = std::min(template_rows, max_rows);
        for (size_t i = 0; i < out.controls.size(); i++) {
            Kind k = out.controls[i].kind;
            if (k == Kind::text || k == Kind::edit)
                fit_text(out.controls, i, max_cols, bound);
        }
        // The caption is shown whole.
        int bottom = 0, right = std::max((dialog_width + 2) / kUnitsPerColumn,
                                         static_cast<int>(view.caption.size()) + 2);
        for (const Placed &p : out.controls) {
            bottom = std::max(bottom, p.row + p.rows);
            right = std::max(right, p.col + p.cols + 1);
        }
        out.cols = std::min(right, max_cols);
        out.rows = template_rows;
        if (out.rows <= max_rows)
            return out;
        if (bottom + 1 <= max_rows || units_per_row >= kMostUnitsPerRow) {
            // Empty rows at the bottom go first; then the rows are squeezed.
            out.rows = bottom + 1;
            return out;
        }
    }
}

// Joins pieces without `"literal" + std::string`, which GCC 12 at -O3
// warns about wrongly.
std::string joined(std::initializer_list<std::string_view> pieces)
{
    std::string out;
    for (std::string_view p : pieces)
        out.append(p);
    return out;
}

std::string fit(const std::string &text, int width, int align)
{
    if (width <= 0)
        return "";
    if (static_cast<int>(text.size()) >= width)
        return text.substr(0, static_cast<size_t>(width));
    int room = width - static_cast<int>(text.size());
    int before = align == 1 ? room / 2 : align == 2 ? room : 0;
    std::string out(static_cast<size_t>(before), ' ');
    out += text;
    out.append(static_cast<size_t>(room - before), ' ');
    return out;
}

class Painter {
public:
    Painter(Frame &frame) : f_(frame) {}
    void put(int row, int col, const std::string &text, Look look)
    {
        int client_cols = f_.cols - 2;
        if (row < 0 || row >= f_.rows - 2 || col >= client_cols || text.empty())
            return;
        std::string cut = text.substr(0, static_cast<size_t>(std::max(0, client_cols - col)));
        f_.spans.push_back(Span{f_.top + 1 + row, f_.left + 1 + col, cut, look});
    }
    // On the right frame, where a scroll bar would be.
    void edge(int row, const char *mark)
    {
        if (row >= 0 && row < f_.rows - 2)
            f_.spans.push_back(Span{f_.top + 1 + row, f_.left + f_.cols - 1, mark, Look::mark});
    }
    void cursor(int row, int col, bool visible)
    {
        f_.cursor_row = f_.top + 1 + row;
        f_.cursor_col = f_.left + 1 + std::min(col, f_.cols - 3);
        f_.cursor_visible = visible;
    }

private:
    Frame &f_;
};

void paint_button(Painter &out, const Placed &p, bool active)
{
    std::string label = without_mnemonic(p.c->text);
    // The default button shows its text between angle brackets.
    std::string inner = p.c->is_default ? joined({"<", label, ">"}) : label;
    std::string text = joined({"[", fit(inner, p.cols - 2, 1), "]"});
    out.put(p.row, p.col, text, p.c->focused && active ? Look::focused : Look::button);
    if (p.c->focused)
        out.cursor(p.row, p.col + 1, false);
}

void paint_field(Painter &out, const Placed &p, bool active)
{
    const ControlView &c = *p.c;
    bool editable = !(c.style & ES_READONLY) && c.enabled;
    std::string text = c.text;
    if (c.style & ES_PASSWORD)
        text.assign(text.size(), '*');
    int border = p.framed ? 1 : 0;
    int inner = std::max(0, p.cols - 2 * border - (p.kind == Kind::combo ? 2 : 0));
    // While typing, the end of a long text is what matters.
    std::string shown = editable && c.focused && static_cast<int>(text.size()) >= inner
                            ? text.substr(text.size() - static_cast<size_t>(std::max(0, inner - 1)))
                            : text;
    int align = p.kind != Kind::edit ? 0 : (c.style & ES_CENTER) ? 1 : (c.style & ES_RIGHT) ? 2 : 0;
    std::string body = fit(split_lines(shown).front(), inner, align);
    if (p.kind == Kind::combo)
        body += " v";
    Look look = editable || p.kind == Kind::combo ? Look::field : Look::plain;
    if (c.focused && active && p.kind == Kind::combo)
        look = Look::focused;
    if (border)
        out.put(p.row, p.col, "[", Look::plain);
    out.put(p.row, p.col + border, body, look);
    if (border)
        out.put(p.row, p.col + border + static_cast<int>(body.size()), "]", Look::plain);
    if (c.focused) {
        int at = std::min(static_cast<int>(split_lines(shown).front().size()), std::max(0, inner - 1));
        out.cursor(p.row, p.col + border + (editable && align == 0 ? at : 0), editable);
    }
}

void paint_text(Painter &out, Frame &frame, const Placed &p, const ViewState &state)
{
    const ControlView &c = *p.c;
    int room = std::max(0, static_cast<int>(p.lines.size()) - p.rows);
    auto it = state.scroll.find(c.id);
    int first = std::clamp(it != state.scroll.end() ? it->second : 0, 0, room);
    if (p.kind == Kind::edit && room > 0)
        frame.scroll_room[c.id] = room;
    int align = p.kind == Kind::text ? static_cast<int>(c.style & 0x03)
                                     : (c.style & ES_CENTER) ? 1 : (c.style & ES_RIGHT) ? 2 : 0;
    for (int r = 0; r < p.rows && first + r < static_cast<int>(p.lines.size()); r++) {
        std::string line = p.lines[static_cast<size_t>(first + r)];
        out.put(p.row + r, p.col, align == 0 ? line : fit(line, p.cols, align), Look::plain);
    }
    // Marks on the frame tell that a text scrolls, and which way.
    if (first > 0)
        out.edge(p.row, "^");
    if (first < room)
        out.edge(p.row + p.rows - 1, "v");
    if (c.focused)
        out.cursor(p.row, p.col, false);
}

void paint_progress(Painter &out, const Placed &p)
{
    const ControlView &c = *p.c;
    int inner = std::max(0, p.cols - 2);
    int span = c.range_high - c.range_low;
    int done = span > 0 ? static_cast<int>(static_cast<long long>(c.position - c.range_low) * inner / span) : 0;
    done = std::clamp(done, 0, inner);
    out.put(p.row, p.col, "[", Look::plain);
    out.put(p.row, p.col + 1, std::string(static_cast<size_t>(done), '#'), Look::bar);
    out.put(p.row, p.col + 1 + done, std::string(static_cast<size_t>(inner - done), '.'), Look::plain);
    out.put(p.row, p.col + 1 + inner, "]", Look::plain);
}

void paint_pick_list(Painter &out, const Placed &p, const ViewState &state, int client_rows)
{
    const std::vector<std::string> &items = p.c->items;
    int count = std::min(static_cast<int>(items.size()), kPickListRows);
    if (count == 0)
        return;
    int first = std::clamp(state.pick_entry - count + 1, 0, static_cast<int>(items.size()) - count);
    // Below the list when it fits, otherwise above it.
    int top = p.row + 1 + count <= client_rows ? p.row + 1 : std::max(0, p.row - count);
    for (int i = 0; i < count; i++) {
        int entry = first + i;
        out.put(top + i, p.col, joined({"|", fit(items[static_cast<size_t>(entry)], p.cols - 2, 0), "|"}),
                entry == state.pick_entry ? Look::focused : Look::field);
    }
    out.cursor(top + state.pick_entry - first, p.col + 1, false);
}

Frame frame_around(int rows, int cols, int screen_rows, int screen_cols)
{
    Frame f;
    f.rows = rows;
    f.cols = cols;
    f.top = std::max(0, (screen_rows - rows) / 2);
    f.left = std::max(0, (screen_cols - cols) / 2);
    return f;
}

void add_title(Frame &f, const std::string &caption, bool active)
{
    f.spans.insert(f.spans.begin(), Span{f.top, f.left, fit(joined({" ", caption}), f.cols, 0),
                                         active ? Look::title : Look::title_inactive});
}

Frame lay_out_dialog(const WindowView &view, const ViewState &state, bool active, int rows, int cols)
{
    Layout layout = arrange(view, rows, cols);
    Frame f = frame_around(layout.rows + 2, layout.cols + 2, rows, cols);
    Painter out(f);
    const Placed *pick = nullptr;
    for (const Placed &p : layout.controls) {
        switch (p.kind) {
        case Kind::button: paint_button(out, p, active); break;
        case Kind::combo:
            paint_field(out, p, active);
            if (state.pick_list == p.c->id)
                pick = &p;
            break;
        case Kind::ip: paint_field(out, p, active); break;
        case Kind::edit:
            if (p.multi_line)
                paint_text(out, f, p, state);
            else
                paint_field(out, p, active);
            break;
        case Kind::text: paint_text(out, f, p, state); break;
        case Kind::progress: paint_progress(out, p); break;
        case Kind::icon: out.put(p.row, p.col, "(*)", Look::mark); break;
        case Kind::other: break;
        }
    }
    if (pick != nullptr && active)
        paint_pick_list(out, *pick, state, layout.rows);
    add_title(f, view.caption, active && view.enabled);
    return f;
}

const char *box_mark(UINT style)
{
    switch (style & 0xF0) {
    case MB_ICONHAND: return "(X)";
    case MB_ICONQUESTION: return "(?)";
    case MB_ICONEXCLAMATION: return "(!)";
    case MB_ICONASTERISK: return "(i)";
    default: return nullptr;
    }
}

Frame lay_out_box(const WindowView &view, const ViewState &state, bool active, int rows, int cols)
{
    std::string text;
    std::vector<std::string> buttons;
    for (const ControlView &c : view.controls) {
        if (same_name(c.window_class, "Button"))
            buttons.push_back(without_mnemonic(c.text));
        else
            text = c.text;
    }
    const char *mark = box_mark(view.box_style);
    int indent = mark != nullptr ? 5 : 1;
    int width_limit = std::clamp(cols - 4 - indent - 2, 10, 64);
    std::vector<std::string> lines;
    for (const std::string &line : split_lines(text))
        for (std::string &piece : wrap(line, width_limit))
            lines.push_back(std::move(piece));
    int button_width = 0;
    for (const std::string &b : buttons)
        button_width += std::max(10, static_cast<int>(b.size()) + 4) + 2;
    int inner = std::max({longest(lines) + indent + 1, button_width + 2,
                          static_cast<int>(view.caption.size()) + 2});
    int body_rows = static_cast<int>(lines.size()) + 4;  // blank, text, blank, buttons, blank
    Frame f = frame_around(std::min(body_rows + 2, rows), std::min(inner + 2, cols), rows, cols);
    Painter out(f);
    if (mark != nullptr)
        out.put(1, 1, mark, Look::mark);
    for (size_t i = 0; i < lines.size(); i++)
        out.put(1 + static_cast<int>(i), indent, lines[i], Look::plain);
    int row = static_cast<int>(lines.size()) + 2;
    int col = std::max(0, (inner - button_width + 2) / 2);
    for (size_t i = 0; i < buttons.size(); i++) {
        int w = std::max(10, static_cast<int>(buttons[i].size()) + 4);
        bool focused = static_cast<int>(i) == state.box_button;
        out.put(row, col, joined({"[", fit(buttons[i], w - 2, 1), "]"}),
                focused && active ? Look::focused : Look::button);
        if (focused)
            out.cursor(row, col + 1, false);
        col += w + 2;
    }
    add_title(f, view.caption, active);
    return f;
}

} // namespace

Frame lay_out(const WindowView &view, const ViewState &state, bool active, int rows, int cols)
{
    return view.message_box ? lay_out_box(view, state, active, rows, cols)
                            : lay_out_dialog(view, state, active, rows, cols);
}

} // namespace tty
