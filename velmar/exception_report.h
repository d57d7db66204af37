#pragma once

#include <functional>
#include <string>

#include "base/clock.h"
#include "velmar/records.h"

namespace velmar {

// One pass of the application's waiting messages, made before a report is built; the window
// sets it, and it does nothing elsewhere.
extern std::function<void()> ProcessMessagesHook;

// Writes the failure as a small XML report in the program's directory (or, when that fails, a
// dated line in "Exception.txt") and returns the report's name as far as it was built.
std::string SaveExceptionRecAsXML(tExceptionRec rec,
                                  const tarvane::Clock& clock = tarvane::SystemClockInstance());

// The report's file name: the template with its first "{timestamp}" replaced, or
// "EXCEPTION-" + timestamp + ".XML", after the directory.
std::string ExceptionReportName(const std::string& directory, const std::string& fileTemplate,
                                const tarvane::LocalTime& now);

// Milliseconds since the system started, from a 64-bit count that does not wrap.
int64_t MachineTicks();
tMachineUpTime MachineUpTimeOf(int64_t ticks);
tMachineUpTime GetMachineUpTime();

// Appends "date time: text" and CR LF to fileName; an empty text deletes the file.
bool AppendDatedLine(const std::string& text, const std::string& fileName,
                     const tarvane::Clock& clock = tarvane::SystemClockInstance());

}  // namespace velmar
