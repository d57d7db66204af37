#include "snmp/snmp_request.h"

#include <gtest/gtest.h>

namespace tarvane {
namespace {

TEST(GetRequest, IsTheTemperatureRequestByteForByte) {
    const unsigned char expected[] = {0x30, 0x2C, 0x02, 0x01, 0x00, 0x04, 0x06, 0x74, 0x6F, 0x6D,
                                      0x6B, 0x69, 0x6E, 0xA0, 0x1F, 0x02, 0x01, 0x01, 0x02, 0x01,
                                      0x00, 0x02, 0x01, 0x00, 0x30, 0x14, 0x30, 0x12, 0x06, 0x0E,
                                      0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E, 0x01, 0x01, 0x01,
                                      0x02, 0x02, 0x02, 0x00, 0x05, 0x00};
    EXPECT_EQ(BuildGetRequest(),
              std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(BytesToHex, WritesTwoUppercaseDigitsPerByte) {
    const struct {
        std::string bytes;
        std::string hex;
    } cases[] = {
        {"", ""},
        {std::string("\x0A\xFF\x00", 3), "0AFF00"},
        {std::string("\x00", 1), "00"},
        {"\x01\x23\x45\x67\x89\xAB\xCD\xEF", "0123456789ABCDEF"},
        {"\x7F\x80\x10", "7F8010"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BytesToHex(c.bytes), c.hex) << c.hex;
    }
}

}  // namespace
}  // namespace tarvane
