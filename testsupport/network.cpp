#include "testsupport/network.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "testsupport/process.h"

namespace tarvane::e2e {

namespace {

// Calls take(local, rxQueue) for each socket of /proc/net/udp.
template <typename Take>
void ForEachUdpSocket(Take take) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const size_t colon = queues.find(':');
        take(local,
             colon == std::string::npos ? 0 : std::stoul(queues.substr(colon + 1), nullptr, 16));
    }
}

std::string HexPort(int port) {
    char hexPort[8];
    std::snprintf(hexPort, sizeof hexPort, ":%04X", port);
    return hexPort;
}

}  // namespace

bool UdpPortBound(int port) {
    bool bound = false;
    ForEachUdpSocket(
        [&](const std::string& local, size_t) { bound = bound || local.ends_with(HexPort(port)); });
    return bound;
}

size_t UdpBytesQueued(int port) {
    size_t queued = 0;
    ForEachUdpSocket([&](const std::string& local, size_t rx) {
        if (local.ends_with(HexPort(port))) queued += rx;
    });
    return queued;
}

bool InPrivateNetwork() {
    std::ifstream table("/proc/net/dev");
    std::string line;
    int interfaces = 0;
    bool lo = false;
    for (int row = 0; std::getline(table, line); ++row) {
        if (row < 2) continue;
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        ++interfaces;
        lo = lo || name == "lo:";
    }
    return interfaces == 1 && lo;
}

void AddLoopbackAddress(const std::string& address) {
    if (!InPrivateNetwork()) throw std::runtime_error("not in a private network namespace");
    RunCommand({"ip", "addr", "add", address + "/32", "dev", "lo"});
    const auto shown = RunCommand({"ip", "-4", "addr", "show", "dev", "lo"});
    if (shown.output.find("inet " + address + "/32") == std::string::npos)
        throw std::runtime_error("cannot add " + address + " to lo");
}

LoopbackCapture::LoopbackCapture(int port) : port_(port) {
    fd_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_IP));
    if (fd_ < 0) throw std::runtime_error(std::string("packet socket: ") + std::strerror(errno));
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = static_cast<int>(::if_nametoindex("lo"));
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        throw std::runtime_error(std::string("packet bind: ") + std::strerror(errno));
    int size = 8 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

LoopbackCapture::~LoopbackCapture() { ::close(fd_); }

void LoopbackCapture::Drain() {
    static thread_local char packet[70000];
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n = ::recvfrom(fd_, packet, sizeof packet, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0) return;
        // lo shows each packet twice: once going out, once coming in.
        if (from.sll_pkttype == PACKET_OUTGOING) continue;
        if (static_cast<size_t>(n) < sizeof(iphdr)) continue;
        iphdr ip;
        std::memcpy(&ip, packet, sizeof ip);
        const size_t ipLength = ip.ihl * 4u;
        if (ip.protocol != IPPROTO_UDP || static_cast<size_t>(n) < ipLength + 8) continue;
        udphdr udp;
        std::memcpy(&udp, packet + ipLength, sizeof udp);
        if (ntohs(udp.dest) != port_) continue;
        char source[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &ip.saddr, source, sizeof source);
        const size_t payload = std::min<size_t>(ntohs(udp.len) - 8u, n - ipLength - 8);
        pending_.push_back({source, std::string(packet + ipLength + 8, payload)});
    }
}

std::vector<LoopbackCapture::Datagram> LoopbackCapture::Take(size_t count, Duration limit) {
    WaitUntil(
        [&] {
            Drain();
            return pending_.size() >= count;
        },
        limit);
    return std::exchange(pending_, {});
}

}  // namespace tarvane::e2e
