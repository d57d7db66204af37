#include "logfiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace tarvane {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWith(std::string_view s, std::string_view prefix, bool ignoreCase) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char a = s[i], b = prefix[i];
        if (ignoreCase ? AsciiLower(a) != AsciiLower(b) : a != b) return false;
    }
    return true;
}

bool EndsWithIgnoreCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    return StartsWith(s.substr(s.size() - suffix.size()), suffix, true);
}

// The wildcard listing of name + "*" + extension, which must not let the two overlap.
bool FitsPattern(std::string_view name, std::string_view part, std::string_view extension) {
    return name.size() >= part.size() + extension.size() && StartsWith(name, part, true) &&
           EndsWithIgnoreCase(name, extension);
}

// Whether the name holds the stamp of a day today - k, 0 <= k < days. Reads each eight-digit
// run as a date instead of trying every kept day, so a huge retention costs no more.
bool HoldsKeptStamp(std::string_view name, int64_t today, int days) {
    for (size_t i = 0; i + 8 <= name.size(); ++i) {
        int digits[8];
        bool allDigits = true;
        for (int j = 0; j < 8 && allDigits; ++j) {
            const char c = name[i + static_cast<size_t>(j)];
            allDigits = c >= '0' && c <= '9';
            digits[j] = c - '0';
        }
        if (!allDigits) continue;
        LocalTime d;
        d.year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
        d.month = digits[4] * 10 + digits[5];
        d.day = digits[6] * 10 + digits[7];
        if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) continue;
        const int64_t n = DayNumber(d);
        const LocalTime back = FromDayNumber(n);
        if (back.year != d.year || back.month != d.month || back.day != d.day) continue;
        if (n <= today && today - n < static_cast<int64_t>(days)) return true;
    }
    return false;
}

}  // namespace

bool FileExists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

size_t WriteCounted(int fd, std::string_view bytes, int& err) {
    size_t written = 0;
    err = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        written += static_cast<size_t>(n);
    }
    return written;
}

int WriteAll(int fd, std::string_view bytes) {
    int err = 0;
    WriteCounted(fd, bytes, err);
    return err;
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

int SetCreationMode(int fd) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(fd, 0666 & ~mask) != 0 ? errno : 0;
}

DIR* OpenFolder(const std::string& dir) {
    const int fd =
        ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* folder = ::fdopendir(fd);
    if (!folder) ::close(fd);
    return folder;
}

int OpenRegularFile(const std::string& name, int flags, mode_t mode, bool followLink,
                    struct stat* status) {
    // The truncation waits until the file is known to be ours alone.
    const bool truncate = (flags & O_TRUNC) != 0;
    flags &= ~O_TRUNC;
    flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(name.c_str(), flags, mode);
    if (fd < 0) {
        // ENXIO: a FIFO without reader or a missing device; ELOOP: the refused link.
        if (errno == ENXIO || (errno == ELOOP && !followLink)) errno = EACCES;
        return -1;
    }
    struct stat st {};
    struct statfs fs {};
    int err = ::fstat(fd, &st) != 0 ? errno : 0;
    // A second name would make this one a way into a file that belongs elsewhere; the kernel's
    // own files may block or answer endlessly, whatever fstat calls them.
    if (err == 0 && (!S_ISREG(st.st_mode) || st.st_nlink > 1)) err = EACCES;
    if (err == 0 && ::fstatfs(fd, &fs) != 0) err = errno;
    if (err == 0 && (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC)) err = EACCES;
    // Blocking again from here on, appending where asked.
    if (err == 0 && ::fcntl(fd, F_SETFL, flags & O_APPEND) != 0) err = errno;
    if (err == 0 && truncate && st.st_size != 0) {
        if (::ftruncate(fd, 0) != 0) err = errno;
        st.st_size = 0;
    }
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    if (status) *status = st;
    return fd;
}

int ReadRegularFile(const std::string& name, std::string& bytes, size_t limit) {
    bytes.clear();
    struct stat st {};
    const int fd = OpenRegularFile(name, O_RDONLY, 0, false, &st);
    if (fd < 0) return errno;
    int err = static_cast<uint64_t>(st.st_size) > limit ? EFBIG : 0;
    char buffer[65536];
    while (err == 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
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
    ::close(fd);
    if (err != 0) bytes.clear();
    return err;
}

int WriteNewFile(const std::string& name, std::string_view bytes, mode_t mode) {
    const int fd = OpenRegularFile(name, O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) return errno;
    int err = WriteAll(fd, bytes);
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) ::unlink(name.c_str());
    return err;
}

namespace {

// Cuts off the part of a line this append left, but only while the file still ends with it:
// whatever another writer appended after it stays, and so does the part then.
void TakeBack(int fd, std::string_view part) {
    struct stat now {};
    if (part.empty() || ::fstat(fd, &now) != 0 || now.st_size < static_cast<off_t>(part.size())) {
        return;
    }
    const off_t at = now.st_size - static_cast<off_t>(part.size());
    std::string tail(part.size(), '\0');
    if (ReadAllAt(fd, tail.data(), tail.size(), at) == 0 && tail == part) {
        (void)!::ftruncate(fd, at);
    }
}

}  // namespace

bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append) {
    try {
        if (!append && FileExists(fileName)) ::unlink(fileName.c_str());
        if (text.empty()) return true;
        bool created = false;
        // Read access lets a failed append see what the file ends with; a file this user may
        // only write to is still appended to, and then never cut.
        int fd = -1;
        for (const int access : {O_RDWR, O_WRONLY}) {
            fd = OpenRegularFile(fileName, access | O_APPEND);
            if (fd < 0 && errno == ENOENT) {
                fd = OpenRegularFile(fileName, access | O_APPEND | O_CREAT | O_EXCL);
                created = fd >= 0;
            }
            if (fd >= 0 || errno != EACCES) break;
        }
        if (fd < 0) return false;
        int err = 0;
        const size_t written = WriteCounted(fd, text, err);
        bool ok = err == 0;
        if (!ok) {
            // A part of the line would glue the next one to it: take it back, and never more.
            TakeBack(fd, std::string_view(text).substr(0, written));
            struct stat now {};
            if (created && ::fstat(fd, &now) == 0 && now.st_size == 0) ::unlink(fileName.c_str());
        }
        if (::close(fd) != 0) ok = false;
        return ok && FileExists(fileName);
    } catch (...) {
        return false;
    }
}

std::string DailyLogFileName(const LocalTime& t) { return "Tarvane-" + DateStamp(t) + ".TXT"; }

int DeleteExpiredFiles(const std::string& prefix, const std::string& extension, int days,
                       const Clock& clock) {
    int deletions = 0;
    try {
        const size_t slash = prefix.find_last_of('/');
        const std::string dirPart = slash == std::string::npos ? "" : prefix.substr(0, slash + 1);
        const std::string namePart = slash == std::string::npos ? prefix : prefix.substr(slash + 1);

        // Every deletion is made in the folder that was listed, even if its path is meanwhile
        // made to lead elsewhere.
        DIR* dir = OpenFolder(dirPart);
        if (!dir) return 0;
        const int dirFd = ::dirfd(dir);
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view n = e->d_name;
            if (n == "." || n == "..") continue;
            if (FitsPattern(n, namePart, extension)) names.emplace_back(n);
        }
        for (const std::string& name : names) {
            // Stamps are taken from the clock per test, as a pass may run across midnight.
            const bool kept = HoldsKeptStamp(name, DayNumber(clock.Now()), days);
            if (kept) continue;
            if (StartsWith(name, namePart, false) && EndsWithIgnoreCase(name, extension)) {
                ++deletions;
                ::unlinkat(dirFd, name.c_str(), 0);
            }
        }
        ::closedir(dir);
    } catch (...) {
    }
    return deletions;
}

}  // namespace tarvane
