#pragma once
// A test with simulated devices behind the devices layer: instant retry waits, an empty device
// set, an empty farm, and recorded message boxes.

#include "kestrellib/device/device_set.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

class SimDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetSleepScale(0);
        sim::TheFarm().Clear();
        platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
        CloseEverything();
        previousBox_ =
            platform::SetMessageBoxHandler([this](const std::string& text, const std::string&) {
                std::lock_guard guard(boxLock_);
                boxes_.push_back(text);
            });
    }
    void TearDown() override {
        CloseEverything();
        platform::SetMessageBoxHandler(previousBox_);
        sim::TheFarm().Clear();
    }

    // Closes what the set holds and empties it.
    static void CloseEverything() {
        for (int i = device::DeviceCount() - 1; i >= 0; --i) {
            device::CloseDevice(device::DeviceHandleAt(i));
        }
        device::InitDeviceSet();
    }

    std::shared_ptr<sim::Device> AddDevice(sim::DeviceConfig config = {}) {
        config.latency = sim::LatencyModel::Zero();
        return sim::TheFarm().Add(std::move(config));
    }

    std::vector<std::string> Boxes() {
        std::lock_guard guard(boxLock_);
        return boxes_;
    }

private:
    platform::MessageBoxHandler previousBox_;
    std::mutex boxLock_;
    std::vector<std::string> boxes_;
};

} // namespace kestrel::test
