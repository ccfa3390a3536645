#pragma once
// What a simulated device says about the host: the host errors it recorded while a job drove it
// (sim/device.h). In a simulated run a device that recorded any is reported FAILED, since the
// same commands would have been refused or misread by a real device.

#include "kestrel/isp_job.h"

#include <string>

namespace kestrel::station {

// "" when the job's device is not simulated or recorded no host error; otherwise a text that
// names the first error and how many there were, e.g. "the device recorded 3 host errors, the
// first: page programmed out of order in its block (sub-command 0x12, address 0x100)".
std::string SimulatedHostErrors(const IspJob& job);

} // namespace kestrel::station
