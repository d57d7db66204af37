#pragma once

#include <string>

namespace tarvane {

// The application title: the program file's name (after the last "/") up to its first ".",
// every letter after the first in lower case ("TÄRVANE.bin" gives "Tärvane").
std::string ApplicationTitleOf(const std::string& programPath);

// The handler error box text: the message, plus "." when its last character sorts after ".".
std::string HandlerErrorText(const std::string& message);

// The start-up failure text "Exception %s in module %s at %p.\r\n%s%s\r\n".
std::string ApplicationErrorText(const std::string& kind, const std::string& module,
                                 unsigned long offset, const std::string& message);

}  // namespace tarvane
