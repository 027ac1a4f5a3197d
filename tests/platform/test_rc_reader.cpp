// tests/platform/test_rc_reader.cpp: the resource-script reader on good, bad and damaged scripts.
#include "platform/rc_reader.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Files = std::map<std::string, std::string>;

std::string fixture(const std::string &name)
{
    std::ifstream in(std::string(RC_FIXTURES) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Includes come from memory; `asked` records every name asked for, in order.
RcIncludeResolver resolver(const Files &files, std::vector<std::string> *asked = nullptr)
{
    return [files, asked](const std::string &name, std::string &text) {
        if (asked != nullptr)
            asked->push_back(name);
        auto f = files.find(name);
        if (f == files.end())
            return false;
        text = f->second;
        return true;
    };
}

struct Read {
    bool ok = false;
    RcScript script;
    std::string error;
};

Read read(const std::string &name, const std::string &text, const Files &files = {},
          const std::vector<std::string> &defines = {})
{
    Read r;
    r.ok = rc_read(name, text, resolver(files), defines, r.script, r.error);
    return r;
}

const Files &fixture_headers()
{
    static const Files files = {{"rc_ids.h", fixture("rc_ids.h")}, {"rc_layout.h", fixture("rc_layout.h")}};
    return files;
}

Read read_fixture(const std::vector<std::string> &defines = {})
{
    return read("rc_dialogs.rc", fixture("rc_dialogs.rc"), fixture_headers(), defines);
}

// A one-dialog script around `options`, to look at what they make.
Read read_dialog(const std::string &prelude, const std::string &options)
{
    return read("t.rc", prelude + "\n1 DIALOG 0, 0, 10, 10\n" + options + "\nBEGIN\nEND\n");
}

std::vector<int> dialog_ids(const RcScript &s)
{
    std::vector<int> ids;
    for (const RcDialog &d : s.dialogs)
        ids.push_back(d.id);
    return ids;
}

std::vector<int> control_ids(const RcDialog &d)
{
    std::vector<int> ids;
    for (const RcControl &c : d.controls)
        ids.push_back(c.id);
    return ids;
}

// ---- the fixture script ---------------------------------------------------

constexpr uint32_t child = WS_CHILD | WS_VISIBLE;
constexpr uint32_t ws_ex_controlparent = 0x00010000;  // Win32's; the platform header has no use for it

TEST(RcReaderFixture, ReadsTemplatesIconAndSkipsTheRest)
{
    Read r = read_fixture();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(dialog_ids(r.script), (std::vector<int>{139, 101, 120, 103}));
    ASSERT_EQ(r.script.icons.size(), 1u);
    EXPECT_EQ(r.script.icons[0].id, 286);
    EXPECT_EQ(r.script.icons[0].file, "nuv.ico");
    EXPECT_EQ(r.script.find_dialog(304), nullptr);
    EXPECT_EQ(r.script.find_dialog(112), nullptr);  // the firmware entry is no dialog
}

TEST(RcReaderFixture, ControlsStandInTemplateOrder)
{
    Read r = read_fixture();
    ASSERT_TRUE(r.ok) << r.error;
    const RcDialog *address = r.script.find_dialog(101);
    const RcDialog *plain = r.script.find_dialog(120);
    ASSERT_NE(address, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(control_ids(*address), (std::vector<int>{1, 2, 1007, 1000, 1017, -1, -1, 1010}));
    EXPECT_EQ(control_ids(*plain), (std::vector<int>{-1, -1, -1, -1, 1100, 1101, -1, 1102, 1103, 1104}));
}

struct DialogCase {
    int id;
    bool extended;
    uint32_t style;
    uint32_t ex_style;
    int x, y, width, height;
    const char *caption;
    int font_size;
    const char *font_name;
};

TEST(RcReaderFixture, DialogHeadersWithTheCompilersDefaults)
{
    const DialogCase cases[] = {
        {139, false, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0, 0, 204, 143,
         "NUV-2200 Firmware Upgrade", 8, "MS Sans Serif"},
        {101, true, DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, ws_ex_controlparent,
         200, 200, 165, 181, "Enter \"NUV\" IP Address", 8, "MS Sans Serif"},
        // no STYLE: a pop-up with border and system menu, and no font bit without FONT
        {120, false, WS_POPUP | WS_BORDER | WS_SYSMENU, 0, 10, 20, 100, 50, "", 0, ""},
        // CAPTION alone adds WS_CAPTION to those defaults
        {103, false, WS_POPUP | WS_BORDER | WS_SYSMENU | WS_CAPTION, 0, 200, 200, 172, 166, "Confirm Upgrade", 0, ""},
    };
    Read r = read_fixture();
    ASSERT_TRUE(r.ok) << r.error;
    for (const DialogCase &c : cases) {
        SCOPED_TRACE("dialog " + std::to_string(c.id));
        const RcDialog *d = r.script.find_dialog(c.id);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->extended, c.extended);
        EXPECT_EQ(d->style, c.style);
        EXPECT_EQ(d->ex_style, c.ex_style);
        EXPECT_EQ(d->x, c.x);
        EXPECT_EQ(d->y, c.y);
        EXPECT_EQ(d->width, c.width);
        EXPECT_EQ(d->height, c.height);
        EXPECT_EQ(d->caption, c.caption);
        EXPECT_EQ(d->font_size, c.font_size);
        EXPECT_EQ(d->font_name, c.font_name);
    }
}

struct ControlCase {
    int dialog;
    size_t index;
    const char *window_class;
    int id;
    const char *text;
    int ordinal;
    uint32_t style;
    uint32_t ex_style;
    int x, y, width, height;
};

TEST(RcReaderFixture, ControlsFieldByField)
{
    const ControlCase cases[] = {
        {139, 0, "Button", IDOK, "Continue", -1, child | BS_PUSHBUTTON | WS_TABSTOP, 0, 41, 116, 50, 14},
        {139, 1, "Button", IDCANCEL, "Cancel", -1, child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 109, 116, 50, 14},
        // NOT takes the border and tab stop that EDITTEXT gives by default
        {139, 2, "Edit", 1021, "", -1, child | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL, 0, 12, 13, 189, 95},
        {101, 2, "Edit", 1007, "", -1, child | ES_MULTILINE | ES_READONLY | WS_TABSTOP, WS_EX_STATICEDGE,
         13, 6, 139, 16},
        {101, 3, "SysIPAddress32", 1000, "", -1, child | WS_TABSTOP, 0, 26, 103, 109, 15},
        {101, 4, "ComboBox", 1017, "", -1, child | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, 63, 153, 79, 80},
        {101, 5, "Static", -1, "Your IP Address", -1, child | SS_LEFT | WS_GROUP, 0, 9, 156, 52, 8},
        {101, 6, "Static", -1, "", 286, child | SS_ICON, 0, 119, 18, 20, 20},
        // a class string in any case comes out in the canonical spelling
        {101, 7, "msctls_progress32", 1010, "", -1, child | PBS_SMOOTH | WS_BORDER, WS_EX_CLIENTEDGE, 22, 10, 141, 14},
        {120, 0, "Button", -1, "Device", -1, child | BS_GROUPBOX, 0, 4, 4, 92, 42},
        {120, 1, "Static", -1, "centred", -1, child | SS_CENTER | WS_GROUP | SS_NOPREFIX, 0, 8, 14, 84, 8},
        {120, 2, "Static", -1, "right", -1, child | SS_RIGHT | WS_GROUP, 0, 8, 24, 84, 8},
        // an icon by resource name, without a size
        {120, 3, "Static", -1, "NUVICON", -1, child | SS_ICON, 0, 8, 34, 0, 0},
        {120, 4, "Button", 1100, "Go", -1, child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 50, 34, 40, 10},
        // NOT WS_VISIBLE makes a hidden control, as on Windows
        {120, 5, "msctls_progress32", 1101, "", -1, WS_CHILD | WS_BORDER, 0, 8, 44, 84, 2},
        {120, 6, "Static", -1, "", 106, child | SS_ICON, 0, 0, 0, 0, 0},
        {120, 7, "NuvPanel", 1102, "", -1, child, 0, -4, -2, 1, 1},
        // the statements' own defaults, with no style given
        {120, 8, "Edit", 1103, "", -1, child | ES_LEFT | WS_BORDER | WS_TABSTOP, 0, 8, 4, 40, 12},
        {120, 9, "ComboBox", 1104, "", -1, child | CBS_SIMPLE | WS_TABSTOP, 0, 50, 4, 40, 30},
    };
    Read r = read_fixture();
    ASSERT_TRUE(r.ok) << r.error;
    for (const ControlCase &c : cases) {
        SCOPED_TRACE("dialog " + std::to_string(c.dialog) + " control " + std::to_string(c.index));
        const RcDialog *d = r.script.find_dialog(c.dialog);
        ASSERT_NE(d, nullptr);
        ASSERT_LT(c.index, d->controls.size());
        const RcControl &got = d->controls[c.index];
        EXPECT_EQ(got.window_class, c.window_class);
        EXPECT_EQ(got.id, c.id);
        EXPECT_EQ(got.text, c.text);
        EXPECT_EQ(got.ordinal, c.ordinal);
        EXPECT_EQ(got.style, c.style) << std::hex << got.style << " != " << c.style;
        EXPECT_EQ(got.ex_style, c.ex_style);
        EXPECT_EQ(got.x, c.x);
        EXPECT_EQ(got.y, c.y);
        EXPECT_EQ(got.width, c.width);
        EXPECT_EQ(got.height, c.height);
    }
}

TEST(RcReaderFixture, DefinesSwitchTheConditionalTemplate)
{
    Read target = read_fixture();
    Read transition = read_fixture({"NUV_TRANSITION"});
    ASSERT_TRUE(target.ok) << target.error;
    ASSERT_TRUE(transition.ok) << transition.error;
    EXPECT_EQ(dialog_ids(target.script), (std::vector<int>{139, 101, 120, 103}));
    EXPECT_EQ(dialog_ids(transition.script), (std::vector<int>{139, 101, 120, 304}));
    const RcDialog *d = transition.script.find_dialog(304);
    ASSERT_NE(d, nullptr);
    ASSERT_FALSE(d->controls.empty());
    EXPECT_EQ(d->controls[0].x, 42);
    EXPECT_EQ(d->controls[0].y, 179);
}

TEST(RcReaderFixture, NestedHeaderIsReadOnceThroughItsGuard)
{
    std::vector<std::string> asked;
    RcScript script;
    std::string error;
    // rc_ids.h says #error when its guard lets it through a second time.
    ASSERT_TRUE(rc_read("rc_dialogs.rc", fixture("rc_dialogs.rc"), resolver(fixture_headers(), &asked), {},
                        script, error))
        << error;
    EXPECT_EQ(asked, (std::vector<std::string>{"rc_ids.h", "rc_layout.h", "rc_ids.h"}));
}

// ---- names, numbers, strings ----------------------------------------------

struct NameCase {
    const char *name;
    uint32_t value;
};

TEST(RcReaderValues, Win32NamesHaveWin32Values)
{
    // The reader skips <windows.h> and knows these itself; the values must be
    // the platform header's, or native and Windows builds would differ.
    const NameCase cases[] = {
        {"WS_OVERLAPPED", WS_OVERLAPPED}, {"WS_POPUP", WS_POPUP},           {"WS_CHILD", WS_CHILD},
        {"WS_VISIBLE", WS_VISIBLE},       {"WS_DISABLED", WS_DISABLED},     {"WS_CAPTION", WS_CAPTION},
        {"WS_BORDER", WS_BORDER},         {"WS_DLGFRAME", WS_DLGFRAME},     {"WS_VSCROLL", WS_VSCROLL},
        {"WS_HSCROLL", WS_HSCROLL},       {"WS_SYSMENU", WS_SYSMENU},       {"WS_GROUP", WS_GROUP},
        {"WS_TABSTOP", WS_TABSTOP},       {"WS_EX_STATICEDGE", WS_EX_STATICEDGE},
        {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE},
        {"DS_3DLOOK", DS_3DLOOK},         {"DS_FIXEDSYS", DS_FIXEDSYS},     {"DS_SETFONT", DS_SETFONT},
        {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_CENTER", DS_CENTER},
        {"BS_PUSHBUTTON", BS_PUSHBUTTON}, {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
        {"BS_GROUPBOX", BS_GROUPBOX},
        {"ES_LEFT", ES_LEFT},             {"ES_CENTER", ES_CENTER},         {"ES_RIGHT", ES_RIGHT},
        {"ES_MULTILINE", ES_MULTILINE},   {"ES_PASSWORD", ES_PASSWORD},     {"ES_AUTOVSCROLL", ES_AUTOVSCROLL},
        {"ES_AUTOHSCROLL", ES_AUTOHSCROLL}, {"ES_READONLY", ES_READONLY},   {"ES_WANTRETURN", ES_WANTRETURN},
        {"ES_NUMBER", ES_NUMBER},
        {"SS_LEFT", SS_LEFT},             {"SS_CENTER", SS_CENTER},         {"SS_RIGHT", SS_RIGHT},
        {"SS_ICON", SS_ICON},             {"SS_NOPREFIX", SS_NOPREFIX},     {"SS_CENTERIMAGE", SS_CENTERIMAGE},
        {"SS_SUNKEN", SS_SUNKEN},
        {"CBS_SIMPLE", CBS_SIMPLE},       {"CBS_DROPDOWN", CBS_DROPDOWN},   {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
        {"CBS_SORT", CBS_SORT},           {"PBS_SMOOTH", PBS_SMOOTH},
        {"IDOK", IDOK},                   {"IDCANCEL", IDCANCEL},           {"IDYES", IDYES},
        {"IDNO", IDNO},
        // not in the platform header, which has no use for them: Win32's values
        {"IDC_STATIC", 0xFFFFFFFF},       {"LANG_ENGLISH", 9},              {"SUBLANG_ENGLISH_US", 1},
        {"LANG_NEUTRAL", 0},              {"SUBLANG_NEUTRAL", 0},           {"SUBLANG_DEFAULT", 1},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.name);
        Read r = read_dialog("", std::string("STYLE ") + c.name);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.script.dialogs[0].style, c.value);
    }
}

struct ValueCase {
    const char *prelude;
    const char *expression;
    uint32_t value;
};

TEST(RcReaderValues, ExpressionsInStyles)
{
    const ValueCase cases[] = {
        {"", "0x10 | 0x01", 0x11},
        {"", "1 + 2 | 8", 11},
        {"", "10 - 3 - 2", 5},  // left to right
        {"", "2 * 3 + 1", 7},   // C's precedence
        {"", "6 & 3 + 1", 4},
        {"", "~0", 0xFFFFFFFF},
        {"", "-1", 0xFFFFFFFF},
        {"", "-(2 + 3)", 0u - 5u},
        {"", "(1 | 2) + 4", 7},
        {"", "10L | 0x7fffU | 12UL", 0x7fff},
        {"", "010", 10},  // no octal in resource scripts
        {"", "0xFFFFFFFF", 0xFFFFFFFF},
        {"", "0X1f", 0x1f},
        {"", "SS_ICON & 1", 1},
        {"", "WS_POPUP | WS_CHILD | NOT WS_CHILD", WS_POPUP},
        {"", "WS_POPUP | NOT WS_CHILD", WS_POPUP},  // NOT of a bit never set
        {"", "NOT WS_VISIBLE | WS_CHILD", WS_CHILD},
        // substitution is textual, as in C: parentheses are the header's business
        {"#define A (2 + 3)", "A * 2", 10},
        {"#define B 2 + 3", "B * 2", 8},
        {"#define C D | 1\n#define D 0x100", "C", 0x101},  // a body names a later macro
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.expression);
        Read r = read_dialog(c.prelude, std::string("STYLE ") + c.expression);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.script.dialogs[0].style, c.value) << std::hex << r.script.dialogs[0].style;
    }
}

TEST(RcReaderValues, NegativePositionsAndIds)
{
    Read r = read("t.rc", "#define IDC_STATIC (-1)\n"
                          "1 DIALOG -5, -(3), 10, 10\n"
                          "BEGIN\n"
                          "  LTEXT \"a\", IDC_STATIC, -32768, 32767, 1, 1\n"
                          "  LTEXT \"b\", -2, 0, 0, 1, 1\n"
                          "END\n");
    ASSERT_TRUE(r.ok) << r.error;
    const RcDialog &d = r.script.dialogs[0];
    EXPECT_EQ(d.x, -5);
    EXPECT_EQ(d.y, -3);
    ASSERT_EQ(d.controls.size(), 2u);
    EXPECT_EQ(d.controls[0].id, -1);
    EXPECT_EQ(d.controls[0].x, -32768);
    EXPECT_EQ(d.controls[0].y, 32767);
    EXPECT_EQ(d.controls[1].id, -2);
}

struct StringCase {
    const char *literal;
    const char *text;
};

TEST(RcReaderValues, StringLiterals)
{
    const StringCase cases[] = {
        {R"("a ""quoted"" word")", "a \"quoted\" word"},
        {R"("q\"q")", "q\"q"},
        {R"("tab\there")", "tab\there"},
        {R"("one\r\ntwo")", "one\r\ntwo"},
        {R"("back\\slash")", "back\\slash"},
        {R"("hex\x41\x4a!")", "hexAJ!"},
        {R"("\x414")", "A4"},  // two hex digits make a byte
        {R"("oct\101")", "octA"},
        {R"("res\dir\nuv")", "res\\dir\nuv"},  // an escape that is none is kept as written
        {R"(L"wide")", "wide"},
        {R"("")", ""},
        {R"("// and /* are text")", "// and /* are text"},
    };
    for (const StringCase &c : cases) {
        SCOPED_TRACE(c.literal);
        Read r = read_dialog("", std::string("CAPTION ") + c.literal);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.script.dialogs[0].caption, c.text);
    }
}

TEST(RcReaderValues, FileNamesQuotedOrNot)
{
    Read r = read("t.rc", "#define NUV_ICON \"res\\\\nuv.ico\"\n"
                          "#define NUV_BARE_ICON res/bare.ico\n"
                          "1 ICON NUV_ICON\n"
                          "2 ICON res/other.ico\n"
                          "3 ICON \"plain.ico\"\n"
                          "4 ICON NUV_BARE_ICON\n");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.script.icons.size(), 4u);
    EXPECT_EQ(r.script.icons[0].file, "res\\nuv.ico");
    EXPECT_EQ(r.script.icons[1].file, "res/other.ico");
    EXPECT_EQ(r.script.icons[2].file, "plain.ico");
    EXPECT_EQ(r.script.icons[3].file, "res/bare.ico");
}

// ---- the preprocessor -------------------------------------------------------

struct ConditionalCase {
    const char *script;  // D<n> stands for a dialog with id n
    std::vector<std::string> defines;
    std::vector<int> dialogs;
};

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

std::string with_dialogs(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != 'D' || i + 1 == text.size() || !is_digit(text[i + 1])) {
            out += text[i];
            continue;
        }
        while (i + 1 < text.size() && is_digit(text[i + 1]))
            out += text[++i];
        out += " DIALOG 0, 0, 1, 1 BEGIN END";
    }
    return out;
}

TEST(RcReaderPreprocessor, ConditionalsChooseText)
{
    const ConditionalCase cases[] = {
        {"#if 0\nD1\n#else\nD2\n#endif\n", {}, {2}},
        {"#if 1\nD1\n#else\nD2\n#endif\n", {}, {1}},
        {"#define X\n#if defined(X)\nD1\n#endif\n", {}, {1}},
        {"#if defined X\nD1\n#endif\nD2\n", {}, {2}},
        {"#ifndef X\nD1\n#endif\n", {}, {1}},
        {"#ifdef X\nD1\n#elif defined(Y)\nD2\n#else\nD3\n#endif\n", {"Y"}, {2}},
        {"#ifdef X\nD1\n#elif defined(Y)\nD2\n#else\nD3\n#endif\n", {"X", "Y"}, {1}},
        {"#ifdef X\nD1\n#elif defined(Y)\nD2\n#else\nD3\n#endif\n", {}, {3}},
        {"#if 1\nD1\n#elif 1\nD2\n#endif\n", {}, {1}},  // one branch only
        // an #if inside skipped text stays skipped, whatever it says
        {"#if 0\n#if 1\nD1\n#endif\nD2\n#else\nD3\n#endif\n", {}, {3}},
        {"#if 1\n#if 0\nD1\n#else\nD2\n#endif\nD3\n#endif\n", {}, {2, 3}},
        {"#define X\n#undef X\n#ifdef X\nD1\n#else\nD2\n#endif\n", {}, {2}},
        {"#define LEVEL 2\n#if LEVEL >= 2 && !defined(Z)\nD1\n#endif\n", {}, {1}},
        {"#if LEVEL == 3\nD1\n#endif\n", {"LEVEL=3"}, {1}},
        {"#if UNDEFINED_NAME\nD1\n#endif\n", {}, {}},
        {"#if -1 < 0\nD1\n#endif\n", {}, {1}},
        // skipped text need not be well formed
        {"#if 0\nit's \"broken\n#bogus directive\n#endif\nD1\n", {}, {1}},
        {"/*\n#if 0\n*/\nD1\n", {}, {1}},
        {"// #if 0\nD1\n", {}, {1}},
        {"   #  ifdef RC_INVOKED\nD1\n#endif\n", {}, {1}},  // the resource compiler's own name
        {"#ifdef _WIN32\nD1\n#endif\n", {}, {}},
        {"#pragma code_page(1252)\n#\nD1\n", {}, {1}},
    };
    for (const ConditionalCase &c : cases) {
        SCOPED_TRACE(c.script);
        Read r = read("t.rc", with_dialogs(c.script), {}, c.defines);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(dialog_ids(r.script), c.dialogs);
    }
}

TEST(RcReaderPreprocessor, IncludesResumeTheIncludingFile)
{
    // Line numbers go on in the including file after the header.
    Files files = {{"ids.h", "#define IDD_A 5\n\n\n\n"}};
    Read r = read("t.rc", "#include \"ids.h\"\nIDD_A DIALOG 0,0,1,1\nBEGIN\n  BOGUS\nEND\n", files);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "t.rc:4: unknown control statement BOGUS in DIALOG 5");
}

TEST(RcReaderPreprocessor, HeadersNestDeeply)
{
    // h0.h includes h1.h, and so on; the last one holds the id.
    auto header = [](int i) {
        std::string name = "h";
        name += std::to_string(i);
        name += ".h";
        return name;
    };
    Files files;
    for (int i = 0; i < 12; ++i) {
        std::string line = "#include \"";
        line += header(i + 1);
        line += "\"\n";
        files[header(i)] = line;
    }
    files["h12.h"] = "#define IDD_DEEP 12\n";
    Read r = read("t.rc", "#include \"h0.h\"\nIDD_DEEP DIALOG 0,0,1,1 BEGIN END\n", files);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(dialog_ids(r.script), std::vector<int>{12});
}

TEST(RcReaderPreprocessor, SystemHeadersNeedNoResolver)
{
    RcScript script;
    std::string error;
    EXPECT_TRUE(rc_read("t.rc", "#include <windows.h>\n1 DIALOG 0,0,1,1 BEGIN END\n", nullptr, {}, script, error))
        << error;
    EXPECT_FALSE(rc_read("t.rc", "#include \"ids.h\"\n", nullptr, {}, script, error));
    EXPECT_EQ(error, "t.rc:1: #include file \"ids.h\" not found");
}

TEST(RcReaderPreprocessor, BadDefineIsRefused)
{
    Read r = read("t.rc", "", {}, {"1X"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "-D1X: not a macro name");
}

// ---- faults -----------------------------------------------------------------

struct FaultCase {
    const char *what;
    const char *script;
    Files files;
    const char *where;    // file:line
    const char *message;  // what the message must say
};

std::string repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// Each macro twice the one before: 2^30 tokens unless the reader stops it.
std::string doubling_macros()
{
    std::string text = "#define M0 1\n";
    for (int i = 1; i <= 30; ++i)
        text += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + " M" + std::to_string(i - 1) + "\n";
    return text + "1 DIALOG M30\n";
}

const std::string deep_parentheses = "1 DIALOG " + repeat("(", 5000) + "1" + repeat(")", 5000) + ",0,1,1\n";
const std::string blown_up = doubling_macros();

TEST(RcReaderFaults, MalformedScriptsSayWhereAndWhat)
{
    const FaultCase cases[] = {
        {"unterminated string", "1 DIALOG 0,0,1,1\nCAPTION \"abc\nBEGIN\nEND\n", {}, "t.rc:2", "unterminated string"},
        {"string cut by the end", "1 DIALOG 0,0,1,1\nCAPTION \"abc\\", {}, "t.rc:2", "unterminated string"},
        {"unterminated comment", "1 DIALOG 0,0,1,1\n/* open\nBEGIN END\n", {}, "t.rc:2", "unterminated comment"},
        {"unknown style name", "1 DIALOG 0,0,1,1\nSTYLE WS_POPUP | WS_POPUPP\nBEGIN\nEND\n", {}, "t.rc:2",
         "unknown name WS_POPUPP"},
        {"unknown name in a control", "1 DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\",IDC_NOPE,0,0,1,1\nEND\n", {}, "t.rc:3",
         "unknown name IDC_NOPE"},
        {"lines in a comment count", "1 DIALOG 0,0,1,1\n/* two\nlines */\nSTYLE WS_NOPE\n", {}, "t.rc:4",
         "unknown name WS_NOPE"},
        {"CRLF lines count", "1 DIALOG 0,0,1,1\r\n\r\nSTYLE WS_NOPE\r\nBEGIN\r\nEND\r\n", {}, "t.rc:3",
         "unknown name WS_NOPE"},
        {"missing comma in a header", "1 DIALOG 0, 0 1, 1\nBEGIN\nEND\n", {}, "t.rc:1", "missing comma before 1"},
        {"missing comma in a control", "1 DIALOG 0,0,1,1\nBEGIN\n  PUSHBUTTON \"a\" 1,0,0,1,1\nEND\n", {}, "t.rc:3",
         "missing comma before 1 in PUSHBUTTON"},
        {"missing END", "1 DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\",1,0,0,1,1\n", {}, "t.rc:3",
         "unexpected end of file in DIALOG 1"},
        {"missing BEGIN", "1 DIALOGEX 0,0,1,1\nCAPTION \"a\"\n", {}, "t.rc:2", "unexpected end of file in DIALOGEX 1"},
        {"cut in a control", "1 DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\",1,0,", {}, "t.rc:3", "expected a number, found end of file"},
        {"misspelled option", "1 DIALOG 0,0,1,1\nSTYLEE WS_POPUP\nBEGIN\nEND\n", {}, "t.rc:2", "found STYLEE"},
        {"unknown control", "1 DIALOG 0,0,1,1\nBEGIN\n  CHECKBOX \"a\",1,0,0,1,1\nEND\n", {}, "t.rc:3",
         "unknown control statement CHECKBOX in DIALOG 1"},
        {"stray punctuation", "1 DIALOG 0,0,1,1\nBEGIN\n  ,\nEND\n", {}, "t.rc:3", "unknown control statement ','"},
        {"text needs a string", "1 DIALOG 0,0,1,1\nBEGIN\n  PUSHBUTTON IDOK,0,0,1,1\nEND\n", {}, "t.rc:3",
         "PUSHBUTTON needs a string, found IDOK"},
        {"caption needs a string", "1 DIALOG 0,0,1,1\nCAPTION IDOK\nBEGIN\nEND\n", {}, "t.rc:2", "CAPTION needs a string"},
        {"help id in a DIALOG", "1 DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\",1,0,0,1,1,0,0,5\nEND\n", {}, "t.rc:3",
         "too many arguments to LTEXT"},
        {"too much in a DIALOGEX", "1 DIALOGEX 0,0,1,1\nBEGIN\n  EDITTEXT 1,0,0,1,1,0,0,5,6\nEND\n", {}, "t.rc:3",
         "too many arguments to EDITTEXT"},
        {"font weight in a DIALOG", "1 DIALOG 0,0,1,1\nFONT 8, \"MS Sans Serif\", 400\nBEGIN\nEND\n", {}, "t.rc:2",
         "FONT in a DIALOG takes a size and a name only"},
        {"coordinate out of range", "1 DIALOG 0,0,40000,1\nBEGIN\nEND\n", {}, "t.rc:1", "width 40000 is out of range"},
        {"unknown bare class", "1 DIALOG 0,0,1,1\nBEGIN\n  CONTROL \"\",1,LISTVIEW,0,0,0,1,1\nEND\n", {}, "t.rc:3",
         "unknown control class LISTVIEW"},
        {"division by zero", "1 DIALOG 0,0,10/0,1\nBEGIN\nEND\n", {}, "t.rc:1", "division by zero"},
        {"number too large", "1 DIALOG 0,0,1,1 STYLE 0x100000000 BEGIN END\n", {}, "t.rc:1",
         "number 0x100000000 is too large"},
        {"bad number", "1 DIALOG 0,0,1,1 STYLE 12x BEGIN END\n", {}, "t.rc:1", "bad number 12x"},
        {"missing parenthesis", "1 DIALOG (1 + 2, 0, 1, 1 BEGIN END\n", {}, "t.rc:1", "missing ) before ','"},
        {"deep parentheses", deep_parentheses.c_str(), {}, "t.rc:1", "expression nested too deeply"},
        {"duplicate dialog", "1 DIALOG 0,0,1,1 BEGIN END\n0x1 DIALOGEX 0,0,1,1 BEGIN END\n", {}, "t.rc:2",
         "duplicate dialog id 1"},
        {"duplicate icon", "7 ICON \"a.ico\"\n7 ICON \"b.ico\"\n", {}, "t.rc:2", "duplicate icon id 7"},
        {"dialog id no number", "IDD_MISSING DIALOG 0,0,1,1 BEGIN END\n", {}, "t.rc:1",
         "dialog id IDD_MISSING is not a number"},
        {"dialog id out of range", "70000 DIALOG 0,0,1,1 BEGIN END\n", {}, "t.rc:1", "dialog id 70000 is out of range"},
        {"icon without file", "1 ICON\n", {}, "t.rc:1", "expected a file name in ICON 1, found end of file"},
        {"resource without type", "\n1\n", {}, "t.rc:2", "expected a resource type after 1"},
        {"stray END", "1 DIALOG 0,0,1,1 BEGIN END\nEND\n", {}, "t.rc:2", "unexpected END"},
        {"string table without END", "STRINGTABLE\nBEGIN\n  1 \"a\"\n", {}, "t.rc:3",
         "unexpected end of file in STRINGTABLE"},
        {"user data without END", "5 NUV_FIRMWARE\nBEGIN\n  1, 2\n", {}, "t.rc:3",
         "unexpected end of file in NUV_FIRMWARE"},
        {"self-referring macro", "#define E E\n1 DIALOG E,0,1,1 BEGIN END\n", {}, "t.rc:2", "unknown name E"},
        {"function-like macro", "#define F(x) x\n1 DIALOG 0,0,F(1),1 BEGIN END\n", {}, "t.rc:2",
         "function-like macro F is not supported"},
        {"macro explosion", blown_up.c_str(), {}, "t.rc:32", "script too large after macro substitution"},
        {"#error", "#ifndef NUV_TARGET\n#error no target image\n#endif\n", {}, "t.rc:2", "#error no target image"},
        {"#else without #if", "1 DIALOG 0,0,1,1 BEGIN END\n#else\n", {}, "t.rc:2", "#else without #if"},
        {"#endif without #if", "\n#endif\n", {}, "t.rc:2", "#endif without #if"},
        {"#elif after #else", "#if 0\n#else\n#elif 1\n#endif\n", {}, "t.rc:3", "#elif after #else"},
        {"#else after #else", "#if 0\n#else\n#else\n#endif\n", {}, "t.rc:3", "#else after #else"},
        {"unterminated #ifdef", "#ifdef X\n1 DIALOG 0,0,1,1 BEGIN END\n", {}, "t.rc:1", "unterminated #ifdef"},
        {"#if with nothing", "#if\n#endif\n", {}, "t.rc:1", "#if with no expression"},
        {"#if with junk", "#if 1 2\n#endif\n", {}, "t.rc:1", "unexpected 2 in #if"},
        {"#ifdef with no name", "#ifdef\n#endif\n", {}, "t.rc:1", "#ifdef needs a macro name"},
        {"defined with no name", "#if defined(\n#endif\n", {}, "t.rc:1", "defined needs a macro name"},
        {"#define with no name", "#define 5 6\n", {}, "t.rc:1", "#define needs a macro name"},
        {"unknown directive", "\n#bogus\n", {}, "t.rc:2", "unknown directive #bogus"},
        {"# inside a line", "1 DIALOG 0,0,1,1 #define X 1\nBEGIN\nEND\n", {}, "t.rc:1", "found '#'"},
        {"#include without a name", "#include ids.h\n", {}, "t.rc:1", "#include expects \"file\" or <file>"},
        {"#include with more", "#include \"ids.h\" extra\n", {{"ids.h", ""}}, "t.rc:1",
         "unexpected extra after #include"},
        {"#include not found", "\n#include \"missing.h\"\n", {}, "t.rc:2", "#include file \"missing.h\" not found"},
        // faults in a header are reported in the header
        {"fault in a header", "#include \"ids.h\"\n", {{"ids.h", "// ids\n\n#define S \"open\n"}}, "ids.h:3",
         "unterminated string"},
        {"fault two headers down", "#include \"a.h\"\n", {{"a.h", "#include \"b.h\"\n"}, {"b.h", "\n#bogus\n"}},
         "b.h:2", "unknown directive #bogus"},
        // a header's #if must end in the header
        {"#if left open by a header", "#include \"a.h\"\n#endif\n", {{"a.h", "#if 1\n#define A 1\n"}}, "a.h:1",
         "unterminated #if"},
        // and an #else in a header cannot continue the includer's #if
        {"#else in a header", "#if 1\n#include \"a.h\"\n#endif\n", {{"a.h", "#else\n"}}, "a.h:1",
         "#else without #if"},
        {"header including itself", "#include \"loop.h\"\n", {{"loop.h", "#include \"loop.h\"\n"}}, "loop.h:1",
         "#include nested too deeply"},
    };
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(c.what);
        Read r = read("t.rc", c.script, c.files);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.rfind(std::string(c.where) + ": ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        EXPECT_TRUE(r.script.dialogs.empty());
    }
}

TEST(RcReaderFaults, FailedReadLeavesNoHalfScript)
{
    RcScript script;
    std::string error;
    ASSERT_TRUE(rc_read("t.rc", with_dialogs("D1\nD2\n"), nullptr, {}, script, error)) << error;
    ASSERT_EQ(script.dialogs.size(), 2u);
    EXPECT_FALSE(rc_read("t.rc", with_dialogs("D1\nD2\n3 DIALOG"), nullptr, {}, script, error));
    EXPECT_TRUE(script.dialogs.empty());
    EXPECT_TRUE(script.icons.empty());
    EXPECT_EQ(script.find_dialog(1), nullptr);
}

// ---- damaged input ------------------------------------------------------------

// "file:line: what", the file one of those that were read.
bool located(const std::string &error)
{
    for (const char *file : {"rc_dialogs.rc:", "rc_ids.h:", "rc_layout.h:"}) {
        if (error.rfind(file, 0) != 0)
            continue;
        size_t i = std::string(file).size(), digits = 0;
        for (; i < error.size() && is_digit(error[i]); ++i)
            ++digits;
        return digits > 0 && error.compare(i, 2, ": ") == 0 && i + 2 < error.size() && error[i + 2] != ' ';
    }
    return false;
}

// Any failure must still say where.
void expect_located(const Read &r)
{
    if (!r.ok) {
        EXPECT_TRUE(located(r.error)) << r.error;
    }
}

void expect_same(const RcControl &a, const RcControl &b)
{
    EXPECT_EQ(a.window_class, b.window_class);
    EXPECT_EQ(a.text, b.text);
    EXPECT_EQ(a.ordinal, b.ordinal);
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.style, b.style);
    EXPECT_EQ(a.ex_style, b.ex_style);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
}

void expect_same(const RcDialog &a, const RcDialog &b)
{
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.extended, b.extended);
    EXPECT_EQ(a.style, b.style);
    EXPECT_EQ(a.ex_style, b.ex_style);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.caption, b.caption);
    EXPECT_EQ(a.font_size, b.font_size);
    EXPECT_EQ(a.font_name, b.font_name);
    ASSERT_EQ(a.controls.size(), b.controls.size());
    for (size_t i = 0; i < a.controls.size(); ++i)
        expect_same(a.controls[i], b.controls[i]);
}

// A script cut anywhere either fails, saying where, or reads as the
// templates before the cut, whole: a cut template is never taken.
TEST(RcReaderDamage, EveryPrefixOfTheFixtureFailsOrReadsWholeTemplates)
{
    const std::string text = fixture("rc_dialogs.rc");
    Read full = read_fixture();
    ASSERT_TRUE(full.ok) << full.error;
    for (size_t n = 0; n < text.size(); ++n) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        Read r = read("rc_dialogs.rc", text.substr(0, n), fixture_headers());
        expect_located(r);
        ASSERT_LE(r.script.dialogs.size(), full.script.dialogs.size());
        for (size_t i = 0; i < r.script.dialogs.size(); ++i)
            expect_same(r.script.dialogs[i], full.script.dialogs[i]);
        if (HasFailure())
            return;  // one cut's worth of messages is enough
    }
}

TEST(RcReaderDamage, MutatedFixtureReadsOrSaysWhere)
{
    const std::string text = fixture("rc_dialogs.rc");
    ASSERT_FALSE(text.empty());
    static const char hostile[] = "\"\\#/*(){},|-~\n\0\xff" "0xL";
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = text;
        for (int k = 0; k < 3; ++k) {
            size_t at = random() % damaged.size();
            damaged[at] = hostile[random() % (sizeof hostile - 1)];
        }
        expect_located(read("rc_dialogs.rc", damaged, fixture_headers()));
    }
}

} // namespace
