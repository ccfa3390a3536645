#include "app/station/device_facts.h"

#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/sys_info.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/resource_area_record.h"
#include "sim/resource_area_reader.h"

#include <cstring>
#include <vector>

namespace kestrel::station {

DeviceFacts ReadDeviceFacts(int index, void* handle) {
    DeviceFacts facts;
    IspJob job{};
    job.hDevice = handle;
    job.devIndex = index;
    job.redbootPath = job.romfsPath = job.romfs1Path = job.devId = "";
    if (!device::ProbeLoader(job)) {
        facts.error = "the loader signature cannot be read";
        return facts;
    }
    facts.loaderLevel = job.loaderLevel;
    facts.loaderClass = job.loaderClass;
    facts.bootDeviceId = device::QueryBootDeviceId(job);
    // Old loaders keep no system-information record; asking them only costs retries.
    const int block = job.loaderLevel >= 1 ? device::ReadSysInfoRecord(job) : -1;
    facts.sysInfoBlock = block < 0 ? 2u : static_cast<std::uint32_t>(block);
    // The layout follows from the identification record, as the resource step computes it.
    device::NandInfo info{};
    if (device::ReadNandInfo(job, info) != 0) {
        facts.error = "the NAND identification cannot be read";
        return facts;
    }
    std::string error;
    // An old loader's record carries no identification bytes: its geometry is the record's
    // own, as the boot-code procedure writes it.
    const auto geometry =
        job.loaderLevel >= 1
            ? device::DeriveNandGeometry(info, &error)
            : std::optional<device::NandGeometry>(device::NandGeometry{
                  info.pageSize, info.pagesPerBlock, info.blockCount, info.eccMode});
    if (!geometry || info.pageSize == 0 || info.pagesPerBlock == 0) {
        facts.error = error.empty() ? "the NAND geometry cannot be decoded" : error;
        return facts;
    }
    facts.geometry = *geometry;
    // The resource step lays the areas out of the large-page chip's record in 4096-byte pages.
    if (job.loaderLevel == 0 && job.loaderClass == 0 && device::LargePageFlag()) {
        info.rawPageSize = 4224;
        info.pageSize = 4096;
        info.eccSize = 128;
        info.pagesPerBlockShift = 8;
    }
    facts.info = info;
    device::NandLayout layout{};
    layout.bootDeviceId = static_cast<std::uint8_t>(facts.bootDeviceId);
    if (device::ComputeNandLayout(layout, info, &error) != 0) {
        facts.error = error;
        return facts;
    }
    facts.layout = layout;
    return facts;
}

sim::FunctionPageSource VendorPages(void* handle, std::uint32_t pageSize) {
    return sim::FunctionPageSource([handle, pageSize](std::uint32_t page, std::uint8_t* data,
                                                      std::uint32_t size) {
        if (size < pageSize) {
            return false;
        }
        std::memset(data, 0xFF, size);
        return device::ReadVendorSector(data, handle, device::kReadNandPage, page, pageSize) != 0;
    });
}

std::optional<AreaMapCount> CountAreaMap(sim::PageSource& pages, const device::NandLayout& layout,
                                         std::uint32_t areaStart, std::uint32_t areaBlocks,
                                         std::uint32_t imageKind) {
    if (areaBlocks == 0 || layout.pageSize == 0 || layout.pagesPerBlock == 0) {
        return std::nullopt;
    }
    const sim::ResourceAreaGeometry geometry{layout.pageSize, layout.pagesPerBlock,
                                             layout.pairedPage != 0, areaStart, areaBlocks};
    std::vector<std::uint8_t> page(layout.pageSize);
    auto read = [&](std::uint32_t block, std::uint32_t pageInBlock) {
        const std::uint32_t layoutPage = (areaStart + block) * layout.pagesPerBlock + pageInBlock;
        return pages.ReadPage(sim::DevicePhysicalPage(geometry, layoutPage), page);
    };
    for (std::uint32_t block = 0; block < areaBlocks; ++block) {
        program::ResourceAreaRecord record{};
        if (!read(block, 0)) {
            continue;
        }
        std::memcpy(&record, page.data(), sizeof record);
        if (record.magic != program::kResourceAreaMagic || record.imageKind != imageKind ||
            record.areaBlocks != areaBlocks) {
            continue;
        }
        // The table holds one u16 entry per block of the area; good entries ascend from the
        // record's block, zeros follow.
        const std::uint64_t tableBytes = std::uint64_t{areaBlocks} * 2;
        const std::uint64_t tablePages = (tableBytes + layout.pageSize - 1) / layout.pageSize;
        if (tablePages + 1 > layout.pagesPerBlock) {
            return std::nullopt;
        }
        std::vector<std::uint16_t> entries;
        for (std::uint32_t p = 0; p < tablePages; ++p) {
            if (!read(block, p + 1)) {
                return std::nullopt;
            }
            for (std::size_t at = 0; at + 1 < page.size() && entries.size() < areaBlocks; at += 2) {
                entries.push_back(static_cast<std::uint16_t>(page[at] | page[at + 1] << 8));
            }
        }
        AreaMapCount count;
        count.goodBlocks = entries.empty() ? 0 : 1;
        for (std::size_t k = 1; k < entries.size() && entries[k] > entries[k - 1]; ++k) {
            ++count.goodBlocks;
        }
        count.badBlocks = areaBlocks - count.goodBlocks;
        return count;
    }
    return std::nullopt;
}

void AddDeviceFacts(int index, const IspJob& job, RunRecord& record) {
    const DeviceFacts facts = ReadDeviceFacts(index, job.hDevice);
    record.bootDeviceId = static_cast<int>(facts.bootDeviceId);
    if (!facts.info) {
        return;
    }
    record.geometry = NandGeometry{facts.geometry.pageSize, facts.geometry.pagesPerBlock,
                                   facts.geometry.blockCount};
    if (!facts.layout) {
        return;
    }
    const device::NandLayout& layout = *facts.layout;
    sim::FunctionPageSource pages = VendorPages(job.hDevice, layout.pageSize);
    struct Area {
        const char* name;
        std::uint32_t start;
        std::uint32_t blocks;
        program::ResourceImageKind kind;
    };
    const Area areas[] = {
        {"romfs", layout.romfsStart, layout.romfsBlocks, program::ResourceImageKind::kRomfs},
        {"romfsBackup", layout.backupStart, layout.backupBlocks,
         program::ResourceImageKind::kRomfsBackup},
        {"romfs1", layout.romfs1Start, layout.romfs1Blocks, program::ResourceImageKind::kRomfs1},
    };
    for (const Area& area : areas) {
        if (auto count = CountAreaMap(pages, layout, area.start, area.blocks,
                                      static_cast<std::uint32_t>(area.kind))) {
            record.badBlocks.emplace_back(area.name, count->badBlocks);
        }
    }
}

} // namespace kestrel::station
