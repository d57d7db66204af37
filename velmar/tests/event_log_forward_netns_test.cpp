// Forwarding goes to the fixed syslog port, so this runs in a network namespace of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "logfiles/tests/temp_dir.h"
#include "velmar/event_log.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using tarvane::testing::ReadFile;
using tarvane::testing::TempDir;

[[maybe_unused]] const bool kLocale = ::setenv("LC_ALL", "C.UTF-8", 1) == 0;

class FixedClock : public tarvane::Clock {
  public:
    tarvane::LocalTime Now() const override {
        tarvane::LocalTime t;
        t.year = 2024, t.month = 3, t.day = 5, t.hour = 9, t.minute = 0, t.second = 2;
        return t;
    }
};

class ForwardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(514);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        tLog& log = GlobalSettings.Log;
        log.Tag = "MAIN";
        log.BaseName = (dir.path() / "diag").string();
        log.Busy = false;
        log.ErrorCount = 0;
        log.SyslogHost = "LOCALHOST";
        log.LogLevel = 9;
        log.DaysOfFilesRetained = 0;
        log.LastDay = 0;
    }
    void TearDown() override {
        ::close(fd);
        GlobalSettings.Log.Busy = false;
        GlobalSettings.Log.SyslogHost.clear();
    }
    std::optional<std::string> Receive(int waitMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return std::nullopt;
        std::string buf(9000, '\0');
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n < 0) return std::nullopt;
        buf.resize(static_cast<size_t>(n));
        return buf;
    }
    void Log(int32_t code, const std::string& text) {
        tLogRec entry;
        entry.Code = code;
        entry.Text = text;
        std::string name;
        LogEntry(entry, name, clock);
    }
    std::string Csv() { return ReadFile(GlobalSettings.Log.BaseName + "-20240305.CSV"); }
    TempDir dir;
    FixedClock clock;
    int fd = -1;
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
    EXPECT_FALSE(fs::exists(GlobalSettings.Log.BaseName + "-20240305.CSV"));
    EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
}

}  // namespace
}  // namespace velmar
