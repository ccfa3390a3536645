#include "kestrellib/program/stop_request.h"

#include "kestrellib/device/device_removal.h"
#include "platform/devices/devices.h"

#include <array>
#include <atomic>

namespace kestrel::program {
namespace {

constexpr int kDevices = 64;

std::atomic<bool> stopAll{false};
std::array<std::atomic<bool>, kDevices> stopDevice{};

} // namespace

void RequestStop(int devIndex) {
    if (devIndex == kStopAllDevices) {
        stopAll.store(true);
    } else if (devIndex >= 0 && devIndex < kDevices) {
        stopDevice[static_cast<std::size_t>(devIndex)].store(true);
    }
}

void ClearStopRequests() {
    stopAll.store(false);
    for (auto& flag : stopDevice) {
        flag.store(false);
    }
}

bool StopRequested(int devIndex) {
    if (stopAll.load()) {
        return true;
    }
    return devIndex >= 0 && devIndex < kDevices &&
           stopDevice[static_cast<std::size_t>(devIndex)].load();
}

bool JobDeviceGone(const IspJob& job) {
    return job.hDevice != nullptr && platform::devices::IsGone(job.hDevice);
}

bool JobShouldEnd(const IspJob& job) {
    if (StopRequested(job.devIndex)) {
        return true;
    }
    if (!JobDeviceGone(job)) {
        return false;
    }
    device::ReportDeviceRemoved(job.hDevice, job.devIndex, platform::devices::kErrorNotConnected);
    return true;
}

} // namespace kestrel::program

KESTREL_EXPORT void Kestrel_RequestStop(int devIndex) {
    kestrel::program::RequestStop(devIndex);
}

KESTREL_EXPORT void Kestrel_ClearStopRequests(void) {
    kestrel::program::ClearStopRequests();
}
