#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

// The file calls every layer above makes. Each returns 0, or the errno of the failure, and
// never throws.
namespace tarvane {

// Whether an entry of that name exists that is not a directory.
bool FileExists(const std::string& name);

// Opens name with flags (O_NONBLOCK, O_NOCTTY, O_CLOEXEC and, unless followLink, O_NOFOLLOW
// added) into fd, kept only for a regular file of one name outside /proc and /sys, so a FIFO,
// device or kernel file never blocks, a terminal never becomes the controlling one, and neither
// a symbolic nor a hard link leads a write elsewhere. O_TRUNC cuts the file only once it passed.
// EACCES stands for anything refused. The file's status goes to `status` when one is given.
int OpenRegularFile(const std::string& name, int flags, UniqueFd& fd, mode_t mode = 0644,
                    bool followLink = false, struct stat* status = nullptr);

// Reads the whole file, held to what OpenRegularFile accepts (no symbolic link either) and to
// at most `limit` bytes (EFBIG beyond); bytes is empty after a failure.
int ReadRegularFile(const std::string& name, std::string& bytes, size_t limit);

// Creates or replaces the regular file name with bytes; a file that could not be written whole
// is removed.
int WriteNewFile(const std::string& name, std::string_view bytes, mode_t mode = 0644);

// Creates a new file from the template name, whose six characters before a suffix of
// suffixLength mkostemps makes unique (name then holds the file's name), and writes bytes into
// it whole, flushed to disk when sync is asked. The file is its creator's alone (0600) until
// then, and only then takes the mode a plain creation would have had; one that could not be
// made whole is removed.
int WriteTempFile(std::string& name, int suffixLength, std::string_view bytes, bool sync);

// Writes every byte to fd, going on after interruptions; written tells how many reached the
// file before a failure stopped it.
int WriteCounted(int fd, std::string_view bytes, size_t& written);
// Reads exactly size bytes at offset, going on after interruptions; EIO where the file ends
// first.
int ReadAllAt(int fd, char* data, size_t size, off_t offset);

struct FolderClose {
    void operator()(DIR* folder) const { ::closedir(folder); }
};
using Folder = std::unique_ptr<DIR, FolderClose>;
// Opens a folder ("" for the working one) to list and to act on by its descriptor (dirfd), so
// that every step stays in the folder as it was opened.
int OpenFolder(const std::string& dir, Folder& folder);

}  // namespace tarvane
