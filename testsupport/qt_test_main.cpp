// The main of the tests that make widgets: the application object comes first and outlives
// every widget the tests make.
#include <gtest/gtest.h>

#include <QApplication>

// fontconfig keeps its caches to the end of the process; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
