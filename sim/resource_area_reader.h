#pragma once
// The device's view of a programmed resource area: finds the area record in the first block of
// the area that carries one, reads the block map from the pages after it and reassembles the
// image of the recorded length from the blocks the map names, as the device's loader does.
// It trusts nothing it reads: every field is checked against the area before it is used, and a
// damaged area gives an error instead of an image.
//
// Written independently of the host's writer (its own record decoding and page mapping), so a
// test that compares its output with the input file checks the host's work, not a shared
// mistake.

#include "sim/page_source.h"
#include "sim/sim_api.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::sim {

// The geometry of the NAND and the area, in the terms the host laid the chip out in.
struct ResourceAreaGeometry {
    std::uint32_t pageSize;
    std::uint32_t pagesPerBlock; // layout pages per block (half the physical ones when paired)
    bool pairedPage;             // chips whose upper pages are not used
    std::uint32_t areaStart;     // first block of the area
    std::uint32_t areaBlocks;
};

struct ResourceAreaContent {
    std::uint32_t recordBlock; // area-relative block of the record (map entry 0)
    std::uint32_t version;
    std::uint32_t areaBlocks;
    std::uint32_t romfsBlocks;
    std::uint32_t romfs1Blocks;
    std::uint32_t imageKind;
    std::uint32_t encrypted;
    std::uint32_t compressed;
    std::vector<std::uint16_t> dataBlocks; // area-relative block of chunk 1, 2, ...
    std::vector<std::uint8_t> image;
};

// The physical page of a layout page, as the device's NAND driver maps it.
KESTREL_SIM_API std::uint32_t DevicePhysicalPage(const ResourceAreaGeometry& geometry,
                                                 std::uint32_t layoutPage);

// Decodes the area; nullopt with the reason in *error when no valid area is found.
KESTREL_SIM_API std::optional<ResourceAreaContent>
ReadResourceArea(PageSource& source, const ResourceAreaGeometry& geometry,
                 std::string* error = nullptr);

} // namespace kestrel::sim
