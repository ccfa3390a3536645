#pragma once
// ResourceNand: the NAND operations resource programming needs from one device. The procedure
// drives a real or simulated device through the vendor transport (VendorResourceNand); tests
// and benchmarks may drive any other NAND through the same calls.
//
// All calls come from the device's worker thread, one at a time.

#include <cstdint>

namespace kestrel::program {

class ResourceNand {
public:
    virtual ~ResourceNand() = default;

    // Tests the block (layout block number) by erasing it, writing and reading back a pattern
    // and erasing it again: true when it is good, and then it is left erased.
    virtual bool TestBlock(std::uint16_t block) = 0;

    // Writes length bytes to the physical page (sub-command 0x12). True on success.
    virtual bool WritePage(std::uint32_t page, const std::uint8_t* data, std::uint32_t length) = 0;

    // Reads length bytes of the physical page (sub-command 0x13). True on success.
    virtual bool ReadPage(std::uint32_t page, std::uint8_t* data, std::uint32_t length) = 0;
};

} // namespace kestrel::program
