#include "version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "base/posix_file.h"
#include "base/unique_fd.h"

namespace velmar {

namespace {

constexpr uint32_t kShtNote = 7;
constexpr uint32_t kPtNote = 4;
constexpr uint16_t kPnXnum = 0xffff;
constexpr char kElfMagic[] = {0x7f, 'E', 'L', 'F'};
// No table or note region of a real executable comes near this; a crafted size above it is
// refused instead of allocated.
constexpr uint64_t kMaxRegion = 16u << 20;

// Fixed-width fields of a byte buffer in the file's byte order; callers check the bounds.
class Fields {
  public:
    Fields(std::string_view bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

    uint64_t Get(size_t pos, size_t width) const {
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i) {
            const auto b = static_cast<unsigned char>(bytes_[pos + (big_ ? i : width - 1 - i)]);
            v = (v << 8) | b;
        }
        return v;
    }
    size_t Size() const { return bytes_.size(); }
    std::string_view Bytes(size_t pos, size_t n) const { return bytes_.substr(pos, n); }

  private:
    std::string_view bytes_;
    bool big_;
};

// Field offsets and widths of the two ELF classes.
struct Layout {
    size_t headerSize;
    size_t word;  // width of offsets and sizes
    size_t phoff, shoff, phentsize, phnum, shentsize, shnum;
    size_t shType, shOffset, shSize, shInfo, shAlign, shMinSize;
    size_t phOffset, phFilesz, phAlign, phMinSize;
};

constexpr Layout kElf32{52, 4, 28, 32, 42, 44, 46, 48, 4, 16, 20, 28, 32, 40, 4, 16, 28, 32};
constexpr Layout kElf64{64, 8, 32, 40, 54, 56, 58, 60, 4, 24, 32, 44, 48, 64, 8, 32, 48, 56};

class ElfReader {
  public:
    // Only a regular file: a FIFO or device given by name would block or never end.
    explicit ElfReader(const std::string& fileName)
        : fd_(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ && ::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            size_ = static_cast<uint64_t>(st.st_size);
        }
    }

    std::optional<tFileVersion> Find() {
        std::string ident;
        if (!Read(0, 16, ident) || ident.compare(0, 4, kElfMagic, 4) != 0) return std::nullopt;
        if (ident[4] == 1) {
            layout_ = &kElf32;
        } else if (ident[4] == 2) {
            layout_ = &kElf64;
        } else {
            return std::nullopt;
        }
        if (ident[5] != 1 && ident[5] != 2) return std::nullopt;
        big_ = ident[5] == 2;
        if (!Read(0, layout_->headerSize, header_)) return std::nullopt;
        if (auto v = FromSections()) return v;
        return FromSegments();
    }

  private:
    // Reads exactly count bytes at offset, all of them inside the file.
    bool Read(uint64_t offset, uint64_t count, std::string& out) {
        if (offset > size_ || count > size_ - offset || count > kMaxRegion) return false;
        out.assign(static_cast<size_t>(count), '\0');
        if (count == 0) return true;
        return tarvane::ReadAllAt(fd_.get(), out.data(), out.size(), static_cast<off_t>(offset)) ==
               0;
    }

    uint64_t H(size_t pos, size_t width) const { return Fields(header_, big_).Get(pos, width); }

    // Reads a table of count entries of entsize bytes, each at least minSize long.
    bool ReadTable(uint64_t offset, uint64_t count, uint64_t entsize, size_t minSize,
                   std::string& out) {
        if (entsize < minSize || count == 0) return false;
        if (count > size_ / entsize) return false;
        return Read(offset, count * entsize, out);
    }

    std::optional<tFileVersion> FromSections() {
        const Layout& L = *layout_;
        const uint64_t shoff = H(L.shoff, L.word);
        const uint64_t entsize = H(L.shentsize, 2);
        uint64_t count = H(L.shnum, 2);
        if (shoff == 0 || entsize < L.shMinSize) return std::nullopt;
        if (count == 0) {
            // Extended numbering: the first section's size holds the count.
            std::string first;
            if (!Read(shoff, entsize, first)) return std::nullopt;
            count = Fields(first, big_).Get(L.shSize, L.word);
        }
        std::string table;
        if (!ReadTable(shoff, count, entsize, L.shMinSize, table)) return std::nullopt;
        const Fields t(table, big_);
        for (uint64_t i = 0; i < count; ++i) {
            const size_t base = static_cast<size_t>(i * entsize);
            if (t.Get(base + L.shType, 4) != kShtNote) continue;
            if (auto v =
                    FromRegion(t.Get(base + L.shOffset, L.word), t.Get(base + L.shSize, L.word),
                               t.Get(base + L.shAlign, L.word)))
                return v;
        }
        return std::nullopt;
    }

    std::optional<tFileVersion> FromSegments() {
        const Layout& L = *layout_;
        const uint64_t phoff = H(L.phoff, L.word);
        const uint64_t entsize = H(L.phentsize, 2);
        uint64_t count = H(L.phnum, 2);
        if (phoff == 0 || entsize < L.phMinSize) return std::nullopt;
        if (count == kPnXnum) {
            // Extended numbering: the first section's info field holds the count.
            const uint64_t shoff = H(L.shoff, L.word);
            const uint64_t shentsize = H(L.shentsize, 2);
            std::string first;
            if (shoff == 0 || shentsize < L.shMinSize || !Read(shoff, shentsize, first))
                return std::nullopt;
            count = Fields(first, big_).Get(L.shInfo, 4);
        }
        std::string table;
        if (!ReadTable(phoff, count, entsize, L.phMinSize, table)) return std::nullopt;
        const Fields t(table, big_);
        for (uint64_t i = 0; i < count; ++i) {
            const size_t base = static_cast<size_t>(i * entsize);
            if (t.Get(base, 4) != kPtNote) continue;
            if (auto v =
                    FromRegion(t.Get(base + L.phOffset, L.word), t.Get(base + L.phFilesz, L.word),
                               t.Get(base + L.phAlign, L.word)))
                return v;
        }
        return std::nullopt;
    }

    // Walks the notes of one note section or segment.
    std::optional<tFileVersion> FromRegion(uint64_t offset, uint64_t size, uint64_t align) {
        std::string region;
        if (!Read(offset, size, region)) return std::nullopt;
        // Name and descriptor start on the region's alignment: 4 bytes, or 8 in the
        // 8-aligned regions that GNU property notes use.
        const uint64_t a = align == 8 ? 8 : 4;
        const uint64_t end = region.size();
        auto aligned = [a](uint64_t n) { return (n + a - 1) / a * a; };
        const Fields f(region, big_);
        uint64_t pos = 0;
        while (end - pos >= 12) {
            const auto at = static_cast<size_t>(pos);
            const uint64_t namesz = f.Get(at, 4);
            const uint64_t descsz = f.Get(at + 4, 4);
            const uint64_t type = f.Get(at + 8, 4);
            const uint64_t namePos = pos + 12;
            if (namesz > end - namePos) break;
            const uint64_t descPos = aligned(namePos + namesz);
            if (descPos > end || descsz > end - descPos) break;
            const std::string_view name = f.Bytes(static_cast<size_t>(namePos), namesz);
            if (type == kVersionNoteType && descsz == 8 &&
                name == std::string_view(kVersionNoteName, sizeof kVersionNoteName)) {
                const auto d = static_cast<size_t>(descPos);
                return tFileVersion{static_cast<uint32_t>(f.Get(d, 4)),
                                    static_cast<uint32_t>(f.Get(d + 4, 4))};
            }
            pos = aligned(descPos + descsz);
            if (pos >= end) break;
        }
        return std::nullopt;
    }

    tarvane::UniqueFd fd_;
    uint64_t size_ = 0;
    const Layout* layout_ = nullptr;
    bool big_ = false;
    std::string header_;
};

}  // namespace

std::string FormatFileVersion(uint32_t ms, uint32_t ls) {
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xffff);
}

std::optional<tFileVersion> ReadFileVersion(const std::string& fileName) {
    try {
        ElfReader reader(fileName);
        return reader.Find();
    } catch (...) {
        // A file without a readable version (even one too odd to allocate for) has none.
        return std::nullopt;
    }
}

std::string GetFileVersionText(const std::string& fileName) {
    try {
        // The running image itself, even when its file has since been replaced or removed.
        const auto v = ReadFileVersion(fileName.empty() ? "/proc/self/exe" : fileName);
        return v ? FormatFileVersion(v->MS, v->LS) : std::string();
    } catch (...) {
        // The version is shown, never needed: an empty text stands for any failure.
        return std::string();
    }
}

}  // namespace velmar
