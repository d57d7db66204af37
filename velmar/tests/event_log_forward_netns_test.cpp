// Forwarding goes to the fixed syslog port, so this runs in a network namespace of its own.
#include <gtest/gtest.h>

#include <optional>

#include "testsupport/fixed_clock.h"
#include "testsupport/temp_dir.h"
#include "testsupport/udp_peer.h"
#include "velmar/event_log.h"

namespace velmar {
namespace {

using namespace tarvane::testing;

class ForwardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetGlobalSettings();
        tLog& log = GlobalSettings.Log;
        log.Tag = "MAIN";
        log.BaseName = (dir.path() / "diag").string();
        log.SyslogHost = "LOCALHOST";
        log.LogLevel = 9;
    }
    void TearDown() override { ResetGlobalSettings(); }
    std::optional<std::string> Receive(int waitMs) { return receiver.ReceiveData(waitMs); }
    void Log(int32_t code, const std::string& text) {
        tLogRec entry;
        entry.Code = code;
        entry.Text = text;
        std::string name;
        LogEntry(entry, name, clock);
    }
    std::string Csv() { return ReadFile(GlobalSettings.Log.BaseName + "-20240305.CSV"); }
    TempDir dir;
    FixedClock clock{At(2024, 3, 5, 9, 0, 2)};
    tarvane::testing::UdpPeer receiver{"127.0.0.1", 514};
};

TEST_F(ForwardTest, PassingEntriesAreForwardedWithTheQuoteRule) {
    Log(30000, "say \"hi\", twice");
    EXPECT_EQ(Receive(5000), "<131>Mar 05 2024 09:00:02: %MAIN : 30000: say 'hi', twice");
    Log(90000, "x");
    EXPECT_EQ(Receive(5000), "<137>Mar 05 2024 09:00:02: %MAIN : 90000: x");
    Log(-5, "neg");
    EXPECT_EQ(Receive(5000), "<128>Mar 05 2024 09:00:02: %MAIN : -00005: neg");
    GlobalSettings.Log.LogLevel = 2;
    Log(30000, "dropped");
    EXPECT_EQ(Receive(200), std::nullopt) << "an entry that does not pass is not forwarded";
}

TEST_F(ForwardTest, NewDayEntryIsForwardedFirst) {
    GlobalSettings.Log.DaysOfFilesRetained = 7;
    Log(30000, "x");
    const std::optional<std::string> first = Receive(5000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rfind("<134>Mar 05 2024 09:00:02: %MAIN : 69990: [Function=velmar.LogEntry]"
                           "[Note=New day]",
                           0),
              0u)
        << *first;
    EXPECT_EQ(Receive(5000), "<131>Mar 05 2024 09:00:02: %MAIN : 30000: x");
}

TEST_F(ForwardTest, FailedForwardingStillWritesTheLine) {
    GlobalSettings.Log.SyslogHost = "no-such-host.invalid";
    Log(30000, "x");
    EXPECT_NE(Csv().find(",30000,\"x\"\r\n"), std::string::npos);
    EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
}

TEST_F(ForwardTest, BusyFlagHeldTooLongStillForwards) {
    GlobalSettings.Log.Busy = true;
    Log(30000, "x");
    EXPECT_EQ(Receive(5000), "<131>Mar 05 2024 09:00:02: %MAIN : 30000: x");
}

}  // namespace
}  // namespace velmar
