#include "base/clock.h"

#include <gtest/gtest.h>

#include "testsupport/fixed_clock.h"

namespace tarvane {
namespace {

using testing::At;

TEST(DayNumbers, RoundTripAndKnownDays) {
    EXPECT_EQ(DayNumber(At(1899, 12, 30)), 0);
    EXPECT_EQ(DayNumber(At(1970, 1, 1)), 25569);
    EXPECT_EQ(DayNumber(At(2024, 3, 1)) - DayNumber(At(2024, 2, 28)), 2);  // leap year
    for (int64_t n : {0, 1, 59, 60, 61, 45000, 45366, 73050}) {
        EXPECT_EQ(DayNumber(FromDayNumber(n)), n);
    }
    EXPECT_EQ(DateStamp(At(2024, 1, 31)), "20240131");
}

}  // namespace
}  // namespace tarvane
