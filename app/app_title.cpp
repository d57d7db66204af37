#include "app_title.h"

#include <cstdio>

namespace tarvane {

std::string ApplicationTitleOf(const std::string& programPath) {
    const size_t slash = programPath.find_last_of("/\\:");
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
    }
    return name;
}

std::string HandlerErrorText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

std::string ApplicationErrorText(const std::string& kind, const std::string& module,
                                 unsigned long offset, const std::string& message) {
    char address[16];
    std::snprintf(address, sizeof address, "%08lX", offset & 0xFFFFFFFFul);
    const bool endsInStop = !message.empty() && message.back() == '.';
    return "Exception " + kind + " in module " + module + " at " + address + ".\r\n" + message +
           (endsInStop ? "" : ".") + "\r\n";
}

}  // namespace tarvane
