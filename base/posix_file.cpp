#include "posix_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tarvane {

bool FileExists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int WriteCounted(int fd, std::string_view bytes, size_t& written) {
    written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += static_cast<size_t>(n);
    }
    return 0;
}

int ReadAllAt(int fd, char* data, size_t size, off_t offset) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        got += static_cast<size_t>(n);
    }
    return 0;
}

namespace {

int WriteAll(int fd, std::string_view bytes) {
    size_t written = 0;
    return WriteCounted(fd, bytes, written);
}

// Gives a file made private (mkstemp's 0600) the mode a plain creation would have had under
// the process's umask.
int SetCreationMode(int fd) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(fd, 0666 & ~mask) != 0 ? errno : 0;
}

}  // namespace

int OpenFolder(const std::string& dir, Folder& folder) {
    UniqueFd fd(
        ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC));
    if (!fd) return errno;
    folder.reset(::fdopendir(fd.get()));
    if (!folder) return errno;
    // The listing owns the descriptor from here on.
    fd.release();
    return 0;
}

namespace {

// Whether the open file may be used as the named regular file; 0, or why not.
int CheckRegular(int fd, struct stat& st) {
    if (::fstat(fd, &st) != 0) return errno;
    // A second name would make this one a way into a file that belongs elsewhere; the kernel's
    // own files may block or answer endlessly, whatever fstat calls them.
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return EACCES;
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return errno;
    if (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC) return EACCES;
    return 0;
}

}  // namespace

int OpenRegularFile(const std::string& name, int flags, UniqueFd& fd, mode_t mode, bool followLink,
                    struct stat* status) {
    fd.reset();
    // The truncation waits until the file is known to be ours alone.
    const bool truncate = (flags & O_TRUNC) != 0;
    flags &= ~O_TRUNC;
    flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    UniqueFd opened(::open(name.c_str(), flags, mode));
    if (!opened) {
        // ENXIO: a FIFO without reader or a missing device; ELOOP: the refused link.
        return errno == ENXIO || (errno == ELOOP && !followLink) ? EACCES : errno;
    }
    struct stat st {};
    if (const int err = CheckRegular(opened.get(), st); err != 0) return err;
    // Blocking again from here on, appending where asked.
    if (::fcntl(opened.get(), F_SETFL, flags & O_APPEND) != 0) return errno;
    if (truncate && st.st_size != 0) {
        if (::ftruncate(opened.get(), 0) != 0) return errno;
        st.st_size = 0;
    }
    if (status) *status = st;
    fd = std::move(opened);
    return 0;
}

int ReadRegularFile(const std::string& name, std::string& bytes, size_t limit) {
    bytes.clear();
    struct stat st {};
    UniqueFd fd;
    if (const int err = OpenRegularFile(name, O_RDONLY, fd, 0, false, &st); err != 0) return err;
    int err = static_cast<uint64_t>(st.st_size) > limit ? EFBIG : 0;
    char buffer[65536];
    while (err == 0) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) err = errno;
            break;
        }
        // A file that grows while it is read is held to the same limit.
        if (static_cast<size_t>(n) > limit - bytes.size())
            err = EFBIG;
        else
            bytes.append(buffer, static_cast<size_t>(n));
    }
    if (err != 0) bytes.clear();
    return err;
}

int WriteNewFile(const std::string& name, std::string_view bytes, mode_t mode) {
    UniqueFd fd;
    if (const int err = OpenRegularFile(name, O_WRONLY | O_CREAT | O_TRUNC, fd, mode); err != 0) {
        return err;
    }
    int err = WriteAll(fd.get(), bytes);
    if (const int closed = fd.reset(); err == 0) err = closed;
    if (err != 0) ::unlink(name.c_str());
    return err;
}

int WriteTempFile(std::string& name, int suffixLength, std::string_view bytes, bool sync) {
    UniqueFd fd(::mkostemps(name.data(), suffixLength, O_CLOEXEC | O_NOCTTY));
    if (!fd) return errno;
    int err = WriteAll(fd.get(), bytes);
    if (err == 0) err = SetCreationMode(fd.get());
    if (err == 0 && sync && ::fsync(fd.get()) != 0) err = errno;
    if (const int closed = fd.reset(); err == 0) err = closed;
    if (err != 0) ::unlink(name.c_str());
    return err;
}

}  // namespace tarvane
