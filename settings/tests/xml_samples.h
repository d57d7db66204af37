#pragma once

#include <string>

namespace tarvane::testing {

// The ASCII text as UTF-16 with its byte-order mark, as editors save "Unicode".
inline std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xfe\xff" : "\xff\xfe";
    for (const char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

// The document after entities ten deep, each ten of the one below, so that a reference to
// l10 in it would be 10^10 characters if all were expanded.
inline std::string BillionLaughs(const std::string& document) {
    std::string dtd = "<!DOCTYPE xml [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i) {
        dtd += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) dtd += "&l" + std::to_string(i - 1) + ";";
        dtd += "\">";
    }
    return dtd + "]>\r\n" + document;
}

}  // namespace tarvane::testing
