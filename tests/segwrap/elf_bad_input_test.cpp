// Damaged ELF files: GetDownloadBlocks and WrapVMXImageFormat refuse them and ParseElfFile writes
// only the line saying the file cannot be opened. Each case damages one field of an otherwise sound
// file.
#include "segwrap/download_blocks.h"
#include "segwrap/elf_dump.h"
#include "segwrap/vmx_image.h"

#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using kestrel::test::ElfBuilder;
using kestrel::test::TempHome;

struct Damage {
    const char* name;
    bool is64;
    std::function<void(const ElfBuilder&, std::string&)> apply;
};

std::ostream& operator<<(std::ostream& os, const Damage& d) {
    return os << d.name;
}

std::string SoundFile(ElfBuilder& elf) {
    elf.entry = 0x1000;
    elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = "segment one"});
    elf.AddSegment({.type = 1, .virtAddr = 0x2000, .physAddr = 0x2000, .data = "two"});
    elf.AddSection({.name = ".text", .type = 1, .flags = 6, .data = "segment one"});
    elf.AddSymbolTable(".symtab", {{}, {.name = "main", .value = 0x1000}});
    elf.AddNoteSection(".note", {{.name = "GNU", .type = 1, .desc = "abcd"}});
    return elf.Build();
}

// Offsets of header fields and of fields inside one program or section header.
struct Layout {
    std::size_t phoff, shoff, phnum, shnum, shstrndx, phentsize, pOffset, pFilesz, sOffset, sSize;
    int word;
};
constexpr Layout kElf32{28, 32, 44, 48, 50, 42, 4, 16, 16, 20, 4};
constexpr Layout kElf64{32, 40, 56, 60, 62, 54, 8, 32, 24, 32, 8};

const Layout& L(const ElfBuilder& elf) {
    return elf.PhentSize() == 56 ? kElf64 : kElf32;
}

void PatchSegment(const ElfBuilder& elf, std::string& f, std::size_t index, std::size_t field,
                  std::uint64_t value) {
    elf.Patch(f, elf.phoff + index * elf.PhentSize() + field, value, L(elf).word);
}

void PatchSection(const ElfBuilder& elf, std::string& f, std::size_t index, std::size_t field,
                  std::uint64_t value) {
    elf.Patch(f, elf.shoff + index * elf.ShentSize() + field, value, L(elf).word);
}

const Damage kDamages[] = {
    {"TruncatedInIdentification", false, [](auto&, auto& f) { f.resize(10); }},
    {"TruncatedInHeader", false, [](auto&, auto& f) { f.resize(40); }},
    {"Elf64HeaderShorterThan64Bytes", true, [](auto&, auto& f) { f.resize(56); }},
    {"TruncatedInProgramHeaders", false, [](auto& e, auto& f) { f.resize(e.phoff + 40); }},
    {"TruncatedInSegmentBytes", false,
     [](auto& e, auto& f) {
         // Move the section headers out of the way so only the segment is cut.
         e.Patch(f, L(e).shnum, 0, 2);
         e.Patch(f, L(e).shstrndx, 0, 2);
         f.resize(e.segmentOffsets[1] + 1);
     }},
    {"TruncatedInSectionHeaders", false, [](auto& e, auto& f) { f.resize(e.shoff + 50); }},
    {"LastByteMissing", true, [](auto&, auto& f) { f.pop_back(); }},
    {"ProgramHeadersPastEnd", false,
     [](auto& e, auto& f) { e.Patch(f, L(e).phoff, f.size() + 64, L(e).word); }},
    {"ProgramHeaderTableOffsetOverflows", false,
     [](auto& e, auto& f) { e.Patch(f, L(e).phoff, 0xFFFFFFF0u, 4); }},
    {"SegmentPastEnd", false,
     [](auto& e, auto& f) { PatchSegment(e, f, 1, L(e).pOffset, f.size() - 1); }},
    {"SegmentSizePastEnd", false,
     [](auto& e, auto& f) { PatchSegment(e, f, 0, L(e).pFilesz, f.size()); }},
    {"SegmentOffsetPlusSizeOverflows32", false,
     [](auto& e, auto& f) {
         PatchSegment(e, f, 0, L(e).pOffset, 0xFFFFFFF0u);
         PatchSegment(e, f, 0, L(e).pFilesz, 0x20);
     }},
    {"SegmentOffsetPlusSizeOverflows64", true,
     [](auto& e, auto& f) {
         PatchSegment(e, f, 0, L(e).pOffset, 0xFFFFFFFFFFFFFFF0ull);
         PatchSegment(e, f, 0, L(e).pFilesz, 0x20);
     }},
    {"HugeSegmentSize64", true,
     [](auto& e, auto& f) { PatchSegment(e, f, 0, L(e).pFilesz, 0x7FFFFFFFFFFFFFFFull); }},
    {"HugeProgramHeaderCount", false, [](auto& e, auto& f) { e.Patch(f, L(e).phnum, 0xFFFE, 2); }},
    {"ExtendedProgramHeaderCountTooLarge", false,
     [](auto& e, auto& f) {
         e.Patch(f, L(e).phnum, 0xFFFF, 2);
         PatchSection(e, f, 0, 28, 0x7FFFFFFF); // section 0's info holds the real count
     }},
    // Extended numbering that resolves to nothing must not pass for an empty table.
    {"ExtendedProgramHeaderCountBelowEscape", false,
     [](auto& e, auto& f) { e.Patch(f, L(e).phnum, 0xFFFF, 2); }}, // section 0's info is 0
    {"ExtendedProgramHeaderCountBelowEscape64", true,
     [](auto& e, auto& f) {
         e.Patch(f, L(e).phnum, 0xFFFF, 2);
         PatchSection(e, f, 0, 44, 2); // info: the real count, which needed no escape
     }},
    {"ExtendedProgramHeaderCountWithoutSectionZero", false,
     [](auto& e, auto& f) {
         e.Patch(f, L(e).phnum, 0xFFFF, 2);
         e.Patch(f, L(e).shoff, 0, L(e).word);
         e.Patch(f, L(e).shnum, 0, 2);
         e.Patch(f, L(e).shstrndx, 0, 2);
     }},
    {"ExtendedSectionCountBelowEscape", true,
     [](auto& e, auto& f) {
         e.Patch(f, L(e).shnum, 0, 2);
         PatchSection(e, f, 0, L(e).sSize, 3);
     }},
    {"ExtendedNameTableIndexBelowEscape", false,
     [](auto& e, auto& f) {
         e.Patch(f, L(e).shstrndx, 0xFFFF, 2);
         PatchSection(e, f, 0, 24, 1); // link
     }},
    {"WrongProgramHeaderEntrySize", false,
     [](auto& e, auto& f) { e.Patch(f, L(e).phentsize, 16, 2); }},
    {"HugeSectionCount", false, [](auto& e, auto& f) { e.Patch(f, L(e).shnum, 0xFFFE, 2); }},
    {"SectionHeadersPastEnd", true,
     [](auto& e, auto& f) { e.Patch(f, L(e).shoff, f.size() - 8, L(e).word); }},
    {"SectionNameTableIndexOutOfRange", false,
     [](auto& e, auto& f) { e.Patch(f, L(e).shstrndx, 200, 2); }},
    {"SectionBytesPastEnd", false,
     [](auto& e, auto& f) { PatchSection(e, f, 1, L(e).sOffset, f.size() - 2); }},
    {"SectionOffsetPlusSizeOverflows", true,
     [](auto& e, auto& f) {
         PatchSection(e, f, 2, L(e).sOffset, 0xFFFFFFFFFFFFFF00ull);
         PatchSection(e, f, 2, L(e).sSize, 0x200);
     }},
    {"UnknownClass", false, [](auto&, auto& f) { f[4] = 3; }},
    {"UnknownByteOrder", false, [](auto&, auto& f) { f[5] = 0; }},
    {"NotElfMagic", false, [](auto&, auto& f) { f[1] = 'X'; }},
};

class DamagedElf : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedElf, IsRefusedWithoutCrashOrPartialResult) {
    TempHome home;
    ElfBuilder elf(GetParam().is64, false);
    std::string file = SoundFile(elf);
    GetParam().apply(elf, file);
    home.WriteFile("bad.elf", file);
    const std::string path = home.Path("bad.elf");

    DownloadBlockSet set{};
    EXPECT_EQ(GetDownloadBlocks(path.c_str(), &set), 0);
    EXPECT_EQ(set.sizes, nullptr);
    EXPECT_EQ(ParseElfFile(path.c_str(), home.Path("dump.txt").c_str()), 1);
    EXPECT_EQ(home.ReadText("dump.txt"), "Can't open input file \"" + path + "\"\n");
    // The stored wrap reads only the file's structure; it must refuse the same files.
    for (unsigned flags : {0u, kVmxCompressFlag}) {
        EXPECT_EQ(WrapVMXImageFormat(path.c_str(), home.Path("img.rap").c_str(), flags), 0);
        EXPECT_FALSE(std::filesystem::exists(home.Path("img.rap")));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedElf, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// The undamaged file must load, or the table above proves nothing.
TEST(DamagedElf, TheUndamagedFileLoads) {
    for (bool is64 : {false, true}) {
        TempHome home;
        ElfBuilder elf(is64, false);
        home.WriteFile("good.elf", SoundFile(elf));
        DownloadBlockSet set{};
        EXPECT_EQ(GetDownloadBlocks(home.Path("good.elf").c_str(), &set), 1);
        EXPECT_EQ(set.count, 2u);
        BlockRelease(&set);
    }
}

} // namespace
