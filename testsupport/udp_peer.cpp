#include "testsupport/udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace tarvane::testing {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in AddressOf(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
        throw std::invalid_argument("bad address " + address);
    return a;
}

}  // namespace

UdpPeer::UdpPeer(const std::string& address, int port) : address_(address) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) Fail("socket");
    sockaddr_in a = AddressOf(address, port);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        const int err = errno;
        ::close(fd_);
        errno = err;
        Fail("bind " + address + ":" + std::to_string(port));
    }
    port_ = ntohs(a.sin_port);
}

UdpPeer::~UdpPeer() { ::close(fd_); }

void UdpPeer::EnableBroadcast() {
    const int on = 1;
    if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) Fail("SO_BROADCAST");
}

std::optional<Datagram> UdpPeer::Receive(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    std::string buffer(70000, '\0');
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) Fail("recvfrom");
    buffer.resize(static_cast<size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    return Datagram{buffer, text, ntohs(from.sin_port)};
}

std::optional<std::string> UdpPeer::ReceiveData(int timeoutMs) {
    auto datagram = Receive(timeoutMs);
    if (!datagram) return std::nullopt;
    return std::move(datagram->data);
}

void UdpPeer::SendTo(const std::string& address, int port, const std::string& data) {
    const sockaddr_in to = AddressOf(address, port);
    if (::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) != static_cast<ssize_t>(data.size()))
        Fail("sendto " + address);
}

void SendDatagram(const std::string& source, const std::string& bytes, int port) {
    UdpPeer(source).Send(port, bytes);
}

}  // namespace tarvane::testing
