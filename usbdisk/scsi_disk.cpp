// The SCSI disk of one device (usbdisk/scsi_disk.h).

#include "usbdisk/scsi_disk.h"

#include "sim/device.h"

#include <algorithm>
#include <cstring>

namespace kestrel::usbdisk {
namespace {

// Operation codes served.
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kModeSense6 = 0x1A;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kPreventAllow = 0x1E;
constexpr std::uint8_t kReadCapacity10 = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kSynchronizeCache = 0x35;
constexpr std::uint8_t kModeSense10 = 0x5A;
constexpr std::uint8_t kServiceActionIn16 = 0x9E;
constexpr std::uint8_t kReadCapacity16 = 0x10; // service action of 0x9E

// Sense keys and additional sense codes used.
constexpr std::uint8_t kIllegalRequest = 0x05;
constexpr std::uint8_t kHardwareError = 0x04;
constexpr std::uint8_t kInvalidOpcode = 0x20;
constexpr std::uint8_t kLbaOutOfRange = 0x21;
constexpr std::uint8_t kInvalidFieldInCdb = 0x24;
constexpr std::uint8_t kInternalTargetFailure = 0x44;

constexpr std::size_t kInquiryLength = 36;
constexpr std::size_t kSenseLength = 18;

std::uint32_t Be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 8 | b[at + 1];
}
std::uint32_t Be32(std::span<const std::uint8_t> b, std::size_t at) {
    return Be16(b, at) << 16 | Be16(b, at + 2);
}
void PutBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}
// Space-padded inquiry field.
void PutText(std::vector<std::uint8_t>& b, std::size_t at, std::size_t width,
             const std::string& text) {
    for (std::size_t i = 0; i < width; ++i) {
        b[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
}

// The length a data-in command may send at most: its allocation length.
std::uint32_t AllocationLength(std::span<const std::uint8_t> cdb) {
    switch (cdb[0]) {
    case kRequestSense:
    case kModeSense6:
        return cdb.size() >= 5 ? cdb[4] : 0;
    case kInquiry:
        return cdb.size() >= 5 ? Be16(cdb, 3) : 0;
    case kModeSense10:
        return cdb.size() >= 9 ? Be16(cdb, 7) : 0;
    case kReadCapacity10:
        return 8;
    case kServiceActionIn16:
        return cdb.size() >= 14 ? Be32(cdb, 10) : 0;
    default:
        return 0;
    }
}

} // namespace

ScsiDisk::ScsiDisk(sim::Device& device, std::uint32_t blocks)
    : device_(device), blocks_(blocks), generation_(device.Generation()) {}

void ScsiDisk::PowerCycle() {
    device_.Unplug();
    device_.Replug();
    generation_ = device_.Generation();
    sense_ = {};
}

DataPhase ScsiDisk::Expect(std::span<const std::uint8_t> cdb, std::uint32_t hostLength,
                           bool hostIn) {
    switch (cdb[0]) {
    case sim::kVendorOpcode:
        // The vendor command carries no length: the transfer is what the host announced.
        return {hostIn ? DataDirection::kIn : DataDirection::kOut, hostLength};
    case kRead10:
        return {DataDirection::kIn, cdb.size() >= 10 ? Be16(cdb, 7) * kBlockSize : 0};
    case kWrite10:
        return {DataDirection::kOut, cdb.size() >= 10 ? Be16(cdb, 7) * kBlockSize : 0};
    case kRequestSense:
    case kInquiry:
    case kModeSense6:
    case kModeSense10:
    case kReadCapacity10:
    case kServiceActionIn16:
        return {DataDirection::kIn, AllocationLength(cdb)};
    default:
        // Commands without data, and unknown ones (refused without a data phase).
        return {};
    }
}

bool ScsiDisk::Fail(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint32_t info) {
    sense_ = {key, asc, ascq, info};
    return false;
}

bool ScsiDisk::Execute(std::span<const std::uint8_t> cdb, DataPhase phase,
                       std::vector<std::uint8_t>& data) {
    const std::uint8_t op = cdb[0];
    if (op == kRequestSense) {
        std::vector<std::uint8_t> sense(kSenseLength, 0);
        sense[0] = 0x70; // current error, fixed format
        sense[2] = sense_.key;
        PutBe32(sense, 3, sense_.information);
        if (sense_.information != 0) {
            sense[0] |= 0x80; // information field valid
        }
        sense[7] = kSenseLength - 8;
        sense[12] = sense_.asc;
        sense[13] = sense_.ascq;
        sense.resize(std::min<std::size_t>(sense.size(), phase.length));
        data = std::move(sense);
        sense_ = {};
        return true;
    }
    sense_ = {};
    switch (op) {
    case kTestUnitReady:
    case kStartStopUnit:
    case kPreventAllow:
    case kSynchronizeCache:
        return true;
    case kInquiry: {
        if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) {
            return Fail(kIllegalRequest, kInvalidFieldInCdb, 0); // no vital product data pages
        }
        const sim::DeviceConfig& config = device_.Config();
        std::vector<std::uint8_t> inquiry(kInquiryLength, 0);
        inquiry[0] = 0x00; // direct-access block device
        inquiry[1] = 0x80; // removable medium
        inquiry[2] = 0x02; // SCSI-2
        inquiry[3] = 0x02; // response data format
        inquiry[4] = kInquiryLength - 5;
        PutText(inquiry, 8, 8, config.vendor);
        PutText(inquiry, 16, 16, config.product);
        PutText(inquiry, 32, 4, config.revision);
        inquiry.resize(std::min<std::size_t>(inquiry.size(), phase.length));
        data = std::move(inquiry);
        return true;
    }
    case kModeSense6:
    case kModeSense10: {
        // Header only: no block descriptors, no pages, not write-protected.
        std::vector<std::uint8_t> header(op == kModeSense6 ? 4 : 8, 0);
        if (op == kModeSense6) {
            header[0] = 3;
        } else {
            header[1] = 6;
        }
        header.resize(std::min<std::size_t>(header.size(), phase.length));
        data = std::move(header);
        return true;
    }
    case kReadCapacity10: {
        std::vector<std::uint8_t> capacity(8, 0);
        PutBe32(capacity, 0, blocks_ - 1);
        PutBe32(capacity, 4, kBlockSize);
        data = std::move(capacity);
        return true;
    }
    case kServiceActionIn16: {
        if ((cdb[1] & 0x1F) != kReadCapacity16) {
            return Fail(kIllegalRequest, kInvalidFieldInCdb, 0);
        }
        std::vector<std::uint8_t> capacity(32, 0);
        PutBe32(capacity, 4, blocks_ - 1);
        PutBe32(capacity, 8, kBlockSize);
        capacity.resize(std::min<std::size_t>(capacity.size(), phase.length));
        data = std::move(capacity);
        return true;
    }
    case kRead10:
    case kWrite10:
        return ReadWrite(cdb, data);
    case sim::kVendorOpcode:
        return Vendor(cdb, phase, data);
    default:
        return Fail(kIllegalRequest, kInvalidOpcode, 0);
    }
}

bool ScsiDisk::ReadWrite(std::span<const std::uint8_t> cdb, std::vector<std::uint8_t>& data) {
    if (cdb.size() < 10) {
        return Fail(kIllegalRequest, kInvalidFieldInCdb, 0);
    }
    const std::uint64_t lba = Be32(cdb, 2);
    const std::uint64_t count = Be16(cdb, 7);
    if (lba > blocks_ || count > blocks_ - lba) {
        return Fail(kIllegalRequest, kLbaOutOfRange, 0);
    }
    if (cdb[0] == kRead10) {
        data = device_.DiskBytes(lba * kBlockSize, count * kBlockSize);
    } else {
        device_.StoreDiskBytes(lba * kBlockSize, data.data(), data.size());
    }
    return true;
}

bool ScsiDisk::Vendor(std::span<const std::uint8_t> cdb, DataPhase phase,
                      std::vector<std::uint8_t>& data) {
    ++vendorCommands_;
    using platform::devices::Direction;
    platform::devices::ScsiRequest request;
    request.cdb = cdb.data();
    request.cdbLength = static_cast<std::uint8_t>(cdb.size());
    request.length = phase.length;
    if (phase.direction == DataDirection::kIn && phase.length != 0) {
        request.direction = Direction::kIn;
        data.assign(phase.length, 0);
    } else if (phase.direction == DataDirection::kOut && phase.length != 0) {
        request.direction = Direction::kOut;
    }
    request.buffer = data.empty() ? nullptr : data.data();
    const int code = device_.Execute(generation_, request);
    if (code != 0) {
        data.clear();
        return Fail(kHardwareError, kInternalTargetFailure, 0, static_cast<std::uint32_t>(code));
    }
    return true;
}

} // namespace kestrel::usbdisk
