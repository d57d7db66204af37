// The bytes of an executable in: its version record, or none; never a crash or a hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "testsupport/temp_dir.h"
#include "velmar/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader takes a file name; one file per fuzzing process, rewritten for each input.
    static const std::string path = tarvane::testing::ProcessTempDir() / "elf";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    const bool written = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    if (written) {
        if (const auto v = velmar::ReadFileVersion(path)) {
            velmar::FormatFileVersion(v->MS, v->LS);
        }
    }
    return 0;
}
