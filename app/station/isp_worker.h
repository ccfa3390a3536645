#pragma once
// The worker of one device in an ISP run. It announces its start (code 257), checks the INI
// files the run mode needs, calls the programming procedures for its own job only, and
// announces its end (code 256), all by posting to the job's window.
//
// Modes: 1 boot code (needs config.ini), 2 resources (needs isp.ini), 3 program all (needs both;
// the surplus counter is raised before the boot code and lowered again once it succeeded, then
// code 512 and the resources follow). Any other mode does nothing between start and end.
// A missing file shows "Can't found config.ini" or "Can't found isp.ini" and writes nothing.
//
// A stop request is honoured between the steps of the worker (before the boot code and before
// the resources); inside a procedure the library's own stop request applies.

#include "app/isp_job.h"
#include "app/station/station_library.h"

#include <atomic>

namespace kestrel::station {

inline constexpr const char* kNoConfigIniText = "Can't found config.ini";
inline constexpr const char* kNoIspIniText = "Can't found isp.ini";

// Runs the job on the calling thread; returns the thread's exit code, 0.
int IspWorkerProc(IspJob& job, const StationLibrary& library, const std::atomic<bool>& stop);

} // namespace kestrel::station
