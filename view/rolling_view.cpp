#include "view/rolling_view.h"

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
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
    if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), size);
    // A BOM inside a line (RFC 5424 puts one before the message) is kept as the invisible
    // U+FEFF, wherever it stands.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(QByteArrayView(bytes.data(), size));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), size);
}

RollingView::RollingView(QWidget* parent) : QPlainTextEdit(parent) {
    auto* doc = new QTextDocument(this);
    layout_ = new RowLayout(doc);
    doc->setDocumentLayout(layout_);
    setDocument(doc);
    end_ = QTextCursor(doc);

    const QColor blue(0, 0, 255);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, blue);
    colours.setColor(QPalette::Text, Qt::white);
    // The selection is painted with the inactive colours while the view has no focus.
    colours.setColor(QPalette::Inactive, QPalette::Highlight, blue);
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::white);
    setPalette(colours);

    QFont face(QStringLiteral("MS Sans Serif"), 8);
    face.setBold(true);
    setFont(face);

    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setReadOnly(false);
    // Every insertion and deletion would otherwise be kept for undo, and a view that runs for
    // weeks would grow without bound.
    document()->setUndoRedoEnabled(false);

    releasePaint_.setSingleShot(true);
    connect(&releasePaint_, &QTimer::timeout, this, [this] {
        ApplyPending();
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
    return 5 * height() / (8 * points);
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
    int end;
    if (layout->lineCount() >= 2)
        end = layout->lineAt(1).textStart();
    else if (first.next().isValid())
        end = first.length();  // the row's characters and its line break
    else
        end = first.length() - 1;
    if (end <= 0) return false;
    QTextCursor range(document());
    range.setPosition(end, QTextCursor::KeepAnchor);
    // The blocks that stay keep their text, so their layouts stay valid.
    layout_->leadingBlocksGo = end == first.length();
    range.removeSelectedText();
    layout_->leadingBlocksGo = false;
    return true;
}

// Row by row, a leading block goes whole once the blocks after it hold at least the rows that
// may stay: its last row then still finds one row too many. Counted from the end, the blocks
// that go need no layout at all, and they go in one edit.
bool RollingView::RemoveLeadingBlocks() {
    const int kept = RowsKept();
    if (kept <= 0) return false;
    const QTextDocument* doc = document();
    QTextBlock block = doc->lastBlock();
    // The row after a final line break is empty and does not count.
    int rows = block.length() <= 1 ? -1 : 0;
    for (; block.isValid(); block = block.previous()) {
        rows += LaidOut(block)->lineCount();
        if (rows >= kept) break;
    }
    if (!block.isValid() || block.position() == 0) return false;
    QTextCursor range(document());
    range.setPosition(block.position(), QTextCursor::KeepAnchor);
    layout_->leadingBlocksGo = true;
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

int RollingView::TrimRows(bool& removed) {
    removed = RemoveLeadingBlocks();
    int rows = CountRows();
    // A view lower than one row keeps none: the loop ends with the text.
    while (rows > RowsKept() && RemoveFirstRow()) {
        removed = true;
        rows = CountRows();
    }
    return rows;
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

// The held lines go in as one insertion. The text before them stays until the trimming, which
// takes it whole, unlaid, once the held lines fill the rows that may stay.
void RollingView::ApplyPending() {
    if (pending_.isEmpty()) return;
    const QStringList lines = std::exchange(pending_, {});
    const bool replaces = std::exchange(pendingReplaces_, false);
    // Held lines hold no NUL, so the insertion is whole.
    InsertLine(lines.join(u'\n'));
    // Once one line has made rows go, the view is full and every later line makes rows go too.
    FinishShow(replaces);
}

void RollingView::ShowResizeStatus() {
    ApplyPending();
    ReportStatus(QStringLiteral("RichEdit.Lines.Count=") + QString::number(CountRows()) +
                 QStringLiteral(" Max Lines=") + QString::number(Capacity()));
}

namespace {
// Input that edits the text or places the caret, on the view or on its viewport.
bool ReachesTheText(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::DragEnter:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}
}  // namespace

bool RollingView::event(QEvent* event) {
    if (ReachesTheText(event->type())) ApplyPending();
    return QPlainTextEdit::event(event);
}

bool RollingView::viewportEvent(QEvent* event) {
    if (ReachesTheText(event->type())) ApplyPending();
    return QPlainTextEdit::viewportEvent(event);
}

void RollingView::resizeEvent(QResizeEvent* event) {
    ApplyPending();
    QPlainTextEdit::resizeEvent(event);
}

void RollingView::FocusView() {
    // Visibility and enabled state are inherited, so this covers the window as well.
    if (!isVisible() || !isEnabled()) throw velmar::EInvalidOperation(kCannotFocus);
    if (window()->focusWidget() != this) setFocus(Qt::OtherFocusReason);
}

void RollingView::PutCaret(int position) {
    QTextCursor caret = textCursor();
    if (caret.position() == position && !caret.hasSelection()) return;
    caret.setPosition(position);
    setTextCursor(caret);
}

// Painting the view costs about twenty lines' worth of work; at a datagram per event every line
// would be painted on its own. A change soon after a paint waits for the interval's end, and
// all changes until then are painted together. While the view is not painted it does not
// scroll either; the paint at the end shows the text at its final position.
void RollingView::HoldPaint() {
    if (releasePaint_.isActive() || !sincePaint_.isValid()) return;
    const qint64 since = sincePaint_.elapsed();
    if (since >= kPaintIntervalMs) return;
    viewport()->setUpdatesEnabled(false);
    releasePaint_.start(int(kPaintIntervalMs - since));
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
