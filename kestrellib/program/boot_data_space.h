#pragma once
// The room the boot image's data pages have: from the data start (after the boot header and
// index blocks) up to the end of the boot area, where the Romfs area begins, or of the span the
// erase map covers (the first 32 MiB), whichever comes first. On paired-page chips only the
// pages the paired-page rule admits count. The boot-code procedure measures an image against it
// before its first data page, the data write never passes its end, and the workspace check
// measures the image the same way for every boot area size a device may have.

#include "kestrellib/program/boot_image_format.h"

#include <cstdint>
#include <span>
#include <string>

namespace kestrel::program {

struct BootDataSpace {
    std::uint32_t firstPage = 0;   // physical page of the data start
    std::uint32_t endPage = 0;     // first physical page the data may not use
    std::uint64_t usablePages = 0; // pages in [firstPage, endPage) the chip lets the data use
};

// bootAreaBlocks and eraseMapBlocks count physical blocks of pagesPerBlock pages.
BootDataSpace MeasureBootDataSpace(std::uint64_t firstPage, std::uint32_t bootAreaBlocks,
                                   std::uint32_t eraseMapBlocks, std::uint32_t pagesPerBlock,
                                   bool pairedPages);

// Data pages the image's sub-blocks take, one page per page size of each sub-block's data.
std::uint64_t BootDataPages(std::span<const SubHeader> subHeaders, std::uint32_t pageSize);

// The operator's text when the image does not fit: pages needed and the room there is.
std::string BootDataSpaceMessage(std::uint64_t neededPages, const BootDataSpace& space,
                                 bool pairedPages);

} // namespace kestrel::program
