#pragma once

#include <QString>
#include <QStringList>
#include <QTextCursor>

class QTextDocument;

namespace tarvane {

// The rows of a document as its plain-text layout lays them out, and the rules that keep the
// newest of them within a budget. No widget: the caller gives the rows that may stay, and
// places the caret.
//
// Line breaks: CR LF, a lone CR and a lone LF inside a line each start a new row, as they do in
// the toolkit's text model; the datagram road escapes them before they get here.
class RowBudget {
  public:
    // Gives the document a layout of its own, which the document owns.
    explicit RowBudget(QTextDocument& doc);

    QTextDocument& Document() const { return doc_; }

    // The rows a view of this height holds at this font size in whole points.
    static int Capacity(int height, int points);
    // The rows that may stay: one row's height is always kept spare.
    static int RowsKept(int capacity);

    // At the width of the last layout; the empty row after a final line break does not count.
    int CountRows() const;
    int End() const;

    // False when the text holds a NUL: what precedes it goes in, without a line break.
    bool InsertLine(const QString& text);
    bool RemoveFirstRow();
    // Removes the oldest rows over `kept`; `removed` when any went. Returns the rows left.
    int Trim(int kept, bool& removed);

    // Lines shown while painting is held wait here and go in together: each one's own layout
    // and trimming would be wasted on rows that are gone before they are painted.
    bool HasHeld() const { return !held_.isEmpty(); }
    void Hold(const QString& text, int kept);
    // Inserts the held lines; true when rows must go before them, which then replace all the
    // text that stood before them.
    bool InsertHeld(int kept);

  private:
    class RowLayout;

    // Removes the text before the position.
    bool RemoveBefore(int position);

    QTextDocument& doc_;
    RowLayout* layout_;
    // Kept across calls so that an insertion does not register a fresh cursor with the document.
    QTextCursor end_;
    QStringList held_;
    // More lines waited than rows can stay: the text before the waiting lines goes whole.
    bool heldReplaces_ = false;
};

}  // namespace tarvane
