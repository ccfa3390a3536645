// kestrel-vm-probe: runs inside the test guest. It fills the device set as the station does at
// start (Device_handle_set_init, EnumUsbStorDevice), subscribes to the devices layer's hot-plug
// monitor, and hands every arrival and removal to ParseDeviceChange on its main thread, as the
// operator program's window does. It prints the device set after each event and succeeds once
// the set has taken the expected number of removals and arrivals (ParseDeviceChange returning
// 1), or fails after the time limit.
//
//   kestrel-vm-probe REMOVALS ARRIVALS SECONDS READY_FILE
//
// READY_FILE is created once the subscription is active, so the test knows when to unplug.

#include "kestrellib/device/device_exports.h"
#include "platform/devices/devices.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace devices = kestrel::platform::devices;

void PrintSet(const char* when) {
    const int count = Device_handle_set_get_count();
    std::printf("probe: %s: %d device(s)", when, count);
    for (int i = 0; i < count; ++i) {
        std::printf(" [%d] %s", i, kestrel::device::DeviceSetDevId(i).c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: kestrel-vm-probe REMOVALS ARRIVALS SECONDS READY_FILE\n");
        return 2;
    }
    const int wantRemovals = std::atoi(argv[1]);
    const int wantArrivals = std::atoi(argv[2]);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));

    Device_handle_set_init();
    EnumUsbStorDevice();
    PrintSet("enumerated");

    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::pair<std::uint32_t, std::vector<unsigned char>>> events;
    devices::Subscription subscription =
        devices::Subscribe([&](std::uint32_t event, const void* record) {
            const auto* bytes = static_cast<const unsigned char*>(record);
            std::uint32_t size = 0;
            for (int i = 0; i < 4; ++i) {
                size |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
            }
            std::lock_guard guard(lock);
            events.emplace_back(event, std::vector<unsigned char>(bytes, bytes + size));
            wake.notify_one();
        });
    if (!subscription.Active()) {
        std::printf("probe: FAIL: the hot-plug monitor cannot be started\n");
        return 1;
    }
    if (std::FILE* ready = std::fopen(argv[4], "w")) {
        std::fclose(ready);
    }
    std::printf("probe: watching\n");
    std::fflush(stdout);

    int removals = 0;
    int arrivals = 0;
    while (removals < wantRemovals || arrivals < wantArrivals) {
        std::unique_lock guard(lock);
        if (!wake.wait_until(guard, deadline, [&] { return !events.empty(); })) {
            std::printf("probe: FAIL: %d of %d removal(s) and %d of %d arrival(s) seen in time\n",
                        removals, wantRemovals, arrivals, wantArrivals);
            return 1;
        }
        auto [event, record] = std::move(events.front());
        events.pop_front();
        guard.unlock();
        const int handled = ParseDeviceChange(event, record.data());
        const char* name = event == devices::kDeviceArrival ? "arrival" : "removal";
        std::printf("probe: %s %s handled=%d\n", name,
                    reinterpret_cast<const char*>(record.data() + devices::kBroadcastNameOffset),
                    handled);
        if (handled == 1) {
            (event == devices::kDeviceArrival ? arrivals : removals) += 1;
        }
        PrintSet(name);
    }
    std::printf("probe: OK: %d removal(s) and %d arrival(s) taken by the device set\n", removals,
                arrivals);
    return 0;
}
