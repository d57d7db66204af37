#pragma once

#include <QString>
#include <string_view>

class QPlainTextEdit;

namespace tarvane {

// Bytes as the view shows them: valid UTF-8 as UTF-8 (a BOM stays as the invisible U+FEFF),
// anything else byte for byte as Latin-1.
QString ViewTextFromBytes(std::string_view bytes);

// Colours, font, wrapping and editing as the message view has them.
void StyleAsMessageView(QPlainTextEdit& view);

}  // namespace tarvane
