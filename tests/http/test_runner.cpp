// tests/http/test_runner.cpp: the device request runner, end to end: the
// connecting and password screens as a person meets them, and what went
// over the wire to a scripted device.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/driver/script_driver.h"
#include "tests/http/http_peer.h"

namespace {

using driver::Event;
using driver::Program;
using http_peer::authorization;
using http_peer::directive;
using http_peer::Peer;

constexpr int kConnecting = 105;
constexpr int kPassword = 104;
constexpr int kUserBox = 1003, kPasswordBox = 1005, kNotice = 1007, kBar = 1010;
constexpr int kOk = 1, kCancel = 2;

const std::string kInfo =
    "<html><body><table><tr><td>Product Name:</td><td>NUV-2200</td></tr>"
    "<tr><td>Software Version:</td><td><b>2.0.9(t)</b></td></tr></table></body></html>";

std::string page(const std::string &body = kInfo)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n" + body;
}

std::string challenge(const std::string &nonce)
{
    return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"nuv\", nonce=\"" + nonce +
           "\", qop=\"auth\"\r\nConnection: close\r\n\r\n";
}

// Each test its own pair of loopback addresses, so tests run side by side.
struct Hosts {
    std::string local, device;
    explicit Hosts(int n)
        : local("127.0.12." + std::to_string(2 * n + 1)), device("127.0.12." + std::to_string(2 * n + 2))
    {
    }
};

std::string report(size_t result, unsigned nc, const std::string &user, const std::string &password)
{
    return "result=" + std::to_string(result) + " nc=" + std::to_string(nc) + " user=" + user +
           " password=" + password;
}

Program start(const Hosts &h, int calls = 1)
{
    return Program({RUNNER_PROBE, h.local, h.device, "8080", "/admin/advanced", std::to_string(calls)});
}

void enter_password(Program &p, const std::string &password, const std::string &user = "")
{
    Event screen = p.wait_open(kPassword);
    ASSERT_TRUE(screen);
    if (!user.empty())
        p.type(screen.handle, kUserBox, user);
    p.type(screen.handle, kPasswordBox, password);
    p.click(screen.handle, kOk);
    p.wait_close(screen.handle);
}

TEST(Runner, WithoutAPasswordOneAttemptGivesTheReplyLength)
{
    Hosts h(1);
    Peer device(h.device, 8080, [](const std::string &, int) { return page(); });
    ASSERT_TRUE(device.listening());
    Program p = start(h);
    EXPECT_TRUE(p.wait_open(kConnecting));
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, report(page().size(), 0, "", ""));
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    ASSERT_EQ(device.requests().size(), 1u);
    EXPECT_EQ(device.requests()[0], "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n");
    EXPECT_TRUE(p.errors().empty());
}

TEST(Runner, FirstContactWithAProtectedDeviceAsksForThePasswordThenSendsNonceCountOne)
{
    Hosts h(2);
    Peer device(h.device, 8080, [](const std::string &request, int) {
        return authorization(request).empty() ? challenge("n1") : page();
    });
    Program p = start(h);
    Event screen = p.wait_open(kPassword);
    ASSERT_TRUE(screen);
    driver::Dump d = p.dump(screen.handle);
    EXPECT_EQ(d.caption, "Enter Password Information");
    EXPECT_EQ(d.control(kUserBox).text, "admin");
    EXPECT_EQ(d.control(kPasswordBox).text, "");
    EXPECT_TRUE(d.control(kPasswordBox).focus);
    EXPECT_EQ(d.control(kNotice).text.size(), 719u);
    EXPECT_EQ(d.control(kNotice).text.substr(0, 45), "This NUV requires a password in order to be\r\n");
    p.type(screen.handle, kPasswordBox, "secret");
    p.click(screen.handle, kOk);
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, report(page().size(), 1, "admin", "secret"));
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    auto requests = device.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(authorization(requests[0]), "");
    EXPECT_EQ(directive(requests[1], "nc"), "000000001");
    EXPECT_EQ(directive(requests[1], "username"), "admin");
    EXPECT_EQ(directive(requests[1], "nonce"), "n1");
    EXPECT_EQ(directive(requests[1], "uri"), "/admin/advanced");
}

TEST(Runner, AWrongPasswordBringsTheScreenBackAndCancelThereEndsTheRun)
{
    Hosts h(3);
    Peer device(h.device, 8080, [](const std::string &, int) { return challenge("same"); });
    Program p = start(h);
    enter_password(p, "wrong1");
    enter_password(p, "wrong2");
    Event again = p.wait_open(kPassword);
    ASSERT_TRUE(again);
    EXPECT_EQ(p.dump(again.handle).control(kUserBox).text, "admin") << "the user box starts afresh";
    p.click(again.handle, kCancel);
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.caption, "NUV Firwmare Upgrade Error");
    EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    auto requests = device.requests();
    ASSERT_EQ(requests.size(), 3u);
    // The same nonce: the count goes on.
    EXPECT_EQ(directive(requests[1], "nc"), "000000001");
    EXPECT_EQ(directive(requests[2], "nc"), "000000002");
}

TEST(Runner, ANewNonceOnAnAuthorisedRequestIsRepeatedAtOnceWithoutAsking)
{
    Hosts h(4);
    // First call: challenge, then the page. Second call: a new nonce, then
    // the page.
    Peer device(h.device, 8080, [](const std::string &, int i) {
        switch (i) {
        case 0: return challenge("first");
        case 2: return challenge("second");
        default: return page();
        }
    });
    Program p = start(h, 2);
    enter_password(p, "pw");
    Event first = p.wait_msgbox();
    EXPECT_EQ(first.text, report(page().size(), 1, "admin", "pw"));
    p.press(first.handle, kOk);
    Event second = p.wait_msgbox();
    EXPECT_EQ(second.text, report(page().size(), 1, "admin", "pw"));
    p.press(second.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
    auto requests = device.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(directive(requests[2], "nc"), "000000002");
    EXPECT_EQ(directive(requests[2], "nonce"), "first");
    EXPECT_EQ(directive(requests[3], "nc"), "000000001");
    EXPECT_EQ(directive(requests[3], "nonce"), "second");
    // Only one password screen in the whole run.
    EXPECT_FALSE(p.queued([](const Event &e) { return e.kind == Event::Kind::open && e.template_id == kPassword; }));
}

TEST(Runner, AReplyOf259BytesIsReturnedAs259)
{
    Hosts h(5);
    std::string reply = page(std::string(259 - page("").size(), 'x'));
    ASSERT_EQ(reply.size(), 259u);
    Peer device(h.device, 8080, [&](const std::string &, int) { return reply; });
    Program p = start(h);
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, report(259, 0, "", ""));
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

TEST(Runner, AUserNameOf130CharactersIsStoredAs126)
{
    Hosts h(6);
    Peer device(h.device, 8080, [](const std::string &request, int) {
        return authorization(request).empty() ? challenge("n") : page();
    });
    Program p = start(h);
    enter_password(p, "pw", std::string(130, 'u'));
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, report(page().size(), 1, std::string(126, 'u'), "pw"));
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

TEST(Runner, CancelWhileTheDeviceDoesNotAnswerEndsTheRun)
{
    Hosts h(7);
    Peer device(h.device, 8080, [](const std::string &, int) { return http_peer::kHold; });
    Program p = start(h);
    Event screen = p.wait_open(kConnecting);
    ASSERT_TRUE(screen);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    driver::Dump d = p.dump(screen.handle);
    EXPECT_EQ(d.caption, "Connecting with NUV@" + h.device);
    EXPECT_TRUE(d.control(kCancel).focus);
    const driver::Control &bar = d.control(kBar);
    EXPECT_EQ(bar.range_low, 0);
    EXPECT_EQ(bar.range_high, 100);
    EXPECT_GT(bar.position, 0) << "the bar moves while the device is silent";
    p.click(screen.handle, kCancel);
    Event box = p.wait_msgbox();
    EXPECT_EQ(box.text, "Upgrade Failed: User Abort");
    p.press(box.handle, kOk);
    EXPECT_EQ(p.wait_exit(), 0);
}

} // namespace
