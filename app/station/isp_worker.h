#pragma once
// The worker of one device in an ISP run. It announces its start (code 257), checks the INI
// files the run mode needs, calls the programming procedures for its own job only, and
// announces its end (code 256), all by posting to the job's window.
//
// Modes: 1 boot code (needs config.ini), 2 resources (needs isp.ini), 3 program all (needs both;
// the surplus counter is raised before the boot code and lowered again once it succeeded, then
// code 512 and the resources follow). Any other mode does nothing between start and end.
// A missing file shows "Can't found config.ini" or "Can't found isp.ini" and writes nothing.
// Every box the worker's thread raises (its own and the library's) names the job's device.
//
// A stop request is honoured between the steps of the worker (before the boot code and before
// the resources); inside a procedure the library's own stop request applies.
//
// Demo copy: when demoCopy is true (the run had "Download Demo file" checked and the demo
// directory holds files) and the device succeeded, the worker posts code 7 just before its end.
// The device succeeded when every procedure its mode calls returned something other than -1
// (mode 3: the boot code and then the resources); a missing INI file, a stop or a mode outside
// 1-3 is no success. The page starts the demo copy once every device of the run has posted 7.

#include "app/station/station_library.h"
#include "kestrel/isp_job.h"

#include <atomic>

namespace kestrel::station {

inline constexpr const char* kNoConfigIniText = "Can't found config.ini";
inline constexpr const char* kNoIspIniText = "Can't found isp.ini";

// Runs the job on the calling thread; returns the thread's exit code, 0.
int IspWorkerProc(IspJob& job, const StationLibrary& library, const std::atomic<bool>& stop,
                  bool demoCopy = false);

} // namespace kestrel::station
