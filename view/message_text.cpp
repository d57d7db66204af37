#include "view/message_text.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextDocument>
#include <QTextOption>
#include <algorithm>

namespace tarvane {

namespace {

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

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
            case 0xFDD1: c = QChar::ReplacementCharacter; break;
            default: break;
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

}  // namespace tarvane
