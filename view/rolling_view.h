#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTimer>
#include <functional>
#include <string_view>

#include "view/message_text.h"
#include "view/paint_hold.h"
#include "view/row_budget.h"

namespace tarvane {

// The message view: keeps the newest display rows that fit its height (see RowBudget). Rows are
// the toolkit's own layout of the text at the view's current width.
class RollingView : public QPlainTextEdit {
    Q_OBJECT

  public:
    using StatusSink = std::function<void(const QString&)>;

    explicit RollingView(QWidget* parent = nullptr);

    void SetStatusSink(StatusSink sink) { statusSink_ = std::move(sink); }

    // At the width of the view's last layout: Qt lays out a hidden view when it is shown.
    int RowCount();
    int Capacity() const;
    // The font size in whole points, as the capacity rule reckons it.
    int FontPoints() const;

    // Raises velmar::ERichEditError when the text holds a NUL: what precedes it stays, without
    // a line break.
    void AddLine(const QString& text);
    void AddLine(std::string_view bytes) { AddLine(ViewTextFromBytes(bytes)); }
    void AddLine(const char* bytes) { AddLine(std::string_view(bytes)); }

    // Part of the view's required interface; the trimming removes rows through the row budget.
    void DeleteFirstRow();
    void TrimToFit();

    // While painting is held (see PaintHold), shown lines wait and reach the text together when
    // the hold ends, or as soon as anything else needs the text. The outcome is the same text,
    // caret, scroll position and status text as line by line.
    void ShowLine(const QString& text);
    void ShowLine(std::string_view bytes) { ShowLine(ViewTextFromBytes(bytes)); }
    void ShowLine(const char* bytes) { ShowLine(std::string_view(bytes)); }

    void ShowResizeStatus();

    // For tests and the benchmark, which look at the text without going through the view:
    // the lines held for the paint go in now. The program itself never needs this.
    void ApplyHeldLinesForTest() { ApplyHeld(); }

    // Focus inside the window only: the window is never raised or activated, and the focus is
    // left in the menu bar's keyboard mode or an open menu. Raises
    // velmar::EInvalidOperation while the window is hidden or disabled.
    void FocusView();

  protected:
    void paintEvent(QPaintEvent* event) override;
    // The user's edits and a new width apply to the text with every shown line in it.
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // The one way held lines reach the text. True when they replaced all the text that stood
    // before them.
    bool ApplyHeld();
    void HoldPaint();
    void ReleasePaint();
    int RowsKept() const;
    // The steps of ShowLine after the insertion; `removed` when rows went before them.
    void FinishShow(bool removed);
    void PutCaret(int position);
    void ReportStatus(const QString& text) const;

    StatusSink statusSink_;
    RowBudget budget_;
    PaintHold hold_;
    QTimer releasePaint_;
    // While held lines go in during a resize: the height they were shown at.
    int heightShown_ = -1;
};

}  // namespace tarvane
