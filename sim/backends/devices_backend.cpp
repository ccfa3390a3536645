#include "sim/backends/devices_backend.h"

#include "platform/modules/keep_loaded.h"

#include "sim/farm.h"

#include <mutex>
#include <utility>

namespace kestrel::sim::backends {
namespace {

using platform::devices::Backend;
using platform::devices::BackendEventSink;
using platform::devices::Connection;
using platform::devices::InterfaceInfo;
using platform::devices::ScsiRequest;

class SimConnection final : public Connection {
public:
    SimConnection(std::shared_ptr<sim::Device> device, std::uint64_t generation)
        : device_(std::move(device)), generation_(generation) {}
    int Send(const ScsiRequest& request) override { return device_->Execute(generation_, request); }

private:
    std::shared_ptr<sim::Device> device_;
    std::uint64_t generation_;
};

class SimBackend final : public Backend {
public:
    ~SimBackend() override { StopMonitor(); }

    const char* Name() const override { return "sim"; }

    bool Enumerate(std::vector<InterfaceInfo>& interfaces) override {
        for (const auto& device : sim::TheFarm().Devices()) {
            if (device->Present()) {
                interfaces.push_back({device->InterfacePath(), device->FriendlyName()});
            }
        }
        return true;
    }

    std::unique_ptr<Connection> Open(const std::string& path, int& error) override {
        auto device = sim::TheFarm().FindPresent(path);
        if (!device || !device->IsProductionModel()) {
            error = platform::devices::kErrorFileNotFound;
            return nullptr;
        }
        return std::make_unique<SimConnection>(device, device->Generation());
    }

    bool StartMonitor(BackendEventSink sink) override {
        std::lock_guard guard(lock_);
        if (listener_ != 0) {
            return true;
        }
        sink_ = std::move(sink);
        listener_ =
            sim::TheFarm().AddListener([this](std::uint32_t event, const std::string& path) {
                std::lock_guard inner(lock_);
                if (listener_ != 0 && sink_) {
                    sink_(event, path);
                }
            });
        return true;
    }

    void StopMonitor() override {
        std::lock_guard guard(lock_);
        if (listener_ != 0) {
            sim::TheFarm().RemoveListener(listener_);
            listener_ = 0;
            sink_ = nullptr;
        }
    }

private:
    // Held while the sink runs, so that StopMonitor returns only once no call is in flight.
    std::recursive_mutex lock_;
    std::uint64_t listener_ = 0;
    BackendEventSink sink_;
};

} // namespace

std::shared_ptr<Backend> MakeDevicesBackend() {
    // The layer keeps the backend for the rest of the process, so this library stays too.
    platform::KeepModuleLoaded(reinterpret_cast<const void*>(&MakeDevicesBackend));
    return std::make_shared<SimBackend>();
}

} // namespace kestrel::sim::backends
