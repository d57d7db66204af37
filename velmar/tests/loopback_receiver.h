#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

namespace velmar::testing {

// A UDP socket on 127.0.0.1 that catches what the code under test sends; port 0 takes any
// free port.
class LoopbackReceiver {
  public:
    explicit LoopbackReceiver(uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                 ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0;
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackReceiver() {
        if (fd_ >= 0) ::close(fd_);
    }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    bool Bound() const { return bound_; }
    int Port() const { return port_; }

    // The next datagram, or nothing when none comes within the wait.
    std::optional<std::string> Receive(int waitMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return std::nullopt;
        std::string buf(70000, '\0');
        const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
        if (n < 0) return std::nullopt;
        buf.resize(static_cast<size_t>(n));
        return buf;
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
    int port_ = 0;
};

}  // namespace velmar::testing
