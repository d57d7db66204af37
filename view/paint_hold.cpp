#include "view/paint_hold.h"

#include <algorithm>

namespace tarvane {

std::optional<int> PaintHold::Start(Clock::time_point now) {
    if (!lastPaint_) return std::nullopt;
    const auto since =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *lastPaint_).count();
    // A quiet spell as long as the hold ends the run of long holds.
    if (since >= holdMs_) holdMs_ = kPaintIntervalMs;
    return int(std::max<decltype(since)>(0, holdMs_ - since));
}

void PaintHold::Released(bool replacedAll) {
    holdMs_ = replacedAll ? std::min(2 * holdMs_, kLongestHoldMs) : kPaintIntervalMs;
}

}  // namespace tarvane
