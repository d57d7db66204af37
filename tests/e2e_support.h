// Drives the real Tarvane executable from outside, as an admin and the devices of a network
// would: a copy of the program in a directory of its own, datagrams from chosen source
// addresses, the daily file read back, and a virtual display with xdotool for what must be seen.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "logfiles/tests/temp_dir.h"

namespace tarvane::e2e {

using testing::ReadFile;
using testing::WriteFile;

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// Polls the condition every 20 ms until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, Duration limit);

// A temporary directory holding a copy of the built program in prog/ and its output beside,
// removed with everything in it at the end.
class ProgramDir {
  public:
    // The program file bears the given name.
    explicit ProgramDir(std::string programName = "Tarvane");
    ~ProgramDir();
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // The program's own directory: the executable, its settings and its daily files.
    std::filesystem::path Dir() const { return root_ / "prog"; }
    std::filesystem::path Executable() const { return Dir() / programName_; }
    // Where the program's stdout and stderr go (outside its directory).
    std::filesystem::path OutputFile() const { return root_ / "output.txt"; }

    // The lines of every daily file, oldest file first, split at CR LF: a test running
    // over midnight still sees all of them.
    std::vector<std::string> DailyLines() const;
    // Waits until the daily files hold at least count lines; returns the lines found.
    std::vector<std::string> WaitForDailyLines(size_t count, Duration limit = 10s) const;
    std::vector<std::filesystem::path> FilesMatching(const std::string& regex) const;
    // From now on DailyLines leaves out the lines written so far.
    void ForgetLinesSoFar();

  private:
    std::filesystem::path root_;
    std::string programName_;
    size_t forgotten_ = 0;
};

// The environment for a program started without a display.
std::vector<std::string> OffscreenEnvironment(const ProgramDir& dir);
// The environment for a program on the given X display.
std::vector<std::string> DisplayEnvironment(const ProgramDir& dir, const std::string& display);

// A started process; killed and reaped at the end unless it has ended by then.
class Process {
  public:
    // Starts argv[0] (a path) with exactly the environment given, working directory
    // workingDir, stdin from /dev/null and stdout/stderr appended to outputFile.
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::filesystem::path& workingDir, const std::filesystem::path& outputFile);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit code once the process has ended within the limit; -1 - signal when a signal
    // ended it; nothing when it is still running.
    std::optional<int> WaitForExit(Duration limit);
    void Kill();
    // SIGTERM, and SIGKILL when that has not ended it within the limit.
    void Terminate(Duration limit = 5s);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a command to its end (killed after the limit) and returns its exit code and stdout.
struct CommandResult {
    int code = -1;
    std::string output;
};
CommandResult RunCommand(const std::vector<std::string>& argv, Duration limit = 10s,
                         const std::vector<std::string>& extraEnvironment = {});
bool HaveProgram(const std::string& name);

// The program started in its directory with the given environment.
class Tarvane {
  public:
    Tarvane(const ProgramDir& dir, const std::vector<std::string>& environment);
    Process& Proc() { return process_; }
    // Waits until UDP port 514 is bound (by anyone: inside the test's namespace only the
    // program binds it) while the program runs.
    bool WaitUntilListening(Duration limit = 10s);
    // Waits until the program is listening and its window is up, so that datagrams are
    // handled: probes ("<8>" from 127.0.0.1, shown at any threshold) until one is written,
    // then one last marker; the lines so far are then forgotten.
    bool WaitUntilReady(ProgramDir& dir, Duration limit = 15s);
    // Waits until the program has taken every datagram waiting for it and each of its threads
    // sleeps: what was sent so far has been handled or is being dropped. False when it does not
    // come within the limit, or the program ended.
    bool WaitUntilQuiet(Duration limit = 10s);

  private:
    Process process_;
};

bool UdpPortBound(int port);
// The bytes waiting in the receive queues of the UDP sockets bound to the port.
size_t UdpBytesQueued(int port);

// True inside a network namespace of our own (only lo exists): the only place the tests
// may bind port 514 or add addresses.
bool InPrivateNetwork();

// Adds the address (with /32) to lo; an address already there is fine.
void AddLoopbackAddress(const std::string& address);

// Sends one datagram to 127.0.0.1:port from the given source address (which must be local).
void SendDatagram(const std::string& source, const std::string& bytes, int port = 514);

// Every IPv4/UDP datagram to the given port that crosses lo while it is open, as received,
// taken from a packet socket: what real clients sent, byte for byte.
class LoopbackCapture {
  public:
    explicit LoopbackCapture(int port = 514);
    ~LoopbackCapture();
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    struct Datagram {
        std::string source;
        std::string bytes;
    };
    // The datagrams seen since the last call; waits until at least count have come.
    std::vector<Datagram> Take(size_t count, Duration limit = 10s);

  private:
    int fd_ = -1;
    int port_;
    std::vector<Datagram> pending_;
};

// The part of a daily line after its time stamp "hh:mm:ss.zzz:", or nothing when the line
// does not begin with one.
std::optional<std::string> AfterTimeStamp(const std::string& line);

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
    // A picture of the whole screen as PNG; false when no tool could take it.
    bool Screenshot(const std::filesystem::path& file);

  private:
    std::string name_;
    std::optional<Process> server_;
    std::optional<Process> windowManager_;
    std::filesystem::path root_;
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
    std::filesystem::path root_;
    std::string display_;
    std::string address_;
    std::optional<Process> daemon_;
    bool ok_ = false;
};

}  // namespace tarvane::e2e
