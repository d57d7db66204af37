#include "view/row_budget.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextDocument>
#include <string>

#include "velmar/errors.h"
#include "view/tests/rolling_view_fixture.h"

namespace tarvane {
namespace {

// Counted without a widget: text as the document holds it, and lines as the view inserts them,
// whose line breaks each start a row. The empty row after a final line break does not count.
TEST(RowBudget, CountsTheRowsOfTheText) {
    struct Case {
        const char* text;
        bool asLine;
        int rows;
    } cases[] = {
        {"", false, 0},       {"a\n", false, 1}, {"a", false, 1},    {"a\nb", false, 2},
        {"a\nb\n", false, 2}, {"\n", false, 1},  {"\n\n", false, 2}, {"a\r\nb", true, 2},
        {"a\nb", true, 2},    {"a\rb", true, 2}, {"a\tb", true, 1},
    };
    for (const Case& c : cases) {
        QTextDocument doc;
        RowBudget budget(doc);
        if (c.asLine)
            budget.InsertLine(ViewTextFromBytes(c.text));
        else
            doc.setPlainText(QString::fromLatin1(c.text));
        EXPECT_EQ(budget.CountRows(), c.rows) << '"' << c.text << '"' << (c.asLine ? " line" : "");
    }
}

// Capacity is five heights over eight points, one row's height kept spare; once rows went, the
// caret is left at the start.
TEST_F(RollingViewTest, KeepsTheNewestRowsThatFit) {
    struct Case {
        int height, lines;
        const char* status;
        int firstKept;  // 0: nothing kept
    } cases[] = {
        {399, 30, "RichEdit.Lines.Count: 30 Max Lines: 31", 1},
        {399, 31, "RichEdit.Lines.Count: 30 Max Lines: 31", 2},
        {500, 6, "RichEdit.Lines.Count: 6 Max Lines: 39", 1},
        // 5H equals 8S(r + 1) exactly: four rows still fit.
        {64, 6, "RichEdit.Lines.Count: 4 Max Lines: 5", 3},
        {26, 6, "RichEdit.Lines.Count: 1 Max Lines: 2", 6},
        {25, 6, "RichEdit.Lines.Count: 0 Max Lines: 1", 0},
        {13, 6, "RichEdit.Lines.Count: 0 Max Lines: 1", 0},
        {12, 6, "RichEdit.Lines.Count: 0 Max Lines: 0", 0},
        {0, 6, "RichEdit.Lines.Count: 0 Max Lines: 0", 0},
    };
    for (const Case& c : cases) {
        view_->clear();
        SetSize(785, c.height);
        for (int i = 1; i <= c.lines; ++i) view_->ShowLine(QStringLiteral("line %1").arg(i));
        EXPECT_EQ(status_, QString::fromLatin1(c.status)) << "H = " << c.height;
        const QString first = view_->document()->firstBlock().text();
        EXPECT_EQ(first, c.firstKept ? QStringLiteral("line %1").arg(c.firstKept) : QString())
            << "H = " << c.height;
        EXPECT_EQ(Caret(), c.firstKept == 1 ? End() : 0) << "H = " << c.height;
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
    // The only row, without a line break after it.
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

}  // namespace
}  // namespace tarvane
