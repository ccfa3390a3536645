#pragma once
// The outcome of one ISP run, unit by unit, as both front ends record and show it: one run record
// per device (isp-runs.jsonl), built from what the run monitor saw, with the device's facts read
// back for units that succeeded and, when asked, the read-back of the unit after programming;
// a simulated unit that recorded a host error fails (a real device would have refused or misread
// the same commands); and the one line that sums the run up in the log.

#include "app/station/run_monitor.h"
#include "app/station/run_record.h"
#include "kestrel/isp_job.h"

#include <span>
#include <string>
#include <vector>

namespace kestrel::station {

// The program version the run records name (the one in the window's title).
inline constexpr const char* kProgramVersion = "1.3.0.10";

struct RunDescription {
    std::string time;            // start of the run, ISO 8601 UTC
    int mode = 3;                // the run mode of its jobs
    std::string bootPackagePath; // the boot code file configured for the run
    bool dualImage = false;      // the Romfs image is written twice
    bool readBack = false;       // read each unit back after programming
    bool readDevices = true;     // ask units that succeeded for their facts (and read-back)
    bool demoCopy = false;       // a demo copy was wanted: each drive's copy is part of its unit
};

// One record per job, in device order. Uses the devices (facts, read-back) only for units that
// succeeded; call it on the owning thread once every worker of the run has ended.
std::vector<RunRecord> RecordRun(const RunDescription& run, std::span<const IspJob> jobs,
                                 const RunMonitor& monitor);

// The images a run writes, with their SHA-256, as every record of the run names them (the job
// gives the paths).
std::vector<ImageDigest> RunImages(const RunDescription& run, const IspJob& job);

// The record of one unit: the job that programmed it at `index` (its number in the monitor and
// in the per-device tables). Call it on the owning thread once the unit's worker has ended.
RunRecord RecordUnit(const RunDescription& run, const std::vector<ImageDigest>& images,
                     const IspJob& job, int index, const RunMonitor& monitor);

// "Run ended: 7 passed, 1 failed (Dev2)\n" (the failed devices named as the slots name them).
std::string RunEndedLine(const std::vector<RunRecord>& records);

// The instance part of the interface path of the device at `index` (e.g. "KESTREL&1-1.3&0"): the
// USB serial number, or what the system derived from the port when the device has none. Units of
// one batch share their DevId; this tells them apart. "" when there is no such device.
std::string DevicePort(int index);

// The time now as the run records write it, e.g. "2026-12-07T11:02:03.250Z".
std::string RunTimeNow();

} // namespace kestrel::station
