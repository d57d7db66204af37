#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pugixml.hpp>

#include "logfiles/tests/temp_dir.h"
#include "velmar/errors.h"
#include "velmar/records.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const char kDefaults[] =
    "<xml>\r\n <GlobalSettings>\r\n  <Severity>7</Severity>\r\n"
    "  <DaysOfFilesRetained>7</DaysOfFilesRetained>\r\n"
    "  <ExcludedClientIPs></ExcludedClientIPs>\r\n </GlobalSettings>\r\n</xml>\r\n";

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings = {};
        velmar::tLog& log = velmar::GlobalSettings.Log;
        log.DaysOfFilesRetained = 0;
        log.LogLevel = 0;
        log.LastDay = 0;
        // The event log's files go to the test's own directory.
        log.BaseName = (dir.path() / "diag").string();
    }
    std::string File(const std::string& severity, const std::string& days,
                     const std::string& excluded) {
        return "<xml><GlobalSettings><Severity>" + severity + "</Severity><DaysOfFilesRetained>" +
               days + "</DaysOfFilesRetained><ExcludedClientIPs>" + excluded +
               "</ExcludedClientIPs></GlobalSettings></xml>";
    }
    std::string Csv() {
        for (const auto& e : fs::directory_iterator(dir.path())) {
            if (e.path().extension() == ".CSV") return ReadFile(e.path());
        }
        return "";
    }
    TempDir dir;
};

TEST_F(SettingsTest, MissingFileGivesTheFileOfDefaults) {
    EXPECT_TRUE(GetSettings());
    EXPECT_EQ(ReadFile(kFileName), kDefaults);
    EXPECT_EQ(fs::file_size(kFileName), 171u);
    EXPECT_EQ(Settings.Severity, 7);
    EXPECT_EQ(velmar::GlobalSettings.Log.DaysOfFilesRetained, 7);
    EXPECT_EQ(Settings.ExcludedClientIPs, "");
    EXPECT_EQ(velmar::GlobalSettings.CoInitializeCount, 0);
}

TEST_F(SettingsTest, ReadingRules) {
    struct Case {
        std::string file;
        int32_t severity, days;
        std::string excluded;
    } cases[] = {
        {"<xml/>", 0, 0, ""},
        {"<xml></xml>", 0, 0, ""},
        {File("abc", "", "10.0.0.1 10.0.0.2"), 0, 0, "10.0.0.1 10.0.0.2"},
        {File("$1F", "  14", "a&amp;b"), 31, 14, "a&b"},
        {"<xml><GlobalSettings><severity>5</severity></GlobalSettings></xml>", 0, 0, ""},
        {"<xml><GlobalSettings><Severity>5</Severity><Severity>6</Severity></GlobalSettings>"
         "</xml>",
         5, 0, ""},
        {"<xml><GlobalSettings><Severity><![CDATA[3]]></Severity></GlobalSettings></xml>", 3, 0,
         ""},
        {"<?xml version=\"1.0\"?>\r\n" + File("4", "2", "x"), 4, 2, "x"},
    };
    for (const Case& c : cases) {
        WriteFile(kFileName, c.file);
        Settings.Severity = 99;
        EXPECT_TRUE(GetSettings()) << c.file;
        EXPECT_EQ(Settings.Severity, c.severity) << c.file;
        EXPECT_EQ(velmar::GlobalSettings.Log.DaysOfFilesRetained, c.days) << c.file;
        EXPECT_EQ(Settings.ExcludedClientIPs, c.excluded) << c.file;
        EXPECT_EQ(ReadFile(kFileName), c.file) << "a load never changes the file";
    }
}

TEST_F(SettingsTest, FailuresAreReportedWithTheirProgress) {
    velmar::GlobalSettings.Log.LogLevel = 9;  // let the entry reach the CSV file
    struct Case {
        std::string file;
        const char* trace;
        const char* className;
        int32_t severity;
    } cases[] = {
        {"<xml><GlobalSettings><Severity>6</Severity><DaysOfFilesRetained>7<!-- c -->"
         "</DaysOfFilesRetained></GlobalSettings></xml>",
         "[Trace=310]", "[ClassName=EXMLDocError]", 6},
        {"<xml><GlobalSettings>", "[Trace=210]", "[ClassName=EDOMParseError]", 0},
        {"<settings/>", "[Trace=300]", "[ClassName=EOleException]", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(kFileName, c.file);
        Settings = {};
        velmar::GlobalSettings.Log.DaysOfFilesRetained = 0;
        fs::remove_all("diag-csv");
        for (const auto& e : fs::directory_iterator(dir.path())) {
            if (e.path().extension() == ".CSV") fs::remove(e.path());
        }
        EXPECT_FALSE(GetSettings());
        EXPECT_EQ(Settings.Severity, c.severity);
        EXPECT_EQ(ReadFile(kFileName), c.file);
        const std::string csv = Csv();
        EXPECT_NE(csv.find(",30000,\"[Function=Lib.GetSettings][Version=]"), std::string::npos)
            << csv;
        EXPECT_NE(csv.find(c.trace), std::string::npos) << csv;
        EXPECT_NE(csv.find(c.className), std::string::npos) << csv;
        EXPECT_NE(csv.find("[CoInitializeCount=1][Notes=kFileName=Tarvane.xml]\""),
                  std::string::npos)
            << csv;
        // The message's line breaks become blanks: one entry is one line.
        EXPECT_EQ(csv.find('\r'), csv.size() - 2) << csv;
    }
}

TEST_F(SettingsTest, ParseFailureMessageNamesReasonLineAndText) {
    velmar::GlobalSettings.Log.LogLevel = 9;
    WriteFile(kFileName, "<xml>\r\n <GlobalSettings>\r\n  <Severity>7</Sev>\r\n</xml>\r\n");
    EXPECT_FALSE(GetSettings());
    const std::string csv = Csv();
    EXPECT_NE(csv.find(" Line: 3 "), std::string::npos) << csv;
}

TEST_F(SettingsTest, SaveReplacesTheFileWholeAndEscapesMarkup) {
    Settings.Severity = -3;
    velmar::GlobalSettings.Log.DaysOfFilesRetained = 30;
    Settings.ExcludedClientIPs = "10.0.0.1, 10.0.0.2 <lab> & co";
    WriteFile(kFileName, "old");
    SaveSettings();
    EXPECT_EQ(ReadFile(kFileName),
              "<xml>\r\n <GlobalSettings>\r\n  <Severity>-3</Severity>\r\n"
              "  <DaysOfFilesRetained>30</DaysOfFilesRetained>\r\n"
              "  <ExcludedClientIPs>10.0.0.1, 10.0.0.2 &lt;lab&gt; &amp; co</ExcludedClientIPs>"
              "\r\n </GlobalSettings>\r\n</xml>\r\n");
    Settings = {};
    EXPECT_TRUE(GetSettings());
    EXPECT_EQ(Settings.ExcludedClientIPs, "10.0.0.1, 10.0.0.2 <lab> & co");
    EXPECT_EQ(Settings.Severity, -3);
    // No stray temporary file stays beside it.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsTest, FailedSaveLeavesTheOldFileAndRaises) {
    // A directory in the file's place cannot be replaced by a rename.
    fs::create_directory(kFileName);
    WriteFile(std::string(kFileName) + "/keep", "x");
    EXPECT_THROW(SaveSettings(), velmar::EInOutError);
    EXPECT_TRUE(fs::is_directory(kFileName));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1) << "the temporary file is removed";
}

TEST_F(SettingsTest, DeleteMatchingFilesSparesDirectories) {
    for (const char* n : {"a1.txt", "a22.txt", "b1.txt", "a1.log"}) WriteFile(n, "x");
    fs::create_directory("a3.txt");
    DeleteMatchingFiles("a?.txt");
    EXPECT_FALSE(fs::exists("a1.txt"));
    EXPECT_TRUE(fs::exists("a22.txt"));
    EXPECT_TRUE(fs::exists("a3.txt"));
    DeleteMatchingFiles((dir.path() / "*.txt").string());
    EXPECT_FALSE(fs::exists("a22.txt"));
    EXPECT_FALSE(fs::exists("b1.txt"));
    EXPECT_TRUE(fs::exists("a1.log"));
}

}  // namespace
}  // namespace tarvane
