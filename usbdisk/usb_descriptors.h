#pragma once
// The USB descriptors of the disk: a high-speed device with one configuration holding one
// mass-storage interface (SCSI transparent command set, bulk-only transport) with a bulk-in and
// a bulk-out endpoint, and its strings (manufacturer, product and the unit's serial number).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::usbdisk {

inline constexpr std::uint8_t kBulkInEndpoint = 0x81;
inline constexpr std::uint8_t kBulkOutEndpoint = 0x02;
inline constexpr std::uint16_t kBulkMaxPacket = 512; // high speed
inline constexpr std::uint8_t kInterfaceClassMassStorage = 0x08;
inline constexpr std::uint8_t kSubclassScsi = 0x06;
inline constexpr std::uint8_t kProtocolBulkOnly = 0x50;
// pid.codes' shared vendor id and its test product id: no real product is impersonated; the
// station recognises the device by its SCSI inquiry, not by these.
inline constexpr std::uint16_t kVendorId = 0x1209;
inline constexpr std::uint16_t kProductId = 0x0001;

struct UsbIdentity {
    std::string manufacturer; // string 1
    std::string product;      // string 2
    std::string serial;       // string 3
    std::uint16_t deviceVersionBcd = 0x0100;
};

std::vector<std::uint8_t> DeviceDescriptor(const UsbIdentity& identity);
std::vector<std::uint8_t> ConfigurationDescriptor();
// String descriptor `index` (0: the language list); nullopt for an index the device lacks.
std::optional<std::vector<std::uint8_t>> StringDescriptor(const UsbIdentity& identity,
                                                          std::uint8_t index);

// "1.23" -> 0x0123 (binary-coded decimal of the revision's digits; 0x0100 when it has none).
std::uint16_t BcdFromRevision(const std::string& revision);

} // namespace kestrel::usbdisk
