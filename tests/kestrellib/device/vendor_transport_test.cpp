// The vendor transport against simulated devices: command blocks, chunking, forced addresses,
// retries and the error boxes.
#include "kestrellib/device/device_exports.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/stop_request.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>

namespace kestrel::device {
namespace {

namespace devices = platform::devices;

using test::SimDevicesTest;

struct BlockCase {
    std::uint8_t sub;
    std::uint32_t address;
    CommandBlock bytes;
};

class CommandBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(CommandBlocks, CarryTheAddressBigEndianBetweenZeroBytes) {
    EXPECT_EQ(BuildCommandBlock(GetParam().sub, GetParam().address), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandBlocks,
    ::testing::Values(
        BlockCase{kReadNandPage, 0x12345, {0xC2, 0x13, 0, 0, 0x00, 0x01, 0x23, 0x45, 0, 0}},
        BlockCase{kWriteDeviceMemory, 0x9D800010, {0xC2, 0x01, 0, 0, 0x9D, 0x80, 0x00, 0x10, 0, 0}},
        BlockCase{kEraseNandBlock, 0xFFFFFFFF, {0xC2, 0x11, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
        BlockCase{kDramInit, 0, {0xC2, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}}));

class Transport : public SimDevicesTest {
protected:
    void SetUp() override {
        SimDevicesTest::SetUp();
        for (int i = 0; i < 3; ++i) {
            sims_.push_back(AddDevice());
        }
        EnumUsbStorDevice();
        ASSERT_EQ(DeviceCount(), 3);
        for (auto& sim : sims_) {
            sim->ClearCommandLog();
        }
    }
    DeviceHandle Handle(int index) { return DeviceHandleAt(index); }
    std::vector<sim::CommandRecord> Log(int index) { return sims_[index]->CommandLog(); }

    std::vector<std::shared_ptr<sim::Device>> sims_;
};

TEST_F(Transport, MemoryWriteOf5000BytesGoesInThreeChunks) {
    std::vector<std::uint8_t> data(5000);
    std::iota(data.begin(), data.end(), 0);
    ASSERT_EQ(VendorWrite(Handle(0), data.data(), kWriteDeviceMemory, 0x1000, 5000), 1);
    const auto log = Log(0);
    ASSERT_EQ(log.size(), 3u);
    const std::uint32_t addresses[3] = {0x1000, 0x1800, 0x2000};
    const std::uint32_t lengths[3] = {2048, 2048, 904};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log[i].SubCommand(), kWriteDeviceMemory);
        EXPECT_EQ(log[i].Address(), addresses[i]);
        EXPECT_EQ(log[i].length, lengths[i]);
        EXPECT_EQ(log[i].direction, platform::devices::Direction::kOut);
    }
    EXPECT_EQ(sims_[0]->Memory(0x1000, 5000), data);

    std::vector<std::uint8_t> back(5000, 0);
    ASSERT_EQ(VendorRead(Handle(0), back.data(), kReadDeviceMemory, 0x1000, 5000), 1);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(sims_[0]->HostErrors().empty());
}

TEST_F(Transport, MisalignedMemoryAddressFailsWithNothingSent) {
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(VendorRead(Handle(0), buffer, kReadDeviceMemory, 0x1002, 8), 0);
    EXPECT_EQ(VendorWrite(Handle(0), buffer, kWriteDeviceMemory, 0x1001, 8), 0);
    EXPECT_TRUE(Log(0).empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Transport, UnlistedSubCommandsSendNothingAndSucceed) {
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(VendorWrite(Handle(0), buffer, kReadNandPage, 0, 64), 1);
    EXPECT_EQ(VendorWrite(Handle(0), buffer, 0x77, 0, 64), 1);
    EXPECT_EQ(VendorRead(Handle(0), buffer, kWriteNandPage, 0, 64), 1);
    EXPECT_EQ(VendorRead(Handle(0), buffer, kEraseNandBlock, 0, 0), 1);
    EXPECT_TRUE(Log(0).empty());
}

struct ForcedCase {
    bool write;
    std::uint8_t sub;
    std::uint32_t length;
    std::uint32_t sentAddress;
};

class ForcedAddresses : public Transport, public ::testing::WithParamInterface<ForcedCase> {};

TEST_P(ForcedAddresses, AreSentAsTheTableSays) {
    const ForcedCase c = GetParam();
    std::vector<std::uint8_t> buffer(c.length, 0);
    const int result = c.write ? VendorWrite(Handle(0), buffer.data(), c.sub, 0x1234, c.length)
                               : VendorRead(Handle(0), buffer.data(), c.sub, 0x1234, c.length);
    EXPECT_EQ(result, 1);
    const auto log = Log(0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].SubCommand(), c.sub);
    EXPECT_EQ(log[0].Address(), c.sentAddress);
    EXPECT_EQ(log[0].length, c.length);
}

INSTANTIATE_TEST_SUITE_P(Table, ForcedAddresses,
                         ::testing::Values(ForcedCase{true, kWriteNandInfo, 64, 0},
                                           ForcedCase{true, kWriteBootDeviceId, 4, 0},
                                           ForcedCase{true, kWriteNandPage, 2048, 0x1234},
                                           ForcedCase{true, kWriteSysInfo, 1024, 0x1234},
                                           ForcedCase{true, kWriteBootTable, 4096, 0x1234},
                                           ForcedCase{false, kReadNandId, 64, 0},
                                           ForcedCase{false, kReadSysInfo, 1024, 0},
                                           ForcedCase{false, kReadNandPage, 2048, 0x1234},
                                           ForcedCase{false, kReadBootDeviceId, 4, 0x1234}));

TEST_F(Transport, TenFailuresWithError31ShowTheBoxOfTheThirdDevice) {
    sims_[2]->AddFailure({.subCommand = kWriteNandPage, .count = 10, .errorCode = 31});
    std::vector<std::uint8_t> page(2048, 0);
    const std::uint32_t before = platform::TickCount();
    EXPECT_EQ(WriteVendorSector(page.data(), Handle(2), kWriteNandPage, 0, 2048), 0);
    EXPECT_GE(platform::TickCount() - before, 10 * kRetryIntervalMs);
    EXPECT_EQ(Boxes(), std::vector<std::string>({"Device2-->[WriteVendorSector]: error id: 31\n"}));
    EXPECT_EQ(Log(2).size(), 10u);
    EXPECT_TRUE(sims_[2]->IsPageErased(0));
}

TEST_F(Transport, EachSenderHasItsOwnBoxText) {
    sims_[1]->AddFailure({.subCommand = -1, .count = -1, .errorCode = 121});
    std::uint8_t buffer[2048] = {};
    EXPECT_EQ(ReadVendorSector(buffer, Handle(1), kReadNandPage, 0, 2048), 0);
    EXPECT_EQ(VendorCommand(Handle(1), kEraseNandBlock, 0), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>({"Device1-->[ReadVendorSector]: error id: 121\n",
                                                 "[VendorCommand]: error id: 121\n"}));
}

TEST_F(Transport, RetriesRecoverFromTransientFailuresWithoutABox) {
    sims_[0]->AddFailure({.subCommand = kReadNandPage, .count = 9, .errorCode = 31});
    std::vector<std::uint8_t> page(2048, 0);
    EXPECT_EQ(ReadVendorSector(page.data(), Handle(0), kReadNandPage, 0, 2048), 1);
    EXPECT_EQ(page, std::vector<std::uint8_t>(2048, 0xFF));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Log(0).size(), 10u);
}

TEST_F(Transport, AStopEndsTheRetriesOfThatDeviceOnlyAndShowsNoBox) {
    sims_[1]->AddFailure({.subCommand = -1, .count = -1, .errorCode = 1167});
    sims_[2]->AddFailure({.subCommand = kReadNandPage, .count = 3, .errorCode = 31});
    program::RequestStop(1);
    std::vector<std::uint8_t> page(2048, 0);
    EXPECT_EQ(ReadVendorSector(page.data(), Handle(1), kReadNandPage, 0, 2048), 0);
    EXPECT_EQ(Log(1).size(), 1u) << "no retry once the device's run is stopped";
    EXPECT_EQ(ReadVendorSector(page.data(), Handle(2), kReadNandPage, 0, 2048), 1);
    EXPECT_EQ(Log(2).size(), 4u) << "another device keeps its retries";
    program::ClearStopRequests();
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Transport, NullHandleFailsAtOnceWithoutABox) {
    std::uint8_t buffer[16] = {};
    EXPECT_EQ(ReadVendorSector(buffer, nullptr, kReadNandId, 0, 16), 0);
    EXPECT_EQ(WriteVendorSector(buffer, nullptr, kWriteNandPage, 0, 16), 0);
    EXPECT_EQ(VendorCommand(nullptr, kDramInit, 0), 0);
    EXPECT_EQ(VendorWrite(nullptr, buffer, kWriteDeviceMemory, 0, 16), 0);
    EXPECT_TRUE(Boxes().empty());
}

// A device that vanished: every sender fails at once, without the retries, and the operator
// reads one message for it however many commands still fail.
struct GoneCase {
    const char* name;
    bool closeOnRemoval; // the device set closed the handle; else the device answers 1167
    const char* box;
    std::size_t reached; // commands that reached the device
    friend void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.name; }
};

class GoneDevice : public Transport, public ::testing::WithParamInterface<GoneCase> {};

TEST_P(GoneDevice, FailsAtOnceWithOneMessage) {
    const GoneCase& c = GetParam();
    DeviceHandle handle = Handle(1);
    if (c.closeOnRemoval) {
        ASSERT_TRUE(CloseDevice(handle));
    } else {
        sims_[1]->AddFailure({.subCommand = -1, .count = -1, .errorCode = 1167});
    }
    const std::uint32_t before = platform::TickCount();
    std::uint8_t buffer[2048] = {};
    EXPECT_EQ(WriteVendorSector(buffer, handle, kWriteNandPage, 0, 2048), 0);
    EXPECT_EQ(ReadVendorSector(buffer, handle, kReadNandPage, 0, 2048), 0);
    EXPECT_EQ(VendorCommand(handle, kEraseNandBlock, 0), 0);
    EXPECT_EQ(VendorRead(handle, buffer, kReadDeviceMemory, 0x1000, 2048), 0);
    EXPECT_EQ(platform::TickCount() - before, 0u) << "no retry waits";
    EXPECT_EQ(Boxes(), std::vector<std::string>({c.box}));
    EXPECT_EQ(Log(1).size(), c.reached);
    EXPECT_TRUE(devices::IsGone(handle));
    EXPECT_FALSE(devices::IsGone(Handle(0)));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, GoneDevice,
    ::testing::Values(GoneCase{"not connected", false,
                               "Device1-->The device was removed (error id: 1167)\n", 1},
                      GoneCase{"closed on removal", true,
                               "Device1-->The device was removed (error id: 6)\n", 0}));

TEST_F(Transport, ATransientErrorIsStillRetriedAndTheDeviceNotGone) {
    sims_[0]->AddFailure({.subCommand = kReadNandPage, .count = 3, .errorCode = 121});
    std::vector<std::uint8_t> page(2048, 0);
    EXPECT_EQ(ReadVendorSector(page.data(), Handle(0), kReadNandPage, 0, 2048), 1);
    EXPECT_FALSE(devices::IsGone(Handle(0)));
    EXPECT_EQ(Log(0).size(), 4u);
}

TEST_F(Transport, AChunkThatKeepsFailingEndsTheTransferAfterItsLimit) {
    sims_[0]->AddFailure(
        {.subCommand = kWriteDeviceMemory, .skip = 1, .count = -1, .errorCode = 31});
    std::vector<std::uint8_t> data(5000, 0x42);
    EXPECT_EQ(VendorWrite(Handle(0), data.data(), kWriteDeviceMemory, 0x1000, 5000), 0);
    EXPECT_EQ(Boxes().size(), static_cast<std::size_t>(kChunkSendLimit));
    const auto log = Log(0);
    ASSERT_EQ(log.size(), 1u + kChunkSendLimit * kSendAttempts);
    for (std::size_t i = 1; i < log.size(); ++i) {
        EXPECT_EQ(log[i].Address(), 0x1800u); // the same chunk, again and again
    }
}

TEST_F(Transport, AChunkThatFailsOnceIsSentAgainToTheSameAddress) {
    sims_[0]->AddFailure(
        {.subCommand = kWriteDeviceMemory, .skip = 1, .count = 10, .errorCode = 31});
    std::vector<std::uint8_t> data(5000, 0x42);
    EXPECT_EQ(VendorWrite(Handle(0), data.data(), kWriteDeviceMemory, 0x1000, 5000), 1);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(sims_[0]->Memory(0x1000, 5000), data);
}

TEST_F(Transport, AFailedShortLastChunkFailsTheTransfer) {
    // A word read is all "last chunk": its failure must not pass as success.
    sims_[0]->AddFailure({.subCommand = kReadDeviceMemory, .count = -1, .errorCode = 31});
    std::uint8_t word[4] = {1, 2, 3, 4};
    EXPECT_EQ(VendorRead(Handle(0), word, kReadDeviceMemory, 0x9D800010, 4), 0);
    // Sent once like any request: one round of retries, one box.
    EXPECT_EQ(Boxes(), std::vector<std::string>({"Device0-->[ReadVendorSector]: error id: 31\n"}));
    EXPECT_EQ(Log(0).size(), static_cast<std::size_t>(kSendAttempts));
}

} // namespace
} // namespace kestrel::device
