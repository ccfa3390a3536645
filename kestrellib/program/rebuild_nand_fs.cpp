#include "kestrellib/program/rebuild_nand_fs.h"

#include "kestrellib/program/job_notifications.h"
#include "kestrellib/program/stop_request.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::program {

int RebuildNandFs(const device::NandLayout& layout, const IspJob& job, ResourceNand& nand) {
    if (layout.bootDeviceId >= 2) {
        return 0;
    }
    PostJobEvent(job, kEventRebuildBegin);

    const std::uint32_t chipBlocks = std::uint32_t{layout.restStart} + layout.restBlocks;
    const std::uint32_t available = chipBlocks > layout.fsStart ? chipBlocks - layout.fsStart : 0;
    const std::uint32_t count = std::min(kRebuildBlocks, available);
    std::uint32_t good = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (JobShouldEnd(job)) {
            return -1;
        }
        if (nand.TestBlock(static_cast<std::uint16_t>(layout.fsStart + i))) {
            ++good;
        } else {
            std::printf(kTextRebuildBadBlock, static_cast<int>(i));
            std::fflush(stdout);
        }
    }

    if (good == 0) {
        ShowDeviceMessage(job, kTextRebuildError);
        PostJobEvent(job, kEventRebuildFailed);
        return -1;
    }
    PostJobEvent(job, kEventRebuildEnded);
    PostJobEvent(job, kEventRebuildSucceeded);
    return 0;
}

} // namespace kestrel::program
