#include "app/station/event_lines.h"

#include "kestrel/isp_job.h"

#include <array>

namespace kestrel::station {
namespace {

constexpr std::array<EventLine, 18> kEventLines{{
    {kEventBootBegin, "Device:%d ==> Begin write FW.\n", "Writing FW...", StepTimer::kStart},
    {kEventBootSucceeded, "Device:%d ==> Write FW is success. (%d s)\n", nullptr,
     StepTimer::kElapsed},
    {kEventBootFailed, "Device:%d ==>Write FW is fail.\n", nullptr, StepTimer::kNone},
    {kEventBootEnded, "Device:%d ==> End of write FW.\n", nullptr, StepTimer::kNone},
    {kEventResourceBegin, "Device:%d ==> Begin write resource.\n", "Writing ROM...",
     StepTimer::kStart},
    {kEventResourceSucceeded, "Device:%d ==> Write resource is success. (%d s)\n", nullptr,
     StepTimer::kElapsed},
    {kEventResourceFailed, "Device:%d ==> Write resource is fail.\n", nullptr, StepTimer::kNone},
    {kEventResourceEnded, "Device:%d ==> End of write resource.\n", nullptr, StepTimer::kNone},
    // The rebuild is not timed: its begin leaves the timer of the resource step running.
    {kEventRebuildBegin, "Device:%d ==> Begin Rebuild Nand fs.\n", "Writing Nand fs...",
     StepTimer::kNone},
    {kEventRebuildSucceeded, "Device:%d ==> Rebuild Nand fs is success.\n", nullptr,
     StepTimer::kNone},
    {kEventRebuildFailed, "Device:%d ==> Rebuild Nand fs is fail.\n", nullptr, StepTimer::kNone},
    {kEventRebuildEnded, "Device:%d ==> End of Rebuild Nand fs.\n", nullptr, StepTimer::kNone},
    {kEventDemoBegin, "Device:%d ==> Begin copy demo file.\n", "Writing demo file...",
     StepTimer::kStart},
    {kEventDemoSucceeded, "Device:%d ==> copy demo is success. (%d s)\n", nullptr,
     StepTimer::kElapsed},
    {kEventDemoFailed, "Device:%d ==> copy demo file is fail.\n", nullptr, StepTimer::kNone},
    {kEventDemoEnded, "Device:%d ==> End of copy demo file.\n", nullptr, StepTimer::kNone},
    {kEventIspModeFailed, "Device:%d ==> enter ISP mode fail.\n", nullptr, StepTimer::kNone},
    {kEventIspModeSucceeded, "Device:%d ==> enter ISP mode success.\n", nullptr, StepTimer::kNone},
}};

} // namespace

std::optional<EventLine> FindEventLine(std::uint32_t event) {
    for (const EventLine& line : kEventLines) {
        if (line.event == event) {
            return line;
        }
    }
    return std::nullopt;
}

std::vector<const char*> StepStatusTexts() {
    std::vector<const char*> texts;
    for (const EventLine& line : kEventLines) {
        if (line.statusText != nullptr) {
            texts.push_back(line.statusText);
        }
    }
    return texts;
}

} // namespace kestrel::station
