#include "receiver.h"

#include <chrono>

namespace tarvane {

Receiver::Receiver(ReceiverWindow& window, const tSettings& settings)
    : handOff_([&window] { window.WakeWindowThread(); }),
      intake_(settings, window),
      IdSysLogServer(handOff_, [this](UdpListener&, std::string_view data, SocketBinding& binding) {
          intake_.IdSysLogServerUDPRead(data, binding.SenderIP);
      }) {
    IdSysLogServer.BroadcastEnabled = true;
    IdSysLogServer.DefaultPort = kSyslogPort;
}

void Receiver::Start() { IdSysLogServer.Open(); }

void Receiver::Stop() noexcept { IdSysLogServer.Close(); }

void Receiver::ProcessPending() {
    // Under a flood the next datagram comes within a millisecond; the slice keeps painting and
    // input going meanwhile.
    handOff_.ProcessPendingFor({std::chrono::microseconds(30), std::chrono::milliseconds(1)},
                               std::chrono::milliseconds(5));
}

}  // namespace tarvane
