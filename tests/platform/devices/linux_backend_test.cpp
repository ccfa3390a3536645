// The Linux backend on a crafted sysfs tree with recorded system calls.
#include "platform/devices/linux_backend.h"
#include "platform/devices/usbstor_path.h"
#include "support/crafted_sysfs.h"

#include <gtest/gtest.h>

namespace kestrel::platform::devices {
namespace {

using test::CraftedSysfs;

const char* kSerialPath = "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#a1b2&1-2&0#"
                          "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const char* kPortPath = "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.01#kestrel&1-3&"
                        "0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

int SendRead(Connection& connection, std::uint8_t* buffer, std::uint32_t length) {
    const std::uint8_t cdb[10] = {0xC2, 0x13, 0, 0, 0, 0, 0, 5, 0, 0};
    ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = 10;
    request.direction = Direction::kIn;
    request.buffer = buffer;
    request.length = length;
    return connection.Send(request);
}

TEST(LinuxBackend, ScanFindsOnlyUsbDisksOfTheModel) {
    CraftedSysfs tree;
    const auto disks = ScanModelDisks(tree.SysRoot());
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].scsiAddress, "7:0:0:0");
    EXPECT_EQ(disks[0].sgNode, "sg2");
    EXPECT_EQ(disks[0].usbSerial, "A1B2");
    EXPECT_EQ(disks[0].interfacePath, kSerialPath);
    EXPECT_EQ(disks[0].friendlyName, "USB DISK MASS STORAGE USB Device");
    EXPECT_EQ(disks[1].sgNode, "sg3");
    EXPECT_EQ(disks[1].interfacePath, kPortPath);
    EXPECT_TRUE(ScanModelDisks(tree.SysRoot() + "/missing").empty());
}

TEST(LinuxBackend, OpensTheSgNodeAndSendsSgIoWithTheRequest) {
    CraftedSysfs tree;
    CraftedSysfs::Recorder recorder;
    auto backend = MakeLinuxBackend(tree.Options(recorder));
    int error = 0;
    auto connection = backend->Open(platform::devices::ToUpperAscii(kPortPath), error);
    ASSERT_NE(connection, nullptr) << error;
    ASSERT_EQ(recorder.opened, std::vector<std::string>({tree.DevRoot() + "/sg3"}));
    std::uint8_t buffer[2048];
    EXPECT_EQ(SendRead(*connection, buffer, sizeof buffer), 0);
    ASSERT_EQ(recorder.headers.size(), 1u);
    const sg_io_hdr_t& h = recorder.headers[0];
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.cmd_len, 10);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(h.dxfer_len, 2048u);
    EXPECT_EQ(h.timeout, 60000u);
    // The command block lived in the sender's frame; the recorder kept a copy.
    ASSERT_EQ(recorder.commandBlocks.size(), 1u);
    EXPECT_EQ(recorder.commandBlocks[0],
              std::vector<std::uint8_t>({0xC2, 0x13, 0, 0, 0, 0, 0, 5, 0, 0}));

    // A command the device rejects never passes as a success.
    recorder.info = SG_INFO_CHECK;
    EXPECT_EQ(SendRead(*connection, buffer, sizeof buffer), EIO);
    recorder.hostStatus = 0x01;
    EXPECT_EQ(SendRead(*connection, buffer, sizeof buffer), ENODEV);
    recorder.hostStatus = 0x03;
    EXPECT_EQ(SendRead(*connection, buffer, sizeof buffer), ETIMEDOUT);
    connection.reset();
    EXPECT_TRUE(recorder.fdToNode.empty()); // closed
}

TEST(LinuxBackend, RefusesPathsItDoesNotListWithoutOpeningAnything) {
    CraftedSysfs tree;
    CraftedSysfs::Recorder recorder;
    auto backend = MakeLinuxBackend(tree.Options(recorder));
    int error = 0;
    const std::string foreign[] = {
        UsbStorInterfacePath("SanDisk", "Cruzer Blade", "1.00", "4C530001&0"),
        UsbStorInterfacePath("USB DISK", "MASS STORAGE", "1.02", "kestrel&ata2&0"),
        "/dev/sda",
        "\\\\?\\usbstor#disk&ven_usb_disk&prod_mass_storage&rev_1.00#zzz&0#{x}",
    };
    for (const std::string& path : foreign) {
        EXPECT_EQ(backend->Open(path, error), nullptr) << path;
        EXPECT_EQ(error, ENOENT);
    }
    EXPECT_TRUE(recorder.opened.empty());
}

TEST(LinuxBackend, NodeWithAnotherDeviceNumberIsClosedAndRefused) {
    CraftedSysfs tree;
    CraftedSysfs::Recorder recorder;
    recorder.minorOverride["sg2"] = 0; // /dev/sg2 is now the system disk's node
    auto backend = MakeLinuxBackend(tree.Options(recorder));
    int error = 0;
    EXPECT_EQ(backend->Open(kSerialPath, error), nullptr);
    EXPECT_EQ(error, ENODEV);
    EXPECT_TRUE(recorder.fdToNode.empty());
    EXPECT_TRUE(recorder.commandedNodes.empty());
}

TEST(LinuxBackend, DevicesItCannotUseAreNamedWithTheNodeAndTheRuleWithoutOpeningThem) {
    CraftedSysfs tree;
    CraftedSysfs::Recorder recorder;
    auto backend = MakeLinuxBackend(tree.Options(recorder));
    EXPECT_TRUE(backend->AccessProblems().empty());

    recorder.deniedNodes = {"sg3"};
    auto problems = backend->AccessProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].path, kPortPath);
    EXPECT_EQ(problems[0].node, tree.DevRoot() + "/sg3");
    EXPECT_EQ(problems[0].reason, "no read-write access to " + tree.DevRoot() +
                                      "/sg3 (Permission denied): install the udev rule "
                                      "70-kestrel-station.rules (docs/devices.md), then unplug "
                                      "and replug the device");

    // Without the sg driver the disk has no node at all: it is named, not listed.
    tree.RemoveGenericNode("7:0:0:0");
    problems = backend->AccessProblems();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].path, kSerialPath);
    EXPECT_EQ(problems[0].node, "");
    EXPECT_NE(problems[0].reason.find("the sg driver is not loaded"), std::string::npos);
    std::vector<InterfaceInfo> listed;
    ASSERT_TRUE(backend->Enumerate(listed));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, kPortPath);
    EXPECT_TRUE(recorder.opened.empty());
}

TEST(LinuxBackend, ScansDifferAsRemovalsThenArrivals) {
    CraftedSysfs tree;
    const auto before = ScanModelDisks(tree.SysRoot());
    tree.Unplug("7:0:0:0");
    const auto after = ScanModelDisks(tree.SysRoot());
    auto events = DiffScans(before, after);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::make_pair(kDeviceRemoveComplete, std::string(kSerialPath)));
    events = DiffScans(after, before);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, kDeviceArrival);
}

} // namespace
} // namespace kestrel::platform::devices
