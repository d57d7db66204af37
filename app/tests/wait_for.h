#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace tarvane::testing {

// Processes events until the condition holds or the limit passes; whether it held.
inline bool WaitFor(const std::function<bool()>& condition, int limitMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace tarvane::testing
