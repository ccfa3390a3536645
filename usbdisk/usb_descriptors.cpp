// The disk's USB descriptors (usbdisk/usb_descriptors.h).

#include "usbdisk/usb_descriptors.h"

#include <algorithm>

namespace kestrel::usbdisk {
namespace {

void Put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

} // namespace

std::vector<std::uint8_t> DeviceDescriptor(const UsbIdentity& identity) {
    std::vector<std::uint8_t> d = {18, 0x01};
    Put16(d, 0x0200);                          // USB 2.0
    d.insert(d.end(), {0x00, 0x00, 0x00, 64}); // class per interface; 64-byte control packets
    Put16(d, kVendorId);
    Put16(d, kProductId);
    Put16(d, identity.deviceVersionBcd);
    d.insert(d.end(), {1, 2, static_cast<std::uint8_t>(identity.serial.empty() ? 0 : 3), 1});
    return d;
}

std::vector<std::uint8_t> ConfigurationDescriptor() {
    std::vector<std::uint8_t> d = {9, 0x02, 32, 0, 1, 1, 0, 0x80, 50}; // bus powered, 100 mA
    d.insert(d.end(),
             {9, 0x04, 0, 0, 2, kInterfaceClassMassStorage, kSubclassScsi, kProtocolBulkOnly, 0});
    for (std::uint8_t endpoint : {kBulkInEndpoint, kBulkOutEndpoint}) {
        d.insert(d.end(), {7, 0x05, endpoint, 0x02});
        Put16(d, kBulkMaxPacket);
        d.push_back(0);
    }
    return d;
}

std::optional<std::vector<std::uint8_t>> StringDescriptor(const UsbIdentity& identity,
                                                          std::uint8_t index) {
    if (index == 0) {
        return std::vector<std::uint8_t>{4, 0x03, 0x09, 0x04}; // English (United States)
    }
    const std::string* text = index == 1   ? &identity.manufacturer
                              : index == 2 ? &identity.product
                              : index == 3 ? &identity.serial
                                           : nullptr;
    if (text == nullptr || text->empty()) {
        return std::nullopt;
    }
    const std::size_t chars = std::min<std::size_t>(text->size(), 126);
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * chars), 0x03};
    for (std::size_t i = 0; i < chars; ++i) {
        Put16(d, static_cast<unsigned char>((*text)[i]));
    }
    return d;
}

std::uint16_t BcdFromRevision(const std::string& revision) {
    std::uint16_t bcd = 0;
    int digits = 0;
    for (char c : revision) {
        if (c >= '0' && c <= '9' && digits < 4) {
            bcd = static_cast<std::uint16_t>(bcd << 4 | (c - '0'));
            ++digits;
        }
    }
    return digits == 0 ? 0x0100 : bcd;
}

} // namespace kestrel::usbdisk
