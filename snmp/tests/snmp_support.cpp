#include "snmp_support.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace tarvane::testing {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in AddressOf(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        throw std::invalid_argument("bad address " + address);
    }
    return a;
}

}  // namespace

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/snmp-test-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("mkdtemp");
    path_ = pattern;
    if (base) oldTmpDir_ = base;
    setenv("TMPDIR", path_.c_str(), 1);
}

ScratchDir::~ScratchDir() {
    if (oldTmpDir_) {
        setenv("TMPDIR", oldTmpDir_->c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void ScratchDir::PointTempDirAt(const std::string& dir) { setenv("TMPDIR", dir.c_str(), 1); }

std::vector<std::string> ScratchDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

UdpPeer::UdpPeer(const std::string& address, int port) : address_(address) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) Fail("socket");
    const sockaddr_in a = AddressOf(address, port);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        const int err = errno;
        close(fd_);
        errno = err;
        Fail("bind");
    }
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.sin_port);
}

UdpPeer::~UdpPeer() { close(fd_); }

std::optional<Datagram> UdpPeer::Receive(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    std::string buffer(65536, '\0');
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) Fail("recvfrom");
    buffer.resize(static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    return Datagram{buffer, text, ntohs(from.sin_port)};
}

void UdpPeer::SendTo(const std::string& address, int port, const std::string& data) {
    const sockaddr_in to = AddressOf(address, port);
    if (sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) != static_cast<ssize_t>(data.size())) {
        Fail("sendto");
    }
}

}  // namespace tarvane::testing
