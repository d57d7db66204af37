#include "logfiles/logfiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/file_limits.h"
#include "testsupport/fixed_clock.h"
#include "testsupport/temp_dir.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using namespace tarvane::testing;

TEST(DailyLogFileName, IsTheDatedName) {
    EXPECT_EQ(DailyLogFileName(At(2024, 3, 15)), "Tarvane-20240315.TXT");
}

TEST(AppendTextToFile, AppendsBytesUnchangedAndNeverTouchesEarlierOnes) {
    TempDir dir;
    WriteFile("log.txt", "no line end");
    const std::string bytes("a\0b\xff\r\n", 6);
    EXPECT_TRUE(AppendTextToFile(bytes, "log.txt", true));
    EXPECT_TRUE(AppendTextToFile("next\r\n", "log.txt", true));
    EXPECT_EQ(ReadFile("log.txt"), "no line end" + bytes + "next\r\n");
}

TEST(AppendTextToFile, EmptyTextCreatesNothingAndSucceeds) {
    TempDir dir;
    EXPECT_TRUE(AppendTextToFile("", "missing.txt", true));
    EXPECT_FALSE(fs::exists("missing.txt"));
    WriteFile("old.txt", "old");
    EXPECT_TRUE(AppendTextToFile("", "old.txt", false));
    EXPECT_FALSE(fs::exists("old.txt"));
}

TEST(AppendTextToFile, WithoutAppendStartsAfresh) {
    TempDir dir;
    WriteFile("f.txt", "old contents");
    EXPECT_TRUE(AppendTextToFile("new", "f.txt", false));
    EXPECT_EQ(ReadFile("f.txt"), "new");
}

// Only a regular file is written, in a directory that exists; what stands in the daily file's
// place instead (a FIFO, a link) has its end-to-end test.
TEST(AppendTextToFile, FailuresGiveFalse) {
    TempDir dir;
    fs::create_directory("adir");
    WriteFile("target.txt", "keep");
    for (const char* name : {"adir", "nodir/f.txt"}) {
        EXPECT_FALSE(AppendTextToFile("x", name, true)) << name;
    }

    // Refused as the owner and as root alike.
    const int result = testing::InReadOnlyView(dir.path(), [] {
        return AppendTextToFile("x", "target.txt", true) || AppendTextToFile("x", "new.txt", true);
    });
    if (result == testing::kNoMountNamespace) {
        GTEST_SKIP() << "neither root nor allowed a user namespace: no read-only mount";
    }
    EXPECT_EQ(result, 0) << "an append to a read-only file system succeeded";
    EXPECT_EQ(ReadFile("target.txt"), "keep");
}

// A full disk lets only a part of the text in; that part is taken back so the next line does
// not start glued to it.
TEST(AppendTextToFile, FailedAppendLeavesTheFileAsItWas) {
    TempDir dir;
    WriteFile("log.txt", "earlier\r\n");
    {
        const testing::FileSizeLimit full(15);
        EXPECT_FALSE(AppendTextToFile("0123456789\r\n", "log.txt", true));
        const testing::FileSizeLimit none(0);
        EXPECT_FALSE(AppendTextToFile("x", "new.txt", true));
    }
    EXPECT_EQ(ReadFile("log.txt"), "earlier\r\n");
    EXPECT_FALSE(fs::exists("new.txt")) << "a file the failed call created is removed";
    EXPECT_TRUE(AppendTextToFile("next\r\n", "log.txt", true));
    EXPECT_EQ(ReadFile("log.txt"), "earlier\r\nnext\r\n");
}

TEST(DeleteExpiredFiles, KeepsTheLastDaysStampsAndObeysTheCaseRules) {
    TempDir dir;
    const FixedClock clock(At(2024, 3, 15));
    for (const char* n : {"Tarvane-20240315.TXT", "Tarvane-20240309.TXT", "Tarvane-20240308.TXT",
                          "Tarvane-20230101.txt", "Tarvane-notes.txt", "tarvane-20200101.txt",
                          "Tarvane-20240310.TXT.bak", "Tarvane-copy-20240314-old.TXT",
                          "Tarvane-20240316.TXT", "Other-20200101.TXT"}) {
        WriteFile(n, "x");
    }
    fs::create_directory("Tarvane-old-TXT");
    // Five files go; the subdirectory is counted too but stays.
    EXPECT_EQ(DeleteExpiredFiles("Tarvane-", "TXT", 7, clock), 5);
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"Other-20200101.TXT", "Tarvane-20240309.TXT",
                                        "Tarvane-20240310.TXT.bak", "Tarvane-20240315.TXT",
                                        "Tarvane-copy-20240314-old.TXT", "Tarvane-old-TXT",
                                        "tarvane-20200101.txt"}));
}

TEST(DeleteExpiredFiles, NoDaysProtectsNothing) {
    TempDir dir;
    const FixedClock clock(At(2024, 3, 15));
    WriteFile("Tarvane-20240315.TXT", "x");
    WriteFile("keep.TXT", "x");
    EXPECT_EQ(DeleteExpiredFiles("Tarvane-", "TXT", 0, clock), 1);
    EXPECT_FALSE(fs::exists("Tarvane-20240315.TXT"));
    WriteFile("Tarvane-20240315.TXT", "x");
    EXPECT_EQ(DeleteExpiredFiles("Tarvane-", "TXT", -3, clock), 1);
    EXPECT_TRUE(fs::exists("keep.TXT"));
}

TEST(DeleteExpiredFiles, PrefixWithDirectoryWorksThere) {
    TempDir dir;
    const FixedClock clock(At(2024, 3, 15));
    fs::create_directory("logs");
    WriteFile("logs/app.exe-20240101.CSV", "x");
    WriteFile("logs/app.exe-20240315.CSV", "x");
    WriteFile("app.exe-20240101.CSV", "x");  // same name, other directory
    const std::string prefix = (dir.path() / "logs" / "app.exe").string();
    EXPECT_EQ(DeleteExpiredFiles(prefix, "csv", 7, clock), 1);
    EXPECT_FALSE(fs::exists("logs/app.exe-20240101.CSV"));
    EXPECT_TRUE(fs::exists("logs/app.exe-20240315.CSV"));
    EXPECT_TRUE(fs::exists("app.exe-20240101.CSV"));
    EXPECT_EQ(DeleteExpiredFiles("nowhere/x", "csv", 7, clock), 0);
}

TEST(DeleteExpiredFiles, StampsAcrossMonthAndYearEndsAndHugeRetention) {
    TempDir dir;
    const FixedClock clock(At(2024, 1, 2));
    WriteFile("Tarvane-20231231.TXT", "x");  // today - 2
    WriteFile("Tarvane-20231230.TXT", "x");  // today - 3
    WriteFile("Tarvane-20240231.TXT", "x");  // not a date
    EXPECT_EQ(DeleteExpiredFiles("Tarvane-", "TXT", 3, clock), 2);
    EXPECT_TRUE(fs::exists("Tarvane-20231231.TXT"));
    // A retention of two billion days must not spin through every day.
    WriteFile("Tarvane-19000101.TXT", "x");
    EXPECT_EQ(DeleteExpiredFiles("Tarvane-", "TXT", 2147483647, clock), 0);
    EXPECT_TRUE(fs::exists("Tarvane-19000101.TXT"));
}

}  // namespace
}  // namespace tarvane
