#include <gtest/gtest.h>

#include <filesystem>

#include "settings/settings.h"
#include "testsupport/temp_dir.h"

namespace tarvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

TEST(DeleteMatchingFiles, TakesOnlyStarAndQuestionMark) {
    const TempDir dir;
    for (const char* n :
         {"a1.txt", "a22.txt", "b1.txt", "a1.log", ".a1.txt", "a[1].txt", "x\\y.txt"}) {
        WriteFile(n, "x");
    }
    fs::create_directory("a3.txt");
    DeleteMatchingFiles("a?.txt");
    EXPECT_FALSE(fs::exists("a1.txt"));
    EXPECT_TRUE(fs::exists("a22.txt"));
    EXPECT_TRUE(fs::is_directory("a3.txt"));
    DeleteMatchingFiles("a[1].txt");
    EXPECT_FALSE(fs::exists("a[1].txt")) << "brackets are plain characters";
    DeleteMatchingFiles("x\\y.txt");
    EXPECT_FALSE(fs::exists("x\\y.txt"));
    DeleteMatchingFiles("no-such-dir/*");
    DeleteMatchingFiles((dir.path() / "*.txt").string());
    EXPECT_FALSE(fs::exists("a22.txt"));
    EXPECT_FALSE(fs::exists("b1.txt"));
    EXPECT_FALSE(fs::exists(".a1.txt")) << "hidden files match as well";
    EXPECT_TRUE(fs::exists("a1.log"));
    EXPECT_TRUE(fs::is_directory("a3.txt"));
}

}  // namespace
}  // namespace tarvane
