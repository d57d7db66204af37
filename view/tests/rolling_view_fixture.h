#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>
#include <memory>

#include "view/rolling_view.h"

namespace tarvane {

// A shown window holding the view, as the main window does; the view is a child so that its
// height is not bound by a window manager's minimum.
class RollingViewTest : public ::testing::Test {
  public:
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->resize(1000, 700);
        view_ = new RollingView(window_.get());
        view_->SetStatusSink([this](const QString& text) { status_ = text; });
        view_->setGeometry(0, 0, 785, 399);
        window_->show();
    }

    void SetSize(int width, int height) { view_->setGeometry(0, 0, width, height); }
    QString Text() const { return view_->toPlainText(); }
    int Caret() const { return view_->textCursor().position(); }
    int End() const { return view_->document()->characterCount() - 1; }

    // The shortest line of numbered words that takes the given number of rows at the current
    // width; the view is left empty.
    QString LineOfRows(int rows) {
        QString line;
        for (int word = 1; word < 2000; ++word) {
            line += QStringLiteral("word%1 ").arg(word);
            view_->clear();
            view_->AddLine(line.trimmed());
            if (view_->RowCount() == rows) {
                view_->clear();
                return line.trimmed();
            }
        }
        ADD_FAILURE() << "no line of " << rows << " rows";
        return {};
    }

    std::unique_ptr<QWidget> window_;
    RollingView* view_ = nullptr;
    QString status_;
};

}  // namespace tarvane
