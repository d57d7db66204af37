// The window in-process, with its real listener on port 514 (inside a private namespace).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/frmmain.h"
#include "logfiles/logfiles.h"
#include "settings/settings.h"
#include "testsupport/temp_dir.h"
#include "testsupport/udp_peer.h"
#include "velmar/records.h"
#include "view/rolling_view.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

void SendTo514(const std::string& text) { testing::SendDatagram("127.0.0.1", text); }

std::string TodaysFile() { return DailyLogFileName(SystemClockInstance().Now()); }

template <typename F>
bool WaitFor(F&& condition) {
    return QTest::qWaitFor(condition, 5000);
}

class FrmMainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings = {};
        Settings.Severity = 7;
        velmar::GlobalSettings.Log.DaysOfFilesRetained = 7;
    }
    TempDir dir;
};

TEST_F(FrmMainTest, LayoutFollowsTheOuterSize) {
    TfrmMain form;
    form.show();
    ASSERT_TRUE(WaitFor([&] { return form.isVisible(); }));
    // Drawn from the built-in SVG, which needs Qt's SVG plugin at run time.
    EXPECT_FALSE(form.windowIcon().pixmap(48, 48).isNull());
    EXPECT_EQ(form.OuterSize(), QSize(805, 499));
    EXPECT_EQ(form.RichEdit->geometry(), QRect(0, 0, 785, 399));
    form.SetOuterSize(QSize(900, 600));
    ASSERT_TRUE(WaitFor([&] { return form.RichEdit->width() == 880; }));
    EXPECT_EQ(form.RichEdit->geometry(), QRect(0, 0, 880, 500));
    EXPECT_TRUE(form.Panels[0]->text().startsWith("RichEdit.Lines.Count=0 Max Lines="));
}

TEST_F(FrmMainTest, FormCreateLoadsSettingsAndFillsThePanels) {
    TfrmMain form;
    form.ChangeDir = [&] { return dir.path().string() + "/"; };
    form.FormCreate();
    EXPECT_EQ(fs::file_size("Tarvane.xml"), 171u);
    EXPECT_TRUE(form.Panels[0]->text().contains(" started at "));
    EXPECT_EQ(form.Panels[1]->text(), "Severity: 7");
    EXPECT_EQ(form.Panels[2]->text(), "UDP Port: 514");
}

TEST_F(FrmMainTest, DatagramsWaitForTheWindowToBeShown) {
    TfrmMain form;
    SendTo514("<13>before show");
    // Handed off now, while the window is hidden: the view cannot take the focus.
    QTest::qWait(300);
    EXPECT_FALSE(fs::exists(TodaysFile()));
    form.show();
    SendTo514("<13>after show");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(TodaysFile()); }));
    const std::string file = ReadFile(TodaysFile());
    EXPECT_EQ(file.find("before show"), std::string::npos);
    EXPECT_NE(file.find(":[5] 127.0.0.1 <13>after show\r\n"), std::string::npos) << file;
    // The view may hold the line back until its next paint.
    EXPECT_TRUE(WaitFor([&] { return form.RichEdit->toPlainText().contains("<13>after show"); }));
    EXPECT_TRUE(form.Panels[0]->text().startsWith("RichEdit.Lines.Count: 1 Max Lines: 31"));
}

TEST_F(FrmMainTest, DatagramsAreHandledInsideAModalBox) {
    TfrmMain form;
    form.show();
    bool seenWhileOpen = false;
    QTimer::singleShot(0, [&] {
        QMessageBox box(QMessageBox::Information, "t", "modal", QMessageBox::Ok, &form);
        QTimer::singleShot(0, [&] {
            SendTo514("inside the box");
            seenWhileOpen = WaitFor([&] { return fs::exists(TodaysFile()); });
            box.accept();
        });
        box.exec();
    });
    ASSERT_TRUE(WaitFor([&] { return seenWhileOpen; }));
}

TEST_F(FrmMainTest, CloseButtonEndsTheLoopLikeExit) {
    auto form = std::make_unique<TfrmMain>();
    form->show();
    QTimer::singleShot(100, form.get(), [&] { form->close(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    form->CloseListener();
}

}  // namespace
}  // namespace tarvane
