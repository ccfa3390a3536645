#pragma once
// The one message about a device that vanished (cable pulled, device unplugged). Once the devices
// layer knows a handle's device is gone, commands on it fail at once; the first failure shows
// this message and every later one on that handle shows nothing, so the operator reads one box
// that says what happened instead of a box per failed command.

#include "kestrellib/device/device_set.h"

namespace kestrel::device {

// "%d": the device index, then the error code of the failure that told.
inline constexpr const char* kTextDeviceRemoved =
    "Device%d-->The device was removed (error id: %d)\n";

// Shows kTextDeviceRemoved for the handle, the first time only; true when it showed it.
bool ReportDeviceRemoved(DeviceHandle handle, int devIndex, int error);

// How many handles the memory of reported removals keeps (the most recent ones).
inline constexpr std::size_t kReportedRemovalMemory = 256;

} // namespace kestrel::device
