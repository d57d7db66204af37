#include "app/plugin_path.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "velmar/system.h"

namespace tarvane {

namespace {

constexpr const char* kPluginPathVariable = "QT_PLUGIN_PATH";

}  // namespace

// The application object adds its program's folder to the library path as it is built, and
// takes off again only what was on the path before and was removed by hand. So the folder is
// put on the path for that moment (through the toolkit's own variable) and removed by hand.
SystemPluginsOnly::SystemPluginsOnly()
    : hadVariable_(qEnvironmentVariableIsSet(kPluginPathVariable)),
      variable_(qgetenv(kPluginPathVariable)) {
    const QString own =
        QDir(QFileInfo(QString::fromLocal8Bit(velmar::ProgramFilePath())).path()).canonicalPath();
    if (own.isEmpty()) return;
    QByteArray withOwn = QFile::encodeName(own);
    if (!variable_.isEmpty()) withOwn += ':' + variable_;
    qputenv(kPluginPathVariable, withOwn);
    QStringList paths = QCoreApplication::libraryPaths();
    paths.removeAll(own);
    QCoreApplication::setLibraryPaths(paths);
}

void SystemPluginsOnly::Restore() {
    if (restored_) return;
    restored_ = true;
    if (hadVariable_) {
        qputenv(kPluginPathVariable, variable_);
    } else {
        qunsetenv(kPluginPathVariable);
    }
}

}  // namespace tarvane
