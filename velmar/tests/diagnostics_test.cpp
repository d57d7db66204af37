#include <gtest/gtest.h>

#include "velmar/event_log.h"
#include "velmar/exception_report.h"
#include "velmar/syslog.h"

namespace velmar {
namespace {

tarvane::LocalTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
    tarvane::LocalTime t;
    t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
    t.millisecond = ms;
    return t;
}

TEST(EventLog, CodeTextsAndLevels) {
    struct Case {
        int32_t code;
        const char* text;
        int level;
    } cases[] = {{30000, "30000", 3}, {69990, "69990", 6}, {1234, "01234", 0},
                 {123456, "123456", 1}, {-5, "-00005", 0}, {INT32_MIN, "-2147483648", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(CodeText(c.code), c.text);
        EXPECT_EQ(LevelDigit(CodeText(c.code)), c.level) << c.code;
    }
}

TEST(EventLog, CsvLinePadsTheTagAndRequotesTheText) {
    const auto t = At(2024, 3, 5, 9, 0, 2, 15);
    EXPECT_EQ(CsvLine(t, t, "MAIN", "69990", "say \"hi\", twice"),
              "09:00:02,\"[09:00:02.015]\",\"MAIN      \",69990,\"say 'hi', twice\"\r\n");
    EXPECT_EQ(CsvLine(t, t, "ABCDEFGHIJKL", "30000", ""),
              "09:00:02,\"[09:00:02.015]\",\"ABCDEFGHIJ\",30000,\"\"\r\n");
}

TEST(EventLog, NumbersAsTheNewDayEntryShowsThem) {
    EXPECT_EQ(GroupThousands(2147483648LL), "2,147,483,648");
    EXPECT_EQ(GroupThousands(999), "999");
    EXPECT_EQ(GroupThousands(0), "0");
    EXPECT_EQ(Percent(768LL << 20, 2048LL << 20), 38);  // 37.5, halves to even
    EXPECT_EQ(Percent(365, 1000), 36);                   // 36.5
    EXPECT_EQ(Percent(1, 1), 100);
    tMemoryInfo info;
    GetMemoryInfo(info);
    EXPECT_TRUE(info.Valid);
    EXPECT_GT(info.TotalPhys, 0);
    EXPECT_LE(info.AvailPhys, info.TotalPhys);
}

TEST(Syslog, DatagramPieces) {
    const auto t = At(2024, 3, 5, 14, 7, 9, 0);
    EXPECT_EQ(SyslogDatagram(t, 3, 16, "MAIN", "30000: x"),
              "<131>Mar 05 2024 14:07:09: %MAIN : 30000: x");
    EXPECT_EQ(SyslogDatagram(t, 0, 16, "", "a\r\nb"), "<128>Mar 05 2024 14:07:09: % : a\r\nb");
    EXPECT_EQ(SyslogDatagram(t, 9, 16, "", ""), "<137>Mar 05 2024 14:07:09: % : ");
}

TEST(ExceptionReport, NamesAndUpTime) {
    const auto t = At(2024, 3, 5, 14, 7, 9, 123);
    EXPECT_EQ(ExceptionReportName("/opt/t/", "", t), "/opt/t/EXCEPTION-20240305140709123.XML");
    EXPECT_EQ(ExceptionReportName("/d/", "err-{timestamp}.xml", t),
              "/d/err-20240305140709123.xml");
    EXPECT_EQ(ExceptionReportName("/d/", "{timestamp}-{timestamp}", t),
              "/d/20240305140709123-{timestamp}");
    EXPECT_EQ(ExceptionReportName("/d/", "err-{TIMESTAMP}.xml", t), "/d/err-{TIMESTAMP}.xml");
    EXPECT_EQ(MachineUpTimeOf(0).Text, "0w0d0h0m0s");
    EXPECT_EQ(MachineUpTimeOf(((8 * 24 + 1) * 60 + 2) * 60000LL + 3999).Text, "1w1d1h2m3s");
    // Past 2^32 ms (49.7 days) the count goes on instead of starting again.
    EXPECT_EQ(MachineUpTimeOf(4294967296LL).Text, "7w0d17h2m47s");
}

}  // namespace
}  // namespace velmar
