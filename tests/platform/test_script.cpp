// tests/platform/test_script.cpp: the automation protocol, end to end: a
// program under the script front end, driven through its standard input.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "ui_test_ids.h"

namespace {

using driver::Event;
using driver::Program;

// Button ids as the program has them.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

TEST(ScriptFrontEnd, MessageBoxReportsCaptionTextAndStyleAndReturnsThePressedButton)
{
    Program p({UI_PROBE, "msgbox"});
    Event box = p.wait_msgbox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box.caption, "Probe Caption");
    EXPECT_EQ(box.text, "Line one\r\nLine \"two\"\ttab");
    EXPECT_EQ(box.style, 0x2001u);  // MB_OKCANCEL | MB_TASKMODAL
    EXPECT_NE(box.line.find("\"Line one\\r\\nLine \\\"two\\\"\\ttab\""), std::string::npos) << box.line;

    driver::Dump d = p.dump(box.handle);
    EXPECT_EQ(d.caption, "Probe Caption");
    EXPECT_EQ(d.control(0xFFFF).text, "Line one\r\nLine \"two\"\ttab");
    EXPECT_EQ(d.control(1).text, "OK");
    EXPECT_EQ(d.control(2).text, "Cancel");

    p.press(box.handle, 6);  // there is no Yes button
    p.press(box.handle, 2);
    EXPECT_TRUE(p.wait_close(box.handle));
    EXPECT_EQ(p.wait_exit(), 2);
    ASSERT_EQ(p.errors().size(), 1u);
    EXPECT_NE(p.errors()[0].find("press"), std::string::npos);
}

TEST(ScriptFrontEnd, DumpShowsEveryControlOfTheDialog)
{
    Program p({UI_PROBE, "form"});
    Event form = p.wait_open(IDD_FORM);
    ASSERT_TRUE(form);
    driver::Dump d = p.dump(form.handle);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.caption, "Probe Form");
    std::vector<int> ids;
    for (const driver::Control &c : d.controls)
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<int>{IDC_NOTE, IDC_NAME, IDC_SECRET, IDC_ADDRESS, IDC_CHOICE, IDC_BAR,
                                     -1, IDC_APPLY, IDOK, IDCANCEL}));
    EXPECT_EQ(d.control(IDC_NOTE).window_class, "Edit");
    EXPECT_EQ(d.control(IDC_NOTE).text, "Line one\r\nLine two");
    EXPECT_TRUE(d.control(IDC_NAME).focus);
    EXPECT_FALSE(d.control(IDOK).focus);
    const driver::Control &bar = d.control(IDC_BAR);
    EXPECT_TRUE(bar.has_range);
    EXPECT_EQ(bar.range_low, 0);
    EXPECT_EQ(bar.range_high, 50);
    EXPECT_EQ(bar.position, 20);
    const driver::Control &choice = d.control(IDC_CHOICE);
    EXPECT_EQ(choice.window_class, "ComboBox");
    EXPECT_EQ(choice.items, (std::vector<std::string>{"red", "green", "blue"}));
    EXPECT_EQ(choice.selection, 1);
    EXPECT_EQ(choice.text, "green");
    EXPECT_EQ(d.control(-1).text, "Label");
    EXPECT_EQ(d.control(IDOK).window_class, "Button");
    p.click(form.handle, IDCANCEL);
    EXPECT_EQ(p.wait_exit(), 1);
    EXPECT_TRUE(p.errors().empty());
}

TEST(ScriptFrontEnd, TypedAndSelectedInputReachesTheProgram)
{
    Program p({UI_PROBE, "form"});
    Event form = p.wait_open(IDD_FORM);
    ASSERT_TRUE(form);
    p.type(form.handle, IDC_NAME, "Jo \"Q\"\\z");
    p.type(form.handle, IDC_SECRET, "s3cret");
    p.type(form.handle, IDC_ADDRESS, "10*1.0*13");
    p.select(form.handle, IDC_CHOICE, 2);
    p.key(form.handle, "enter");  // the default button: OK
    Event report = p.wait_msgbox();
    ASSERT_TRUE(report);
    EXPECT_EQ(report.caption, "Report");
    EXPECT_EQ(report.text, "ok name=Jo \"Q\"\\z secret=s3cret address=10*1.0*13 choice=2");
    EXPECT_EQ(report.style, 0u);
    // The box is owned by the form, which it disables while it is up.
    p.click(form.handle, IDCANCEL);
    p.press(report.handle, 1);
    EXPECT_TRUE(p.wait_close(report.handle));
    EXPECT_TRUE(p.wait_close(form.handle));
    EXPECT_EQ(p.wait_exit(), 12);
    ASSERT_EQ(p.errors().size(), 1u);
    EXPECT_NE(p.errors()[0].find("disabled"), std::string::npos) << p.errors()[0];
}

TEST(ScriptFrontEnd, EscapeCancelsAModalDialog)
{
    Program p({UI_PROBE, "form"});
    Event form = p.wait_open(IDD_FORM);
    ASSERT_TRUE(form);
    p.key(form.handle, "escape");
    EXPECT_EQ(p.wait_exit(), 1);
}

TEST(ScriptFrontEnd, BadCommandsGetAnErrorAndChangeNothing)
{
    Program p({UI_PROBE, "form"});
    Event form = p.wait_open(IDD_FORM);
    ASSERT_TRUE(form);
    std::string h = std::to_string(form.handle);
    const std::vector<std::string> bad = {
        "bogus",
        "dump",
        "dump x",
        "dump 0",
        "dump 99999",
        "dump -3",
        "dump 99999999999999999999",
        "click " + h,
        "click " + h + " 999",
        "click " + h + " " + std::to_string(IDC_NAME),
        "click " + h + " 1 2",
        "type " + h + " " + std::to_string(IDC_NOTE) + " \"x\"",
        "type " + h + " " + std::to_string(IDC_ADDRESS) + " \"abc\"",
        "type " + h + " " + std::to_string(IDC_NAME) + " unquoted",
        "type " + h + " " + std::to_string(IDC_NAME) + " \"unterminated",
        "type " + h + " " + std::to_string(IDC_NAME) + " \"bad \\q escape\"",
        "type " + h + " " + std::to_string(IDC_NAME) + " \"\\x4\"",
        "type " + h + " " + std::to_string(IDC_NAME) + " \"nul \\x00 inside\"",
        "type " + h + " " + std::to_string(IDC_NAME) + " \"a\"b",
        "select " + h + " " + std::to_string(IDC_CHOICE) + " 3",
        "select " + h + " " + std::to_string(IDC_CHOICE) + " -1",
        "select " + h + " " + std::to_string(IDC_NAME) + " 0",
        "key " + h + " f1",
        "key 99999 enter",
        "press " + h + " 1",
        std::string(1100000, 'x'),
        "\xff\xfe binary",
    };
    for (const std::string &line : bad)
        p.send(line);
    driver::Dump d = p.dump(form.handle);
    EXPECT_EQ(p.errors().size(), bad.size()) << p.transcript().substr(0, 4000);
    EXPECT_EQ(d.control(IDC_NAME).text, "");
    EXPECT_EQ(d.control(IDC_ADDRESS).text, "");
    EXPECT_EQ(d.control(IDC_CHOICE).selection, 1);
    EXPECT_TRUE(p.running());

    // Still fully working afterwards.
    p.type(form.handle, IDC_NAME, "after");
    p.click(form.handle, IDOK);
    Event report = p.wait_msgbox();
    EXPECT_EQ(report.text, "ok name=after secret= address= choice=1");
    p.press(report.handle, 1);
    EXPECT_EQ(p.wait_exit(), 11);
}

TEST(ScriptFrontEnd, ModelessDialogTakesItsClickWhenItsThreadPumps)
{
    Program p({UI_PROBE, "modeless"});
    Event progress = p.wait_open(IDD_PROGRESS);
    ASSERT_TRUE(progress);
    // Keys mean nothing to a dialog pumped without the dialog manager.
    p.key(progress.handle, "escape");
    p.key(progress.handle, "enter");
    driver::Dump d = p.dump(progress.handle);
    EXPECT_EQ(d.caption, "Working");
    EXPECT_TRUE(d.control(IDCANCEL).focus);
    EXPECT_TRUE(p.running());
    p.click(progress.handle, IDCANCEL);
    EXPECT_TRUE(p.wait_close(progress.handle));
    EXPECT_EQ(p.wait_exit(), 3);
    EXPECT_TRUE(p.errors().empty());
}

} // namespace
