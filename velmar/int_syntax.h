#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmar {

// The program's integer text syntax: leading blanks (code 32), one sign, decimal digits or a
// "$", "x", "X", "0x", "0X" hexadecimal marker with up to eight significant hex digits read as
// two's complement, nothing after the digits; decimal values within 32 bits.
std::optional<int32_t> ParseInteger(std::string_view text);

// The value, or 0 for a text that is not an integer.
int32_t StrToIntOrZero(std::string_view text);

// The value; raises EConvertError "'%s' is not a valid integer value" otherwise.
int32_t StrToInt(std::string_view text);

}  // namespace velmar
