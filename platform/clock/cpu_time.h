#pragma once
// CPU time of the whole process: user and system time of every thread, in seconds since the
// process started. Benchmarks take the difference of two readings to learn what a run cost the
// host, as opposed to the wall time it spent waiting (on devices, on sleeps).
//
// Backends: cpu_time_linux.cpp (getrusage), cpu_time_win32.cpp (GetProcessTimes). std::clock
// is not used: on Windows it measures wall time.

#include "platform/export.h"

namespace kestrel::platform {

// User plus system CPU seconds of this process so far; 0 when the system cannot tell.
KESTREL_PLATFORM_API double ProcessCpuSeconds();

} // namespace kestrel::platform
