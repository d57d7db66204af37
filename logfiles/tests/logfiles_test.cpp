#include "logfiles/logfiles.h"

#include <gtest/gtest.h>

#include "fixed_clock.h"

namespace tarvane {
namespace {

using testing::At;

TEST(DailyLogFileName, IsTheDatedName) {
    EXPECT_EQ(DailyLogFileName(At(2024, 3, 15)), "Tarvane-20240315.TXT");
}

}  // namespace
}  // namespace tarvane
