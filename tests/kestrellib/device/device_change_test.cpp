// Device-change notifications: the broadcast records ParseDeviceChange reads, and arrivals and
// removals of simulated devices delivered through the devices layer's hot-plug subscription.
#include "kestrellib/device/device_exports.h"
#include "kestrellib/device/device_set.h"
#include "platform/devices/usbstor_path.h"
#include "platform/messages/message_sink.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kestrel::device {
namespace {

namespace devices = platform::devices;
using test::SimDevicesTest;

int Notify(std::uint32_t event, const std::string& name) {
    const auto record = devices::MakeInterfaceBroadcast(name);
    return ParseDeviceChange(event, record.data());
}

// The first simulated device's interface as a notification names it.
const char* kModelPath =
    "\\\\?\\USBSTOR#DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00#KESTREL&1-1.1&"
    "0#{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";

TEST_F(SimDevicesTest, ArrivalRegistersAndAnEqualIdentityReplacesTheEntry) {
    auto device = AddDevice();
    ASSERT_EQ(devices::ToUpperAscii(device->InterfacePath()), kModelPath);
    EnumUsbStorDevice();
    DeviceHandle old = DeviceHandleAt(0);
    EXPECT_EQ(Notify(devices::kDeviceArrival, kModelPath), 1);
    EXPECT_EQ(DeviceCount(), 1);
    EXPECT_NE(DeviceHandleAt(0), old);
    EXPECT_EQ(devices::OpenHandleCount(), 1u); // the older handle was closed
    EXPECT_EQ(DeviceIndexOf(old), kUnknownDeviceIndex);
}

struct RefusedCase {
    std::uint32_t event;
    const char* name;
    int result;
};

class RefusedNotifications : public SimDevicesTest,
                             public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedNotifications, RegisterNothing) {
    AddDevice();
    EXPECT_EQ(Notify(GetParam().event, GetParam().name), GetParam().result);
    EXPECT_EQ(DeviceCount(), 0);
    EXPECT_EQ(devices::OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedNotifications,
    ::testing::Values(
        // The ROOT enumerator is never a device of ours.
        RefusedCase{devices::kDeviceArrival,
                    "\\\\?\\root#usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#0000#{x}", 0},
        // A USB disk of another model.
        RefusedCase{devices::kDeviceArrival,
                    "\\\\?\\usbstor#disk&ven_sandisk&prod_cruzer&rev_1.00#4C53&0#{x}", 0},
        // A removal of a path the set does not hold.
        RefusedCase{devices::kDeviceRemoveComplete, kModelPath, 0},
        RefusedCase{devices::kDeviceQueryRemove, kModelPath, 0},
        // Events that are acknowledged without looking at the record.
        RefusedCase{devices::kDeviceQueryRemoveFailed, kModelPath, 1},
        RefusedCase{devices::kDeviceRemovePending, kModelPath, 1},
        RefusedCase{0x0007, kModelPath, 1},
        // The enumerator must read "USBSTOR" as notifications spell it: nothing is opened.
        RefusedCase{devices::kDeviceArrival,
                    "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#kestrel&1-1.1&"
                    "0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                    1},
        // Records too short to hold a name.
        RefusedCase{devices::kDeviceArrival, "", 0},
        RefusedCase{devices::kDeviceArrival, "\\\\?", 0}));

TEST_F(SimDevicesTest, RecordsOfOtherDeviceTypesAndNullHeadersAreAcknowledged) {
    AddDevice();
    auto record = devices::MakeInterfaceBroadcast(kModelPath);
    record[4] = 2; // a volume, not a device interface
    EXPECT_EQ(ParseDeviceChange(devices::kDeviceArrival, record.data()), 1);
    EXPECT_EQ(ParseDeviceChange(devices::kDeviceArrival, nullptr), 1);
    EXPECT_EQ(DeviceCount(), 0);
}

TEST_F(SimDevicesTest, NameIsReadOnlyWithinTheRecordSize) {
    AddDevice();
    auto record = devices::MakeInterfaceBroadcast(kModelPath);
    // The size field ends the record right after the name: no NUL inside, and what follows in
    // memory must not count as part of the name.
    const auto size = static_cast<std::uint32_t>(record.size() - 1);
    std::memcpy(record.data(), &size, 4);
    record.back() = 'Y';
    record.resize(record.size() + 16, 'Y');
    EXPECT_EQ(ParseDeviceChange(devices::kDeviceArrival, record.data()), 1);
    ASSERT_EQ(DeviceCount(), 1);
    EXPECT_EQ(DevicePathAt(0), devices::ToUpperAscii(kModelPath));
}

TEST_F(SimDevicesTest, RecordsShorterThanTheirHeaderAreAcknowledgedUnread) {
    AddDevice();
    for (std::uint32_t size : {4u, 8u, 11u}) {
        // Only `size` bytes are there; a type word past them must not be read.
        std::vector<unsigned char> record(size, 0);
        std::memcpy(record.data(), &size, 4);
        EXPECT_EQ(ParseDeviceChange(devices::kDeviceArrival, record.data()), 1) << size;
    }
    EXPECT_EQ(DeviceCount(), 0);
}

TEST_F(SimDevicesTest, RemovalOfTheFirstOfThreeMovesTheOthersDown) {
    auto a = AddDevice();
    auto b = AddDevice();
    auto c = AddDevice();
    EnumUsbStorDevice();
    EXPECT_EQ(Notify(devices::kDeviceRemoveComplete, a->InterfacePath()), 1);
    ASSERT_EQ(DeviceCount(), 2);
    EXPECT_EQ(DevicePathAt(0), devices::ToUpperAscii(b->InterfacePath()));
    EXPECT_EQ(DevicePathAt(1), devices::ToUpperAscii(c->InterfacePath()));
}

TEST_F(SimDevicesTest, HotPlugReachesTheWindowAsDeviceChangeMessages) {
    platform::QueueSink window;
    auto subscription = devices::SubscribeWindow(platform::ToWindowHandle(&window));
    ASSERT_TRUE(subscription.Active());
    auto pump = [&] {
        int handled = 0;
        while (auto message = window.TryTake()) {
            EXPECT_EQ(message->message, devices::kDeviceChangeMessage);
            ParseDeviceChange(static_cast<unsigned>(message->wParam),
                              reinterpret_cast<const void*>(message->lParam));
            ++handled;
        }
        return handled;
    };

    auto device = AddDevice();
    EXPECT_EQ(pump(), 1);
    ASSERT_EQ(DeviceCount(), 1);
    const std::string devId = DeviceDevIdAt(0);

    device->Unplug();
    EXPECT_EQ(pump(), 1);
    EXPECT_EQ(DeviceCount(), 0);

    device->Replug();
    pump();
    ASSERT_EQ(DeviceCount(), 1);

    // A restart leaves and comes back under the same identity, with a working handle.
    device->Restart(1000);
    device->WaitForRestart();
    EXPECT_EQ(pump(), 2);
    ASSERT_EQ(DeviceCount(), 1);
    EXPECT_EQ(DeviceDevIdAt(0), devId);
    EXPECT_EQ(FindDeviceByDevId(devId), DeviceHandleAt(0));
    EXPECT_EQ(devices::OpenHandleCount(), 1u);

    subscription.Reset();
    AddDevice();
    EXPECT_EQ(pump(), 0);
}

} // namespace
} // namespace kestrel::device
