// Other programs, started and ended by a test.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"
#include "testsupport/wait.h"

namespace tarvane::e2e {

using namespace tarvane::testing;

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

}  // namespace tarvane::e2e
