#include "view/rolling_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>
#include <memory>
#include <random>
#include <string>

#include "velmar/errors.h"
#include "view/tests/rolling_view_fixture.h"
#include "view/tests/step_by_step_view.h"

namespace tarvane {
namespace {

// A view that runs for weeks must not keep every insertion and deletion for undo.
TEST_F(RollingViewTest, KeepsNoUndoHistory) {
    EXPECT_FALSE(view_->document()->isUndoRedoEnabled());
}

TEST_F(RollingViewTest, PaintingResumesAfterABurst) {
    QApplication::processEvents();
    for (int i = 0; i < 100; ++i) {
        view_->ShowLine(QStringLiteral("line %1").arg(i));
        QApplication::processEvents();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return view_->viewport()->updatesEnabled(); }, 10000));
}

// Random sequences of everything that reaches the view, lines shown in paint holds as under a
// flood, against the rules step by step: after every step that anybody can observe, the same
// text, caret, scroll position and status text.
class StepByStepRun {
  public:
    explicit StepByStepRun(RollingViewTest& test) : t_(test), rules_(test.window_.get()) {
        rules_.edit->setGeometry(t_.view_->geometry());
        rules_.edit->show();
        QApplication::processEvents();
    }

    void Step(int step) {
        const int what = Below(24);
        if (what >= 20) return Scroll(step, what);
        if (what < 10) return Burst(step, what);
        if (what < 12) return Reply(step);
        if (what < 15) return Resize(step);
        if (what < 17) return Type(step);
        if (what < 18) return Nul(step);
        EXPECT_EQ(t_.view_->RowCount(), rules_.Rows()) << "step " << step;
        ExpectSame(step, "the rows counted");
    }

    // Lines that reached the text later than they were shown.
    int held = 0;
    // Comparisons made while the view holds more rows than it shows, and while the user has
    // scrolled it away from where the lines left it.
    int long_ = 0, scrolledBack = 0;

  private:
    int Below(int n) { return int(random_() % unsigned(n)); }

    // Short and long lines, wrapping at words or only anywhere, UTF-8 and Latin-1.
    QString Line() {
        std::string bytes = "12:00:00.000:[6] 127.0.0.1 ";
        const int kind = Below(6), length = Below(kind < 2 ? 40 : 1500);
        static const char* const kWords[] = {
            "link", "up", "message", "caf\xC3\xA9", "\xE2\x82\xAC", "\xE6\xBC\xA2\xE5\xAD\x97"};
        while (int(bytes.size()) < length + 27) {
            if (kind == 4)
                bytes += char(0x20 + Below(0xE0));  // bytes that are no UTF-8: Latin-1
            else
                bytes += std::string(kWords[Below(kind == 3 ? 6 : 3)]) + ' ';
        }
        return ViewTextFromBytes(bytes);
    }

    void ExpectSame(int step, const char* what) {
        RollingView* view = t_.view_;
        view->ApplyHeldLinesForTest();
        const QScrollBar* bar = rules_.edit->verticalScrollBar();
        long_ += bar->maximum() > 0;
        scrolledBack += userScrolled_ && bar->maximum() > 0;
        ASSERT_EQ(t_.Text(), rules_.edit->toPlainText()) << "step " << step << ": " << what;
        ASSERT_EQ(t_.Caret(), rules_.edit->textCursor().position())
            << "step " << step << ": " << what;
        ASSERT_EQ(view->verticalScrollBar()->value(), rules_.edit->verticalScrollBar()->value())
            << "step " << step << ": " << what;
        ASSERT_EQ(t_.status_, rules_.status) << "step " << step << ": " << what;
    }

    // The user scrolls back with the wheel, up to a few pages, or down again.
    void Scroll(int step, int what) {
        const int notches = what < 23 ? Below(8) + 1 : -Below(4) - 1;
        QWheelEvent wheel(QPointF(10, 10), QPointF(t_.view_->mapToGlobal(QPoint(10, 10))), QPoint(),
                          QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(t_.view_->viewport(), &wheel);
        QApplication::sendEvent(rules_.edit->viewport(), &wheel);
        userScrolled_ = true;
        ExpectSame(step, "the user scrolled");
    }

    // A burst within one paint interval, the way datagrams arrive under a flood.
    void Burst(int step, int what) {
        t_.view_->viewport()->repaint();
        QStringList burst;
        for (int n = Below(what < 8 ? 8 : 80) + 1; n > 0; --n) burst << Line();
        for (const QString& text : burst) {
            t_.view_->ShowLine(text);
            held += !t_.Text().contains(text);
        }
        for (const QString& text : burst) rules_.ShowLine(text);
        if (Below(2)) return;  // more lines held before anybody looks
        ExpectSame(step, "lines shown");
    }

    void Reply(int step) {
        const QString text = Line();
        t_.view_->ApplyHeldLinesForTest();
        const int top = t_.view_->verticalScrollBar()->value();
        t_.view_->AddLine(text);
        EXPECT_EQ(t_.view_->verticalScrollBar()->value(), top) << "adding a line scrolled";
        t_.view_->TrimToFit();
        rules_.AddLine(text);
        rules_.TrimToFit();
        ExpectSame(step, "a reply added and trimmed");
    }

    // Narrower views wrap the lines they hold onto more rows than they show.
    void Resize(int step) {
        const QRect size(0, 0, 100 + Below(750), Below(450));
        t_.view_->setGeometry(size);
        rules_.edit->setGeometry(size);
        t_.view_->ShowResizeStatus();
        rules_.ShowResizeStatus();
        ExpectSame(step, "a resize");
    }

    void Type(int step) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(t_.view_, &key);
        QApplication::sendEvent(rules_.edit, &key);
        ExpectSame(step, "a typed character");
    }

    void Nul(int step) {
        const QString text = Line() + QChar(u'\0') + QStringLiteral("cut");
        EXPECT_THROW(t_.view_->ShowLine(text), velmar::ERichEditError);
        EXPECT_THROW(rules_.ShowLine(text), velmar::ERichEditError);
        ExpectSame(step, "a line with a NUL");
    }

    RollingViewTest& t_;
    StepByStepView rules_;
    std::mt19937 random_{20261209};
    bool userScrolled_ = false;
};

TEST_F(RollingViewTest, EndsEveryStepAsTheRulesStepByStep) {
    StepByStepRun run(*this);
    for (int step = 0; step < 400 && !HasFailure(); ++step) run.Step(step);
    EXPECT_GT(run.held, 1000) << "lines were shown one by one, not held";
    EXPECT_GT(run.long_, 100) << "few views held more rows than they showed";
    EXPECT_GT(run.scrolledBack, 50) << "few comparisons after the user scrolled";
}

TEST_F(RollingViewTest, HeldLinesReachTheTextBeforeTheUsersEdits) {
    QApplication::processEvents();
    view_->viewport()->repaint();
    view_->ShowLine(QStringLiteral("first"));
    // The user types at the caret, which the line left at the end.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(view_, &key);
    EXPECT_EQ(Text(), QStringLiteral("first\nx"));

    // Paste from the context menu, chosen while a line is held.
    QApplication::clipboard()->setText(QStringLiteral("|PASTED|"));
    QContextMenuEvent menuAsked(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                view_->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view_, &menuAsked);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
    ASSERT_NE(paste, nullptr);
    view_->viewport()->repaint();
    view_->ShowLine(QStringLiteral("second"));
    menu->setActiveAction(paste);
    QKeyEvent choose(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(menu, &choose);
    EXPECT_EQ(Text(), QStringLiteral("first\nx\nsecond|PASTED|"));
}

TEST_F(RollingViewTest, HeldLinesAreHeldAgainRightAfterTheirRelease) {
    QApplication::processEvents();
    view_->viewport()->repaint();
    view_->ShowLine(QStringLiteral("first"));
    EXPECT_EQ(Text(), QString()) << "held until the paint interval ends";
    // Both timers are due when the loop next looks: the release runs first, then this line,
    // before anything else the loop would do after the release.
    QString atRelease;
    QTimer::singleShot(30, view_, [&] {
        atRelease = Text();
        view_->ShowLine(QStringLiteral("second"));
        atRelease += QStringLiteral("|") + Text();
    });
    QThread::msleep(60);
    QApplication::processEvents();
    EXPECT_EQ(atRelease, QStringLiteral("first\n|first\n"));
    view_->ApplyHeldLinesForTest();
    EXPECT_EQ(Text(), QStringLiteral("first\nsecond\n"));
}

// A line whose first strong character is Hebrew or Arabic still starts at the left with its
// time stamp and sender; the message's own words run right to left inside it.
TEST_F(RollingViewTest, RightToLeftMessagesKeepTheLineLeftToRight) {
    RollingView& view = *view_;
    struct Case {
        const char* message;
        int firstWordLength;
    } cases[] = {{"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD", 4},
                 {"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645", 5}};
    for (const Case& c : cases) {
        const QString prefix = QStringLiteral("12:00:00.000:127.0.0.1 ");
        view.ShowLine(prefix + QString::fromUtf8(c.message));
        view.ApplyHeldLinesForTest();
        const QTextBlock block = view.document()->lastBlock().previous();
        ASSERT_TRUE(block.text().startsWith(prefix));
        auto x = [&](int offset) {
            QTextCursor at(block);
            at.setPosition(block.position() + offset);
            return view.cursorRect(at).x();
        };
        const int message = int(prefix.size());
        EXPECT_LT(x(0), 10) << c.message << ": the time stamp at the left edge";
        EXPECT_LT(x(0), x(message - 1)) << c.message;
        EXPECT_LT(x(message - 1), view.width() / 2) << c.message << ": the sender before it";
        // The second word stands left of the first.
        EXPECT_GT(x(message + 1), x(message + c.firstWordLength + 2)) << c.message;
    }
}

TEST(FocusView, RaisesWhileTheWindowIsHiddenOrDisabled) {
    QWidget window;
    auto* view = new RollingView(&window);
    try {
        view->FocusView();
        FAIL() << "no error";
    } catch (const velmar::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot focus a disabled or invisible window");
    }
    window.show();
    window.setEnabled(false);
    EXPECT_THROW(view->FocusView(), velmar::EInvalidOperation);
    window.setEnabled(true);
    window.hide();
    EXPECT_THROW(view->FocusView(), velmar::EInvalidOperation);
}

TEST(FocusView, FocusesInsideTheWindowWithoutActivatingIt) {
    QWidget window;
    auto* other = new QPlainTextEdit(&window);
    auto* view = new RollingView(&window);
    view->move(0, 200);
    QWidget elsewhere;
    window.show();
    elsewhere.show();
    other->setFocus();
    elsewhere.activateWindow();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::activeWindow(), &elsewhere);

    view->FocusView();
    QApplication::processEvents();
    EXPECT_EQ(window.focusWidget(), view);
    EXPECT_EQ(QApplication::activeWindow(), &elsewhere);
}

}  // namespace
}  // namespace tarvane
