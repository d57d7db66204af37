// The texts that follow the user's locale, in locales of their own: each locale is built with
// localedef into the test's folder and the test program runs again inside it, since the
// program reads its locale once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QRegularExpression>
#include <cstdlib>
#include <string>

#include "app/frmmain.h"
#include "logfiles/tests/fixed_clock.h"
#include "logfiles/tests/temp_dir.h"
#include "reception/intake.h"
#include "velmar/event_log.h"
#include "velmar/syslog.h"

namespace tarvane {
namespace {

using testing::At;
using testing::TempDir;

const char* const kUnderTest = "TARVANE_LOCALE_UNDER_TEST";

struct LocaleCase {
    const char* name;  // as LC_ALL gives it
    const char* separator;
    const char* march;
    const char* longTime;  // panel 0's time, as a pattern
} const kLocales[] = {
    {"fi_FI.UTF-8", ".", "maalis", "[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}"},
    {"de_DE.UTF-8", ":", "Mär", "[0-9]{2}:[0-9]{2}:[0-9]{2}"},
    // Regression: the separator was the first byte of "時", breaking every line.
    {"ja_JP.UTF-8", ":", " 3月", "[0-9]{2}時[0-9]{2}分[0-9]{2}秒"},
    {"C.UTF-8", ":", "Mar", "[0-9]{2}:[0-9]{2}:[0-9]{2}"},
};

// Runs this program's InLocale tests with the locale and the folder that holds it.
int RunInLocale(const std::string& name, const std::string& folder) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("LC_ALL", name.c_str(), 1);
        ::setenv("LOCPATH", folder.c_str(), 1);
        ::setenv(kUnderTest, name.c_str(), 1);
        const char* argv[] = {"locale_test", "--gtest_filter=InLocale.*", nullptr};
        ::execv("/proc/self/exe", const_cast<char* const*>(argv));
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Locales, TextsFollowEachLocale) {
    if (std::getenv(kUnderTest)) GTEST_SKIP() << "inside one locale";
    TempDir dir;
    for (const LocaleCase& c : kLocales) {
        const std::string name = c.name;
        if (name != "C.UTF-8") {
            const std::string base = name.substr(0, name.find('.'));
            const std::string build = "localedef -i " + base + " -f UTF-8 " +
                                      (dir.path() / name).string() + " >/dev/null 2>&1";
            // localedef reports warnings of the sources with exit code 1.
            const int code = std::system(build.c_str());
            ASSERT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) <= 1) << build;
        }
        EXPECT_EQ(RunInLocale(name, dir.path().string()), 0) << name;
    }
}

TEST(InLocale, TimeTextsAndMonthNames) {
    const char* under = std::getenv(kUnderTest);
    if (!under) GTEST_SKIP() << "run by Locales.TextsFollowEachLocale";
    const LocaleCase* c = nullptr;
    for (const LocaleCase& l : kLocales)
        if (std::string(l.name) == under) c = &l;
    ASSERT_TRUE(c) << under;
    const std::string sep = c->separator;
    const LocalTime t = At(2024, 3, 5, 14, 7, 9, 123);
    EXPECT_EQ(BuildDisplayLine(t, 6, "127.0.0.1", "caf\xC3\xA9"),
              "14" + sep + "07" + sep + "09.123:[6] 127.0.0.1 caf\xC3\xA9");
    EXPECT_EQ(velmar::CsvLine(t, t, "MAIN", "30000", "x"),
              "14" + sep + "07" + sep + "09,\"[14" + sep + "07" + sep +
                  "09.123]\",\"MAIN      \",30000,\"x\"\r\n");
    EXPECT_EQ(velmar::SyslogDatagram(t, 3, 16, "MAIN", "x"),
              "<131>" + std::string(c->march) + " 05 2024 14" + sep + "07" + sep + "09: %MAIN : x");

    tSettings settings;
    TfrmMain form(settings);
    form.ChangeDir = [&] { return std::string(); };
    TempDir dir;
    form.FormCreate();
    const QString panel = form.Panels[0]->text();
    EXPECT_TRUE(QRegularExpression(QString("^ started at %1$").arg(QString::fromUtf8(c->longTime)))
                    .match(panel)
                    .hasMatch())
        << panel.toStdString();
}

}  // namespace
}  // namespace tarvane
