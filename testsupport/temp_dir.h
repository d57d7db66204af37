// A folder of the test's own, and the files in it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvane::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with all it holds at the end. Unless made
// apart, it is the working directory and $TMPDIR while the object lives.
class TempDir {
  public:
    enum Use { kWorkingDir, kApart };
    explicit TempDir(Use use = kWorkingDir);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The names of the folder's entries, sorted.
    std::vector<std::string> Entries() const;

  private:
    std::filesystem::path path_;
    std::optional<std::filesystem::path> oldWorkingDir_;
    std::optional<std::string> oldTmpDir_;
};

// One folder for the whole process, made on the first call and removed when the process exits:
// for code run over and over, as a fuzz target is.
const std::filesystem::path& ProcessTempDir();

std::string ReadFile(const std::filesystem::path& p);
// Raises when the bytes did not all reach the file, so a test never runs on a short one.
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

}  // namespace tarvane::testing
