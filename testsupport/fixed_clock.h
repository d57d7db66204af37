#pragma once

#include "base/clock.h"

namespace tarvane::testing {

inline LocalTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int millisecond = 0) {
    return LocalTime{year, month, day, hour, minute, second, millisecond};
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
