#pragma once
// The simulated devices of the process: the set the devices layer's sim backend enumerates and
// opens. It is process-wide (TheFarm(), inside the shared library KestrelSim, like the other
// process-wide services), so a test program reaches the very devices that Kestrellib talks to.
//
//   auto& farm = sim::TheFarm();
//   farm.Clear();
//   auto dev = farm.Add(sim::DeviceConfig::ForClass(9)); // plugged in, arrival announced
//   ... run the station ...
//   EXPECT_TRUE(dev->HostErrors().empty());
//
// Add fills an empty revision with kSharedRevision (units of one batch report one revision, so
// the station must tell them apart by their port) and an empty port with 1-1.1, 1-1.2, ... in
// order of addition, the ports of one hub. Listeners hear every
// arrival and removal (on the thread that caused it, or the restart thread of the device).

#include "sim/device.h"
#include "sim/sim_api.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::sim {

inline constexpr const char* kSharedRevision = "1.00";

using PlugListener = std::function<void(std::uint32_t event, const std::string& path)>;

class KESTREL_SIM_API Farm {
public:
    // Adds a device and plugs it in.
    std::shared_ptr<Device> Add(DeviceConfig config);
    // Unplugs and forgets a device (its removal is announced).
    void Remove(const std::shared_ptr<Device>& device);
    // Forgets every device without announcing anything, and restarts the numbering.
    void Clear();

    std::vector<std::shared_ptr<Device>> Devices() const;
    std::size_t Size() const;
    std::shared_ptr<Device> At(std::size_t index) const; // null when out of range
    // The present device whose interface path equals `path` without regard to case.
    std::shared_ptr<Device> FindPresent(const std::string& path) const;

    std::uint64_t AddListener(PlugListener listener);
    void RemoveListener(std::uint64_t id);

private:
    void Broadcast(std::uint32_t event, const std::string& path);

    mutable std::mutex lock_;
    std::vector<std::shared_ptr<Device>> devices_;
    std::uint32_t added_ = 0;
    std::map<std::uint64_t, std::shared_ptr<PlugListener>> listeners_;
    std::uint64_t nextListener_ = 1;
};

// The process-wide set of simulated devices.
KESTREL_SIM_API Farm& TheFarm();

} // namespace kestrel::sim
