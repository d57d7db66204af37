#include "velmar/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace velmar {
namespace {

struct Note {
    std::string name;  // with its NUL where it has one
    uint32_t type;
    std::vector<uint32_t> desc;
};

struct ElfShape {
    bool sectionTable = true;
    bool noteSegment = true;
    uint32_t align = 4;
    std::vector<Note> notes;
    uint32_t sectionType = 7;  // SHT_NOTE
};

Note VersionNote(uint32_t ms, uint32_t ls) { return {std::string("Tarvane", 8), 1, {ms, ls}}; }
Note BuildIdNote() { return {std::string("GNU", 4), 3, {0x11223344, 0x55667788, 0x99aabbcc}}; }

constexpr size_t kHeaderSize = 64, kSegmentSize = 56, kSectionSize = 64;

// A minimal 64-bit little-endian ELF file, the kind the program is: header, one PT_NOTE program
// header, the note region, and a section table of a null section and one SHT_NOTE section, each
// part optional.
class ElfWriter {
  public:
    explicit ElfWriter(const ElfShape& s) : s_(s) {}

    std::string Build() {
        const std::string region = Region();
        const size_t regionOff = kHeaderSize + (s_.noteSegment ? kSegmentSize : 0);
        out_ = std::string(
            "\x7f"
            "ELF\x02\x01\x01",
            7);
        out_.append(9, '\0');
        Put(2, 2);   // e_type ET_EXEC
        Put(62, 2);  // e_machine
        Put(1, 4);   // e_version
        Put(0, 8);   // e_entry
        Put(s_.noteSegment ? kHeaderSize : 0, 8);
        Put(s_.sectionTable ? regionOff + region.size() : 0, 8);
        Put(0, 4);  // e_flags
        Put(kHeaderSize, 2);
        Put(kSegmentSize, 2);
        Put(s_.noteSegment ? 1 : 0, 2);
        Put(kSectionSize, 2);
        Put(s_.sectionTable ? 2 : 0, 2);
        Put(0, 2);  // e_shstrndx
        if (s_.noteSegment) {
            Put(4, 4);  // PT_NOTE
            Put(4, 4);  // p_flags
            for (uint64_t v : {regionOff, size_t{0}, size_t{0}, region.size(), region.size()})
                Put(v, 8);
            Put(s_.align, 8);
        }
        out_ += region;
        if (s_.sectionTable) {
            out_.append(kSectionSize, '\0');
            Put(0, 4);  // sh_name
            Put(s_.sectionType, 4);
            Put(2, 8);  // SHF_ALLOC
            Put(0, 8);
            Put(regionOff, 8);
            Put(region.size(), 8);
            Put(0, 8);  // sh_link, sh_info
            Put(s_.align, 8);
            Put(0, 8);
        }
        return out_;
    }

    // Offset just past the last descriptor of the region.
    size_t RegionEnd() const { return regionEnd_; }

  private:
    void Put(uint64_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) out_ += char((v >> (8 * i)) & 0xff);
    }
    void Pad() {
        while (out_.size() % s_.align) out_ += '\0';
    }

    std::string Region() {
        out_.clear();
        for (const Note& n : s_.notes) {
            Put(n.name.size(), 4);
            Put(n.desc.size() * 4, 4);
            Put(n.type, 4);
            out_ += n.name;
            Pad();
            for (uint32_t d : n.desc) Put(d, 4);
            Pad();
        }
        regionEnd_ = kHeaderSize + (s_.noteSegment ? kSegmentSize : 0) + out_.size();
        return out_;
    }

    ElfShape s_;
    std::string out_;
    size_t regionEnd_ = 0;
};

class VersionFileTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        tarvane::testing::WriteFile(dir_.path() / name, bytes);
        return dir_.path() / name;
    }

    tarvane::testing::TempDir dir_;
};

TEST(FormatFileVersion, FourUnsignedHalvesInOrder) {
    struct Case {
        uint32_t ms, ls;
        const char* text;
    } cases[] = {
        {0x00030001, 0x0000001b, "3.1.0.27"},
        {0x00010002, 0x00030004, "1.2.3.4"},
        {0xffffffff, 0xffffffff, "65535.65535.65535.65535"},
        {0x0000ffff, 0xffff0000, "0.65535.65535.0"},
        {0x80008000, 0x80008000, "32768.32768.32768.32768"},
        {0, 0, "0.0.0.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatFileVersion(c.ms, c.ls), c.text) << c.text;
}

TEST_F(VersionFileTest, FindsTheRecordInEveryFileShape) {
    struct Case {
        const char* what;
        ElfShape shape;
        const char* text;
    };
    const Note v1234 = VersionNote(0x00010002, 0x00030004);
    const std::string name = std::string("Tarvane", 8);
    const Case cases[] = {
        {"sections", {true, false, 4, {v1234}}, "1.2.3.4"},
        {"segment only (no section table)", {false, true, 4, {v1234}}, "1.2.3.4"},
        {"after another note", {true, true, 4, {BuildIdNote(), v1234}}, "1.2.3.4"},
        {"8-aligned region", {true, false, 8, {BuildIdNote(), v1234}}, "1.2.3.4"},
        {"note segment, section of another type", {true, true, 4, {v1234}, 1}, "1.2.3.4"},
        {"no note section or segment", {true, false, 4, {v1234}, 1}, ""},
        {"no notes", {true, true, 4, {}}, ""},
        {"other notes only", {true, true, 4, {BuildIdNote()}}, ""},
        {"name without NUL", {true, true, 4, {{"Tarvane", 1, {1, 2}}}}, ""},
        {"other name", {true, true, 4, {{std::string("Tarvanx", 8), 1, {1, 2}}}}, ""},
        {"other type", {true, true, 4, {{name, 2, {1, 2}}}}, ""},
        {"short descriptor", {true, true, 4, {{name, 1, {1}}}}, ""},
        {"long descriptor", {true, true, 4, {{name, 1, {1, 2, 3}}}}, ""},
    };
    for (const Case& c : cases) {
        const std::string path = Write("shape", ElfWriter(c.shape).Build());
        EXPECT_EQ(GetFileVersionText(path), c.text) << c.what;
    }
}

TEST_F(VersionFileTest, FilesWithoutARecordGiveEmptyText) {
    const std::string cases[] = {
        "",  // this test's own file
        "/bin/true",
        dir_.path() / "missing",
        dir_.path(),
        Write("text", "Tarvane 1.2.3.4\r\n"),
        Write("bad class", std::string("\x7f"
                                       "ELF\x03\x01\x01",
                                       7) +
                               std::string(57, '\0')),
        "/dev/null",
    };
    for (const std::string& path : cases) EXPECT_EQ(GetFileVersionText(path), "") << path;
}

// Every cut and a few hundred corruptions of a valid file: the parser must stay inside its
// buffers (the sanitizer build watches) and never invent a version.
TEST_F(VersionFileTest, TruncatedOrCorruptFilesNeverReadOutOfBounds) {
    ElfWriter writer({true, true, 4, {BuildIdNote(), VersionNote(0x10002, 0x30004)}});
    const std::string good = writer.Build();
    ASSERT_EQ(GetFileVersionText(Write("good", good)), "1.2.3.4");

    for (size_t n = 0; n < good.size(); ++n) {
        const std::string text = GetFileVersionText(Write("cut", good.substr(0, n)));
        if (n < writer.RegionEnd()) {
            EXPECT_EQ(text, "") << "cut at " << n;
        } else {
            EXPECT_TRUE(text.empty() || text == "1.2.3.4") << "cut at " << n;
        }
    }

    std::mt19937 rng(514);
    for (int round = 0; round < 800; ++round) {
        std::string bad = good;
        const int flips = 1 + int(rng() % 4);
        for (int f = 0; f < flips; ++f) {
            const size_t pos = rng() % bad.size();
            if (rng() % 2) {
                bad[pos] = char(bad[pos] ^ (1 << (rng() % 8)));
            } else {
                bad[pos] = char(rng() % 2 ? 0xff : 0x80);
            }
        }
        const std::string text = GetFileVersionText(Write("bad", bad));
        // A flip inside the descriptor may change the numbers, never the form.
        if (!text.empty()) {
            EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 3) << text;
        }
    }
}

}  // namespace
}  // namespace velmar
