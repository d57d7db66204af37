#include "logfiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

int OpenRegularFile(const std::string& name, int flags, mode_t mode, bool followLink,
                    struct stat* status) {
    flags |= O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(name.c_str(), flags, mode);
    if (fd < 0) {
        // ENXIO: a FIFO without reader or a missing device; ELOOP: the refused link.
        if (errno == ENXIO || (errno == ELOOP && !followLink)) errno = EACCES;
        return -1;
    }
    struct stat st {};
    int err = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EACCES;
    // Blocking again from here on, appending where asked.
    if (err == 0 && ::fcntl(fd, F_SETFL, flags & O_APPEND) != 0) err = errno;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    if (status) *status = st;
    return fd;
}

int ReadRegularFile(const std::string& name, std::string& bytes) {
    bytes.clear();
    const int fd = OpenRegularFile(name, O_RDONLY, 0, true);
    if (fd < 0) return errno;
    int err = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) err = errno;
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
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

bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append) {
    try {
        if (!append && FileExists(fileName)) ::unlink(fileName.c_str());
        if (text.empty()) return true;
        bool created = false;
        struct stat before {};
        int fd = OpenRegularFile(fileName, O_WRONLY | O_APPEND, 0644, false, &before);
        if (fd < 0 && errno == ENOENT) {
            fd = OpenRegularFile(fileName, O_WRONLY | O_APPEND | O_CREAT | O_EXCL, 0644, false,
                                 &before);
            created = fd >= 0;
        }
        if (fd < 0) return false;
        bool ok = WriteAll(fd, text) == 0;
        if (!ok) {
            // A part of the line would glue the next one to it: take it back, and never more.
            struct stat now {};
            if (created) {
                ::unlink(fileName.c_str());
            } else if (::fstat(fd, &now) == 0 && now.st_size > before.st_size) {
                (void)!::ftruncate(fd, before.st_size);
            }
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

        std::vector<std::string> names;
        DIR* dir = ::opendir(dirPart.empty() ? "." : dirPart.c_str());
        if (!dir) return 0;
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view n = e->d_name;
            if (n == "." || n == "..") continue;
            if (FitsPattern(n, namePart, extension)) names.emplace_back(n);
        }
        ::closedir(dir);

        for (const std::string& name : names) {
            // Stamps are taken from the clock per test, as a pass may run across midnight.
            const bool kept = HoldsKeptStamp(name, DayNumber(clock.Now()), days);
            if (kept) continue;
            if (StartsWith(name, namePart, false) && EndsWithIgnoreCase(name, extension)) {
                ++deletions;
                ::unlink((dirPart + name).c_str());
            }
        }
    } catch (...) {
    }
    return deletions;
}

}  // namespace tarvane
