#pragma once

#include <string>

#include "base/clock.h"
#include "velmar/records.h"

namespace velmar {

// Writes an entry whose level passes LogLevel to the day's CSV file (and forwards it when a
// syslog host is set); the first call of a day deletes expired diagnostic files first and logs
// a "New day" entry. The CSV file's name goes to csvFileName when the entry is written.
void LogEntry(tLogRec entry, std::string& csvFileName,
              const tarvane::Clock& clock = tarvane::SystemClockInstance());

// Code in decimal, zero-padded to five digits after any sign.
std::string CodeText(int32_t code);
// The first character of the code text as a digit, 0 when it is none.
int LevelDigit(const std::string& codeText);
// The five CSV columns and CR LF; the two times are read one after the other.
std::string CsvLine(const tarvane::LocalTime& first, const tarvane::LocalTime& second,
                    const std::string& tag, const std::string& codeText, const std::string& text);
// "#,##0" with the locale's thousands separator.
std::string GroupThousands(int64_t value);

void GetMemoryInfo(tMemoryInfo& info);
// Rounds half to even, as the memory percentages are.
int32_t Percent(int64_t available, int64_t total);

}  // namespace velmar
