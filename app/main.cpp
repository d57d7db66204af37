#include <QApplication>
#include <QLoggingCategory>
#include <QString>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frmmain.h"
#include "app/plugin_path.h"
#include "velmar/system.h"

namespace {

// What the toolkit says while it opens the display is held back: when no display can be opened
// it would end the program with an abort and a paragraph of advice, where a service manager and
// an admin need one line and exit code 1.
bool starting = true;
std::vector<std::string> heldBack;
QtMessageHandler toolkitHandler = nullptr;

void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg && starting) {
        std::string reason = heldBack.empty() ? "no platform plugin" : heldBack.front();
        while (!reason.empty() && reason.back() == ' ') reason.pop_back();
        velmar::TellError("Tarvane cannot start: no display (" + reason +
                          "); without one, start it with QT_QPA_PLATFORM=offscreen");
        std::_Exit(1);
    }
    if (starting) {
        heldBack.push_back(text.toLocal8Bit().toStdString());
        return;
    }
    toolkitHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    toolkitHandler = qInstallMessageHandler(OnToolkitMessage);
    tarvane::SystemPluginsOnly systemPlugins;
    QApplication application(argc, argv);
    systemPlugins.Restore();
    starting = false;
    // The offscreen platform of a headless collector tells of every window call it cannot
    // carry out (sizes, raising, focus); none of that is the admin's concern.
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.*=false\ndefault.warning=false"));
    } else {
        for (const std::string& line : heldBack) velmar::TellError(line);
    }
    // Desktops match the window to its menu entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName("tarvane");
    return tarvane::RunApplication();
}
