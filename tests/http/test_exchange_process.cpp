// tests/http/test_exchange_process.cpp: the exchange's failures that end the
// process, seen through the script front end: the failure box, then exit 0.
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "tests/http/http_peer.h"

namespace {

using driver::Event;
using driver::Program;
using http_peer::PortHolder;

constexpr int kOk = 1;

struct FatalCase {
    const char *name;
    const char *mode;
    const char *local;
    const char *device;
    int ports_taken;  // from 23456 on the local address
    const char *text;
};

const FatalCase kFatalCases[] = {
    {"every_local_port_taken", "exchange", "127.0.11.1", "127.0.11.2", 101,
     "Upgrade Failed: Can't bind HTTP socket"},
    {"no_socket_can_be_made", "no-startup", "127.0.11.3", "127.0.11.4", 0,
     "Upgrade Failed: Can't open HTTP socket"},
};

void PrintTo(const FatalCase &c, std::ostream *os) { *os << c.name; }

class Fatal : public testing::TestWithParam<FatalCase> {};

TEST_P(Fatal, ShowsTheFailureBoxThenEndsWithZero)
{
    const FatalCase &c = GetParam();
    PortHolder held(c.local, 23456, c.ports_taken);
    ASSERT_TRUE(held.all_held());
    Program p({EXCHANGE_PROBE, c.mode, c.local, c.device, "18080"});
    Event box = p.wait_msgbox();
    ASSERT_TRUE(box) << p.transcript() << p.error_output();
    EXPECT_EQ(box.caption, "NUV Firwmare Upgrade Error");
    EXPECT_EQ(box.text, c.text);
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_TRUE(p.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Failures, Fatal, testing::ValuesIn(kFatalCases),
                         [](const testing::TestParamInfo<FatalCase> &info) {
                             return std::string(info.param.name);
                         });

// With one port of the range still free the exchange goes on: no box but
// the probe's own report, so the range is 101 ports and not 100.
TEST(FatalRange, OnePortLeftIsEnough)
{
    PortHolder held("127.0.11.5", 23456, 100);
    ASSERT_TRUE(held.all_held());
    Program p({EXCHANGE_PROBE, "exchange", "127.0.11.5", "127.0.11.6", "18080"});
    Event box = p.wait_msgbox();
    ASSERT_TRUE(box) << p.transcript();
    EXPECT_EQ(box.caption, "Exchange");
    EXPECT_EQ(box.text, "result=0");  // nothing listens at the device
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

} // namespace
