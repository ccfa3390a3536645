#include "kestrellib/device/partition_table.h"

#include <gtest/gtest.h>

using namespace kestrel::device;

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

TEST(PartitionTable, OneEntryTakesTheRestOfTheDisk) {
    std::array<std::uint8_t, 512> sector{};
    const PartitionEntry entries[] = {{0x0B, kRestOfDisk}};
    BuildPartitionTable(sector, 512, 89, entries);
    EXPECT_EQ(sector[446 + 4], 0x0B);
    EXPECT_EQ(Le32(&sector[446 + 8]), 89u * 2048);
    EXPECT_EQ(Le32(&sector[446 + 12]), (512u - 89) * 2048);
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(sector[511], 0xAA);
    for (std::size_t i = 462; i < 510; ++i) {
        ASSERT_EQ(sector[i], 0) << i;
    }
}

TEST(PartitionTable, EntriesAreClippedAndStopAtSizeZero) {
    std::array<std::uint8_t, 512> sector{};
    const PartitionEntry entries[] = {{0x0B, 100}, {0x83, 1000}, {0x0C, 0}, {0x07, 5}};
    BuildPartitionTable(sector, 300, 50, entries);
    EXPECT_EQ(Le32(&sector[446 + 8]), 50u * 2048);
    EXPECT_EQ(Le32(&sector[446 + 12]), 100u * 2048);
    EXPECT_EQ(Le32(&sector[462 + 8]), 150u * 2048);
    EXPECT_EQ(Le32(&sector[462 + 12]), 150u * 2048) << "clipped to what is left";
    EXPECT_EQ(sector[478 + 4], 0) << "a size of 0 ends the table";
    EXPECT_EQ(sector[494 + 4], 0);
}

TEST(PartitionTable, StartBeyondTheDiskGivesAnEmptyEntryNotAWrappedOne) {
    std::array<std::uint8_t, 512> sector{};
    const PartitionEntry entries[] = {{0x0B, kRestOfDisk}};
    BuildPartitionTable(sector, 64, 89, entries);
    EXPECT_EQ(Le32(&sector[446 + 12]), 0u);
}

} // namespace
