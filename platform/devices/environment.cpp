// Chooses the process's device backend from the environment: KESTREL_SIM_CONFIG or
// KESTREL_SIMULATE select the simulated devices (added to the farm here), anything else the
// platform's real backend. A simulation that was asked for but cannot be set up never falls
// back to real devices: the station then sees no device, and says why on stderr.

#include "platform/devices/devices.h"
#include "sim/config_file.h"

#include <cstdio>
#include <string>

namespace kestrel::platform::devices {

std::shared_ptr<Backend> MakeBackendFromEnvironment() {
    bool requested = false;
    std::string error;
    if (!sim::AddDevicesFromEnvironment(requested, error)) {
        std::fprintf(stderr, "kestrel: simulated devices: %s; no device is simulated\n",
                     error.c_str());
        return MakeSimBackend();
    }
    return requested ? MakeSimBackend() : MakeLinuxBackend();
}

} // namespace kestrel::platform::devices
