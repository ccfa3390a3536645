// Segwrap's own ELF reader against the elfutils-based reader it replaced (the oracle): both read
// the same generated files and thousands of damaged copies of them, and must agree on whether
// each loads and on every header field, segment, section, symbol and note they report.
#include "segwrap/elf_reader.h"

#include "segwrap/elf_builder.h"
#include "segwrap/elf_description.h"
#include "segwrap/libelf_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kestrel::segwrap::ElfReader;
using kestrel::test::Describe;
using kestrel::test::ElfBuilder;
using kestrel::test::LibelfReader;

struct Variant {
    bool is64;
    bool big;
};

std::ostream& operator<<(std::ostream& os, const Variant& v) {
    return os << (v.is64 ? "64" : "32") << (v.big ? "-big" : "-little");
}

// A file with a bit of everything both readers look at: loadable and other segments, an
// unused program-header entry, progbits, nobits, 8-aligned and 4-aligned notes, a symbol table
// and a dynamic one.
std::string RichFile(ElfBuilder& elf) {
    elf.entry = 0x8000;
    elf.AddSegment({.type = 1, .virtAddr = 0x8000, .physAddr = 0x8000, .data = "code bytes"});
    elf.AddSegment({.type = 0, .data = ""});
    elf.AddSegment({.type = 4, .virtAddr = 0x9000, .data = "note"});
    elf.AddSegment({.type = 1, .virtAddr = 0xA000, .data = "data", .memSize = 64});
    elf.AddSection({.name = ".text", .type = 1, .flags = 6, .addr = 0x8000, .data = "code bytes"});
    elf.AddSection({.name = ".bss", .type = 8, .flags = 3, .sizeOverride = 64});
    elf.AddSymbolTable(".symtab", {{},
                                   {.name = "main", .value = 0x8000, .size = 10, .bind = 1},
                                   {.name = "data", .value = 0xA000, .bind = 0, .type = 1},
                                   {.name = "", .value = 3}});
    elf.AddSymbolTable(".dynsym", {{}, {.name = "exported", .value = 0x8004}}, 11);
    elf.AddNoteSection(".note.a", {{.name = "GNU", .type = 1, .desc = "abcd"},
                                   {.name = "Kestrel", .type = 7, .desc = "x"},
                                   {.name = "", .type = 3}});
    elf.AddNoteSection(".note.b", {{.name = "GNU", .type = 5, .desc = "12345678"}}, 8);
    return elf.Build();
}

class ElfReaderDifferential : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override {
        ElfBuilder elf(GetParam().is64, GetParam().big);
        sound_ = RichFile(elf);
        phoff_ = elf.phoff;
        shoff_ = elf.shoff;
        phent_ = elf.PhentSize();
        shent_ = elf.ShentSize();
        word_ = GetParam().is64 ? 8 : 4;
        builder_ = elf;
    }

    // Compares both readers on one file; returns false (and records the difference) when they
    // disagree.
    bool Agree(const std::string& file, const std::string& what) {
        auto ours = ElfReader::Create();
        auto oracle = LibelfReader::Create();
        EXPECT_TRUE(ours && oracle);
        const std::string a = Describe(*ours, file);
        const std::string b = Describe(*oracle, file);
        if (a != b) {
            // The reasons are worded apart (each reader checks in its own order); they are
            // shown, not compared.
            ADD_FAILURE() << what << "\n--- segwrap reader (" << ours->Failure() << "):\n"
                          << a << "--- elfutils reader (" << oracle->Failure() << "):\n"
                          << b;
            return false;
        }
        return true;
    }

    void Patch(std::string& f, std::size_t offset, std::uint64_t value, int width) {
        if (offset + static_cast<std::size_t>(width) <= f.size()) {
            builder_.Patch(f, offset, value, width);
        }
    }

    std::string sound_;
    std::size_t phoff_ = 0, shoff_ = 0, phent_ = 0, shent_ = 0;
    int word_ = 4;
    ElfBuilder builder_{false, false};
};

TEST_P(ElfReaderDifferential, SoundFileReadsTheSame) {
    ASSERT_TRUE(Agree(sound_, "sound file"));
    auto ours = ElfReader::Create();
    const auto* bytes = reinterpret_cast<const unsigned char*>(sound_.data());
    ASSERT_TRUE(ours->LoadBytes({bytes, sound_.size()}));
    EXPECT_EQ(ours->Segments().size(), 4u);
}

// Every header field and every field of every table entry set to values at the edges.
TEST_P(ElfReaderDifferential, EdgeValuesInEveryFieldReadTheSame) {
    const std::uint64_t size = sound_.size();
    const std::vector<std::uint64_t> values = {
        0,      1,      2,        3,    4,        7,        8,          0xFF,
        0xFFFF, 0xFFFE, size - 1, size, size + 1, size / 2, 0xFFFFFFFF, ~0ull};
    struct Field {
        std::size_t offset;
        int width;
    };
    std::vector<Field> fields;
    for (std::size_t i = 4; i < 16; ++i) {
        fields.push_back({i, 1});
    }
    const std::size_t header = GetParam().is64 ? 64 : 52;
    for (std::size_t at = 16; at < header;) {
        // Header fields: 2, 2, 4, then words, then 4 and 2-byte counts.
        const int w = at < 20                                         ? 2
                      : at < 24                                       ? 4
                      : at < 24 + 3 * static_cast<std::size_t>(word_) ? word_
                      : at < 28 + 3 * static_cast<std::size_t>(word_) ? 4
                                                                      : 2;
        fields.push_back({at, w});
        at += static_cast<std::size_t>(w);
    }
    for (std::size_t at = phoff_; phoff_ != 0 && at + 4 <= phoff_ + 4 * phent_; at += 4) {
        fields.push_back({at, 4});
    }
    for (std::size_t at = shoff_; at + 4 <= sound_.size(); at += 4) {
        fields.push_back({at, 4});
    }
    int disagreements = 0;
    for (const Field& field : fields) {
        for (std::uint64_t value : values) {
            std::string f = sound_;
            Patch(f, field.offset, value, field.width);
            if (!Agree(f, "field at " + std::to_string(field.offset) + " = " +
                              std::to_string(value)) &&
                ++disagreements > 5) {
                return;
            }
        }
    }
}

// Random damage: a few bytes anywhere set to random values, and files cut short.
TEST_P(ElfReaderDifferential, RandomlyDamagedFilesReadTheSame) {
    std::mt19937 random(GetParam().is64 * 2 + GetParam().big + 1);
    int disagreements = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string f = sound_;
        const int damaged = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < damaged; ++i) {
            f[random() % f.size()] = static_cast<char>(random());
        }
        if (round % 5 == 0) {
            f.resize(random() % f.size());
        }
        if (!Agree(f, "round " + std::to_string(round)) && ++disagreements > 5) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, ElfReaderDifferential,
                         ::testing::Values(Variant{false, false}, Variant{false, true},
                                           Variant{true, false}, Variant{true, true}),
                         [](const auto& info) {
                             std::ostringstream os;
                             os << info.param;
                             std::string s = os.str();
                             for (char& c : s) {
                                 c = c == '-' ? '_' : c;
                             }
                             return s;
                         });

} // namespace
