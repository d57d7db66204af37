// The window in-process: its elements, layout, panels and loop.
#include "app/frmmain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "settings/settings.h"
#include "testsupport/temp_dir.h"
#include "velmar/records.h"
#include "view/rolling_view.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

bool WaitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 5000); }

class FrmMainTest : public ::testing::Test {
  protected:
    TempDir dir;
    tSettings settings{7, 7, ""};
};

TEST_F(FrmMainTest, LayoutFollowsTheOuterSize) {
    TfrmMain form(settings);
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
    TfrmMain form(settings);
    form.ChangeDir = [&] { return dir.path().string() + "/"; };
    form.FormCreate();
    EXPECT_EQ(fs::file_size("Tarvane.xml"), 171u);
    EXPECT_TRUE(form.Panels[0]->text().contains(" started at "));
    EXPECT_EQ(form.Panels[1]->text(), "Severity: 7");
    EXPECT_EQ(form.Panels[2]->text(), "UDP Port: 514");
}

TEST_F(FrmMainTest, CloseButtonEndsTheLoopLikeExit) {
    auto form = std::make_unique<TfrmMain>(settings);
    form->show();
    QTimer::singleShot(100, form.get(), [&] { form->close(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
}

}  // namespace
}  // namespace tarvane
