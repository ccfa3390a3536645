// What the device-side boot area reader allocates: a sub-block's buffer grows with the data
// pages it really reads, not with the length its index head claims (support/large_allocations.h).
#include "sim/boot_area_reader.h"
#include "sim/page_source.h"
#include "support/large_allocations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using kestrel::sim::BootAreaGeometry;
using kestrel::sim::FunctionPageSource;
using kestrel::sim::ReadBootArea;
using kestrel::test::RefuseLargeAllocations;

constexpr std::uint32_t kPage = 16384;
constexpr std::uint32_t kPagesPerBlock = 32;
constexpr BootAreaGeometry kChip{kPage, kPagesPerBlock, 64, 0};

void Put32(std::vector<std::uint8_t>& page, std::size_t at, std::uint32_t value) {
    std::memcpy(page.data() + at, &value, 4);
}

// A level-0 area on 16 KiB pages: the three header copies and one index list of kind 0x100
// whose head claims `length` bytes in the data pages `dataPages` (the rest of its entries
// erased); every data page holds its own number in each byte.
std::map<std::uint32_t, std::vector<std::uint8_t>>
Area(std::uint32_t length, std::uint32_t listPages, const std::vector<std::uint32_t>& data) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages;
    for (std::uint32_t copy = 1; copy <= 3; ++copy) {
        auto& header = pages[copy * kPagesPerBlock];
        header.assign(kPage, 0xFF);
        std::memcpy(header.data(), "CK8S", 4);
    }
    for (std::uint32_t k = 0; k < listPages; ++k) {
        auto& index = pages[k];
        index.assign(kPage, 0xFF);
        Put32(index, 0, 0x55AACC33);
        Put32(index, 4, 0xFFFE0100 | (k == 0 ? 1 : k));
        if (k == 0) {
            Put32(index, 8, length);
            Put32(index, 12, data.empty() ? 0 : data.back() + 1);
            for (std::size_t n = 0; n < data.size(); ++n) {
                Put32(index, 16 + 4 * n, data[n]);
            }
        }
    }
    for (const std::uint32_t page : data) {
        pages[page].assign(kPage, static_cast<std::uint8_t>(page));
    }
    return pages;
}

struct Claim {
    const char* name;
    std::uint32_t length;
    std::uint32_t listPages;
    bool readable;
};

class BootAreaMemory : public ::testing::TestWithParam<Claim> {};

TEST_P(BootAreaMemory, ASubBlockCostsTheMemoryOfTheDataItReads) {
    const Claim claim = GetParam();
    const auto pages = Area(claim.length, claim.listPages, {200, 201});
    FunctionPageSource source([&](std::uint32_t page, std::uint8_t* out, std::uint32_t size) {
        const auto found = pages.find(page);
        std::memset(out, 0xFF, size);
        if (found != pages.end()) {
            std::memcpy(out, found->second.data(), size);
        }
        return true;
    });
    std::string error;
    std::optional<kestrel::sim::BootAreaView> area;
    {
        RefuseLargeAllocations guard;
        area = ReadBootArea(source, kChip, &error);
    }
    if (!claim.readable) {
        EXPECT_FALSE(area);
        EXPECT_NE(error.find("unreadable"), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(area) << error;
    ASSERT_EQ(area->subBlocks.size(), 1u);
    const auto& data = area->subBlocks[0].data;
    ASSERT_EQ(data.size(), claim.length);
    EXPECT_EQ(data.front(), 200);
    EXPECT_EQ(data.back(), 201);
}

// The largest claim a list of 32 index pages on 16 KiB pages may make is nearly 2 GiB; the
// area holds two data pages.
INSTANTIATE_TEST_SUITE_P(
    Claims, BootAreaMemory,
    ::testing::Values(Claim{"TwoPagesAsClaimed", kPage + 5, 1, true},
                      Claim{"OneListPageClaiming64MiB", 4092 * kPage, 1, false},
                      Claim{"FullListClaiming2GiB", 4092 * 32 * kPage - 1, 32, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
