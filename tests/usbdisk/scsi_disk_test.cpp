// The SCSI disk over a simulated device: what the kernel's probe reads (inquiry, capacity, mode
// header), the disk window through READ/WRITE (10), the vendor command reaching the simulated
// device, and the sense a refused command leaves for REQUEST SENSE.

#include "sim/device.h"
#include "usbdisk/scsi_disk.h"
#include "usbdisk/usb_descriptors.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel::usbdisk {
namespace {

sim::DeviceConfig Config() {
    sim::DeviceConfig config;
    config.revision = "1.07";
    config.instance = "SERIAL7";
    config.latency = sim::LatencyModel::Zero();
    return config;
}

class ScsiDiskTest : public ::testing::Test {
protected:
    sim::Device device{Config()};
    ScsiDisk disk{device, 2048};

    // Runs a command as the transport does; returns whether it passed.
    bool Run(std::vector<std::uint8_t> cdb, std::vector<std::uint8_t>& data, bool hostIn = true,
             std::uint32_t hostLength = 0) {
        const DataPhase phase = disk.Expect(cdb, hostLength, hostIn);
        return disk.Execute(cdb, phase, data);
    }
    Sense SenseAfter() {
        std::vector<std::uint8_t> data;
        EXPECT_TRUE(Run({0x03, 0, 0, 0, 18, 0}, data));
        EXPECT_EQ(data.size(), 18u);
        Sense sense;
        sense.key = data[2] & 0x0F;
        sense.information =
            static_cast<std::uint32_t>(data[3]) << 24 | data[4] << 16 | data[5] << 8 | data[6];
        sense.asc = data[12];
        sense.ascq = data[13];
        return sense;
    }
};

TEST_F(ScsiDiskTest, InquiryNamesTheProductionModelWithItsRevision) {
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(Run({0x12, 0, 0, 0, 36, 0}, data));
    ASSERT_EQ(data.size(), 36u);
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "USB DISK");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "MASS STORAGE    ");
    EXPECT_EQ(std::string(data.begin() + 32, data.begin() + 36), "1.07");
    // A shorter allocation length is honoured; vital product data pages are refused.
    ASSERT_TRUE(Run({0x12, 0, 0, 0, 5, 0}, data));
    EXPECT_EQ(data.size(), 5u);
    EXPECT_FALSE(Run({0x12, 1, 0x80, 0, 36, 0}, data));
    EXPECT_EQ(SenseAfter().key, 0x05);
}

TEST_F(ScsiDiskTest, CapacityAndModeHeader) {
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(Run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data));
    ASSERT_EQ(data.size(), 8u);
    EXPECT_EQ(data[2] << 8 | data[3], 2047);
    EXPECT_EQ(data[6] << 8 | data[7], 512);
    ASSERT_TRUE(Run({0x1A, 0, 0x3F, 0, 192, 0}, data));
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(data[2] & 0x80, 0) << "not write-protected";
}

TEST_F(ScsiDiskTest, WrittenBlocksReadBackAndReachTheDiskWindow) {
    std::vector<std::uint8_t> data(1024);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::vector<std::uint8_t> written = data;
    ASSERT_TRUE(Run({0x2A, 0, 0, 0, 0, 10, 0, 0, 2, 0}, data, false, 1024));
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(Run({0x28, 0, 0, 0, 0, 10, 0, 0, 2, 0}, back));
    EXPECT_EQ(back, written);
    EXPECT_EQ(device.DiskBytes(10 * 512, 1024), written);
}

TEST_F(ScsiDiskTest, ReadBeyondTheCapacityIsRefusedWithLbaOutOfRange) {
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(Run({0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}, data));
    const Sense sense = SenseAfter();
    EXPECT_EQ(sense.key, 0x05);
    EXPECT_EQ(sense.asc, 0x21);
    EXPECT_EQ(SenseAfter().key, 0) << "REQUEST SENSE clears the sense";
}

TEST_F(ScsiDiskTest, VendorCommandReachesTheSimulatedDevice) {
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(Run({0xC2, 0x10, 0, 0, 0, 0, 0, 0, 0, 0}, data, true, 64));
    EXPECT_EQ(data, device.IdRecord());
    EXPECT_EQ(disk.VendorCommands(), 1u);
}

TEST_F(ScsiDiskTest, RefusedVendorCommandLeavesHardwareErrorWithTheDevicesCode) {
    device.AddFailure({.subCommand = 0x10, .count = 1, .errorCode = 31});
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(Run({0xC2, 0x10, 0, 0, 0, 0, 0, 0, 0, 0}, data, true, 64));
    EXPECT_TRUE(data.empty());
    const Sense sense = SenseAfter();
    EXPECT_EQ(sense.key, 0x04);
    EXPECT_EQ(sense.asc, 0x44);
    EXPECT_EQ(sense.information, 31u);
    EXPECT_TRUE(Run({0xC2, 0x10, 0, 0, 0, 0, 0, 0, 0, 0}, data, true, 64)) << "one failure only";
}

TEST_F(ScsiDiskTest, UnknownOperationIsRefusedWithoutData) {
    std::vector<std::uint8_t> data;
    const std::vector<std::uint8_t> cdb = {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(disk.Expect(cdb, 16, true).length, 0u);
    EXPECT_FALSE(disk.Execute(cdb, {}, data));
    EXPECT_EQ(SenseAfter().asc, 0x20);
}

struct RevisionCase {
    const char* revision;
    std::uint16_t bcd;
};
class RevisionBcd : public ::testing::TestWithParam<RevisionCase> {};
TEST_P(RevisionBcd, DigitsBecomeBinaryCodedDecimal) {
    EXPECT_EQ(BcdFromRevision(GetParam().revision), GetParam().bcd);
}
INSTANTIATE_TEST_SUITE_P(UsbDescriptors, RevisionBcd,
                         ::testing::Values(RevisionCase{"1.00", 0x0100},
                                           RevisionCase{"1.07", 0x0107},
                                           RevisionCase{"2.5", 0x0025}, RevisionCase{"", 0x0100},
                                           RevisionCase{"12345", 0x1234}));

TEST(UsbDescriptors, ConfigurationTotalLengthAndSerialString) {
    const auto config = ConfigurationDescriptor();
    EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
    const UsbIdentity identity{"USB DISK", "MASS STORAGE", "AB1", 0x0100};
    const auto serial = StringDescriptor(identity, 3);
    ASSERT_TRUE(serial.has_value());
    EXPECT_EQ(*serial, (std::vector<std::uint8_t>{8, 3, 'A', 0, 'B', 0, '1', 0}));
    EXPECT_FALSE(StringDescriptor(identity, 4).has_value());
    EXPECT_EQ(DeviceDescriptor(identity)[16], 3) << "the serial string is announced";
}

} // namespace
} // namespace kestrel::usbdisk
