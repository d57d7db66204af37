#include "view/rolling_view.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QColor>
#include <QFont>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPalette>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>
#include <utility>

#include "velmar/errors.h"

namespace tarvane {

namespace {

const char kInsertionError[] = "RichEdit line insertion error";
const char kCannotFocus[] = "Cannot focus a disabled or invisible window";

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

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
class RollingView::RowLayout : public QPlainTextDocumentLayout {
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

QString ViewTextFromBytes(std::string_view bytes) {
    const auto size = static_cast<qsizetype>(bytes.size());
    const QByteArrayView view(bytes.data(), size);
    // Checked before decoding: a flood of random bytes fails at once instead of after a
    // decoding of the whole datagram.
    if (IsAscii(bytes) || !view.isValidUtf8()) return QString::fromLatin1(view);
    // A BOM inside a line (RFC 5424 puts one before the message) is kept as the invisible
    // U+FEFF, wherever it stands.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(view);
    if (utf8.hasError()) return QString::fromLatin1(view);
    // The text model takes these as a break between blocks or as a frame marker: one datagram
    // must stay one line, so they show as the replacement character (the file keeps the bytes).
    for (QChar& c : text) {
        switch (c.unicode()) {
            case 0x2028:
            case 0x2029:
            case 0xFDD0:
            case 0xFDD1:
                c = QChar::ReplacementCharacter;
                break;
            default:
                break;
        }
    }
    return text;
}

void StyleAsMessageView(QPlainTextEdit& view) {
    const QColor blue(0, 0, 255);
    QPalette colours = view.palette();
    colours.setColor(QPalette::Base, blue);
    colours.setColor(QPalette::Text, Qt::white);
    // The selection is painted with the inactive colours while the view has no focus.
    colours.setColor(QPalette::Inactive, QPalette::Highlight, blue);
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::white);
    view.setPalette(colours);

    QFont face(QStringLiteral("MS Sans Serif"), 8);
    face.setBold(true);
    view.setFont(face);

    // Every line reads left to right from its time stamp, whatever script its message is in;
    // a right-to-left message keeps its own runs inside the line.
    view.setLayoutDirection(Qt::LeftToRight);
    QTextOption paragraphs = view.document()->defaultTextOption();
    paragraphs.setTextDirection(Qt::LeftToRight);
    view.document()->setDefaultTextOption(paragraphs);

    view.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setReadOnly(false);
    // Every insertion and deletion would otherwise be kept for undo, and a view that runs for
    // weeks would grow without bound.
    view.document()->setUndoRedoEnabled(false);
}

RollingView::RollingView(QWidget* parent) : QPlainTextEdit(parent) {
    auto* doc = new QTextDocument(this);
    layout_ = new RowLayout(doc);
    doc->setDocumentLayout(layout_);
    setDocument(doc);
    end_ = QTextCursor(doc);

    StyleAsMessageView(*this);

    releasePaint_.setSingleShot(true);
    connect(&releasePaint_, &QTimer::timeout, this, [this] {
        // Where the held lines replaced all the text the last paint showed, they come faster
        // than anybody reads them: the next hold may be longer, and paints fewer.
        holdMs_ = ApplyPending() ? std::min(2 * holdMs_, kLongestHoldMs) : kPaintIntervalMs;
        viewport()->setUpdatesEnabled(true);
        // Painted now, not once the window thread's other work lets the paint event through:
        // until then the hold could not start again, and every line would go in on its own.
        // A view that cannot be painted now (minimised) counts the release as its paint.
        viewport()->repaint();
        sincePaint_.start();
    });
}

int RollingView::RowCount() {
    ApplyPending();
    return CountRows();
}

int RollingView::CountRows() const {
    const QTextDocument* doc = document();
    int rows = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        rows += LaidOut(block)->lineCount();
    // The row after a final line break is empty and does not count.
    if (doc->lastBlock().length() <= 1) --rows;
    return rows;
}

int RollingView::FontPoints() const {
    const QFont& face = font();
    if (face.pointSizeF() > 0) return qRound(face.pointSizeF());
    return qRound(face.pixelSize() * 72.0 / logicalDpiY());
}

int RollingView::Capacity() const {
    const int points = std::max(1, FontPoints());
    return 5 * (heightShown_ >= 0 ? heightShown_ : height()) / (8 * points);
}

bool RollingView::InsertLine(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    const bool afterBreak = document()->lastBlock().length() <= 1;
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

void RollingView::AddLine(const QString& text) {
    ApplyPending();
    HoldPaint();
    const bool whole = InsertLine(text);
    PutCaret(End());
    if (!whole) throw velmar::ERichEditError(kInsertionError);
}

bool RollingView::RemoveFirstRow() {
    const QTextBlock first = document()->firstBlock();
    const QTextLayout* layout = LaidOut(first);
    if (layout->lineCount() >= 2) return RemoveBefore(layout->lineAt(1).textStart());
    // The row's characters and its line break, or the characters of the only row.
    return RemoveBefore(first.next().isValid() ? first.length() : first.length() - 1);
}

bool RollingView::RemoveBefore(int position) {
    if (position <= 0) return false;
    const QTextBlock cut = document()->findBlock(position);
    QTextCursor range(document());
    range.setPosition(position, QTextCursor::KeepAnchor);
    // Whole blocks going leave the blocks after them as they were, layouts included.
    layout_->leadingBlocksGo = cut.isValid() && cut.position() == position;
    range.removeSelectedText();
    layout_->leadingBlocksGo = false;
    return true;
}

void RollingView::DeleteFirstRow() {
    ApplyPending();
    HoldPaint();
    RemoveFirstRow();
    PutCaret(0);
}

// Row by row from the top, as many rows go as the count exceeds what may stay; the outcome is
// reached in one cut. Counted from the end, the blocks that go whole are never laid out, and a
// long line that loses rows is cut once at the row boundary of its own layout instead of being
// laid out again after every row.
int RollingView::TrimRows(bool& removed) {
    removed = false;
    const int kept = RowsKept();
    for (;;) {
        QTextBlock block = document()->lastBlock();
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

void RollingView::TrimToFit() {
    ApplyPending();
    HoldPaint();
    bool removed;
    TrimRows(removed);
    if (removed) PutCaret(0);
}

void RollingView::ShowLine(const QString& text) {
    HoldPaint();
    const bool whole = !text.contains(QChar(u'\0'));
    if (whole && releasePaint_.isActive()) return Defer(text);
    ApplyPending();
    // The caret is placed once, where the steps would leave it: every move of it out of sight
    // scrolls the view, which costs more than the rest of the line.
    if (!InsertLine(text)) {
        PutCaret(End());
        throw velmar::ERichEditError(kInsertionError);
    }
    FinishShow(false);
}

// The steps of ShowLine after the insertion; `removed` when rows went before them.
void RollingView::FinishShow(bool removed) {
    bool trimmed;
    const int rows = TrimRows(trimmed);
    PutCaret(removed || trimmed ? 0 : End());
    ReportStatus(QStringLiteral("RichEdit.Lines.Count: ") + QString::number(rows) +
                 QStringLiteral(" Max Lines: ") + QString::number(Capacity()));
    ensureCursorVisible();
}

int RollingView::RowsKept() const { return std::max(0, Capacity() - 1); }

// Every line takes at least one row, so once more lines wait than rows can stay, the oldest
// waiting line and all the text before it would be trimmed away whatever their layout.
void RollingView::Defer(const QString& text) {
    pending_.append(text);
    if (pending_.size() > std::max(1, RowsKept())) {
        pending_.removeFirst();
        pendingReplaces_ = true;
    }
}

// The newest held line goes in first. Should it fill the rows that may stay on its own, every
// line held before it would be trimmed away whole, and those never go in; otherwise they go in
// before it, in one insertion. The text before them stays until the trimming, which takes it
// whole, unlaid, once the held lines fill the rows that may stay.
bool RollingView::ApplyPending() {
    if (pending_.isEmpty()) return false;
    QStringList lines = std::exchange(pending_, {});
    bool replaces = std::exchange(pendingReplaces_, false);
    const int before = End();
    const bool afterBreak = document()->lastBlock().length() <= 1;
    // Held lines hold no NUL, so the insertion is whole.
    InsertLine(lines.takeLast());
    if (!lines.isEmpty()) {
        const QTextBlock newest =
            afterBreak ? document()->lastBlock().previous() : document()->lastBlock();
        if (LaidOut(newest)->lineCount() >= RowsKept()) {
            replaces = true;
        } else {
            // A paragraph separator between lines, since a line ending in CR would take a line
            // feed after it as part of its own break.
            QTextCursor at(document());
            at.setPosition(newest.position());
            lines.append(QString());
            at.insertText(lines.join(QChar::ParagraphSeparator));
        }
    }
    const int inserted = End() - before;
    // Once one line has made rows go, the view is full and every later line makes rows go too.
    FinishShow(replaces);
    return replaces || End() < inserted;
}

void RollingView::ShowResizeStatus() {
    ApplyPending();
    ReportStatus(QStringLiteral("RichEdit.Lines.Count=") + QString::number(CountRows()) +
                 QStringLiteral(" Max Lines=") + QString::number(Capacity()));
}

namespace {
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
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}
}  // namespace

bool RollingView::event(QEvent* event) {
    if (event->type() == QEvent::Resize) {
        // The widget has its new size, the text is still laid out at the old one: lines held
        // until now reach it at the size they were shown at, before the new size applies.
        const QSize old = static_cast<QResizeEvent*>(event)->oldSize();
        if (old.isValid() && !pending_.isEmpty()) {
            heightShown_ = old.height();
            ApplyPending();
            heightShown_ = -1;
        }
    }
    if (ReachesTheText(event->type())) ApplyPending();
    return QPlainTextEdit::event(event);
}

bool RollingView::viewportEvent(QEvent* event) {
    if (ReachesTheText(event->type())) ApplyPending();
    return QPlainTextEdit::viewportEvent(event);
}

// The menu's Cut, Paste and Delete act on the text with every line shown before the click.
// A menu hides before its chosen action runs.
void RollingView::contextMenuEvent(QContextMenuEvent* event) {
    ApplyPending();
    QMenu* menu = createStandardContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &QMenu::aboutToHide, this, &RollingView::ApplyPending);
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

// Painting the view costs about twenty lines' worth of work; at a datagram per event every line
// would be painted on its own. A change holds the paint until the interval since the last paint
// has passed (at once after a quiet spell, at the window thread's next turn through its events),
// and all changes until then are painted together. While the view is not painted it does not
// scroll either; the paint at the end shows the text at its final position.
void RollingView::HoldPaint() {
    if (releasePaint_.isActive() || !sincePaint_.isValid()) return;
    const qint64 since = sincePaint_.elapsed();
    if (since >= holdMs_) holdMs_ = kPaintIntervalMs;
    viewport()->setUpdatesEnabled(false);
    releasePaint_.start(int(std::max<qint64>(0, holdMs_ - since)));
}

void RollingView::paintEvent(QPaintEvent* event) {
    sincePaint_.start();
    QPlainTextEdit::paintEvent(event);
}

int RollingView::End() const { return document()->characterCount() - 1; }

void RollingView::ReportStatus(const QString& text) const {
    if (statusSink_) statusSink_(text);
}

}  // namespace tarvane
