#include "testsupport/wait.h"

#include <algorithm>
#include <thread>

namespace tarvane::testing {

bool WaitUntil(const std::function<bool()>& condition, Duration limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    // Short waits see a quick change at once; long ones leave the cores to the code under test.
    std::chrono::microseconds pause = 100us;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, 20ms);
    }
}

}  // namespace tarvane::testing
