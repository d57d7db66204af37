#pragma once

#include <string>

#include "base/clock.h"

// The dated text files every log of the program keeps: lines appended whole, old days deleted.
namespace tarvane {

// "Tarvane-" + yyyymmdd + ".TXT".
std::string DailyLogFileName(const LocalTime& t);

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

}  // namespace tarvane
