#pragma once

#include <cstdint>
#include <string>

namespace tarvane {

// A broken-down local time; all times in this program are local times.
struct LocalTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The seam for everything that reads the clock, so tests can set the date.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime Now() const = 0;
};

class SystemClock final : public Clock {
  public:
    LocalTime Now() const override;
};

// The process's real clock.
const Clock& SystemClockInstance();

// Whole days since 1899-12-30, the day number of the program's date-time values.
int64_t DayNumber(const LocalTime& t);
// The date of a day number (time of day 00:00:00.000).
LocalTime FromDayNumber(int64_t day);

// "yyyymmdd".
std::string DateStamp(const LocalTime& t);

}  // namespace tarvane
