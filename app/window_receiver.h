#pragma once

#include <QObject>
#include <string>

#include "reception/receiver.h"

class QEvent;

namespace tarvane {

class RollingView;

// The window thread's half of the datagram road: the receiver's lines go to the view, and its
// hand-offs run on the window thread whenever that thread processes events, in the main loop
// and in every modal loop alike.
class WindowReceiver final : public QObject, private ReceiverWindow {
  public:
    WindowReceiver(RollingView& view, const tSettings& settings);

    // Opens the syslog port; raises when it cannot.
    void Start() { receiver_.Start(); }

  protected:
    bool event(QEvent* e) override;

  private:
    void FocusView() override;
    void ShowLine(const std::string& displayLine) override;
    void WakeWindowThread() override;

    RollingView& view_;
    // Destroyed before the QObject part: the receive thread, which posts to it, has ended by the
    // time the wake-ups still posted are dropped.
    Receiver receiver_;
};

}  // namespace tarvane
