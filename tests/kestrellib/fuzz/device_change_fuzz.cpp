// libFuzzer target: any bytes as a sequence of device-change notifications handed to the device
// set as the window hands them (ParseDeviceChange), with two simulated devices of the model
// present. Each notification is one byte choosing the event, a little-endian 16-bit length and
// that many bytes of broadcast record; the record's own size word is cut to the bytes it
// carries (a notification never announces more than it holds), so the parser must not read
// past it. After every notification the set stays within its capacity, dense, and never holds
// two entries for one unit; every input ends by closing all devices, so inputs do not depend
// on each other.
#include "kestrellib/device/device_exports.h"
#include "kestrellib/device/device_set.h"
#include "platform/devices/devices.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

void CheckDeviceSet() {
    using namespace kestrel::device;
    const int count = DeviceCount();
    if (count < 0 || count > kDeviceSetCapacity) {
        std::abort();
    }
    std::set<std::pair<std::string, std::string>> units;
    for (int i = 0; i < count; ++i) {
        const std::string path = DevicePathAt(i);
        if (DeviceHandleAt(i) == nullptr || path.find("USBSTOR") == std::string::npos ||
            DeviceDevIdAt(i) != DevIdFromPath(path) ||
            !units.emplace(DeviceDevIdAt(i), InstanceFromPath(path)).second) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    static const bool ready = [] {
        platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
        sim::TheFarm().Clear();
        sim::TheFarm().Add(sim::DeviceConfig{}); // port 1-1.1
        sim::TheFarm().Add(sim::DeviceConfig{}); // port 1-1.2
        device::InitDeviceSet();
        return true;
    }();
    (void)ready;
    static constexpr unsigned kEvents[] = {
        platform::devices::kDeviceArrival,           platform::devices::kDeviceRemoveComplete,
        platform::devices::kDeviceQueryRemove,       platform::devices::kDeviceRemovePending,
        platform::devices::kDeviceQueryRemoveFailed, 0x0007};
    std::vector<std::uint8_t> record;
    for (std::size_t at = 0; size - at >= 3;) {
        const unsigned event = kEvents[data[at] % std::size(kEvents)];
        const std::size_t length =
            std::min<std::size_t>(data[at + 1] | (data[at + 2] << 8), size - at - 3);
        record.assign(data + at + 3, data + at + 3 + length);
        at += 3 + length;
        // Every notification carries at least its size word.
        if (record.size() < 4) {
            continue;
        }
        std::uint32_t announced = 0;
        std::memcpy(&announced, record.data(), 4);
        if (announced > record.size()) {
            announced = static_cast<std::uint32_t>(record.size());
            std::memcpy(record.data(), &announced, 4);
        }
        record.resize(announced < 4 ? 4 : announced);
        ParseDeviceChange(event, record.data());
        CheckDeviceSet();
    }
    CloseAllDevice(nullptr);
    if (device::DeviceCount() != 0) {
        std::abort();
    }
    return 0;
}
