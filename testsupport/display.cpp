#include "testsupport/display.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#ifndef TARVANE_ATSPI_TREE
#error "TARVANE_ATSPI_TREE must name the script that prints the accessible tree"
#endif

namespace tarvane::e2e {

namespace fs = std::filesystem;

VirtualDisplay::VirtualDisplay() {
    if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) return;
    // Lock files and sockets live in the host's /tmp, shared with every other display: try
    // numbers well away from the usual ones until a server comes up on one.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int number = 100 + static_cast<int>((::getpid() * 7 + attempt * 13) % 800);
        const std::string suffix = std::to_string(number);
        if (fs::exists("/tmp/.X" + suffix + "-lock") || fs::exists("/tmp/.X11-unix/X" + suffix))
            continue;
        // -noreset: a server that resets when its last client leaves (the readiness probe)
        // refuses the program's connection while it does.
        server_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", ":" + suffix, "-screen", "0",
                                                 "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                        std::vector<std::string>{"PATH=/usr/bin:/bin"}, root_.path(),
                        root_.path() / "xvfb.txt");
        name_ = ":" + suffix;
        if (WaitUntil(
                [&] {
                    return !server_->Running() ||
                           XdoTool({"getdisplaygeometry"}, 2s).output.find("1280 1024") == 0;
                },
                10s) &&
            server_->Running())
            return;
        server_->Terminate();
        server_.reset();
        name_.clear();
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (windowManager_) windowManager_->Terminate();
    // Terminated, not killed: the server removes its lock file and socket from /tmp.
    if (server_) server_->Terminate();
}

bool VirtualDisplay::StartWindowManager() {
    if (!Ok() || !HaveProgram("openbox") || !HaveProgram("xprop")) return false;
    windowManager_.emplace(std::vector<std::string>{"/usr/bin/openbox"},
                           std::vector<std::string>{"PATH=/usr/bin:/bin", "DISPLAY=" + name_,
                                                    "HOME=" + root_.path().string(),
                                                    "XDG_CONFIG_HOME=" + root_.path().string(),
                                                    "XDG_RUNTIME_DIR=" + root_.path().string()},
                           root_.path(), root_.path() / "openbox.txt");
    // A window manager announces itself on the root window as it starts, and lists the windows
    // it manages once it has taken over those already there, right before it handles requests.
    return WaitUntil(
               [&] {
                   if (!windowManager_->Running()) return true;
                   const std::string root =
                       RunCommand(
                           {"xprop", "-root", "_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST"}, 2s,
                           {"DISPLAY=" + name_})
                           .output;
                   return root.find("_NET_SUPPORTING_WM_CHECK(WINDOW): window id") !=
                              std::string::npos &&
                          root.find("_NET_CLIENT_LIST(WINDOW)") != std::string::npos;
               },
               20s) &&
           windowManager_->Running();
}

CommandResult VirtualDisplay::XdoTool(const std::vector<std::string>& arguments, Duration limit) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv, limit, {"DISPLAY=" + name_});
}

std::vector<std::string> VirtualDisplay::FindWindows(const std::string& nameRegex) {
    std::vector<std::string> ids;
    std::istringstream lines(XdoTool({"search", "--onlyvisible", "--name", nameRegex}).output);
    for (std::string id; std::getline(lines, id);)
        if (!id.empty()) ids.push_back(id);
    return ids;
}

std::optional<std::string> VirtualDisplay::WaitForWindow(const std::string& nameRegex,
                                                         Duration limit) {
    std::vector<std::string> ids;
    if (!WaitUntil(
            [&] {
                ids = FindWindows(nameRegex);
                return !ids.empty();
            },
            limit))
        return std::nullopt;
    return ids.front();
}

bool VirtualDisplay::WaitForNoWindow(const std::string& nameRegex, Duration limit) {
    return WaitUntil([&] { return FindWindows(nameRegex).empty(); }, limit);
}

namespace {
std::string GeometryField(const std::string& output, const std::string& field) {
    const auto at = output.find(field + ": ");
    if (at == std::string::npos) return {};
    const auto start = at + field.size() + 2;
    return output.substr(start, output.find_first_of(" \n", start) - start);
}
}  // namespace

std::string VirtualDisplay::Geometry(const std::string& window) {
    return GeometryField(XdoTool({"getwindowgeometry", window}).output, "Geometry");
}

std::string VirtualDisplay::Position(const std::string& window) {
    return GeometryField(XdoTool({"getwindowgeometry", window}).output, "Position");
}

std::optional<VirtualDisplay::Frame> VirtualDisplay::FrameExtents(const std::string& window) {
    const auto extents =
        RunCommand({"xprop", "-id", window, "_NET_FRAME_EXTENTS"}, 5s, {"DISPLAY=" + name_}).output;
    Frame f;
    const auto at = extents.find(" = ");
    if (at == std::string::npos || std::sscanf(extents.c_str() + at + 3, "%d, %d, %d, %d", &f.left,
                                               &f.right, &f.top, &f.bottom) != 4)
        return std::nullopt;
    return f;
}

std::string VirtualDisplay::OuterGeometry(const std::string& window) {
    const auto info = RunCommand({"xwininfo", "-id", window}, 5s, {"DISPLAY=" + name_}).output;
    auto field = [&](const std::string& name) {
        const auto at = info.find(name + ":");
        return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size() + 1);
    };
    const Frame frame = FrameExtents(window).value_or(Frame{});
    const int left = frame.left, right = frame.right, top = frame.top, bottom = frame.bottom;
    const int width = field("Width"), height = field("Height");
    const int x = field("Absolute upper-left X"), y = field("Absolute upper-left Y");
    if (width < 0 || height < 0) return {};
    return std::to_string(width + left + right) + "x" + std::to_string(height + top + bottom) +
           "+" + std::to_string(x - left) + "+" + std::to_string(y - top);
}

bool VirtualDisplay::PressKeys(pid_t program, const std::string& window,
                               const std::vector<std::string>& keys) {
    const auto shown = [&] {
        return XdoTool({"search", "--onlyvisible", "--pid", std::to_string(program)}).output;
    };
    XdoTool({"windowfocus", "--sync", window});
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string before = shown();
        XdoTool({"key", "--clearmodifiers", keys[i]});
        if (i + 1 < keys.size() && !WaitUntil([&] { return shown() != before; }, 5s)) return false;
    }
    return true;
}

void VirtualDisplay::TypeText(const std::string& window, const std::string& text) {
    XdoTool({"windowfocus", "--sync", window});
    // "--" ends the options: text may begin with "-".
    XdoTool({"type", "--delay", "50", "--", text});
}

AccessibilityBus::AccessibilityBus(const std::string& display) : display_(display) {
    if (!fs::exists("/usr/bin/dbus-daemon") || !fs::exists("/usr/libexec/at-spi-bus-launcher") ||
        RunCommand({"/usr/bin/python3", "-c", "import pyatspi"}).code != 0)
        return;
    const fs::path addressFile = root_.path() / "bus.txt";
    daemon_.emplace(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork",
                                 "--print-address=1"},
        std::vector<std::string>{"PATH=/usr/bin:/bin", "HOME=" + root_.path().string(),
                                 "XDG_RUNTIME_DIR=" + root_.path().string(), "DISPLAY=" + display},
        root_.path(), addressFile);
    if (!WaitUntil(
            [&] {
                const std::string text = ReadFile(addressFile);
                address_ = text.substr(0, text.find('\n'));
                return text.find('\n') != std::string::npos || !daemon_->Running();
            },
            10s) ||
        !address_.starts_with("unix:"))
        return;
    // Asking the launcher (started by the bus on demand) to switch accessibility on, before the
    // program looks whether it is on.
    ok_ = RunCommand({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                      "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                      "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true"},
                     20s, Environment())
              .code == 0;
}

AccessibilityBus::~AccessibilityBus() {
    // The launcher and its own bus end with the session bus they serve.
    if (daemon_) daemon_->Terminate();
}

std::vector<std::string> AccessibilityBus::Environment() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + address_};
}

std::string AccessibilityBus::Tree(const std::string& application) {
    auto env = Environment();
    env.push_back("DISPLAY=" + display_);
    return RunCommand({"/usr/bin/python3", TARVANE_ATSPI_TREE, application}, 20s, env).output;
}

}  // namespace tarvane::e2e
