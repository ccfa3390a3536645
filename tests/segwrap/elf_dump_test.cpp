// ParseElfFile: the dump's exact lines for hand-built files.
#include "segwrap/elf_dump.h"

#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using kestrel::test::ElfBuilder;
using kestrel::test::TempHome;
using ::testing::HasSubstr;

std::string Dump(TempHome& home, const std::string& file) {
    home.WriteFile("in.elf", file);
    EXPECT_EQ(ParseElfFile(home.Path("in.elf").c_str(), home.Path("dump.txt").c_str()), 1);
    return home.ReadText("dump.txt");
}

std::string ArmFirmware() {
    ElfBuilder elf(false, false);
    elf.entry = 0x30000000;
    elf.flags = 0x05000002;
    elf.AddSegment({.type = 1,
                    .virtAddr = 0x30000000,
                    .physAddr = 0x00100000,
                    .data = "ABCDEFGH",
                    .memSize = 0x100,
                    .flags = 5,
                    .align = 0x8000});
    elf.AddSegment({.type = 0x70000001,
                    .virtAddr = 0x30001000,
                    .physAddr = 0x30001000,
                    .data = "tbl!",
                    .flags = 4});
    elf.AddSegment({.type = 4, .data = "n", .flags = 4});
    elf.AddSection({.name = ".text",
                    .type = 1,
                    .flags = 6,
                    .addr = 0x30000000,
                    .data = "ABCDEFGH",
                    .align = 4});
    elf.AddSection({.name = ".a_rather_long_section_name_here",
                    .type = 1,
                    .flags = 3,
                    .data = "xyz",
                    .align = 1});
    elf.AddSection({.name = ".bss",
                    .type = 8,
                    .flags = 3,
                    .addr = 0x30000100,
                    .align = 8,
                    .sizeOverride = 0x100});
    elf.AddSection({.name = ".ARM.attributes", .type = 0x70000003, .flags = 0x10, .data = "A"});
    elf.AddSymbolTable(
        ".symtab", {{},
                    {.name = "main",
                     .value = 0x30000000,
                     .size = 0x40,
                     .bind = 1,
                     .type = 2,
                     .sectionIndex = 1},
                    {.name = std::string(50, 'n'), .value = 7, .type = 1, .sectionIndex = 0xFFF1}});
    elf.AddSection({.name = ".nosyms", .type = 11}); // a symbol table with no entries
    elf.AddNoteSection(
        ".note", {{.name = "GNU", .type = 3, .desc = "abcd"}, {.name = "Kestrel", .type = 0x100}});
    return elf.Build();
}

TEST(ElfDump, ArmFirmwareGivesEveryLineAsFixed) {
    TempHome home;
    const std::string dump = Dump(home, ArmFirmware());
    EXPECT_EQ(dump, R"(ELF Header
  Class:      CLASS32 (1)
  Encoding:   Little endian
  ELFVersion: Current (1)
  Type:       0x0002
  Machine:    0x0028
  Version:    0x00000001
  Entry:      0x30000000
  Flags:      0x05000002

Section headers:
  [Nr] Name                 Type     Addr     Size   ES Flg Lk Inf  Al
  [ 0]                      NULL     00000000 000000 00     00 0000 00
  [ 1] .text                PROGBITS 30000000 000008 00 AX  00 0000 04
  [ 2] .a_rather_long_secti PROGBITS 00000000 000003 00 WA  00 0000 01
  [ 3] .bss                 NOBITS   30000100 000100 00 WA  00 0000 08
  [ 4] .ARM.attributes      UNKNOWN  00000000 000001 00     00 0000 01
  [ 5] .symtabstr           STRTAB   00000000 000039 00     00 0000 01
  [ 6] .symtab              SYMTAB   00000000 000030 10     05 0000 04
  [ 7] .nosyms              DYNSYM   00000000 000000 00     00 0000 01
  [ 8] .note                NOTE     00000000 000028 00 A   00 0000 04
  [ 9] .shstrtab            STRTAB   00000000 000068 00     00 0000 01
Key to Flags: W (write), A (alloc), X (execute)

Segment headers:
  [Nr] Type       VirtAddr PhysAddr FileSize Mem.Size Flags    Align
  [ 0] PT_LOAD    30000000 00100000 00000008 00000100 00000005 00008000
  [ 1] UNKNOWN    30001000 30001000 00000004 00000004 00000004 00000004
  [ 2] PT_NOTE    00000000 00000000 00000001 00000001 00000004 00000004

Symbol table (.symtab)
     Name                                      Value    Size     Bind Type Sect
                                               00000000 00000000 0000 0000 0000
main                                           30000000 00000040 0001 0002 0001
nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn 00000007 00000000 0000 0001 fff1


Note section (.note)
   No     Type    Name
  [ 0] 0x00000003 GNU
  [ 1] 0x00000100 Kestrel

)");
}

} // namespace

namespace {

// Each of the three flag bits gives its letter, in the order W, A, X; other bits give none.
TEST(ElfDump, SectionFlagLettersFollowBitsZeroToTwo) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "   "}, {1, "W  "}, {2, "A  "}, {3, "WA "},    {4, "X  "},
        {5, "WX "}, {6, "AX "}, {7, "WAX"}, {0xF8, "   "}, {0x13, "WA "}};
    for (const auto& [flags, letters] : cases) {
        TempHome home;
        ElfBuilder elf(false, false);
        elf.AddSection({.name = "s", .flags = flags, .data = "x"});
        const std::string dump = Dump(home, elf.Build());
        EXPECT_THAT(dump, HasSubstr(std::string(" 00 ") + letters + " 00 0000 01\n")) << flags;
    }
}

// A 64-bit big-endian file: the class is not CLASS32, values keep every digit.
TEST(ElfDump, BigEndian64BitFileShowsItsClassOrderAndWideValues) {
    TempHome home;
    ElfBuilder elf(true, true);
    elf.entry = 0x123456789Aull;
    elf.AddSegment({.type = 1,
                    .virtAddr = 0xFFFF800000001000ull,
                    .physAddr = 0x1000,
                    .data = "abc",
                    .align = 0x10});
    const std::string dump = Dump(home, elf.Build());
    EXPECT_THAT(dump, HasSubstr("  Class:      Unknown (2)\n  Encoding:   Big endian\n"));
    EXPECT_THAT(dump, HasSubstr("  Entry:      0x123456789A\n"));
    EXPECT_THAT(dump, HasSubstr("  [ 0] PT_LOAD    ffff800000001000 00001000 00000003 00000003 "
                                "00000005 00000010\n"));
}

// Names that cannot be found print empty, and the rest of the dump still comes out.
TEST(ElfDump, SymbolNamesOutsideTheirStringTableReadAsEmpty) {
    TempHome home;
    ElfBuilder elf(false, false);
    const std::size_t symtab = elf.AddSymbolTable(".symtab", {{}, {.name = "f", .value = 0x10}});
    std::string file = elf.Build();
    // Point the table's string-table link at a section index that does not exist.
    elf.Patch(file, elf.shoff + symtab * elf.ShentSize() + 24, 99, 4);
    const std::string dump = Dump(home, file);
    EXPECT_THAT(dump,
                HasSubstr("\n" + std::string(46, ' ') + " 00000010 00000000 0000 0000 0000\n"));
}

TEST(ElfDump, NonElfFileGivesOnlyTheOpenFailureLine) {
    TempHome home;
    const std::string dump = Dump(home, "MZ this is some other kind of file");
    EXPECT_EQ(dump, "Can't open input file \"" + home.Path("in.elf") + "\"\n");
}

TEST(ElfDump, DumpFileThatCannotBeCreatedStillReturnsOne) {
    TempHome home;
    home.WriteFile("in.elf", ElfBuilder(false, false).Build());
    EXPECT_EQ(ParseElfFile(home.Path("in.elf").c_str(), home.Path("no/such/dir/d.txt").c_str()), 1);
    EXPECT_EQ(ParseElfFile(home.Path("in.elf").c_str(), nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(home.Path("no/such/dir/d.txt")));
}

} // namespace
