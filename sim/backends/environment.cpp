#include "sim/backends/environment.h"

#include "platform/devices/devices.h"
#include "platform/drives/drives.h"
#include "platform/registry/hive_control.h"
#include "sim/backends/devices_backend.h"
#include "sim/backends/drives_backend.h"
#include "sim/backends/usbstor_entries.h"
#include "sim/config_file.h"
#include "sim/farm.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace kestrel::sim::backends {
namespace {

bool SimulationRequested() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("KESTREL_SIMULATE") || set("KESTREL_SIM_CONFIG");
}

// The devices the environment asks for, added to the farm, with the device-registry entries a
// real system would have made for them.
std::shared_ptr<platform::devices::Backend> DevicesFromEnvironment() {
    bool requested = false;
    std::string error;
    if (!AddDevicesFromEnvironment(requested, error)) {
        std::fprintf(stderr, "kestrel: simulated devices: %s; no device is simulated\n",
                     error.c_str());
        return MakeDevicesBackend();
    }
    if (!requested) {
        return platform::devices::MakeSystemBackend();
    }
    for (const auto& device : TheFarm().Devices()) {
        const DeviceConfig& config = device->Config();
        if (!RecordUsbStorEntries(config.vendor, config.product, config.revision, config.instance,
                                  device->FriendlyName())) {
            std::fprintf(stderr,
                         "kestrel: simulated devices: the registry entries of %s cannot "
                         "be made\n",
                         device->InterfacePath().c_str());
        }
    }
    return MakeDevicesBackend();
}

std::shared_ptr<platform::drives::Backend> DrivesFromEnvironment() {
    return SimulationRequested() ? MakeDrivesBackend() : platform::drives::MakeSystemBackend();
}

} // namespace

void InstallFromEnvironment() {
    if (SimulationRequested()) {
        // The simulated devices' registry entries, and whatever the station then does to the
        // registry, stay in the hive: a simulated station never changes the machine's registry.
        platform::registry::UseRegistryStore(platform::registry::RegistryStore::kHive);
    }
    platform::devices::SetDefaultBackendFactory(&DevicesFromEnvironment);
    platform::drives::SetDefaultBackendFactory(&DrivesFromEnvironment);
}

} // namespace kestrel::sim::backends
