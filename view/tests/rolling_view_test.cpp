#include "view/rolling_view.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>
#include <memory>
#include <random>
#include <string>

#include "velmar/errors.h"

namespace tarvane {
namespace {

// A shown window holding the view, as the main window does; the view is a child so that its
// height is not bound by a window manager's minimum.
class RollingViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->resize(1000, 700);
        view_ = new RollingView(window_.get());
        view_->SetStatusSink([this](const QString& text) {
            status_ = text;
            ++statusWrites_;
        });
        view_->setGeometry(0, 0, 785, 399);
        window_->show();
    }

    void SetSize(int width, int height) { view_->setGeometry(0, 0, width, height); }
    QString Text() const { return view_->toPlainText(); }
    int Caret() const { return view_->textCursor().position(); }
    int End() const { return view_->document()->characterCount() - 1; }

    // The shortest line of numbered words that takes the given number of rows at the current
    // width; the view is left empty.
    QString LineOfRows(int rows) {
        QString line;
        for (int word = 1; word < 2000; ++word) {
            line += QStringLiteral("word%1 ").arg(word);
            view_->clear();
            view_->AddLine(line.trimmed());
            if (view_->RowCount() == rows) {
                view_->clear();
                return line.trimmed();
            }
        }
        ADD_FAILURE() << "no line of " << rows << " rows";
        return {};
    }

    std::unique_ptr<QWidget> window_;
    RollingView* view_ = nullptr;
    QString status_;
    int statusWrites_ = 0;
};

// A view that runs for weeks must not keep every insertion and deletion for undo.
TEST_F(RollingViewTest, KeepsNoUndoHistory) {
    EXPECT_FALSE(view_->document()->isUndoRedoEnabled());
}

TEST_F(RollingViewTest, CapacityIsFiveHeightsOverEightPoints) {
    struct Case {
        int height, capacity;
    } cases[] = {{399, 31}, {25, 1}, {26, 2}, {12, 0}, {13, 1}, {0, 0}, {500, 39}};
    for (const Case& c : cases) {
        SetSize(785, c.height);
        EXPECT_EQ(view_->Capacity(), c.capacity) << "H = " << c.height;
    }
}

TEST_F(RollingViewTest, RowCountLeavesOutTheEmptyLastRow) {
    struct Case {
        const char* text;
        int rows;
    } cases[] = {
        {"", 0}, {"a\n", 1}, {"a", 1}, {"a\nb", 2}, {"a\nb\n", 2}, {"\n", 1}, {"\n\n", 2},
    };
    for (const Case& c : cases) {
        view_->setPlainText(QString::fromLatin1(c.text));
        EXPECT_EQ(view_->RowCount(), c.rows) << '"' << c.text << '"';
    }
}

TEST_F(RollingViewTest, HeightOf399KeepsThirtyRows) {
    for (int i = 1; i <= 30; ++i) view_->ShowLine(QStringLiteral("line %1").arg(i));
    EXPECT_EQ(status_, QStringLiteral("RichEdit.Lines.Count: 30 Max Lines: 31"));
    EXPECT_EQ(view_->document()->firstBlock().text(), QStringLiteral("line 1"));
    EXPECT_EQ(Caret(), End());

    view_->ShowLine(QStringLiteral("line 31"));
    EXPECT_EQ(status_, QStringLiteral("RichEdit.Lines.Count: 30 Max Lines: 31"));
    EXPECT_EQ(view_->document()->firstBlock().text(), QStringLiteral("line 2"));
    EXPECT_EQ(view_->document()->lastBlock().previous().text(), QStringLiteral("line 31"));
    // Once rows were removed the caret is left at the start.
    EXPECT_EQ(Caret(), 0);
}

TEST_F(RollingViewTest, LowViewsKeepWhatFitsAndTrimmingEnds) {
    struct Case {
        int height;
        const char* status;
    } cases[] = {
        {25, "RichEdit.Lines.Count: 0 Max Lines: 1"},
        {26, "RichEdit.Lines.Count: 1 Max Lines: 2"},
        {12, "RichEdit.Lines.Count: 0 Max Lines: 0"},
        {0, "RichEdit.Lines.Count: 0 Max Lines: 0"},
        // 5H equals 8S(r + 1) exactly: four rows still fit.
        {64, "RichEdit.Lines.Count: 4 Max Lines: 5"},
    };
    for (const Case& c : cases) {
        view_->clear();
        SetSize(785, c.height);
        for (int i = 0; i < 6; ++i) view_->ShowLine(QStringLiteral("line %1").arg(i));
        EXPECT_EQ(status_, QString::fromLatin1(c.status)) << "H = " << c.height;
    }
    // Trimming an empty view lower than one row must end.
    view_->clear();
    view_->TrimToFit();
    EXPECT_TRUE(view_->document()->isEmpty());
}

TEST_F(RollingViewTest, ThreeRowLineLosesOneRowPerDeletion) {
    SetSize(200, 399);
    const QString line = LineOfRows(3);
    view_->AddLine(line);
    ASSERT_EQ(view_->RowCount(), 3);

    QString before = Text();
    for (int rows = 2; rows >= 1; --rows) {
        view_->DeleteFirstRow();
        EXPECT_EQ(view_->RowCount(), rows);
        const QString after = Text();
        EXPECT_LT(after.size(), before.size());
        EXPECT_TRUE(before.endsWith(after)) << after.toStdString();
        EXPECT_TRUE(after.endsWith(QLatin1Char('\n')));
        EXPECT_EQ(Caret(), 0);
        before = after;
    }
    // The last row goes with its line break.
    view_->DeleteFirstRow();
    EXPECT_TRUE(view_->document()->isEmpty());
    view_->DeleteFirstRow();
    EXPECT_TRUE(view_->document()->isEmpty());
}

TEST_F(RollingViewTest, DeletingTheOnlyRowKeepsNothing) {
    view_->setPlainText(QStringLiteral("typed"));
    view_->DeleteFirstRow();
    EXPECT_TRUE(view_->document()->isEmpty());
}

TEST_F(RollingViewTest, AddLineTakesItsTwoBranches) {
    view_->AddLine(QStringLiteral("first"));
    EXPECT_EQ(Text(), QStringLiteral("first\n"));
    EXPECT_EQ(view_->RowCount(), 1);

    // The user types at the end: the next line starts with a line break of its own.
    QTextCursor typing = view_->textCursor();
    typing.insertText(QStringLiteral("typed"));
    view_->AddLine(QStringLiteral("second"));
    EXPECT_EQ(Text(), QStringLiteral("first\ntyped\nsecond"));
    view_->AddLine(QStringLiteral("third"));
    EXPECT_EQ(Text(), QStringLiteral("first\ntyped\nsecond\nthird"));
    EXPECT_EQ(Caret(), End());

    // A caret placed elsewhere by the user goes back to the end.
    QTextCursor elsewhere = view_->textCursor();
    elsewhere.setPosition(2);
    elsewhere.setPosition(4, QTextCursor::KeepAnchor);
    view_->setTextCursor(elsewhere);
    view_->AddLine(QStringLiteral("fourth"));
    EXPECT_EQ(Text(), QStringLiteral("first\ntyped\nsecond\nthird\nfourth"));
    EXPECT_EQ(Caret(), End());
    EXPECT_FALSE(view_->textCursor().hasSelection());
}

TEST_F(RollingViewTest, LineBreaksInsideALineStartRows) {
    struct Case {
        const char* bytes;
        int rows;
    } cases[] = {{"a\r\nb", 2}, {"a\nb", 2}, {"a\rb", 2}, {"a\tb", 1}};
    for (const Case& c : cases) {
        view_->clear();
        view_->AddLine(c.bytes);
        EXPECT_EQ(view_->RowCount(), c.rows) << c.bytes;
    }
}

TEST_F(RollingViewTest, NulEndsTheInsertionAndRaises) {
    view_->AddLine(QStringLiteral("before"));
    const std::string bytes("abc\0def", 7);
    try {
        view_->AddLine(std::string_view(bytes));
        FAIL() << "no error";
    } catch (const velmar::ERichEditError& e) {
        EXPECT_STREQ(e.what(), "RichEdit line insertion error");
        EXPECT_STREQ(e.ClassName(), "ERichEditError");
    }
    EXPECT_EQ(Text(), QStringLiteral("before\nabc"));
    EXPECT_EQ(Caret(), End());

    view_->AddLine(QStringLiteral("next"));
    EXPECT_EQ(Text(), QStringLiteral("before\nabc\nnext"));

    // In the second branch the line break before the text stays.
    EXPECT_THROW(view_->AddLine(std::string_view("\0x", 2)), velmar::ERichEditError);
    EXPECT_EQ(Text(), QStringLiteral("before\nabc\nnext\n"));
}

TEST_F(RollingViewTest, ShowLineWithNulStopsBeforeTrimAndStatus) {
    SetSize(785, 25);
    EXPECT_THROW(view_->ShowLine(std::string_view("x\0y", 3)), velmar::ERichEditError);
    EXPECT_EQ(statusWrites_, 0);
    EXPECT_EQ(Text(), QStringLiteral("x"));
}

TEST_F(RollingViewTest, ResizeStatusCountsRowsAtTheNewWidth) {
    const QString line = QStringLiteral("a fairly long message from a device ").repeated(3);
    for (int i = 0; i < 20; ++i) view_->ShowLine(line);
    view_->ShowResizeStatus();
    EXPECT_EQ(status_, QStringLiteral("RichEdit.Lines.Count=20 Max Lines=31"));

    SetSize(300, 399);
    const int narrow = view_->RowCount();
    view_->ShowResizeStatus();
    EXPECT_EQ(status_, QStringLiteral("RichEdit.Lines.Count=%1 Max Lines=31").arg(narrow));
    EXPECT_GT(narrow, 31);
    // No trimming on resize.
    EXPECT_EQ(view_->document()->blockCount(), 21);

    // A view laid out at the narrow width from the start must count the same.
    RollingView fresh(window_.get());
    fresh.setGeometry(0, 0, 300, 399);
    fresh.show();
    for (int i = 0; i < 20; ++i) fresh.AddLine(line);
    EXPECT_EQ(fresh.RowCount(), narrow);

    SetSize(785, 399);
    EXPECT_EQ(view_->RowCount(), 20);

    SetSize(300, 399);
    view_->ShowLine(QStringLiteral("x"));
    EXPECT_LE(view_->RowCount(), 30);
}

TEST_F(RollingViewTest, PaintingResumesAfterABurst) {
    QApplication::processEvents();
    for (int i = 0; i < 100; ++i) {
        view_->ShowLine(QStringLiteral("line %1").arg(i));
        QApplication::processEvents();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return view_->viewport()->updatesEnabled(); }, 10000));
}

// The rules step by step on a plain widget of the same kind: every line added on its own, rows
// deleted one at a time and counted afresh after each deletion, nothing held.
class StepByStepView {
  public:
    explicit StepByStepView(QWidget* parent) : edit(new QPlainTextEdit(parent)) {
        StyleAsMessageView(*edit);
    }

    int Rows() const {
        const QTextDocument* doc = edit->document();
        int rows = 0;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            doc->documentLayout()->blockBoundingRect(b);
            rows += b.layout()->lineCount();
        }
        return doc->lastBlock().length() <= 1 ? rows - 1 : rows;
    }
    int Capacity() const { return 5 * edit->height() / (8 * edit->font().pointSize()); }
    int End() const { return edit->document()->characterCount() - 1; }

    void AddLine(const QString& text) {
        const qsizetype nul = text.indexOf(QChar(u'\0'));
        const QString part = nul < 0 ? text : text.left(nul);
        QTextCursor end(edit->document());
        end.movePosition(QTextCursor::End);
        if (edit->document()->lastBlock().length() <= 1)
            end.insertText(nul < 0 ? part + u'\n' : part);
        else
            end.insertText(u'\n' + part);
        Caret(End());
        if (nul >= 0) throw velmar::ERichEditError("RichEdit line insertion error");
    }
    void DeleteFirstRow() {
        const QTextBlock first = edit->document()->firstBlock();
        edit->document()->documentLayout()->blockBoundingRect(first);
        int end = first.next().isValid() ? first.length() : first.length() - 1;
        if (first.layout()->lineCount() >= 2) end = first.layout()->lineAt(1).textStart();
        QTextCursor range(edit->document());
        range.setPosition(end, QTextCursor::KeepAnchor);
        range.removeSelectedText();
        Caret(0);
    }
    void TrimToFit() {
        while (5 * edit->height() < 8 * edit->font().pointSize() * (Rows() + 1) &&
               !edit->document()->isEmpty())
            DeleteFirstRow();
    }
    void ShowLine(const QString& text) {
        AddLine(text);
        TrimToFit();
        status =
            QStringLiteral("RichEdit.Lines.Count: %1 Max Lines: %2").arg(Rows()).arg(Capacity());
        edit->ensureCursorVisible();
    }
    void ShowResizeStatus() {
        status = QStringLiteral("RichEdit.Lines.Count=%1 Max Lines=%2").arg(Rows()).arg(Capacity());
    }

    QPlainTextEdit* edit;
    QString status;

  private:
    // Placing the caret does not scroll.
    void Caret(int position) {
        QTextCursor caret = edit->textCursor();
        caret.setPosition(position);
        const int top = edit->verticalScrollBar()->value();
        edit->setTextCursor(caret);
        edit->verticalScrollBar()->setValue(top);
    }
};

// Random sequences of everything that reaches the view, lines shown in paint holds as under a
// flood, against the rules step by step: after every step that anybody can observe, the same
// text, caret, scroll position and status text.
TEST_F(RollingViewTest, EndsEveryStepAsTheRulesStepByStep) {
    StepByStepView rules(window_.get());
    rules.edit->setGeometry(view_->geometry());
    rules.edit->show();
    QApplication::processEvents();
    int held = 0;
    std::mt19937 random(20261209);
    auto below = [&](int n) { return int(random() % unsigned(n)); };
    // Short and long lines, wrapping at words or only anywhere, UTF-8 and Latin-1.
    auto line = [&]() -> QString {
        std::string bytes = "12:00:00.000:[6] 127.0.0.1 ";
        const int kind = below(6), length = below(kind < 2 ? 40 : 1500);
        static const char* const kWords[] = {
            "link", "up", "message", "caf\xC3\xA9", "\xE2\x82\xAC", "\xE6\xBC\xA2\xE5\xAD\x97"};
        while (int(bytes.size()) < length + 27) {
            if (kind == 4)
                bytes += char(0x20 + below(0xE0));  // bytes that are no UTF-8: Latin-1
            else
                bytes += std::string(kWords[below(kind == 3 ? 6 : 3)]) + ' ';
        }
        return ViewTextFromBytes(bytes);
    };
    // Comparisons made while the view holds more rows than it shows, and while the user has
    // scrolled it away from where the lines left it.
    int long_ = 0, scrolledBack = 0;
    bool userScrolled = false;
    auto expectSame = [&](int step, const char* what) {
        view_->ApplyPending();
        const QScrollBar* bar = rules.edit->verticalScrollBar();
        long_ += bar->maximum() > 0;
        scrolledBack += userScrolled && bar->maximum() > 0;
        ASSERT_EQ(Text(), rules.edit->toPlainText()) << "step " << step << ": " << what;
        ASSERT_EQ(Caret(), rules.edit->textCursor().position()) << "step " << step << ": " << what;
        ASSERT_EQ(view_->verticalScrollBar()->value(), rules.edit->verticalScrollBar()->value())
            << "step " << step << ": " << what;
        ASSERT_EQ(status_, rules.status) << "step " << step << ": " << what;
    };
    for (int step = 0; step < 400 && !HasFailure(); ++step) {
        const int what = below(24);
        if (what >= 20) {
            // The user scrolls back with the wheel, up to a few pages, or down again.
            const int notches = what < 23 ? below(8) + 1 : -below(4) - 1;
            QWheelEvent wheel(QPointF(10, 10), QPointF(view_->mapToGlobal(QPoint(10, 10))),
                              QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(view_->viewport(), &wheel);
            QApplication::sendEvent(rules.edit->viewport(), &wheel);
            userScrolled = true;
            expectSame(step, "the user scrolled");
        } else if (what < 10) {
            // A burst within one paint interval, the way datagrams arrive under a flood.
            view_->viewport()->repaint();
            QStringList burst;
            for (int n = below(what < 8 ? 8 : 80) + 1; n > 0; --n) burst << line();
            for (const QString& text : burst) {
                view_->ShowLine(text);
                held += !Text().contains(text);
            }
            for (const QString& text : burst) rules.ShowLine(text);
            if (below(2)) continue;  // more lines held before anybody looks
            expectSame(step, "lines shown");
        } else if (what < 12) {
            const QString text = line();
            view_->ApplyPending();
            const int top = view_->verticalScrollBar()->value();
            view_->AddLine(text);
            EXPECT_EQ(view_->verticalScrollBar()->value(), top) << "adding a line scrolled";
            view_->TrimToFit();
            rules.AddLine(text);
            rules.TrimToFit();
            expectSame(step, "a reply added and trimmed");
        } else if (what < 15) {
            // Narrower views wrap the lines they hold onto more rows than they show.
            const QRect size(0, 0, 100 + below(750), below(450));
            view_->setGeometry(size);
            rules.edit->setGeometry(size);
            view_->ShowResizeStatus();
            rules.ShowResizeStatus();
            expectSame(step, "a resize");
        } else if (what < 17) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
            QApplication::sendEvent(view_, &key);
            QApplication::sendEvent(rules.edit, &key);
            expectSame(step, "a typed character");
        } else if (what < 18) {
            const QString text = line() + QChar(u'\0') + QStringLiteral("cut");
            EXPECT_THROW(view_->ShowLine(text), velmar::ERichEditError);
            EXPECT_THROW(rules.ShowLine(text), velmar::ERichEditError);
            expectSame(step, "a line with a NUL");
        } else {
            EXPECT_EQ(view_->RowCount(), rules.Rows()) << "step " << step;
            expectSame(step, "the rows counted");
        }
    }
    EXPECT_GT(held, 1000) << "lines were shown one by one, not held";
    EXPECT_GT(long_, 100) << "few views held more rows than they showed";
    EXPECT_GT(scrolledBack, 50) << "few comparisons after the user scrolled";
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
    view_->ApplyPending();
    EXPECT_EQ(Text(), QStringLiteral("first\nsecond\n"));
}

TEST(ViewTextFromBytes, ShowsUtf8AsUtf8AndTheRestAsLatin1) {
    struct Case {
        std::string bytes;
        QString text;
    } cases[] = {
        {"plain", QStringLiteral("plain")},
        {std::string("a\0b", 3), QString::fromUtf16(u"a\u0000b", 3)},
        {"caf\xC3\xA9", QStringLiteral("caf\u00E9")},
        {"\xE2\x82\xAC", QStringLiteral("\u20AC")},
        {"\xF0\x9F\x98\x80", QString::fromUcs4(U"\U0001F600")},
        // A BOM, at the start or before the message, is kept as the invisible U+FEFF.
        {"\xEF\xBB\xBFmsg", QStringLiteral("\uFEFFmsg")},
        {"<13>1 - - \xEF\xBB\xBFmsg", QStringLiteral("<13>1 - - \uFEFFmsg")},
        {"caf\xE9", QStringLiteral("caf\u00E9")},
        {"caf\xC3", QStringLiteral("caf\u00C3")},
        {"\xC0\xAF", QStringLiteral("\u00C0\u00AF")},
        {"\xED\xA0\x80", QStringLiteral("\u00ED\u00A0\u0080")},
        {"\xC3\xA9\xFF", QStringLiteral("\u00C3\u00A9\u00FF")},
        // Characters the text model would take as a break or a frame: one datagram, one line.
        {"a\xE2\x80\xA8"
         "b\xE2\x80\xA9"
         "c\xEF\xB7\x90"
         "d\xEF\xB7\x91",
         QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFD")},
    };
    for (const Case& c : cases) EXPECT_EQ(ViewTextFromBytes(c.bytes), c.text) << c.bytes;
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
