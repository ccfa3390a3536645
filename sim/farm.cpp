#include "sim/farm.h"

#include "platform/devices/usbstor_path.h"

#include <string>

namespace kestrel::sim {

std::shared_ptr<Device> Farm::Add(DeviceConfig config) {
    std::uint32_t number = 0;
    {
        std::lock_guard guard(lock_);
        number = added_++;
    }
    if (config.revision.empty()) {
        config.revision = kSharedRevision;
    }
    if (config.port.empty() && config.instance.empty()) {
        config.port = "1-1." + std::to_string(number + 1);
    }
    auto device = std::make_shared<Device>(std::move(config));
    device->SetPlugListener(
        [this](std::uint32_t event, const std::string& path) { Broadcast(event, path); });
    {
        std::lock_guard guard(lock_);
        devices_.push_back(device);
    }
    Broadcast(platform::devices::kDeviceArrival, device->InterfacePath());
    return device;
}

void Farm::Remove(const std::shared_ptr<Device>& device) {
    if (!device) {
        return;
    }
    device->Unplug();
    device->SetPlugListener(nullptr);
    std::lock_guard guard(lock_);
    std::erase(devices_, device);
}

void Farm::Clear() {
    std::vector<std::shared_ptr<Device>> gone;
    {
        std::lock_guard guard(lock_);
        gone.swap(devices_);
        added_ = 0;
    }
    for (auto& device : gone) {
        device->SetPlugListener(nullptr);
    }
}

std::vector<std::shared_ptr<Device>> Farm::Devices() const {
    std::lock_guard guard(lock_);
    return devices_;
}

std::size_t Farm::Size() const {
    std::lock_guard guard(lock_);
    return devices_.size();
}

std::shared_ptr<Device> Farm::At(std::size_t index) const {
    std::lock_guard guard(lock_);
    return index < devices_.size() ? devices_[index] : nullptr;
}

std::shared_ptr<Device> Farm::FindPresent(const std::string& path) const {
    std::lock_guard guard(lock_);
    for (const auto& device : devices_) {
        if (platform::devices::EqualsIgnoreCase(device->InterfacePath(), path) &&
            device->Present()) {
            return device;
        }
    }
    return nullptr;
}

std::uint64_t Farm::AddListener(PlugListener listener) {
    std::lock_guard guard(lock_);
    const std::uint64_t id = nextListener_++;
    listeners_.emplace(id, std::make_shared<PlugListener>(std::move(listener)));
    return id;
}

void Farm::RemoveListener(std::uint64_t id) {
    std::lock_guard guard(lock_);
    listeners_.erase(id);
}

void Farm::Broadcast(std::uint32_t event, const std::string& path) {
    std::vector<std::shared_ptr<PlugListener>> listeners;
    {
        std::lock_guard guard(lock_);
        for (auto& [id, listener] : listeners_) {
            listeners.push_back(listener);
        }
    }
    for (auto& listener : listeners) {
        (*listener)(event, path);
    }
}

// Process-wide: the farm exists once per process because it lives only in KestrelSim, the shared
// library that Kestrellib, the programs and the tests all call into.
Farm& TheFarm() {
    static Farm farm;
    return farm;
}

} // namespace kestrel::sim
