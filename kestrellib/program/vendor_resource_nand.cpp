#include "kestrellib/program/vendor_resource_nand.h"

#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/vendor_transport.h"

namespace kestrel::program {

bool VendorResourceNand::TestBlock(std::uint16_t block) {
    return device::TestNandBlock(layout_, handle_, block) == 0;
}

bool VendorResourceNand::WritePage(std::uint32_t page, const std::uint8_t* data,
                                   std::uint32_t length) {
    return device::WriteVendorSector(data, handle_, device::kWriteNandPage, page, length) != 0;
}

bool VendorResourceNand::ReadPage(std::uint32_t page, std::uint8_t* data, std::uint32_t length) {
    return device::ReadVendorSector(data, handle_, device::kReadNandPage, page, length) != 0;
}

} // namespace kestrel::program
