// GoodBlockMap, the area record's compression check and the page planning.

#include "kestrellib/program/good_block_map.h"
#include "kestrellib/program/resource_area_record.h"
#include "kestrellib/program/resource_page_plan.h"
#include "resource_fixture.h"

#include <gmock/gmock.h>

namespace kestrel::test {
namespace {

using program::GoodBlockMap;
using ::testing::ElementsAre;

std::vector<std::uint16_t> Entries(const GoodBlockMap& map) {
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i < map.Size(); ++i) {
        out.push_back(map[i]);
    }
    return out;
}

TEST(GoodBlockMapTest, NeverTakesIndex30000) {
    GoodBlockMap map(30002);
    EXPECT_TRUE(map.Add(29999));
    EXPECT_FALSE(map.Add(30000));
    EXPECT_TRUE(map.Add(30001));
    EXPECT_THAT(Entries(map), ElementsAre(29999, 30001));
}

TEST(GoodBlockMapTest, StaysAscendingAndInsideTheArea) {
    GoodBlockMap map(8);
    EXPECT_TRUE(map.Add(2));
    EXPECT_FALSE(map.Add(2));
    EXPECT_FALSE(map.Add(1));
    EXPECT_FALSE(map.Add(8));
    EXPECT_TRUE(map.Add(7));
    EXPECT_THAT(Entries(map), ElementsAre(2, 7));
}

TEST(GoodBlockMapTest, RemoveMovesTheFollowingEntriesDown) {
    GoodBlockMap map(10);
    for (std::uint32_t i : {0, 1, 2, 4, 5}) {
        map.Add(i);
    }
    map.Remove(2);
    map.Remove(9); // ignored
    EXPECT_THAT(Entries(map), ElementsAre(0, 1, 4, 5));
}

TEST(GoodBlockMapTest, EncodesLittleEndianWithZeroFiller) {
    GoodBlockMap map(4);
    map.Add(1);
    map.Add(3);
    std::vector<std::uint8_t> out(10, 0xEE);
    map.Encode(0, out);
    EXPECT_THAT(out, ElementsAre(1, 0, 3, 0, 0, 0, 0, 0, 0, 0));
    GoodBlockMap big(0x400);
    big.Add(0x0102);
    std::vector<std::uint8_t> tail(3, 0xEE);
    big.Encode(1, tail);
    EXPECT_THAT(tail, ElementsAre(0x01, 0, 0));
    EXPECT_EQ(big.EncodedSize(), 0x800u);
}

TEST(ResourceAreaRecordTest, CompressedOnlyWithTheFullMagic) {
    const std::uint8_t full[] = {'F', 'Z', 'K', 'Z', 0};
    EXPECT_TRUE(program::IsKzipImage(full));
    EXPECT_TRUE(program::IsKzipImage(std::span(full, 4)));
    EXPECT_FALSE(program::IsKzipImage(std::span(full, 3)));
    EXPECT_FALSE(program::IsKzipImage({}));
}

TEST(ResourcePagePlanTest, AreasAndPages) {
    const auto layout = TestLayout(2048, 64, 256, 8, false, 64);
    const auto romfs1 = program::ResourceAreaOf(layout, program::ResourceImageKind::kRomfs1);
    EXPECT_EQ(romfs1.start, 64 + 512);
    EXPECT_EQ(romfs1.blocks, 8);
    const auto backup = program::ResourceAreaOf(layout, program::ResourceImageKind::kRomfsBackup);
    EXPECT_EQ(backup.start, 320);
    EXPECT_EQ(program::AreaPhysicalPage(layout, backup, 2, 5), (320u + 2) * 64 + 5);
    EXPECT_EQ(program::MapPageCount(256, 2048), 1u);
    EXPECT_EQ(program::MapPageCount(1025, 2048), 2u);
    EXPECT_EQ(program::DataBlockCount(0, 131072), 0u);
    EXPECT_EQ(program::DataBlockCount(131073, 131072), 2u);

    auto paired = TestLayout(8192, 128, 16, 0, true, 64);
    const auto area = program::ResourceAreaOf(paired, program::ResourceImageKind::kRomfs);
    EXPECT_EQ(program::AreaPhysicalPage(paired, area, 0, 4), 64u * 256 + 6);
}

} // namespace
} // namespace kestrel::test
