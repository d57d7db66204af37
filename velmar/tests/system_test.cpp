#include "velmar/system.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>

#include "testsupport/fixed_clock.h"

namespace velmar {
namespace {

using tarvane::testing::At;

TEST(ProgramDir, DirectoryPartAndLongPathPrefix) {
    struct Case {
        const char* path;
        const char* dir;
    } cases[] = {
        {"/opt/tools/Tarvane", "/opt/tools/"},
        // Only "/" separates: ":" and "\\" belong to names.
        {"/opt/tools/Tar:vane", "/opt/tools/"},
        {"/opt/a\\b/Tar\\vane", "/opt/a\\b/"},
        {"C:\\Tools\\Tarvane.exe", ""},
        {"\\\\?\\/opt/tools/Tarvane", "/opt/tools/"},
        {"Tarvane", ""},
        {"/Tarvane", "/"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgramDirOf(c.path), c.dir) << c.path;
    EXPECT_EQ(GetProgramDir().back(), '/');
    EXPECT_EQ(GetProgramDir() + "velmar_system_test", ProgramFilePath());
}

TEST(TimeSeparator, OneWholePunctuationCharacterBetweenHoursAndMinutes) {
    // Multibyte formats are read as UTF-8 here.
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    ASSERT_TRUE(utf8);
    const locale_t previous = ::uselocale(utf8);
    struct Case {
        const char* format;
        const char* separator;
    } cases[] = {
        // clang-format off
        {"%H:%M:%S", ":"}, {"%H.%M.%S", "."}, {"%T", ":"},          {"%r", ":"},
        {"%I:%M:%S %p", ":"}, {"%l.%M %p", "."}, {"%OH.%OM", "."},  {"%-H.%M", "."},
        // Letters, several characters or none: the colon.
        {"%H時%M分%S秒", ":"}, {"%Hh%M", ":"}, {"%H h %M", ":"}, {"%H%M", ":"}, {"%H", ":"},
        {"", ":"}, {"%p %I:%M", ":"},
        // A punctuation character of several bytes is taken whole.
        {"%H\uFF1A%M", "\uFF1A"},
        // clang-format on
    };
    for (const Case& c : cases) EXPECT_EQ(TimeSeparatorOf(c.format), c.separator) << c.format;
    ::uselocale(previous);
    ::freelocale(utf8);
}

TEST(TimeOfDay, HoursToMilliseconds) {
    EXPECT_EQ(TimeOfDayText(At(2024, 3, 5, 14, 7, 9, 123)), "14:07:09.123");
    EXPECT_EQ(TimeOfDayText(At(2024, 3, 5)), "00:00:00.000");
}

}  // namespace
}  // namespace velmar
