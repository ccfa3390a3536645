#pragma once
// The run state of the Basic page, touched only on the thread that owns the run: the workers
// under way, the devices awaited for the demo copy, the progress of each slot and the start
// tick of each device's timed step.
//
// The step timer is kept per device index (all 64 of the job table), not per slot, so that the
// log lines of devices beyond the eight slots still carry their seconds; for devices 0-7 it is
// the slot's timer.

#include "app/station/station_view.h"
#include "kestrel/isp_job.h"

#include <array>
#include <cstdint>

namespace kestrel::station {

struct SlotState {
    std::uint32_t total = 0;    // progress range
    std::uint32_t position = 0; // progress position
};

struct RunState {
    int runningWorkers = 0; // workers that announced their start (257) and not yet their end (256)
    int demoPending = 0;    // devices still expected to report ready for the demo copy
    bool ispEnabled = true; // the ISP action as last shown
    std::array<SlotState, kSlotCount> slots{};
    // Tick of the start of the current timed step; the elapsed milliseconds once it succeeded.
    std::array<std::uint32_t, kIspJobTableSize> stepTick{};
};

constexpr bool HasSlot(std::intptr_t device) {
    return device >= 0 && device < kSlotCount;
}

constexpr bool InJobTable(std::intptr_t device) {
    return device >= 0 && device < kIspJobTableSize;
}

} // namespace kestrel::station
