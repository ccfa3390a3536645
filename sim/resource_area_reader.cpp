#include "sim/resource_area_reader.h"

#include <algorithm>

namespace kestrel::sim {
namespace {

constexpr std::uint32_t kMagic = 0x524F4653;
constexpr std::uint32_t kVersion = 4;
constexpr std::uint32_t kRecordBytes = 36;

std::uint32_t U32At(const std::vector<std::uint8_t>& page, std::size_t offset) {
    return std::uint32_t{page[offset]} | std::uint32_t{page[offset + 1]} << 8 |
           std::uint32_t{page[offset + 2]} << 16 | std::uint32_t{page[offset + 3]} << 24;
}

std::optional<ResourceAreaContent> Fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return std::nullopt;
}

// Reads pages of the area by area block and page index.
class AreaPages {
public:
    AreaPages(PageSource& source, const ResourceAreaGeometry& geometry)
        : source_(source), geometry_(geometry), page_(geometry.pageSize) {}

    bool Read(std::uint32_t areaIndex, std::uint32_t pageInBlock) {
        const std::uint64_t layoutPage =
            (std::uint64_t{geometry_.areaStart} + areaIndex) * geometry_.pagesPerBlock +
            pageInBlock;
        if (layoutPage > UINT32_MAX / 2) {
            return false;
        }
        return source_.ReadPage(
            DevicePhysicalPage(geometry_, static_cast<std::uint32_t>(layoutPage)), page_);
    }
    const std::vector<std::uint8_t>& Page() const { return page_; }

private:
    PageSource& source_;
    const ResourceAreaGeometry& geometry_;
    std::vector<std::uint8_t> page_;
};

} // namespace

std::uint32_t DevicePhysicalPage(const ResourceAreaGeometry& geometry, std::uint32_t layoutPage) {
    if (!geometry.pairedPage) {
        return layoutPage;
    }
    // Paired chips: a layout block is half a physical block; from index 4 on, of every four
    // physical pages only the first two are programmed.
    const std::uint32_t block = layoutPage / geometry.pagesPerBlock;
    const std::uint32_t index = layoutPage % geometry.pagesPerBlock;
    const std::uint32_t physicalIndex = index < 4 ? index : (index & ~1u) * 2 - 2 + (index & 1u);
    return block * geometry.pagesPerBlock * 2 + physicalIndex;
}

std::optional<ResourceAreaContent>
ReadResourceArea(PageSource& source, const ResourceAreaGeometry& geometry, std::string* error) {
    if (geometry.pageSize < kRecordBytes || geometry.pagesPerBlock < 2 ||
        geometry.areaBlocks == 0 || geometry.areaBlocks > 0xFFFF) {
        return Fail(error, "geometry without room for a resource area");
    }
    AreaPages pages(source, geometry);

    // The record lies in page 0 of the first block that carries one.
    ResourceAreaContent content{};
    std::uint32_t imageLength = 0;
    bool found = false;
    for (std::uint32_t i = 0; i < geometry.areaBlocks && !found; ++i) {
        if (!pages.Read(i, 0)) {
            continue;
        }
        const auto& page = pages.Page();
        if (U32At(page, 0) != kMagic || U32At(page, 4) != kVersion) {
            continue;
        }
        found = true;
        content.recordBlock = i;
        content.version = U32At(page, 4);
        content.areaBlocks = U32At(page, 8);
        imageLength = U32At(page, 12);
        content.romfsBlocks = U32At(page, 16);
        content.romfs1Blocks = U32At(page, 20);
        content.imageKind = U32At(page, 24);
        content.encrypted = U32At(page, 28);
        content.compressed = U32At(page, 32);
    }
    if (!found) {
        return Fail(error, "no area record in the area");
    }
    if (content.areaBlocks != geometry.areaBlocks) {
        return Fail(error, "the area record gives " + std::to_string(content.areaBlocks) +
                               " blocks, the area has " + std::to_string(geometry.areaBlocks));
    }

    const std::uint64_t blockBytes = std::uint64_t{geometry.pageSize} * geometry.pagesPerBlock;
    const std::uint64_t chunks = (std::uint64_t{imageLength} + blockBytes - 1) / blockBytes;
    if (chunks + 1 > geometry.areaBlocks) {
        return Fail(error, "the image is longer than the area");
    }
    const std::uint64_t mapBytes = (chunks + 1) * 2;
    const std::uint64_t mapPages = (mapBytes + geometry.pageSize - 1) / geometry.pageSize;
    if (mapPages + 1 > geometry.pagesPerBlock) {
        return Fail(error, "the block map reaches past its block");
    }

    // Map entries 0 .. chunks: the record block, then the block of each chunk, ascending.
    std::vector<std::uint16_t> map;
    map.reserve(chunks + 1);
    for (std::uint32_t p = 0; map.size() < chunks + 1; ++p) {
        if (!pages.Read(content.recordBlock, p + 1)) {
            return Fail(error, "a page of the block map cannot be read");
        }
        const auto& page = pages.Page();
        for (std::size_t at = 0; at + 1 < page.size() && map.size() < chunks + 1; at += 2) {
            map.push_back(static_cast<std::uint16_t>(page[at] | page[at + 1] << 8));
        }
    }
    if (map[0] != content.recordBlock) {
        return Fail(error, "map entry 0 is not the block of the record");
    }
    for (std::size_t k = 1; k < map.size(); ++k) {
        if (map[k] <= map[k - 1] || map[k] >= geometry.areaBlocks) {
            return Fail(error, "map entry " + std::to_string(k) + " is out of order or outside");
        }
    }
    content.dataBlocks.assign(map.begin() + 1, map.end());

    content.image.reserve(imageLength);
    std::uint64_t remaining = imageLength;
    for (const std::uint16_t block : content.dataBlocks) {
        const std::uint64_t chunk = std::min(remaining, blockBytes);
        for (std::uint32_t j = 0; j * std::uint64_t{geometry.pageSize} < chunk; ++j) {
            if (!pages.Read(block, j)) {
                return Fail(error, "an image page cannot be read");
            }
            const std::uint64_t take = std::min<std::uint64_t>(
                geometry.pageSize, chunk - j * std::uint64_t{geometry.pageSize});
            content.image.insert(content.image.end(), pages.Page().begin(),
                                 pages.Page().begin() + static_cast<std::ptrdiff_t>(take));
        }
        remaining -= chunk;
    }
    return content;
}

} // namespace kestrel::sim
