#pragma once

#include <string>

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

// "Tarvane-" + yyyymmdd + ".TXT".
std::string DailyLogFileName(const LocalTime& t);

}  // namespace tarvane
