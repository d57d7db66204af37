#pragma once

#include <chrono>
#include <optional>

namespace tarvane {

// When the view paints while lines arrive. Painting costs about twenty lines' worth of work; at
// a datagram per event every line would be painted on its own. A change holds the paint until
// the interval since the last paint has passed (at once after a quiet spell, at the window
// thread's next turn through its events), and all changes until then are painted together.
//
// The caller owns the timer that ends a hold and tells the time; this is only the policy.
class PaintHold {
  public:
    using Clock = std::chrono::steady_clock;

    // Lines arriving faster than this are painted together, once per interval.
    static constexpr int kPaintIntervalMs = 25;
    // Lines that replace the whole view within an interval are faster than anybody reads: the
    // interval doubles while they do, up to this.
    static constexpr int kLongestHoldMs = 200;

    // A change while no hold is on: how long from `now` the paint waits, or nothing where the
    // view has never been painted (the toolkit paints it once it is shown).
    std::optional<int> Start(Clock::time_point now);
    // The hold ended; `replacedAll` when what it held replaced everything the last paint showed.
    void Released(bool replacedAll);
    void Painted(Clock::time_point now) { lastPaint_ = now; }

  private:
    std::optional<Clock::time_point> lastPaint_;
    int holdMs_ = kPaintIntervalMs;
};

}  // namespace tarvane
