// tests/app/test_startup_e2e.cpp: start-up of the real programs, and of
// programs carrying images that cannot be served, under the script front end.
#include <string>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"

namespace {

using driver::Event;
using driver::Program;

std::string program(const std::string &name) { return std::string(NUV_PROGRAMS) + "/" + name; }
std::string probe(const std::string &name) { return std::string(NUV_PROBES) + "/" + name; }

// Until the wizard follows start-up, a good start-up shows nothing and
// ends with status 0; a failure would show its box first.
TEST(StartUp, EveryProgramStartsQuietlyAtItsWarningScreen)
{
    const char *programs[] = {"nuv-upgrade", "nuv-upgrade-adapter", "nuv-upgrade-transition"};
    const char *addresses[] = {"127.0.5.1,127.0.5.2", ""};
    for (const char *name : programs) {
        for (const char *list : addresses) {
            Program p({program(name)}, {{"NUV_HOST_ADDRESSES", list}});
            Event first = p.next();
            EXPECT_EQ(first.kind, Event::Kind::open) << name << ": " << first.line;
            EXPECT_EQ(first.template_id, 139) << name;
            p.click(first.handle, 2);
            EXPECT_EQ(p.wait_exit(), 0) << name;
            EXPECT_EQ(p.error_output(), "") << name;
        }
    }
}

TEST(StartUp, AnImageThatCannotBeServedIsRefusedWithAFailureBox)
{
    struct Case {
        const char *probe;
        const char *text;
    };
    const Case cases[] = {
        {"startup_without_target", "Upgrade Failed: Firmware image missing"},
        {"startup_short_target", "Upgrade Failed: Firmware image too short"},
        {"startup_damaged_target", "Upgrade Failed: Firmware image damaged"},
        {"startup_without_transition", "Upgrade Failed: Firmware image missing"},
        {"startup_damaged_transition", "Upgrade Failed: Firmware image damaged"},
    };
    for (const Case &c : cases) {
        Program p({probe(c.probe)}, {{"NUV_HOST_ADDRESSES", "127.0.5.9"}});
        Event box = p.wait_msgbox();
        ASSERT_TRUE(box) << c.probe;
        EXPECT_EQ(box.caption, "NUV Firwmare Upgrade Error") << c.probe;
        EXPECT_EQ(box.text, c.text) << c.probe;
        EXPECT_EQ(box.style, 0x2000u) << c.probe;  // MB_OK | MB_TASKMODAL
        p.press(box.handle, 1);
        EXPECT_EQ(p.wait_exit(), 0) << c.probe;
        EXPECT_TRUE(p.errors().empty()) << c.probe;
    }
}

} // namespace
