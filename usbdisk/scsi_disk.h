#pragma once
// The SCSI disk of one device of the production model as the bulk-only transport sees it: the
// commands a kernel's disk and mass-storage drivers send (INQUIRY, TEST UNIT READY, REQUEST
// SENSE, READ CAPACITY (10) and (16), READ (10) and WRITE (10) of the disk window, MODE SENSE
// (6) and (10), START STOP UNIT, PREVENT ALLOW MEDIUM REMOVAL, SYNCHRONIZE CACHE) and the vendor
// command (operation code 0xC2), which goes to a simulated device of sim/ with its failure
// rules. Anything else is refused with ILLEGAL REQUEST.
//
// A vendor command the simulated device refuses ends in CHECK CONDITION with sense key HARDWARE
// ERROR, additional sense 0x44/0x00 (internal target failure) and the device's error code in
// the information field: a key the kernel neither retries on its own nor takes for a changed or
// missing medium.

#include "usbdisk/bulk_only.h"

#include <cstdint>
#include <string>

namespace kestrel::sim {
class Device;
}

namespace kestrel::usbdisk {

inline constexpr std::uint32_t kBlockSize = 512;

struct Sense {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::uint32_t information = 0;
};

class ScsiDisk final : public ScsiTarget {
public:
    // blocks: the capacity the disk reports, in 512-byte blocks.
    ScsiDisk(sim::Device& device, std::uint32_t blocks);

    DataPhase Expect(std::span<const std::uint8_t> cdb, std::uint32_t hostLength,
                     bool hostIn) override;
    bool Execute(std::span<const std::uint8_t> cdb, DataPhase phase,
                 std::vector<std::uint8_t>& data) override;

    // Sense of the last failed command (cleared by REQUEST SENSE and by a command that passes).
    const Sense& LastSense() const { return sense_; }
    std::uint64_t VendorCommands() const { return vendorCommands_; }

    // A new connection: the device is powered again (a replug of the simulated device).
    void PowerCycle();

private:
    bool Fail(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint32_t info = 0);
    bool Vendor(std::span<const std::uint8_t> cdb, DataPhase phase,
                std::vector<std::uint8_t>& data);
    bool ReadWrite(std::span<const std::uint8_t> cdb, std::vector<std::uint8_t>& data);

    sim::Device& device_;
    std::uint32_t blocks_;
    std::uint64_t generation_;
    Sense sense_;
    std::uint64_t vendorCommands_ = 0;
};

} // namespace kestrel::usbdisk
