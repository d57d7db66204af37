#include "udp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "velmar/errors.h"
#include "velmar/socket_errors.h"

namespace tarvane {

namespace {

constexpr int kWaitMs = 1000;
constexpr int kReadsPerTurn = 64;
constexpr int kWsaEAddrNotAvail = 10049;
constexpr int kWsaEInval = 10022;

// The four address bytes in network order, in decimal, joined by ".".
void DottedDecimal(const in_addr& address, std::string& out) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    out.assign(text, static_cast<size_t>(n));
}

}  // namespace

UdpListener::UdpListener(HandOff& handOff, UDPReadEvent event)
    : handOff_(handOff), event_(std::move(event)) {}

UdpListener::~UdpListener() {
    Close();
    for (SocketBinding& binding : Bindings) CloseSocket(binding);
}

void UdpListener::Open() {
    if (open_) return;
    if (Bindings.empty()) {
        SocketBinding binding;
        binding.Port = DefaultPort;
        Bindings.push_back(std::move(binding));
    }
    for (SocketBinding& binding : Bindings) {
        CloseSocket(binding);
        binding.Handle.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!binding.Handle) throw velmar::ESocketError(velmar::kCannotAllocateSocket);
        const int fd = binding.Handle.get();

        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (binding.Port < 0 || binding.Port > 65535) velmar::RaiseSocketError(kWsaEInval);
        address.sin_port = htons(static_cast<uint16_t>(binding.Port));
        if (binding.IP.empty()) {
            address.sin_addr.s_addr = htonl(INADDR_ANY);
        } else if (::inet_pton(AF_INET, binding.IP.c_str(), &address.sin_addr) != 1) {
            // No local interface has an address that does not parse.
            velmar::RaiseSocketError(kWsaEAddrNotAvail);
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int err = errno;
            if (err == EADDRINUSE) throw velmar::ESocketError(velmar::kCouldNotBindSocket);
            velmar::RaiseLastSocketError(err);
        }
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            velmar::RaiseLastSocketError(errno);
        }
        DottedDecimal(address.sin_addr, binding.IP);
        binding.Port = ntohs(address.sin_port);
    }

    wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeFd_) velmar::RaiseLastSocketError(errno);
    buffer_ = std::make_unique<char[]>(static_cast<size_t>(std::max(BufferSize, 1)));
    stop_ = false;
    try {
        thread_ = std::thread([this] { Receive(); });
    } catch (...) {
        wakeFd_.reset();
        buffer_.reset();
        throw;
    }
    open_ = true;

    const int broadcast = BroadcastEnabled ? -1 : 0;
    for (SocketBinding& binding : Bindings) {
        if (::setsockopt(binding.Handle.get(), SOL_SOCKET, SO_BROADCAST, &broadcast,
                         sizeof broadcast) != 0) {
            velmar::RaiseLastSocketError(errno);
        }
    }
}

void UdpListener::Close() noexcept {
    if (!open_) return;
    stop_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_.get(), &one, sizeof one);
    // A datagram whose hand-off is still waiting is dropped; the window may be going away.
    handOff_.Cancel(sender_);
    if (thread_.joinable()) thread_.join();
    // Only now: a descriptor closed under the running thread could be reused by the next open
    // and read by the thread.
    for (SocketBinding& binding : Bindings) CloseSocket(binding);
    wakeFd_.reset();
    buffer_.reset();
    handOff_.Resume(sender_);
    open_ = false;
}

void UdpListener::CloseSocket(SocketBinding& binding) noexcept {
    if (!binding.HandleAllocated()) return;
    ::shutdown(binding.Handle.get(), SHUT_WR);
    binding.Handle.reset();
}

void UdpListener::Receive() noexcept {
    std::vector<pollfd> fds;
    fds.reserve(Bindings.size() + 1);
    for (const SocketBinding& binding : Bindings) fds.push_back({binding.Handle.get(), POLLIN, 0});
    fds.push_back({wakeFd_.get(), POLLIN, 0});
    char* const buffer = buffer_.get();
    while (!stop_) {
        for (pollfd& p : fds) p.revents = 0;
        // poll rather than select: select cannot watch a descriptor numbered 1024 or above.
        if (::poll(fds.data(), fds.size(), kWaitMs) <= 0) continue;
        for (size_t i = 0; i < Bindings.size(); ++i) {
            if (stop_) break;
            if (!(fds[i].revents & (POLLIN | POLLERR))) continue;
            // A socket with a backlog is read on without a poll per datagram, a bounded number
            // of times so that the other sockets get their turn.
            for (int n = 0; n < kReadsPerTurn && !stop_; ++n) {
                if (!ReceiveOne(Bindings[i], buffer)) break;
            }
        }
    }
}

bool UdpListener::ReceiveOne(SocketBinding& binding, char* buffer) noexcept {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const size_t capacity = static_cast<size_t>(std::max(BufferSize, 0));
    // MSG_TRUNC reports a longer datagram's real length, so it is dropped rather than delivered
    // cut short; MSG_DONTWAIT because a datagram announced by poll can still be gone (a bad
    // checksum), and a blocked read would never see the stop.
    const ssize_t n = ::recvfrom(binding.Handle.get(), buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return false;
    if (static_cast<size_t>(n) > capacity) return true;
    try {
        DottedDecimal(from.sin_addr, binding.SenderIP);
        binding.SenderPort = ntohs(from.sin_port);
        const std::string_view data(buffer, static_cast<size_t>(n));
        auto call = [&] {
            if (event_) event_(*this, data, binding);
        };
        if (ThreadedEvent) {
            call();
        } else {
            // The event's own error came back in the result; like every error of the event,
            // it costs only this datagram.
            handOff_.Deliver(sender_, call);
        }
    } catch (...) {
    }
    return true;
}

}  // namespace tarvane
