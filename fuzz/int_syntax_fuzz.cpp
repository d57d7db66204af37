// Any text in: the integer syntax agrees with itself and with its own decimal output.
#include <cstdint>
#include <string>
#include <string_view>

#include "velmar/int_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> value = velmar::ParseInteger(text);
    if (velmar::StrToIntOrZero(text) != value.value_or(0)) __builtin_trap();
    if (value && velmar::ParseInteger(std::to_string(*value)) != value) __builtin_trap();
    return 0;
}
