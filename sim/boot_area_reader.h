#pragma once
// The device's view of a programmed boot area, decoded as the device's boot loader reads it:
// - loader level 1 and up: the system-information page (the "SYAL"/"EYAL" record at the first
//   page of the system-information block), which names the boot header block and the index
//   block and carries the NAND record the host wrote for the device;
// - the boot header page (short "CK8S" form or the "DK8S" directory form); at loader level 0
//   the three copies at pages B (16 with 256 pages per block), 2B and 3B, which must agree;
// - the index pages of the index block (level 0: block 0), grouped by kind and ordered by page:
//   the first page of a kind is the list's head (sequence 1, with length and end page), the
//   following ones continue it with sequences 1, 2, 3, ...;
// - the data pages each list names, reassembled into the sub-block's bytes.
// It trusts nothing it reads: each field is checked against the chip before it is used, and a
// damaged area gives an error instead of content. Written independently of the host's writer,
// so a test that compares its output with the input file checks the host's work.

#include "sim/page_source.h"
#include "sim/sim_api.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::sim {

struct BootAreaGeometry {
    std::uint32_t pageSize;      // data bytes per physical page
    std::uint32_t pagesPerBlock; // physical pages per erase block
    std::uint32_t blockCount;
    int loaderLevel;
    std::uint32_t sysInfoBlock = 2; // where the device keeps its system-information page
};

struct BootHeaderView {
    bool directoryForm = false;
    std::vector<std::uint8_t> configHeader;  // 48 bytes, magic "CK8S" or "DK8S"
    std::vector<std::uint8_t> clockTable;    // 176 bytes
    std::uint32_t imageWords[3] = {0, 0, 0}; // directory form: image header words 4, 6, 7
    std::vector<std::uint8_t> page;          // the whole page
};

struct BootSubBlockView {
    std::uint32_t kind = 0;
    std::uint32_t length = 0;
    std::uint32_t endPage = 0;            // word 3 of the head
    std::uint32_t headPage = 0;           // page of the list's head in the index block
    std::uint32_t indexPages = 0;         // head and continuations
    std::vector<std::uint32_t> dataPages; // in order
    std::vector<std::uint8_t> data;
};

struct BootAreaView {
    std::vector<std::uint8_t> sysInfo; // 224 bytes (level 1 and up)
    std::uint32_t bootHeaderBlock = 0;
    std::uint32_t indexBlock = 0;
    std::vector<std::uint32_t> headerPages;
    BootHeaderView header;
    std::vector<BootSubBlockView> subBlocks; // in the order their data were written
};

// Decodes the boot area; nullopt with the reason in *error when it is damaged or absent.
KESTREL_SIM_API std::optional<BootAreaView>
ReadBootArea(PageSource& source, const BootAreaGeometry& geometry, std::string* error = nullptr);

} // namespace kestrel::sim
