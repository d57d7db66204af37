#include "intake.h"

#include <algorithm>

#include "logfiles/logfiles.h"
#include "velmar/int_syntax.h"
#include "velmar/system.h"
#include "velmar/xml_text.h"

namespace tarvane {

namespace {
bool IsAddressChar(char c) { return (c >= '0' && c <= '9') || c == '.'; }
}  // namespace

bool IsExcluded(std::string_view senderIP, std::string_view list) {
    if (senderIP.empty()) return false;
    for (size_t at = list.find(senderIP); at != std::string_view::npos;
         at = list.find(senderIP, at + 1)) {
        const size_t end = at + senderIP.size();
        const bool clearBefore = at == 0 || !IsAddressChar(list[at - 1]);
        const bool clearAfter = end == list.size() || !IsAddressChar(list[end]);
        if (clearBefore && clearAfter) return true;
    }
    return false;
}

std::optional<int32_t> SeverityOf(std::string_view datagram) {
    if (datagram.empty() || datagram[0] != '<') return std::nullopt;
    std::string_view priority = datagram.substr(1);
    if (const size_t close = priority.find('>'); close != std::string_view::npos) {
        priority = priority.substr(0, close);
    }
    return velmar::StrToInt(priority) % 8;
}

std::string EscapeControlBytes(std::string_view text) {
    const auto isControl = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 32 && b != '\t';
    };
    // Sized once, and the runs between control bytes go in whole: a long datagram of random
    // bytes holds a control byte in every eighth.
    std::string out;
    out.reserve(text.size() + 3 * std::count_if(text.begin(), text.end(), isControl));
    for (auto at = text.begin(); at != text.end();) {
        const auto control = std::find_if(at, text.end(), isControl);
        out.append(at, control);
        if (control == text.end()) break;
        velmar::AppendOctalEscape(out, static_cast<unsigned char>(*control));
        at = control + 1;
    }
    return out;
}

std::string BuildDisplayLine(const LocalTime& now, std::optional<int32_t> severity,
                             std::string_view senderIP, std::string_view datagram) {
    std::string line = velmar::TimeOfDayText(now);
    line += ':';
    if (severity) {
        line += '[';
        line += std::to_string(*severity);
        line += "] ";
    }
    line += senderIP;
    line += ' ';
    line += datagram;
    size_t first = 0, last = line.size();
    while (first < last && static_cast<unsigned char>(line[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(line[last - 1]) <= 32) --last;
    return EscapeControlBytes(std::string_view(line).substr(first, last - first));
}

void Intake::IdSysLogServerUDPRead(std::string_view datagram, const std::string& senderIP) {
    if (IsExcluded(senderIP, settings_.ExcludedClientIPs)) return;
    view_.FocusView();
    const std::optional<int32_t> severity = SeverityOf(datagram);
    if (!PassesThreshold(severity.value_or(0), settings_.Severity)) return;
    const std::string line = BuildDisplayLine(clock_.Now(), severity, senderIP, datagram);
    view_.ShowLine(line);
    if (const int32_t days = settings_.DaysOfFilesRetained; days > 0) {
        if (DayNumber(clock_.Now()) != lastRetentionDay_) {
            DeleteExpiredFiles("Tarvane-", "TXT", days, clock_);
            lastRetentionDay_ = DayNumber(clock_.Now());
        }
    }
    AppendTextToFile(line + "\r\n", DailyLogFileName(clock_.Now()), true);
}

}  // namespace tarvane
