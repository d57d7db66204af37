#pragma once

#include <cstdint>

#include "reception/hand_off.h"
#include "reception/intake.h"
#include "reception/udp_listener.h"

namespace tarvane {

// The syslog port the program listens on, on every local address.
constexpr int32_t kSyslogPort = 514;

// What the datagram road needs of the window: the intake's view, and a wake-up of the window
// thread for the datagrams waiting to be shown.
class ReceiverWindow : public IntakeView {
  public:
    // From the receive thread; must not block on the window thread, which answers by running
    // Receiver::ProcessPending.
    virtual void WakeWindowThread() = 0;
};

// The datagram road: the listener's receive thread hands every datagram to the window thread,
// where the intake shows and writes it under the settings of the moment. Start, Stop and
// ProcessPending belong to the window thread; it stops, at the latest, as it goes.
class Receiver {
  public:
    Receiver(ReceiverWindow& window, const tSettings& settings);
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Opens the port and starts the receive thread; raises the listener's errors.
    void Start();
    // Returns once the receive thread has ended; a datagram still waiting is dropped.
    void Stop() noexcept;
    // Takes the waiting datagrams, for a slice of time.
    void ProcessPending();

  private:
    HandOff handOff_;
    Intake intake_;
    UdpListener IdSysLogServer;
};

}  // namespace tarvane
