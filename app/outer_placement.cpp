#include "outer_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace tarvane {

QMargins FrameMarginsOf(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

OuterPlacement::OuterPlacement(QWidget* window, std::optional<QSize> outerSize)
    : QObject(window), window_(window), outerSize_(outerSize) {}

void OuterPlacement::Apply() {
    if (QWindow* handle = window_->windowHandle()) handle->installEventFilter(this);
    const QMargins frame = FrameMarginsOf(window_);
    appliedFrame_ = frame;
    const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
    if (outerSize_) window_->resize(*outerSize_ - extra);
    // The whole screen, not the part a panel leaves free.
    QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect s = screen->geometry();
    const QSize outer = window_->size() + extra;
    // A top-level window's position is that of its frame.
    window_->move(s.x() + (s.width() - outer.width()) / 2,
                  s.y() + (s.height() - outer.height()) / 2);
}

bool OuterPlacement::eventFilter(QObject* watched, QEvent* event) {
    // The window manager's frame shows up at the native window's first move, resize or expose
    // after it was placed; from then on the window is the user's to move and size.
    const QEvent::Type type = event->type();
    if (appliedFrame_ && watched == window_->windowHandle() &&
        (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose)) {
        const QMargins frame = FrameMarginsOf(window_);
        const bool valid = frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 &&
                           frame.bottom() >= 0;
        if (valid && frame != *appliedFrame_) {
            Apply();
            if (!frame.isNull()) watched->removeEventFilter(this);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarvane
