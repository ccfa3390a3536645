#pragma once
// Where the parts of a resource image go on the NAND: the area of each image kind, the layout
// and physical page of a page of an area block, and the counts the writer plans with (data
// blocks, pages of a chunk, pages of the block map, progress steps).

#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/resource_area_record.h"

#include <cstdint>

namespace kestrel::program {

struct ResourceArea {
    ResourceImageKind kind;
    std::uint16_t start;  // first block, in layout blocks from the start of the chip
    std::uint16_t blocks; // 0 for a Romfs1 area that is not configured
};

ResourceArea ResourceAreaOf(const device::NandLayout& layout, ResourceImageKind kind);

// Bytes of one layout block (pages per block x page size).
std::uint32_t BlockBytes(const device::NandLayout& layout);

// The physical page of page pageInBlock of the block areaIndex of the area: the layout page
// (start + areaIndex) x pages per block + pageInBlock, through MapPairedPage.
std::uint32_t AreaPhysicalPage(const device::NandLayout& layout, const ResourceArea& area,
                               std::uint16_t areaIndex, std::uint32_t pageInBlock);

// Blocks an image of length bytes fills, one chunk per block.
std::uint64_t DataBlockCount(std::uint64_t length, std::uint32_t blockBytes);

// Pages that hold bytes bytes of a chunk (the last page partly filled).
std::uint32_t PagesForBytes(std::uint32_t bytes, std::uint32_t pageSize);

// Pages after the record page that hold the block map of an area of areaBlocks blocks.
std::uint32_t MapPageCount(std::uint16_t areaBlocks, std::uint32_t pageSize);

// Progress steps of one image: (length >> page-size shift) + 1 page steps, one more than the
// pages written when the length is a multiple of the page size, plus one per tested block.
std::uint32_t ImageProgressSteps(const device::NandLayout& layout, std::uint64_t length,
                                 std::uint16_t areaBlocks);

} // namespace kestrel::program
