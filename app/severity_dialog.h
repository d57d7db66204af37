#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace tarvane {

// Rounded a * b / c, as dialog-unit conversions round.
int MulDiv(int a, int b, int c);

// Geometry of the input dialog's client area in pixels. A horizontal dialog unit is a quarter
// of the font's average character width, a vertical one an eighth of its height.
struct InputQueryLayout {
    QSize client;
    QRect prompt;
    QRect edit;
    QRect ok;
    QRect cancel;
};

// promptSize is the prompt's natural size when wrapped at PromptWrapWidth(aveCharWidth).
InputQueryLayout ComputeInputQueryLayout(int aveCharWidth, int fontHeight, QSize promptSize,
                                         int editHeight);
int PromptWrapWidth(int aveCharWidth);

// The modal single-line input dialog: caption, a wrapped prompt, an edit field of at most 255
// characters that opens with value all selected, "OK" (default, Enter) and "Cancel" (Esc),
// centred on the screen. Returns true and the edit's text in value for "OK"; false, with value
// untouched, for "Cancel", Esc or closing the window.
bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value);

}  // namespace tarvane
