#pragma once
// NandLayout: how a device's NAND is divided into the boot area, the Romfs area and its backup,
// the Romfs1 area, the file-system area and the rest, in erase blocks of the layout's block size.

#include "kestrellib/device/nand_info.h"

#include <cstdint>
#include <string>

namespace kestrel::device {

struct NandLayout {
    std::uint16_t bootStart;  // always 0
    std::uint16_t bootBlocks; // 6 for boot device ids 2, 3 and 6, else 64
    std::uint16_t romfsStart;
    std::uint16_t romfsBlocks;
    std::uint16_t backupStart;
    std::uint16_t backupBlocks;
    std::uint16_t romfs1Start;
    std::uint16_t romfs1Blocks;
    std::uint16_t fsStart;
    std::uint16_t fsBlocks; // 34
    std::uint16_t restStart;
    std::uint16_t restBlocks;
    std::uint16_t pagesPerBlock; // halved on paired-page chips
    std::uint16_t pageSize;
    std::uint16_t pagesPerBlockShift;
    std::uint16_t pageSizeShift;
    std::uint8_t bootDeviceId; // set by the caller before computing; kept across recomputation
    std::uint8_t pairedPage;   // 1 for identification classes 9 and 10
};

inline constexpr std::uint16_t kFileSystemBlocks = 34;

// Fills the layout from the NAND record and the isp.ini area sizes. -1 (with the reason in
// *error) when the configured areas do not fit the chip; the layout is then still filled, with
// restBlocks 0, so nothing downstream sees a wrapped-around size.
int ComputeNandLayout(NandLayout& layout, const NandInfo& info, std::string* error = nullptr);

// The physical page of a layout page: unchanged without paired pages; with them, layout pages
// 0..3 of a block stay, and from 4 on they take the lower page of each usable pair.
std::uint32_t MapPairedPage(std::uint32_t page, const NandLayout& layout);

// The paired-page rule: which page indices of a physical block may be programmed.
bool PairedPageAllowed(std::uint32_t indexInBlock);

} // namespace kestrel::device
