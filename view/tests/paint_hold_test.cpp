#include "view/paint_hold.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarvane {
namespace {

// The hold's length through a quiet start, a flood whose every paint shows only new lines, and
// the quiet spell after it.
TEST(PaintHold, DoublesWhileEveryReleaseReplacesTheViewAndStartsAfreshAfterAQuietSpell) {
    enum Kind { kPainted, kChange, kReleased, kReleasedReplacing };
    struct Step {
        Kind kind;
        int ms;
        int wait;  // after a change; -1: no hold starts
    } steps[] = {
        // clang-format off
        {kChange, 0, -1},  // never painted
        {kPainted, 0, 0}, {kChange, 10, 15}, {kReleased, 0, 0},
        {kPainted, 25, 0}, {kChange, 100, 0},  // after a quiet spell, at once
        {kReleasedReplacing, 0, 0}, {kPainted, 100, 0}, {kChange, 100, 50},
        {kReleasedReplacing, 0, 0}, {kPainted, 150, 0}, {kChange, 160, 90},
        {kReleasedReplacing, 0, 0}, {kPainted, 250, 0}, {kChange, 250, 200},
        {kReleasedReplacing, 0, 0}, {kPainted, 450, 0}, {kChange, 450, 200},
        // A release that showed earlier lines too: back to the interval.
        {kReleased, 0, 0}, {kPainted, 650, 0}, {kChange, 660, 15},
        // A change as long after the last paint as the hold ends the run of long holds.
        {kReleasedReplacing, 0, 0}, {kPainted, 675, 0}, {kChange, 725, 0},
        {kReleasedReplacing, 0, 0}, {kPainted, 725, 0}, {kChange, 725, 50},
        // clang-format on
    };
    PaintHold hold;
    const PaintHold::Clock::time_point start;
    int index = 0;
    for (const Step& s : steps) {
        const auto at = start + std::chrono::milliseconds(s.ms);
        switch (s.kind) {
            case kPainted: hold.Painted(at); break;
            case kChange: EXPECT_EQ(hold.Start(at).value_or(-1), s.wait) << "step " << index; break;
            default: hold.Released(s.kind == kReleasedReplacing);
        }
        ++index;
    }
}

}  // namespace
}  // namespace tarvane
