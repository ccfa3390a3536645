#pragma once
// The NAND chip of a simulated device: its geometry and the identification bytes it reports,
// with one preset per identification class of the station's geometry table, the small-page
// codes, and the SD-card and serial-flash boot records. Each preset's geometry is what the
// host's decoding of its identification bytes yields, so a test can compare the two.

#include "sim/sim_api.h"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::sim {

struct Chip {
    std::string name;              // what the preset is, for messages
    int idClass = 0;               // identification class (-1 for SDBT, SPI and small-page)
    std::vector<std::uint8_t> id;  // identification bytes, maker code first (or the text)
    std::uint32_t pageSize = 2048; // data bytes per page
    std::uint32_t pagesPerBlock = 64;
    std::uint32_t blockCount = 4096;
    std::uint8_t eccMode = 0; // 1 or 0
    bool pairedPages = false; // MLC chip whose pages come in pairs (classes 9 and 10)

    // A chip of the identification table whose cell type (bits 2..3 of id byte 2) stores more
    // than one bit per cell. Such chips accept page programs only in ascending order within a
    // block.
    bool IsMlc() const {
        return pairedPages || (idClass >= 0 && id.size() > 2 && ((id[2] >> 2) & 0x03) != 0);
    }

    std::uint64_t PageCount() const {
        return static_cast<std::uint64_t>(pagesPerBlock) * blockCount;
    }
};

// The preset of an identification class 0..11; nullopt for any other number.
KESTREL_SIM_API std::optional<Chip> ChipForClass(int idClass);

// A chip that reports one of the small-page codes 0x73, 0x75, 0x76, 0x79 or 0xE6 as its id
// byte 1; nullopt for another code.
KESTREL_SIM_API std::optional<Chip> SmallPageChip(std::uint8_t code);

// A device that boots from an SD card (id "SDBT") or from serial flash (id "SPI-NOR"): the
// geometry travels in the record as it stands.
KESTREL_SIM_API Chip SdBootChip();
KESTREL_SIM_API Chip SpiFlashChip();

// The chip of a default simulated device: 2048-byte pages, 64 pages per block, 4096 blocks,
// ECC mode 0 (identification 2C DC 90 95 56, class 0).
KESTREL_SIM_API Chip DefaultChip();

// Parses a chip name as the configuration file gives it: "class0" .. "class11", "small73" (any
// small-page code in hex), "sdbt", "spi". nullopt when unknown.
KESTREL_SIM_API std::optional<Chip> ChipByName(const std::string& name);

} // namespace kestrel::sim
