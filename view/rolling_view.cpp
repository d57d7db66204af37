#include "view/rolling_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextDocument>

#include "velmar/errors.h"

namespace tarvane {

namespace {

const char kInsertionError[] = "RichEdit line insertion error";
const char kCannotFocus[] = "Cannot focus a disabled or invisible window";

// Input that edits the text, places the caret or scrolls, on the view or on its viewport.
bool ReachesTheText(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::DragEnter:
        case QEvent::Drop: return true;
        default: return false;
    }
}

}  // namespace

RollingView::RollingView(QWidget* parent)
    : QPlainTextEdit(parent), budget_(*new QTextDocument(this)) {
    setDocument(&budget_.Document());
    StyleAsMessageView(*this);
    releasePaint_.setSingleShot(true);
    connect(&releasePaint_, &QTimer::timeout, this, &RollingView::ReleasePaint);
}

int RollingView::RowCount() {
    ApplyHeld();
    return budget_.CountRows();
}

int RollingView::FontPoints() const {
    const QFont& face = font();
    if (face.pointSizeF() > 0) return qRound(face.pointSizeF());
    return qRound(face.pixelSize() * 72.0 / logicalDpiY());
}

int RollingView::Capacity() const {
    return RowBudget::Capacity(heightShown_ >= 0 ? heightShown_ : height(), FontPoints());
}

int RollingView::RowsKept() const { return RowBudget::RowsKept(Capacity()); }

void RollingView::AddLine(const QString& text) {
    ApplyHeld();
    HoldPaint();
    const bool whole = budget_.InsertLine(text);
    PutCaret(budget_.End());
    if (!whole) throw velmar::ERichEditError(kInsertionError);
}

void RollingView::DeleteFirstRow() {
    ApplyHeld();
    HoldPaint();
    budget_.RemoveFirstRow();
    PutCaret(0);
}

void RollingView::TrimToFit() {
    ApplyHeld();
    HoldPaint();
    bool removed;
    budget_.Trim(RowsKept(), removed);
    if (removed) PutCaret(0);
}

void RollingView::ShowLine(const QString& text) {
    HoldPaint();
    const bool whole = !text.contains(QChar(u'\0'));
    if (whole && releasePaint_.isActive()) return budget_.Hold(text, RowsKept());
    ApplyHeld();
    // The caret is placed once, where the steps would leave it: every move of it out of sight
    // scrolls the view, which costs more than the rest of the line.
    if (!budget_.InsertLine(text)) {
        PutCaret(budget_.End());
        throw velmar::ERichEditError(kInsertionError);
    }
    FinishShow(false);
}

void RollingView::FinishShow(bool removed) {
    bool trimmed;
    const int rows = budget_.Trim(RowsKept(), trimmed);
    PutCaret(removed || trimmed ? 0 : budget_.End());
    ReportStatus(QStringLiteral("RichEdit.Lines.Count: ") + QString::number(rows) +
                 QStringLiteral(" Max Lines: ") + QString::number(Capacity()));
    ensureCursorVisible();
}

bool RollingView::ApplyHeld() {
    if (!budget_.HasHeld()) return false;
    const int before = budget_.End();
    const bool replaces = budget_.InsertHeld(RowsKept());
    const int inserted = budget_.End() - before;
    // Once one line has made rows go, the view is full and every later line makes rows go too.
    FinishShow(replaces);
    return replaces || budget_.End() < inserted;
}

void RollingView::ShowResizeStatus() {
    ApplyHeld();
    ReportStatus(QStringLiteral("RichEdit.Lines.Count=") + QString::number(budget_.CountRows()) +
                 QStringLiteral(" Max Lines=") + QString::number(Capacity()));
}

bool RollingView::event(QEvent* event) {
    if (event->type() == QEvent::Resize) {
        // The widget has its new size, the text is still laid out at the old one: lines held
        // until now reach it at the size they were shown at, before the new size applies.
        const QSize old = static_cast<QResizeEvent*>(event)->oldSize();
        if (old.isValid() && budget_.HasHeld()) {
            heightShown_ = old.height();
            ApplyHeld();
            heightShown_ = -1;
        }
    }
    if (ReachesTheText(event->type())) ApplyHeld();
    return QPlainTextEdit::event(event);
}

bool RollingView::viewportEvent(QEvent* event) {
    if (ReachesTheText(event->type())) ApplyHeld();
    return QPlainTextEdit::viewportEvent(event);
}

// The menu's Cut, Paste and Delete act on the text with every line shown before the click.
// A menu hides before its chosen action runs.
void RollingView::contextMenuEvent(QContextMenuEvent* event) {
    ApplyHeld();
    QMenu* menu = createStandardContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &QMenu::aboutToHide, this, [this] { ApplyHeld(); });
    menu->popup(event->globalPos());
}

// The selection as the view holds it: the toolkit's plain text would turn no-break spaces into
// blanks. Copy, cut and drag all take it from here.
QMimeData* RollingView::createMimeDataFromSelection() const {
    QString text = textCursor().selectedText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = u'\n';
    }
    auto* data = new QMimeData;
    data->setText(text);
    return data;
}

void RollingView::FocusView() {
    // Visibility and enabled state are inherited, so this covers the window as well.
    if (!isVisible() || !isEnabled()) throw velmar::EInvalidOperation(kCannotFocus);
    // The user's keys stay where the user took them: in the menu bar's keyboard mode, which ends
    // when the bar loses the focus, or in an open menu.
    QWidget* focus = window()->focusWidget();
    if (focus == this || QApplication::activePopupWidget() || qobject_cast<QMenuBar*>(focus))
        return;
    setFocus(Qt::OtherFocusReason);
}

// Alt with a key is a menu's access key, never text: one that opens no menu types nothing.
void RollingView::keyPressEvent(QKeyEvent* event) {
    if ((event->modifiers() & Qt::AltModifier) && !event->text().isEmpty() &&
        event->text().at(0).isPrint()) {
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

// Placing the caret never scrolls: only ShowLine brings it into sight, as its last step.
void RollingView::PutCaret(int position) {
    QTextCursor caret = textCursor();
    if (caret.position() == position && !caret.hasSelection()) return;
    caret.setPosition(position);
    const int top = verticalScrollBar()->value();
    setTextCursor(caret);
    verticalScrollBar()->setValue(top);
}

// While the view is not painted it does not scroll either; the paint at the end shows the text
// at its final position.
void RollingView::HoldPaint() {
    if (releasePaint_.isActive()) return;
    const std::optional<int> wait = hold_.Start(PaintHold::Clock::now());
    if (!wait) return;
    viewport()->setUpdatesEnabled(false);
    releasePaint_.start(*wait);
}

void RollingView::ReleasePaint() {
    // Where the held lines replaced all the text the last paint showed, they come faster than
    // anybody reads them: the next hold may be longer, and paints fewer.
    hold_.Released(ApplyHeld());
    viewport()->setUpdatesEnabled(true);
    // Painted now, not once the window thread's other work lets the paint event through: until
    // then the hold could not start again, and every line would go in on its own. A view that
    // cannot be painted now (minimised) counts the release as its paint.
    viewport()->repaint();
    hold_.Painted(PaintHold::Clock::now());
}

void RollingView::paintEvent(QPaintEvent* event) {
    hold_.Painted(PaintHold::Clock::now());
    QPlainTextEdit::paintEvent(event);
}

void RollingView::ReportStatus(const QString& text) const {
    if (statusSink_) statusSink_(text);
}

}  // namespace tarvane
