// The UPS agent's reply in: its hexadecimal text, and the temporary file that holds it, which
// the desktop would open.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/posix_file.h"
#include "snmp/snmp_request.h"
#include "snmp/temp_file.h"
#include "testsupport/temp_dir.h"

namespace {

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvane::testing::ProcessTempDir();
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::string text = tarvane::BytesToHex(reply);
    // Two uppercase digits per byte that read back as the byte, nothing else.
    if (text.size() != 2 * reply.size()) __builtin_trap();
    for (size_t i = 0; i < reply.size(); ++i) {
        const int high = Nibble(text[2 * i]), low = Nibble(text[2 * i + 1]);
        if (high < 0 || low < 0 || (high << 4 | low) != static_cast<uint8_t>(reply[i])) {
            __builtin_trap();
        }
    }
    std::string opened;
    tarvane::OpenTextInTempFile(text, [&](const std::string& path) { opened = path; });
    std::string bytes;
    if (opened.empty() || tarvane::ReadRegularFile(opened, bytes, 1 << 20) != 0 ||
        bytes != text + "\r\n") {
        __builtin_trap();
    }
    ::unlink(opened.c_str());
    return 0;
}
