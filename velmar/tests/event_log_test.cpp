#include "velmar/event_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "testsupport/fixed_clock.h"
#include "testsupport/temp_dir.h"
#include "velmar/system.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace tarvane::testing;

TEST(EventLogText, CodeTextsAndLevels) {
    struct Case {
        int32_t code;
        const char* text;
        int level;
    } cases[] = {{30000, "30000", 3},          {69990, "69990", 6}, {1234, "01234", 0},
                 {123456, "123456", 1},        {-5, "-00005", 0},   {0, "00000", 0},
                 {INT32_MIN, "-2147483648", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(CodeText(c.code), c.text);
        EXPECT_EQ(LevelDigit(CodeText(c.code)), c.level) << c.code;
    }
}

TEST(EventLogText, CsvLinePadsOrCutsTheTagAndRequotesTheText) {
    const auto t = At(2024, 3, 5, 9, 0, 2, 15);
    const auto later = At(2024, 3, 5, 9, 0, 3, 7);
    EXPECT_EQ(CsvLine(t, later, "MAIN", "69990", "say \"hi\", twice\r\nnext"),
              "09:00:02,\"[09:00:03.007]\",\"MAIN      \",69990,\"say 'hi', twice\r\nnext\"\r\n");
    EXPECT_EQ(CsvLine(t, t, "ABCDEFGHIJKL", "30000", ""),
              "09:00:02,\"[09:00:02.015]\",\"ABCDEFGHIJ\",30000,\"\"\r\n");
    EXPECT_EQ(CsvLine(t, t, "", "-00005", "x"),
              "09:00:02,\"[09:00:02.015]\",\"          \",-00005,\"x\"\r\n");
}

TEST(EventLogText, NumbersOfTheNewDayEntry) {
    EXPECT_EQ(GroupThousands(2147483648LL), "2,147,483,648");
    EXPECT_EQ(GroupThousands(999), "999");
    EXPECT_EQ(GroupThousands(1000), "1,000");
    EXPECT_EQ(GroupThousands(0), "0");
    EXPECT_EQ(GroupThousands(-1234567), "-1,234,567");
    struct Case {
        int64_t available, total;
        int32_t percent;
    } cases[] = {{768LL << 20, 2048LL << 20, 38},  // 37.5 halves to even
                 {375, 1000, 38},
                 {365, 1000, 36},
                 {1, 1, 100},
                 {0, 5, 0},
                 {5, 0, 0}};
    for (const Case& c : cases) EXPECT_EQ(Percent(c.available, c.total), c.percent) << c.available;
    tMemoryInfo info;
    GetMemoryInfo(info);
    ASSERT_TRUE(info.Valid);
    EXPECT_GT(info.TotalPhys, 0);
    EXPECT_LE(info.AvailPhys, info.TotalPhys);
    EXPECT_EQ(info.AvailPhysPercent, Percent(info.AvailPhys, info.TotalPhys));
    EXPECT_EQ(info.MemoryLoad, 100 - info.AvailPhysPercent);
    EXPECT_GE(info.TotalPageFile, info.TotalPhys);
    EXPECT_LE(info.AvailPageFile, info.TotalPageFile);
    EXPECT_GT(info.TotalVirtual, 0);
    EXPECT_LT(info.AvailVirtual, info.TotalVirtual) << "this process uses some of it";
    EXPECT_GE(info.AvailVirtualPercent, 0);
    EXPECT_LE(info.AvailVirtualPercent, 100);
}

class EventLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetGlobalSettings();
        GlobalSettings.Log.BaseName = (dir.path() / "diag").string();
    }
    void TearDown() override { ResetGlobalSettings(); }
    std::string Log(int32_t code, const std::string& text) {
        tLogRec entry;
        entry.Code = code;
        entry.Text = text;
        std::string name = "untouched";
        LogEntry(entry, name, clock);
        return name;
    }
    std::string Csv() { return ReadFile(GlobalSettings.Log.BaseName + "-20240305.CSV"); }
    TempDir dir;
    FixedClock clock{At(2024, 3, 5, 9, 0, 2, 15)};
};

TEST_F(EventLogTest, LevelTest) {
    struct Case {
        int32_t logLevel, code;
        bool written;
    } cases[] = {{0, 1234, true},   {0, 30000, false}, {0, -5, true},
                 {3, 30000, true},  {3, 40000, false}, {9, 123456, true},
                 {-1, 1234, false}, {9, 99999, true},  {5, 69990, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        fs::remove(GlobalSettings.Log.BaseName + "-20240305.CSV");
        GlobalSettings.Log.LogLevel = c.logLevel;
        GlobalSettings.Log.ErrorCount = 2;
        const std::string name = Log(c.code, "t");
        EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
        if (c.written) {
            EXPECT_EQ(name, GlobalSettings.Log.BaseName + "-20240305.CSV");
            EXPECT_EQ(Csv(), "09:00:02,\"[09:00:02.015]\",\"          \"," + CodeText(c.code) +
                                 ",\"t\"\r\n");
        } else {
            EXPECT_EQ(name, "untouched");
            EXPECT_FALSE(fs::exists(GlobalSettings.Log.BaseName + "-20240305.CSV"));
        }
    }
}

TEST_F(EventLogTest, EmptyBaseNameBecomesTheProgramFile) {
    GlobalSettings.Log.BaseName.clear();
    EXPECT_EQ(Log(30000, "x"), "untouched");
    EXPECT_EQ(GlobalSettings.Log.BaseName, ProgramFilePath());
}

TEST_F(EventLogTest, NewDayPassRunsOncePerDay) {
    tLog& log = GlobalSettings.Log;
    log.DaysOfFilesRetained = 7;
    const std::string base = log.BaseName;
    for (const std::string& n :
         {base + "-20240101.CSV", base + "-20240305.csv", std::string("Report.xls"),
          std::string("Report20240304.xls"), std::string("Report20240101.xls")}) {
        WriteFile(n, "x");
    }
    EXPECT_EQ(Log(30000, "x"), "untouched") << "level 3 is not written at level 0";
    EXPECT_EQ(log.LastDay, tarvane::DayNumber(clock.t));
    EXPECT_FALSE(fs::exists(base + "-20240101.CSV"));
    EXPECT_FALSE(fs::exists("Report.xls"));
    EXPECT_FALSE(fs::exists("Report20240101.xls"));
    EXPECT_TRUE(fs::exists(base + "-20240305.csv"));
    EXPECT_TRUE(fs::exists("Report20240304.xls"));

    // Later the same day no pass runs.
    clock.t.hour = 23;
    WriteFile("Report.xls", "x");
    Log(30000, "x");
    EXPECT_TRUE(fs::exists("Report.xls"));

    // The next day's first call runs it again.
    clock.t = At(2024, 3, 6, 0, 0, 1, 0);
    Log(30000, "x");
    EXPECT_FALSE(fs::exists("Report.xls"));
    EXPECT_EQ(log.LastDay, tarvane::DayNumber(clock.t));
}

TEST_F(EventLogTest, NoPassWithoutRetentionDays) {
    for (const int days : {0, -1}) {
        GlobalSettings.Log.DaysOfFilesRetained = days;
        GlobalSettings.Log.LastDay = 5;
        WriteFile("Report.xls", "x");
        Log(30000, "x");
        EXPECT_TRUE(fs::exists("Report.xls")) << days;
        EXPECT_EQ(GlobalSettings.Log.LastDay, 5) << days;
    }
}

TEST_F(EventLogTest, NewDayLineComesFirst) {
    tLog& log = GlobalSettings.Log;
    log.DaysOfFilesRetained = 7;
    log.LogLevel = 9;
    log.Tag = "MAIN";
    GlobalSettings.Version = "1.2";
    EXPECT_EQ(Log(30000, "quote \"here\", comma"), log.BaseName + "-20240305.CSV");
    EXPECT_THAT(
        Csv(),
        ::testing::MatchesRegex(
            "09:00:02,\"\\[09:00:02\\.015\\]\",\"MAIN      \",69990,"
            "\"\\[Function=velmar\\.LogEntry\\]\\[Note=New day\\]\\[Version=1\\.2\\]"
            "\\[MemoryLoad=[0-9]+%\\]\\[AvailPhysical=[0-9]+%\\]"
            "\\[TotalPhysical=[1-9][0-9]{0,2}(,[0-9]{3})*bytes\\]\"\r\n"
            "09:00:02,\"\\[09:00:02\\.015\\]\",\"MAIN      \",30000,\"quote 'here', comma\"\r\n"));
}

// Regression: both columns were read as arguments of one call, column 2 first, so at a second
// boundary column 1 was the later time.
TEST_F(EventLogTest, ColumnOneReadsTheClockBeforeColumnTwo) {
    // A second later at every reading.
    struct TickingClock : tarvane::Clock {
        tarvane::LocalTime Now() const override { return At(2024, 3, 5, 9, 0, ++calls % 60); }
        mutable int calls = 0;
    } ticking;
    tLogRec entry;
    entry.Code = 1234;
    std::string name;
    LogEntry(entry, name, ticking);
    const std::string line = ReadFile(name);
    ASSERT_GE(line.size(), 20u) << line;
    EXPECT_LT(line.substr(0, 8), line.substr(11, 8)) << line;
}

// A flag held elsewhere for the whole wait drops the line; that is no failure.
TEST_F(EventLogTest, BusyFlagHeldTooLongDropsTheLine) {
    GlobalSettings.Log.Busy = true;
    GlobalSettings.Log.ErrorCount = 4;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Log(1234, "x"), GlobalSettings.Log.BaseName + "-20240305.CSV");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
    EXPECT_FALSE(fs::exists(GlobalSettings.Log.BaseName + "-20240305.CSV"));
    EXPECT_EQ(GlobalSettings.Log.ErrorCount, 0);
    EXPECT_TRUE(GlobalSettings.Log.Busy) << "the holder's flag is left alone";
}

TEST_F(EventLogTest, BusyFlagReleasedInTimeLetsTheLineThrough) {
    GlobalSettings.Log.Busy = true;
    std::thread holder([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        GlobalSettings.Log.Busy = false;
    });
    Log(1234, "x");
    holder.join();
    EXPECT_NE(Csv().find(",01234,\"x\"\r\n"), std::string::npos);
    EXPECT_FALSE(GlobalSettings.Log.Busy);
}

}  // namespace
}  // namespace velmar
