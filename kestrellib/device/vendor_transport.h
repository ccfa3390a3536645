#pragma once
// The vendor command transport: every exchange with a device is one SCSI command with operation
// code 0xC2, a sub-command byte and a 32-bit argument (the address, big-endian in the command
// block), sent through the devices layer with a 60-second timeout.
//
// Primitive senders (ReadVendorSector, WriteVendorSector, VendorCommand) try a request up to 10
// times, 500 ms apart (platform::Sleep, so tests make the waits instant); after the tenth
// failure they show one modal box with the device number and the last error code and return 0
// once it is confirmed. A null handle returns 0 at once with nothing sent or shown. They return
// 1 on success. A device that is gone (the devices layer says so after its removal or the error
// of a vanished device) is not retried: the first failure returns 0 at once, and only the first
// one on that handle shows a box, the one of device_removal.h.
//
// Dispatchers (VendorWrite, VendorRead) choose per sub-command what is sent (kSubCommands):
// device-memory transfers (0x01, 0x02) go in 2048-byte chunks at addresses that are multiples
// of 4 (a misaligned address fails at once with nothing sent); a full chunk that fails is sent
// again to the same address, at most kChunkSendLimit times in all, then the dispatcher gives up
// and returns 0. The last, shorter chunk is sent once: its failure (one error box) fails the
// transfer, so that a failed 4- or 8-byte word read is never reported as a success, nor
// reported three times. Sub-commands with a
// forced-0 address are sent with 0 whatever the caller passed; sub-commands the dispatcher
// does not carry send nothing and return 1. They return 1 on success and 0 on failure.
//
// Requests to one device come from that device's worker only; the transport keeps no state
// of its own and reads the device set only for the device number of an error box.

#include "kestrellib/device/device_set.h"

#include <array>
#include <cstdint>

namespace kestrel::device {

enum SubCommand : std::uint8_t {
    kWriteDeviceMemory = 0x01,
    kReadDeviceMemory = 0x02,
    kStartProgram = 0x05,
    kDramInit = 0x07,
    kReadNandId = 0x10,
    kEraseNandBlock = 0x11,
    kWriteNandPage = 0x12,
    kReadNandPage = 0x13,
    kWriteBootTable = 0x14,
    kReadBootDeviceId = 0x15,
    kWriteBootDeviceId = 0x16,
    kWriteNandInfo = 0x20,
    kWriteSysInfo = 0x30,
    kReadSysInfo = 0x31,
};

enum class SubDirection : std::uint8_t { kNone, kIn, kOut };
enum class AddressRule : std::uint8_t {
    kMemory,    // device memory address, multiple of 4, chunked by 2048 bytes
    kAsPassed,  // the caller's value
    kForcedZero // 0 whatever the caller passed
};

struct SubCommandInfo {
    std::uint8_t sub;
    SubDirection direction;
    AddressRule address;
    std::uint32_t length; // 0: given by the caller
    const char* operation;
};

// The sub-command table.
inline constexpr std::array<SubCommandInfo, 14> kSubCommands = {{
    {kWriteDeviceMemory, SubDirection::kOut, AddressRule::kMemory, 0, "WriteDeviceMemory"},
    {kReadDeviceMemory, SubDirection::kIn, AddressRule::kMemory, 0, "ReadDeviceMemory"},
    {kStartProgram, SubDirection::kNone, AddressRule::kAsPassed, 0, "StartProgram"},
    {kDramInit, SubDirection::kNone, AddressRule::kAsPassed, 0, "DramInit"},
    {kReadNandId, SubDirection::kIn, AddressRule::kForcedZero, 0, "ReadNandId"},
    {kEraseNandBlock, SubDirection::kNone, AddressRule::kAsPassed, 0, "EraseNandBlock"},
    {kWriteNandPage, SubDirection::kOut, AddressRule::kAsPassed, 0, "WriteNandPage"},
    {kReadNandPage, SubDirection::kIn, AddressRule::kAsPassed, 0, "ReadNandPage"},
    {kWriteBootTable, SubDirection::kOut, AddressRule::kAsPassed, 4096, "WriteBootTable"},
    {kReadBootDeviceId, SubDirection::kIn, AddressRule::kAsPassed, 4, "ReadBootDeviceId"},
    {kWriteBootDeviceId, SubDirection::kOut, AddressRule::kForcedZero, 4, "WriteBootDeviceId"},
    {kWriteNandInfo, SubDirection::kOut, AddressRule::kForcedZero, 64, "WriteNandInfo"},
    {kWriteSysInfo, SubDirection::kOut, AddressRule::kAsPassed, 1024, "WriteSysInfo"},
    {kReadSysInfo, SubDirection::kIn, AddressRule::kForcedZero, 1024, "ReadSysInfo"},
}};

// The table entry of a sub-command; null for one not in the table.
const SubCommandInfo* FindSubCommand(std::uint8_t sub);

inline constexpr std::uint8_t kVendorOpcode = 0xC2;
inline constexpr std::size_t kCommandBlockLength = 10;
inline constexpr int kSendAttempts = 10;
inline constexpr std::uint32_t kRetryIntervalMs = 500;
inline constexpr std::uint32_t kCommandTimeoutSeconds = 60;
inline constexpr std::uint32_t kMemoryChunk = 2048;
// How often one chunk of a device-memory transfer is sent before the dispatcher gives up (each
// send already includes kSendAttempts attempts and an error box).
inline constexpr int kChunkSendLimit = 3;

using CommandBlock = std::array<std::uint8_t, kCommandBlockLength>;

// C2, sub, 0, 0, address bits 31..24, 23..16, 15..8, 7..0, 0, 0.
CommandBlock BuildCommandBlock(std::uint8_t sub, std::uint32_t address);

// Primitive senders: 1 on success, 0 on failure (after the retries and the error box).
int ReadVendorSector(void* buffer, DeviceHandle handle, std::uint8_t sub, std::uint32_t address,
                     std::uint32_t length);
int WriteVendorSector(const void* buffer, DeviceHandle handle, std::uint8_t sub,
                      std::uint32_t address, std::uint32_t length);
int VendorCommand(DeviceHandle handle, std::uint8_t sub, std::uint32_t address);

// Dispatchers: 1 on success, 0 on failure.
int VendorWrite(DeviceHandle handle, const void* buffer, std::uint8_t sub, std::uint32_t address,
                std::uint32_t length);
int VendorRead(DeviceHandle handle, void* buffer, std::uint8_t sub, std::uint32_t address,
               std::uint32_t length);

} // namespace kestrel::device
