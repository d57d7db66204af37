#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmar {

// The executable's version record: an ELF note named "Tarvane" of this type whose descriptor
// holds the two 32-bit values, MS = (major << 16) | minor and LS = (release << 16) | build.
inline constexpr char kVersionNoteName[] = "Tarvane";
inline constexpr uint32_t kVersionNoteType = 1;

struct tFileVersion {
    uint32_t MS = 0;
    uint32_t LS = 0;
};

// "major.minor.release.build", each part an unsigned 16-bit number in decimal.
std::string FormatFileVersion(uint32_t ms, uint32_t ls);

// The version record of the named ELF file; none when the file has no record, is no ELF file
// or cannot be read. Never raises.
std::optional<tFileVersion> ReadFileVersion(const std::string& fileName);

// The version text of the named file, or of the program's own file when the name is empty;
// empty when the file carries no version record or cannot be read. Never raises.
std::string GetFileVersionText(const std::string& fileName);

}  // namespace velmar
