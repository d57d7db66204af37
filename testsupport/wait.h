// Waiting for what a test can see, never for a fixed time.
#pragma once

#include <chrono>
#include <functional>

namespace tarvane::testing {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// Polls the condition, at first often and then every 20 ms, until it holds or the time is up;
// true when it held.
bool WaitUntil(const std::function<bool()>& condition, Duration limit);

}  // namespace tarvane::testing
