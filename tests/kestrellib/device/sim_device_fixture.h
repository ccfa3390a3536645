#pragma once
// A test fixture with simulated devices opened through the devices layer, as the programming
// procedures see them: a fresh module directory, instant sleeps, recorded message boxes.

#include "kestrel/isp_job.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kestrel::test {

class SimDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetSleepScale(0.0);
        sim::TheFarm().Clear();
        platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
        previousBox_ = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { boxes_.push_back(text); });
    }
    void TearDown() override {
        for (void* handle : handles_) {
            platform::devices::Close(handle);
        }
        for (const auto& device : devices_) {
            for (const auto& error : device->HostErrors()) {
                ADD_FAILURE() << "host error on the device: " << error.detail;
            }
        }
        platform::SetMessageBoxHandler(previousBox_);
        sim::TheFarm().Clear();
        platform::SetSleepScale(1.0);
    }

    // Adds a device with zero latency and returns a job record for it at devIndex.
    IspJob AddDevice(sim::DeviceConfig config, int devIndex = 0) {
        config.latency = sim::LatencyModel::Zero();
        auto device = sim::TheFarm().Add(config);
        devices_.push_back(device);
        void* handle = platform::devices::Open(device->InterfacePath());
        EXPECT_NE(handle, nullptr);
        handles_.push_back(handle);
        IspJob job{};
        job.hDevice = handle;
        job.devIndex = devIndex;
        job.loaderLevel = config.loaderSignature ? config.loaderLevel : 0;
        job.loaderClass = config.loaderSignature ? config.loaderClass : 0;
        return job;
    }
    sim::Device& Device(std::size_t i = 0) { return *devices_.at(i); }

    TempHome home_;
    std::vector<std::string> boxes_;
    std::vector<std::shared_ptr<sim::Device>> devices_;
    std::vector<void*> handles_;
    platform::MessageBoxHandler previousBox_;
};

} // namespace kestrel::test
