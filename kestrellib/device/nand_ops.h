#pragma once
// Device-level NAND operations built on the vendor sub-commands: device words, the loader
// probe, identification, boot device id, the system-information record, block tests, verified
// page writes, the boot table and the NAND parameter registers. Each operation runs on the
// worker thread of the device it names and touches only that device's per-device entries.

#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/device/sys_info.h"

#include <cstdint>
#include <optional>
#include <span>

namespace kestrel::device {

// Device addresses the host drives.
inline constexpr std::uint32_t kLoaderSignatureAddress = 0x9D800010u;
inline constexpr std::uint32_t kBootTableGuardWord = 0x9D80012Cu;
inline constexpr std::uint32_t kNandParamFlagWord = 0x920050B8u;
inline constexpr std::uint32_t kNandCtrlMode = 0x93008000u;
inline constexpr std::uint32_t kNandCtrlControl = 0x93008010u;
inline constexpr std::uint32_t kNandCtrlDataOut = 0x93008014u;
inline constexpr std::uint32_t kNandCtrlDataIn = 0x93008018u;

inline constexpr std::uint32_t kMaxPageSize = 16384; // page buffers hold the largest page
inline constexpr std::uint32_t kBootTableSize = 4096;

// Device memory words (sub-commands 0x02 and 0x01). A failed read yields 0.
std::uint32_t ReadDeviceWord(void* handle, std::uint32_t address);
std::optional<std::uint32_t> TryReadDeviceWord(void* handle, std::uint32_t address);
bool WriteDeviceWord(void* handle, std::uint32_t address, std::uint32_t value);

// Sets job.loaderLevel and job.loaderClass from the loader signature (both 0 without one).
// False when the signature could not be read at all (both are then 0 as well); a device whose
// signature is unknown must not be taken for an old loader.
bool ProbeLoader(IspJob& job);

// The identification record: 64 bytes from loaders of level 1 and up, the converted 16-byte
// record from level 0 (which may set LargePageFlag). 0, or -1 when the read fails.
int ReadNandInfo(const IspJob& job, NandInfo& info);

// The device's boot device id (level 2 and up; 0 below or when the read fails).
std::uint32_t QueryBootDeviceId(const IspJob& job);

// Decodes the geometry into profile.ini and fills the device's SysInfoRecord with the NAND
// record as profile.ini adjusts it. -1 when the geometry cannot be decoded or profile.ini is
// not enabled. The decode and the read-back happen under one lock, so devices of different
// geometry programmed at once each get their own values.
int PrepareNandInfo(IspJob& job, const NandInfo& info);

// Reads the device's system-information record into its SysInfoRecord (up to 5 attempts).
// sysInfoBlock, or -1.
int ReadSysInfoRecord(IspJob& job);

// Tests the system-information block, writes the record (sub-command 0x30), reads the record
// back (0x31) and reads the block's first page from the NAND. True only when the block tested
// good and both read-backs hold what was written.
bool WriteSysInfoBlock(const NandLayout& layout, IspJob& job, const NandInfo& info);

// Erases the block, writes and reads back a 0x5A/0xA5 pattern page, erases again. 0 good, -1 bad.
int TestNandBlock(const NandLayout& layout, void* handle, std::uint32_t block);

inline constexpr int kNoGoodBlock = -1; // 0xFFFF in the 16-bit record fields

// The first good block of start .. start+4, or kNoGoodBlock.
int FindGoodBlock(std::uint32_t start, IspJob& job, const NandLayout& layout);

// Erases the page's block the first time the procedure touches it (marking it in eraseMap),
// writes the page and verifies it by reading back. 1 on success, 0 on any failure, including a
// page the paired-page rule disallows and a block beyond the erase map (never indexed past).
int WritePageVerified(std::span<std::uint8_t> eraseMap, IspJob& job, const NandInfo& info,
                      const std::uint8_t* data, std::uint32_t page);

// Like WritePageVerified without the erase step.
int WritePageChecked(IspJob& job, const NandInfo& info, const std::uint8_t* data,
                     std::uint32_t page);

// Builds the 4096-byte boot table (partition table + "SHDS" record) into block.
void BuildBootTable(std::span<std::uint8_t, kBootTableSize> block, const NandInfo& info);

// Writes the boot table unless the device already holds it (loader level 2 and up). 0 or -1.
int UpdateBootTable(IspJob& job, const NandInfo& info);

// Sets the device's boot device id from isp.ini [BootDevice] when it differs. 0 or -1.
int SyncBootDeviceId(IspJob& job);

// NAND parameter registers through the controller's control/data registers.
std::uint32_t ReadNandParameter(void* handle, std::uint8_t reg);
void WriteNandParameter(void* handle, std::uint8_t reg, std::uint32_t value);

// Shifts the paired-page chip's read parameters, restoring them from an earlier record when the
// device holds one, and records the original values in the device's SysInfoRecord.
void AdjustNandParameters(IspJob& job);

// The device's current layout (for the paired-page rule), one entry per device index.
void SetCurrentLayout(int devIndex, const NandLayout& layout);
NandLayout CurrentLayoutOf(int devIndex);

} // namespace kestrel::device
