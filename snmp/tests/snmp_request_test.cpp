#include "snmp/snmp_request.h"

#include <gtest/gtest.h>

namespace tarvane {
namespace {

// Version 0, community "tomkin", GetRequest-PDU with request-id 1 for the UPS's temperature
// (1.3.6.1.4.1.318.1.1.1.2.2.2.0) with a NULL value, as a known agent accepted it.
TEST(GetRequest, IsTheTemperatureRequestByteForByte) {
    EXPECT_EQ(BytesToHex(BuildGetRequest()),
              "302C020100040674"
              "6F6D6B696EA01F020101020100020100"
              "30143012060E2B06010401823E010101020202000500");
}

TEST(BytesToHex, WritesTwoUppercaseDigitsPerByte) {
    EXPECT_EQ(BytesToHex(""), "");
    EXPECT_EQ(BytesToHex(std::string("\x00\x7F\x80\xFF", 4)), "007F80FF");
    EXPECT_EQ(BytesToHex("\x01\x23\x45\x67\x89\xAB\xCD\xEF"), "0123456789ABCDEF");
}

}  // namespace
}  // namespace tarvane
