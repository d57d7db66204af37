#include "testsupport/temp_dir.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarvane::testing {

namespace fs = std::filesystem;

namespace {

fs::path MakeFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvane-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

}  // namespace

TempDir::TempDir(Use use) : path_(MakeFolder()) {
    if (use == kApart) return;
    oldWorkingDir_ = fs::current_path();
    if (const char* old = std::getenv("TMPDIR")) oldTmpDir_ = old;
    ::setenv("TMPDIR", path_.c_str(), 1);
    fs::current_path(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    if (oldWorkingDir_) {
        fs::current_path(*oldWorkingDir_, ec);
        if (oldTmpDir_) {
            ::setenv("TMPDIR", oldTmpDir_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    // A test may have taken the owner's rights away to make the folder unwritable.
    fs::permissions(path_, fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

const fs::path& ProcessTempDir() {
    // Never destroyed with the static objects: the removal at exit may run after them.
    static TempDir* const dir = [] {
        auto* made = new TempDir;
        std::atexit([] { delete dir; });
        return made;
    }();
    return dir->path();
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + p.string());
}

}  // namespace tarvane::testing
