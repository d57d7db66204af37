#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>
#include <optional>

class QShowEvent;
class QWidget;
class QWindow;

namespace tarvane {

// Puts a top-level window's outer frame in the middle of its screen, at a given outer size when
// one is given. The frame is asked of the window manager before the window is mapped, and size
// and place are set once from it: the window manager's later notices (frame, moves, sizes, in
// whatever order and as often as they come) change nothing.
class OuterPlacement : public QObject {
  public:
    OuterPlacement(QWidget* window, std::optional<QSize> outerSize);

    // Sets size and place; called when the window is about to be shown (its native window
    // exists, not yet mapped), once its own size is final. Only the first call asks for the
    // frame; later ones place the window anew with the same frame.
    void Apply();

    // What the frame the window manager gives the window adds to the window's own size, as it
    // told before mapping it; none where there is no window manager, and none before the first
    // Apply.
    QSize FrameExtra() const;

  private:
    // The outer rectangle of that size in the middle of the screen.
    QRect Centred(QSize outer) const;

    QWidget* window_;
    std::optional<QSize> outerSize_;
    std::optional<QMargins> frame_;
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

// The frame the window manager will draw around the native window, asked of it before the window
// is mapped (the window manager's estimate, which it then keeps to); none without a window
// manager that answers, or off X11.
QMargins FrameBeforeMapping(QWindow* window);

}  // namespace tarvane
