// The texts that follow the user's locale, in locales of their own: each locale is built with
// localedef into the test's folder, and the texts read the locale again for each.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QLabel>
#include <QRegularExpression>
#include <cstdlib>
#include <string>

#include "app/frmmain.h"
#include "reception/intake.h"
#include "testsupport/fixed_clock.h"
#include "testsupport/temp_dir.h"
#include "velmar/event_log.h"
#include "velmar/syslog.h"
#include "velmar/system.h"

namespace tarvane {
namespace {

using testing::At;
using testing::TempDir;

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

// The user's locale for the test's span: the environment names it, the texts read it anew.
class InLocale {
  public:
    InLocale(const std::string& name, const std::string& folder)
        : name_(std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "") {
        ::setenv("LC_ALL", name.c_str(), 1);
        ::setenv("LOCPATH", folder.c_str(), 1);
        velmar::RefreshLocaleTexts();
    }
    ~InLocale() {
        ::setenv("LC_ALL", name_.c_str(), 1);
        ::unsetenv("LOCPATH");
        velmar::RefreshLocaleTexts();
    }

  private:
    std::string name_;
};

void ExpectTextsOf(const LocaleCase& c) {
    const std::string sep = c.separator;
    const LocalTime t = At(2024, 3, 5, 14, 7, 9, 123);
    EXPECT_EQ(BuildDisplayLine(t, 6, "127.0.0.1", "caf\xC3\xA9"),
              "14" + sep + "07" + sep + "09.123:[6] 127.0.0.1 caf\xC3\xA9");
    EXPECT_EQ(velmar::CsvLine(t, t, "MAIN", "30000", "x"),
              "14" + sep + "07" + sep + "09,\"[14" + sep + "07" + sep +
                  "09.123]\",\"MAIN      \",30000,\"x\"\r\n");
    EXPECT_EQ(velmar::SyslogDatagram(t, 3, 16, "MAIN", "x"),
              "<131>" + std::string(c.march) + " 05 2024 14" + sep + "07" + sep + "09: %MAIN : x");

    tSettings settings;
    TfrmMain form(settings);
    form.ChangeDir = [&] { return std::string(); };
    TempDir dir;
    form.FormCreate();
    const QString panel = form.Panels[0]->text();
    EXPECT_TRUE(QRegularExpression(QString("^ started at %1$").arg(QString::fromUtf8(c.longTime)))
                    .match(panel)
                    .hasMatch())
        << panel.toStdString();
}

TEST(Locales, TextsFollowEachLocale) {
    TempDir dir;
    for (const LocaleCase& c : kLocales) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        if (name != "C.UTF-8") {
            const std::string base = name.substr(0, name.find('.'));
            const std::string build = "localedef -i " + base + " -f UTF-8 " +
                                      (dir.path() / name).string() + " >/dev/null 2>&1";
            // localedef reports warnings of the sources with exit code 1.
            const int code = std::system(build.c_str());
            ASSERT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) <= 1) << build;
        }
        const InLocale locale(name, dir.path().string());
        ExpectTextsOf(c);
    }
}

}  // namespace
}  // namespace tarvane
