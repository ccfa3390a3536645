// libFuzzer target: any bytes as the simulated devices' configuration file. It is parsed into at
// most 64 device descriptions without a message, or refused with a message and nothing added;
// the first device of an accepted file must then be made as described (the device's own checks
// of its description run in its constructor).
#include "sim/config_file.h"
#include "sim/device.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::sim;
    std::vector<DeviceConfig> devices;
    std::string error;
    const bool ok =
        ParseSimConfig(std::string_view(reinterpret_cast<const char*>(data), size), devices, error);
    if (ok ? devices.size() > kMaxSimulatedDevices || !error.empty()
           : !devices.empty() || error.empty()) {
        std::abort();
    }
    if (ok && !devices.empty()) {
        const Device device(devices.front());
        if (device.InterfacePath().empty()) {
            std::abort();
        }
    }
    return 0;
}
