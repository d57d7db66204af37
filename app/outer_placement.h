#pragma once

#include <QElapsedTimer>
#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <optional>

class QShowEvent;
class QWidget;

namespace tarvane {

// Puts a top-level window's outer frame in the middle of its screen, at a given outer size when
// one is given. The frame is known only once the window manager has reported it, after the
// window is shown: each time the reported frame changes, size and place are applied anew, so
// the first layout already has the size of every later one.
class OuterPlacement : public QObject {
  public:
    OuterPlacement(QWidget* window, std::optional<QSize> outerSize);

    // Applies size and place with the frame as far as it is known; called when the window is
    // about to be shown, once its own size is final.
    void Apply();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Applies size and place again when the frame has changed since, and sets right a place
    // that the window system has taken otherwise.
    void Recheck();
    // The outer rectangle of that size in the middle of the screen.
    QRect Centred(QSize outer) const;

    QWidget* window_;
    std::optional<QSize> outerSize_;
    std::optional<QMargins> appliedFrame_;
    QTimer recheck_;
    QElapsedTimer recheckUntil_;
    int corrections_ = 0;
};

// A top-level widget of class Base whose outer frame goes to the middle of the screen when it is
// shown, once its size is final.
template <class Base>
class ScreenCentred : public Base {
  public:
    using Base::Base;

  protected:
    void showEvent(QShowEvent* event) override {
        Base::showEvent(event);
        placement_.Apply();
    }

  private:
    OuterPlacement placement_{this, std::nullopt};
};

// The frame around a top-level window as the platform reports it; none where there is none.
QMargins FrameMarginsOf(const QWidget* window);

}  // namespace tarvane
