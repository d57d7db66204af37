#include "severity_dialog.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QWidget>
#include <algorithm>
#include <cstdint>

#include "app/outer_placement.h"

namespace tarvane {

namespace {

constexpr int kMaxEntryLength = 255;

// The average width of the Latin letters, steadier across fonts than the font's own figure.
int AverageCharWidth(const QFontMetrics& fm) {
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return fm.horizontalAdvance(letters) / int(letters.size());
}

}  // namespace

int MulDiv(int a, int b, int c) {
    const int64_t p = int64_t(a) * b;
    const int64_t half = c / 2;
    return int((p >= 0 ? p + half : p - half) / c);
}

int PromptWrapWidth(int aveCharWidth) { return MulDiv(164, aveCharWidth, 4); }

InputQueryLayout ComputeInputQueryLayout(int aveCharWidth, int fontHeight, QSize promptSize,
                                         int editHeight) {
    auto hu = [&](int n) { return MulDiv(n, aveCharWidth, 4); };
    auto vu = [&](int n) { return MulDiv(n, fontHeight, 8); };
    InputQueryLayout l;
    l.prompt = QRect(hu(8), vu(8), std::min(promptSize.width(), PromptWrapWidth(aveCharWidth)),
                     promptSize.height());
    l.edit = QRect(l.prompt.left(), l.prompt.top() + l.prompt.height() + 5, hu(164), editHeight);
    const int buttonTop = l.edit.top() + l.edit.height() + 15;
    l.ok = QRect(hu(38), buttonTop, hu(50), vu(14));
    l.cancel = QRect(hu(92), buttonTop, hu(50), vu(14));
    l.client = QSize(hu(180), l.ok.top() + l.ok.height() + 13);
    return l;
}

bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value) {
    ScreenCentred<QDialog> dialog(parent, Qt::Dialog | Qt::WindowTitleHint |
                                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                              Qt::MSWindowsFixedSizeDialogHint);
    dialog.setWindowTitle(caption);
    dialog.setModal(true);

    auto* label = new QLabel(&dialog);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setText(prompt);
    auto* edit = new QLineEdit(&dialog);
    edit->setMaxLength(kMaxEntryLength);
    // The prompt names the field for assistive technology.
    label->setBuddy(edit);
    edit->setText(value);
    edit->selectAll();
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    const QFontMetrics fm(dialog.font());
    const int ave = AverageCharWidth(fm);
    const QSize promptSize =
        fm.boundingRect(QRect(0, 0, PromptWrapWidth(ave), 1 << 20), Qt::TextWordWrap, prompt)
            .size();
    const InputQueryLayout l =
        ComputeInputQueryLayout(ave, fm.height(), promptSize, edit->sizeHint().height());
    label->setGeometry(l.prompt);
    edit->setGeometry(l.edit);
    ok->setGeometry(l.ok);
    cancel->setGeometry(l.cancel);
    dialog.setFixedSize(l.client);

    edit->setFocus();

    if (dialog.exec() != QDialog::Accepted) return false;
    value = edit->text();
    return true;
}

}  // namespace tarvane
