// Loads Segwrap by file name, as the operator program does, and calls its five exports through
// their C signatures (the exact function types of the headers: a call through any other type is
// undefined, and clang's -fsanitize=function reports it).
#include "segwrap/download_blocks.h"
#include "segwrap/elf_builder.h"
#include "segwrap/elf_dump.h"
#include "segwrap/vmx_image.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include "support/loaded_library.h"
#include <cstdint>

namespace {

TEST(SegwrapExports, AnswerByNameWithTheirCSignatures) {
    kestrel::test::TempHome home;
    kestrel::test::ElfBuilder elf(false, false);
    elf.AddSegment({.type = 1, .virtAddr = 0x10, .physAddr = 0x20, .data = "abcd"});
    home.WriteFile("fw.elf", elf.Build());

    kestrel::test::LoadedLibrary lib(SEGWRAP_PATH);
    ASSERT_TRUE(lib.Loaded()) << SEGWRAP_PATH;
    auto get = lib.Get<decltype(GetDownloadBlocks)>("GetDownloadBlocks");
    auto release = lib.Get<decltype(BlockRelease)>("BlockRelease");
    auto dump = lib.Get<decltype(ParseElfFile)>("ParseElfFile");
    auto wrap = lib.Get<decltype(WrapVMXImageFormat)>("WrapVMXImageFormat");
    auto sum = lib.Get<decltype(MakeCheckSum)>("MakeCheckSum");
    ASSERT_TRUE(get && release && dump && wrap && sum);

    DownloadBlockSet set{};
    ASSERT_EQ(get(home.Path("fw.elf").c_str(), &set), 1);
    EXPECT_EQ(set.count, 1u);
    EXPECT_EQ(set.physAddrs[0], 0x20u);
    release(&set);
    EXPECT_EQ(dump(home.Path("fw.elf").c_str(), home.Path("d.txt").c_str()), 1);
    EXPECT_EQ(home.ReadText("d.txt").rfind("ELF Header\n", 0), 0u);
    EXPECT_EQ(wrap(home.Path("fw.elf").c_str(), home.Path("i.rap").c_str(), 0), 1);
    EXPECT_EQ(home.ReadFile("i.rap").size(), 52u + 28u);
    ImageHeader header{};
    const std::uint32_t words[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(sum(&header, words, 20), 1);
    EXPECT_EQ(header.checkSumA, 1u + 3u); // words 0 and 2
}

} // namespace
