#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "clock.h"

namespace tarvane {

// Appends text to fileName (creating it), or with append false starts the file afresh.
// True when the text was empty or the file exists afterwards; never throws. Writes only into a
// regular file of one name reached without a symbolic link as its last component; a failed
// write takes back the bytes it left while the file still ends with them (a file it created
// and left empty is removed).
bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append);

// Deletes the files of one dated family (prefix, optionally with a directory, and a name
// ending) whose names hold no date stamp of the last `days` days. Returns the deletions
// issued, failed ones included; never throws.
int DeleteExpiredFiles(const std::string& prefix, const std::string& extension, int days,
                       const Clock& clock = SystemClockInstance());

// Whether an entry of that name exists that is not a directory.
bool FileExists(const std::string& name);

// Opens name with flags (O_NONBLOCK, O_NOCTTY, O_CLOEXEC and, unless followLink, O_NOFOLLOW
// added) and keeps the descriptor only for a regular file of one name outside /proc and /sys,
// so a FIFO, device or kernel file never blocks, a terminal never becomes the controlling one,
// and neither a symbolic nor a hard link leads a write elsewhere. O_TRUNC cuts the file only
// once it passed. The descriptor, or -1 with errno set; EACCES stands for anything refused.
// The file's status goes to `status` when one is given.
int OpenRegularFile(const std::string& name, int flags, mode_t mode = 0644, bool followLink = false,
                    struct stat* status = nullptr);

// Reads the whole file, held to what OpenRegularFile accepts (no symbolic link either) and to
// at most `limit` bytes (EFBIG beyond); 0, or the errno of the failure, with bytes empty.
int ReadRegularFile(const std::string& name, std::string& bytes, size_t limit);

// Creates or replaces the regular file name with bytes; a file that could not be written whole
// is removed. 0, or the errno of the failure.
int WriteNewFile(const std::string& name, std::string_view bytes, mode_t mode = 0644);

// Writes every byte to fd, going on after interruptions; 0, or the errno of the failure.
int WriteAll(int fd, std::string_view bytes);
// The same, telling how many bytes reached the file before err (0 or the errno) stopped it.
size_t WriteCounted(int fd, std::string_view bytes, int& err);
// Reads exactly size bytes at offset, going on after interruptions; 0, EIO where the file ends
// first, or the errno of the failure.
int ReadAllAt(int fd, char* data, size_t size, off_t offset);
// Gives a file made private (mkstemp's 0600) the mode a plain creation would have had under
// the process's umask; 0, or the errno of the failure.
int SetCreationMode(int fd);
// Opens a folder ("" for the working one) to list and to act on by its descriptor (dirfd), so
// that every step stays in the folder as it was opened; null with errno set on failure.
DIR* OpenFolder(const std::string& dir);

// "Tarvane-" + yyyymmdd + ".TXT".
std::string DailyLogFileName(const LocalTime& t);

}  // namespace tarvane
