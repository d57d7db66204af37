#pragma once

#include <string>
#include <string_view>

namespace tarvane {

// The SNMPv1 GetRequest for the UPS battery temperature: 46 bytes, request-id 1.
std::string BuildGetRequest();

// Each byte as two uppercase hexadecimal digits, nothing between them.
std::string BytesToHex(std::string_view bytes);

}  // namespace tarvane
