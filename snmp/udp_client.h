#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace tarvane {

// The window's UDP client: one unbound IPv4 socket, made on first use and kept until
// destruction, so that every datagram leaves from the same local port.
class UdpClient {
  public:
    UdpClient() = default;
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    // Remote IPv4 address in dotted decimal, used without any name lookup.
    std::string Host;
    // Remote UDP port.
    int Port = 0;
    bool BroadcastEnabled = false;
    // The largest datagram that can be received.
    int BufferSize = 8192;

    // Sends one datagram to Host:Port. Whatever is still waiting on the socket is discarded
    // first, so nothing that came before this send can pass for its answer. Raises
    // "Cannot allocate socket.", "Package Size Too Big.", "Not all bytes sent." or the
    // socket error.
    void Send(std::string_view data);

    // The first datagram from the address and port of the last send that arrives within
    // `timeoutMs`; empty when none does. Datagrams from anyone else are passed over. Raises
    // the socket error when receiving fails, when the peer reports the send undeliverable
    // (ICMP), and 10040 for a datagram over BufferSize.
    std::string Receive(int timeoutMs);

  private:
    void Allocate();
    void DiscardPending();
    // Reads the socket's queued error reports; true when there was any. Raises the first that
    // concerns the peer.
    bool TakeErrorReports();
    bool IsPeer(const sockaddr_in& address) const;

    UniqueFd fd_;
    sockaddr_in peer_{};
};

}  // namespace tarvane
