#include "int_syntax.h"

#include <string>

#include "errors.h"

namespace velmar {

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::optional<int32_t> ParseInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    if (hex) {
        uint32_t value = 0;
        int significant = 0;
        for (; i < s.size(); ++i) {
            const int d = HexDigit(s[i]);
            if (d < 0) return std::nullopt;
            if (significant > 0 || d != 0) ++significant;
            if (significant > 8) return std::nullopt;
            value = (value << 4) | static_cast<uint32_t>(d);
        }
        // Two's complement, then the sign; -$80000000 wraps onto itself.
        uint32_t result = negative ? 0u - value : value;
        return static_cast<int32_t>(result);
    }
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        value = value * 10 + (s[i] - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t StrToIntOrZero(std::string_view text) { return ParseInteger(text).value_or(0); }

int32_t StrToInt(std::string_view text) {
    if (auto v = ParseInteger(text)) return *v;
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace velmar
