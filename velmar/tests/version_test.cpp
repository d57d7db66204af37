#include "velmar/version.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace velmar {
namespace {

namespace fs = std::filesystem;

struct Note {
    std::string name;  // with its NUL where it has one
    uint32_t type;
    std::vector<uint32_t> desc;
};

struct ElfShape {
    bool is64 = true;
    bool bigEndian = false;
    bool sectionTable = true;
    bool noteSegment = true;
    uint32_t align = 4;
    std::vector<Note> notes;
    // Counts in the null section (e_shnum 0, e_phnum 0xffff), as files with many sections do.
    bool extendedNumbering = false;
    uint32_t sectionType = 7;  // SHT_NOTE
};

Note VersionNote(uint32_t ms, uint32_t ls) { return {std::string("Tarvane", 8), 1, {ms, ls}}; }
Note BuildIdNote() { return {std::string("GNU", 4), 3, {0x11223344, 0x55667788, 0x99aabbcc}}; }

// A minimal ELF file: header, one PT_NOTE program header, the note region, and a section table
// of a null section and one SHT_NOTE section, each part optional.
class ElfWriter {
  public:
    explicit ElfWriter(const ElfShape& s) : s_(s) {}

    std::string Build() {
        const size_t ehsize = s_.is64 ? 64 : 52, phentsize = s_.is64 ? 56 : 32,
                     shentsize = s_.is64 ? 64 : 40;
        std::string region = Region();
        const size_t phoff = s_.noteSegment ? ehsize : 0;
        const size_t regionOff = ehsize + (s_.noteSegment ? phentsize : 0);
        const size_t shoff = s_.sectionTable ? regionOff + region.size() : 0;

        out_.clear();
        out_ += std::string(
            "\x7f"
            "ELF",
            4);
        out_ += char(s_.is64 ? 2 : 1);
        out_ += char(s_.bigEndian ? 2 : 1);
        out_ += char(1);
        out_.append(9, '\0');
        Put(2, 2);                 // e_type ET_EXEC
        Put(s_.is64 ? 62 : 3, 2);  // e_machine
        Put(1, 4);                 // e_version
        Word(0);                   // e_entry
        Word(phoff);
        Word(shoff);
        Put(0, 4);  // e_flags
        Put(ehsize, 2);
        Put(phentsize, 2);
        Put(s_.extendedNumbering ? 0xffff : s_.noteSegment ? 1 : 0, 2);
        Put(shentsize, 2);
        Put(s_.extendedNumbering ? 0 : s_.sectionTable ? 2 : 0, 2);
        Put(0, 2);  // e_shstrndx
        if (s_.noteSegment) {
            Put(4, 4);  // PT_NOTE
            if (s_.is64) {
                Put(4, 4);  // p_flags
                Word(regionOff);
                Word(0);
                Word(0);
                Word(region.size());
                Word(region.size());
                Word(s_.align);
            } else {
                Word(regionOff);
                Word(0);
                Word(0);
                Word(region.size());
                Word(region.size());
                Put(4, 4);
                Word(s_.align);
            }
        }
        out_ += region;
        if (s_.sectionTable) {
            const size_t null = out_.size();
            out_.append(shentsize, '\0');
            if (s_.extendedNumbering) {
                const std::string sections = Encode(2, s_.is64 ? 8 : 4);
                const std::string segments = Encode(s_.noteSegment ? 1 : 0, 4);
                out_.replace(null + (s_.is64 ? 32 : 20), sections.size(), sections);
                out_.replace(null + (s_.is64 ? 44 : 28), segments.size(), segments);
            }
            Put(0, 4);  // sh_name
            Put(s_.sectionType, 4);
            Word(2);  // SHF_ALLOC
            Word(0);
            Word(regionOff);
            Word(region.size());
            Put(0, 4);
            Put(0, 4);
            Word(s_.align);
            Word(0);
        }
        return out_;
    }

    // Offset just past the last descriptor of the region.
    size_t RegionEnd() const { return regionEnd_; }

  private:
    std::string Encode(uint64_t v, size_t width) const {
        std::string bytes;
        for (size_t i = 0; i < width; ++i) {
            const size_t shift = 8 * (s_.bigEndian ? width - 1 - i : i);
            bytes += char((v >> shift) & 0xff);
        }
        return bytes;
    }
    void Put(uint64_t v, size_t width) { out_ += Encode(v, width); }
    void Word(uint64_t v) { Put(v, s_.is64 ? 8 : 4); }
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
        const size_t ehsize = s_.is64 ? 64 : 52, phentsize = s_.is64 ? 56 : 32;
        regionEnd_ = ehsize + (s_.noteSegment ? phentsize : 0) + out_.size();
        return out_;
    }

    ElfShape s_;
    std::string out_;
    size_t regionEnd_ = 0;
};

class VersionFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "version_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    fs::path dir_;
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
    const Case cases[] = {
        {"64-bit, sections", {true, false, true, false, 4, {v1234}}, "1.2.3.4"},
        {"32-bit, sections", {false, false, true, false, 4, {v1234}}, "1.2.3.4"},
        {"64-bit big-endian", {true, true, true, true, 4, {v1234}}, "1.2.3.4"},
        {"32-bit big-endian", {false, true, true, true, 4, {v1234}}, "1.2.3.4"},
        {"segment only (no section table)", {true, false, false, true, 4, {v1234}}, "1.2.3.4"},
        {"after another note", {true, false, true, true, 4, {BuildIdNote(), v1234}}, "1.2.3.4"},
        {"8-aligned region", {true, false, true, false, 8, {BuildIdNote(), v1234}}, "1.2.3.4"},
        {"note segment, section of another type",
         {true, false, true, true, 4, {v1234}, false, 1},
         "1.2.3.4"},
        {"extended numbering, sections", {true, false, true, false, 4, {v1234}, true}, "1.2.3.4"},
        {"extended numbering, 32-bit segment",
         {false, false, true, true, 4, {v1234}, true, 1},
         "1.2.3.4"},
        {"extended numbering, big-endian",
         {true, true, true, true, 4, {v1234}, true, 1},
         "1.2.3.4"},
        {"no note section or segment", {true, false, true, false, 4, {v1234}, false, 1}, ""},
        {"all 65535",
         {true, false, true, false, 4, {VersionNote(~0u, ~0u)}},
         "65535.65535.65535.65535"},
        {"all 0", {false, false, true, false, 4, {VersionNote(0, 0)}}, "0.0.0.0"},
        {"no notes", {true, false, true, true, 4, {}}, ""},
        {"other notes only", {true, false, true, true, 4, {BuildIdNote()}}, ""},
        {"name without NUL", {true, false, true, true, 4, {{"Tarvane", 1, {1, 2}}}}, ""},
        {"other name", {true, false, true, true, 4, {{std::string("Tarvanx", 8), 1, {1, 2}}}}, ""},
        {"other type", {true, false, true, true, 4, {{std::string("Tarvane", 8), 2, {1, 2}}}}, ""},
        {"short descriptor",
         {true, false, true, true, 4, {{std::string("Tarvane", 8), 1, {1}}}},
         ""},
        {"long descriptor",
         {true, false, true, true, 4, {{std::string("Tarvane", 8), 1, {1, 2, 3}}}},
         ""},
    };
    for (const Case& c : cases) {
        const std::string path = Write("shape", ElfWriter(c.shape).Build());
        EXPECT_EQ(GetFileVersionText(path), c.text) << c.what;
    }
}

TEST_F(VersionFileTest, FilesWithoutARecordGiveEmptyText) {
    const std::string cases[] = {
        "/bin/true",
        (dir_ / "missing").string(),
        dir_.string(),
        Write("empty", ""),
        Write("text", "Tarvane 1.2.3.4\r\n"),
        Write("magic only",
              "\x7f"
              "ELF"),
        Write("bad class", std::string("\x7f"
                                       "ELF\x03\x01\x01",
                                       7) +
                               std::string(57, '\0')),
        "/dev/null",
    };
    for (const std::string& path : cases) EXPECT_EQ(GetFileVersionText(path), "") << path;
}

TEST(GetFileVersionText, OwnFileOfAProgramWithoutARecordIsEmpty) {
    EXPECT_EQ(GetFileVersionText(""), "");
}

// Every cut and a few hundred corruptions of a valid file: the parser must stay inside its
// buffers (the sanitizer build watches) and never invent a version.
TEST_F(VersionFileTest, TruncatedOrCorruptFilesNeverReadOutOfBounds) {
    for (const bool is64 : {true, false}) {
        ElfShape shape{is64, false, true, true, 4, {BuildIdNote(), VersionNote(0x10002, 0x30004)}};
        ElfWriter writer(shape);
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

        std::mt19937 rng(is64 ? 514 : 161);
        for (int round = 0; round < 400; ++round) {
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
}

}  // namespace
}  // namespace velmar
