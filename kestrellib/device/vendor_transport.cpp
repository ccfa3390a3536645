#include "kestrellib/device/vendor_transport.h"

#include "kestrellib/device/device_removal.h"
#include "kestrellib/program/stop_request.h"

#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"

#include <cstdio>

namespace kestrel::device {
namespace {

namespace devices = platform::devices;

enum class Sender { kRead, kWrite, kCommand };

void ShowFailure(Sender sender, DeviceHandle handle, int error) {
    char text[128];
    switch (sender) {
    case Sender::kRead:
        std::snprintf(text, sizeof text, "Device%d-->[ReadVendorSector]: error id: %d\n",
                      DeviceIndexOf(handle), error);
        break;
    case Sender::kWrite:
        std::snprintf(text, sizeof text, "Device%d-->[WriteVendorSector]: error id: %d\n",
                      DeviceIndexOf(handle), error);
        break;
    case Sender::kCommand:
        std::snprintf(text, sizeof text, "[VendorCommand]: error id: %d\n", error);
        break;
    }
    platform::ShowMessageBox(text);
}

// One request with its retries and, after the last failure, the error box.
int SendWithRetry(Sender sender, DeviceHandle handle, std::uint8_t sub, std::uint32_t address,
                  devices::Direction direction, void* buffer, std::uint32_t length) {
    if (handle == nullptr) {
        return 0;
    }
    const CommandBlock cdb = BuildCommandBlock(sub, address);
    devices::ScsiRequest request;
    request.cdb = cdb.data();
    request.cdbLength = static_cast<std::uint8_t>(cdb.size());
    request.direction = direction;
    request.buffer = buffer;
    request.length = length;
    request.timeoutSeconds = kCommandTimeoutSeconds;
    int error = 0;
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        error = devices::Send(handle, request);
        if (error == 0) {
            return 1;
        }
        // A stop of the device's run ends the retries at once and without a box: a device that
        // left mid-run would otherwise hold its worker, and the stop, for ten attempts per
        // remaining request.
        if (program::StopRequested(DeviceIndexOf(handle))) {
            return 0;
        }
        if (devices::IsGone(handle)) {
            // Nothing will reach a device that is gone: no retries, and one message for the
            // handle however many commands still fail on it.
            ReportDeviceRemoved(handle, DeviceIndexOrLastOf(handle), error);
            return 0;
        }
        platform::Sleep(kRetryIntervalMs);
    }
    ShowFailure(sender, handle, error);
    return 0;
}

// The chunked device-memory transfer of sub-commands 0x01 and 0x02.
int TransferMemory(DeviceHandle handle, std::uint8_t* buffer, bool write, std::uint32_t address,
                   std::uint32_t length) {
    if (address % 4 != 0) {
        return 0;
    }
    std::uint32_t offset = 0;
    while (offset < length) {
        const std::uint32_t chunk = length - offset < kMemoryChunk ? length - offset : kMemoryChunk;
        // A full chunk that fails is sent again (kChunkSendLimit sends in all); the last, shorter
        // chunk is sent once, and its failure fails the transfer. A device that is gone is
        // not sent to again.
        const int sends = chunk == kMemoryChunk ? kChunkSendLimit : 1;
        int sent = 0;
        for (int tries = 0; tries < sends && sent == 0 && !(tries > 0 && devices::IsGone(handle));
             ++tries) {
            sent =
                write
                    ? WriteVendorSector(buffer + offset, handle, kWriteDeviceMemory, address, chunk)
                    : ReadVendorSector(buffer + offset, handle, kReadDeviceMemory, address, chunk);
        }
        if (sent == 0) {
            return 0;
        }
        offset += chunk;
        address += chunk;
    }
    return 1;
}

} // namespace

const SubCommandInfo* FindSubCommand(std::uint8_t sub) {
    for (const SubCommandInfo& info : kSubCommands) {
        if (info.sub == sub) {
            return &info;
        }
    }
    return nullptr;
}

CommandBlock BuildCommandBlock(std::uint8_t sub, std::uint32_t address) {
    return CommandBlock{kVendorOpcode,
                        sub,
                        0,
                        0,
                        static_cast<std::uint8_t>(address >> 24),
                        static_cast<std::uint8_t>(address >> 16),
                        static_cast<std::uint8_t>(address >> 8),
                        static_cast<std::uint8_t>(address),
                        0,
                        0};
}

int ReadVendorSector(void* buffer, DeviceHandle handle, std::uint8_t sub, std::uint32_t address,
                     std::uint32_t length) {
    return SendWithRetry(Sender::kRead, handle, sub, address, devices::Direction::kIn, buffer,
                         length);
}

int WriteVendorSector(const void* buffer, DeviceHandle handle, std::uint8_t sub,
                      std::uint32_t address, std::uint32_t length) {
    // The devices layer only reads a data-out buffer.
    return SendWithRetry(Sender::kWrite, handle, sub, address, devices::Direction::kOut,
                         const_cast<void*>(buffer), length);
}

int VendorCommand(DeviceHandle handle, std::uint8_t sub, std::uint32_t address) {
    return SendWithRetry(Sender::kCommand, handle, sub, address, devices::Direction::kNone, nullptr,
                         0);
}

int VendorWrite(DeviceHandle handle, const void* buffer, std::uint8_t sub, std::uint32_t address,
                std::uint32_t length) {
    switch (sub) {
    case kWriteDeviceMemory:
        return TransferMemory(handle, static_cast<std::uint8_t*>(const_cast<void*>(buffer)), true,
                              address, length);
    case kWriteNandPage:
    case kWriteBootTable:
    case kWriteSysInfo:
        return WriteVendorSector(buffer, handle, sub, address, length);
    case kWriteBootDeviceId:
    case kWriteNandInfo:
        return WriteVendorSector(buffer, handle, sub, 0, length);
    default:
        return 1;
    }
}

int VendorRead(DeviceHandle handle, void* buffer, std::uint8_t sub, std::uint32_t address,
               std::uint32_t length) {
    switch (sub) {
    case kReadDeviceMemory:
        return TransferMemory(handle, static_cast<std::uint8_t*>(buffer), false, address, length);
    case kReadNandPage:
    case kReadBootDeviceId:
        return ReadVendorSector(buffer, handle, sub, address, length);
    case kReadNandId:
    case kReadSysInfo:
        return ReadVendorSector(buffer, handle, sub, 0, length);
    default:
        return 1;
    }
}

} // namespace kestrel::device
