// The main of the tests that make widgets: the application object comes first and outlives
// every widget the tests make.
#include <gtest/gtest.h>

#include <QApplication>

// fontconfig keeps its caches to the end of the process; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace tarvane::testing {
// A test that shows its widgets on a display of its own defines this; it runs before the
// application connects to a display.
[[gnu::weak]] void BeforeApplication() {}
}  // namespace tarvane::testing

int main(int argc, char** argv) {
    tarvane::testing::BeforeApplication();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
