#pragma once
// The drives of the simulated devices behind the drives layer's backend contract.

#include "platform/drives/drives.h"
#include "sim/sim_api.h"

#include <memory>

namespace kestrel::sim::backends {

// Offers one folder per present simulated device of the production model, in the order the
// simulated devices were added: <module directory>/sim-drives/<device instance>, created when
// first listed. A device that is unplugged or restarting is not listed.
KESTREL_SIM_API std::shared_ptr<platform::drives::Backend> MakeDrivesBackend();

} // namespace kestrel::sim::backends
