#pragma once
// Boot code programming of one device: the steps of WriteFW2NandFun below the export.
//
// WriteBootImage reads the device's NAND record, lays out its NAND and hands over to
// WriteImageFile, which writes the boot area (system-information page and boot header at loader
// level 1 and up; the three header copies at level 0), tests the reserve area and copies the
// boot image file sub-block by sub-block into verified pages, then the index pages.
//
// Where the station ends the procedure with failure although the device's steps would go on
// (each with a message, then "Device:%d ==> WritePackImageFile is fail.\n"):
// - no valid system-information record from the device, or a geometry that cannot be decoded
//   (the boot area would otherwise be laid out from an unknown record);
// - no good block for the boot header or the index pages (FindGoodBlock found none in five);
// - a boot header page that does not verify (level 1 and up), or a level-0 device whose page
//   to keep (page B + 1, or 17) cannot be read, since writing it back would destroy it;
// - a page size outside 512..16384 bytes or not a multiple of 4, also after profile.ini;
// - a loader signature that can't be read (an unknown loader is not taken for level 0);
// - an identification whose decoded geometry disagrees with the device's own record;
// - a boot image file that can't be opened or is damaged, refused before the device is written;
// - a system-information page that does not read back from its block;
// - an image whose data pages would reach past the boot area (into the Romfs area) or past the
//   first 32 MiB of the chip (the span of the erase map), counting on paired-page chips only
//   the pages the paired-page rule admits; refused before any data page is written;
// - everything the image file reader, the sub-block writer and the index write refuse
//   (boot_image_format.h, index_area.h, sub_block_writer.h).

#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/boot_header.h"

#include <cstdint>
#include <span>

namespace kestrel::program {

// Texts of the procedure; "%d" is the device index.
inline constexpr const char* kTextWriteFwFailed = "Device:%d ==>Write FW is failse.\n";
inline constexpr const char* kTextNoNandInfo = "Can't the nand flash info!\n";
inline constexpr const char* kTextNoNandInfoDevice = "Device:%d ==> Can't the nand flash info!\n";
inline constexpr const char* kTextWritePackFailed = "Device:%d ==> WritePackImageFile is fail.\n";
// Texts of the cases the station bounds itself.
inline constexpr const char* kTextNoSysInfo =
    "Device:%d ==> The system information of the device can't be read.\n";
inline constexpr const char* kTextNoGoodBootBlock =
    "Device:%d ==> No good block for the boot header or the index pages.\n";
inline constexpr const char* kTextBootHeaderFailed =
    "Device:%d ==> The boot header page can't be written.\n";
inline constexpr const char* kTextKeptPageUnreadable =
    "Device:%d ==> The boot page to keep can't be read.\n";
// "%s" is the reason.
inline constexpr const char* kTextBootAreaTooSmall = "Device:%d ==> Boot image refused: %s.\n";
inline constexpr const char* kTextNoBootImage =
    "Device:%d ==> The boot image %s can't be opened.\n";
inline constexpr const char* kTextNoLoaderSignature =
    "Device:%d ==> The loader signature of the device can't be read.\n";

// The byte size of the erase map: one entry per block of the first 32 MiB of the chip.
inline constexpr std::uint32_t kEraseMapSpan = 0x2000000;

// Whether the page size is one the procedure handles.
bool SupportedPageSize(std::uint32_t pageSize);

// The identification length as the procedure recomputes it: the position of the first id byte
// after byte 0 that equals byte 0 (the identification read wrapping around) or is zero beyond
// the length the device reported; 20 when there is none. A zero inside the reported length
// counts: chips of class 5 (98 D5 94 32 76 55) answer a seven-byte read with a trailing 00, and
// the class rule asks for that length.
std::uint32_t RecountIdLength(const device::NandInfo& info);

// config: the call's own tables from config.ini (BuildConfigTables at the start of the call);
// the boot header is built from it.
// 0 or -1 (WriteFW2NandFun shows the final message).
int WriteBootImage(IspJob& job, BootConfig& config);

// 1 on success, 0 on failure (after its message).
int WriteImageFile(IspJob& job, device::NandInfo& info, std::span<std::uint8_t> eraseMap,
                   device::NandLayout& layout, BootConfig& config);

} // namespace kestrel::program
