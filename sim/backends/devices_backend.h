#pragma once
// The simulated devices of the farm (TheFarm()) behind the devices layer's backend contract.

#include "platform/devices/devices.h"
#include "sim/sim_api.h"

#include <memory>

namespace kestrel::sim::backends {

// Lists every present simulated disk, including those of other models, so that the device
// set's own filtering is exercised as on a real system; opens only devices of the production
// model. Hot-plug events come from the farm on the thread that plugged or unplugged a device.
KESTREL_SIM_API std::shared_ptr<platform::devices::Backend> MakeDevicesBackend();

} // namespace kestrel::sim::backends
