#include "kestrellib/program/boot_data_space.h"

#include "kestrellib/device/nand_layout.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::program {

BootDataSpace MeasureBootDataSpace(std::uint64_t firstPage, std::uint32_t bootAreaBlocks,
                                   std::uint32_t eraseMapBlocks, std::uint32_t pagesPerBlock,
                                   bool pairedPages) {
    BootDataSpace space;
    const std::uint64_t end =
        std::uint64_t{std::min(bootAreaBlocks, eraseMapBlocks)} * pagesPerBlock;
    space.firstPage = static_cast<std::uint32_t>(std::min<std::uint64_t>(firstPage, UINT32_MAX));
    space.endPage = static_cast<std::uint32_t>(std::min<std::uint64_t>(end, UINT32_MAX));
    if (pagesPerBlock == 0 || space.firstPage >= space.endPage) {
        return space;
    }
    if (!pairedPages) {
        space.usablePages = space.endPage - space.firstPage;
        return space;
    }
    for (std::uint32_t page = space.firstPage; page < space.endPage; ++page) {
        space.usablePages += device::PairedPageAllowed(page % pagesPerBlock) ? 1 : 0;
    }
    return space;
}

std::uint64_t BootDataPages(std::span<const SubHeader> subHeaders, std::uint32_t pageSize) {
    std::uint64_t pages = 0;
    for (const SubHeader& sub : subHeaders) {
        pages += (std::uint64_t{sub.blockLength} + pageSize - 1) / pageSize;
    }
    return pages;
}

std::string BootDataSpaceMessage(std::uint64_t neededPages, const BootDataSpace& space,
                                 bool pairedPages) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "the boot image needs %llu data pages, but the boot area holds %llu%s from "
                  "page %u up to page %u, where the Romfs area or the erased span begins",
                  static_cast<unsigned long long>(neededPages),
                  static_cast<unsigned long long>(space.usablePages),
                  pairedPages ? " that the paired-page rule admits" : "", space.firstPage,
                  space.endPage);
    return text;
}

} // namespace kestrel::program
