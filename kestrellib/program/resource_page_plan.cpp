#include "kestrellib/program/resource_page_plan.h"

namespace kestrel::program {

ResourceArea ResourceAreaOf(const device::NandLayout& layout, ResourceImageKind kind) {
    switch (kind) {
    case ResourceImageKind::kRomfs:
        return {kind, layout.romfsStart, layout.romfsBlocks};
    case ResourceImageKind::kRomfsBackup:
        return {kind, layout.backupStart, layout.backupBlocks};
    case ResourceImageKind::kRomfs1:
        return {kind, layout.romfs1Start, layout.romfs1Blocks};
    }
    return {kind, 0, 0};
}

std::uint32_t BlockBytes(const device::NandLayout& layout) {
    return std::uint32_t{layout.pagesPerBlock} * layout.pageSize;
}

std::uint32_t AreaPhysicalPage(const device::NandLayout& layout, const ResourceArea& area,
                               std::uint16_t areaIndex, std::uint32_t pageInBlock) {
    const std::uint32_t block = std::uint32_t{area.start} + areaIndex;
    return device::MapPairedPage(block * layout.pagesPerBlock + pageInBlock, layout);
}

std::uint64_t DataBlockCount(std::uint64_t length, std::uint32_t blockBytes) {
    return blockBytes == 0 ? 0 : (length + blockBytes - 1) / blockBytes;
}

std::uint32_t PagesForBytes(std::uint32_t bytes, std::uint32_t pageSize) {
    return pageSize == 0
               ? 0
               : static_cast<std::uint32_t>((std::uint64_t{bytes} + pageSize - 1) / pageSize);
}

std::uint32_t MapPageCount(std::uint16_t areaBlocks, std::uint32_t pageSize) {
    return PagesForBytes(std::uint32_t{areaBlocks} * 2, pageSize);
}

std::uint32_t ImageProgressSteps(const device::NandLayout& layout, std::uint64_t length,
                                 std::uint16_t areaBlocks) {
    const std::uint64_t pages = (length >> layout.pageSizeShift) + 1;
    return static_cast<std::uint32_t>(pages + areaBlocks);
}

} // namespace kestrel::program
