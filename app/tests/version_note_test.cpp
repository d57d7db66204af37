#include <gtest/gtest.h>

#include <string>

#include "velmar/version.h"

namespace {

// This executable is built with the record for 1.2.3.4: the generated note, the linker's
// placement and the reader meet here.
TEST(VersionNote, OwnExecutableCarriesItsBuildVersion) {
    EXPECT_EQ(velmar::GetFileVersionText(""), "1.2.3.4");
    EXPECT_EQ(velmar::GetFileVersionText("/proc/self/exe"), "1.2.3.4");
}

TEST(VersionNote, TheProgramCarriesTheProjectVersion) {
    ASSERT_STRNE(TARVANE_PROGRAM_VERSION, "") << "the program is built without its record";
    EXPECT_EQ(velmar::GetFileVersionText(TARVANE_PROGRAM_FILE), TARVANE_PROGRAM_VERSION);
}

}  // namespace
