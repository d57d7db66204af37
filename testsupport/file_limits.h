// Writes that fail as on a full disk or a read-only mount, for root as for anyone.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>

namespace tarvane::testing {

// Files may not grow past `bytes` while it lives: a write beyond fails with EFBIG after the part
// that fits, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit old_{};
    struct sigaction signal_ = {};
};

inline constexpr int kNoMountNamespace = 77;

// Runs `check` in a child process that sees `dir` mounted read-only, so that root is refused as
// anyone else is. The child's exit code: check's result, or kNoMountNamespace when no private
// mount namespace could be made (neither root nor allowed a user namespace).
int InReadOnlyView(const std::filesystem::path& dir, const std::function<int()>& check);

}  // namespace tarvane::testing
