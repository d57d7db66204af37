// A datagram and a sender in: the line shown and written, which never holds a control byte
// but tab and never starts or ends with a blank.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "reception/intake.h"
#include "velmar/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first byte tells how long the sender is; the rest is the datagram.
    const size_t senderLength = input.empty() ? 0 : static_cast<uint8_t>(input[0]) % 20;
    const std::string_view rest = input.substr(input.empty() ? 0 : 1);
    const std::string_view sender = rest.substr(0, std::min(senderLength, rest.size()));
    const std::string_view datagram = rest.substr(sender.size());
    tarvane::LocalTime now;
    now.year = 2024, now.month = 3, now.day = 5, now.hour = 14, now.minute = 7, now.second = 9;
    tarvane::IsExcluded(sender, datagram);
    std::optional<int32_t> severity;
    try {
        severity = tarvane::SeverityOf(datagram);
    } catch (const velmar::EConvertError&) {
        // A priority that is no integer drops the datagram.
        return 0;
    }
    const std::string line = tarvane::BuildDisplayLine(now, severity, sender, datagram);
    for (const char c : line) {
        if (static_cast<unsigned char>(c) < 32 && c != '\t') __builtin_trap();
    }
    if (line.empty() || static_cast<unsigned char>(line.back()) <= 32) __builtin_trap();
    return 0;
}
