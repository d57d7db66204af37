#include "testsupport/file_limits.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace tarvane::testing {

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &signal_);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit small = old_;
    small.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) throw std::runtime_error("setrlimit");
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::sigaction(SIGXFSZ, &signal_, nullptr);
}

namespace {

bool Put(const char* file, const std::string& text) {
    const int fd = ::open(file, O_WRONLY);
    const bool done =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) ::close(fd);
    return done;
}

// A mount namespace of the process's own: as root, or as root of a user namespace of its own.
bool OwnMountNamespace() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWNS) == 0) return true;
    return ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && Put("/proc/self/setgroups", "deny") &&
           Put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           Put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

bool MountReadOnly(const char* d) {
    // A user namespace may not drop the flags the outer mount has locked.
    struct statvfs vfs {};
    ::statvfs(d, &vfs);
    const unsigned long kept = (vfs.f_flag & ST_NOSUID ? MS_NOSUID : 0) |
                               (vfs.f_flag & ST_NODEV ? MS_NODEV : 0) |
                               (vfs.f_flag & ST_NOEXEC ? MS_NOEXEC : 0);
    const std::string cwd = std::filesystem::current_path().string();
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(d, d, nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, d, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kept, nullptr) == 0 &&
           ::chdir(cwd.c_str()) == 0;  // the working directory as the new mount shows it
}

}  // namespace

int InReadOnlyView(const std::filesystem::path& dir, const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        const bool ok = OwnMountNamespace() && MountReadOnly(dir.c_str());
        ::_exit(ok ? check() : kNoMountNamespace);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tarvane::testing
