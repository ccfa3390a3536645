#pragma once
// WriteRomfs2NandFun: resource programming of one device, run by the device's worker after (or
// instead of) the boot code. It waits until the device is in the device set, fixes up the NAND
// controller register at 0x93008008, reads the NAND geometry and lays out the areas, hands the
// large-page parameters to a level-0 loader of the large-page chip, optionally rebuilds the
// file-system area, optionally initialises the DRAM and runs the RomPatch.ini patch program,
// and writes the Romfs image (and its backup copy with [Romfs] DualImage) and the Romfs1 image.
//
// Notifications: WM_ISP_EVENT 784 before the images, 785 on success; WM_ISP_STATUS 513 when the
// layout or the rebuild fails; the rest come from RebuildNandFs and WriteResourceImage.
// Returns 0 or -1. A stop request (stop_request.h) ends the wait for the device and the block
// and page loops with -1 and no message.

#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_layout.h"
#include "platform/export.h"

#include <cstdint>

namespace kestrel::program {

inline constexpr std::uint32_t kDevicePollMs = 1000;
inline constexpr std::uint32_t kControllerFixupAddress = 0x93008008;

// Polls the device set once a second (the first look after one second) for the job's unit: the
// entry of the job's devId on the port its handle had (device::FindRestartedDevice), so a
// device that restarted is found again on its own port and never confused with another unit of
// the same revision; returns its handle. Waits without limit unless a stop is requested (then
// null).
void* WaitForDevice(const IspJob& job);

// Reads the NAND record and computes the device's layout (with the large-page geometry for a
// level-0 loader of the large-page chip). 0, or -1 after its message. largePage receives the
// large-page state this device's record gave.
int PrepareNandLayout(const IspJob& job, device::NandLayout& layout, bool& largePage);

} // namespace kestrel::program

KESTREL_EXPORT int WriteRomfs2NandFun(IspJob* job);
