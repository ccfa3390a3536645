#pragma once
// The simulated-device configuration file named by KESTREL_SIM_CONFIG, and the default devices
// of KESTREL_SIMULATE=N. The format is documented in docs/simulation.md: one [device] section per
// device (or per `count` identical devices), key = value lines, '#' or ';' comments.

#include "sim/device_config.h"
#include "sim/sim_api.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::sim {

inline constexpr std::size_t kMaxSimulatedDevices = 64;

// Parses the text; on failure returns false with a message naming the line, and `devices`
// holds nothing.
KESTREL_SIM_API bool ParseSimConfig(std::string_view text, std::vector<DeviceConfig>& devices,
                                    std::string& error);

// Reads and parses a file (at most 1 MiB).
KESTREL_SIM_API bool LoadSimConfigFile(const std::string& path, std::vector<DeviceConfig>& devices,
                                       std::string& error);

// The i-th default device of KESTREL_SIMULATE: a healthy class-0 device with loader level 2.
KESTREL_SIM_API DeviceConfig DefaultSimulatedDevice(std::size_t index);

// Adds the devices the environment asks for to TheFarm(): KESTREL_SIM_CONFIG=file, else
// KESTREL_SIMULATE=N (0..64) default devices. Returns false with a message when a variable is
// set but unusable (nothing is added then). `requested` tells whether either variable is set.
KESTREL_SIM_API bool AddDevicesFromEnvironment(bool& requested, std::string& error);

} // namespace kestrel::sim
