// The built program driven from outside, as an admin and the devices of a network would: a copy
// of it in a folder of its own, started there, and its daily files read back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/process.h"

namespace tarvane::e2e {

// A temporary directory holding a copy of the built program in prog/ and its output beside,
// removed with everything in it at the end.
class ProgramDir {
  public:
    // The program file bears the given name.
    explicit ProgramDir(std::string programName = "Tarvane");

    const std::filesystem::path& Root() const { return root_.path(); }
    // The program's own directory: the executable, its settings and its daily files.
    std::filesystem::path Dir() const { return Root() / "prog"; }
    std::filesystem::path Executable() const { return Dir() / programName_; }
    // Where the program's stdout and stderr go (outside its directory).
    std::filesystem::path OutputFile() const { return Root() / "output.txt"; }

    // The lines of every daily file, oldest file first, split at CR LF: a test running
    // over midnight still sees all of them.
    std::vector<std::string> DailyLines() const;
    // Waits until the daily files hold at least count lines; returns the lines found.
    std::vector<std::string> WaitForDailyLines(size_t count, Duration limit = 10s) const;
    std::vector<std::filesystem::path> FilesMatching(const std::string& regex) const;
    // From now on DailyLines leaves out the lines written so far.
    void ForgetLinesSoFar();
    // The daily lines after their time stamps ("?" and the line where it has none).
    std::vector<std::string> Messages() const;
    // Waits until the last daily line is the given one after its time stamp.
    bool WaitForLastMessage(const std::string& message, Duration limit = 10s) const;

  private:
    TempDir root_{TempDir::kApart};
    std::string programName_;
    size_t forgotten_ = 0;
};

// The environment for a program started without a display.
std::vector<std::string> OffscreenEnvironment(const ProgramDir& dir);
// The environment for a program on the given X display.
std::vector<std::string> DisplayEnvironment(const ProgramDir& dir, const std::string& display);

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

// The part of a daily line after its time stamp "hh:mm:ss.zzz:", or nothing when the line
// does not begin with one.
std::optional<std::string> AfterTimeStamp(const std::string& line);

}  // namespace tarvane::e2e
