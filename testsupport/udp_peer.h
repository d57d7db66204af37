// The other end of the code under test's UDP traffic: a bound IPv4 socket that sends and
// receives datagrams.
#pragma once

#include <optional>
#include <string>

namespace tarvane::testing {

struct Datagram {
    std::string data;
    std::string senderAddress;
    int senderPort = 0;
};

class UdpPeer {
  public:
    // Raises when the address and port cannot be bound; port 0 takes any free port.
    explicit UdpPeer(const std::string& address = "127.0.0.1", int port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    int Port() const { return port_; }
    const std::string& Address() const { return address_; }
    int Fd() const { return fd_; }
    void EnableBroadcast();

    // The next datagram, or nothing when none comes within the wait.
    std::optional<Datagram> Receive(int timeoutMs);
    std::optional<std::string> ReceiveData(int timeoutMs);
    // Raises when the datagram did not leave whole.
    void SendTo(const std::string& address, int port, const std::string& data);
    void Send(int port, const std::string& data) { SendTo("127.0.0.1", port, data); }

  private:
    int fd_ = -1;
    std::string address_;
    int port_ = 0;
};

// One datagram to 127.0.0.1:port from the given local address.
void SendDatagram(const std::string& source, const std::string& bytes, int port = 514);

}  // namespace tarvane::testing
