#pragma once

#include <string>

#include "velmar/clock.h"

namespace tarvane {

// "Tarvane-" + yyyymmdd + ".TXT".
std::string DailyLogFileName(const LocalTime& t);

}  // namespace tarvane
