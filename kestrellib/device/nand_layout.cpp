#include "kestrellib/device/nand_layout.h"

#include "kestrellib/device/nand_class.h"
#include "kestrellib/program/config_files.h"

#include <cstdio>

namespace kestrel::device {

int ComputeNandLayout(NandLayout& layout, const NandInfo& info, std::string* error) {
    // Sizes in 64 bits: a size of 4096 MB or more must not wrap into a small area.
    const std::uint64_t m0 = static_cast<std::uint32_t>(config::isp::RomfsMaxSizeMb());
    const std::uint8_t bootDeviceId = layout.bootDeviceId;
    layout = NandLayout{};
    layout.bootDeviceId = bootDeviceId;

    layout.pagesPerBlock = info.pagesPerBlock;
    layout.pageSize = info.pageSize;
    if (IsPairedPageClass(ClassifyNandId(info))) {
        layout.pagesPerBlock = static_cast<std::uint16_t>(layout.pagesPerBlock / 2);
        layout.pairedPage = 1;
    }
    layout.pagesPerBlockShift = Log2(layout.pagesPerBlock);
    layout.pageSizeShift = Log2(layout.pageSize);

    const bool smallBoot = bootDeviceId == 2 || bootDeviceId == 3 || bootDeviceId == 6;
    const std::uint16_t r = smallBoot ? 6 : 64;
    layout.bootStart = 0;
    layout.bootBlocks = r;
    layout.romfsStart = r;

    const unsigned shift = layout.pagesPerBlockShift + layout.pageSizeShift;
    const std::uint64_t s0 = (m0 << 20) >> shift;
    const std::uint64_t m1 = static_cast<std::uint32_t>(config::isp::Romfs1MaxSizeMb());
    const std::uint64_t s1 = (m1 << 20) >> shift;
    const std::uint64_t restStart = r + 2 * s0 + s1 + kFileSystemBlocks;

    layout.romfsBlocks = static_cast<std::uint16_t>(s0);
    layout.backupStart = static_cast<std::uint16_t>(r + s0);
    layout.backupBlocks = static_cast<std::uint16_t>(s0);
    layout.romfs1Start = static_cast<std::uint16_t>(r + 2 * s0);
    layout.romfs1Blocks = static_cast<std::uint16_t>(s1);
    layout.fsStart = static_cast<std::uint16_t>(r + 2 * s0 + s1);
    layout.fsBlocks = kFileSystemBlocks;
    layout.restStart = static_cast<std::uint16_t>(restStart);

    if (restStart > info.blockCount) {
        layout.restBlocks = 0;
        if (error != nullptr) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the configured areas need %llu blocks but the chip has %u "
                          "(Romfs %llu MB, Romfs1 %llu MB)",
                          static_cast<unsigned long long>(restStart),
                          static_cast<unsigned>(info.blockCount),
                          static_cast<unsigned long long>(m0), static_cast<unsigned long long>(m1));
            *error = text;
        }
        return -1;
    }
    layout.restBlocks = static_cast<std::uint16_t>(info.blockCount - restStart);
    return 0;
}

std::uint32_t MapPairedPage(std::uint32_t page, const NandLayout& layout) {
    if (layout.pairedPage == 0) {
        return page;
    }
    const unsigned l = layout.pagesPerBlockShift;
    std::uint32_t i = page & ((1u << l) - 1);
    const std::uint32_t b = page >> l;
    if (i >= 4) {
        i = (i % 2 != 0) ? 2 * i - 3 : 2 * i - 2;
    }
    return (b << (l + 1)) + i;
}

bool PairedPageAllowed(std::uint32_t indexInBlock) {
    if (indexInBlock <= 2) {
        return true;
    }
    if (indexInBlock >= 254) {
        return false;
    }
    const std::uint32_t j = indexInBlock & ~1u;
    const std::uint32_t m = j % 16;
    return m == 2 || m == 6 || m == 10 || m == 14;
}

} // namespace kestrel::device
