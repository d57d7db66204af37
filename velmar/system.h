#pragma once

#include <string>

#include "base/clock.h"

namespace velmar {

// The full path of the running executable (readlink of /proc/self/exe).
std::string ProgramFilePath();
// The directory part of an executable path, up to and including its last "/" (":" and "\\" are
// ordinary name characters), with a leading long-path prefix "\\?\" removed. Pure string rule.
std::string ProgramDirOf(const std::string& exePath);
// ProgramDirOf(ProgramFilePath()).
std::string GetProgramDir();
// Makes the program's directory the working directory and returns it; failure is ignored.
std::string ChangeToProgramDir();

// Writes an error for whoever watches the program: each line on standard error, marked as
// priority err ("<3>") when standard error is the journal's stream (JOURNAL_STREAM names it),
// so that `journalctl -p err` finds it; plain otherwise.
void TellError(const std::string& text);

// The time separator a time format (nl_langinfo T_FMT) gives: the one whole punctuation
// character between its hours and minutes, ":" where it has none ("%H時%M分%S秒").
// Multibyte text is read in the calling thread's locale.
std::string TimeSeparatorOf(const std::string& timeFormat);
// Locale data of the user's LC_TIME / LC_NUMERIC, with ":" / "," where the locale has none. The
// locale is read at the first text and kept.
std::string TimeSeparator();
std::string MonthAbbreviation(int month);  // 1..12
std::string ThousandsSeparator();
// The locale's long time format (nl_langinfo T_FMT) and short date format (D_FMT) applied.
std::string LongTimeText(const tarvane::LocalTime& t);
std::string ShortDateText(const tarvane::LocalTime& t);

// Reads the user's locale again for the texts that follow it. Only while no other thread makes
// such texts.
void RefreshLocaleTexts();

// "hh:mm:ss.zzz" with the locale's time separator.
std::string TimeOfDayText(const tarvane::LocalTime& t);

}  // namespace velmar
