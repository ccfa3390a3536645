#pragma once
// RebuildNandFs: clears the device's NAND file-system area by testing (and so erasing) the 200
// blocks from the file-system start, which run on past its 34 blocks into the rest of the chip.
// Each bad block is reported on the standard output; the rebuild fails only when none of them
// is good.
//
// Only devices that boot from NAND (boot device id below 2) are rebuilt; for the others it
// returns 0 at once. Blocks at or beyond the end of the chip are not tested, so a file-system
// area near the end of a large chip never wraps the 16-bit block number round to the boot area.
//
// Posts WM_ISP_EVENT 800 at the start, then 803 and 801 on success or 802 (after its text) on
// failure. Returns 0 or -1; -1 without a message when a stop is requested.

#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/resource_nand.h"

namespace kestrel::program {

inline constexpr std::uint32_t kRebuildBlocks = 200;

int RebuildNandFs(const device::NandLayout& layout, const IspJob& job, ResourceNand& nand);

} // namespace kestrel::program
