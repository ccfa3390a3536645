#pragma once
// VendorResourceNand: the NAND of a device in the device set, driven through the vendor
// transport: the block test of the device operations, page writes with sub-command 0x12 and
// page reads with sub-command 0x13. Transport failures have already been shown by the
// transport when a call returns false.

#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/resource_nand.h"

namespace kestrel::program {

class VendorResourceNand : public ResourceNand {
public:
    VendorResourceNand(const device::NandLayout& layout, void* handle)
        : layout_(layout), handle_(handle) {}

    bool TestBlock(std::uint16_t block) override;
    bool WritePage(std::uint32_t page, const std::uint8_t* data, std::uint32_t length) override;
    bool ReadPage(std::uint32_t page, std::uint8_t* data, std::uint32_t length) override;

private:
    const device::NandLayout& layout_;
    void* handle_;
};

} // namespace kestrel::program
