// A datagram, its sender, the threshold and the exclusion list in: the intake's decision and the
// line it shows and writes, held to the rules a reader relies on.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/posix_file.h"
#include "logfiles/logfiles.h"
#include "reception/intake.h"
#include "testsupport/temp_dir.h"

namespace {

class FixedClock final : public tarvane::Clock {
  public:
    tarvane::LocalTime Now() const override {
        tarvane::LocalTime t;
        t.year = 2024, t.month = 3, t.day = 5, t.hour = 14, t.minute = 7, t.second = 9;
        t.millisecond = 42;
        return t;
    }
};

class Lines final : public tarvane::IntakeView {
  public:
    void FocusView() override {}
    void ShowLine(const std::string& line) override { shown.push_back(line); }
    std::vector<std::string> shown;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvane::testing::ProcessTempDir();
    // Four bytes of sender address, the threshold, the exclusion list's length, the list, then
    // the datagram.
    if (size < 6) return 0;
    const std::string sender = std::to_string(data[0]) + "." + std::to_string(data[1]) + "." +
                               std::to_string(data[2]) + "." + std::to_string(data[3]);
    const int32_t threshold = static_cast<int8_t>(data[4]);
    const std::string_view rest(reinterpret_cast<const char*>(data) + 6, size - 6);
    const std::string excluded(rest.substr(0, std::min<size_t>(data[5] % 64, rest.size())));
    const std::string_view datagram = rest.substr(excluded.size());

    const FixedClock clock;
    Lines view;
    const tarvane::tSettings settings{threshold, 0, excluded};
    tarvane::Intake intake(settings, view, clock);
    try {
        intake.IdSysLogServerUDPRead(datagram, sender);
    } catch (const std::exception&) {
        // A priority that is no integer drops the datagram.
    }
    const std::string daily = tarvane::DailyLogFileName(clock.Now());
    std::string written;
    tarvane::ReadRegularFile(daily, written, 1 << 20);
    ::unlink(daily.c_str());

    if (view.shown.size() > 1) __builtin_trap();
    // An excluded sender is never shown; what is shown is also written, once, with CR LF.
    if (excluded == sender && !view.shown.empty()) __builtin_trap();
    if (view.shown.empty()) {
        if (!written.empty()) __builtin_trap();
        return 0;
    }
    const std::string& line = view.shown[0];
    if (written != line + "\r\n") __builtin_trap();
    for (const char c : line) {
        if (static_cast<unsigned char>(c) < 32 && c != '\t') __builtin_trap();
    }
    if (static_cast<unsigned char>(line.back()) <= 32) __builtin_trap();
    // The time, then the severity in brackets for a datagram with a priority, then the sender.
    std::string_view rest2(line);
    if (!rest2.starts_with("14:07:09.042:")) __builtin_trap();
    rest2.remove_prefix(13);
    if (datagram.starts_with("<")) {
        const size_t close = rest2.find("] ");
        if (!rest2.starts_with("[") || close == std::string_view::npos) __builtin_trap();
        rest2.remove_prefix(close + 2);
    }
    if (!rest2.starts_with(sender)) __builtin_trap();
    return 0;
}
