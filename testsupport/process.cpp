#include "testsupport/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace tarvane::e2e {

namespace fs = std::filesystem;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const fs::path& workingDir, const fs::path& outputFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    auto args = argv;
    auto env = environment;
    const int rc = ::posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                                 Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

Process::~Process() { Kill(); }

bool Process::Running() { return !WaitForExit(0ms).has_value(); }

std::optional<int> Process::WaitForExit(Duration limit) {
    if (status_) return status_;
    WaitUntil(
        [&] {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1 - WTERMSIG(status);
            return true;
        },
        limit);
    return status_;
}

void Process::Kill() {
    if (status_ || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    WaitForExit(10s);
}

void Process::Terminate(Duration limit) {
    if (status_ || pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!WaitForExit(limit)) Kill();
}

CommandResult RunCommand(const std::vector<std::string>& argv, Duration limit,
                         const std::vector<std::string>& extraEnvironment) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    // A variable given replaces the inherited one: the first of two would win.
    std::vector<std::string> env(extraEnvironment);
    for (char** e = environ; *e; ++e) {
        const std::string_view inherited(*e);
        const auto name = inherited.substr(0, inherited.find('=') + 1);
        if (std::none_of(extraEnvironment.begin(), extraEnvironment.end(),
                         [&](const std::string& given) { return given.starts_with(name); }))
            env.emplace_back(inherited);
    }
    auto args = argv;
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                                  Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    CommandResult result;
    if (rc != 0) {
        ::close(pipeFds[0]);
        return result;
    }
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    const auto drain = [&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            result.output.append(buffer, static_cast<size_t>(n));
    };
    int status = 0;
    const bool ended = WaitUntil(
        [&] {
            drain();
            return ::waitpid(pid, &status, WNOHANG) == pid;
        },
        limit);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else {
        drain();
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(pipeFds[0]);
    return result;
}

bool HaveProgram(const std::string& name) {
    return RunCommand({"sh", "-c", "command -v " + name}).code == 0;
}

}  // namespace tarvane::e2e
