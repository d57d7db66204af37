#include <QApplication>

#include "app/frmmain.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Desktops match the window to its menu entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName("tarvane");
    return tarvane::RunApplication();
}
