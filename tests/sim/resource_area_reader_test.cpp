// The device-side resource area reader on hand-built areas: what it accepts and what it refuses.

#include "sim/resource_area_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace kestrel::sim {
namespace {

using ::testing::ElementsAre;

constexpr std::uint32_t kPage = 64;
constexpr std::uint32_t kPagesPerBlock = 4;

// Physical pages by number; unwritten pages read as erased, listed ones fail.
class PageMap : public PageSource {
public:
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages;
    std::vector<std::uint32_t> unreadable;

    bool ReadPage(std::uint32_t page, std::span<std::uint8_t> out) override {
        if (std::find(unreadable.begin(), unreadable.end(), page) != unreadable.end()) {
            return false;
        }
        auto it = pages.find(page);
        std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
        if (it != pages.end()) {
            std::copy_n(it->second.begin(), std::min(out.size(), it->second.size()), out.begin());
        }
        return true;
    }
};

void PutU32(std::vector<std::uint8_t>& page, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        page[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

class ReaderTest : public ::testing::Test {
protected:
    ResourceAreaGeometry geometry{kPage, kPagesPerBlock, false, 10, 8};
    PageMap source;

    std::uint32_t Page(std::uint32_t areaBlock, std::uint32_t index) const {
        return (geometry.areaStart + areaBlock) * kPagesPerBlock + index;
    }
    // Record in area block recordBlock, map entries as given, image bytes i & 0xFF.
    void Build(std::uint32_t recordBlock, std::vector<std::uint16_t> map, std::uint32_t length,
               std::uint32_t areaBlocks = 8) {
        std::vector<std::uint8_t> record(kPage, 0);
        const std::uint32_t fields[] = {0x524F4653, 4, areaBlocks, length, 8, 0, 2, 1, 0};
        for (std::size_t i = 0; i < 9; ++i) {
            PutU32(record, 4 * i, fields[i]);
        }
        source.pages[Page(recordBlock, 0)] = record;
        std::vector<std::uint8_t> mapPage(kPage, 0);
        for (std::size_t i = 0; i < map.size(); ++i) {
            mapPage[2 * i] = static_cast<std::uint8_t>(map[i]);
            mapPage[2 * i + 1] = static_cast<std::uint8_t>(map[i] >> 8);
        }
        source.pages[Page(recordBlock, 1)] = mapPage;
        std::uint32_t at = 0;
        for (std::size_t k = 1; k < map.size() && at < length; ++k) {
            for (std::uint32_t j = 0; j < kPagesPerBlock && at < length; ++j) {
                std::vector<std::uint8_t> page(kPage, 0);
                for (std::uint32_t b = 0; b < kPage; ++b, ++at) {
                    page[b] = static_cast<std::uint8_t>(at);
                }
                source.pages[Page(map[k], j)] = page;
            }
        }
    }
};

TEST_F(ReaderTest, FindsTheRecordPastUnreadableAndErasedBlocks) {
    Build(2, {2, 3, 6}, 300);
    source.unreadable = {Page(0, 0)};
    std::string error;
    const auto content = ReadResourceArea(source, geometry, &error);
    ASSERT_TRUE(content) << error;
    EXPECT_EQ(content->recordBlock, 2u);
    EXPECT_THAT(content->dataBlocks, ElementsAre(3, 6));
    ASSERT_EQ(content->image.size(), 300u);
    for (std::size_t i = 0; i < 300; ++i) {
        ASSERT_EQ(content->image[i], static_cast<std::uint8_t>(i)) << i;
    }
    EXPECT_EQ(content->imageKind, 2u);
    EXPECT_EQ(content->encrypted, 1u);
}

struct DamageCase {
    const char* name;
    std::uint32_t recordBlock;
    std::vector<std::uint16_t> map;
    std::uint32_t length;
    std::uint32_t recordAreaBlocks;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class ReaderDamageTest : public ReaderTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ReaderDamageTest, RefusesAreasThatDoNotAddUp) {
    const auto& c = GetParam();
    Build(c.recordBlock, c.map, c.length, c.recordAreaBlocks);
    std::string error;
    EXPECT_FALSE(ReadResourceArea(source, geometry, &error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderDamageTest,
    ::testing::Values(DamageCase{"EntryZeroNotRecordBlock", 1, {0, 2}, 100, 8},
                      DamageCase{"EntriesDescending", 0, {0, 5, 3}, 300, 8},
                      DamageCase{"EntryOutsideArea", 0, {0, 8}, 10, 8},
                      DamageCase{"AreaSizeDiffers", 0, {0, 1}, 10, 9},
                      DamageCase{"ImageLongerThanArea", 0, {0, 1, 2, 3, 4, 5, 6, 7}, 8 * 256, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, EmptyAreaHasNoRecord) {
    std::string error;
    EXPECT_FALSE(ReadResourceArea(source, geometry, &error));
    EXPECT_EQ(error, "no area record in the area");
}

TEST(DevicePhysicalPageTest, PairedChipsUseTheLowerPageOfEachPair) {
    const ResourceAreaGeometry paired{8192, 64, true, 0, 1};
    std::vector<std::uint32_t> pages;
    for (std::uint32_t i = 0; i < 8; ++i) {
        pages.push_back(DevicePhysicalPage(paired, i));
    }
    EXPECT_THAT(pages, ElementsAre(0, 1, 2, 3, 6, 7, 10, 11));
    EXPECT_EQ(DevicePhysicalPage(paired, 640), 1280u);
    EXPECT_EQ(DevicePhysicalPage(paired, 64 + 63), 128u + 123);
    const ResourceAreaGeometry plain{2048, 64, false, 0, 1};
    EXPECT_EQ(DevicePhysicalPage(plain, 12345), 12345u);
}

} // namespace
} // namespace kestrel::sim
