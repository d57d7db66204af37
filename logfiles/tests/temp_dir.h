#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tarvane::testing {

// A fresh directory per test, made the working directory while the test runs.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarvane-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path old_;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Raises when the bytes did not all reach the file, so a test never runs on a short one.
inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + p.string());
}

// Files may not grow past `bytes` while it lives: a write beyond fails with EFBIG after the part
// that fits, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &signal_);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = bytes;
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) throw std::runtime_error("setrlimit");
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::sigaction(SIGXFSZ, &signal_, nullptr);
    }

  private:
    rlimit old_{};
    struct sigaction signal_ = {};
};

inline constexpr int kNoMountNamespace = 77;

// Runs `check` in a child process that sees `dir` mounted read-only, so that root is refused as
// anyone else is. The child's exit code: check's result, or kNoMountNamespace when no private
// mount namespace could be made (neither root nor allowed a user namespace).
inline int InReadOnlyView(const std::filesystem::path& dir, const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        bool ok = ::unshare(CLONE_NEWNS) == 0;
        if (!ok && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            auto put = [](const char* file, const std::string& text) {
                const int fd = ::open(file, O_WRONLY);
                const bool done = fd >= 0 && ::write(fd, text.data(), text.size()) ==
                                                 static_cast<ssize_t>(text.size());
                if (fd >= 0) ::close(fd);
                return done;
            };
            ok = put("/proc/self/setgroups", "deny") &&
                 put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                 put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        }
        const char* d = dir.c_str();
        // A user namespace may not drop the flags the outer mount has locked.
        struct statvfs vfs {};
        ::statvfs(d, &vfs);
        const unsigned long kept = (vfs.f_flag & ST_NOSUID ? MS_NOSUID : 0) |
                                   (vfs.f_flag & ST_NODEV ? MS_NODEV : 0) |
                                   (vfs.f_flag & ST_NOEXEC ? MS_NOEXEC : 0);
        const std::string cwd = std::filesystem::current_path().string();
        ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
             ::mount(d, d, nullptr, MS_BIND, nullptr) == 0 &&
             ::mount(nullptr, d, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kept, nullptr) == 0 &&
             ::chdir(cwd.c_str()) == 0;  // the working directory as the new mount shows it
        ::_exit(ok ? check() : kNoMountNamespace);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tarvane::testing
