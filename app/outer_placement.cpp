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
    : QObject(window), window_(window), outerSize_(outerSize) {
    connect(&recheck_, &QTimer::timeout, this, [this] {
        if (recheckUntil_.hasExpired(3000)) recheck_.stop();
        Recheck();
    });
}

void OuterPlacement::Apply() {
    if (!appliedFrame_) {
        if (QWindow* handle = window_->windowHandle()) handle->installEventFilter(this);
        // The frame's size may also come after those events, announced by nothing the toolkit
        // passes on: looked at again for a while.
        recheckUntil_.start();
        recheck_.start(50);
    }
    const QMargins frame = FrameMarginsOf(window_);
    appliedFrame_ = frame;
    corrections_ = 0;
    const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize inner = outerSize_ ? *outerSize_ - extra : window_->size();
    const QRect outer = Centred(inner + extra);
    window_->setGeometry(outer.marginsRemoved(frame));
}

QRect OuterPlacement::Centred(QSize outer) const {
    // The whole screen, not the part a panel leaves free.
    QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    const QRect s = screen ? screen->geometry() : QRect(QPoint(0, 0), outer);
    return QRect(s.x() + (s.width() - outer.width()) / 2, s.y() + (s.height() - outer.height()) / 2,
                 outer.width(), outer.height());
}

void OuterPlacement::Recheck() {
    QWindow* handle = window_->windowHandle();
    const QMargins frame = FrameMarginsOf(window_);
    const bool valid =
        frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 && frame.bottom() >= 0;
    if (!handle || !valid || !appliedFrame_) return;
    if (frame != *appliedFrame_) {
        Apply();
        return;
    }
    if (frame.isNull()) return;
    // Where the window manager has put the frame, as the server reports it: while the toolkit
    // still learns the frame it may have placed the window off by the frame, once.
    const QRect outer = handle->geometry().marginsAdded(frame);
    const QRect wanted = Centred(outer.size());
    if (outer == wanted || ++corrections_ > 3) {
        handle->removeEventFilter(this);
        recheck_.stop();
        return;
    }
    window_->setGeometry(window_->geometry().translated(wanted.topLeft() - outer.topLeft()));
}

bool OuterPlacement::eventFilter(QObject* watched, QEvent* event) {
    // The window manager's frame mostly shows up at the native window's first move, resize or
    // expose after it was placed.
    const QEvent::Type type = event->type();
    if (watched == window_->windowHandle() &&
        (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose))
        Recheck();
    return QObject::eventFilter(watched, event);
}

}  // namespace tarvane
