// Any settings file that loads, saved and loaded again, gives the same three values.
#include <cstdint>
#include <string>

#include "settings/settings.h"

namespace {

struct Values {
    int32_t severity;
    int32_t days;
    std::string excluded;
    bool operator==(const Values&) const = default;
};

bool Load(const std::string& source, Values& out) {
    tarvane::tSettings settings;
    int32_t progress = 210;
    try {
        tarvane::ReadSettingsBytes(source, progress, settings);
    } catch (const std::exception&) {
        return false;
    }
    out = {settings.Severity, settings.DaysOfFilesRetained, settings.ExcludedClientIPs};
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Values first{}, second{};
    if (!Load(std::string(reinterpret_cast<const char*>(data), size), first)) return 0;
    const std::string saved = tarvane::SettingsFileText(first.severity, first.days, first.excluded);
    if (!Load(saved, second) || !(first == second)) __builtin_trap();
    return 0;
}
