#include "app/severity_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace tarvane {
namespace {

// Runs InputQuery with value and lets act() drive the dialog once it is open; `opened` tells
// whether a dialog with its field, prompt and two buttons came.
bool Drive(QString& value, bool& opened, const std::function<void(QDialog&, QLineEdit&)>& act) {
    opened = false;
    QTimer::singleShot(0, [&] {
        // The timer fires inside the dialog's own loop, so the dialog is open by now.
        QDialog* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) dialog = d;
        }
        if (!dialog) return;
        auto* edit = dialog->findChild<QLineEdit*>();
        if (!edit || !dialog->findChild<QLabel*>() ||
            dialog->findChildren<QPushButton*>().size() != 2) {
            dialog->reject();
            return;
        }
        opened = true;
        act(*dialog, *edit);
    });
    return InputQuery(nullptr, "Severity", "Severity", value);
}

TEST(InputQuery, OpensWithTheProposedTextSelected) {
    QString value = "7";
    bool opened;
    Drive(value, opened, [](QDialog& d, QLineEdit& edit) {
        const auto buttons = d.findChildren<QPushButton*>();
        EXPECT_EQ(d.windowTitle(), "Severity");
        EXPECT_EQ(d.findChild<QLabel*>()->text(), "Severity");
        EXPECT_EQ(edit.text(), "7");
        EXPECT_EQ(edit.selectedText(), "7");
        EXPECT_EQ(edit.maxLength(), 255);
        EXPECT_EQ(buttons[0]->text(), "OK");
        EXPECT_EQ(buttons[1]->text(), "Cancel");
        EXPECT_TRUE(buttons[0]->isDefault());
        d.reject();
    });
    ASSERT_TRUE(opened);
}

TEST(InputQuery, KeysDecideTheOutcome) {
    struct Case {
        const char* what;
        const char* typed;
        Qt::Key key;  // Qt::Key_unknown: close the window instead
        bool accepted;
        const char* value;
    } cases[] = {
        {"typed over the selection, Enter", "05", Qt::Key_Return, true, "05"},
        {"keypad Enter", "  3", Qt::Key_Enter, true, "  3"},
        {"Enter without typing", "", Qt::Key_Return, true, "7"},
        {"Esc after typing", "5", Qt::Key_Escape, false, "7"},
        {"window closed", "5", Qt::Key_unknown, false, "7"},
    };
    for (const Case& c : cases) {
        QString value = "7";
        bool opened;
        const bool accepted = Drive(value, opened, [&](QDialog& d, QLineEdit& edit) {
            QTest::keyClicks(&edit, c.typed);
            if (c.key == Qt::Key_unknown) {
                d.close();
            } else {
                QTest::keyClick(&edit, c.key);
            }
        });
        ASSERT_TRUE(opened) << c.what;
        EXPECT_EQ(accepted, c.accepted) << c.what;
        EXPECT_EQ(value, c.value) << c.what;
    }
}

TEST(InputQueryLayout, DialogUnitsFollowTheFont) {
    struct Case {
        int ave, height, promptW, promptH, editH;
        QSize client;
        QRect prompt, edit, ok, cancel;
    } cases[] = {
        // clang-format off
        // 6 px letters, 13 px lines: 1.5 px per horizontal unit, 1.625 px per vertical one.
        {6, 13, 48, 13, 21, {270, 103},
         {12, 13, 48, 13}, {12, 31, 246, 21}, {57, 67, 75, 23}, {138, 67, 75, 23}},
        // A prompt wider than the wrap width is held to it and grows downwards.
        {7, 16, 400, 32, 24, {315, 133},
         {14, 16, 287, 32}, {14, 53, 287, 24}, {67, 92, 88, 28}, {161, 92, 88, 28}},
        // clang-format on
    };
    for (const Case& c : cases) {
        const InputQueryLayout l =
            ComputeInputQueryLayout(c.ave, c.height, QSize(c.promptW, c.promptH), c.editH);
        EXPECT_EQ(l.client, c.client) << c.ave;
        EXPECT_EQ(l.prompt, c.prompt) << c.ave;
        EXPECT_EQ(l.edit, c.edit) << c.ave;
        EXPECT_EQ(l.ok, c.ok) << c.ave;
        EXPECT_EQ(l.cancel, c.cancel) << c.ave;
    }
}

}  // namespace
}  // namespace tarvane
