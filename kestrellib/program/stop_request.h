#pragma once
// Stop requests: the station asks the programming procedures of one device, or of every device,
// to end early. The procedures look at the request at safe points only (each poll of the wait
// for a device, before each block test, each page of a resource image and each page of boot
// code, also between the skips past a page that fails) and then return -1
// without a message box, leaving whatever was written so far; the area record is written last,
// so a resource area cut short this way is never mistaken for a complete one.
//
// Requests stay set until cleared; the station clears them when a new run starts. Any thread may
// request, clear or ask.

#include "kestrel/isp_job.h"
#include "platform/export.h"

namespace kestrel::program {

inline constexpr int kStopAllDevices = -1;

// Requests a stop of the device devIndex (0..63), or of every device with kStopAllDevices.
// Other indexes are ignored.
void RequestStop(int devIndex);

// Withdraws every request, for every device.
void ClearStopRequests();

// Whether the procedures of device devIndex should stop: its own request or the one for all.
bool StopRequested(int devIndex);

// Whether the job's device is gone (its handle closed on removal, or a command on it failed with
// the error of a vanished device). A null handle is not gone: nothing was opened yet.
bool JobDeviceGone(const IspJob& job);

// Whether a procedure of the job should end at a safe point: a stop request for its device, or
// its device is gone. For a gone device the one removal message is shown here unless a failed
// command showed it already; the procedure then returns -1 without a message of its own.
bool JobShouldEnd(const IspJob& job);

} // namespace kestrel::program

// The same for callers of the library by name (the operator program and the command line).
KESTREL_EXPORT void Kestrel_RequestStop(int devIndex);
KESTREL_EXPORT void Kestrel_ClearStopRequests(void);
