#include "app_title.h"

#include <QString>
#include <cstdio>

namespace tarvane {

std::string ApplicationTitleOf(const std::string& programPath) {
    const size_t slash = programPath.rfind('/');
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    const QString title = QString::fromLocal8Bit(name.data(), qsizetype(name.size()));
    // The first character may be a surrogate pair; it stays as it is, whole.
    const qsizetype first = title.isEmpty() ? 0 : title.at(0).isHighSurrogate() ? 2 : 1;
    return (title.left(first) + title.mid(first).toLower()).toLocal8Bit().toStdString();
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
