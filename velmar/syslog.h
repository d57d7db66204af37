#pragma once

#include <cstdint>
#include <string>

#include "base/clock.h"

namespace velmar {

// "<pri>MMM DD YYYY HH:MM:SS: %tag : text", the priority being severity + facility * 8.
std::string SyslogDatagram(const tarvane::LocalTime& now, int32_t severity, int32_t facility,
                           const std::string& tag, const std::string& text);

// Sends one datagram to port 514 of the log's SyslogHost; nothing when no host is set. Raises
// the socket errors, "Package Size Too Big." and "Host not found." on failure.
void SendSyslog(const std::string& text, int32_t severity, int32_t facility,
                const tarvane::Clock& clock = tarvane::SystemClockInstance(), int port = 514);

}  // namespace velmar
