// The settings file as the real program reads and writes it beside itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/tests/xml_samples.h"
#include "testsupport/network.h"
#include "testsupport/program.h"

namespace tarvane::e2e {
namespace {

const std::string kDefaults =
    "<xml>\r\n <GlobalSettings>\r\n  <Severity>7</Severity>\r\n"
    "  <DaysOfFilesRetained>7</DaysOfFilesRetained>\r\n"
    "  <ExcludedClientIPs></ExcludedClientIPs>\r\n </GlobalSettings>\r\n</xml>\r\n";

std::string SettingsFile(int severity, const std::string& excluded) {
    return "<xml>\r\n <GlobalSettings>\r\n  <Severity>" + std::to_string(severity) +
           "</Severity>\r\n  <DaysOfFilesRetained>7</DaysOfFilesRetained>\r\n"
           "  <ExcludedClientIPs>" +
           excluded +
           "</ExcludedClientIPs>\r\n"
           " </GlobalSettings>\r\n</xml>\r\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNetwork()) GTEST_SKIP() << "run through tests/netns-run.sh";
        for (const char* address : {"10.1.1.1", "10.1.1.10", "10.1.1.100"})
            AddLoopbackAddress(address);
    }
    void Start() {
        program.emplace(dir, OffscreenEnvironment(dir));
        ASSERT_TRUE(program->WaitUntilReady(dir)) << ReadFile(dir.OutputFile());
    }
    ProgramDir dir;
    std::optional<Tarvane> program;
};

TEST_F(SettingsFileTest, EmptyDirectoryGetsTheFileOfDefaults) {
    Start();
    const auto settings = dir.Dir() / "Tarvane.xml";
    EXPECT_EQ(std::filesystem::file_size(settings), 171u);
    EXPECT_EQ(ReadFile(settings), kDefaults);
    // The defaults are in force too: severity 7 is shown.
    SendDatagram("10.1.1.1", "<15>debug");
    dir.WaitForDailyLines(1);
    EXPECT_EQ(dir.Messages(), std::vector<std::string>{"[7] 10.1.1.1 <15>debug"});
}

// Regression: a ":" in the program file's name was taken for a directory separator, and the
// settings and daily files landed in the folder it was started from.
TEST_F(SettingsFileTest, ColonInTheProgramNameKeepsTheFilesBesideIt) {
    ProgramDir named("Tar:vane");
    Tarvane colon(named, OffscreenEnvironment(named));
    ASSERT_TRUE(colon.WaitUntilReady(named)) << ReadFile(named.OutputFile());
    EXPECT_EQ(ReadFile(named.Dir() / "Tarvane.xml"), kDefaults);
    EXPECT_FALSE(std::filesystem::exists(named.Root() / "Tarvane.xml"));
}

struct Case {
    const char* what;
    std::string settings;
    std::vector<std::pair<std::string, std::string>> sent;  // source, bytes; the last is written
    std::vector<std::string> written;                       // after the time stamps
};

TEST_F(SettingsFileTest, ThresholdAndExclusionFromTheFile) {
    const std::vector<std::pair<std::string, std::string>> sixOnly{{"10.1.1.1", "<15>x"},
                                                                   {"10.1.1.1", "<14>x"}};
    const std::string six = "[6] 10.1.1.1 <14>x";
    const std::vector<Case> cases{
        {"severity 6",
         SettingsFile(6, ""),
         {{"10.1.1.1", "<15>x"}, {"10.1.1.1", "<14>x"}},
         {"[6] 10.1.1.1 <14>x"}},
        {"excluded whole addresses",
         SettingsFile(7, "10.1.1.100"),
         {{"10.1.1.100", "<13>hidden"},
          {"10.1.1.1", "<13>one"},
          {"10.1.1.10", "<13>ten"},
          {"10.1.1.100", "<8>hidden too"},
          {"10.1.1.1", "<13>last"}},
         {"[5] 10.1.1.1 <13>one", "[5] 10.1.1.10 <13>ten", "[5] 10.1.1.1 <13>last"}},
        {"list with separators",
         SettingsFile(7, "10.1.1.10; 10.1.1.1"),
         {{"10.1.1.1", "<13>a"}, {"10.1.1.10", "<13>b"}, {"10.1.1.100", "<13>c"}},
         {"[5] 10.1.1.100 <13>c"}},
        {"UTF-16 LE with its mark", testing::Utf16(SettingsFile(6, ""), false), sixOnly, {six}},
        {"UTF-16 BE with its mark", testing::Utf16(SettingsFile(6, ""), true), sixOnly, {six}},
        {"declared ISO-8859-1",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n" +
             SettingsFile(6, "caf\xe9 10.1.1.100"),
         {{"10.1.1.100", "<14>hidden"}, {"10.1.1.1", "<15>x"}, {"10.1.1.1", "<14>x"}},
         {six}},
        {"internal entity",
         "<!DOCTYPE xml [<!ENTITY s \"6\">]>\r\n" +
             Replaced(SettingsFile(6, ""), "<Severity>6", "<Severity>&s;"),
         sixOnly,
         {six}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir own;
        WriteFile(own.Dir() / "Tarvane.xml", c.settings);
        Tarvane running(own, OffscreenEnvironment(own));
        ASSERT_TRUE(running.WaitUntilReady(own)) << ReadFile(own.OutputFile());
        for (const auto& [source, bytes] : c.sent) SendDatagram(source, bytes);
        ASSERT_TRUE(own.WaitForLastMessage(c.written.back()));
        EXPECT_EQ(own.Messages(), c.written);
        EXPECT_EQ(ReadFile(own.Dir() / "Tarvane.xml"), c.settings);
    }
}

// What lies in the settings file's place.
enum class Place { kFile, kFifo, kSymlink, kHardLink, kTerminal };

// Puts the settings in the file's place as the case asks; a terminal's descriptor is left in
// terminal.
void PutInPlace(Place place, const std::string& settings, const std::filesystem::path& file,
                const std::filesystem::path& outside, int& terminal) {
    switch (place) {
        case Place::kFile: WriteFile(file, settings); break;
        case Place::kFifo: ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); break;
        case Place::kSymlink:
        case Place::kHardLink:
            WriteFile(outside, settings);
            // Another owner's where the test may give it one (the real root); in a user
            // namespace the file stays the test's own, and the link must fail all the same.
            if (::chown(outside.c_str(), 65534, 65534) != 0) {
                ASSERT_TRUE(errno == EPERM || errno == EINVAL) << std::strerror(errno);
            }
            if (place == Place::kSymlink) {
                std::filesystem::create_symlink(outside, file);
            } else {
                std::filesystem::create_hard_link(outside, file);
            }
            break;
        case Place::kTerminal:
            terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(terminal, 0);
            ASSERT_EQ(::grantpt(terminal), 0);
            ASSERT_EQ(::unlockpt(terminal), 0);
            std::filesystem::create_symlink(::ptsname(terminal), file);
            break;
    }
}

// A file that is no settings file at all, not well-formed, too costly to parse, or reached
// through a link: reported (in a report file and on standard error) without a word of what it
// holds, left as it is, and the program runs at threshold 0 without blocking on it.
TEST_F(SettingsFileTest, BrokenFileIsReportedAndTheProgramRunsAtThresholdZero) {
    const std::string broken = "<xml>\r\n <GlobalSettings>\r\n  <Severity>6</Severity>\r\n";
    // Not well-formed, so a parse of it would quote it.
    const std::string secret = "<SECRET-TEXT & <xml>";
    std::string attributes = "<xml";
    for (int i = 0; i < 100000; ++i) attributes += " a" + std::to_string(i) + "=''";
    attributes += "/>";
    const struct {
        const char* what;
        std::string settings;
        Place place = Place::kFile;
    } cases[] = {
        {"unclosed", broken},
        {"bare &", SettingsFile(6, "10.1.1.1 & 10.1.1.10")},
        {"external entity", "<!DOCTYPE xml [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>\r\n" +
                                SettingsFile(6, "&e;")},
        {"billion laughs", testing::BillionLaughs(SettingsFile(6, "&l10;"))},
        {"100,000 attributes", attributes},
        {"fifo", "", Place::kFifo},
        {"symbolic link to a file of another owner", secret, Place::kSymlink},
        {"hard link to a file of another owner", secret, Place::kHardLink},
        {"symbolic link to a terminal", "", Place::kTerminal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir own;
        const auto file = own.Dir() / "Tarvane.xml", outside = own.Root() / "outside.xml";
        int terminal = -1;
        ASSERT_NO_FATAL_FAILURE(PutInPlace(c.place, c.settings, file, outside, terminal));
        Tarvane running(own, OffscreenEnvironment(own));
        ASSERT_TRUE(running.WaitUntilReady(own)) << ReadFile(own.OutputFile());
        // The terminal hangs up; the program has nothing to do with it and goes on.
        if (terminal >= 0) ::close(terminal);
        for (const char* text : {"<8>x", "<9>x", "plain", "<15>x", "<-1>x", "<8>end"})
            SendDatagram("10.1.1.1", text);
        const std::vector<std::string> expected{"[0] 10.1.1.1 <8>x", "10.1.1.1 plain",
                                                "[-1] 10.1.1.1 <-1>x", "[0] 10.1.1.1 <8>end"};
        own.WaitForDailyLines(expected.size());
        EXPECT_EQ(own.Messages(), expected);
        EXPECT_TRUE(running.Proc().Running());

        const auto reports = own.FilesMatching(R"(EXCEPTION-\d{17}\.XML)");
        ASSERT_EQ(reports.size(), 1u);
        const std::string report = ReadFile(reports[0]);
        EXPECT_NE(report.find("<Function>Lib.GetSettings</Function><Trace>210</Trace>"),
                  std::string::npos)
            << report;
        EXPECT_EQ(report.find("SECRET"), std::string::npos) << report;
        const auto check = RunCommand({"/usr/bin/xmllint", "--noout", "--nonet", reports[0]});
        EXPECT_EQ(check.code, 0) << report;
        // Told on standard error too, for a service's journal: one line naming the report.
        const std::string told = ReadFile(own.OutputFile());
        EXPECT_NE(told.find("Tarvane.xml could not be loaded ("), std::string::npos) << told;
        EXPECT_NE(told.find(reports[0].filename().string() + "\n"), std::string::npos) << told;
        EXPECT_EQ(told.find("SECRET"), std::string::npos) << told;
        if (c.place == Place::kFifo) {
            EXPECT_TRUE(std::filesystem::is_fifo(file));
        } else if (c.place != Place::kTerminal) {
            EXPECT_EQ(ReadFile(file), c.settings);
        }
    }
}

}  // namespace
}  // namespace tarvane::e2e
