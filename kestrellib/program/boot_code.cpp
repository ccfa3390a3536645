#include "kestrellib/program/boot_code.h"

#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/sys_info.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/boot_data_space.h"
#include "kestrellib/program/boot_exports.h"
#include "kestrellib/program/boot_header.h"
#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/index_area.h"
#include "kestrellib/program/job_notifications.h"
#include "kestrellib/program/redboot_select.h"
#include "kestrellib/program/stop_request.h"
#include "kestrellib/program/sub_block_writer.h"
#include "platform/message_box/message_box.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrel::program {
namespace {

using device::NandInfo;
using device::NandLayout;

using PageBuffer = std::array<std::uint8_t, kMaxPageSize>;

// A page of the boot area whose place lies among the index pages of its block (the level-0
// header copies at pages 16 and 17 of a 256-page block). It is written when the index pass
// reaches past it, or after the pass, so that the block is programmed in ascending page order
// as MLC chips require; where it lands does not change.
struct DeferredPage {
    std::uint32_t page;
    PageBuffer data;
};

// Data and index pages go through the verified page write of the device: erase-once, write,
// read back and compare.
class DevicePageWriter : public PageWriter {
public:
    DevicePageWriter(std::span<std::uint8_t> eraseMap, IspJob& job, const NandInfo& info,
                     std::uint32_t endPage, std::vector<DeferredPage> deferred = {})
        : eraseMap_(eraseMap), job_(job), info_(info), endPage_(endPage),
          deferred_(std::move(deferred)) {}
    bool WritePage(std::span<const std::uint8_t> data, std::uint32_t page) override {
        if (page >= endPage_) {
            return false;
        }
        FlushDeferred(page);
        return Write(data.data(), page);
    }
    bool Stopped() const override { return JobShouldEnd(job_); }
    std::uint32_t EndPage() const override { return endPage_; }
    // Writes the deferred pages of the block of `before` that lie below it (all of them when
    // `before` is kAll); their outcome is not examined, as for the other header copies.
    void FlushDeferred(std::uint32_t before = kAll) {
        const std::uint32_t b = info_.pagesPerBlock;
        while (!deferred_.empty() &&
               (before == kAll ||
                (deferred_.front().page < before && deferred_.front().page / b == before / b))) {
            Write(deferred_.front().data.data(), deferred_.front().page);
            deferred_.erase(deferred_.begin());
        }
    }
    static constexpr std::uint32_t kAll = 0xFFFFFFFF;

private:
    bool Write(const std::uint8_t* data, std::uint32_t page) {
        return device::WritePageVerified(eraseMap_, job_, info_, data, page) == 1;
    }
    std::span<std::uint8_t> eraseMap_;
    IspJob& job_;
    const NandInfo& info_;
    std::uint32_t endPage_;              // where the boot area or the erase map's span ends
    std::vector<DeferredPage> deferred_; // ascending
};

// Where the boot area ends and the image data begin, and what the index write needs.
struct BootArea {
    std::uint64_t dataStart = 0;              // byte address of the first data page
    std::vector<std::uint32_t> reservedPages; // pages of the index pass that hold other data
    std::vector<DeferredPage> deferred;       // those pages, written in order with the index
};

bool ShowFailure(const IspJob& job, const char* text) {
    ShowDeviceMessage(job, text);
    return false;
}

// Loader level 1 and up: system information, boot table, header block and index block.
bool WriteBootAreaWithSysInfo(IspJob& job, NandInfo& info, NandLayout& layout, BootConfig& config,
                              BootArea& area) {
    if (device::ReadSysInfoRecord(job) < 0) {
        return ShowFailure(job, kTextNoSysInfo);
    }
    device::UpdateBootTable(job, info);
    if (device::PrepareNandInfo(job, info) != 0) {
        return ShowFailure(job, kTextNoNandInfoDevice);
    }
    device::SysInfoRecord& record = device::SysInfoOf(job.devIndex);

    layout.pagesPerBlock = record.info.pagesPerBlock;
    layout.pagesPerBlockShift = device::Log2(layout.pagesPerBlock);
    device::SetCurrentLayout(job.devIndex, layout);

    const int headerBlock = device::FindGoodBlock(
        std::uint32_t{record.sysInfoBlock} + record.bootAreaOffset, job, layout);
    record.bootHeaderBlock = static_cast<std::uint16_t>(headerBlock);
    record.hostFlag = 1;
    const int indexBlock = headerBlock == device::kNoGoodBlock
                               ? device::kNoGoodBlock
                               : device::FindGoodBlock(headerBlock + 1, job, layout);
    record.indexBlock = static_cast<std::uint16_t>(indexBlock);
    if (headerBlock == device::kNoGoodBlock || indexBlock == device::kNoGoodBlock) {
        return ShowFailure(job, kTextNoGoodBootBlock);
    }

    if (layout.pairedPage != 0) {
        device::AdjustNandParameters(job);
    }
    if (!device::WriteSysInfoBlock(layout, job, info)) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "Device:%d ==> The system information page can't be written to block %u.\n",
                      job.devIndex, unsigned{record.sysInfoBlock});
        platform::ShowMessageBox(text);
        return false;
    }

    info = record.info;
    device::WriteVendorSector(&info, job.hDevice, device::kWriteNandInfo, 0, sizeof info);
    if (!SupportedPageSize(info.pageSize) || info.pagesPerBlock == 0) {
        ShowDeviceMessage(job, kTextNoNandInfoDevice);
        return false;
    }
    const std::uint32_t pagesPerBlock = info.pagesPerBlock;

    PageBuffer header{};
    BuildBootHeader(std::span(header.data(), info.pageSize), config,
                    job.redbootPath != nullptr ? job.redbootPath : "");
    const std::uint32_t headerPage = static_cast<std::uint32_t>(headerBlock) * pagesPerBlock;
    if (device::TestNandBlock(layout, job.hDevice, static_cast<std::uint32_t>(headerBlock)) != 0 ||
        device::WritePageChecked(job, info, header.data(), headerPage) != 1) {
        return ShowFailure(job, kTextBootHeaderFailed);
    }

    area.dataStart =
        (std::uint64_t{static_cast<std::uint32_t>(indexBlock)} + 1) * pagesPerBlock * info.pageSize;
    return true;
}

// Loader level 0: three copies of the header at blocks 1 (or page 16), 2 and 3.
bool WriteBootAreaLevel0(IspJob& job, const NandInfo& info, std::span<std::uint8_t> eraseMap,
                         const NandLayout& layout, BootConfig& config, BootArea& area) {
    const std::uint32_t b = info.pagesPerBlock;
    const std::uint32_t p = info.pageSize;
    const bool big = b == 256;

    PageBuffer header{};
    BuildBootHeader(std::span(header.data(), p), config,
                    job.redbootPath != nullptr ? job.redbootPath : "");
    PageBuffer kept{};
    const std::uint32_t keptPage = big ? 17 : b + 1;
    if (device::ReadVendorSector(kept.data(), job.hDevice, device::kReadNandPage, keptPage, p) ==
        0) {
        return ShowFailure(job, kTextKeptPageUnreadable);
    }

    auto write = [&](const PageBuffer& data, std::uint32_t page) {
        return device::WritePageVerified(eraseMap, job, info, data.data(), page) == 1;
    };
    if (big) {
        device::TestNandBlock(layout, job.hDevice, 0);
        area.deferred.push_back({16, header});
        area.deferred.push_back({17, kept});
        area.reservedPages = {16, 17};
    }
    device::TestNandBlock(layout, job.hDevice, big ? 16 : 1);
    write(header, b);
    write(kept, b + 1);
    for (std::uint32_t j = 2; j <= 3; ++j) {
        device::TestNandBlock(layout, job.hDevice, big ? 16 * j : j);
        if (!write(header, b * j)) {
            return false;
        }
    }
    area.dataStart = std::uint64_t{4} * b * p;
    return true;
}

// Shows an image-file message; always false.
bool ShowImageError(ImageError error, std::uint32_t block) {
    platform::ShowMessageBox(ImageErrorMessage(error, block));
    return false;
}

} // namespace

bool SupportedPageSize(std::uint32_t pageSize) {
    return pageSize >= 512 && pageSize <= kMaxPageSize && pageSize % 4 == 0;
}

std::uint32_t RecountIdLength(const NandInfo& info) {
    // A zero byte within the length the device itself reports is an identification byte (the
    // 7-byte read of a 98 D5 chip ends in 00); beyond it, a zero ends the count.
    const std::uint32_t reported = std::min<std::uint32_t>(info.idLength, sizeof info.id);
    std::uint32_t n = 1;
    while (n < sizeof info.id && info.id[n] != info.id[0] && (info.id[n] != 0 || n < reported)) {
        ++n;
    }
    return n;
}

int WriteImageFile(IspJob& job, NandInfo& info, std::span<std::uint8_t> eraseMap,
                   NandLayout& layout, BootConfig& config) {
    const bool level0 = job.loaderLevel < 1;

    // The image is read and checked whole before the device is touched, so a file that is
    // missing, damaged or unplaceable leaves the unit as it was.
    BootImageReader reader;
    if (job.redbootPath == nullptr || !reader.Open(job.redbootPath)) {
        ShowDeviceMessage(job, kTextNoBootImage, job.redbootPath != nullptr ? job.redbootPath : "");
        return 0;
    }
    if (const ImageError error = reader.ReadHeader(); error != ImageError::kNone) {
        return ShowImageError(error, 0);
    }
    const std::uint32_t blocks = reader.Header().blockCount;
    PostProgressRange(job, blocks + 1);

    std::vector<SubHeader> subHeaders;
    ImageError error = reader.ChecksumPass(&subHeaders);
    if (error == ImageError::kChecksum) {
        PostProgressSteps(job, 1);
    }
    if (error != ImageError::kNone) {
        return ShowImageError(error, reader.BlockIndex());
    }
    PostProgressSteps(job, 1);

    // The index slots: at level 0 with 256 pages per block the header and the kept page lie in
    // the index pass (pages 16 and 17).
    {
        const std::uint32_t reserved = level0 && info.pagesPerBlock == 256 ? 2 : 0;
        const SlotPlan plan =
            PlanIndexSlots(subHeaders, info.pageSize,
                           UsableIndexSlots(info.pageSize, info.pagesPerBlock) - reserved);
        if (plan.problem != SlotPlan::Problem::kNone) {
            platform::ShowMessageBox(SlotPlanMessage(plan));
            return 0;
        }
    }

    BootArea area;
    if (level0 ? !WriteBootAreaLevel0(job, info, eraseMap, layout, config, area)
               : !WriteBootAreaWithSysInfo(job, info, layout, config, area)) {
        return 0;
    }
    const std::uint32_t p = info.pageSize;
    const std::uint32_t b = info.pagesPerBlock;

    // The data must stay inside the boot area (the Romfs area follows it) and the erase map's
    // span, on the pages the chip admits; measured before the first data page.
    const bool paired = layout.pairedPage != 0;
    const BootDataSpace space =
        MeasureBootDataSpace(area.dataStart / p, layout.bootBlocks,
                             static_cast<std::uint32_t>(eraseMap.size()), b, paired);
    const std::uint64_t dataPages = BootDataPages(subHeaders, p);
    if (dataPages > space.usablePages) {
        ShowDeviceMessage(job, kTextBootAreaTooSmall,
                          BootDataSpaceMessage(dataPages, space, paired));
        return 0;
    }

    // Reserve area.
    const std::uint32_t bootDevice = device::QueryBootDeviceId(job);
    if (bootDevice == 0 || bootDevice == 1) {
        for (std::uint32_t block = 32; block < 64; ++block) {
            if (StopRequested(job.devIndex)) {
                return 0;
            }
            device::TestNandBlock(layout, job.hDevice, block);
        }
    }

    // Index pages of the index block: level 1 and up from the index block, level 0 from page 0.
    const std::uint32_t indexStart =
        level0 ? 0 : static_cast<std::uint32_t>(device::SysInfoOf(job.devIndex).indexBlock) * b;
    const std::uint32_t passSlots = UsableIndexSlots(p, b);

    DevicePageWriter writer(eraseMap, job, info, space.endPage, std::move(area.deferred));
    IndexArea index(p);
    WriteCursor cursor{.address = area.dataStart};
    reader.Rewind();
    for (std::uint32_t i = 0; i < blocks; ++i) {
        SubHeader sub{};
        if (error = reader.NextBlock(sub); error != ImageError::kNone) {
            return ShowImageError(error, i);
        }
        if (!WriteSubBlock(cursor, sub, reader, {p, b}, writer, index)) {
            return 0;
        }
        PostProgressSteps(job, 1);
    }

    if (!level0) {
        device::TestNandBlock(layout, job.hDevice, indexStart / b);
    } else if (b != 256) {
        device::TestNandBlock(layout, job.hDevice, 0);
    }
    std::string message;
    const bool indexWritten =
        WriteIndexPages(index, indexStart, passSlots, writer, area.reservedPages, &message);
    writer.FlushDeferred();
    if (!indexWritten) {
        if (!message.empty()) {
            platform::ShowMessageBox(message);
        }
        return 0;
    }
    return 1;
}

int WriteBootImage(IspJob& job, BootConfig& config) {
    device::SetLargePageFlag(false);
    NandInfo info{};
    if (device::ReadNandInfo(job, info) != 0) {
        return -1;
    }
    info.idLength = RecountIdLength(info);
    // A record without a usable page size is reported as such, before its identification bytes
    // (all zero in such a record, which decode to no chip the station can describe) are.
    if (info.pageSize == 0 || info.pagesPerBlock == 0 || !SupportedPageSize(info.pageSize)) {
        platform::ShowMessageBox(kTextNoNandInfo);
        ShowDeviceMessage(job, kTextNoNandInfoDevice);
        return -1;
    }
    // The identification decodes into profile.ini; before anything is erased it must agree with
    // what the device's own record states (level 0 records carry no identification bytes).
    if (job.loaderLevel >= 1 && !device::NandGeometryAgrees(info, job.devIndex)) {
        return -1;
    }

    NandLayout layout{};
    layout.bootDeviceId = static_cast<std::uint8_t>(device::QueryBootDeviceId(job) & 0xFF);
    device::ComputeNandLayout(layout, info);

    const std::uint32_t blockBytes = std::uint32_t{info.pageSize} * info.pagesPerBlock;
    std::vector<std::uint8_t> eraseMap(std::max<std::uint32_t>(1, kEraseMapSpan / blockBytes), 0);
    device::SetCurrentLayout(job.devIndex, layout);

    if (WriteImageFile(job, info, eraseMap, layout, config) == 0) {
        // A write ended by a stop request is not reported: the operator asked for it.
        if (!StopRequested(job.devIndex)) {
            ShowDeviceMessage(job, kTextWritePackFailed);
        }
        return -1;
    }
    return 0;
}

} // namespace kestrel::program

using namespace kestrel;

KESTREL_EXPORT int WriteFW2NandFun(IspJob* job) {
    if (job == nullptr) {
        return -1;
    }
    try {
        program::BootConfig config = program::BuildConfigTables(); // this call's own tables
        const bool signatureRead = device::ProbeLoader(*job);
        if (signatureRead) {
            device::SyncBootDeviceId(*job);
        }
        program::PostJobEvent(*job, kEventBootBegin);
        if (!signatureRead) {
            // An unknown loader is not an old one: its boot area would be laid out for level 0.
            program::ShowDeviceMessage(*job, program::kTextNoLoaderSignature);
            program::PostJobEvent(*job, kEventBootFailed);
            program::ShowDeviceMessage(*job, program::kTextWriteFwFailed);
            return -1;
        }
        if (program::WriteBootImage(*job, config) != 0) {
            program::PostJobEvent(*job, kEventBootFailed);
            if (!program::StopRequested(job->devIndex)) {
                program::ShowDeviceMessage(*job, program::kTextWriteFwFailed);
            }
            return -1;
        }
        program::PostJobEvent(*job, kEventBootSucceeded);
        return 0;
    } catch (...) {
        // Only memory exhaustion can get here; the job ends as failed.
        program::PostJobEvent(*job, kEventBootFailed);
        return -1;
    }
}

KESTREL_EXPORT int GetRedboot(IspJob* probe, const char* packagePath, char* outPath, int outSize) {
    if (outPath != nullptr && outSize > 0) {
        outPath[0] = '\0';
    }
    if (probe == nullptr || packagePath == nullptr || outPath == nullptr || outSize <= 0) {
        return -1;
    }
    try {
        if (!device::ProbeLoader(*probe)) {
            program::ShowDeviceMessage(*probe, program::kTextNoLoaderSignature);
            return -1;
        }
        const program::RedbootChoice choice =
            program::SelectRedbootImage(packagePath, probe->loaderClass, probe->loaderLevel);
        if (choice.path.size() >= static_cast<std::size_t>(outSize)) {
            return -1;
        }
        std::memcpy(outPath, choice.path.c_str(), choice.path.size() + 1);
        return choice.result;
    } catch (...) {
        return -1;
    }
}
