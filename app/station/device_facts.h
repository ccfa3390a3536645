#pragma once
// What the command line reads back from a device after a run, for the run record and for
// verification: the loader signature, the boot device id, the NAND record the host wrote into
// the device's system-information record, the area layout that follows from it and isp.ini,
// and page reads through the vendor page-read command (the same on real and simulated devices).

#include "app/station/run_record.h"
#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_layout.h"
#include "sim/page_source.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::station {

struct DeviceFacts {
    int loaderLevel = 0;
    int loaderClass = 0;
    std::uint32_t bootDeviceId = 0;
    std::uint32_t sysInfoBlock = 0;
    std::optional<device::NandInfo> info; // the identification record as the host reads it
    device::NandGeometry geometry{};      // physical page size, pages per block, block count
    std::optional<device::NandLayout> layout;
    std::string error; // why info or layout is missing
};

// Reads the facts of device `index` through `handle`. Uses the device's entry of the library's
// per-device tables, so it must not run while that device's worker does.
DeviceFacts ReadDeviceFacts(int index, void* handle);

// Physical pages of the device read with the vendor page-read command.
sim::FunctionPageSource VendorPages(void* handle, std::uint32_t pageSize);

struct AreaMapCount {
    std::uint32_t goodBlocks = 0;
    std::uint32_t badBlocks = 0;
};

// Counts the good blocks the block map of one resource area lists (the map lists every block
// of the area that passed its test); nullopt when the area holds no record of that kind.
std::optional<AreaMapCount> CountAreaMap(sim::PageSource& pages, const device::NandLayout& layout,
                                         std::uint32_t areaStart, std::uint32_t areaBlocks,
                                         std::uint32_t imageKind);

// Adds geometry, boot device id and the bad blocks of each resource area to the record.
void AddDeviceFacts(int index, const IspJob& job, RunRecord& record);

} // namespace kestrel::station
