#include "app/station/sim_host_errors.h"

#include "kestrellib/device/device_set.h"
#include "platform/devices/usbstor_path.h"
#include "sim/farm.h"

#include <cstdio>

namespace kestrel::station {

std::string SimulatedHostErrors(const IspJob& job) {
    const std::string path = device::DevicePathOf(job.hDevice);
    if (path.empty()) {
        return {};
    }
    for (const auto& dev : sim::TheFarm().Devices()) {
        if (!platform::devices::EqualsIgnoreCase(dev->InterfacePath(), path)) {
            continue;
        }
        const auto errors = dev->HostErrors();
        if (errors.empty()) {
            return {};
        }
        const sim::HostError& first = errors.front();
        char text[256];
        std::snprintf(text, sizeof text,
                      "the device recorded %zu host error%s, the first: %s (sub-command 0x%02X, "
                      "address 0x%X%s%s)",
                      errors.size(), errors.size() == 1 ? "" : "s", sim::HostErrorName(first.kind),
                      first.subCommand, first.address, first.detail.empty() ? "" : ", ",
                      first.detail.c_str());
        return text;
    }
    return {};
}

} // namespace kestrel::station
