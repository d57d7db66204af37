#include "logfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "base/posix_file.h"

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

// Opens the file to append to, creating it when there is none; `created` tells which.
int OpenForAppend(const std::string& fileName, UniqueFd& fd, bool& created) {
    created = false;
    int err = 0;
    // Read access lets a failed append see what the file ends with; a file this user may
    // only write to is still appended to, and then never cut.
    for (const int access : {O_RDWR, O_WRONLY}) {
        err = OpenRegularFile(fileName, access | O_APPEND, fd);
        if (err == ENOENT) {
            err = OpenRegularFile(fileName, access | O_APPEND | O_CREAT | O_EXCL, fd);
            created = err == 0;
        }
        if (err != EACCES) break;
    }
    return err;
}

}  // namespace

std::string DailyLogFileName(const LocalTime& t) { return "Tarvane-" + DateStamp(t) + ".TXT"; }

bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append) {
    try {
        if (!append && FileExists(fileName)) ::unlink(fileName.c_str());
        if (text.empty()) return true;
        UniqueFd fd;
        bool created = false;
        if (OpenForAppend(fileName, fd, created) != 0) return false;
        size_t written = 0;
        bool ok = WriteCounted(fd.get(), text, written) == 0;
        if (!ok) {
            // A part of the line would glue the next one to it: take it back, and never more.
            TakeBack(fd.get(), std::string_view(text).substr(0, written));
            struct stat now {};
            if (created && ::fstat(fd.get(), &now) == 0 && now.st_size == 0) {
                ::unlink(fileName.c_str());
            }
        }
        if (fd.reset() != 0) ok = false;
        return ok && FileExists(fileName);
    } catch (...) {
        // Promised never to throw: a log line that cannot be written is only a false.
        return false;
    }
}

int DeleteExpiredFiles(const std::string& prefix, const std::string& extension, int days,
                       const Clock& clock) {
    int deletions = 0;
    try {
        const size_t slash = prefix.find_last_of('/');
        const std::string dirPart = slash == std::string::npos ? "" : prefix.substr(0, slash + 1);
        const std::string namePart = slash == std::string::npos ? prefix : prefix.substr(slash + 1);

        // Every deletion is made in the folder that was listed, even if its path is meanwhile
        // made to lead elsewhere.
        Folder dir;
        if (OpenFolder(dirPart, dir) != 0) return 0;
        const int dirFd = ::dirfd(dir.get());
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(dir.get())) {
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
    } catch (...) {
        // Promised never to throw: logging goes on after it, and the deletions issued count.
    }
    return deletions;
}

}  // namespace tarvane
