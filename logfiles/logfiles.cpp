#include "logfiles.h"

namespace tarvane {

std::string DailyLogFileName(const LocalTime& t) { return "Tarvane-" + DateStamp(t) + ".TXT"; }

}  // namespace tarvane
