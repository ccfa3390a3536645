// The device set: identities, registration, replacement, dense removal and closing, against
// simulated devices behind the devices layer.
#include "kestrel/isp_job.h"
#include "kestrellib/device/device_discovery.h"
#include "kestrellib/device/device_exports.h"
#include "kestrellib/device/device_set.h"
#include "platform/devices/usbstor_path.h"
#include "platform/messages/message_sink.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrel::device {
namespace {

namespace devices = platform::devices;
using test::SimDevicesTest;

struct DevIdCase {
    const char* path;
    const char* devId;
};

class DevIdReduction : public ::testing::TestWithParam<DevIdCase> {};

TEST_P(DevIdReduction, KeepsModelAndRevisionOnly) {
    EXPECT_EQ(DevIdFromPath(GetParam().path), GetParam().devId);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DevIdReduction,
    ::testing::Values(
        DevIdCase{"\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#7&1a2b&0&123&0#"
                  "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                  "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00"},
        DevIdCase{"\\\\?\\USBSTOR#DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_2.10#ABC&0#{X}",
                  "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_2.10"},
        DevIdCase{"a#b#c#d", "A\\B"},            // only the last two parts go
        DevIdCase{"\\\\?\\x\\\\?\\y#i#c", "XY"}, // every prefix is removed
        DevIdCase{"no-hash", "NO-HASH"}, DevIdCase{"", ""}));

TEST_F(SimDevicesTest, EnumerationRegistersEachDeviceOfTheModelInOrder) {
    AddDevice();
    sim::DeviceConfig newer;
    newer.revision = "1.01";
    AddDevice(newer);
    sim::DeviceConfig other;
    other.vendor = "SANDISK";
    other.product = "CRUZER";
    AddDevice(other);
    AddDevice();
    ASSERT_EQ(EnumUsbStorDevice(), 1);
    ASSERT_EQ(DeviceCount(), 3);
    EXPECT_EQ(DeviceDevIdAt(0), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00");
    EXPECT_EQ(DeviceDevIdAt(1), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.01");
    EXPECT_EQ(DeviceDevIdAt(2), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00");
    EXPECT_EQ(DevicePathAt(0), devices::ToUpperAscii(sim::TheFarm().At(0)->InterfacePath()));
    EXPECT_NE(DeviceHandleAt(0), nullptr);
    EXPECT_EQ(DeviceIndexOf(DeviceHandleAt(2)), 2);
    EXPECT_EQ(devices::OpenHandleCount(), 3u);
}

TEST_F(SimDevicesTest, EightUnitsOfOneRevisionAreEightEntriesWithOneDevId) {
    for (int i = 0; i < 8; ++i) {
        AddDevice();
    }
    ASSERT_EQ(EnumUsbStorDevice(), 1);
    ASSERT_EQ(DeviceCount(), 8);
    EXPECT_EQ(devices::OpenHandleCount(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(DeviceSetDevId(i), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00");
        EXPECT_EQ(InstanceFromPath(DevicePathAt(i)), "KESTREL&1-1." + std::to_string(i + 1) + "&0");
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(DeviceHandleAt(i), DeviceHandleAt(j));
        }
    }
    // Enumerating again (or an arrival of a registered unit) replaces each entry on its port.
    ASSERT_EQ(EnumUsbStorDevice(), 1);
    EXPECT_EQ(DeviceCount(), 8);
    EXPECT_EQ(devices::OpenHandleCount(), 8u);
}

TEST_F(SimDevicesTest, UnitsSharingAUsbSerialAreToldApartByTheirPort) {
    sim::DeviceConfig config;
    config.usbSerial = "0123456789ABCDEF"; // one serial for the whole batch
    AddDevice(config);
    AddDevice(config);
    ASSERT_EQ(EnumUsbStorDevice(), 1);
    ASSERT_EQ(DeviceCount(), 2);
    EXPECT_EQ(InstanceFromPath(DevicePathAt(0)), "0123456789ABCDEF&1-1.1&0");
    EXPECT_EQ(InstanceFromPath(DevicePathAt(1)), "0123456789ABCDEF&1-1.2&0");
}

struct InstanceCase {
    const char* path;
    const char* instance;
};

class InstancePart : public ::testing::TestWithParam<InstanceCase> {};

TEST_P(InstancePart, IsWhatLiesBetweenTheLastTwoHashes) {
    EXPECT_EQ(InstanceFromPath(GetParam().path), GetParam().instance);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InstancePart,
    ::testing::Values(
        InstanceCase{"\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#kestrel&1-1.2&0#"
                     "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                     "KESTREL&1-1.2&0"},
        InstanceCase{"\\\\?\\USBSTOR#DISK&VEN_X#7&1a2b3c&0#{X}", "7&1A2B3C&0"},
        InstanceCase{"a#b", ""}, InstanceCase{"#", ""}, InstanceCase{"##", ""},
        InstanceCase{"no-hash", ""}));

// The resource procedure's search for a unit that restarted: by the port its old handle had.
class RestartedDeviceSearch : public SimDevicesTest {
protected:
    void SetUp() override {
        SimDevicesTest::SetUp();
        subscription = devices::Subscribe(
            [](std::uint32_t event, const void* record) { HandleDeviceChange(event, record); });
        first = AddDevice();
        second = AddDevice();
        EnumUsbStorDevice();
        firstHandle = DeviceHandleAt(0);
        secondHandle = DeviceHandleAt(1);
        devId = DeviceDevIdAt(0);
    }
    void TearDown() override {
        subscription.Reset();
        SimDevicesTest::TearDown();
    }

    devices::Subscription subscription;
    std::shared_ptr<sim::Device> first;
    std::shared_ptr<sim::Device> second;
    DeviceHandle firstHandle = nullptr;
    DeviceHandle secondHandle = nullptr;
    std::string devId;
};

TEST_F(RestartedDeviceSearch, PresentUnitIsFoundByItsOwnHandle) {
    EXPECT_EQ(FindRestartedDevice(devId, firstHandle), firstHandle);
    EXPECT_EQ(FindRestartedDevice(devId, secondHandle), secondHandle);
    EXPECT_EQ(FindRestartedDevice("USBSTOR\\OTHER", firstHandle), nullptr);
}

TEST_F(RestartedDeviceSearch, UnitReplugedOnItsPortIsFoundAgainAndNeverTheOther) {
    first->Unplug();
    ASSERT_EQ(DeviceCount(), 1);
    EXPECT_EQ(FindRestartedDevice(devId, firstHandle), nullptr) << "the other unit is not taken";
    first->Replug();
    ASSERT_EQ(DeviceCount(), 2);
    const DeviceHandle again = FindRestartedDevice(devId, firstHandle);
    EXPECT_NE(again, nullptr);
    EXPECT_NE(again, firstHandle);
    EXPECT_NE(again, secondHandle);
    EXPECT_EQ(DevicePathOf(again), DevicePathOf(firstHandle));
}

TEST_F(RestartedDeviceSearch, UnitsSwappedBetweenPortsAreFollowedByPortNeverMerged) {
    first->Unplug();
    second->Unplug();
    first->ReplugOnPort("1-1.2");
    second->ReplugOnPort("1-1.1");
    ASSERT_EQ(DeviceCount(), 2);
    const DeviceHandle onFirstPort = FindRestartedDevice(devId, firstHandle);
    const DeviceHandle onSecondPort = FindRestartedDevice(devId, secondHandle);
    ASSERT_NE(onFirstPort, nullptr);
    ASSERT_NE(onSecondPort, nullptr);
    EXPECT_NE(onFirstPort, onSecondPort);
    EXPECT_EQ(DevicePathOf(onFirstPort), devices::ToUpperAscii(second->InterfacePath()));
    EXPECT_EQ(DevicePathOf(onSecondPort), devices::ToUpperAscii(first->InterfacePath()));
}

TEST_F(RestartedDeviceSearch, WithoutAKnownPortOnlyAUniqueIdentityIsTaken) {
    EXPECT_EQ(FindRestartedDevice(devId, nullptr), nullptr) << "two units share the identity";
    second->Unplug();
    EXPECT_EQ(FindRestartedDevice(devId, nullptr), firstHandle);
}

TEST_F(SimDevicesTest, TwoDevicesOnOneInstanceShareAnEntryAndTheFirstHandleIsClosed) {
    sim::DeviceConfig same;
    same.instance = "7&1a2b3c&0";
    AddDevice(same);
    auto second = AddDevice(same);
    ASSERT_EQ(EnumUsbStorDevice(), 1);
    EXPECT_EQ(DeviceCount(), 1);
    EXPECT_EQ(DevicePathAt(0), devices::ToUpperAscii(second->InterfacePath()));
    EXPECT_EQ(devices::OpenHandleCount(), 1u);
}

TEST_F(SimDevicesTest, ForeignPathsAreRefusedAndFailedOpensRegisterNothing) {
    EXPECT_FALSE(OpenAndRegisterDevice("\\\\?\\ide#disk&ven_usb_disk#1#{x}"));
    EXPECT_TRUE(OpenAndRegisterDevice(
        "\\\\?\\USBSTOR#DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_9.99#NONE&0#{X}"));
    EXPECT_EQ(DeviceCount(), 0);
    EXPECT_EQ(devices::OpenHandleCount(), 0u);
}

TEST_F(SimDevicesTest, SixtyFifthRegistrationIsRefusedAndItsHandleClosed) {
    for (int i = 0; i < 65; ++i) {
        AddDevice();
    }
    EnumUsbStorDevice();
    EXPECT_EQ(DeviceCount(), 64);
    EXPECT_EQ(devices::OpenHandleCount(), 64u);
    EXPECT_EQ(InstanceFromPath(DevicePathAt(63)), "KESTREL&1-1.64&0");
    int dummy = 0;
    EXPECT_EQ(RegisterDevice(&dummy, "P", "NEW"), &dummy);
    EXPECT_EQ(DeviceCount(), 64);
}

TEST_F(SimDevicesTest, CloseDeviceKeepsTheTableDense) {
    AddDevice();
    AddDevice();
    AddDevice();
    EnumUsbStorDevice();
    DeviceHandle h0 = DeviceHandleAt(0);
    DeviceHandle h1 = DeviceHandleAt(1);
    DeviceHandle h2 = DeviceHandleAt(2);
    ASSERT_TRUE(CloseDevice(h0));
    EXPECT_EQ(DeviceCount(), 2);
    EXPECT_EQ(DeviceHandleAt(0), h1);
    EXPECT_EQ(DeviceHandleAt(1), h2);
    EXPECT_EQ(DeviceHandleAt(2), nullptr);
    EXPECT_EQ(DeviceIndexOf(h0), kUnknownDeviceIndex);
    EXPECT_EQ(DeviceIndexOf(h2), 1);
    EXPECT_FALSE(CloseDevice(h0)); // closing fails: already closed
    EXPECT_FALSE(CloseDevice(nullptr));
    EXPECT_EQ(DeviceCount(), 2);
}

TEST_F(SimDevicesTest, GettersOutOfRangeGiveNullAndEmpty) {
    AddDevice();
    EnumUsbStorDevice();
    EXPECT_EQ(Device_handle_set_get_count(), 1);
    EXPECT_NE(Device_handle_set_get_heald(0), nullptr);
    EXPECT_EQ(Device_handle_set_get_heald(1), nullptr);
    EXPECT_EQ(Device_handle_set_get_heald(-1), nullptr);
    EXPECT_EQ(DeviceSetDevId(0), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00");
    EXPECT_EQ(DeviceSetDevId(64), "");
    EXPECT_EQ(DeviceSetDevId(-5), "");
}

TEST_F(SimDevicesTest, CloseAllDevicePostsOneStatusPerDeviceAndEmptiesTheSet) {
    AddDevice();
    AddDevice();
    AddDevice();
    EnumUsbStorDevice();
    platform::QueueSink sink;
    CloseAllDevice(platform::ToWindowHandle(&sink));
    EXPECT_EQ(DeviceCount(), 0);
    EXPECT_EQ(devices::OpenHandleCount(), 0u);
    ASSERT_EQ(sink.Size(), 3u);
    for (int i = 0; i < 3; ++i) {
        auto message = sink.TryTake();
        EXPECT_EQ(message->message, WM_ISP_STATUS);
        EXPECT_EQ(message->wParam, kStatusDevicesChanged);
        EXPECT_EQ(message->lParam, 0);
    }
}

TEST_F(SimDevicesTest, ChangesFromTwoThreadsNeverCorruptTheTable) {
    for (int i = 0; i < 8; ++i) {
        AddDevice();
    }
    std::thread closer([] {
        for (int round = 0; round < 50; ++round) {
            CloseAllDevices(nullptr);
        }
    });
    for (int round = 0; round < 50; ++round) {
        EnumUsbStorDevice();
        const int count = DeviceCount();
        EXPECT_GE(count, 0);
        EXPECT_LE(count, 8);
    }
    closer.join();
    CloseAllDevices(nullptr);
    EXPECT_EQ(DeviceCount(), 0);
    EXPECT_EQ(devices::OpenHandleCount(), 0u);
}

} // namespace
} // namespace kestrel::device
