#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "base/posix_file.h"
#include "settings/settings.h"

namespace tarvane {

namespace {

// Only "*" and "?" are wildcards; brackets and backslashes are plain characters of a name, and a
// leading dot needs no match of its own.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

void DeleteMatchingFiles(const std::string& mask) {
    const size_t slash = mask.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : mask.substr(0, slash + 1);
    const std::string pattern = slash == std::string::npos ? mask : mask.substr(slash + 1);
    // Looked at and deleted in the folder as it was opened, whatever its path leads to later.
    Folder d;
    if (OpenFolder(dir, d) != 0) return;
    const int dirFd = ::dirfd(d.get());
    while (const dirent* e = ::readdir(d.get())) {
        if (!WildcardMatch(pattern, e->d_name)) continue;
        struct stat st {};
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
            ::unlinkat(dirFd, e->d_name, 0);
        }
    }
}

}  // namespace tarvane
