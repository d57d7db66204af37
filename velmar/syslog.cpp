#include "syslog.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "base/unique_fd.h"
#include "velmar/errors.h"
#include "velmar/records.h"
#include "velmar/socket_errors.h"
#include "velmar/system.h"

namespace velmar {

namespace {

// Four numbers from 0 to 255 joined by dots, and nothing else.
bool ParseDotted(const std::string& host, in_addr& out) {
    unsigned parts[4];
    char tail;
    if (std::sscanf(host.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &tail) != 4) {
        return false;
    }
    for (const char c : host) {
        if (!(c == '.' || (c >= '0' && c <= '9'))) return false;
    }
    uint32_t value = 0;
    for (const unsigned p : parts) {
        if (p > 255) return false;
        value = (value << 8) | p;
    }
    out.s_addr = htonl(value);
    return true;
}

in_addr Resolve(const std::string& host) {
    in_addr address{};
    if (::strcasecmp(host.c_str(), "LOCALHOST") == 0) {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    if (ParseDotted(host, address)) return address;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        RaiseSocketError(kWsaHostNotFound);
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return address;
}

}  // namespace

std::string SyslogDatagram(const tarvane::LocalTime& now, int32_t severity, int32_t facility,
                           const std::string& tag, const std::string& text) {
    const std::string& sep = TimeSeparator();
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%s %02d %04d %02d%s%02d%s%02d",
                  MonthAbbreviation(now.month).c_str(), now.day % 100, now.year % 10000,
                  now.hour % 100, sep.c_str(), now.minute % 100, sep.c_str(), now.second % 100);
    const int64_t priority = static_cast<int64_t>(severity) + static_cast<int64_t>(facility) * 8;
    return "<" + std::to_string(priority) + ">" + stamp + ": %" + tag + " : " + text;
}

void SendSyslog(const std::string& text, int32_t severity, int32_t facility,
                const tarvane::Clock& clock, int port) {
    const tLog& log = GlobalSettings.Log;
    if (log.SyslogHost.empty()) return;
    const tarvane::UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!s) throw ESocketError(kCannotAllocateSocket);
    const int off = 0;
    if (::setsockopt(s.get(), SOL_SOCKET, SO_BROADCAST, &off, sizeof off) != 0) {
        RaiseLastSocketError(errno);
    }
    const std::string datagram = SyslogDatagram(clock.Now(), severity, facility, log.Tag, text);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr = Resolve(log.SyslogHost);
    const ssize_t sent = ::sendto(s.get(), datagram.data(), datagram.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0) {
        if (errno == EMSGSIZE) throw ESocketError(kPackageSizeTooBig);
        RaiseLastSocketError(errno);
    }
    if (static_cast<size_t>(sent) != datagram.size()) throw ESocketError(kNotAllBytesSent);
}

}  // namespace velmar
