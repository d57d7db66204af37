#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QTextCursor>
#include <QTimer>
#include <functional>
#include <string_view>

namespace tarvane {

// Bytes as the view shows them: valid UTF-8 as UTF-8 (a BOM stays as the invisible U+FEFF),
// anything else byte for byte as Latin-1.
QString ViewTextFromBytes(std::string_view bytes);

// Colours, font, wrapping and editing as the message view has them.
void StyleAsMessageView(QPlainTextEdit& view);

// The message view: keeps the newest display rows that fit its height. Rows are the toolkit's
// own layout of the text at the view's current width.
//
// Line breaks: CR LF, a lone CR and a lone LF inside a line each start a new row, as they do in
// the toolkit's text model; the datagram road escapes them before they get here.
class RollingView : public QPlainTextEdit {
    Q_OBJECT

  public:
    using StatusSink = std::function<void(const QString&)>;

    explicit RollingView(QWidget* parent = nullptr);

    void SetStatusSink(StatusSink sink) { statusSink_ = std::move(sink); }

    // At the width of the view's last layout: Qt lays out a hidden view when it is shown.
    // Lines waiting for the end of a paint hold are added first.
    int RowCount();
    int Capacity() const;
    // The font size in whole points, as the capacity rule reckons it.
    int FontPoints() const;

    // Raises velmar::ERichEditError when the text holds a NUL: what precedes it stays, without
    // a line break.
    void AddLine(const QString& text);
    void AddLine(std::string_view bytes) { AddLine(ViewTextFromBytes(bytes)); }
    void AddLine(const char* bytes) { AddLine(std::string_view(bytes)); }

    void DeleteFirstRow();
    void TrimToFit();

    void ShowLine(const QString& text);
    void ShowLine(std::string_view bytes) { ShowLine(ViewTextFromBytes(bytes)); }
    void ShowLine(const char* bytes) { ShowLine(std::string_view(bytes)); }

    void ShowResizeStatus();

    // While painting is held, shown lines wait and reach the text together when the hold ends,
    // or as soon as anything else needs the text: each one's own layout and trimming would be
    // wasted on rows that are gone before they are painted. The outcome is the same text,
    // caret, scroll position and status text as line by line.
    // True when the held lines replaced all the text that stood before them.
    bool ApplyPending();

    // Focus inside the window only: the window is never raised or activated, and the focus is
    // left in the menu bar's keyboard mode or an open menu. Raises
    // velmar::EInvalidOperation while the window is hidden or disabled.
    void FocusView();

    // Lines arriving faster than this are painted together, once per interval.
    static constexpr int kPaintIntervalMs = 25;
    // Lines that replace the whole view within an interval are faster than anybody reads: the
    // interval doubles while they do, up to this.
    static constexpr int kLongestHoldMs = 200;

  protected:
    void paintEvent(QPaintEvent* event) override;
    // The user's edits and a new width apply to the text with every shown line in it.
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class RowLayout;

    void HoldPaint();
    int CountRows() const;
    // The rows that may stay: one row's height is always kept spare.
    int RowsKept() const;
    void Defer(const QString& text);
    void FinishShow(bool removed);

    // The steps without the caret, which the public operations place.
    bool InsertLine(const QString& text);
    bool RemoveFirstRow();
    // Removes the text before the position.
    bool RemoveBefore(int position);
    int TrimRows(bool& removed);
    int End() const;
    void PutCaret(int position);
    void ReportStatus(const QString& text) const;

    StatusSink statusSink_;
    RowLayout* layout_ = nullptr;
    // Kept across calls so that an insertion does not register a fresh cursor with the document.
    QTextCursor end_;
    QElapsedTimer sincePaint_;
    QTimer releasePaint_;
    QStringList pending_;
    // More lines waited than rows can stay: the text before the waiting lines goes whole.
    bool pendingReplaces_ = false;
    // While held lines go in during a resize: the height they were shown at.
    int heightShown_ = -1;
    int holdMs_ = kPaintIntervalMs;
};

}  // namespace tarvane
