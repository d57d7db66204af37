#include "velmar/system.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "logfiles/tests/fixed_clock.h"

namespace velmar {
namespace {

using tarvane::testing::At;

// The separators below are those of the C locale.
[[maybe_unused]] const bool kLocale = ::setenv("LC_ALL", "C.UTF-8", 1) == 0;

TEST(ProgramDir, DirectoryPartAndLongPathPrefix) {
    struct Case {
        const char* path;
        const char* dir;
    } cases[] = {
        {"/opt/tools/Tarvane", "/opt/tools/"},
        {"C:\\Tools\\Tarvane.exe", "C:\\Tools\\"},
        {"\\\\?\\C:\\Tools\\Tarvane.exe", "C:\\Tools\\"},
        {"C:Tarvane.exe", "C:"},
        {"Tarvane", ""},
        {"/Tarvane", "/"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgramDirOf(c.path), c.dir) << c.path;
    EXPECT_EQ(GetProgramDir().back(), '/');
    EXPECT_EQ(GetProgramDir() + "velmar_system_test", ProgramFilePath());
}

TEST(TimeOfDay, BrokenDownAndDateTimeValues) {
    EXPECT_EQ(TimeOfDayText(At(2024, 3, 5, 14, 7, 9, 123)), "14:07:09.123");
    EXPECT_EQ(TimeOfDayText(At(2024, 3, 5)), "00:00:00.000");
    // 1900-01-01 18:00:00.000 and a day before the epoch, whose fraction still counts forward.
    EXPECT_EQ(TimeOfDayText(2.75), "18:00:00.000");
    EXPECT_EQ(TimeOfDayText(-1.5), "12:00:00.000");
    const tarvane::LocalTime t = FromDateTime(45356.5 + 1.0 / 86400000);
    EXPECT_EQ(tarvane::DateStamp(t), "20240305");
    EXPECT_EQ(TimeOfDayText(t), "12:00:00.001");
    // -1 is the clock's current time: the text keeps its form.
    EXPECT_EQ(TimeOfDayText(-1.0).size(), 12u);
}

}  // namespace
}  // namespace velmar
