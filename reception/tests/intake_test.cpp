#include "reception/intake.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "testsupport/fixed_clock.h"
#include "testsupport/temp_dir.h"
#include "velmar/errors.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using testing::At;
using testing::FixedClock;

struct FakeView : IntakeView {
    void FocusView() override {
        ++focus;
        if (failFocus)
            throw velmar::EInvalidOperation("Cannot focus a disabled or invisible window");
    }
    void ShowLine(const std::string& line) override { lines.push_back(line); }
    int focus = 0;
    bool failFocus = false;
    std::vector<std::string> lines;
};

TEST(DisplayLine, FollowsTheExamples) {
    const LocalTime t = At(2024, 3, 15, 14, 3, 7, 123);
    struct Case {
        const char* sender;
        std::string datagram;
        const char* line;
    } cases[] = {
        {"192.168.1.20", "<134>Jan 10 12:00:00 host app: hello",
         "14:03:07.123:[6] 192.168.1.20 <134>Jan 10 12:00:00 host app: hello"},
        {"10.0.0.5", "hello world\r\n", "14:03:07.123:10.0.0.5 hello world"},
        {"10.0.0.5", "<8>restart", "14:03:07.123:[0] 10.0.0.5 <8>restart"},
        {"10.0.0.5", "", "14:03:07.123:10.0.0.5"},
        {"10.0.0.5", "<15>debug", "14:03:07.123:[7] 10.0.0.5 <15>debug"},
        {"10.0.0.5", "<-3>odd", "14:03:07.123:[-3] 10.0.0.5 <-3>odd"},
        {"10.1.1.1", "<13", "14:03:07.123:[5] 10.1.1.1 <13"},
        {"10.1.1.1", "< 13>x", "14:03:07.123:[5] 10.1.1.1 < 13>x"},
        {"10.1.1.1", "<$1F>x", "14:03:07.123:[7] 10.1.1.1 <$1F>x"},
        {"10.1.1.1", "<x1F>x", "14:03:07.123:[7] 10.1.1.1 <x1F>x"},
        {"10.1.1.1", "<-2147483648>x", "14:03:07.123:[0] 10.1.1.1 <-2147483648>x"},
        {"10.1.1.1", " <13>x", "14:03:07.123:10.1.1.1  <13>x"},
        {"10.1.1.1", "caf\xc3\xa9 \x80\xff  \t", "14:03:07.123:10.1.1.1 caf\xc3\xa9 \x80\xff"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildDisplayLine(t, SeverityOf(c.datagram), c.sender, c.datagram), c.line)
            << c.datagram;
    }
}

TEST(DisplayLine, ControlBytesInsideCannotForgeLines) {
    const LocalTime t = At(2024, 3, 15, 1, 2, 3, 4);
    const std::string forged = "real\r\n01:02:03.004:10.0.0.9 fake\0cut\x1b[2J\tend\r\n"s;
    EXPECT_EQ(BuildDisplayLine(t, std::nullopt, "10.0.0.1", forged),
              "01:02:03.004:10.0.0.1 real#015#01201:02:03.004:10.0.0.9 fake#000cut#033[2J\tend");
    EXPECT_EQ(EscapeControlBytes("\x01\x1f\x7f"s), "#001#037\x7f");
}

TEST(Severity, PriorityRulesAndThreshold) {
    EXPECT_EQ(SeverityOf("<13>test"), 5);
    EXPECT_EQ(SeverityOf("<134>x"), 6);
    EXPECT_EQ(SeverityOf("<-1>x"), -1);
    EXPECT_EQ(SeverityOf("<-8>x"), 0);
    EXPECT_EQ(SeverityOf("<-9>x"), -1);
    EXPECT_EQ(SeverityOf("<13>>5>"), 5);
    EXPECT_EQ(SeverityOf("no priority"), std::nullopt);
    EXPECT_EQ(SeverityOf(""), std::nullopt);
    for (const char* bad : {"<13 >x", "<>x", "<abc>x", "<2147483648>x", "<", "<+-1>"}) {
        EXPECT_THROW(SeverityOf(bad), velmar::EConvertError) << bad;
    }
    try {
        SeverityOf("<13 >x");
    } catch (const velmar::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'13 ' is not a valid integer value");
    }
    EXPECT_TRUE(PassesThreshold(7, 7));
    EXPECT_FALSE(PassesThreshold(7, 6));
    EXPECT_TRUE(PassesThreshold(0, 0));
    EXPECT_TRUE(PassesThreshold(0, -5));
    EXPECT_TRUE(PassesThreshold(-1, -1));
    EXPECT_TRUE(PassesThreshold(-3, -1));
    EXPECT_FALSE(PassesThreshold(1, -1));
    EXPECT_FALSE(PassesThreshold(-1, -2));
}

TEST(Exclusion, MatchesWholeAddressesOnly) {
    const std::string list = "192.168.1.100, 10.0.0.5;172.16.0.1\r\n8.8.8.8";
    for (const char* in : {"192.168.1.100", "10.0.0.5", "172.16.0.1", "8.8.8.8"}) {
        EXPECT_TRUE(IsExcluded(in, list)) << in;
    }
    // Fragments of a listed address, or addresses a listed one is a fragment of, stay visible.
    for (const char* out : {"192.168.1.1", "192.168.1.10", "10.0.0.50", "110.0.0.5", "0.0.0.5",
                            "2.16.0.1", "8.8.8.80"}) {
        EXPECT_FALSE(IsExcluded(out, list)) << out;
    }
    EXPECT_FALSE(IsExcluded("10.0.0.5", ""));
    EXPECT_TRUE(IsExcluded("10.0.0.5", "10.0.0.50 10.0.0.5"));  // a later occurrence counts
}

class IntakeTest : public ::testing::Test {
  protected:
    TempDir dir;
    tSettings settings{7, 7, ""};
    FakeView view;
    FixedClock clock{At(2024, 3, 15, 14, 3, 7, 123)};
    Intake intake{settings, view, clock};
};

TEST_F(IntakeTest, ShownLinesGoToViewAndDailyFileInOrder) {
    intake.IdSysLogServerUDPRead("<13>test", "10.1.1.1");
    intake.IdSysLogServerUDPRead("plain\r\n", "10.1.1.2");
    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[0], "14:03:07.123:[5] 10.1.1.1 <13>test");
    EXPECT_EQ(ReadFile("Tarvane-20240315.TXT"),
              "14:03:07.123:[5] 10.1.1.1 <13>test\r\n14:03:07.123:10.1.1.2 plain\r\n");
}

TEST_F(IntakeTest, FilteredAndBrokenDatagramsCostOnlyThemselves) {
    settings.Severity = 6;
    intake.IdSysLogServerUDPRead("<15>x", "10.0.0.1");  // dropped, but focus moved
    EXPECT_EQ(view.focus, 1);
    EXPECT_THROW(intake.IdSysLogServerUDPRead("<1x>x", "10.0.0.1"), velmar::EConvertError);
    EXPECT_EQ(view.focus, 2);
    intake.IdSysLogServerUDPRead("<14>x", "10.0.0.1");
    settings.Severity = 0;  // the threshold is read at every call
    intake.IdSysLogServerUDPRead("<8>x", "10.0.0.1");
    intake.IdSysLogServerUDPRead("<9>x", "10.0.0.1");
    EXPECT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(ReadFile("Tarvane-20240315.TXT"),
              "14:03:07.123:[6] 10.0.0.1 <14>x\r\n14:03:07.123:[0] 10.0.0.1 <8>x\r\n");
}

TEST_F(IntakeTest, ExcludedSendersDoNotEvenMoveTheFocus) {
    settings.ExcludedClientIPs = "192.168.1.100";
    intake.IdSysLogServerUDPRead("x", "192.168.1.100");
    EXPECT_EQ(view.focus, 0);
    intake.IdSysLogServerUDPRead("x", "192.168.1.10");
    EXPECT_EQ(view.focus, 1);
    EXPECT_EQ(view.lines.size(), 1u);
}

TEST_F(IntakeTest, NoFocusMeansNothingShownOrWritten) {
    view.failFocus = true;
    EXPECT_THROW(intake.IdSysLogServerUDPRead("x", "10.0.0.1"), velmar::EInvalidOperation);
    EXPECT_TRUE(view.lines.empty());
    EXPECT_FALSE(fs::exists("Tarvane-20240315.TXT"));
}

TEST_F(IntakeTest, RetentionRunsOncePerDayBeforeTheAppend) {
    WriteFile("Tarvane-20240301.TXT", "old");
    intake.IdSysLogServerUDPRead("first", "10.0.0.1");
    EXPECT_FALSE(fs::exists("Tarvane-20240301.TXT"));
    WriteFile("Tarvane-20240302.TXT", "old");
    intake.IdSysLogServerUDPRead("second", "10.0.0.1");  // same day: no second pass
    EXPECT_TRUE(fs::exists("Tarvane-20240302.TXT"));
    clock.t = At(2024, 3, 16, 0, 0, 0, 1);
    // Today's file of the new day is created after the pass, which must not touch it.
    intake.IdSysLogServerUDPRead("next day", "10.0.0.1");
    EXPECT_FALSE(fs::exists("Tarvane-20240302.TXT"));
    EXPECT_EQ(ReadFile("Tarvane-20240316.TXT"), "00:00:00.001:10.0.0.1 next day\r\n");
}

TEST_F(IntakeTest, NoRetentionWhileDaysIsZeroOrLess) {
    for (int32_t d : {0, -1}) {
        settings.DaysOfFilesRetained = d;
        WriteFile("Tarvane-20000101.TXT", "old");
        intake.IdSysLogServerUDPRead("x", "10.0.0.1");
        EXPECT_TRUE(fs::exists("Tarvane-20000101.TXT"));
    }
}

}  // namespace
}  // namespace tarvane
