#pragma once

#include "base/clock.h"

namespace tarvane::testing {

inline LocalTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int millisecond = 0) {
    LocalTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millisecond = millisecond;
    return t;
}

// A clock that shows whatever time the test sets.
class FixedClock : public Clock {
  public:
    FixedClock() = default;
    explicit FixedClock(LocalTime now) : t(now) {}
    LocalTime Now() const override { return t; }
    LocalTime t;
};

}  // namespace tarvane::testing
