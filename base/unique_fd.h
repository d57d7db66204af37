#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarvane {

// The one owner of a file or socket descriptor: closed when the owner goes, handed on only by
// a move. -1 stands for none.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and takes fd; 0, or the errno of the close.
    int reset(int fd = -1) noexcept {
        const int old = std::exchange(fd_, fd);
        return old >= 0 && ::close(old) != 0 ? errno : 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace tarvane
