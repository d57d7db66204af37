#include "udp_client.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "velmar/errors.h"
#include "velmar/socket_errors.h"

namespace tarvane {

namespace {

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

}  // namespace

UdpClient::~UdpClient() {
    if (fd_) ::shutdown(fd_.get(), SHUT_WR);
}

void UdpClient::Allocate() {
    if (fd_) return;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) throw velmar::ESocketError(velmar::kCannotAllocateSocket);
    const int broadcast = BroadcastEnabled ? 1 : 0;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast) != 0) {
        velmar::RaiseLastSocketError(errno);
    }
    // Without it Linux keeps an ICMP "port unreachable" from an unconnected socket to itself,
    // and a query to a host without an agent would look like one that got no answer.
    const int recvErr = 1;
    ::setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &recvErr, sizeof recvErr);
    fd_ = std::move(fd);
}

bool UdpClient::IsPeer(const sockaddr_in& address) const {
    return peer_.sin_family == AF_INET && address.sin_family == AF_INET &&
           address.sin_addr.s_addr == peer_.sin_addr.s_addr && address.sin_port == peer_.sin_port;
}

bool UdpClient::TakeErrorReports() {
    bool any = false;
    int raise = 0;
    for (;;) {
        sockaddr_in offender{};
        char control[512];
        char payload[1];
        iovec iov{payload, sizeof payload};
        msghdr msg{};
        msg.msg_name = &offender;
        msg.msg_namelen = sizeof offender;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd_.get(), &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        any = true;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
            sock_extended_err report{};
            std::memcpy(&report, CMSG_DATA(c), sizeof report);
            // The address is where the undeliverable datagram was going.
            if (raise == 0 && report.ee_errno != 0 && IsPeer(offender)) raise = report.ee_errno;
        }
    }
    if (raise != 0) velmar::RaiseLastSocketError(raise);
    return any;
}

void UdpClient::DiscardPending() {
    // With no peer, no report raises: every one of them is stale.
    peer_ = {};
    TakeErrorReports();
    // A one-byte buffer with MSG_TRUNC drops each datagram whole. The bound keeps a flood from
    // holding the window; what it leaves behind cannot pass the sender check.
    char byte;
    for (int failures = 0, dropped = 0; failures < 16 && dropped < 4096;) {
        const ssize_t n = ::recv(fd_.get(), &byte, 1, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0) {
            ++dropped;
            continue;
        }
        if (WouldBlock(errno)) break;
        if (errno != EINTR) ++failures;
    }
    TakeErrorReports();
}

void UdpClient::Send(std::string_view data) {
    Allocate();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(Port));
    if (::inet_pton(AF_INET, Host.c_str(), &to.sin_addr) != 1) {
        velmar::RaiseSocketError(velmar::kWsaHostNotFound);
    }
    DiscardPending();
    ssize_t sent;
    do {
        sent = ::sendto(fd_.get(), data.data(), data.size(), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EMSGSIZE) throw velmar::ESocketError(velmar::kPackageSizeTooBig);
        velmar::RaiseLastSocketError(errno);
    }
    if (static_cast<std::size_t>(sent) < data.size()) {
        throw velmar::ESocketError(velmar::kNotAllBytesSent);
    }
    peer_ = to;
}

std::string UdpClient::Receive(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    Allocate();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<char> buffer(static_cast<std::size_t>(BufferSize > 0 ? BufferSize : 0));
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // Past the limit only while datagrams of others keep the loop going.
        if (left < 0) return {};
        pollfd p{fd_.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return {};
        TakeErrorReports();
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        // MSG_TRUNC makes recvfrom tell the datagram's real length.
        const ssize_t n =
            ::recvfrom(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            const int err = errno;
            if (WouldBlock(err) || err == EINTR) continue;
            // The pending error of an ICMP report about someone else is no failure of ours.
            if (TakeErrorReports()) continue;
            velmar::RaiseLastSocketError(err);
        }
        if (!IsPeer(from)) continue;
        if (n > BufferSize) velmar::RaiseSocketError(velmar::kWsaEMsgSize);
        return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace tarvane
