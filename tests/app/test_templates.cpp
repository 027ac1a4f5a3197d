// tests/app/test_templates.cpp: the program's dialog templates as the
// native layer reads them from resources/upgrader.rc, checked against the
// screens they must give: a handful of controls from every template.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/rc_reader.h"
#include "platform/win32.h"
#include "upgrader_ids.h"

namespace {

bool read_file(const std::string &path, std::string &text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

const RcScript &script()
{
    static RcScript s;
    static bool done = false;
    if (!done) {
        std::string text, error;
        std::string dir = NUV_RESOURCE_DIR;
        EXPECT_TRUE(read_file(dir + "/upgrader.rc", text));
        auto include = [&](const std::string &name, std::string &out) { return read_file(dir + "/" + name, out); };
        EXPECT_TRUE(rc_read("upgrader.rc", text, include, {}, s, error)) << error;
        done = true;
    }
    return s;
}

constexpr uint32_t kScreenStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

TEST(Templates, EveryScreenIsAnInvisibleModalFramePopupInMsSansSerif8)
{
    struct Shape {
        int id, x, y, width, height;
        const char *caption;
    };
    const Shape shapes[] = {
        {IDD_WARNING, 0, 0, 204, 143, "NUV-2200 Firmware Upgrade"},
        {IDD_ADAPTER_ADDRESS, 200, 200, 165, 181, "Enter NUV IP Address"},
        {IDD_PHONE_ADDRESS, 0, 0, 164, 178, "Dialog"},
        {IDD_CONFIRM, 200, 200, 172, 166, "Confirm Upgrade"},
        {IDD_TRANSITION_CONFIRM, 0, 0, 186, 198, "Confirm Upgrade"},
        {IDD_CONNECTING, 200, 200, 186, 55, "Connecting with NUV"},
        {IDD_PASSWORD, 200, 200, 191, 236, "Enter Password Information"},
        {IDD_WAITING, 0, 0, 270, 141, "Waiting For Firmware Download Request From NUV"},
        {IDD_UPLOAD, 0, 0, 303, 77, "Uploading Firmware To NUV"},
        {IDD_SUCCESS, 0, 0, 171, 126, "NUV Upgrade Successful!"},
    };
    for (const Shape &s : shapes) {
        const RcDialog *d = script().find_dialog(s.id);
        ASSERT_NE(d, nullptr) << s.id;
        EXPECT_EQ(d->style, kScreenStyle) << s.id;
        EXPECT_EQ(d->x, s.x) << s.id;
        EXPECT_EQ(d->y, s.y) << s.id;
        EXPECT_EQ(d->width, s.width) << s.id;
        EXPECT_EQ(d->height, s.height) << s.id;
        EXPECT_EQ(d->caption, s.caption) << s.id;
        EXPECT_EQ(d->font_size, 8) << s.id;
        EXPECT_EQ(d->font_name, "MS Sans Serif") << s.id;
    }
}

TEST(Templates, ControlsHaveTheirIdsTextsPlacesAndStyles)
{
    struct Expect {
        int dialog;
        size_t index;  // place in the template, which is the tab order
        int id;
        const char *window_class;
        const char *text;
        int x, y, width, height;
        uint32_t set;    // style bits that must be set
        uint32_t clear;  // style bits that must not be
    };
    const uint32_t read_only = ES_READONLY | ES_AUTOHSCROLL;
    const Expect expected[] = {
        {IDD_WARNING, 0, IDOK, "Button", "Continue", 41, 116, 50, 14, WS_TABSTOP, BS_DEFPUSHBUTTON},
        {IDD_WARNING, 1, IDCANCEL, "Button", "Cancel", 109, 116, 50, 14, BS_DEFPUSHBUTTON, 0},
        {IDD_WARNING, 2, 1021, "Edit", "", 12, 13, 189, 95, read_only | ES_MULTILINE, WS_TABSTOP | WS_BORDER},
        {IDD_ADAPTER_ADDRESS, 0, IDOK, "Button", "OK", 26, 126, 50, 14, BS_DEFPUSHBUTTON, 0},
        {IDD_ADAPTER_ADDRESS, 4, 1015, "Edit", "", 37, 28, 89, 14, read_only, ES_MULTILINE | WS_BORDER},
        {IDD_ADAPTER_ADDRESS, 5, 1000, "SysIPAddress32", "", 26, 103, 109, 15, 0, 0},
        {IDD_ADAPTER_ADDRESS, 6, 1017, "ComboBox", "", 63, 153, 79, 80, CBS_DROPDOWNLIST | WS_VSCROLL, CBS_SORT},
        {IDD_ADAPTER_ADDRESS, 7, IDC_STATIC, "Static", "Your IP Address", 9, 156, 52, 8, 0, SS_RIGHT | SS_CENTER},
        {IDD_ADAPTER_ADDRESS, 8, IDC_STATIC, "Static", "", 119, 18, 20, 20, SS_ICON, 0},
        {IDD_PHONE_ADDRESS, 3, 1008, "Edit", "", 13, 42, 148, 56, read_only | ES_MULTILINE, WS_BORDER},
        {IDD_CONFIRM, 0, IDOK, "Button", "Upgrade", 33, 143, 50, 14, BS_DEFPUSHBUTTON, 0},
        {IDD_CONFIRM, 2, 1007, "Edit", "", 12, 6, 142, 37, read_only | ES_MULTILINE, WS_BORDER},
        {IDD_CONFIRM, 5, 1004, "Edit", "", 82, 84, 67, 14, read_only | WS_BORDER, 0},
        {IDD_CONFIRM, 10, IDC_STATIC, "Static", "Software Version", 4, 87, 72, 8, SS_RIGHT, 0},
        {IDD_TRANSITION_CONFIRM, 1, IDCANCEL, "Button", "Cancel", 96, 179, 50, 14, 0, BS_DEFPUSHBUTTON},
        {IDD_TRANSITION_CONFIRM, 2, 1007, "Edit", "", 23, 7, 142, 77, read_only | ES_MULTILINE, WS_BORDER},
        {IDD_TRANSITION_CONFIRM, 7, 1006, "Edit", "", 92, 154, 67, 14, read_only | WS_BORDER, 0},
        {IDD_CONNECTING, 0, IDCANCEL, "Button", "Cancel", 65, 34, 50, 14, WS_TABSTOP, 0},
        {IDD_CONNECTING, 1, 1010, "msctls_progress32", "", 22, 10, 141, 14, WS_BORDER, 0},
        {IDD_PASSWORD, 2, 1003, "Edit", "", 68, 168, 85, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, ES_READONLY},
        {IDD_PASSWORD, 3, 1005, "Edit", "", 68, 186, 85, 14, ES_PASSWORD | WS_BORDER | WS_TABSTOP, 0},
        {IDD_PASSWORD, 5, IDC_STATIC, "Static", "Password", 18, 191, 44, 8, SS_RIGHT | WS_GROUP, 0},
        {IDD_PASSWORD, 6, 1007, "Edit", "", 15, 9, 165, 152, read_only | ES_MULTILINE | WS_TABSTOP, WS_BORDER},
        {IDD_WAITING, 0, IDCANCEL, "Button", "Cancel", 108, 115, 50, 14, 0, 0},
        {IDD_WAITING, 1, 1010, "msctls_progress32", "", 38, 95, 191, 14, WS_BORDER, 0},
        {IDD_WAITING, 2, 1022, "Static", "", 15, 9, 244, 79, 0, SS_RIGHT | SS_CENTER},
        {IDD_UPLOAD, 1, 1010, "msctls_progress32", "", 31, 36, 242, 8, WS_BORDER, 0},
        {IDD_UPLOAD, 2, IDC_STATIC, "Static",
         "Please do not unplug the power of your NUV until the Status Light stops blinking", 86, 12, 137, 22,
         SS_CENTER, 0},
        {IDD_SUCCESS, 0, IDOK, "Button", "OK", 59, 94, 50, 14, BS_DEFPUSHBUTTON, 0},
        {IDD_SUCCESS, 1, 1004, "Edit", "", 15, 69, 136, 14, ES_CENTER | read_only | WS_BORDER, 0},
        {IDD_SUCCESS, 2, 1007, "Edit", "", 29, 9, 111, 33, ES_MULTILINE | ES_READONLY, WS_BORDER},
    };
    for (const Expect &e : expected) {
        const RcDialog *d = script().find_dialog(e.dialog);
        ASSERT_NE(d, nullptr) << e.dialog;
        ASSERT_LT(e.index, d->controls.size()) << e.dialog;
        const RcControl &c = d->controls[e.index];
        std::string where = std::to_string(e.dialog) + "[" + std::to_string(e.index) + "]";
        EXPECT_EQ(c.id, e.id) << where;
        EXPECT_EQ(c.window_class, e.window_class) << where;
        EXPECT_EQ(c.text, e.text) << where;
        EXPECT_EQ(c.x, e.x) << where;
        EXPECT_EQ(c.y, e.y) << where;
        EXPECT_EQ(c.width, e.width) << where;
        EXPECT_EQ(c.height, e.height) << where;
        EXPECT_EQ(c.style & e.set, e.set) << where;
        EXPECT_EQ(c.style & e.clear, 0u) << where;
        EXPECT_TRUE(c.style & WS_VISIBLE) << where;
    }
}

TEST(Templates, AddressScreensDifferOnlyInTheirIcon)
{
    const RcDialog *adapter = script().find_dialog(IDD_ADAPTER_ADDRESS);
    const RcDialog *phone = script().find_dialog(IDD_PHONE_ADDRESS);
    ASSERT_NE(adapter, nullptr);
    ASSERT_NE(phone, nullptr);
    ASSERT_EQ(adapter->controls.size(), phone->controls.size());
    for (size_t i = 0; i < adapter->controls.size(); i++) {
        const RcControl &a = adapter->controls[i], &p = phone->controls[i];
        EXPECT_EQ(a.id, p.id);
        EXPECT_EQ(a.style, p.style);
        EXPECT_EQ(a.x, p.x);
        EXPECT_EQ(a.y, p.y);
        EXPECT_EQ(a.text, p.text);
        if ((a.style & 0x0F) == SS_ICON && a.window_class == "Static") {
            EXPECT_EQ(a.ordinal, IDI_ADAPTER);
            EXPECT_EQ(p.ordinal, IDI_PROGRAM);
        }
    }
    bool icon_286 = false;
    for (const RcIcon &icon : script().icons)
        icon_286 = icon_286 || icon.id == IDI_PROGRAM;
    EXPECT_TRUE(icon_286);
}

} // namespace
