#include "window_receiver.h"

#include <QCoreApplication>
#include <QEvent>

#include "view/rolling_view.h"

namespace tarvane {

namespace {

const QEvent::Type kHandOffEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

WindowReceiver::WindowReceiver(RollingView& view, const tSettings& settings)
    : view_(view), receiver_(*this, settings) {}

bool WindowReceiver::event(QEvent* e) {
    if (e->type() != kHandOffEvent) return QObject::event(e);
    receiver_.ProcessPending();
    return true;
}

void WindowReceiver::FocusView() { view_.FocusView(); }

void WindowReceiver::ShowLine(const std::string& displayLine) {
    view_.ShowLine(ViewTextFromBytes(displayLine));
}

void WindowReceiver::WakeWindowThread() {
    QCoreApplication::postEvent(this, new QEvent(kHandOffEvent));
}

}  // namespace tarvane
