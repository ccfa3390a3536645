#pragma once
// SysInfoRecord: the 224-byte system-information record of a device, read from the device,
// completed by the host and written back; and the NandParamRecord kept at its end.

#include "kestrellib/device/nand_info.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrel::device {

#pragma pack(push, 1)
// Four u32 words "SHFP", 0, 0, "EHFP" that frame each NandInfo copy.
struct NandInfoMarker {
    char start[4];
    std::uint32_t zero[2];
    char end[4];
};

struct NandParamRecord {
    std::uint32_t magic;    // 0xAA55AA55
    std::uint32_t timing;   // registers 0xA0, 0xA1, 0xB0, 0xB1 before adjustment, 0xA0 on top
    std::uint32_t regC9;    // register 0xC9 before adjustment
    std::uint32_t extra;    // registers 0xA7, 0xAD, 0xAE, 0xAF, 0xA7 on top
    std::uint32_t checksum; // timing + regC9 + extra, modulo 2^32
};

struct SysInfoRecord {
    char startTag[4]; // "SYAL"
    std::uint8_t deviceData4[8];
    char endTag[4]; // "EYAL"
    std::uint16_t sysInfoBlock;
    std::uint16_t bootAreaOffset;
    std::uint16_t bootHeaderBlock;
    std::uint16_t hostFlag; // set to 1 by the host
    std::uint16_t indexBlock;
    std::uint8_t deviceData26[18];
    NandInfoMarker marker1;
    NandInfo info; // after the profile.ini overrides
    NandInfoMarker marker2;
    NandInfo infoCopy;
    NandParamRecord params; // present only after the parameter adjustment ran
};
#pragma pack(pop)

static_assert(sizeof(NandInfoMarker) == 16);
static_assert(sizeof(NandParamRecord) == 20);
static_assert(sizeof(SysInfoRecord) == 224);
static_assert(offsetof(SysInfoRecord, sysInfoBlock) == 16);
static_assert(offsetof(SysInfoRecord, indexBlock) == 24);
static_assert(offsetof(SysInfoRecord, marker1) == 44);
static_assert(offsetof(SysInfoRecord, info) == 60);
static_assert(offsetof(SysInfoRecord, marker2) == 124);
static_assert(offsetof(SysInfoRecord, infoCopy) == 140);
static_assert(offsetof(SysInfoRecord, params) == 204);

inline constexpr std::uint32_t kNandParamMagic = 0xAA55AA55u;
inline constexpr std::size_t kSysInfoTransferSize = 1024; // sub-commands 0x30 and 0x31

void SetNandInfoMarker(NandInfoMarker& marker);
bool HasSysInfoTags(const SysInfoRecord& record);

// Takes the record from the device's reply to the system-information read (sub-command 0x31):
// its first 224 bytes. Whether the record carries both tags; a reply shorter than the record
// leaves the record as it was and gives false.
bool DecodeSysInfoReply(std::span<const std::uint8_t> reply, SysInfoRecord& record);

// The parameter record an earlier adjustment left at the end of the system-information reply,
// when its magic and checksum hold; nullopt otherwise (or when the reply is shorter).
std::optional<NandParamRecord> StoredNandParams(std::span<const std::uint8_t> reply);

// The process-wide table of one record per device index (64).
SysInfoRecord& SysInfoOf(int devIndex);

} // namespace kestrel::device
