// The NAND rules of the simulated chip: what the host's verification and bad-block handling
// rely on when they run against it.
#include "sim/nand_array.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel::sim {
namespace {

std::vector<std::uint8_t> Filled(std::size_t n, std::uint8_t value) {
    return std::vector<std::uint8_t>(n, value);
}

std::vector<std::uint8_t> ReadPage(const NandArray& nand, std::uint64_t page) {
    std::vector<std::uint8_t> out(nand.Geometry().pageSize);
    nand.Read(page, out.data(), out.size());
    return out;
}

TEST(NandArray, ErasedPagesReadAllOnesAndProgrammingOnlyClearsBits) {
    NandArray nand(DeviceConfig{});
    const std::uint32_t size = nand.Geometry().pageSize;
    EXPECT_EQ(ReadPage(nand, 70), Filled(size, 0xFF));
    EXPECT_TRUE(nand.IsPageErased(70));

    EXPECT_EQ(nand.Program(70, Filled(size, 0xF0).data(), size), NandArray::ProgramResult::kDone);
    EXPECT_FALSE(nand.IsPageErased(70));
    // A second program without an erase is refused as a rule breach, but the cells still only
    // lose bits: F0 AND 0F = 00.
    EXPECT_EQ(nand.Program(70, Filled(size, 0x0F).data(), size),
              NandArray::ProgramResult::kNotErased);
    EXPECT_EQ(ReadPage(nand, 70), Filled(size, 0x00));
    EXPECT_EQ(nand.PageProgramsSinceErase(70), 2u);

    nand.EraseBlockOf(64); // any page of block 1 names the block
    EXPECT_EQ(ReadPage(nand, 70), Filled(size, 0xFF));
    EXPECT_EQ(nand.Program(70, Filled(size, 0x5A).data(), size), NandArray::ProgramResult::kDone);
    EXPECT_EQ(nand.Stats(1).erases, 1u);
    EXPECT_EQ(nand.Stats(1).programs, 3u);
    EXPECT_EQ(nand.Stats(0).erases, 0u);
}

TEST(NandArray, ShortProgramLeavesTheRestOfThePageErased) {
    NandArray nand(DeviceConfig{});
    nand.Program(5, Filled(100, 0x00).data(), 100);
    const auto page = ReadPage(nand, 5);
    EXPECT_EQ(page[99], 0x00);
    EXPECT_EQ(page[100], 0xFF);
}

// Erased pages give their storage to later programs: nothing of the old data may show.
TEST(NandArray, StorageOfErasedPagesCarriesNoOldData) {
    NandArray nand(DeviceConfig{});
    const std::uint32_t size = nand.Geometry().pageSize;
    const std::uint32_t ppb = nand.Geometry().pagesPerBlock;
    for (std::uint32_t p = 0; p < ppb; ++p) {
        nand.Program(p, Filled(size, 0x00).data(), size);
    }
    nand.EraseBlockOf(0);
    EXPECT_EQ(nand.Program(ppb + 1, Filled(100, 0x11).data(), 100),
              NandArray::ProgramResult::kDone);
    auto expected = Filled(size, 0xFF);
    std::fill(expected.begin(), expected.begin() + 100, std::uint8_t{0x11});
    EXPECT_EQ(ReadPage(nand, ppb + 1), expected);
    EXPECT_EQ(nand.Program(3, Filled(size, 0x5A).data(), size), NandArray::ProgramResult::kDone);
    EXPECT_EQ(ReadPage(nand, 3), Filled(size, 0x5A));
    EXPECT_EQ(ReadPage(nand, 4), Filled(size, 0xFF));
}

TEST(NandArray, EraseTouchesOnlyItsOwnBlock) {
    NandArray nand(DeviceConfig{});
    const std::uint32_t ppb = nand.Geometry().pagesPerBlock;
    const std::uint8_t zero = 0;
    nand.Program(ppb - 1, &zero, 1);
    nand.Program(ppb, &zero, 1);
    nand.Program(2 * ppb, &zero, 1);
    nand.EraseBlockOf(ppb + 3);
    EXPECT_FALSE(nand.IsPageErased(ppb - 1));
    EXPECT_TRUE(nand.IsPageErased(ppb));
    EXPECT_FALSE(nand.IsPageErased(2 * ppb));
}

TEST(NandArray, FactoryBadBlockKeepsNothingAndReadsZero) {
    DeviceConfig config;
    config.factoryBadBlocks = {3};
    NandArray nand(config);
    const std::uint32_t size = nand.Geometry().pageSize;
    const std::uint64_t page = 3 * nand.Geometry().pagesPerBlock;
    EXPECT_TRUE(nand.IsBlockBad(3));
    EXPECT_FALSE(nand.IsBlockBad(4));
    nand.EraseBlockOf(page);
    nand.Program(page, Filled(size, 0x5A).data(), size);
    EXPECT_EQ(ReadPage(nand, page), Filled(size, 0x00));
}

TEST(NandArray, GrownBadBlockWorksUntilWornOutThenStoresOneBitWrong) {
    DeviceConfig config;
    config.grownBadBlocks = {{2, 2}};
    NandArray nand(config);
    const std::uint32_t size = nand.Geometry().pageSize;
    const std::uint64_t page = 2 * nand.Geometry().pagesPerBlock;
    const auto pattern = Filled(size, 0x5A);
    nand.EraseBlockOf(page);
    nand.Program(page, pattern.data(), size);
    EXPECT_EQ(ReadPage(nand, page), pattern);
    EXPECT_FALSE(nand.IsBlockBad(2));
    nand.EraseBlockOf(page);
    EXPECT_TRUE(nand.IsBlockBad(2));
    nand.Program(page, pattern.data(), size);
    const auto back = ReadPage(nand, page);
    int differing = 0;
    for (std::size_t i = 0; i < size; ++i) {
        differing += back[i] != pattern[i];
    }
    EXPECT_EQ(differing, 1);
}

TEST(NandArray, FailingPageReadsBackOneByteWrongButStoresTheData) {
    DeviceConfig config;
    config.failingPages = {130};
    NandArray nand(config);
    const std::uint32_t size = nand.Geometry().pageSize;
    const auto pattern = Filled(size, 0xA5);
    nand.Program(130, pattern.data(), size);
    nand.Program(131, pattern.data(), size);
    const auto back = ReadPage(nand, 130);
    int differing = 0;
    for (std::size_t i = 0; i < size; ++i) {
        differing += back[i] != pattern[i];
    }
    EXPECT_EQ(differing, 1);
    EXPECT_EQ(nand.PageBytes(130), pattern);
    EXPECT_EQ(ReadPage(nand, 131), pattern);
}

TEST(NandArray, LargeChipsCostOnlyWhatIsWritten) {
    NandArray nand(DeviceConfig::ForClass(1)); // 4 GiB
    const std::uint64_t last = nand.Geometry().PageCount() - 1;
    ASSERT_TRUE(nand.ValidPage(last));
    EXPECT_FALSE(nand.ValidPage(last + 1));
    const std::uint8_t zero = 0;
    EXPECT_EQ(nand.Program(last, &zero, 1), NandArray::ProgramResult::kDone);
    EXPECT_EQ(nand.PageBytes(last)[0], 0);
}

} // namespace
} // namespace kestrel::sim
