#include "snmp_request.h"

namespace tarvane {

namespace {

// Everything after the message's SEQUENCE header: version 0, community "tomkin", and a
// GetRequest-PDU with request-id 1 for 1.3.6.1.4.1.318.1.1.1.2.2.2.0 with a NULL value.
constexpr unsigned char kGetRequestBody[] = {
    0x02, 0x01, 0x00,                                      // version
    0x04, 0x06, 't',  'o',  'm',  'k',  'i',  'n',         // community
    0xA0, 0x1F,                                            // GetRequest-PDU
    0x02, 0x01, 0x01,                                      // request-id
    0x02, 0x01, 0x00,                                      // error-status
    0x02, 0x01, 0x00,                                      // error-index
    0x30, 0x14,                                            // variable-bindings
    0x30, 0x12,                                            // the one binding
    0x06, 0x0E, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E,  // object name ...
    0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x00,              // ... continued
    0x05, 0x00,                                            // NULL
};
static_assert(sizeof kGetRequestBody == 44);

}  // namespace

std::string BuildGetRequest() {
    std::string request;
    request.reserve(2 + sizeof kGetRequestBody);
    request += '\x30';
    request += static_cast<char>(sizeof kGetRequestBody);
    request.append(reinterpret_cast<const char*>(kGetRequestBody), sizeof kGetRequestBody);
    return request;
}

std::string BytesToHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

}  // namespace tarvane
