#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include "settings/tests/xml_samples.h"
#include "testsupport/file_limits.h"
#include "testsupport/temp_dir.h"
#include "velmar/errors.h"
#include "velmar/records.h"
#include "velmar/system.h"
#include "velmar/tests/report_reader.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using namespace tarvane::testing;

const char kDefaults[] =
    "<xml>\r\n <GlobalSettings>\r\n  <Severity>7</Severity>\r\n"
    "  <DaysOfFilesRetained>7</DaysOfFilesRetained>\r\n"
    "  <ExcludedClientIPs></ExcludedClientIPs>\r\n </GlobalSettings>\r\n</xml>\r\n";

std::string File(const std::string& severity, const std::string& days,
                 const std::string& excluded) {
    return "<xml><GlobalSettings><Severity>" + severity + "</Severity><DaysOfFilesRetained>" +
           days + "</DaysOfFilesRetained><ExcludedClientIPs>" + excluded +
           "</ExcludedClientIPs></GlobalSettings></xml>";
}

// The exception reports in the program's directory, which is the test binary's.
std::set<fs::path> Reports() {
    std::set<fs::path> found;
    for (const auto& e : fs::directory_iterator(velmar::GetProgramDir())) {
        const std::string name = e.path().filename().string();
        if (name.rfind("EXCEPTION-", 0) == 0) found.insert(e.path());
    }
    return found;
}

struct Report {
    fs::path path;
    std::string trace, className, message, function, notes;
};

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velmar::ResetGlobalSettings();
        // The event log's files go to the test's own directory.
        velmar::GlobalSettings.Log.BaseName = (dir.path() / "diag").string();
        before = Reports();
    }
    void TearDown() override {
        for (const fs::path& p : Reports()) {
            if (!before.count(p)) fs::remove(p);
        }
    }
    // The reports made since the test began, read back and removed.
    std::vector<Report> NewReports() {
        std::vector<Report> out;
        for (const fs::path& p : Reports()) {
            if (before.count(p)) continue;
            const velmar::testing::ReportRead r = velmar::testing::ReadReportBytes(ReadFile(p));
            EXPECT_TRUE(r.ok) << p;
            out.push_back({p, r.Field("Trace"), r.Field("ClassName"), r.Field("e.Message"),
                           r.Field("Function"), r.Field("Notes")});
            fs::remove(p);
        }
        return out;
    }
    // Values a load must either replace or leave.
    void Hold() {
        settings.Severity = 99;
        settings.DaysOfFilesRetained = 98;
        settings.ExcludedClientIPs = "held";
    }
    std::vector<fs::path> CsvFiles() {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            if (e.path().extension() == ".CSV") out.push_back(e.path());
        }
        return out;
    }
    TempDir dir;
    std::set<fs::path> before;
    tSettings settings;
};

TEST_F(SettingsTest, MissingFileGivesTheFileOfDefaults) {
    settings.ExcludedClientIPs = "held";
    EXPECT_TRUE(GetSettings(settings));
    EXPECT_EQ(ReadFile(kFileName), kDefaults);
    EXPECT_EQ(fs::file_size(kFileName), 171u);
    EXPECT_EQ(settings.Severity, 7);
    EXPECT_EQ(settings.DaysOfFilesRetained, 7);
    EXPECT_EQ(velmar::GlobalSettings.Log.DaysOfFilesRetained, 7);
    EXPECT_EQ(settings.ExcludedClientIPs, "");
    EXPECT_EQ(velmar::GlobalSettings.CoInitializeCount, 0);
    EXPECT_TRUE(NewReports().empty());
}

TEST_F(SettingsTest, ReadingRules) {
    struct Case {
        std::string file;
        int32_t severity, days;
        std::string excluded;
    } cases[] = {
        {"<xml/>", 0, 0, ""},
        {"<xml></xml>", 0, 0, ""},
        {"<xml><GlobalSettings/></xml>", 0, 0, ""},
        {File("abc", "", "10.0.0.1 10.0.0.2"), 0, 0, "10.0.0.1 10.0.0.2"},
        {File("5 ", "   14", "10.0.0.1;10.0.0.2,  10.0.0.3"), 0, 14,
         "10.0.0.1;10.0.0.2,  10.0.0.3"},
        {File("$1F", "-x10", "a&amp;b &lt;c&gt;"), 31, -16, "a&b <c>"},
        {"<xml><GlobalSettings><severity>5</severity><SEVERITY>4</SEVERITY></GlobalSettings>"
         "</xml>",
         0, 0, ""},
        {"<xml><globalsettings><Severity>5</Severity></globalsettings></xml>", 0, 0, ""},
        // A prefix is part of the name, declared or not.
        {"<xml xmlns:a=\"urn:a\"><a:GlobalSettings><Severity>5</Severity></a:GlobalSettings>"
         "<b:GlobalSettings><Severity>6</Severity></b:GlobalSettings></xml>",
         0, 0, ""},
        {"<xml><GlobalSettings><Severity>5</Severity><Severity>6</Severity></GlobalSettings>"
         "<GlobalSettings><DaysOfFilesRetained>9</DaysOfFilesRetained></GlobalSettings></xml>",
         5, 0, ""},
        {"<xml><GlobalSettings><Severity><![CDATA[3]]></Severity></GlobalSettings></xml>", 3, 0,
         ""},
        {"<?xml version=\"1.0\"?>\r\n" + File("4", "2", "x"), 4, 2, "x"},
        {testing::Utf16(File("4", "2", "x y"), false), 4, 2, "x y"},
        {testing::Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + File("4", "2", "x"), true),
         4, 2, "x"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + File("1", "2", "caf\xe9"), 1, 2,
         "caf\xc3\xa9"},
        {"<!DOCTYPE xml [<!ENTITY e \"3\">]>" + File("&e;", "1&e;", "a&e;"), 3, 13, "a3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(kFileName, c.file);
        Hold();
        EXPECT_TRUE(GetSettings(settings));
        EXPECT_EQ(settings.Severity, c.severity);
        EXPECT_EQ(settings.DaysOfFilesRetained, c.days);
        EXPECT_EQ(settings.ExcludedClientIPs, c.excluded);
        EXPECT_EQ(ReadFile(kFileName), c.file) << "a load never changes the file";
    }
    EXPECT_TRUE(NewReports().empty()) << "values that are not numbers are no failure";
    EXPECT_FALSE(fs::exists("Exception.txt"));
    EXPECT_TRUE(CsvFiles().empty());
}

// A failed load: the file, the report's trace, class and message (empty: not checked) and the
// values left; unless given, those stay as they were before the load.
struct Failure {
    std::string file;
    int trace;
    std::string className, message;
    int32_t severity = 99, days = 98;
    std::string excluded = "held";
};

std::vector<Failure> Failures() {
    const std::string broken = "<xml>\r\n <GlobalSettings>\r\n  <Severity>7</Sev>\r\n</xml>\r\n";
    const std::string kSingle = "Element does not contain a single text node";
    // Files that would cost the parse too much, each past one of its limits.
    std::string attributes = "<xml", entities = "<!DOCTYPE xml [", defaults = entities,
                nodes = "<xml>", references;
    for (int i = 0; i < 5000; ++i) attributes += " a" + std::to_string(i) + "=''";
    for (int i = 0; i < 1100; ++i) entities += "<!ENTITY e" + std::to_string(i) + " ''>";
    for (int i = 0; i < 70; ++i) defaults += "<!ATTLIST xml a" + std::to_string(i) + " CDATA 'v'>";
    for (int i = 0; i < 100001; ++i) nodes += "<a/>";
    for (int i = 0; i < 300; ++i) references += "&t;";
    const std::string text = "<!DOCTYPE xml [<!ENTITY t '" + std::string(10000, 't') + "'>]>" +
                             File("1", "1", references);
    return {
        {"<xml><GlobalSettings><Severity>6</Severity><DaysOfFilesRetained>7<!-- c -->"
         "</DaysOfFilesRetained></GlobalSettings></xml>",
         310, "EXMLDocError", kSingle, 6},
        {File("<n>1</n>", "1", "x"), 310, "EXMLDocError", kSingle},
        {File("1", "1", "<![CDATA[a]]>b"), 310, "EXMLDocError", kSingle, 1, 1},
        {File("1", "1", "<?pi x?>"), 310, "EXMLDocError", kSingle, 1, 1},
        {broken, 210, "EDOMParseError",
         "Opening and ending tag mismatch: Severity line 3 and Sev\r\nLine: 3\r\n\r\n</xml>\r\n"},
        {"<xml><GlobalSettings>", 210, "EDOMParseError", ""},
        {"", 210, "EDOMParseError", "Document is empty\r\nLine: 1\r\n"},
        {"<xml/><xml/>", 210, "EDOMParseError",
         "Extra content at the end of the document\r\nLine: 1\r\n<xml/>"},
        {"<xml/>\r\ntrailing text", 210, "EDOMParseError",
         "Extra content at the end of the document\r\nLine: 2\r\ntrailing text"},
        {File("1", "1", "a & b"), 210, "EDOMParseError",
         "xmlParseEntityRef: no name\r\nLine: 1\r\n b</ExcludedClientIPs></GlobalSettings><"},
        {File("1", "1", "&nbsp;"), 210, "EDOMParseError", ""},
        {File("1", "1", "caf\xe9"), 210, "EDOMParseError", ""},
        // The excerpt shows what cannot be text as the view does.
        {File("1", "1", "\x01"), 210, "EDOMParseError",
         "PCDATA invalid Char value 1\r\nLine: 1\r\n#001</ExcludedClientIPs></GlobalSettings"},
        {"<xml a=\"1\" a=\"2\"/>", 210, "EDOMParseError", ""},
        {"<!DOCTYPE xml [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>" + File("1", "1", "&e;"),
         210, "EDOMParseError", ""},
        {testing::BillionLaughs(File("1", "1", "&l10;")), 210, "EDOMParseError", ""},
        {attributes + "/>", 210, "EDOMParseError",
         "The document has too many attributes\r\nLine: 0\r\n"},
        {entities + "]><xml/>", 210, "EDOMParseError", ""},
        {defaults + "]><xml/>", 210, "EDOMParseError", ""},
        {nodes + "</xml>", 210, "EDOMParseError", ""},
        {text, 210, "EDOMParseError", ""},
        {"<?xml version='1.0' encoding='UTF-7'?><xml/>", 210, "EDOMParseError",
         "Unsupported encoding UTF-7\r\nLine: 0\r\n"},
        {"<settings/>", 300, "EOleException",
         "Only one top level element is allowed in an XML document"},
        {"<a:xml xmlns:a=\"urn:a\"/>", 300, "EOleException", ""},
    };
}

// Each failure leaves the values as they were when it happened, the file as it was, one report
// beside the program and, with every level admitted, one CSV entry of code 30000.
TEST_F(SettingsTest, FailuresAreReportedWithTheirProgress) {
    velmar::GlobalSettings.Log.LogLevel = 9;
    for (const Failure& c : Failures()) {
        SCOPED_TRACE(c.file);
        WriteFile(kFileName, c.file);
        for (const fs::path& p : CsvFiles()) fs::remove(p);
        Hold();
        // The day's housekeeping is taken as done, so the entry is the only CSV line.
        velmar::GlobalSettings.Log.LastDay = DayNumber(SystemClockInstance().Now());
        EXPECT_FALSE(GetSettings(settings));
        EXPECT_EQ(settings.Severity, c.severity);
        EXPECT_EQ(settings.DaysOfFilesRetained, c.days);
        EXPECT_EQ(settings.ExcludedClientIPs, c.excluded);
        EXPECT_EQ(ReadFile(kFileName), c.file) << "the file stays as it was";
        EXPECT_EQ(velmar::GlobalSettings.CoInitializeCount, 0);

        const std::vector<Report> reports = NewReports();
        ASSERT_EQ(reports.size(), 1u);
        const Report& r = reports[0];
        EXPECT_EQ(r.trace, std::to_string(c.trace));
        EXPECT_EQ(r.className, c.className);
        EXPECT_EQ(r.function, "Lib.GetSettings");
        EXPECT_EQ(r.notes, "kFileName=Tarvane.xml");
        if (!c.message.empty()) {
            EXPECT_EQ(r.message, c.message) << "the report keeps CR LF";
        }

        const std::vector<fs::path> csv = CsvFiles();
        ASSERT_EQ(csv.size(), 1u);
        // Every CR LF becomes one blank, and double quotes single ones.
        std::string oneLine = std::regex_replace(r.message, std::regex("\r\n"), " ");
        std::replace(oneLine.begin(), oneLine.end(), '"', '\'');
        const std::string text = "[Function=Lib.GetSettings][Version=][ClassName=" + c.className +
                                 "][Message=" + oneLine + "][Trace=" + std::to_string(c.trace) +
                                 "][FileName=" + r.path.string() +
                                 "][CoInitializeCount=1][Notes=kFileName=Tarvane.xml]";
        const std::string line = ReadFile(csv[0]);
        EXPECT_EQ(line.substr(line.find(",30000,")), ",30000,\"" + text + "\"\r\n");
    }
}

TEST_F(SettingsTest, FailureWithTheStartLogLevelWritesOnlyTheReport) {
    WriteFile(kFileName, "<settings/>");
    EXPECT_FALSE(GetSettings(settings));
    EXPECT_EQ(NewReports().size(), 1u);
    EXPECT_TRUE(CsvFiles().empty());
}

// The file of defaults cannot be written: the defaults are held all the same.
TEST_F(SettingsTest, UnwritableDefaultsFailAtTheStart) {
    struct Case {
        const char* name;
        std::string message;
    } cases[] = {
        {"a directory in the file's place", "File access denied"},
        {"a removed working directory", "File not found"},
        {"a read-only directory", "File access denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path sub = dir.path() / "program";
        fs::create_directory(sub);
        fs::current_path(sub);
        auto load = [this] {
            settings.Severity = 99;
            return !GetSettings(settings) && settings.Severity == 7 &&
                   settings.DaysOfFilesRetained == 7 && settings.ExcludedClientIPs.empty();
        };
        if (c.name == std::string("a read-only directory")) {
            // Root too is refused by a read-only mount.
            const int result = testing::InReadOnlyView(sub, [&] { return load() ? 0 : 1; });
            if (result == testing::kNoMountNamespace) {
                GTEST_SKIP() << "neither root nor allowed a user namespace: no read-only mount";
            }
            EXPECT_EQ(result, 0);
        } else {
            if (c.message == "File not found") {
                fs::remove(sub);
            } else {
                fs::create_directory(kFileName);
                WriteFile(std::string(kFileName) + "/keep", "x");
            }
            EXPECT_TRUE(load());
        }
        const std::vector<Report> reports = NewReports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].trace, "100");
        EXPECT_EQ(reports[0].className, "EInOutError");
        EXPECT_EQ(reports[0].message, c.message);
        fs::current_path(dir.path());
        fs::remove_all(sub);
    }
}

// Nothing in the file's place blocks the load; a link to a file is read, and a save replaces
// the link, never its target.
TEST_F(SettingsTest, FifoOrLinkInTheFilesPlace) {
    ASSERT_EQ(::mkfifo(kFileName, 0644), 0);
    EXPECT_FALSE(GetSettings(settings));
    std::vector<Report> reports = NewReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].trace, "210");
    EXPECT_EQ(reports[0].message, "The system cannot open the file.\r\nLine: 0\r\n");
    fs::remove(kFileName);

    WriteFile("shared.xml", File("3", "4", "x"));
    fs::create_symlink("shared.xml", kFileName);
    // Read through the link, a parse failure would quote the other file in a report.
    EXPECT_FALSE(GetSettings(settings));
    EXPECT_EQ(settings.Severity, 0);
    settings.Severity = 3;
    SaveSettings(settings);
    EXPECT_FALSE(fs::is_symlink(kFileName));
    EXPECT_EQ(ReadFile("shared.xml"), File("3", "4", "x"));
}

TEST_F(SettingsTest, SaveEscapesMarkupAndReadsBackTheSameText) {
    settings.Severity = -3;
    settings.DaysOfFilesRetained = 30;
    settings.ExcludedClientIPs = "10.0.0.1, 10.0.0.2 <lab> & co";
    WriteFile(kFileName, "old");
    SaveSettings(settings);
    EXPECT_EQ(ReadFile(kFileName),
              "<xml>\r\n <GlobalSettings>\r\n  <Severity>-3</Severity>\r\n"
              "  <DaysOfFilesRetained>30</DaysOfFilesRetained>\r\n"
              "  <ExcludedClientIPs>10.0.0.1, 10.0.0.2 &lt;lab&gt; &amp; co</ExcludedClientIPs>"
              "\r\n </GlobalSettings>\r\n</xml>\r\n");
    settings = {};
    EXPECT_TRUE(GetSettings(settings));
    EXPECT_EQ(settings.ExcludedClientIPs, "10.0.0.1, 10.0.0.2 <lab> & co");
    EXPECT_EQ(settings.Severity, -3);
    EXPECT_EQ(settings.DaysOfFilesRetained, 30);
    // No temporary file stays beside it, and the file is readable by others as a new file is.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(kFileName).permissions()), 0666 & ~mask);
}

TEST_F(SettingsTest, FailedSaveLeavesTheOldFileAndRaises) {
    // A directory in the file's place cannot be replaced by a rename.
    fs::create_directory(kFileName);
    WriteFile(std::string(kFileName) + "/keep", "x");
    EXPECT_THROW(SaveSettings(settings), velmar::EInOutError);
    EXPECT_TRUE(fs::exists(std::string(kFileName) + "/keep"));
    fs::remove_all(kFileName);

    // A write cut short, as on a full disk: the old file stays whole.
    WriteFile(kFileName, kDefaults);
    settings.Severity = 3;
    settings.DaysOfFilesRetained = 7;
    std::string className;
    try {
        const testing::FileSizeLimit full(50);
        SaveSettings(settings);
    } catch (const velmar::Exception& e) {
        className = e.ClassName();
    }
    EXPECT_EQ(className, "EInOutError");
    EXPECT_EQ(ReadFile(kFileName), kDefaults);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << "the temporary file is removed";
}

}  // namespace
}  // namespace tarvane
