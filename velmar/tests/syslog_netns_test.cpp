#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "testsupport/fixed_clock.h"
#include "testsupport/network.h"
#include "testsupport/udp_peer.h"
#include "velmar/errors.h"
#include "velmar/records.h"
#include "velmar/syslog.h"

namespace velmar {
namespace {

using tarvane::testing::At;
using tarvane::testing::FixedClock;

TEST(SyslogDatagram, Pieces) {
    struct Case {
        tarvane::LocalTime t;
        int32_t severity, facility;
        const char* tag;
        std::string text, datagram;
    } cases[] = {
        {At(2024, 3, 5, 14, 7, 9), 3, 16, "MAIN", "30000: x",
         "<131>Mar 05 2024 14:07:09: %MAIN : 30000: x"},
        {At(2024, 3, 5, 14, 7, 9), 0, 16, "", "a\r\nb", "<128>Mar 05 2024 14:07:09: % : a\r\nb"},
        {At(2024, 12, 1, 0, 0, 0), 9, 16, "", "", "<137>Dec 01 2024 00:00:00: % : "},
        {At(999, 1, 31, 23, 59, 59), 8, 16, "A B", std::string("n\0ul", 4),
         std::string("<136>Jan 31 0999 23:59:59: %A B : n\0ul", 38)},
        {At(2024, 7, 4, 1, 2, 3), 5, 0, "t", "x", "<5>Jul 04 2024 01:02:03: %t : x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SyslogDatagram(c.t, c.severity, c.facility, c.tag, c.text), c.datagram);
    }
}

// A receiver on an ephemeral loopback port.
class SyslogSendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tarvane::e2e::InPrivateNetwork()) GTEST_SKIP() << "run through tests/netns-run.sh";
        port = receiver.Port();
        GlobalSettings.Log.Tag = "MAIN";
        GlobalSettings.Log.SyslogHost.clear();
        clock.t = At(2024, 3, 5, 14, 7, 9);
    }
    void TearDown() override {
        GlobalSettings.Log.Tag.clear();
        GlobalSettings.Log.SyslogHost.clear();
    }
    std::optional<std::string> Receive(int waitMs) { return receiver.ReceiveData(waitMs); }
    tarvane::testing::UdpPeer receiver;
    int port = 0;
    FixedClock clock;
};

TEST_F(SyslogSendTest, DatagramArrivesByteForByte) {
    for (const char* host : {"LOCALHOST", "localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        GlobalSettings.Log.SyslogHost = host;
        SendSyslog("30000: [Message=a]\r\nnext", 3, 16, clock, port);
        EXPECT_EQ(Receive(5000), "<131>Mar 05 2024 14:07:09: %MAIN : 30000: [Message=a]\r\nnext");
    }
}

TEST_F(SyslogSendTest, NoHostSendsNothing) {
    SendSyslog("x", 3, 16, clock, port);
    EXPECT_EQ(Receive(200), std::nullopt);
}

TEST_F(SyslogSendTest, Failures) {
    struct Case {
        const char* host;
        size_t size;
        const char* message;
    } cases[] = {
        {"127.0.0.1", 70000, "Package Size Too Big."},
        {"no-such-host.invalid", 1, "Socket Error # 11001\r\nHost not found."},
        {"256.0.0.1", 1, "Socket Error # 11001\r\nHost not found."},
        // Broadcast stays switched off: with a route for it, the system refuses it.
        {"255.255.255.255", 1, "Socket Error # 10013\r\nAccess denied."},
    };
    // Every address leads to lo, and no further than this namespace.
    ASSERT_EQ(std::system("ip route replace default dev lo"), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        GlobalSettings.Log.SyslogHost = c.host;
        try {
            SendSyslog(std::string(c.size, 'x'), 3, 16, clock, port);
            ADD_FAILURE() << "no error raised";
        } catch (const ESocketError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(Receive(200), std::nullopt);
}

// One socket per datagram, closed again on every path.
TEST_F(SyslogSendTest, NoSocketIsLeftOpen) {
    auto openFds = [] {
        int n = 0;
        for (int f = 0; f < 1024; ++f) n += ::fcntl(f, F_GETFD) != -1;
        return n;
    };
    const int before = openFds();
    GlobalSettings.Log.SyslogHost = "127.0.0.1";
    for (int i = 0; i < 20; ++i) {
        SendSyslog("x", 3, 16, clock, port);
        try {
            SendSyslog(std::string(70000, 'x'), 3, 16, clock, port);
        } catch (const ESocketError&) {
        }
    }
    EXPECT_EQ(openFds(), before);
}

}  // namespace
}  // namespace velmar
