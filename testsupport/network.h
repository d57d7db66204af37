// The test's own network namespace: what is bound, the addresses on lo, and what crosses it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "testsupport/udp_peer.h"
#include "testsupport/wait.h"

namespace tarvane::e2e {

using namespace tarvane::testing;

bool UdpPortBound(int port);
// The bytes waiting in the receive queues of the UDP sockets bound to the port.
size_t UdpBytesQueued(int port);

// True inside a network namespace of our own (only lo exists): the only place the tests
// may bind port 514 or add addresses.
bool InPrivateNetwork();

// Adds the address (with /32) to lo; an address already there is fine.
void AddLoopbackAddress(const std::string& address);

// Every IPv4/UDP datagram to the given port that crosses lo while it is open, as received,
// taken from a packet socket: what real clients sent, byte for byte.
class LoopbackCapture {
  public:
    explicit LoopbackCapture(int port = 514);
    ~LoopbackCapture();
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    struct Datagram {
        std::string source;
        std::string bytes;
    };
    // The datagrams seen since the last call; waits until at least count have come.
    std::vector<Datagram> Take(size_t count, Duration limit = 10s);

  private:
    // Moves what has come so far to pending_.
    void Drain();

    int fd_ = -1;
    int port_;
    std::vector<Datagram> pending_;
};

}  // namespace tarvane::e2e
