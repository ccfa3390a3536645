// GetDownloadBlocks and BlockRelease on hand-built ELF files.
#include "segwrap/download_blocks.h"

#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kestrel::test::ElfBuilder;
using kestrel::test::TempHome;

std::string Bytes(const unsigned char* data, std::uint32_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Releases the set when a test ends, whatever it asserted.
struct OwnedSet {
    DownloadBlockSet set{};
    ~OwnedSet() { BlockRelease(&set); }
};

struct FileKind {
    bool is64;
    bool bigEndian;
};

class DownloadBlocksByKind : public ::testing::TestWithParam<FileKind> {};

TEST_P(DownloadBlocksByKind, TwoLoadableSegmentsAndANoteGiveThreeBlocksInHeaderOrder) {
    TempHome home;
    ElfBuilder elf(GetParam().is64, GetParam().bigEndian);
    elf.entry = 0x30000040;
    elf.AddSegment({.type = 1, .virtAddr = 0x30000000, .physAddr = 0x00100000, .data = "code!"});
    elf.AddSegment({.type = 1, .virtAddr = 0x30008000, .physAddr = 0x00108000, .data = "dat"});
    elf.AddSegment({.type = 4, .virtAddr = 0x1234, .physAddr = 0x5678, .data = "note-bytes"});
    home.WriteFile("fw.elf", elf.Build());

    OwnedSet owned;
    ASSERT_EQ(GetDownloadBlocks(home.Path("fw.elf").c_str(), &owned.set), 1);
    const DownloadBlockSet& s = owned.set;
    ASSERT_EQ(s.count, 3u);
    EXPECT_EQ(s.entry, 0x30000040u);
    EXPECT_EQ(s.sizes[0], 5u);
    EXPECT_EQ(Bytes(s.data[0], s.sizes[0]), "code!");
    EXPECT_EQ(s.virtAddrs[0], 0x30000000u);
    EXPECT_EQ(s.physAddrs[0], 0x00100000u);
    EXPECT_EQ(Bytes(s.data[1], s.sizes[1]), "dat");
    EXPECT_EQ(s.virtAddrs[1], 0x30008000u);
    EXPECT_EQ(s.physAddrs[1], 0x00108000u);
    EXPECT_EQ(s.sizes[2], 0u);
    EXPECT_EQ(s.data[2], nullptr);
    EXPECT_EQ(s.virtAddrs[2], 0u);
    EXPECT_EQ(s.physAddrs[2], 0u);
}

INSTANTIATE_TEST_SUITE_P(ClassesAndByteOrders, DownloadBlocksByKind,
                         ::testing::Values(FileKind{false, false}, FileKind{false, true},
                                           FileKind{true, false}, FileKind{true, true}));

struct TypeCase {
    std::uint32_t type;
    bool givesData;
};

class DownloadBlockTypes : public ::testing::TestWithParam<TypeCase> {};

// Bit 0 of the type selects data, not equality with the loadable type.
TEST_P(DownloadBlockTypes, OddTypesGiveDataEvenTypesNever) {
    TempHome home;
    ElfBuilder elf(false, false);
    elf.AddSegment({.type = GetParam().type, .virtAddr = 0x2000, .physAddr = 0x3000, .data = "xy"});
    home.WriteFile("fw.elf", elf.Build());
    OwnedSet owned;
    ASSERT_EQ(GetDownloadBlocks(home.Path("fw.elf").c_str(), &owned.set), 1);
    ASSERT_EQ(owned.set.count, 1u);
    if (GetParam().givesData) {
        EXPECT_EQ(Bytes(owned.set.data[0], owned.set.sizes[0]), "xy");
        EXPECT_EQ(owned.set.virtAddrs[0], 0x2000u);
        EXPECT_EQ(owned.set.physAddrs[0], 0x3000u);
    } else {
        EXPECT_EQ(owned.set.sizes[0], 0u);
        EXPECT_EQ(owned.set.data[0], nullptr);
        EXPECT_EQ(owned.set.virtAddrs[0], 0u);
        EXPECT_EQ(owned.set.physAddrs[0], 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, DownloadBlockTypes,
                         ::testing::Values(TypeCase{0, false}, TypeCase{1, true},
                                           TypeCase{2, false}, TypeCase{3, true},
                                           TypeCase{4, false}, TypeCase{5, true},
                                           TypeCase{6, false}, TypeCase{7, true},
                                           TypeCase{0x70000001, true}, TypeCase{0x70000000, false},
                                           TypeCase{0x6474E550, false}));

TEST(DownloadBlocks, LoadableSegmentWithoutFileBytesIsAnEmptyBlock) {
    TempHome home;
    ElfBuilder elf(false, false);
    elf.AddSegment({.type = 1, .virtAddr = 0x8000, .physAddr = 0x8000, .memSize = 0x400});
    home.WriteFile("bss.elf", elf.Build());
    OwnedSet owned;
    ASSERT_EQ(GetDownloadBlocks(home.Path("bss.elf").c_str(), &owned.set), 1);
    ASSERT_EQ(owned.set.count, 1u);
    EXPECT_EQ(owned.set.sizes[0], 0u);
    EXPECT_EQ(owned.set.data[0], nullptr);
    EXPECT_EQ(owned.set.virtAddrs[0], 0u);
}

TEST(DownloadBlocks, FileWithoutProgramHeadersGivesAnEmptySetThatReleasesCleanly) {
    TempHome home;
    ElfBuilder elf(false, false);
    elf.type = 1;
    elf.AddSection({.name = ".text", .type = 1, .flags = 6, .data = "abcd"});
    home.WriteFile("obj.o", elf.Build());
    DownloadBlockSet set{};
    ASSERT_EQ(GetDownloadBlocks(home.Path("obj.o").c_str(), &set), 1);
    EXPECT_EQ(set.count, 0u);
    EXPECT_NE(set.sizes, nullptr);
    BlockRelease(&set);
    EXPECT_EQ(set.sizes, nullptr);
    BlockRelease(&set); // a second release finds nothing to give back
    BlockRelease(nullptr);
}

TEST(DownloadBlocks, AddressesBeyond32BitsAreRefusedRatherThanCut) {
    TempHome home;
    ElfBuilder elf(true, false);
    elf.AddSegment({.type = 1, .virtAddr = 0x100000000ull, .physAddr = 0x1000, .data = "x"});
    home.WriteFile("high.elf", elf.Build());
    ElfBuilder entryHigh(true, false);
    entryHigh.entry = 0x200000000ull;
    entryHigh.AddSegment({.type = 1, .data = "x"});
    home.WriteFile("entry.elf", entryHigh.Build());
    ElfBuilder noteHigh(true, false); // a block without data keeps addresses 0, so it passes
    noteHigh.AddSegment({.type = 4, .virtAddr = 0x100000000ull, .data = "n"});
    home.WriteFile("note.elf", noteHigh.Build());

    DownloadBlockSet set{};
    EXPECT_EQ(GetDownloadBlocks(home.Path("high.elf").c_str(), &set), 0);
    EXPECT_EQ(GetDownloadBlocks(home.Path("entry.elf").c_str(), &set), 0);
    EXPECT_EQ(set.sizes, nullptr);
    EXPECT_EQ(GetDownloadBlocks(home.Path("note.elf").c_str(), &set), 1);
    BlockRelease(&set);
}

TEST(DownloadBlocks, FailureLeavesTheSetAsItWas) {
    TempHome home;
    home.WriteFile("text.txt", "this is not an ELF file at all, just some words\n");
    DownloadBlockSet set{};
    set.count = 77;
    set.entry = 0xABCD;
    EXPECT_EQ(GetDownloadBlocks(home.Path("text.txt").c_str(), &set), 0);
    EXPECT_EQ(GetDownloadBlocks(home.Path("missing.elf").c_str(), &set), 0);
    EXPECT_EQ(GetDownloadBlocks(home.Dir().string().c_str(), &set), 0);
    EXPECT_EQ(GetDownloadBlocks(nullptr, &set), 0);
    EXPECT_EQ(GetDownloadBlocks(home.Path("text.txt").c_str(), nullptr), 0);
    EXPECT_EQ(set.count, 77u);
    EXPECT_EQ(set.entry, 0xABCDu);
    EXPECT_EQ(set.sizes, nullptr);
}

} // namespace
