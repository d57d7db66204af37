#include "view/row_budget.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <utility>

namespace tarvane {

namespace {

// The document lays blocks out lazily, and a change of width drops every block's layout; asking
// for the bounding rectangle lays the block out at the current width.
QTextLayout* LaidOut(const QTextBlock& block) {
    QTextLayout* layout = block.layout();
    if (layout->lineCount() == 0) block.document()->documentLayout()->blockBoundingRect(block);
    return layout;
}

}  // namespace

// The stock layout, told of whole leading blocks going as if the change were at the end: it
// would otherwise drop the layout of the block that moves up to the top, and shaping that block
// anew is half the cost of a line.
class RowBudget::RowLayout : public QPlainTextDocumentLayout {
  public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;
    bool leadingBlocksGo = false;

  protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override {
        if (!leadingBlocksGo)
            return QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        QPlainTextDocumentLayout::documentChanged(document()->lastBlock().position(), 0, 0);
    }
};

RowBudget::RowBudget(QTextDocument& doc) : doc_(doc), layout_(new RowLayout(&doc)) {
    doc_.setDocumentLayout(layout_);
    end_ = QTextCursor(&doc_);
}

int RowBudget::Capacity(int height, int points) { return 5 * height / (8 * std::max(1, points)); }

int RowBudget::RowsKept(int capacity) { return std::max(0, capacity - 1); }

int RowBudget::CountRows() const {
    int rows = 0;
    for (QTextBlock block = doc_.begin(); block.isValid(); block = block.next())
        rows += LaidOut(block)->lineCount();
    if (doc_.lastBlock().length() <= 1) --rows;
    return rows;
}

int RowBudget::End() const { return doc_.characterCount() - 1; }

bool RowBudget::InsertLine(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    const bool afterBreak = doc_.lastBlock().length() <= 1;
    end_.movePosition(QTextCursor::End);
    const int start = end_.block().position();
    end_.beginEditBlock();
    if (!afterBreak) end_.insertBlock();
    end_.insertText(nul < 0 ? text : text.left(nul));
    if (afterBreak && nul < 0) end_.insertBlock();
    end_.endEditBlock();
    // Removing the first row relays out the block that survives and then asks it for the caret's
    // x; with its glyphs kept, the block is shaped once instead of twice.
    for (QTextBlock block = end_.block(); block.isValid() && block.position() >= start;
         block = block.previous())
        block.layout()->setCacheEnabled(true);
    return nul < 0;
}

bool RowBudget::RemoveFirstRow() {
    const QTextBlock first = doc_.firstBlock();
    const QTextLayout* layout = LaidOut(first);
    if (layout->lineCount() >= 2) return RemoveBefore(layout->lineAt(1).textStart());
    // The row's characters and its line break, or the characters of the only row.
    return RemoveBefore(first.next().isValid() ? first.length() : first.length() - 1);
}

bool RowBudget::RemoveBefore(int position) {
    if (position <= 0) return false;
    const QTextBlock cut = doc_.findBlock(position);
    QTextCursor range(&doc_);
    range.setPosition(position, QTextCursor::KeepAnchor);
    // Whole blocks going leave the blocks after them as they were, layouts included.
    layout_->leadingBlocksGo = cut.isValid() && cut.position() == position;
    range.removeSelectedText();
    layout_->leadingBlocksGo = false;
    return true;
}

// Row by row from the top, as many rows go as the count exceeds what may stay; the outcome is
// reached in one cut. Counted from the end, the blocks that go whole are never laid out, and a
// long line that loses rows is cut once at the row boundary of its own layout instead of being
// laid out again after every row.
int RowBudget::Trim(int kept, bool& removed) {
    removed = false;
    for (;;) {
        QTextBlock block = doc_.lastBlock();
        // The row after a final line break is empty and does not count.
        int rows = block.length() <= 1 ? -1 : 0;
        for (; block.isValid(); block = block.previous()) {
            rows += LaidOut(block)->lineCount();
            if (rows > kept) break;
        }
        if (!block.isValid()) return rows;
        // The rows of this block that must go; the rest of the text fits.
        const int surplus = rows - kept;
        const QTextLayout* layout = block.layout();
        const bool whole = surplus >= layout->lineCount();
        if (!whole)
            RemoveBefore(block.position() + layout->lineAt(surplus).textStart());
        else
            RemoveBefore(block.next().isValid() ? block.next().position() : End());
        removed = true;
        if (whole) return kept;
        // The tail of the cut line is laid out anew; should it wrap otherwise than it did as
        // part of the whole line, the rows are counted again.
    }
}

// Every line takes at least one row, so once more lines wait than rows can stay, the oldest
// waiting line and all the text before it would be trimmed away whatever their layout.
void RowBudget::Hold(const QString& text, int kept) {
    held_.append(text);
    if (held_.size() > std::max(1, kept)) {
        held_.removeFirst();
        heldReplaces_ = true;
    }
}

// The newest held line goes in first. Should it fill the rows that may stay on its own, every
// line held before it would be trimmed away whole, and those never go in; otherwise they go in
// before it, in one insertion. The text before them stays until the trimming, which takes it
// whole, unlaid, once the held lines fill the rows that may stay.
bool RowBudget::InsertHeld(int kept) {
    QStringList lines = std::exchange(held_, {});
    bool replaces = std::exchange(heldReplaces_, false);
    const bool afterBreak = doc_.lastBlock().length() <= 1;
    // Held lines hold no NUL, so the insertion is whole.
    InsertLine(lines.takeLast());
    if (lines.isEmpty()) return replaces;
    const QTextBlock newest = afterBreak ? doc_.lastBlock().previous() : doc_.lastBlock();
    if (LaidOut(newest)->lineCount() >= kept) return true;
    // A paragraph separator between lines, since a line ending in CR would take a line feed
    // after it as part of its own break.
    QTextCursor at(&doc_);
    at.setPosition(newest.position());
    lines.append(QString());
    at.insertText(lines.join(QChar::ParagraphSeparator));
    return replaces;
}

}  // namespace tarvane
