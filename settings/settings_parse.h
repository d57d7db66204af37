#pragma once

#include <string>

#include "velmar/xml_text.h"

namespace tarvane {

// XML 1.0 from memory: UTF-8, UTF-16 with its mark or a declared encoding; internal entities
// expanded within the parser's bounds and ours; no network, no DTD loaded, nothing left to
// recovery.
velmar::XmlDoc ParseSettings(const std::string& source);

}  // namespace tarvane
