#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "settings/settings.h"

namespace tarvane {

// What the intake needs of the message view.
class IntakeView {
  public:
    virtual ~IntakeView() = default;
    virtual void FocusView() = 0;
    virtual void ShowLine(const std::string& displayLine) = 0;
};

// Whether the sender's address stands in the exclusion list as a whole address: neither a digit
// nor a "." touches the occurrence, so "192.168.1.100" does not also hide 192.168.1.1.
bool IsExcluded(std::string_view senderIP, std::string_view excludedClientIPs);

// The severity of a datagram: priority mod 8 (sign of the priority) when it begins with "<",
// nothing when it does not. Raises EConvertError for a priority that is not an integer.
std::optional<int32_t> SeverityOf(std::string_view datagram);

// Whether a datagram of this severity passes the threshold.
inline bool PassesThreshold(int32_t severity, int32_t threshold) {
    return severity == 0 || severity <= threshold;
}

// The display line: time, ":", "[sev] " when present, sender, " ", text; trimmed of bytes of 32
// or less at both ends, and control bytes inside written as "#" and three octal digits so one
// datagram is always one line.
std::string BuildDisplayLine(const LocalTime& now, std::optional<int32_t> severity,
                             std::string_view senderIP, std::string_view datagram);

// Bytes below 32 other than TAB as "#ooo".
std::string EscapeControlBytes(std::string_view text);

// The datagram event: exclusion, focus, severity and threshold, the display line, the view, the
// daily retention pass and the daily file. The settings are read at every call: a changed
// threshold applies from the next datagram.
class Intake {
  public:
    Intake(const tSettings& settings, IntakeView& view, const Clock& clock = SystemClockInstance())
        : settings_(settings), view_(view), clock_(clock) {}

    void IdSysLogServerUDPRead(std::string_view datagram, const std::string& senderIP);

  private:
    const tSettings& settings_;
    IntakeView& view_;
    const Clock& clock_;
    // No real day has a negative day number here, so the first shown line always runs a pass.
    int64_t lastRetentionDay_ = INT64_MIN;
};

}  // namespace tarvane
