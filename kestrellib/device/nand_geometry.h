#pragma once
// NAND geometry: decoding a device's identification record into page size, pages per block,
// block count and ECC mode, kept in profile.ini, and applying profile.ini back onto a record.

#include "kestrellib/device/nand_info.h"

#include <mutex>
#include <optional>
#include <string>

namespace kestrel::device {

struct NandGeometry {
    std::uint32_t pageSize;
    std::uint32_t pagesPerBlock;
    std::uint32_t blockCount;
    std::uint32_t eccMode;
};

// Derives the geometry from the record (without the isp.ini eccmode override). nullopt with a
// reason in *error when the chip cannot be decoded: a class-3 chip whose id byte 3 defines no
// block size, or a geometry the device's 16-bit record fields cannot hold (more than 65535
// blocks).
std::optional<NandGeometry> DeriveNandGeometry(const NandInfo& info, std::string* error);

// Decodes the geometry, applies isp.ini [General] eccmode and writes profile.ini [General]
// (Enable=1, PageSize, PageNoPerBlk, TotalBlkNo, ecc_mode). 0, or -1 with a message box naming
// the device when the chip cannot be decoded (profile.ini is then left unchanged).
int DecodeNandGeometry(const NandInfo& info, int devIndex);

// Whether the geometry decoded from the identification bytes agrees with the page size, pages
// per block and block count the device's own record states (fields the record leaves 0 are not
// compared). On disagreement, or when the chip cannot be decoded, shows a message naming both
// for the device and returns false. A device whose record and identification disagree would be
// laid out from one and written in the other, so its procedure ends before its first erase.
bool NandGeometryAgrees(const NandInfo& info, int devIndex);

// Applies profile.ini onto the record. -1 when the profile is not enabled (record unchanged).
int LoadNandProfile(NandInfo& info);

// Held across a device's DecodeNandGeometry and LoadNandProfile, so that devices of different
// geometry programmed at once each read back their own values from the shared profile.ini.
std::mutex& ProfileIniLock();

} // namespace kestrel::device
