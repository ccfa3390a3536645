// Plugging, unplugging and restarting simulated devices, and the identities the farm gives.
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/devices/usbstor_path.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kestrel::sim {
namespace {

class Plug : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetSleepScale(0);
        TheFarm().Clear();
        listener_ = TheFarm().AddListener([this](std::uint32_t event, const std::string& path) {
            std::lock_guard guard(lock_);
            events_.emplace_back(event, path);
        });
    }
    void TearDown() override {
        TheFarm().RemoveListener(listener_);
        TheFarm().Clear();
    }
    std::vector<std::pair<std::uint32_t, std::string>> Events() {
        std::lock_guard guard(lock_);
        return events_;
    }

    std::uint64_t listener_ = 0;
    std::mutex lock_;
    std::vector<std::pair<std::uint32_t, std::string>> events_;
};

TEST_F(Plug, FarmGivesOneRevisionAndAPortOfItsOwnToEachDevice) {
    auto a = TheFarm().Add(DeviceConfig{});
    auto b = TheFarm().Add(DeviceConfig{});
    DeviceConfig serial;
    serial.usbSerial = "4C530001";
    serial.port = "2-3";
    auto c = TheFarm().Add(serial);
    EXPECT_EQ(a->InterfacePath(),
              "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#kestrel&1-1.1&0#"
              "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_NE(b->InterfacePath().find("rev_1.00#kestrel&1-1.2&0#"), std::string::npos);
    EXPECT_NE(c->InterfacePath().find("rev_1.00#4c530001&2-3&0#"), std::string::npos);
    EXPECT_EQ(a->FriendlyName(), "USB DISK MASS STORAGE USB Device");
    EXPECT_EQ(Events().size(), 3u);
    EXPECT_EQ(TheFarm().FindPresent(platform::devices::ToUpperAscii(b->InterfacePath())), b);
}

TEST_F(Plug, ReplugOnAnotherPortChangesThePathOnly) {
    auto a = TheFarm().Add(DeviceConfig{});
    const std::string before = a->InterfacePath();
    a->ReplugOnPort("1-1.7"); // present: nothing happens
    EXPECT_EQ(a->InterfacePath(), before);
    a->Unplug();
    a->ReplugOnPort("1-1.7");
    EXPECT_TRUE(a->Present());
    EXPECT_NE(a->InterfacePath().find("#kestrel&1-1.7&0#"), std::string::npos);
    EXPECT_EQ(a->Config().port, "1-1.7");
    ASSERT_EQ(Events().size(), 3u);
    EXPECT_EQ(Events()[1].second, before);
    EXPECT_EQ(Events()[2].second, a->InterfacePath());
}

TEST_F(Plug, UnplugEndsOldHandlesForGoodAndPowerCyclesTheDevice) {
    DeviceConfig config;
    config.latency = LatencyModel::Zero();
    auto device = TheFarm().Add(config);
    const std::uint64_t before = device->Generation();
    device->SetMemoryWord(0x80000000, 0x12345678);
    device->SetMemoryWord(kParameterMarkWord, 0xAA55AA55);
    ASSERT_EQ(test::None(*device, 0x11, 0), 0);

    device->Unplug();
    EXPECT_FALSE(device->Present());
    EXPECT_EQ(TheFarm().FindPresent(device->InterfacePath()), nullptr);
    platform::devices::ScsiRequest request;
    const std::uint8_t cdb[10] = {0xC2, 0x07};
    request.cdb = cdb;
    request.cdbLength = 10;
    EXPECT_EQ(device->Execute(before, request), platform::devices::kErrorNotConnected);

    device->Replug();
    EXPECT_EQ(device->Execute(before, request), platform::devices::kErrorNotConnected);
    EXPECT_EQ(device->Execute(device->Generation(), request), 0);
    EXPECT_EQ(device->MemoryWord(0x80000000), 0u);
    EXPECT_EQ(device->MemoryWord(kParameterMarkWord), 0u);
    EXPECT_EQ(device->MemoryWord(kLoaderSignatureAddress) & 0xFF, 0xA5u);
    EXPECT_EQ(device->BlockStatsOf(0).erases, 1u); // the NAND keeps its history

    const auto events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].first, platform::devices::kDeviceRemoveComplete);
    EXPECT_EQ(events[2].first, platform::devices::kDeviceArrival);
    EXPECT_EQ(events[2].second, device->InterfacePath());
}

TEST_F(Plug, RestartComesBackUnderTheSameIdentityKeepingTheAdjustmentMark) {
    auto device = TheFarm().Add(DeviceConfig::ForClass(9));
    const std::string path = device->InterfacePath();
    device->SetMemoryWord(kParameterMarkWord, 0xAA55AA55);
    device->SetMemoryWord(0x80000000, 7);
    const std::uint64_t before = device->Generation();
    device->Restart(500);
    device->WaitForRestart();
    EXPECT_TRUE(device->Present());
    EXPECT_EQ(device->InterfacePath(), path);
    EXPECT_NE(device->Generation(), before);
    EXPECT_EQ(device->MemoryWord(kParameterMarkWord), 0xAA55AA55u);
    EXPECT_EQ(device->MemoryWord(0x80000000), 0u);
    const auto events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], std::make_pair(platform::devices::kDeviceRemoveComplete, path));
    EXPECT_EQ(events[2], std::make_pair(platform::devices::kDeviceArrival, path));
}

struct PullCase {
    std::optional<std::uint32_t> replugMs;
    bool back; // present again once the replug delay passed
};

class PulledCable : public Plug, public ::testing::WithParamInterface<PullCase> {};

TEST_P(PulledCable, FailsTheCommandItArrivesWithAndComesBackOnlyIfConfigured) {
    DeviceConfig config;
    config.latency = LatencyModel::Zero();
    config.unplugAfterCommands = 3;
    config.replugAfterMs = GetParam().replugMs;
    auto device = TheFarm().Add(config);
    const std::uint64_t first = device->Generation();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(test::None(*device, 0x11, 0), 0) << "command " << i + 1 << " still arrives";
    }
    device->SetMemoryWord(0x80000000, 7);
    EXPECT_EQ(test::None(*device, 0x11, 0), platform::devices::kErrorNotConnected);
    EXPECT_NE(device->Generation(), first);
    device->WaitForRestart();
    EXPECT_EQ(device->Present(), GetParam().back);
    const auto events = Events();
    ASSERT_EQ(events.size(), GetParam().back ? 3u : 2u);
    EXPECT_EQ(events[1].first, platform::devices::kDeviceRemoveComplete);
    if (GetParam().back) {
        EXPECT_EQ(events[2].first, platform::devices::kDeviceArrival);
        EXPECT_EQ(device->MemoryWord(0x80000000), 0u) << "a pulled cable is a power cycle";
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(test::None(*device, 0x11, 0), 0) << "the cable comes out once";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PulledCable,
                         ::testing::Values(PullCase{std::nullopt, false}, PullCase{0, true},
                                           PullCase{250, true}));

TEST_F(Plug, RemoveAnnouncesTheRemovalAndForgetsTheDevice) {
    auto device = TheFarm().Add(DeviceConfig{});
    TheFarm().Remove(device);
    EXPECT_EQ(TheFarm().Size(), 0u);
    EXPECT_EQ(Events().back().first, platform::devices::kDeviceRemoveComplete);
}

// The device layer starts the simulated backend's monitor when the station subscribes, while a
// device's replug announces itself through that backend into the device layer: both at once
// must neither deadlock nor lose the subscriber's events.
TEST_F(Plug, SubscribingWhileADeviceReplugsNeitherDeadlocksNorLosesEvents) {
    namespace devices = platform::devices;
    devices::UseBackend(backends::MakeDevicesBackend());
    auto device = TheFarm().Add(DeviceConfig{});
    std::atomic<bool> done{false};
    std::thread replugger([&] {
        while (!done) {
            device->Unplug();
            device->Replug();
        }
    });
    std::atomic<int> heard{0};
    for (int i = 0; i < 200; ++i) {
        devices::Subscription subscription =
            devices::Subscribe([&](std::uint32_t, const void*) { ++heard; });
        EXPECT_TRUE(subscription.Active());
        std::this_thread::yield();
    }
    devices::Subscription last = devices::Subscribe([&](std::uint32_t, const void*) { ++heard; });
    const int before = heard;
    while (heard == before) {
        std::this_thread::yield();
    }
    done = true;
    replugger.join();
    last.Reset();
    devices::UseBackend(nullptr);
}

} // namespace
} // namespace kestrel::sim
