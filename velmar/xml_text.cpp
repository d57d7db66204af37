#include "xml_text.h"

#include <cstdint>

namespace velmar {

namespace {

bool IsXmlChar(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the well-formed UTF-8 sequence at the start of text and its character, or 0.
size_t DecodeUtf8(std::string_view text, uint32_t& c) {
    const auto b0 = static_cast<unsigned char>(text[0]);
    size_t n;
    uint32_t min;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2, min = 0x80, c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, min = 0x800, c = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, min = 0x10000, c = b0 & 0x07;
    } else {
        return 0;
    }
    if (text.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are no UTF-8.
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return n;
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

void AppendOctalEscape(std::string& out, unsigned char byte) {
    out += '#';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

std::string XmlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        uint32_t c = 0;
        size_t n = DecodeUtf8(text, c);
        if (n == 0) {
            // Latin-1 stands for itself in Unicode.
            n = 1;
            c = static_cast<unsigned char>(text[0]);
            if (IsXmlChar(c)) {
                AppendUtf8(out, c);
            } else {
                AppendOctalEscape(out, static_cast<unsigned char>(text[0]));
            }
        } else if (IsXmlChar(c)) {
            out.append(text.substr(0, n));
        } else {
            for (size_t i = 0; i < n; ++i)
                AppendOctalEscape(out, static_cast<unsigned char>(text[i]));
        }
        text.remove_prefix(n);
    }
    return out;
}

}  // namespace velmar
