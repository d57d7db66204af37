#pragma once

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include "velmar/errors.h"
#include "view/message_text.h"

namespace tarvane {

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

}  // namespace tarvane
