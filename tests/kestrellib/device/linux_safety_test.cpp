// The station never opens or sends a command to a disk that is not of the production model:
// the whole device set and transport run over the Linux backend on a crafted sysfs tree with a
// system disk, a USB stick of another model, a SATA disk claiming the model's strings and two
// devices of the model, and every open and command is recorded.
#include "kestrellib/device/device_exports.h"
#include "kestrellib/device/device_set.h"
#include "kestrellib/device/vendor_transport.h"
#include "platform/devices/usbstor_path.h"
#include "sim_fixture.h"
#include "support/crafted_sysfs.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrel::device {
namespace {

namespace devices = platform::devices;

using StationSafety = test::SimDevicesTest;

TEST_F(StationSafety, TouchesOnlyDisksOfTheModel) {
    test::CraftedSysfs tree;
    test::CraftedSysfs::Recorder recorder;
    devices::UseBackend(devices::MakeLinuxBackend(tree.Options(recorder)));

    Device_handle_set_init();
    ASSERT_EQ(EnumUsbStorDevice(), 1);
    ASSERT_EQ(DeviceCount(), 2);
    EXPECT_EQ(DeviceDevIdAt(0), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00");
    EXPECT_EQ(DeviceDevIdAt(1), "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.01");

    // Notifications naming the other disks, in every form, change nothing.
    const std::string foreign[] = {
        devices::UsbStorInterfacePath("SanDisk", "Cruzer Blade", "1.00", "4C530001&0"),
        devices::UsbStorInterfacePath("USB DISK", "MASS STORAGE", "1.02", "kestrel&ata2&0"),
        devices::UsbStorInterfacePath("ATA", "Samsung SSD 860", "1B6Q", "0&0"),
    };
    for (const std::string& path : foreign) {
        const auto record = devices::MakeInterfaceBroadcast(devices::ToUpperAscii(path));
        ParseDeviceChange(devices::kDeviceArrival, record.data());
        ParseDeviceChange(devices::kDeviceRemoveComplete, record.data());
        EXPECT_FALSE(OpenAndRegisterDevice(path)); // lower-case enumerator: refused outright
        OpenAndRegisterDevice(devices::ToUpperAscii(path));
    }
    EXPECT_EQ(DeviceCount(), 2);

    std::uint8_t page[2048] = {};
    for (int i = 0; i < DeviceCount(); ++i) {
        EXPECT_EQ(ReadVendorSector(page, DeviceHandleAt(i), kReadNandPage, 0, sizeof page), 1);
        EXPECT_EQ(VendorCommand(DeviceHandleAt(i), kDramInit, 0), 1);
    }
    CloseAllDevice(nullptr);

    std::set<std::string> opened;
    for (const std::string& node : recorder.opened) {
        opened.insert(node);
    }
    EXPECT_EQ(opened, std::set<std::string>({tree.DevRoot() + "/sg2", tree.DevRoot() + "/sg3"}));
    EXPECT_EQ(recorder.commandedNodes.size(), 4u);
    for (const std::string& node : recorder.commandedNodes) {
        EXPECT_TRUE(node == "sg2" || node == "sg3") << node;
    }
    EXPECT_TRUE(recorder.fdToNode.empty());
}

} // namespace
} // namespace kestrel::device
