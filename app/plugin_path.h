#pragma once

#include <QByteArray>

namespace tarvane {

// Keeps the toolkit from looking for plugins in the program's own folder, where anyone who can
// write there could put code for it to load. Made before the application object, released
// (Restore) right after it is built; the system's plugin folders stay.
class SystemPluginsOnly {
  public:
    SystemPluginsOnly();
    ~SystemPluginsOnly() { Restore(); }
    SystemPluginsOnly(const SystemPluginsOnly&) = delete;
    SystemPluginsOnly& operator=(const SystemPluginsOnly&) = delete;
    void Restore();

  private:
    bool restored_ = false;
    bool hadVariable_ = false;
    QByteArray variable_;
};

}  // namespace tarvane
