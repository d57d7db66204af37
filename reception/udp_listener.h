#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "reception/hand_off.h"

namespace tarvane {

// One bound socket of the listener.
struct SocketBinding {
    // Local IPv4 address in dotted decimal; empty binds every local address. After binding, the
    // bound address.
    std::string IP;
    // Local UDP port; after binding, the bound port.
    int32_t Port = 0;
    // The bound socket, held from Open until Close.
    UniqueFd Handle;
    bool HandleAllocated() const { return static_cast<bool>(Handle); }
    // The sender of the datagram being delivered.
    std::string SenderIP;
    int32_t SenderPort = 0;
};

class UdpListener;
// `data` and `binding` are valid until the event returns.
using UDPReadEvent =
    std::function<void(UdpListener& sender, std::string_view data, SocketBinding& binding)>;

// Receives UDP datagrams on a thread of its own and runs its event for each one, on the window
// thread through the hand-off unless ThreadedEvent is set. The receive thread reads the next
// datagram only after the event for the previous one has returned.
//
// Open, Close and the properties belong to the window thread; Bindings, BufferSize and
// ThreadedEvent must not change while the listener is open.
class UdpListener {
  public:
    UdpListener(HandOff& handOff, UDPReadEvent event);
    // Closes, then closes every socket a binding still holds (from a failed Open).
    ~UdpListener();
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    // Part of the listener's required interface; the program itself never asks.
    bool Active() const { return open_; }

    bool BroadcastEnabled = false;
    // An empty list gets one binding on every local address at DefaultPort when opening.
    std::vector<SocketBinding> Bindings;
    int32_t DefaultPort = 0;
    // The largest datagram delivered; a longer one is dropped whole.
    int32_t BufferSize = 8192;
    // Part of the listener's required interface; the program keeps it false, the benchmark
    // measures both.
    bool ThreadedEvent = false;

    // Binds every binding and starts the receive thread. Raises "Cannot allocate socket.",
    // "Could not bind socket. Address and port are already in use." or the socket error.
    void Open();
    // Returns once the receive thread has ended; a hand-off still pending is discarded.
    void Close() noexcept;

  private:
    void Receive() noexcept;
    // Whether a datagram was read (delivered, or dropped as too long).
    bool ReceiveOne(SocketBinding& binding, char* buffer) noexcept;
    static void CloseSocket(SocketBinding& binding) noexcept;

    HandOff& handOff_;
    const UDPReadEvent event_;
    HandOff::Sender sender_;
    bool open_ = false;
    std::atomic<bool> stop_{false};
    // Wakes the receive thread out of its wait when closing.
    UniqueFd wakeFd_;
    std::unique_ptr<char[]> buffer_;
    std::thread thread_;
};

}  // namespace tarvane
