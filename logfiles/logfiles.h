#pragma once

#include <string>
#include <string_view>

#include "clock.h"

namespace tarvane {

// Appends text to fileName (creating it), or with append false starts the file afresh.
// True when the text was empty or the file exists afterwards; never throws.
bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append);

// Deletes the files of one dated family (prefix, optionally with a directory, and a name
// ending) whose names hold no date stamp of the last `days` days. Returns the deletions
// issued, failed ones included; never throws.
int DeleteExpiredFiles(const std::string& prefix, const std::string& extension, int days,
                       const Clock& clock = SystemClockInstance());

// Whether an entry of that name exists that is not a directory.
bool FileExists(const std::string& name);

// Writes every byte to fd, going on after interruptions; 0, or the errno of the failure.
int WriteAll(int fd, std::string_view bytes);

// "Tarvane-" + yyyymmdd + ".TXT".
std::string DailyLogFileName(const LocalTime& t);

}  // namespace tarvane
