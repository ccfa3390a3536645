#pragma once
// The input form of the boot area fuzz target: a chip and the pages of it that are not erased.
//
//   byte 0       loader level (low two bits)
//   byte 1       system-information block
//   bytes 2-7    page size, pages per block, block count (little-endian 16-bit words)
//   then pages:  physical page (32 bits), a 16-bit word (length in the low 15 bits; bit 15: the
//                page cannot be read), and that many bytes of the page from its start
//
// A page no record names reads erased (0xFF), as do the bytes after a record's; a later record
// of a page replaces an earlier one. Seeds are the written pages of simulated devices after a
// real programming run, so the fuzzer starts from areas the reader accepts.

#include "sim/boot_area_reader.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <span>

namespace kestrel::fuzz {

struct BootAreaPage {
    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;
    bool unreadable = false;
};

struct BootAreaInput {
    sim::BootAreaGeometry geometry{};
    std::map<std::uint32_t, BootAreaPage> pages;

    // Fills out with the page as the input holds it; false for a page that cannot be read.
    bool Read(std::uint32_t page, std::span<std::uint8_t> out) const {
        std::memset(out.data(), 0xFF, out.size());
        const auto found = pages.find(page);
        if (found == pages.end()) {
            return true;
        }
        std::memcpy(out.data(), found->second.bytes, std::min(out.size(), found->second.length));
        return !found->second.unreadable;
    }
};

inline constexpr std::size_t kBootAreaInputHeader = 8;

inline std::uint32_t LoadLe(const std::uint8_t* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

// nullopt-free: an input shorter than its header gives a chip the reader refuses.
inline BootAreaInput ParseBootAreaInput(std::span<const std::uint8_t> data) {
    BootAreaInput input;
    if (data.size() < kBootAreaInputHeader) {
        return input;
    }
    input.geometry.loaderLevel = data[0] & 3;
    input.geometry.sysInfoBlock = data[1];
    input.geometry.pageSize = LoadLe(&data[2], 2);
    input.geometry.pagesPerBlock = LoadLe(&data[4], 2);
    input.geometry.blockCount = LoadLe(&data[6], 2);
    std::size_t at = kBootAreaInputHeader;
    while (data.size() - at >= 6) {
        const std::uint32_t page = LoadLe(&data[at], 4);
        const std::uint32_t word = LoadLe(&data[at + 4], 2);
        at += 6;
        const std::size_t length = std::min<std::size_t>(word & 0x7FFF, data.size() - at);
        input.pages[page] = {&data[at], length, (word & 0x8000) != 0};
        at += length;
    }
    return input;
}

} // namespace kestrel::fuzz
