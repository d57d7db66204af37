#include "snmp/temp_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "testsupport/temp_dir.h"
#include "velmar/errors.h"

namespace tarvane {
namespace {

using testing::ReadFile;
using testing::TempDir;

TEST(CreateTempFile, MakesOneNewFileOfItsOwnWithTheWholeText) {
    TempDir dir;
    const std::string first = CreateTempFile(".txt", "one");
    const std::string second = CreateTempFile(".txt", "two");
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        const std::filesystem::path p(name);
        EXPECT_EQ(p.parent_path(), dir.path());
        EXPECT_EQ(p.extension(), ".txt");
        struct stat st {};
        ASSERT_EQ(::stat(name.c_str(), &st), 0);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << name;
    }
    EXPECT_EQ(ReadFile(first), "one");
    // No placeholder stays beside them.
    EXPECT_EQ(dir.Entries().size(), 2u);
}

TEST(CreateTempFile, WithoutTemporaryDirectoryRaisesAFileErrorAndMakesNothing) {
    TempDir dir;
    const std::string plainFile = (dir.path() / "plain").string();
    std::ofstream(plainFile) << "x";
    for (const std::string& tmp : {(dir.path() / "missing").string(), plainFile}) {
        ::setenv("TMPDIR", tmp.c_str(), 1);
        EXPECT_THROW(CreateTempFile(".txt", "x"), velmar::EInOutError) << tmp;
        EXPECT_THROW(OpenTextInTempFile("0AFF00", [](const std::string&) { FAIL(); }),
                     velmar::EInOutError);
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"plain"});
}

}  // namespace
}  // namespace tarvane
