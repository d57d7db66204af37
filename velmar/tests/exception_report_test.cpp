#include "velmar/exception_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <regex>

#include "testsupport/file_limits.h"
#include "testsupport/fixed_clock.h"
#include "testsupport/temp_dir.h"
#include "velmar/errors.h"
#include "velmar/system.h"
#include "velmar/tests/report_reader.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace tarvane::testing;

// Five plain decimal numbers, each followed by its letter and below the next unit.
bool IsUpTimeText(const std::string& text) {
    return std::regex_match(text,
                            std::regex("(0|[1-9]\\d*)w[0-6]d(1?\\d|2[0-3])h[1-5]?\\dm[1-5]?\\ds"));
}

tExceptionRec Rec(const std::string& fileName) {
    tExceptionRec rec;
    rec.Function = "Lib.GetSettings";
    rec.ClassName = "EDOMParseError";
    rec.Message = "a < b & \"c\"\r\nLine: 2";
    rec.Trace = 210;
    rec.Notes = "kFileName=Tarvane.xml";
    rec.FileName = fileName;
    return rec;
}

class ExceptionReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetGlobalSettings();
        ProcessMessagesHook = nullptr;
    }
    void TearDown() override {
        ProcessMessagesHook = nullptr;
        for (const std::string& f : made) fs::remove(f);
    }
    TempDir dir;
    std::vector<std::string> made;  // reports written beside the test program
};

TEST_F(ExceptionReportTest, ReportHoldsTheTenElementsInOrderAndNothingElse) {
    const FixedClock clock{At(2024, 3, 5, 14, 7, 9, 123)};
    GlobalSettings.Version = "1.2";
    // A control byte, a byte that is no UTF-8 and a whole UTF-8 character.
    GlobalSettings.HostName = "h\x01\xe9\xc3\xa9";
    int hookCalls = 0;
    ProcessMessagesHook = [&] { ++hookCalls; };
    const tExceptionRec rec = Rec("vtests-report-{timestamp}.xml");
    const std::string name = SaveExceptionRecAsXML(rec, clock);
    made.push_back(name);
    EXPECT_EQ(name, GetProgramDir() + "vtests-report-20240305140709123.xml");
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(rec.FileName, "vtests-report-{timestamp}.xml") << "the caller's record is a copy";

    const testing::ReportRead read = testing::ReadReportBytes(ReadFile(name));
    ASSERT_TRUE(read.ok);
    const std::string upTime = read.Field("MachineUpTime");
    EXPECT_TRUE(IsUpTimeText(upTime)) << upTime;
    // Byte for byte: no declaration, no indentation, the markup escaped.
    EXPECT_EQ(ReadFile(name),
              "<xml><Exception><DateTime>2024-03-05 14:07:09</DateTime><MachineUpTime>" + upTime +
                  "</MachineUpTime><SelfName></SelfName><Version>1.2</Version>"
                  "<Function>Lib.GetSettings</Function><Trace>210</Trace>"
                  "<HostName>h#001\xc3\xa9\xc3\xa9</HostName>"
                  "<ClassName>EDOMParseError</ClassName><e.Message>a &lt; b &amp; \"c\"&#13;\n"
                  "Line: 2</e.Message><Notes>kFileName=Tarvane.xml</Notes></Exception></xml>");
    EXPECT_EQ(read.Field("e.Message"), rec.Message);
    EXPECT_FALSE(fs::exists("Exception.txt"));
}

TEST_F(ExceptionReportTest, NameRules) {
    const tarvane::LocalTime t = At(2024, 3, 5, 14, 7, 9, 123);
    struct Case {
        const char* fileTemplate;
        const char* name;
    } cases[] = {
        {"", "/d/EXCEPTION-20240305140709123.XML"},
        {"err-{timestamp}.xml", "/d/err-20240305140709123.xml"},
        {"{timestamp}-{timestamp}", "/d/20240305140709123-{timestamp}"},
        {"err-{TIMESTAMP}.xml", "/d/err-{TIMESTAMP}.xml"},
        {"plain.xml", "/d/plain.xml"},
        {"{timestamp", "/d/{timestamp"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExceptionReportName("/d/", c.fileTemplate, t), c.name);
    EXPECT_EQ(ExceptionReportName("/d/", "", At(987, 1, 2, 3, 4, 5, 6)),
              "/d/EXCEPTION-09870102030405006.XML")
        << "always 17 digits";
}

TEST_F(ExceptionReportTest, UnsavableReportLeavesOneDatedLine) {
    const FixedClock clock{At(2024, 3, 5, 14, 7, 11, 0)};
    const std::string name = SaveExceptionRecAsXML(Rec("no-such-dir/r-{timestamp}.xml"), clock);
    EXPECT_EQ(name, GetProgramDir() + "no-such-dir/r-20240305140711000.xml");
    EXPECT_EQ(ReadFile("Exception.txt"),
              "03/05/24 14:07:11: velmar.SaveExceptionRecAsXML LogRec.Trace=420 "
              "E.Message=File not found sFileName=" +
                  name + " \r\n");
    // A second failure appends.
    SaveExceptionRecAsXML(Rec("no-such-dir/r.xml"), clock);
    const std::string lines = ReadFile("Exception.txt");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);

    // Never through a link: its target stays as it was.
    tarvane::testing::WriteFile("target", "keep");
    const std::string link = GetProgramDir() + "vtests-link.xml";
    fs::create_symlink(dir.path() / "target", link);
    made.push_back(link);
    SaveExceptionRecAsXML(Rec("vtests-link.xml"), clock);
    EXPECT_EQ(ReadFile("target"), "keep");
    EXPECT_NE(ReadFile("Exception.txt").find("E.Message=File access denied sFileName=" + link),
              std::string::npos);
}

// On a full disk neither a cut report nor an empty fall-back file stays behind.
TEST_F(ExceptionReportTest, FullDiskLeavesNoPartialReport) {
    std::string name;
    {
        const tarvane::testing::FileSizeLimit full(40);
        name = SaveExceptionRecAsXML(Rec("vtests-full-{timestamp}.xml"));
    }
    made.push_back(name);
    EXPECT_FALSE(fs::exists(name));
    EXPECT_FALSE(fs::exists("Exception.txt"));
}

TEST(FileErrors, EveryErrnoReadsAsItsOwnKind) {
    struct Case {
        int err;
        const char* text;
    } cases[] = {
        {ENOENT, "File not found"},      {ENOTDIR, "Invalid filename"},
        {EINVAL, "Invalid filename"},    {ENAMETOOLONG, "Invalid filename"},
        {EMFILE, "Too many open files"}, {ENFILE, "Too many open files"},
        {EACCES, "File access denied"},  {EPERM, "File access denied"},
        {EISDIR, "File access denied"},  {EROFS, "File access denied"},
        {ETXTBSY, "File access denied"}, {ENOSPC, "Disk full"},
        {EDQUOT, "Disk full"},           {EFBIG, "Disk full"},
        {EIO, "I/O error 1005"},         {EINTR, "I/O error 1004"},
        {ENETDOWN, "I/O error 1100"},    {ELOOP, "I/O error 1040"},
    };
    for (const Case& c : cases) EXPECT_STREQ(EInOutError::FromErrno(c.err).what(), c.text) << c.err;
}

TEST_F(ExceptionReportTest, ErrorBeforeTheNameLeavesItEmpty) {
    ProcessMessagesHook = [] { throw std::runtime_error("hook failed"); };
    const FixedClock clock{At(2024, 3, 5, 0, 0, 0, 0)};
    EXPECT_EQ(SaveExceptionRecAsXML(Rec(""), clock), "");
    EXPECT_EQ(ReadFile("Exception.txt"),
              "03/05/24: velmar.SaveExceptionRecAsXML LogRec.Trace=100 E.Message=hook failed "
              "sFileName= \r\n");
}

TEST_F(ExceptionReportTest, AppendDatedLine) {
    const FixedClock noon{At(2024, 12, 31, 12, 0, 1, 0)};
    const FixedClock midnight{At(2025, 1, 1, 0, 0, 0, 999)};
    EXPECT_TRUE(AppendDatedLine("first", "log.txt", noon));
    EXPECT_TRUE(AppendDatedLine("second", "log.txt", midnight));
    EXPECT_EQ(ReadFile("log.txt"), "12/31/24 12:00:01: first\r\n01/01/25: second\r\n");
    EXPECT_TRUE(AppendDatedLine("", "log.txt", noon));
    EXPECT_FALSE(fs::exists("log.txt"));
    EXPECT_TRUE(AppendDatedLine("", "log.txt", noon)) << "no file to delete is success too";
    EXPECT_FALSE(AppendDatedLine("x", "no-such-dir/log.txt", noon));
}

TEST_F(ExceptionReportTest, UpTime) {
    struct Case {
        int64_t ticks;
        const char* text;
        double days;
    } cases[] = {
        {0, "0w0d0h0m0s", 0},
        {999, "0w0d0h0m0s", 0},
        {((8 * 24 + 1) * 60 + 2) * 60000LL + 3999, "1w1d1h2m3s",
         8 + 1 / 24.0 + 2 / 1440.0 + 3 / 86400.0},
        // Past 2^32 ms (49.7 days) the count goes on instead of starting again.
        {4294967296LL, "7w0d17h2m47s", 49 + 17 / 24.0 + 2 / 1440.0 + 47 / 86400.0},
    };
    for (const Case& c : cases) {
        const tMachineUpTime up = MachineUpTimeOf(c.ticks);
        EXPECT_EQ(up.Text, c.text);
        EXPECT_EQ(up.Ticks, c.ticks);
        EXPECT_DOUBLE_EQ(up.Days, c.days) << c.text;
    }
    const tMachineUpTime now = GetMachineUpTime();
    EXPECT_GT(now.Ticks, 0);
    EXPECT_TRUE(IsUpTimeText(now.Text)) << now.Text;
}

}  // namespace
}  // namespace velmar
