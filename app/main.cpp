#include <QApplication>

#include "app/frmmain.h"
#include "app/plugin_path.h"

int main(int argc, char** argv) {
    tarvane::SystemPluginsOnly systemPlugins;
    QApplication application(argc, argv);
    systemPlugins.Restore();
    // Desktops match the window to its menu entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName("tarvane");
    return tarvane::RunApplication();
}
