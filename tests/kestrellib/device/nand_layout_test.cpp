#include "kestrellib/device/nand_layout.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::device;

namespace {

NandInfo SmallChip() {
    NandInfo info{};
    info.pageSize = 2048;
    info.pagesPerBlock = 64;
    info.blockCount = 4096;
    return info;
}

TEST(NandLayout, WorkedExample) {
    test::TempHome home;
    NandLayout layout{};
    ASSERT_EQ(ComputeNandLayout(layout, SmallChip()), 0);
    EXPECT_EQ(layout.bootStart, 0);
    EXPECT_EQ(layout.bootBlocks, 64);
    EXPECT_EQ(layout.romfsStart, 64);
    EXPECT_EQ(layout.romfsBlocks, 256);
    EXPECT_EQ(layout.backupStart, 320);
    EXPECT_EQ(layout.backupBlocks, 256);
    EXPECT_EQ(layout.romfs1Start, 576);
    EXPECT_EQ(layout.romfs1Blocks, 0);
    EXPECT_EQ(layout.fsStart, 576);
    EXPECT_EQ(layout.fsBlocks, 34);
    EXPECT_EQ(layout.restStart, 610);
    EXPECT_EQ(layout.restBlocks, 3486);
    EXPECT_EQ(layout.pagesPerBlockShift, 6);
    EXPECT_EQ(layout.pageSizeShift, 11);
    EXPECT_EQ(layout.pairedPage, 0);
}

TEST(NandLayout, BootAreaSizeFollowsTheBootDeviceId) {
    test::TempHome home;
    for (int id = 0; id <= 7; ++id) {
        NandLayout layout{};
        layout.bootDeviceId = static_cast<std::uint8_t>(id);
        ComputeNandLayout(layout, SmallChip());
        const bool small = id == 2 || id == 3 || id == 6;
        EXPECT_EQ(layout.bootBlocks, small ? 6 : 64) << "boot device id " << id;
        EXPECT_EQ(layout.bootDeviceId, id) << "the id survives the recomputation";
    }
}

TEST(NandLayout, Romfs1SizeCountsOnlyWhenEnabled) {
    test::TempHome home;
    home.WriteFile("isp.ini", "[Romfs]\nmaxsize=16\n[Romfs1]\nmaxsize=16\nenable=0\n");
    NandLayout layout{};
    ComputeNandLayout(layout, SmallChip());
    EXPECT_EQ(layout.romfs1Blocks, 0);
    EXPECT_EQ(layout.fsStart, layout.backupStart + layout.backupBlocks);
    home.WriteFile("isp.ini", "[Romfs]\nmaxsize=16\n[Romfs1]\nmaxsize=16\nenable=1\n");
    ComputeNandLayout(layout, SmallChip());
    EXPECT_EQ(layout.romfs1Blocks, 128);
    EXPECT_EQ(layout.fsStart, 64 + 128 + 128 + 128);
}

TEST(NandLayout, AreasLargerThanTheChipAreRefusedWithoutWrapping) {
    test::TempHome home;
    home.WriteFile("isp.ini", "[Romfs]\nmaxsize=300\n");
    NandLayout layout{};
    std::string error;
    EXPECT_EQ(ComputeNandLayout(layout, SmallChip(), &error), -1);
    EXPECT_EQ(layout.restBlocks, 0);
    EXPECT_NE(error.find("4096"), std::string::npos) << error;

    // 5000 MB is 40000 blocks of 128 KiB; in 32 bits it wrapped to 7232 and looked as if it fit
    // a chip of 65535 blocks.
    home.WriteFile("isp.ini", "[Romfs]\nmaxsize=5000\n");
    NandInfo big = SmallChip();
    big.blockCount = 0xFFFF;
    EXPECT_EQ(ComputeNandLayout(layout, big, &error), -1);
    EXPECT_NE(error.find("need 80098 blocks"), std::string::npos) << error;
}

TEST(NandLayout, PairedPageChipsUseHalfTheirBlock) {
    test::TempHome home;
    NandInfo info{};
    const std::uint8_t id[] = {0xAD, 0xD7, 0x94, 0xDA, 0x74, 0xC3};
    std::copy(std::begin(id), std::end(id), info.id);
    info.idLength = 6;
    info.pageSize = 8192;
    info.pagesPerBlock = 256;
    info.blockCount = 2048;
    NandLayout layout{};
    ASSERT_EQ(ComputeNandLayout(layout, info), 0);
    EXPECT_EQ(layout.pagesPerBlock, 128);
    EXPECT_EQ(layout.pagesPerBlockShift, 7);
    EXPECT_EQ(layout.pairedPage, 1);
    EXPECT_EQ(layout.romfsBlocks, 32); // 32 MiB in 1 MiB layout blocks
}

TEST(PairedPages, MappingLandsExactlyOnTheAllowedPages) {
    NandLayout layout{};
    layout.pairedPage = 1;
    layout.pagesPerBlockShift = 7; // 128 layout pages of a 256-page block
    const std::uint32_t firstEight[] = {0, 1, 2, 3, 6, 7, 10, 11};
    for (std::uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(MapPairedPage(i, layout), firstEight[i]);
    }
    for (std::uint32_t block = 0; block < 3; ++block) {
        std::vector<bool> hit(256, false);
        for (std::uint32_t i = 0; i < 128; ++i) {
            const std::uint32_t physical = MapPairedPage(block * 128 + i, layout);
            ASSERT_EQ(physical >> 8, block);
            EXPECT_TRUE(PairedPageAllowed(physical & 255)) << "layout page " << i;
            EXPECT_FALSE(hit[physical & 255]);
            hit[physical & 255] = true;
        }
    }
    NandLayout sixtyFour{};
    sixtyFour.pairedPage = 1;
    sixtyFour.pagesPerBlockShift = 6;
    EXPECT_EQ(MapPairedPage(640, sixtyFour), 1280u);
    EXPECT_EQ(MapPairedPage(12345, NandLayout{}), 12345u) << "no flag, no mapping";
}

TEST(PairedPages, AllowedIndices) {
    for (std::uint32_t i : {0u, 1u, 2u, 3u, 6u, 7u, 10u, 11u, 250u, 251u}) {
        EXPECT_TRUE(PairedPageAllowed(i)) << i;
    }
    for (std::uint32_t i : {4u, 5u, 8u, 9u, 252u, 253u, 254u, 255u}) {
        EXPECT_FALSE(PairedPageAllowed(i)) << i;
    }
    int allowed = 0;
    for (std::uint32_t i = 0; i < 256; ++i) {
        allowed += PairedPageAllowed(i) ? 1 : 0;
    }
    EXPECT_EQ(allowed, 128) << "exactly half of a block";
}

} // namespace
