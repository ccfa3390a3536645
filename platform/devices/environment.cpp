// Chooses the process's device backend from the environment: KESTREL_SIM_CONFIG or
// KESTREL_SIMULATE select the simulated devices (added to the farm here), anything else the
// platform's real backend. A simulation that was asked for but cannot be set up never falls
// back to real devices: the station then sees no device, and says why on stderr. The simulated
// devices get the device-registry entries a real system would have made for them.

#include "platform/devices/devices.h"
#include "platform/devices/sim_usbstor_entries.h"
#include "sim/config_file.h"
#include "sim/farm.h"

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
    if (!requested) {
        return MakeLinuxBackend();
    }
    for (const auto& device : sim::TheFarm().Devices()) {
        const sim::DeviceConfig& config = device->Config();
        if (!RecordUsbStorEntries(config.vendor, config.product, config.revision, config.instance,
                                  device->FriendlyName())) {
            std::fprintf(stderr,
                         "kestrel: simulated devices: the registry entries of %s cannot "
                         "be made\n",
                         device->InterfacePath().c_str());
        }
    }
    return MakeSimBackend();
}

} // namespace kestrel::platform::devices
