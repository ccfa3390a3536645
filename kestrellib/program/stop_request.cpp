#include "kestrellib/program/stop_request.h"

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

} // namespace kestrel::program

KESTREL_EXPORT void Kestrel_RequestStop(int devIndex) {
    kestrel::program::RequestStop(devIndex);
}

KESTREL_EXPORT void Kestrel_ClearStopRequests(void) {
    kestrel::program::ClearStopRequests();
}
