// A folder of the fuzzing process's own under /tmp, made the working directory and the
// temporary directory, and removed with what it holds when the process ends: targets whose
// code writes files leave nothing behind.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace tarvane::fuzzing {

inline const std::string& ScratchDir() {
    // Never destroyed: the removal at exit runs after static objects are gone.
    static const std::string& dir = *[] {
        auto* path = new std::string("/tmp/tarvane-fuzz-XXXXXX");
        if (!::mkdtemp(path->data()) || ::chdir(path->c_str()) != 0) ::abort();
        ::setenv("TMPDIR", path->c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return path;
    }();
    return dir;
}

}  // namespace tarvane::fuzzing
