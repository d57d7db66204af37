// Bytes of a settings file in: the values, or one of the load's failures, out.
#include <cstdint>
#include <string>

#include "settings/settings.h"
#include "velmar/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string source(reinterpret_cast<const char*>(data), size);
    int32_t progress = 210;
    tarvane::tSettings settings;
    try {
        tarvane::ReadSettingsBytes(source, progress, settings);
    } catch (const velmar::Exception& e) {
        // Only the failures a load names, each at its own step.
        const std::string kind = e.ClassName();
        if (!(kind == "EDOMParseError" && progress == 210) &&
            !(kind == "EOleException" && progress == 300) &&
            !(kind == "EXMLDocError" && progress == 310)) {
            __builtin_trap();
        }
    }
    return 0;
}
