// The window on an X display managed by openbox, which draws a frame around it: the outer size,
// the centring, the layout, the panels, the About box and the severity command, with the
// geometry read from the X server as any other client sees it. The binary is named after the
// program, whose file name gives the boxes their title.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "app/frmmain.h"
#include "app/window_receiver.h"
#include "settings/settings.h"
#include "testsupport/display.h"
#include "testsupport/network.h"
#include "testsupport/program.h"
#include "testsupport/temp_dir.h"
#include "view/rolling_view.h"

namespace tarvane {
namespace {

using e2e::VirtualDisplay;
using testing::ReadFile;
using testing::TempDir;

VirtualDisplay* display = nullptr;

bool WaitFor(const std::function<bool()>& condition, int limitMs = 10000) {
    return QTest::qWaitFor(condition, limitMs);
}

std::string Id(const QWidget* w) { return std::to_string(w->winId()); }

// Acts on the modal box with the given title once it is up; true in the result from then on.
// A box that does not come within the limit leaves it false, and whatever modal box is up then
// is closed, so the test goes on. The watch ends with its owner.
std::shared_ptr<bool> OnModal(QObject* owner, const QString& title,
                              std::function<void(QWidget*)> act, int limitMs = 10000) {
    auto acted = std::make_shared<bool>(false);
    auto* poll = new QTimer(owner);
    QElapsedTimer since;
    since.start();
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget* box = QApplication::activeModalWidget();
        const bool up = box && box->windowTitle() == title && box->isVisible();
        if (!up && since.elapsed() <= limitMs) return;
        poll->stop();
        poll->deleteLater();
        if (up) {
            *acted = true;
            act(box);
        } else if (box) {
            box->close();
        }
    });
    poll->start(20);
    return acted;
}

// Centred: the outer frame's middle is the screen's (1280 x 1024), to a pixel.
bool Centred(const std::string& outer) {
    int w = 0, h = 0, x = 0, y = 0;
    if (std::sscanf(outer.c_str(), "%dx%d+%d+%d", &w, &h, &x, &y) != 4) return false;
    return std::abs(2 * x + w - 1280) <= 1 && std::abs(2 * y + h - 1024) <= 1;
}

class WindowManagerTest : public ::testing::Test, public QObject {
  protected:
    void SetUp() override {
        if (!display) GTEST_SKIP() << "no Xvfb, xdotool or openbox";
        form = std::make_unique<TfrmMain>(userSettings);
        form->ChangeDir = [this] { return dir.path().string() + "/"; };
        // Every layout of the view, the first one included.
        form->RichEdit->installEventFilter(this);
        form->Receive(std::make_unique<WindowReceiver>(*form->RichEdit, userSettings));
        form->FormCreate();
        form->show();
    }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Resize) layouts.push_back(static_cast<QWidget*>(o)->size());
        return false;
    }
    // Sized from outside as a user drags the frame: the client gets what the frame leaves.
    QSize ResizeOuter(int width, int height) {
        const auto f = display->FrameExtents(Id(form.get()));
        EXPECT_TRUE(f && f->top > 0) << "openbox draws a frame";
        if (!f) return {};
        const QSize client(width - f->left - f->right, height - f->top - f->bottom);
        display->XdoTool({"windowsize", Id(form.get()), std::to_string(client.width()),
                          std::to_string(client.height())});
        return client;
    }
    bool WaitForOuter(const QWidget* w, const std::string& geometry) {
        return WaitFor([&] { return display->OuterGeometry(Id(w)) == geometry; });
    }
    TempDir dir;
    std::vector<QSize> layouts;
    tSettings userSettings{7, 0, ""};
    std::unique_ptr<TfrmMain> form;
};

TEST_F(WindowManagerTest, OuterSizeCentringLayoutPanelsAndAboutBox) {
    // 805 x 499 with the frame, centred on the whole screen.
    ASSERT_TRUE(WaitForOuter(form.get(), "805x499+237+262"))
        << display->OuterGeometry(Id(form.get()));

    // Resized from outside to 900 x 600 and back.
    for (const QSize outer : {QSize(900, 600), QSize(805, 499)}) {
        ResizeOuter(outer.width(), outer.height());
        const std::string size =
            std::to_string(outer.width()) + "x" + std::to_string(outer.height());
        EXPECT_TRUE(WaitFor([&] {
            return display->OuterGeometry(Id(form.get())).starts_with(size);
        })) << display->OuterGeometry(Id(form.get()));
        const QRect view(0, 0, outer.width() - 20, outer.height() - 100);
        EXPECT_TRUE(WaitFor([&] { return form->RichEdit->geometry() == view; }))
            << outer.width() << " gives " << form->RichEdit->width();
    }
    ASSERT_FALSE(layouts.empty());
    EXPECT_EQ(layouts.front(), QSize(785, 399)) << "the first layout is that of every other";
    for (const QSize s : layouts)
        EXPECT_TRUE(s == QSize(785, 399) || s == QSize(880, 500)) << s.width() << "x" << s.height();

    EXPECT_EQ(form->StatusBar->height(), 33);
    EXPECT_EQ(form->StatusBar->geometry().right(), form->width() - 1);
    EXPECT_EQ(form->Panels[0]->font(), QApplication::font("QStatusBar"));
    EXPECT_NE(form->Panels[0]->font().family(), "MS Sans Serif");

    // The About box on the middle of the screen, not over the window.
    form->move(0, 0);
    ASSERT_TRUE(WaitFor([&] { return display->OuterGeometry(Id(form.get())).ends_with("+0+0"); }));
    const auto about = OnModal(form.get(), "Tarvane", [&](QWidget* box) {
        EXPECT_TRUE(WaitFor([&] { return Centred(display->OuterGeometry(Id(box))); }))
            << display->OuterGeometry(Id(box));
        box->close();
    });
    form->About1->trigger();
    EXPECT_TRUE(*about) << "no About box";
}

// Each panel shows its whole text in the bar's font: panels 0 and 1 are 220 and 80 wide where
// their texts fit, and grow to their texts where not, each starting where the one before ends,
// the last reaching the bar's right edge. The last one may be cut only when the window is too
// narrow for it.
void ExpectPanelsWhole(const TfrmMain& form, const std::string& when, bool lastWhole = true) {
    int left = 0;
    for (int i = 0; i < 3; ++i) {
        const QLabel* panel = form.Panels[i];
        const int text = panel->fontMetrics().horizontalAdvance(panel->text());
        const int frame = panel->width() - panel->contentsRect().width();
        const std::string what =
            when + ", panel " + std::to_string(i) + " \"" + panel->text().toStdString() + "\"";
        EXPECT_EQ(panel->geometry().topLeft(), QPoint(left, 0)) << what;
        EXPECT_EQ(panel->height(), 33) << what;
        if (i < 2 || lastWhole) {
            EXPECT_GE(panel->contentsRect().width(), text) << what;
        }
        if (i < 2) {
            const int given = i == 0 ? 220 : 80;
            if (text + frame <= given)
                EXPECT_EQ(panel->width(), given) << what;
            else
                EXPECT_LE(panel->width(), text + frame + 8) << what << ": grown to its text";
            EXPECT_LE(panel->geometry().right(), form.StatusBar->width() - 1) << what;
        }
        left = panel->geometry().right() + 1;
    }
    EXPECT_EQ(form.Panels[2]->geometry().right(), form.StatusBar->width() - 1) << when;
}

TEST_F(WindowManagerTest, StatusPanelsShowTheirWholeTexts) {
    ASSERT_TRUE(WaitForOuter(form.get(), "805x499+237+262"))
        << display->OuterGeometry(Id(form.get()));
    ExpectPanelsWhole(*form, "the first layout's count");
    // Lines held for the paint go in before the text is read, with no event between that
    // could relay out the window.
    for (int i = 1; i <= 30; ++i) form->RichEdit->ShowLine(QStringLiteral("line %1").arg(i));
    form->RichEdit->ApplyHeldLinesForTest();
    ASSERT_EQ(form->Panels[0]->text().toStdString(), "RichEdit.Lines.Count: 30 Max Lines: 31");
    ExpectPanelsWhole(*form, "30 rows");
    // The start text is shorter: back to the widths given.
    form->FormCreate();
    ASSERT_TRUE(form->Panels[0]->text().contains(" started at "));
    ExpectPanelsWhole(*form, "the start text");
    EXPECT_EQ(form->Panels[0]->width(), 220);
    form->RichEdit->ShowLine("line 31");
    form->RichEdit->ApplyHeldLinesForTest();

    // Made as narrow and low as the window manager lets it: the window keeps the room for both
    // numbers and the severity.
    display->XdoTool({"windowsize", Id(form.get()), "60", "150"});
    EXPECT_TRUE(WaitFor([&] { return form->height() < 200; })) << form->height();
    // The resize text replaces the count, so the room the first two panels need is theirs
    // after the resize. The window manager may apply the size before the window's new minimum
    // has reached it; the window then grows back to that minimum.
    const auto narrowest = [&] { return form->Panels[0]->width() + form->Panels[1]->width(); };
    EXPECT_TRUE(WaitFor([&] { return form->width() >= narrowest(); }))
        << form->width() << " < " << narrowest();
    ExpectPanelsWhole(*form, "narrow", false);
    EXPECT_TRUE(form->Panels[0]->text().startsWith("RichEdit.Lines.Count="));

    const QSize client = ResizeOuter(805, 499);
    EXPECT_TRUE(WaitFor([&] { return form->StatusBar->width() == client.width(); }));
    ExpectPanelsWhole(*form, "back to 805 x 499");
}

// Keys pressed on the window as the user would, once it is the active window.
void PressOnWindow(const TfrmMain& form, const std::string& keys) {
    display->XdoTool({"windowactivate", "--sync", Id(&form)});
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == &form; }));
    display->XdoTool({"key", "--clearmodifiers", keys});
}

// The clipboard as another program reads it; this process answers it meanwhile.
std::string ClipboardOfX() {
    auto read = std::async(std::launch::async, [] {
        return e2e::RunCommand({"xclip", "-o", "-selection", "clipboard"}, std::chrono::seconds(5),
                               {"DISPLAY=" + display->Name()})
            .output;
    });
    WaitFor([&] { return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return read.get();
}

// Ctrl+C and Ctrl+X on the window give other programs the view's characters as they are:
// no-break spaces and the replacement characters included.
TEST_F(WindowManagerTest, CopyAndCutCarryTheViewsCharacters) {
    RollingView& view = *form->RichEdit;
    ASSERT_TRUE(WaitFor([&] { return view.isVisible(); }));
    view.ShowLine(ViewTextFromBytes("a\u00A0b \u2028c"));
    view.ShowLine("second\u00A0line");
    view.ApplyHeldLinesForTest();
    view.setFocus();
    const std::string shown = "a\u00A0b \uFFFDc\nsecond\u00A0line\n";
    PressOnWindow(*form, "ctrl+a");
    ASSERT_TRUE(WaitFor([&] { return view.textCursor().hasSelection(); }));
    display->XdoTool({"key", "--clearmodifiers", "ctrl+c"});
    std::string copied;
    EXPECT_TRUE(WaitFor([&] { return (copied = ClipboardOfX()) == shown; }, 5000)) << copied;

    // The copy gone from the clipboard, so that only the cut can put the text back there.
    QApplication::clipboard()->clear();
    display->XdoTool({"key", "--clearmodifiers", "ctrl+x"});
    ASSERT_TRUE(WaitFor([&] { return view.toPlainText().isEmpty(); }));
    EXPECT_EQ(ClipboardOfX(), shown) << "cut";
}

// Datagrams leave the keyboard where the user took it: in the menu bar's keyboard mode (Alt
// alone) and in an open menu; otherwise they give the view the focus. Alt with a letter that
// opens no menu types nothing.
TEST_F(WindowManagerTest, DatagramsLeaveTheKeyboardInTheMenus) {
    RollingView& view = *form->RichEdit;
    int sent = 0;
    const auto datagram = [&] {
        const QString text = QStringLiteral("datagram %1").arg(++sent);
        e2e::SendDatagram("127.0.0.1", text.toStdString());
        return WaitFor([&] {
            view.ApplyHeldLinesForTest();
            return view.toPlainText().contains(text);
        });
    };
    view.setFocus();
    PressOnWindow(*form, "alt");
    ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == form->MainMenu1; }))
        << "Alt alone puts the menu bar in keyboard mode";
    ASSERT_TRUE(datagram());
    EXPECT_EQ(QApplication::focusWidget(), form->MainMenu1);
    display->XdoTool({"key", "--clearmodifiers", "Down"});
    EXPECT_TRUE(WaitFor([&] { return QApplication::activePopupWidget() == form->File1; }))
        << "Down opens File";
    ASSERT_TRUE(datagram());
    EXPECT_EQ(QApplication::activePopupWidget(), form->File1);
    display->XdoTool({"key", "--clearmodifiers", "Escape"});
    ASSERT_TRUE(WaitFor([&] { return !QApplication::activePopupWidget(); }));
    EXPECT_EQ(QApplication::focusWidget(), form->MainMenu1);
    display->XdoTool({"key", "--clearmodifiers", "Escape"});
    ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() != form->MainMenu1; }));

    // Out of the menus the next datagram gives the view the keyboard.
    view.clearFocus();
    ASSERT_TRUE(datagram());
    EXPECT_EQ(QApplication::focusWidget(), &view);
    const QString before = view.toPlainText();
    display->XdoTool({"key", "--clearmodifiers", "alt+h"});
    display->XdoTool({"key", "--clearmodifiers", "x"});
    ASSERT_TRUE(WaitFor([&] { return view.toPlainText().endsWith(u'x'); })) << "x is typed";
    EXPECT_EQ(view.toPlainText().toStdString(), (before + u'x').toStdString());
}

// The severity command's outcome on the window, its dialog centred by the window manager and
// answered as a user would.
TEST_F(WindowManagerTest, SeverityCommandOkAndInvalidEntry) {
    // Each run of the command: its dialog answered with OK, and the error box it may leave.
    const auto run = [&](const char* typed, std::function<void(QWidget*)> onError = nullptr) {
        const auto dialog = OnModal(form.get(), "Severity", [=](QWidget* box) {
            EXPECT_TRUE(WaitFor([&] { return Centred(display->OuterGeometry(Id(box))); }))
                << display->OuterGeometry(Id(box));
            QTest::keyClicks(box->findChild<QLineEdit*>(), typed);
            for (auto* b : box->findChildren<QPushButton*>())
                if (b->text() == "OK") b->click();
        });
        const auto error = onError ? OnModal(form.get(), "Tarvane", onError) : nullptr;
        form->mnuSetSEVERITYlevel->trigger();
        EXPECT_TRUE(*dialog) << "no dialog for " << typed;
        EXPECT_TRUE(!error || *error) << "no error box for " << typed;
        EXPECT_EQ(userSettings.Severity, 5) << typed;
        EXPECT_EQ(form->Panels[1]->text(), "Severity: 5") << typed;
        EXPECT_EQ(form->mnuSetSEVERITYlevel->text(), "Set SEVERITY level (05)") << typed;
    };
    const std::string settings = dir.path() / "Tarvane.xml";
    run("05");
    const std::string saved = ReadFile(settings);
    EXPECT_NE(saved.find("<Severity>5</Severity>"), std::string::npos);

    // An invalid entry: the error box, and nothing changed.
    run("abc", [](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        EXPECT_TRUE(message && message->text() == "'abc' is not a valid integer value.");
        box->close();
    });
    EXPECT_EQ(ReadFile(settings), saved);
}

// The program started anew on fresh servers, half of the starts with both cores busy: the window
// manager's notices come in another order and at other times on every start, and every start
// must end with the frame at its size in the middle, and keep it.
TEST(WindowManagerStarts, EveryStartPlacesTheFrame) {
    if (!e2e::InPrivateNetwork()) GTEST_SKIP() << "run through tests/netns-run.sh";
    for (int start = 0; start < 20; ++start) {
        const bool loaded = start % 2 == 1;
        std::vector<std::jthread> load;  // stopped and joined after the program has ended
        for (int core = 0; loaded && core < 2; ++core)
            load.emplace_back([](std::stop_token stop) {
                while (!stop.stop_requested()) {
                }
            });
        {
            VirtualDisplay screen;
            ASSERT_TRUE(screen.Ok() && screen.StartWindowManager()) << "no Xvfb or openbox";
            e2e::ProgramDir dir;
            e2e::Tarvane program(dir, e2e::DisplayEnvironment(dir, screen.Name()));
            const auto window =
                screen.WaitForWindow("^Ombrel - Tarvane$", std::chrono::seconds(20));
            ASSERT_TRUE(window) << ReadFile(dir.OutputFile());
            // Shown and handling datagrams: whatever the start-up does to the frame is done.
            ASSERT_TRUE(program.WaitUntilReady(dir, std::chrono::seconds(20)));
            std::string outer;
            e2e::WaitUntil(
                [&] { return (outer = screen.OuterGeometry(*window)) == "805x499+237+262"; },
                std::chrono::seconds(5));
            e2e::SendDatagram("127.0.0.1", "<8>later");
            dir.WaitForDailyLines(1);
            const std::string later = screen.OuterGeometry(*window);
            EXPECT_EQ(outer, "805x499+237+262") << "start " << start << (loaded ? ", loaded" : "");
            EXPECT_EQ(later, outer) << "start " << start << ": the frame moved afterwards";
        }
    }
}

}  // namespace
}  // namespace tarvane

namespace tarvane::testing {
// The display and its window manager come before the application that connects to them.
void BeforeApplication() {
    if (!e2e::InPrivateNetwork()) return;
    static e2e::VirtualDisplay screen;
    if (screen.Ok() && screen.StartWindowManager()) {
        ::setenv("DISPLAY", screen.Name().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        tarvane::display = &screen;
    }
}
}  // namespace tarvane::testing
