#pragma once
// The simulated station, chosen from the environment: KESTREL_SIMULATE=N or
// KESTREL_SIM_CONFIG=file select the simulated devices and their drives (docs/simulation.md),
// anything else the platform's real backends.

#include "sim/sim_api.h"

namespace kestrel::sim::backends {

// Makes the environment's choice the default of the devices and drives layers: on first use
// each layer asks the environment, adds the simulated devices to the farm and makes their
// device-registry entries. When a simulation is asked for, the registry layer is switched to the
// registry hive at once (on Windows it would otherwise reach the machine's registry). A simulation
// that was asked for but cannot be set up never falls back to real devices: the station then sees
// no device, and says why on stderr. A backend installed explicitly (tests) still wins. Every
// program and library that can start a simulated station calls this before its first device or
// drive call; calling it again is harmless.
KESTREL_SIM_API void InstallFromEnvironment();

} // namespace kestrel::sim::backends
