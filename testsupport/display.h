// A virtual X display for what must be seen or pressed, and the accessibility bus that reads
// a program as assistive technology does.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/process.h"

namespace tarvane::e2e {

// A virtual X display for the test's windows.
class VirtualDisplay {
  public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool Ok() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }
    // Starts openbox on the display, with no configuration but its own; true once it manages
    // windows.
    bool StartWindowManager();

    // xdotool on this display.
    CommandResult XdoTool(const std::vector<std::string>& arguments, Duration limit = 5s);
    // The ids of the windows whose name matches the regex (xdotool search --name).
    std::vector<std::string> FindWindows(const std::string& nameRegex);
    // Waits until a window whose name matches exists; its id.
    std::optional<std::string> WaitForWindow(const std::string& nameRegex, Duration limit = 10s);
    bool WaitForNoWindow(const std::string& nameRegex, Duration limit = 10s);
    // "805x499" for a window.
    std::string Geometry(const std::string& window);
    std::string Position(const std::string& window);
    // The frame the window manager reports around a top-level window (_NET_FRAME_EXTENTS).
    struct Frame {
        int left = 0, right = 0, top = 0, bottom = 0;
    };
    std::optional<Frame> FrameExtents(const std::string& window);
    // The outer geometry "805x499+237+262" of a top-level window: its own geometry with the
    // frame the window manager reports around it.
    std::string OuterGeometry(const std::string& window);
    // Focuses the window of the program, then presses the keys one after another (xdotool key
    // names). Each key before the last must change the program's windows on screen (a menu
    // opens or gives way to the next): the next key waits for that. False when one did not.
    bool PressKeys(pid_t program, const std::string& window, const std::vector<std::string>& keys);
    void TypeText(const std::string& window, const std::string& text);

  private:
    TempDir root_{TempDir::kApart};
    std::string name_;
    std::optional<Process> server_;
    std::optional<Process> windowManager_;
};

// A session bus of the test's own, with the accessibility bus (AT-SPI) behind it switched on,
// so that a program started with Environment() can be read as assistive technology reads it.
class AccessibilityBus {
  public:
    explicit AccessibilityBus(const std::string& display);
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;

    // False where the bus, its launcher or the AT-SPI Python bindings are missing.
    bool Ok() const { return ok_; }
    // The variables that lead a program to this bus.
    std::vector<std::string> Environment() const;
    // The accessible tree of the running application, one node a line: indented by depth,
    // then role|name|description|relation:target,...
    std::string Tree(const std::string& application);

  private:
    TempDir root_{TempDir::kApart};
    std::string display_;
    std::string address_;
    std::optional<Process> daemon_;
    bool ok_ = false;
};

}  // namespace tarvane::e2e
