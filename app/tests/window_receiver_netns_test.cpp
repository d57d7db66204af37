// The window with its receiver on port 514 (inside a private namespace).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/frmmain.h"
#include "app/window_receiver.h"
#include "logfiles/logfiles.h"
#include "settings/settings.h"
#include "testsupport/network.h"
#include "testsupport/temp_dir.h"
#include "testsupport/udp_peer.h"
#include "velmar/records.h"
#include "view/rolling_view.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

bool WaitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 5000); }

void SendTo514(const std::string& text) { testing::SendDatagram("127.0.0.1", text); }

std::string TodaysFile() { return DailyLogFileName(SystemClockInstance().Now()); }

class WindowReceiverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form.Receive(std::make_unique<WindowReceiver>(*form.RichEdit, settings));
    }
    TempDir dir;
    tSettings settings{7, 7, ""};
    TfrmMain form{settings};
};

TEST_F(WindowReceiverTest, DatagramsWaitForTheWindowToBeShown) {
    settings.ExcludedClientIPs = "127.0.0.2";
    SendTo514("<13>before show");
    // The receive thread reads a datagram only once the one before it has been handled: once an
    // excluded sender's datagram behind it has left the socket, the first has met the hidden
    // window, whose view cannot take the focus.
    testing::SendDatagram("127.0.0.2", "behind");
    ASSERT_TRUE(WaitFor([] { return e2e::UdpBytesQueued(514) == 0; }));
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

TEST_F(WindowReceiverTest, DatagramsAreHandledInsideAModalBox) {
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

}  // namespace
}  // namespace tarvane
