// platform/rc_reader.cpp: reads resource scripts into dialog templates and icons.
//
// Two stages: a preprocessor turns the script and its headers into one list
// of tokens (directives done, macros substituted), then a parser walks that
// list. Every token remembers the file and line it came from, so any fault
// is reported where the author can find it. Nothing here throws on bad
// input, and every loop and recursion is bounded, because the script is
// read at run time and must never take the program down with it.
#include "platform/rc_reader.h"

#include <cstddef>
#include <exception>
#include <map>
#include <string_view>
#include <utility>

namespace {

// Bounds that keep hostile input from exhausting the stack or memory.
constexpr size_t max_include_depth = 32;
constexpr int max_macro_depth = 64;
constexpr int max_expression_depth = 200;
constexpr size_t max_tokens = size_t{1} << 18;

// ---- the Win32 names a script may use without its headers --------------

struct NamedValue {
    std::string_view name;
    uint32_t value;
};

// The values are Win32's own; the <windows.h> a script includes is skipped,
// so these are all the names it gets from there.
constexpr NamedValue win32_names[] = {
    {"WS_OVERLAPPED", 0x00000000},
    {"WS_POPUP", 0x80000000},
    {"WS_CHILD", 0x40000000},
    {"WS_VISIBLE", 0x10000000},
    {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000},
    {"WS_CLIPCHILDREN", 0x02000000},
    {"WS_CAPTION", 0x00C00000},
    {"WS_BORDER", 0x00800000},
    {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000},
    {"WS_HSCROLL", 0x00100000},
    {"WS_SYSMENU", 0x00080000},
    {"WS_THICKFRAME", 0x00040000},
    {"WS_GROUP", 0x00020000},
    {"WS_TABSTOP", 0x00010000},
    {"WS_MINIMIZEBOX", 0x00020000},
    {"WS_MAXIMIZEBOX", 0x00010000},
    {"WS_EX_DLGMODALFRAME", 0x00000001},
    {"WS_EX_NOPARENTNOTIFY", 0x00000004},
    {"WS_EX_TOPMOST", 0x00000008},
    {"WS_EX_ACCEPTFILES", 0x00000010},
    {"WS_EX_TRANSPARENT", 0x00000020},
    {"WS_EX_TOOLWINDOW", 0x00000080},
    {"WS_EX_WINDOWEDGE", 0x00000100},
    {"WS_EX_CLIENTEDGE", 0x00000200},
    {"WS_EX_CONTEXTHELP", 0x00000400},
    {"WS_EX_CONTROLPARENT", 0x00010000},
    {"WS_EX_STATICEDGE", 0x00020000},
    {"WS_EX_APPWINDOW", 0x00040000},
    {"DS_3DLOOK", 0x0004},
    {"DS_FIXEDSYS", 0x0008},
    {"DS_SETFONT", 0x0040},
    {"DS_MODALFRAME", 0x0080},
    {"DS_SETFOREGROUND", 0x0200},
    {"DS_CONTROL", 0x0400},
    {"DS_CENTER", 0x0800},
    {"DS_SHELLFONT", 0x0048},
    {"BS_PUSHBUTTON", 0x0000},
    {"BS_DEFPUSHBUTTON", 0x0001},
    {"BS_GROUPBOX", 0x0007},
    {"ES_LEFT", 0x0000},
    {"ES_CENTER", 0x0001},
    {"ES_RIGHT", 0x0002},
    {"ES_MULTILINE", 0x0004},
    {"ES_PASSWORD", 0x0020},
    {"ES_AUTOVSCROLL", 0x0040},
    {"ES_AUTOHSCROLL", 0x0080},
    {"ES_READONLY", 0x0800},
    {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000},
    {"SS_LEFT", 0x0000},
    {"SS_CENTER", 0x0001},
    {"SS_RIGHT", 0x0002},
    {"SS_ICON", 0x0003},
    {"SS_NOPREFIX", 0x0080},
    {"SS_CENTERIMAGE", 0x0200},
    {"SS_SUNKEN", 0x1000},
    {"CBS_SIMPLE", 0x0001},
    {"CBS_DROPDOWN", 0x0002},
    {"CBS_DROPDOWNLIST", 0x0003},
    {"CBS_AUTOHSCROLL", 0x0040},
    {"CBS_SORT", 0x0100},
    {"PBS_SMOOTH", 0x01},
    {"IDOK", 1},
    {"IDCANCEL", 2},
    {"IDABORT", 3},
    {"IDRETRY", 4},
    {"IDIGNORE", 5},
    {"IDYES", 6},
    {"IDNO", 7},
    {"IDC_STATIC", 0xFFFFFFFF},
    {"LANG_NEUTRAL", 0},
    {"LANG_ENGLISH", 9},
    {"SUBLANG_NEUTRAL", 0},
    {"SUBLANG_DEFAULT", 1},
    {"SUBLANG_ENGLISH_US", 1},
};

constexpr uint32_t ws_popup = 0x80000000;
constexpr uint32_t ws_child = 0x40000000;
constexpr uint32_t ws_visible = 0x10000000;
constexpr uint32_t ws_caption = 0x00C00000;
constexpr uint32_t ws_border = 0x00800000;
constexpr uint32_t ws_sysmenu = 0x00080000;
constexpr uint32_t ws_group = 0x00020000;
constexpr uint32_t ws_tabstop = 0x00010000;
constexpr uint32_t ds_setfont = 0x0040;

bool win32_value(std::string_view name, uint32_t &value)
{
    for (const NamedValue &n : win32_names) {
        if (n.name == name) {
            value = n.value;
            return true;
        }
    }
    return false;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Resource-script keywords and class names ignore case, as the resource
// compiler does; the Win32 names, being C macros, do not.
bool same_word(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_name_start(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool is_name_char(char c)
{
    return is_name_start(c) || is_digit(c);
}

bool is_macro_name(std::string_view s)
{
    if (s.empty() || !is_name_start(s[0]))
        return false;
    for (char c : s) {
        if (!is_name_char(c))
            return false;
    }
    return true;
}

int digit_value(char c, unsigned base)
{
    int d = -1;
    if (is_digit(c))
        d = c - '0';
    else if (upper(c) >= 'A' && upper(c) <= 'F')
        d = upper(c) - 'A' + 10;
    return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

// Bytes as they may be shown in a message: the input can hold anything.
std::string printable(std::string_view s)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

// ---- tokens and where they came from -----------------------------------

struct Token {
    enum Kind { name, number, string, punct, end };
    Kind kind = end;
    std::string text;     // the spelling; a string's decoded contents
    int file = 0;
    int line = 1;
    bool spaced = true;   // blank or a line break before it: unquoted file names end there
    bool first = false;   // first on its line, where a directive may begin
};

std::string describe(const Token &t)
{
    switch (t.kind) {
    case Token::end:
        return "end of file";
    case Token::string:
        return "\"" + printable(t.text.substr(0, 24)) + (t.text.size() > 24 ? "...\"" : "\"");
    case Token::punct:
        return "'" + printable(t.text) + "'";
    default:
        return t.text;
    }
}

bool is_punct(const Token &t, std::string_view p)
{
    return t.kind == Token::punct && t.text == p;
}

bool is_word(const Token &t, std::string_view w)
{
    return t.kind == Token::name && same_word(t.text, w);
}

bool is_begin(const Token &t)
{
    return is_word(t, "BEGIN") || is_punct(t, "{");
}

bool is_end(const Token &t)
{
    return is_word(t, "END") || is_punct(t, "}");
}

// Keeps the first fault only: later ones are usually its echoes.
class Diagnostics {
public:
    int add_file(const std::string &name)
    {
        files_.push_back(name);
        return static_cast<int>(files_.size() - 1);
    }
    bool fail(int file, int line, const std::string &what)
    {
        if (error.empty())
            error = files_[static_cast<size_t>(file)] + ":" + std::to_string(line) + ": " + what;
        return false;
    }
    bool fail(const Token &t, const std::string &what) { return fail(t.file, t.line, what); }
    bool fail_plain(const std::string &what)
    {
        if (error.empty())
            error = what;
        return false;
    }

    std::string error;

private:
    std::vector<std::string> files_;
};

// ---- numbers and expressions -------------------------------------------

enum class NumberFault { none, bad, too_large };

// Decimal or 0x hex, with the U and L suffixes C allows. A leading zero
// does not mean octal: the resource compiler reads 010 as ten.
NumberFault parse_number(std::string_view s, uint32_t &value)
{
    unsigned base = 10;
    size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < s.size() && digit_value(s[i], base) >= 0; ++i, ++digits) {
        if (v <= 0xFFFFFFFF)
            v = v * base + static_cast<unsigned>(digit_value(s[i], base));
    }
    std::string_view suffix = s.substr(i);
    if (digits == 0 || suffix.size() > 3 || suffix.find_first_not_of("uUlL") != std::string_view::npos)
        return NumberFault::bad;
    if (v > 0xFFFFFFFF)
        return NumberFault::too_large;
    value = static_cast<uint32_t>(v);
    return NumberFault::none;
}

enum class Op { lor, land, bor, bxor, band, eq, ne, lt, gt, le, ge, add, sub, mul, div, mod };

struct BinaryOp {
    std::string_view spelling;
    int level;  // C's precedence: higher binds tighter
    Op op;
};

constexpr int level_of_or = 3;  // `|`: the separator of style lists

constexpr BinaryOp binary_ops[] = {
    {"||", 1, Op::lor}, {"&&", 2, Op::land}, {"|", 3, Op::bor},  {"^", 4, Op::bxor},
    {"&", 5, Op::band}, {"==", 6, Op::eq},   {"!=", 6, Op::ne},  {"<", 7, Op::lt},
    {">", 7, Op::gt},   {"<=", 7, Op::le},   {">=", 7, Op::ge},  {"+", 8, Op::add},
    {"-", 8, Op::sub},  {"*", 9, Op::mul},   {"/", 9, Op::div},  {"%", 9, Op::mod},
};

// Resource values are 32-bit and unsigned, as the resource compiler keeps
// them; only comparisons look at the sign, for #if -1 < 0.
uint32_t compare(Op op, int32_t a, int32_t b)
{
    switch (op) {
    case Op::eq: return a == b;
    case Op::ne: return a != b;
    case Op::lt: return a < b;
    case Op::gt: return a > b;
    case Op::le: return a <= b;
    default: return a >= b;
    }
}

uint32_t arithmetic(Op op, uint32_t a, uint32_t b)
{
    switch (op) {
    case Op::lor: return a != 0 || b != 0;
    case Op::land: return a != 0 && b != 0;
    case Op::bor: return a | b;
    case Op::bxor: return a ^ b;
    case Op::band: return a & b;
    case Op::add: return a + b;
    case Op::sub: return a - b;
    case Op::mul: return a * b;
    case Op::div: return a / b;
    case Op::mod: return a % b;
    default: return compare(op, static_cast<int32_t>(a), static_cast<int32_t>(b));
    }
}

// The script's expressions and #if's share this; only the script knows NOT
// and the Win32 names, as in #if a name that is no macro is zero.
enum class Dialect { script, preprocessor };

class Evaluator {
public:
    Evaluator(const std::vector<Token> &tokens, size_t &pos, Diagnostics &diag, Dialect dialect)
        : tokens_(tokens), pos_(pos), diag_(diag), dialect_(dialect)
    {
    }

    // Reads operators binding at least as tight as `lowest`.
    bool expression(int lowest, uint32_t &value) { return binary(lowest, value, 0); }
    bool operand(uint32_t &value) { return unary(value, 0); }

private:
    const Token &peek() const { return tokens_[pos_]; }
    const Token &take()
    {
        const Token &t = tokens_[pos_];
        if (t.kind != Token::end)
            ++pos_;
        return t;
    }

    const BinaryOp *operator_at(int lowest) const
    {
        if (peek().kind != Token::punct)
            return nullptr;
        for (const BinaryOp &b : binary_ops) {
            if (b.spelling == peek().text && b.level >= lowest)
                return &b;
        }
        return nullptr;
    }

    bool binary(int lowest, uint32_t &value, int depth)
    {
        if (!unary(value, depth))
            return false;
        while (const BinaryOp *b = operator_at(lowest)) {
            const Token &at = take();
            uint32_t rhs = 0;
            if (!binary(b->level + 1, rhs, depth + 1))
                return false;
            if ((b->op == Op::div || b->op == Op::mod) && rhs == 0)
                return diag_.fail(at, "division by zero");
            value = arithmetic(b->op, value, rhs);
        }
        return true;
    }

    bool unary(uint32_t &value, int depth)
    {
        if (depth > max_expression_depth)
            return diag_.fail(peek(), "expression nested too deeply");
        const Token &t = take();
        if (is_punct(t, "("))
            return parenthesised(value, depth);
        if (!is_unary(t))
            return primary(t, value);
        if (!unary(value, depth + 1))
            return false;
        value = apply_unary(t, value);
        return true;
    }

    bool is_unary(const Token &t) const
    {
        return is_punct(t, "-") || is_punct(t, "~") || is_punct(t, "!") || is_punct(t, "+") ||
               (dialect_ == Dialect::script && is_word(t, "NOT"));
    }

    static uint32_t apply_unary(const Token &t, uint32_t v)
    {
        if (is_punct(t, "-"))
            return 0u - v;
        if (is_punct(t, "!"))
            return v == 0;
        if (is_punct(t, "+"))
            return v;
        return ~v;  // ~, and NOT outside a style list
    }

    bool parenthesised(uint32_t &value, int depth)
    {
        if (!binary(1, value, depth + 1))
            return false;
        if (!is_punct(peek(), ")"))
            return diag_.fail(peek(), "missing ) before " + describe(peek()));
        take();
        return true;
    }

    bool primary(const Token &t, uint32_t &value)
    {
        if (t.kind == Token::number) {
            NumberFault f = parse_number(t.text, value);
            if (f == NumberFault::bad)
                return diag_.fail(t, "bad number " + t.text);
            if (f == NumberFault::too_large)
                return diag_.fail(t, "number " + t.text + " is too large");
            return true;
        }
        if (t.kind == Token::name && dialect_ == Dialect::preprocessor) {
            value = 0;
            return true;
        }
        if (t.kind == Token::name) {
            if (!win32_value(t.text, value))
                return diag_.fail(t, "unknown name " + t.text);
            return true;
        }
        return diag_.fail(t, "expected a number, found " + describe(t));
    }

    const std::vector<Token> &tokens_;
    size_t &pos_;
    Diagnostics &diag_;
    Dialect dialect_;
};

// ---- the lexer: one per file being read ---------------------------------

constexpr std::string_view two_char_puncts[] = {"&&", "||", "==", "!=", "<=", ">="};

struct Escape {
    char letter;
    char value;
};

constexpr Escape escapes[] = {
    {'n', '\n'}, {'r', '\r'}, {'t', '\t'}, {'a', '\a'}, {'\\', '\\'}, {'"', '"'}, {'\'', '\''},
};

class Lexer {
public:
    Lexer(std::string text, int file, Diagnostics &diag) : text_(std::move(text)), file_(file), diag_(&diag) {}

    // The next token; within a directive (`in_line`) an end token at the
    // line break. `lenient` is for skipped text, where a stray quote is
    // not a fault.
    bool next(Token &t, bool lenient, bool in_line)
    {
        if (!skip_blanks(in_line))
            return false;
        t = Token{};
        t.file = file_;
        t.line = line_;
        t.spaced = spaced_;
        t.first = line_start_;
        spaced_ = false;
        line_start_ = false;
        if (!more()) {
            // The end is on the last line, not on the empty one after it.
            if (!in_line && line_ > 1 && text_.back() == '\n')
                t.line = line_ - 1;
            return true;
        }
        if (in_line && peek() == '\n')
            return true;
        char c = peek();
        if (is_name_start(c))
            return name(t, lenient);
        if (is_digit(c))
            return number(t);
        if (c == '"')
            return string(t, lenient);
        return punct(t);
    }

    // The name of an #include, read raw: backslashes in it are path
    // separators, not escapes. `delimiter` is '"' or '<'.
    bool header_name(std::string &name, char &delimiter, int &line)
    {
        if (!skip_blanks(true))
            return false;
        line = line_;
        delimiter = more() ? peek() : '\0';
        if (delimiter != '"' && delimiter != '<')
            return diag_->fail(file_, line_, "#include expects \"file\" or <file>");
        char closer = delimiter == '<' ? '>' : '"';
        size_t start = ++pos_;
        while (more() && peek() != closer && peek() != '\n')
            ++pos_;
        if (!more() || peek() != closer)
            return diag_->fail(file_, line_, "unterminated #include name");
        name = text_.substr(start, pos_ - start);
        ++pos_;
        return true;
    }

private:
    bool more(size_t ahead = 0) const { return pos_ + ahead < text_.size(); }
    char peek(size_t ahead = 0) const { return more(ahead) ? text_[pos_ + ahead] : '\0'; }
    bool immediately(char c) const { return more() && peek() == c; }

    bool skip_blanks(bool in_line)
    {
        while (more()) {
            char c = peek();
            if (c == '\n') {
                if (in_line)
                    return true;
                ++line_;
                line_start_ = true;
            } else if (c == '/' && peek(1) == '/') {
                while (more() && peek() != '\n')
                    ++pos_;
                spaced_ = true;
                continue;
            } else if (c == '/' && peek(1) == '*') {
                if (!skip_block_comment())
                    return false;
                continue;
            } else if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
                return true;
            }
            spaced_ = true;
            ++pos_;
        }
        return true;
    }

    bool skip_block_comment()
    {
        int start = line_;
        pos_ += 2;
        while (more() && !(peek() == '*' && peek(1) == '/')) {
            if (peek() == '\n')
                ++line_;
            ++pos_;
        }
        if (!more())
            return diag_->fail(file_, start, "unterminated comment");
        pos_ += 2;
        spaced_ = true;
        return true;
    }

    bool name(Token &t, bool lenient)
    {
        size_t start = pos_;
        while (more() && is_name_char(peek()))
            ++pos_;
        t.text = text_.substr(start, pos_ - start);
        if (t.text == "L" && immediately('"'))
            return string(t, lenient);  // a wide string: the same text for us
        t.kind = Token::name;
        return true;
    }

    // Digits and any letters stuck to them, checked where a number is used,
    // so that skipped text and file names never trip over them.
    bool number(Token &t)
    {
        size_t start = pos_;
        while (more() && is_name_char(peek()))
            ++pos_;
        t.kind = Token::number;
        t.text = text_.substr(start, pos_ - start);
        return true;
    }

    bool string(Token &t, bool lenient)
    {
        ++pos_;
        t.kind = Token::string;
        t.text.clear();
        while (more() && peek() != '\n') {
            char c = text_[pos_++];
            if (c == '"' && !immediately('"'))
                return true;
            if (c == '"')
                ++pos_;  // "" stands for one quote
            if (c == '\\')
                escape(t.text);
            else
                t.text += c;
        }
        return lenient || diag_->fail(file_, t.line, "unterminated string");
    }

    // An escape the script does not mean as one (a path's "res\app.ico")
    // is kept as written.
    void escape(std::string &out)
    {
        char e = peek();
        for (const Escape &x : escapes) {
            if (more() && x.letter == e) {
                out += x.value;
                ++pos_;
                return;
            }
        }
        if ((e == 'x' || e == 'X') && digit_value(peek(1), 16) >= 0) {
            ++pos_;
            out += static_cast<char>(digits(16, 2));
        } else if (digit_value(e, 8) >= 0) {
            out += static_cast<char>(digits(8, 3));
        } else {
            out += '\\';
        }
    }

    unsigned digits(unsigned base, int most)
    {
        unsigned v = 0;
        for (int i = 0; i < most && more() && digit_value(peek(), base) >= 0; ++i)
            v = v * base + static_cast<unsigned>(digit_value(text_[pos_++], base));
        return v & 0xFF;
    }

    bool punct(Token &t)
    {
        t.kind = Token::punct;
        for (std::string_view p : two_char_puncts) {
            if (peek() == p[0] && peek(1) == p[1]) {
                t.text = p;
                pos_ += 2;
                return true;
            }
        }
        t.text = std::string(1, text_[pos_++]);
        return true;
    }

    std::string text_;
    size_t pos_ = 0;
    int file_;
    int line_ = 1;
    bool spaced_ = true;
    bool line_start_ = true;
    Diagnostics *diag_;
};

// ---- the preprocessor --------------------------------------------------

struct Macro {
    std::vector<Token> body;
    bool function_like = false;
};

struct Condition {
    std::string directive;  // for the message when it is never closed
    int file = 0, line = 0;
    size_t depth = 0;       // the include depth it was opened at
    bool outer_active = true;
    bool taking = false;    // the current branch is read
    bool taken = false;     // some branch has been read
    bool seen_else = false;
};

class Preprocessor;
using DirectiveHandler = bool (Preprocessor::*)(const Token &at);

struct Directive {
    std::string_view name;
    DirectiveHandler handler;
    bool conditional;  // handled in skipped text too, to keep the nesting
};

class Preprocessor {
public:
    Preprocessor(Diagnostics &diag, const RcIncludeResolver &include) : diag_(diag), include_(include) {}

    // As -D does: NAME is 1, NAME=TEXT is TEXT.
    bool predefine(const std::string &definition)
    {
        size_t eq = definition.find('=');
        std::string name = definition.substr(0, eq);
        if (!is_macro_name(name))
            return diag_.fail_plain("-D" + printable(definition) + ": not a macro name");
        Lexer lexer(eq == std::string::npos ? "1" : definition.substr(eq + 1), diag_.add_file("-D" + name), diag_);
        Macro m;
        for (Token t; lexer.next(t, false, true) && t.kind != Token::end;)
            m.body.push_back(t);
        if (!diag_.error.empty())
            return false;
        macros_[name] = std::move(m);
        return true;
    }

    bool run(const std::string &name, const std::string &text, std::vector<Token> &out)
    {
        sources_.emplace_back(text, diag_.add_file(name), diag_);
        Token end;
        while (!sources_.empty()) {
            Token t;
            if (!sources_.back().next(t, !active(), false))
                return false;
            if (t.kind == Token::end) {
                end = t;
                if (!close_source())
                    return false;
            } else if (t.first && is_punct(t, "#")) {
                if (!directive(t))
                    return false;
            } else if (active() && !emit(t, out, 0)) {
                return false;
            }
        }
        out.push_back(end);  // the main file's last line, for "unexpected end of file"
        return true;
    }

private:
    static const Directive directives[];

    bool active() const { return conditions_.empty() || (conditions_.back().outer_active && conditions_.back().taking); }

    bool close_source()
    {
        if (!conditions_.empty() && conditions_.back().depth == sources_.size()) {
            const Condition &c = conditions_.back();
            return diag_.fail(c.file, c.line, "unterminated #" + c.directive + ": no #endif");
        }
        sources_.pop_back();
        return true;
    }

    // Substitutes macros the way the C preprocessor does for object-like
    // ones: a macro is not substituted again inside its own expansion.
    bool emit(const Token &t, std::vector<Token> &out, int depth)
    {
        auto m = t.kind == Token::name ? macros_.find(t.text) : macros_.end();
        if (m == macros_.end() || expanding(t.text)) {
            out.push_back(t);
            return out.size() <= max_tokens || diag_.fail(t, "script too large after macro substitution");
        }
        if (m->second.function_like)
            return diag_.fail(t, "function-like macro " + t.text + " is not supported");
        if (depth > max_macro_depth)
            return diag_.fail(t, "macro " + t.text + " nested too deeply");
        expanding_.push_back(m->first);
        bool first = true;
        for (Token b : m->second.body) {
            b.file = t.file;
            b.line = t.line;
            b.spaced = first ? t.spaced : b.spaced;
            first = false;
            if (!emit(b, out, depth + 1))
                return false;
        }
        expanding_.pop_back();
        return true;
    }

    bool expanding(const std::string &name) const
    {
        for (const std::string &e : expanding_) {
            if (e == name)
                return true;
        }
        return false;
    }

    bool read_line(std::vector<Token> &line)
    {
        for (;;) {
            Token t;
            if (!sources_.back().next(t, !active(), true))
                return false;
            if (t.kind == Token::end)
                return true;
            line.push_back(std::move(t));
        }
    }

    bool skip_line(const Token &)
    {
        std::vector<Token> ignored;
        return read_line(ignored);
    }

    bool directive(const Token &hash);

    bool do_include(const Token &at)
    {
        std::string name;
        char delimiter = 0;
        int line = 0;
        if (!sources_.back().header_name(name, delimiter, line))
            return false;
        std::vector<Token> rest;
        if (!read_line(rest))
            return false;
        if (!rest.empty())
            return diag_.fail(rest[0], "unexpected " + describe(rest[0]) + " after #include");
        if (delimiter == '<')
            return true;  // system headers: their names are known without them
        std::string text;
        if (!include_ || !include_(name, text))
            return diag_.fail(at.file, line, "#include file \"" + printable(name) + "\" not found");
        if (sources_.size() >= max_include_depth)
            return diag_.fail(at.file, line, "#include nested too deeply (does \"" + printable(name) + "\" include itself?)");
        sources_.emplace_back(std::move(text), diag_.add_file(name), diag_);
        return true;
    }

    bool macro_name(const std::vector<Token> &line, const Token &at)
    {
        if (line.empty() || line[0].kind != Token::name)
            return diag_.fail(at, "#" + at.text + " needs a macro name");
        return true;
    }

    bool do_define(const Token &at)
    {
        std::vector<Token> line;
        if (!read_line(line) || !macro_name(line, at))
            return false;
        Macro m;
        m.function_like = line.size() > 1 && is_punct(line[1], "(") && !line[1].spaced;
        m.body.assign(line.begin() + 1, line.end());
        macros_[line[0].text] = std::move(m);
        return true;
    }

    bool do_undef(const Token &at)
    {
        std::vector<Token> line;
        if (!read_line(line) || !macro_name(line, at))
            return false;
        macros_.erase(line[0].text);
        return true;
    }

    void open(const Token &at, bool value)
    {
        Condition c;
        c.directive = at.text;
        c.file = at.file;
        c.line = at.line;
        c.depth = sources_.size();
        c.outer_active = active();
        c.taking = value;
        c.taken = value;
        conditions_.push_back(c);
    }

    bool do_ifdef(const Token &at)
    {
        std::vector<Token> line;
        if (!read_line(line) || !macro_name(line, at))
            return false;
        bool defined = macros_.count(line[0].text) != 0;
        open(at, at.text == "ifdef" ? defined : !defined);
        return true;
    }

    bool do_if(const Token &at)
    {
        bool value = false;
        if (active() && !condition(at, value))
            return false;
        if (!active() && !skip_line(at))
            return false;
        open(at, value);
        return true;
    }

    // The #if, #elif or #else in the current file that `at` continues.
    bool innermost(const Token &at)
    {
        if (conditions_.empty() || conditions_.back().depth != sources_.size())
            return diag_.fail(at, "#" + at.text + " without #if");
        if (conditions_.back().seen_else && at.text != "endif")
            return diag_.fail(at, "#" + at.text + " after #else");
        return true;
    }

    bool do_elif(const Token &at)
    {
        if (!innermost(at))
            return false;
        Condition &c = conditions_.back();
        if (!c.outer_active || c.taken) {
            c.taking = false;
            return skip_line(at);
        }
        bool value = false;
        if (!condition(at, value))
            return false;
        Condition &still = conditions_.back();
        still.taking = value;
        still.taken = value;
        return true;
    }

    bool do_else(const Token &at)
    {
        if (!innermost(at))
            return false;
        Condition &c = conditions_.back();
        c.taking = !c.taken;
        c.taken = true;
        c.seen_else = true;
        return skip_line(at);
    }

    bool do_endif(const Token &at)
    {
        if (!innermost(at))
            return false;
        conditions_.pop_back();
        return skip_line(at);
    }

    bool do_error(const Token &at)
    {
        std::vector<Token> line;
        if (!read_line(line))
            return false;
        std::string text;
        for (const Token &t : line)
            text += (text.empty() ? "" : " ") + (t.kind == Token::string ? "\"" + t.text + "\"" : t.text);
        return diag_.fail(at, "#error " + printable(text));
    }

    // `defined X` and `defined(X)` are answered before substitution, so
    // that the name is not replaced by its value.
    bool defined_operator(const std::vector<Token> &line, size_t &i, std::vector<Token> &out)
    {
        bool paren = i + 1 < line.size() && is_punct(line[i + 1], "(");
        size_t n = paren ? i + 2 : i + 1;
        if (n >= line.size() || line[n].kind != Token::name || (paren && (n + 1 >= line.size() || !is_punct(line[n + 1], ")"))))
            return diag_.fail(line[i], "defined needs a macro name");
        Token value = line[i];
        value.kind = Token::number;
        value.text = macros_.count(line[n].text) != 0 ? "1" : "0";
        out.push_back(value);
        i = paren ? n + 1 : n;
        return true;
    }

    bool condition(const Token &at, bool &value)
    {
        std::vector<Token> line, expanded;
        if (!read_line(line))
            return false;
        for (size_t i = 0; i < line.size(); ++i) {
            bool ok = line[i].kind == Token::name && line[i].text == "defined" ? defined_operator(line, i, expanded)
                                                                                : emit(line[i], expanded, 0);
            if (!ok)
                return false;
        }
        if (expanded.empty())
            return diag_.fail(at, "#" + at.text + " with no expression");
        Token end = at;
        end.kind = Token::end;
        expanded.push_back(end);
        size_t pos = 0;
        uint32_t v = 0;
        if (!Evaluator(expanded, pos, diag_, Dialect::preprocessor).expression(1, v))
            return false;
        if (expanded[pos].kind != Token::end)
            return diag_.fail(expanded[pos], "unexpected " + describe(expanded[pos]) + " in #" + at.text);
        value = v != 0;
        return true;
    }

    Diagnostics &diag_;
    const RcIncludeResolver &include_;
    std::vector<Lexer> sources_;  // the include stack
    std::map<std::string, Macro> macros_;
    std::vector<std::string> expanding_;
    std::vector<Condition> conditions_;
};

const Directive Preprocessor::directives[] = {
    {"include", &Preprocessor::do_include, false}, {"define", &Preprocessor::do_define, false},
    {"undef", &Preprocessor::do_undef, false},     {"ifdef", &Preprocessor::do_ifdef, true},
    {"ifndef", &Preprocessor::do_ifdef, true},     {"if", &Preprocessor::do_if, true},
    {"elif", &Preprocessor::do_elif, true},        {"else", &Preprocessor::do_else, true},
    {"endif", &Preprocessor::do_endif, true},      {"pragma", &Preprocessor::skip_line, false},
    {"error", &Preprocessor::do_error, false},
};

bool Preprocessor::directive(const Token &hash)
{
    Token word;
    if (!sources_.back().next(word, !active(), true))
        return false;
    if (word.kind == Token::end)
        return true;  // a lone # is allowed and means nothing
    for (const Directive &d : directives) {
        if (word.kind == Token::name && word.text == d.name) {
            if (!d.conditional && !active())
                return skip_line(word);
            return (this->*d.handler)(word);
        }
    }
    if (!active())
        return skip_line(word);
    return diag_.fail(hash, "unknown directive #" + printable(word.text));
}

// ---- the statements: controls and resources ------------------------------

// How a control statement's arguments are laid out.
enum class Shape {
    text_first,  // text, id, x, y, w, h [, style [, exstyle]]
    id_first,    // id, x, y, w, h [, style [, exstyle]]
    icon,        // text-or-number, id, x, y [, w, h [, style [, exstyle]]]
    generic,     // text, id, class, style, x, y, w, h [, exstyle]
};

struct ControlStatement {
    std::string_view keyword;
    Shape shape;
    std::string_view window_class;
    uint32_t style;  // the statement's defaults, which the given style adds to
};

constexpr ControlStatement control_statements[] = {
    {"PUSHBUTTON", Shape::text_first, "Button", 0x0000 | ws_tabstop},
    {"DEFPUSHBUTTON", Shape::text_first, "Button", 0x0001 | ws_tabstop},
    {"GROUPBOX", Shape::text_first, "Button", 0x0007},
    {"LTEXT", Shape::text_first, "Static", 0x0000 | ws_group},
    {"CTEXT", Shape::text_first, "Static", 0x0001 | ws_group},
    {"RTEXT", Shape::text_first, "Static", 0x0002 | ws_group},
    {"EDITTEXT", Shape::id_first, "Edit", 0x0000 | ws_border | ws_tabstop},
    {"COMBOBOX", Shape::id_first, "ComboBox", 0x0001 | ws_tabstop},
    {"ICON", Shape::icon, "Static", 0x0003},
    {"CONTROL", Shape::generic, "", 0},
};

struct ClassWord {
    std::string_view word;
    std::string_view window_class;
};

// Bare words a CONTROL may name its class by; the canonical spellings are
// what the window layer looks classes up by.
constexpr ClassWord class_words[] = {
    {"BUTTON", "Button"},
    {"STATIC", "Static"},
    {"EDIT", "Edit"},
    {"COMBOBOX", "ComboBox"},
    {"PROGRESS_CLASS", "msctls_progress32"},
    {"PROGRESS_CLASSA", "msctls_progress32"},
    {"WC_IPADDRESS", "SysIPAddress32"},
    {"WC_IPADDRESSA", "SysIPAddress32"},
};

constexpr std::string_view memory_flags[] = {
    "PRELOAD", "LOADONCALL", "FIXED", "MOVEABLE", "DISCARDABLE", "PURE", "IMPURE", "SHARED", "NONSHARED",
};

// Resources whose optional statements come before a BEGIN ... END block.
constexpr std::string_view block_resources[] = {
    "VERSIONINFO", "MENU", "MENUEX", "ACCELERATORS", "DLGINIT", "TOOLBAR",
};

constexpr uint32_t default_dialog_style = ws_popup | ws_border | ws_sysmenu;

struct ResourceId {
    bool numeric = false;
    uint32_t value = 0;
    std::string name;
};

class Parser;
using OptionHandler = bool (Parser::*)(RcDialog &d);

struct DialogOption {
    std::string_view keyword;
    OptionHandler handler;
};

class Parser {
public:
    Parser(const std::vector<Token> &tokens, Diagnostics &diag) : tokens_(tokens), diag_(diag) {}

    bool script(RcScript &out)
    {
        while (peek().kind != Token::end) {
            if (!statement(out))
                return false;
        }
        return true;
    }

private:
    static const DialogOption dialog_options[];

    const Token &peek() const { return tokens_[pos_]; }
    const Token &take()
    {
        const Token &t = tokens_[pos_];
        if (t.kind != Token::end)
            ++pos_;
        return t;
    }
    bool accept(std::string_view p)
    {
        if (!is_punct(peek(), p))
            return false;
        take();
        return true;
    }

    bool fail_here(const std::string &what) { return diag_.fail(peek(), what); }

    bool comma(std::string_view where)
    {
        if (accept(","))
            return true;
        if (peek().kind == Token::end)
            return fail_here("unexpected end of file in " + std::string(where));
        return fail_here("missing comma before " + describe(peek()) + " in " + std::string(where));
    }

    bool value(uint32_t &v) { return Evaluator(tokens_, pos_, diag_, Dialect::script).expression(level_of_or, v); }

    bool signed_value(int &v)
    {
        uint32_t u = 0;
        if (!value(u))
            return false;
        v = static_cast<int32_t>(u);
        return true;
    }

    // Template coordinates are 16-bit in the compiled template.
    bool coordinate(int &v, std::string_view what)
    {
        const Token &at = peek();
        if (!signed_value(v))
            return false;
        if (v < -32768 || v > 32767)
            return diag_.fail(at, std::string(what) + " " + std::to_string(v) + " is out of range");
        return true;
    }

    bool rectangle(int &x, int &y, int &w, int &h, std::string_view where)
    {
        return coordinate(x, "x") && comma(where) && coordinate(y, "y") && comma(where) &&
               coordinate(w, "width") && comma(where) && coordinate(h, "height");
    }

    // `A | NOT B | C`: NOT takes B's bits away from what stands so far,
    // the statement's defaults included.
    bool style_list(uint32_t &style)
    {
        do {
            bool negate = is_word(peek(), "NOT");
            if (negate)
                take();
            uint32_t v = 0;
            Evaluator e(tokens_, pos_, diag_, Dialect::script);
            if (!(negate ? e.operand(v) : e.expression(level_of_or + 1, v)))
                return false;
            style = negate ? style & ~v : style | v;
        } while (accept("|"));
        return true;
    }

    bool statement(RcScript &out)
    {
        if (is_word(peek(), "LANGUAGE")) {
            take();
            return language("LANGUAGE");
        }
        if (is_word(peek(), "STRINGTABLE")) {
            take();
            return skip_to_block("STRINGTABLE");
        }
        return resource(out);
    }

    bool language(std::string_view where)
    {
        uint32_t primary = 0, sub = 0;
        return value(primary) && comma(where) && value(sub);
    }

    bool resource_id(ResourceId &id)
    {
        const Token &t = peek();
        uint32_t known = 0;
        if (is_begin(t) || is_end(t))
            return fail_here("unexpected " + describe(t));
        if (t.kind == Token::name && !win32_value(t.text, known)) {
            id.name = take().text;
            return true;
        }
        if (t.kind == Token::string || (t.kind == Token::punct && !is_punct(t, "(") && !is_punct(t, "-") && !is_punct(t, "~")))
            return fail_here("expected a resource id, found " + describe(t));
        id.numeric = true;
        return value(id.value);
    }

    bool resource(RcScript &out)
    {
        const Token &id_token = peek();
        ResourceId id;
        if (!resource_id(id))
            return false;
        const Token &type = take();
        if (type.kind == Token::end || type.kind == Token::punct)
            return diag_.fail(type, "expected a resource type after " + describe(id_token) + ", found " + describe(type));
        skip_memory_flags();
        if (is_word(type, "DIALOG") || is_word(type, "DIALOGEX"))
            return dialog(id_token, id, is_word(type, "DIALOGEX"), out);
        if (is_word(type, "ICON"))
            return icon(id_token, id, out);
        for (std::string_view b : block_resources) {
            if (is_word(type, b))
                return skip_to_block(b);
        }
        return skip_data(describe(type));
    }

    static bool is_memory_flag(const Token &t)
    {
        for (std::string_view f : memory_flags) {
            if (is_word(t, f))
                return true;
        }
        return false;
    }

    // PRELOAD, DISCARDABLE and the like have meant nothing since 32-bit Windows.
    void skip_memory_flags()
    {
        while (is_memory_flag(peek()))
            take();
    }

    bool numeric_id(const Token &at, const ResourceId &id, std::string_view kind, int &out)
    {
        if (!id.numeric)
            return diag_.fail(at, std::string(kind) + " id " + id.name + " is not a number (is its header included?)");
        if (id.value > 0xFFFF)
            return diag_.fail(at, std::string(kind) + " id " + std::to_string(id.value) + " is out of range");
        out = static_cast<int>(id.value);
        return true;
    }

    bool skip_block(std::string_view where)
    {
        int depth = 0;
        do {
            const Token &t = take();
            if (t.kind == Token::end)
                return diag_.fail(t, "unexpected end of file in " + std::string(where) + ": no END");
            depth += is_begin(t) ? 1 : is_end(t) ? -1 : 0;
        } while (depth > 0);
        return true;
    }

    bool skip_to_block(std::string_view where)
    {
        while (!is_begin(peek())) {
            if (peek().kind == Token::end)
                return fail_here("unexpected end of file in " + std::string(where) + ": no BEGIN");
            take();
        }
        return skip_block(where);
    }

    // A resource of a type that only the Windows build needs: its data is a
    // file, embedded by the build, or an inline block.
    bool skip_data(const std::string &where)
    {
        if (is_begin(peek()))
            return skip_block(where);
        std::string file;
        return file_name(file, where);
    }

    // A quoted name, or an unquoted one up to the next blank (res/nuv.ico);
    // a file macro that the native build leaves undefined is a bare name.
    bool file_name(std::string &file, const std::string &where)
    {
        const Token &t = peek();
        if (t.kind == Token::end || is_begin(t) || is_end(t) || is_punct(t, ","))
            return fail_here("expected a file name in " + where + ", found " + describe(t));
        file = take().text;
        if (t.kind == Token::string)
            return true;
        while (!peek().spaced && peek().kind != Token::end && peek().kind != Token::string)
            file += take().text;
        return true;
    }

    bool icon(const Token &at, const ResourceId &id, RcScript &out)
    {
        RcIcon icon;
        if (!numeric_id(at, id, "icon", icon.id))
            return false;
        for (const RcIcon &i : out.icons) {
            if (i.id == icon.id)
                return diag_.fail(at, "duplicate icon id " + std::to_string(icon.id));
        }
        if (!file_name(icon.file, "ICON " + std::to_string(icon.id)))
            return false;
        out.icons.push_back(std::move(icon));
        return true;
    }

    bool dialog(const Token &at, const ResourceId &id, bool extended, RcScript &out)
    {
        RcDialog d;
        d.extended = extended;
        if (!numeric_id(at, id, "dialog", d.id))
            return false;
        if (out.find_dialog(d.id) != nullptr)
            return diag_.fail(at, "duplicate dialog id " + std::to_string(d.id));
        where_ = std::string(extended ? "DIALOGEX " : "DIALOG ") + std::to_string(d.id);
        if (!rectangle(d.x, d.y, d.width, d.height, where_))
            return false;
        uint32_t help_id = 0;
        if (extended && accept(",") && !value(help_id))
            return false;
        if (!dialog_options_then_begin(d) || !controls(d))
            return false;
        out.dialogs.push_back(std::move(d));
        return true;
    }

    const DialogOption *dialog_option() const;

    // The resource compiler's defaults: a pop-up with a border and system
    // menu unless STYLE says otherwise; a caption and a font add their bits
    // whatever STYLE says.
    bool dialog_options_then_begin(RcDialog &d)
    {
        styled_ = captioned_ = fonted_ = false;
        d.style = 0;
        while (const DialogOption *o = dialog_option()) {
            take();
            if (!(this->*o->handler)(d))
                return false;
        }
        if (!styled_)
            d.style = default_dialog_style;
        d.style |= (captioned_ ? ws_caption : 0) | (fonted_ ? ds_setfont : 0);
        if (is_begin(peek())) {
            take();
            return true;
        }
        if (peek().kind == Token::end)
            return fail_here("unexpected end of file in " + where_ + ": no BEGIN");
        return fail_here("expected BEGIN or a dialog statement in " + where_ + ", found " + describe(peek()));
    }

    bool option_style(RcDialog &d)
    {
        styled_ = true;
        return style_list(d.style);
    }

    bool option_exstyle(RcDialog &d) { return style_list(d.ex_style); }

    bool string_argument(std::string &text, std::string_view what)
    {
        if (peek().kind != Token::string)
            return fail_here(std::string(what) + " needs a string, found " + describe(peek()));
        text = take().text;
        return true;
    }

    bool option_caption(RcDialog &d)
    {
        captioned_ = true;
        return string_argument(d.caption, "CAPTION");
    }

    // FONT size, "name", and for DIALOGEX optionally weight, italic, charset.
    bool option_font(RcDialog &d)
    {
        fonted_ = true;
        if (!signed_value(d.font_size) || !comma("FONT") || !string_argument(d.font_name, "FONT"))
            return false;
        for (int extra = 0; extra < 3 && is_punct(peek(), ","); ++extra) {
            if (!d.extended)
                return fail_here("FONT in a DIALOG takes a size and a name only (weight needs DIALOGEX)");
            take();
            uint32_t ignored = 0;
            if (!value(ignored))
                return false;
        }
        return true;
    }

    // CLASS and MENU name something the native layer has no use for.
    bool option_name(RcDialog &)
    {
        if (peek().kind == Token::string || peek().kind == Token::name) {
            uint32_t known = 0;
            if (peek().kind == Token::string || !win32_value(peek().text, known)) {
                take();
                return true;
            }
        }
        uint32_t ignored = 0;
        return value(ignored);
    }

    bool option_language(RcDialog &) { return language("LANGUAGE"); }

    bool option_number(RcDialog &)
    {
        uint32_t ignored = 0;
        return value(ignored);
    }

    bool controls(RcDialog &d)
    {
        while (!is_end(peek())) {
            const Token &t = peek();
            if (t.kind == Token::end)
                return fail_here("unexpected end of file in " + where_ + ": no END");
            const ControlStatement *s = control_statement(t);
            if (s == nullptr)
                return fail_here("unknown control statement " + describe(t) + " in " + where_);
            take();
            RcControl c;
            if (!control(*s, d.extended, c))
                return false;
            d.controls.push_back(std::move(c));
        }
        take();
        return true;
    }

    static const ControlStatement *control_statement(const Token &t)
    {
        for (const ControlStatement &s : control_statements) {
            if (is_word(t, s.keyword))
                return &s;
        }
        return nullptr;
    }

    bool control(const ControlStatement &s, bool extended, RcControl &c)
    {
        std::string where(s.keyword);
        c.window_class = s.window_class;
        c.style = ws_child | ws_visible | s.style;
        switch (s.shape) {
        case Shape::text_first:
            return string_argument(c.text, where) && comma(where) && control_id(c) && comma(where) &&
                   rectangle(c.x, c.y, c.width, c.height, where) && trailing(c, extended, true, where);
        case Shape::id_first:
            return control_id(c) && comma(where) && rectangle(c.x, c.y, c.width, c.height, where) &&
                   trailing(c, extended, true, where);
        case Shape::icon:
            return icon_control(c, extended, where);
        case Shape::generic:
            c.style = ws_child | ws_visible;
            return text_or_ordinal(c, false) && comma(where) && control_id(c) && comma(where) &&
                   control_class(c) && comma(where) && style_list(c.style) && comma(where) &&
                   rectangle(c.x, c.y, c.width, c.height, where) && trailing(c, extended, false, where);
        }
        return false;
    }

    bool icon_control(RcControl &c, bool extended, const std::string &where)
    {
        if (!text_or_ordinal(c, true) || !comma(where) || !control_id(c) || !comma(where) ||
            !coordinate(c.x, "x") || !comma(where) || !coordinate(c.y, "y"))
            return false;
        if (!accept(","))
            return true;
        return coordinate(c.width, "width") && comma(where) && coordinate(c.height, "height") &&
               trailing(c, extended, true, where);
    }

    bool control_id(RcControl &c) { return signed_value(c.id); }

    // An icon names its image by number, or by a bare resource name.
    bool text_or_ordinal(RcControl &c, bool bare_name)
    {
        uint32_t known = 0;
        if (peek().kind == Token::string || (bare_name && peek().kind == Token::name && !win32_value(peek().text, known))) {
            c.text = take().text;
            return true;
        }
        return signed_value(c.ordinal);
    }

    bool control_class(RcControl &c)
    {
        const Token &t = peek();
        if (t.kind == Token::string) {
            c.window_class = canonical_class(take().text);
            return true;
        }
        for (const ClassWord &w : class_words) {
            if (is_word(t, w.word)) {
                take();
                c.window_class = w.window_class;
                return true;
            }
        }
        return fail_here("unknown control class " + describe(t));
    }

    static std::string canonical_class(const std::string &name)
    {
        for (const ClassWord &w : class_words) {
            if (same_word(name, w.window_class))
                return std::string(w.window_class);
        }
        return name;
    }

    // [, style] [, exstyle] and, in a DIALOGEX, [, helpid].
    bool trailing(RcControl &c, bool extended, bool with_style, const std::string &where)
    {
        if (with_style) {
            if (!accept(","))
                return true;
            if (!style_list(c.style))
                return false;
        }
        if (!accept(","))
            return true;
        if (!style_list(c.ex_style))
            return false;
        if (!is_punct(peek(), ","))
            return true;
        if (!extended)
            return fail_here("too many arguments to " + where + " (a help id needs DIALOGEX)");
        take();
        uint32_t help_id = 0;
        if (!value(help_id))
            return false;
        if (is_punct(peek(), ","))
            return fail_here("too many arguments to " + where);
        return true;
    }

    const std::vector<Token> &tokens_;
    size_t pos_ = 0;
    Diagnostics &diag_;
    std::string where_;  // the dialog being read, for messages
    bool styled_ = false, captioned_ = false, fonted_ = false;
};

const DialogOption Parser::dialog_options[] = {
    {"STYLE", &Parser::option_style},       {"EXSTYLE", &Parser::option_exstyle},
    {"CAPTION", &Parser::option_caption},   {"FONT", &Parser::option_font},
    {"CLASS", &Parser::option_name},        {"MENU", &Parser::option_name},
    {"LANGUAGE", &Parser::option_language}, {"CHARACTERISTICS", &Parser::option_number},
    {"VERSION", &Parser::option_number},
};

const DialogOption *Parser::dialog_option() const
{
    for (const DialogOption &o : dialog_options) {
        if (is_word(peek(), o.keyword))
            return &o;
    }
    return nullptr;
}

bool read_script(const std::string &name, const std::string &text, const RcIncludeResolver &include,
                 const std::vector<std::string> &defines, RcScript &out, Diagnostics &diag)
{
    Preprocessor pre(diag, include);
    // The resource compiler defines it, and headers shared with C code test it.
    if (!pre.predefine("RC_INVOKED"))
        return false;
    for (const std::string &d : defines) {
        if (!pre.predefine(d))
            return false;
    }
    std::vector<Token> tokens;
    return pre.run(name, text, tokens) && Parser(tokens, diag).script(out);
}

} // namespace

const RcDialog *RcScript::find_dialog(int id) const
{
    for (const RcDialog &d : dialogs) {
        if (d.id == id)
            return &d;
    }
    return nullptr;
}

bool rc_read(const std::string &name, const std::string &text, const RcIncludeResolver &include,
             const std::vector<std::string> &defines, RcScript &out, std::string &error)
{
    out = RcScript{};
    error.clear();
    // Half a script is worse than none: the caller gets all or nothing.
    try {
        RcScript script;
        Diagnostics diag;
        if (!read_script(name, text, include, defines, script, diag)) {
            error = diag.error.empty() ? name + ": cannot read the script" : diag.error;
            return false;
        }
        out = std::move(script);
        return true;
    } catch (const std::exception &e) {
        // Out of memory, or a resolver that threw: still only a failed read.
        error = name + ": " + e.what();
        return false;
    }
}
