// The simulated device's answer to every sub-command, by loader level, with its faults.
#include "platform/clock/clock.h"
#include "sim/device.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

namespace kestrel::sim {
namespace {

using platform::devices::Direction;
using test::In;
using test::Le16;
using test::Le32;
using test::Named;
using test::None;
using test::Out;

bool HasHostError(const Device& device, HostErrorKind kind) {
    for (const HostError& e : device.HostErrors()) {
        if (e.kind == kind) {
            return true;
        }
    }
    return false;
}

struct ClassCase {
    int idClass;
    std::uint32_t pageSize;
    std::uint32_t pagesPerBlock;
    std::uint32_t blocks;
    std::uint8_t ecc;
};

class IdentificationRecord : public ::testing::TestWithParam<ClassCase> {};

TEST_P(IdentificationRecord, CarriesTheGeometryAndIdBytesOfItsClass) {
    const ClassCase c = GetParam();
    Device device(Named(DeviceConfig::ForClass(c.idClass)));
    const auto sent = In(device, 0x10, 0, 64);
    ASSERT_EQ(sent.result, 0);
    const auto& r = sent.data;
    EXPECT_EQ(Le16(r, 0), c.pagesPerBlock);
    EXPECT_EQ(Le16(r, 4), c.pageSize);
    EXPECT_EQ(Le16(r, 12), c.blocks);
    EXPECT_EQ(r[15], c.ecc);
    EXPECT_EQ(1u << r[14], c.blocks);
    EXPECT_EQ(1u << r[22], c.pagesPerBlock);
    EXPECT_EQ(Le16(r, 2), c.pageSize + (c.ecc ? c.pageSize / 16 : c.pageSize / 32));
    const auto& id = device.Geometry().id;
    ASSERT_EQ(Le32(r, 28), id.size());
    EXPECT_EQ(0, std::memcmp(r.data() + 32, id.data(), id.size()));
    EXPECT_EQ(device.Geometry().pairedPages, c.idClass == 9 || c.idClass == 10);
    EXPECT_TRUE(device.HostErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryClass, IdentificationRecord,
    ::testing::Values(ClassCase{0, 2048, 64, 4096, 0}, ClassCase{1, 8192, 128, 4096, 0},
                      ClassCase{2, 4096, 256, 4096, 1}, ClassCase{3, 8192, 256, 2048, 1},
                      ClassCase{4, 4096, 128, 8192, 1}, ClassCase{5, 8192, 128, 2048, 1},
                      ClassCase{6, 2048, 64, 1024, 0}, ClassCase{7, 4096, 128, 4096, 0},
                      ClassCase{8, 8192, 256, 4096, 0}, ClassCase{9, 8192, 256, 2048, 1},
                      ClassCase{10, 8192, 256, 4096, 1}, ClassCase{11, 8192, 128, 4096, 1}));

TEST(SimDevice, LoaderLevelZeroSendsTheOldSixteenByteRecord) {
    DeviceConfig config = DeviceConfig::ForClass(8); // 256 pages per block
    config.loaderLevel = 0;
    Device device(Named(config));
    const auto sent = In(device, 0x10, 0, 16);
    ASSERT_EQ(sent.result, 0);
    EXPECT_EQ(Le16(sent.data, 0), 16); // 256 pages per block are reported as 16
    EXPECT_EQ(Le16(sent.data, 2), 8192 + 256);
    EXPECT_EQ(Le16(sent.data, 4), 8192);
    EXPECT_EQ(Le16(sent.data, 10), 4096);
    EXPECT_TRUE(device.HostErrors().empty());
    // Asking a level-0 loader for the 64-byte record is a host error, and refused.
    const auto wrong = In(device, 0x10, 0, 64);
    EXPECT_EQ(wrong.result, 31);
    EXPECT_TRUE(HasHostError(device, HostErrorKind::kLengthMismatch));
}

TEST(SimDevice, LoaderSignatureSitsInDeviceMemory) {
    DeviceConfig config;
    config.loaderLevel = 2;
    config.loaderClass = 3;
    Device device(Named(config));
    const auto sent = In(device, 0x02, 0x9D800010, 8);
    ASSERT_EQ(sent.result, 0);
    EXPECT_EQ(sent.data[0], 0xA5);
    EXPECT_EQ(sent.data[2], 0x32);
    EXPECT_EQ(sent.data[3], 0x5A);

    config.loaderSignature = false;
    Device old(Named(config));
    EXPECT_EQ(In(old, 0x02, 0x9D800010, 8).data, std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(In(old, 0x10, 0, 16).result, 0); // an old loader: the 16-byte record
    EXPECT_TRUE(old.HostErrors().empty());
}

TEST(SimDevice, DeviceMemoryRoundTripsAndRefusesMisalignedOrOverflowingAddresses) {
    Device device(Named(DeviceConfig{}));
    std::vector<std::uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(Out(device, 0x01, 0x80001000, data), 0);
    EXPECT_EQ(In(device, 0x02, 0x80001000, 5000).data, data);
    EXPECT_EQ(device.Memory(0x80001000 + 4096, 4),
              std::vector<std::uint8_t>(data.begin() + 4096, data.begin() + 4100));
    EXPECT_TRUE(device.HostErrors().empty());

    EXPECT_EQ(Out(device, 0x01, 0x80001002, {1, 2, 3, 4}), 31);
    EXPECT_TRUE(HasHostError(device, HostErrorKind::kMisalignedAddress));
    EXPECT_EQ(In(device, 0x02, 0xFFFFFFFC, 8).result, 31);
    EXPECT_TRUE(HasHostError(device, HostErrorKind::kAddressOutOfRange));
}

TEST(SimDevice, ProgramIntoNonErasedPageIsRecordedAsHostError) {
    Device device(Named(DeviceConfig{}));
    const std::vector<std::uint8_t> a(2048, 0xF0);
    const std::vector<std::uint8_t> b(2048, 0x3C);
    ASSERT_EQ(None(device, 0x11, 128), 0);
    ASSERT_EQ(Out(device, 0x12, 130, a), 0);
    EXPECT_TRUE(device.HostErrors().empty());
    EXPECT_EQ(Out(device, 0x12, 130, b), 0);
    const auto errors = device.HostErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind, HostErrorKind::kProgramNotErased);
    EXPECT_EQ(errors[0].address, 130u);
    EXPECT_EQ(In(device, 0x13, 130, 2048).data, std::vector<std::uint8_t>(2048, 0x30));
    EXPECT_EQ(device.BlockStatsOf(2).erases, 1u);
    EXPECT_EQ(device.BlockStatsOf(2).programs, 2u);
}

TEST(SimDevice, PageCommandsCheckRangeAndLength) {
    Device device(Named(DeviceConfig{}));
    const std::uint32_t pages = 64 * 4096;
    EXPECT_EQ(In(device, 0x13, pages, 2048).result, 31);
    EXPECT_EQ(None(device, 0x11, pages), 31);
    EXPECT_TRUE(HasHostError(device, HostErrorKind::kAddressOutOfRange));
    device.ClearHostErrors();
    EXPECT_EQ(In(device, 0x13, 0, 512).result, 31);
    EXPECT_TRUE(HasHostError(device, HostErrorKind::kLengthMismatch));
}

// The rules a real chip and loader hold the host to: each with a host that breaks it (the
// command fails, and the device records a host error unless the chip alone is at fault) and a
// host that keeps it (no failure, no host error).
struct RuleCase {
    const char* name;
    DeviceConfig config;
    // Sends the commands of one host; returns the result of its last command.
    std::function<int(Device&, std::uint32_t pageSize)> host;
    bool violates;
    std::optional<HostErrorKind> recorded; // the host error the violation leaves
    friend void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }
};

class StrictRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(StrictRules, ViolationFailsTheCommandAndConformingHostPasses) {
    const RuleCase& c = GetParam();
    Device device(Named(c.config));
    const int result = c.host(device, device.Geometry().pageSize);
    if (c.violates) {
        EXPECT_EQ(result, 31);
    } else {
        EXPECT_EQ(result, 0);
    }
    if (c.recorded) {
        EXPECT_TRUE(HasHostError(device, *c.recorded));
        EXPECT_EQ(device.HostErrors().size(), 1u);
    } else {
        EXPECT_TRUE(device.HostErrors().empty());
    }
}

DeviceConfig WithPageOrder(DeviceConfig config, std::optional<bool> order) {
    config.pageOrder = order;
    return config;
}

DeviceConfig WithBadBlocks(bool status) {
    DeviceConfig config;
    config.factoryBadBlocks = {3};
    config.grownBadBlocks = {{5, 1}};
    config.badBlockStatus = status;
    return config;
}

std::vector<std::uint8_t> PageOf(std::uint32_t size) {
    return std::vector<std::uint8_t>(size, 0x5A);
}

// Erases block 1 and programs its pages in the given order; the last result.
std::function<int(Device&, std::uint32_t)> Programs(std::vector<std::uint32_t> order) {
    return [order](Device& d, std::uint32_t size) {
        const std::uint32_t first = d.Geometry().pagesPerBlock;
        None(d, 0x11, first);
        int result = 0;
        for (std::uint32_t i : order) {
            result = Out(d, 0x12, first + i, PageOf(size));
        }
        return result;
    };
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StrictRules,
    ::testing::Values(RuleCase{"MlcOutOfOrder", DeviceConfig::ForClass(2), Programs({0, 17, 16}),
                               true, HostErrorKind::kPageOrder},
                      RuleCase{"MlcAscendingWithGaps", DeviceConfig::ForClass(2),
                               Programs({0, 1, 16, 17, 40}), false, std::nullopt},
                      RuleCase{"SlcOrderOnRequest", WithPageOrder(DeviceConfig{}, true),
                               Programs({5, 4}), true, HostErrorKind::kPageOrder},
                      RuleCase{"SlcAnyOrderByDefault", DeviceConfig{}, Programs({5, 4}), false,
                               std::nullopt},
                      RuleCase{"MlcOrderSwitchedOff",
                               WithPageOrder(DeviceConfig::ForClass(2), false), Programs({5, 4}),
                               false, std::nullopt},
                      RuleCase{"UpperPagesAfterTheirLowers", DeviceConfig::ForClass(9),
                               Programs({0, 1, 4, 5}), false, std::nullopt},
                      RuleCase{"UpperPageOfAnEmptyLower", DeviceConfig::ForClass(9),
                               Programs({0, 1, 3, 8}), true, HostErrorKind::kUpperPageFirst},
                      RuleCase{"LowerPagesOnly", DeviceConfig::ForClass(9),
                               Programs({0, 1, 2, 3, 6, 7, 251}), false, std::nullopt},
                      RuleCase{
                          "ShortPageWrite", DeviceConfig{},
                          [](Device& d, std::uint32_t) { return Out(d, 0x12, 64, PageOf(512)); },
                          true, HostErrorKind::kLengthMismatch},
                      RuleCase{
                          "ShortSysInfoWrite", DeviceConfig{},
                          [](Device& d, std::uint32_t) { return Out(d, 0x30, 128, PageOf(1000)); },
                          true, HostErrorKind::kLengthMismatch},
                      RuleCase{"BadBlockEraseWithStatus", WithBadBlocks(true),
                               [](Device& d, std::uint32_t) { return None(d, 0x11, 3 * 64); }, true,
                               std::nullopt},
                      RuleCase{"WornBlockProgramWithStatus", WithBadBlocks(true),
                               [](Device& d, std::uint32_t size) {
                                   None(d, 0x11, 5 * 64); // the erase that wears it out passes
                                   return Out(d, 0x12, 5 * 64, PageOf(size));
                               },
                               true, std::nullopt},
                      RuleCase{"BadBlockWithoutStatus", WithBadBlocks(false),
                               [](Device& d, std::uint32_t size) {
                                   None(d, 0x11, 3 * 64);
                                   return Out(d, 0x12, 3 * 64, PageOf(size));
                               },
                               false, std::nullopt},
                      RuleCase{"GoodBlockWithStatus", WithBadBlocks(true),
                               [](Device& d, std::uint32_t size) {
                                   None(d, 0x11, 4 * 64);
                                   return Out(d, 0x12, 4 * 64, PageOf(size));
                               },
                               false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimDevice, AProgramRefusedForItsOrderStoresNothing) {
    Device device(Named(DeviceConfig::ForClass(2)));
    const std::uint32_t size = device.Geometry().pageSize;
    ASSERT_EQ(None(device, 0x11, 0), 0);
    ASSERT_EQ(Out(device, 0x12, 17, PageOf(size)), 0);
    EXPECT_EQ(Out(device, 0x12, 3, PageOf(size)), 31);
    EXPECT_TRUE(device.IsPageErased(3));
    // An erase starts the block over: any first page is in order again.
    ASSERT_EQ(None(device, 0x11, 0), 0);
    EXPECT_EQ(Out(device, 0x12, 3, PageOf(size)), 0);
}

TEST(SimDevice, DeviceSideReadsSeeWhatTheHostWouldRead) {
    DeviceConfig config;
    config.failingPages = {70};
    config.factoryBadBlocks = {3};
    Device device(Named(config));
    ASSERT_EQ(None(device, 0x11, 64), 0);
    ASSERT_EQ(Out(device, 0x12, 70, PageOf(2048)), 0);
    EXPECT_EQ(device.ReadPage(70), In(device, 0x13, 70, 2048).data);
    EXPECT_NE(device.ReadPage(70), PageOf(2048)) << "a failing page reads back wrong";
    EXPECT_EQ(device.PageBytes(70), PageOf(2048)) << "what the cells hold";
    EXPECT_EQ(device.ReadPage(3 * 64), std::vector<std::uint8_t>(2048, 0x00));
}

struct LevelCase {
    int level;
    std::uint8_t sub;
    Direction direction;
    std::uint32_t length;
    bool supported;
};

class LoaderLevelCommands : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LoaderLevelCommands, OnlyLoadersThatHaveTheCommandAnswerIt) {
    const LevelCase c = GetParam();
    DeviceConfig config;
    config.loaderLevel = c.level;
    Device device(Named(config));
    const auto sent =
        test::SendTo(device, c.sub, 0, c.direction,
                     c.direction == Direction::kOut ? std::vector<std::uint8_t>(c.length, 0)
                                                    : std::vector<std::uint8_t>{},
                     c.length);
    EXPECT_EQ(sent.result, c.supported ? 0 : 31);
    EXPECT_EQ(HasHostError(device, HostErrorKind::kUnsupportedCommand), !c.supported);
}

INSTANTIATE_TEST_SUITE_P(Table, LoaderLevelCommands,
                         ::testing::Values(LevelCase{0, 0x31, Direction::kIn, 1024, false},
                                           LevelCase{1, 0x31, Direction::kIn, 1024, true},
                                           LevelCase{0, 0x20, Direction::kOut, 64, false},
                                           LevelCase{1, 0x20, Direction::kOut, 64, true},
                                           LevelCase{1, 0x14, Direction::kOut, 4096, false},
                                           LevelCase{2, 0x14, Direction::kOut, 4096, true},
                                           LevelCase{1, 0x15, Direction::kIn, 4, false},
                                           LevelCase{2, 0x15, Direction::kIn, 4, true},
                                           LevelCase{1, 0x16, Direction::kOut, 4, false},
                                           LevelCase{2, 0x16, Direction::kOut, 4, true},
                                           LevelCase{0, 0x05, Direction::kNone, 0, true},
                                           LevelCase{0, 0x07, Direction::kNone, 0, true},
                                           LevelCase{2, 0x40, Direction::kNone, 0, false}));

TEST(SimDevice, SystemInformationRecordIsDeliveredAndReplacedByTheHost) {
    DeviceConfig config;
    config.sysInfoBlock = 5;
    config.bootAreaOffset = 3;
    Device device(Named(config));
    const auto factory = In(device, 0x31, 0, 1024).data;
    EXPECT_EQ(0, std::memcmp(factory.data(), "SYAL", 4));
    EXPECT_EQ(0, std::memcmp(factory.data() + 12, "EYAL", 4));
    EXPECT_EQ(Le16(factory, 16), 5);
    EXPECT_EQ(Le16(factory, 18), 3);

    std::vector<std::uint8_t> record = factory;
    record[20] = 9; // the host's boot header block
    const std::uint32_t page = 5 * 64;
    ASSERT_EQ(Out(device, 0x30, page, record), 0);
    EXPECT_EQ(In(device, 0x31, 0, 1024).data, record);
    ASSERT_EQ(device.SysInfoWrites().size(), 1u);
    EXPECT_EQ(device.SysInfoWrites()[0].page, page);
    // The loader programs the record into the named page.
    const auto stored = device.PageBytes(page);
    EXPECT_EQ(0, std::memcmp(stored.data(), record.data(), 1024));
    EXPECT_EQ(stored[1024], 0xFF);
    EXPECT_TRUE(device.HostErrors().empty());
}

TEST(SimDevice, BootTableGoesToTheDiskSeenThroughTheDiskWindow) {
    Device device(Named(DeviceConfig{}));
    std::vector<std::uint8_t> table(4096, 0);
    table[510] = 0x55;
    table[511] = 0xAA;
    ASSERT_EQ(Out(device, 0x14, 0, table), 0);
    ASSERT_EQ(device.BootTables().size(), 1u);
    EXPECT_EQ(device.BootTables()[0], table);

    // Raw NAND page 0 is untouched; with the window word at 0 page 0 shows the table.
    EXPECT_EQ(In(device, 0x13, 0, 2048).data, std::vector<std::uint8_t>(2048, 0xFF));
    EXPECT_EQ(device.MemoryWord(kDiskWindowWord), 1u);
    ASSERT_EQ(Out(device, 0x01, kDiskWindowWord, {0, 0, 0, 0}), 0);
    EXPECT_EQ(In(device, 0x13, 0, 2048).data,
              std::vector<std::uint8_t>(table.begin(), table.begin() + 2048));
    std::vector<std::uint8_t> test(2048, 0);
    std::memcpy(test.data(), "TEST", 4);
    ASSERT_EQ(Out(device, 0x12, 4, test), 0);
    EXPECT_EQ(device.DiskBytes(4 * 2048, 4), std::vector<std::uint8_t>({'T', 'E', 'S', 'T'}));
    EXPECT_TRUE(device.IsPageErased(4));
    EXPECT_TRUE(device.HostErrors().empty());
}

TEST(SimDevice, BootDeviceIdNandInfoProgramsAndDramCommandAreKept) {
    DeviceConfig config;
    config.bootDeviceId = 3;
    Device device(Named(config));
    EXPECT_EQ(Le32(In(device, 0x15, 0, 4).data, 0), 3u);
    ASSERT_EQ(Out(device, 0x16, 0, {6, 0, 0, 0}), 0);
    EXPECT_EQ(device.BootDeviceId(), 6u);
    EXPECT_EQ(device.BootDeviceIdWrites(), std::vector<std::uint32_t>({6}));

    std::vector<std::uint8_t> info(64, 0x11);
    ASSERT_EQ(Out(device, 0x20, 0, info), 0);
    EXPECT_EQ(device.NandInfoWrites(), std::vector<std::vector<std::uint8_t>>({info}));

    EXPECT_EQ(None(device, 0x05, 0x80000100), 0);
    EXPECT_EQ(None(device, 0x07, 0), 0);
    EXPECT_EQ(device.StartedPrograms(), std::vector<std::uint32_t>({0x80000100}));
    EXPECT_EQ(device.DramInitCount(), 1u);
}

TEST(SimDevice, TransientFailuresReportTheirCodeThenTheCommandWorks) {
    DeviceConfig config;
    config.failures.push_back({.subCommand = 0x13, .skip = 1, .count = 2, .errorCode = 121});
    Device device(Named(config));
    EXPECT_EQ(In(device, 0x13, 0, 2048).result, 0); // skipped
    EXPECT_EQ(In(device, 0x13, 0, 2048).result, 121);
    EXPECT_EQ(None(device, 0x11, 0), 0); // other sub-commands are not affected
    EXPECT_EQ(In(device, 0x13, 0, 2048).result, 121);
    EXPECT_EQ(In(device, 0x13, 0, 2048).result, 0);
    EXPECT_EQ(device.CommandCount(), 5u);
}

TEST(SimDevice, PermanentFailureNeverLetsACommandThroughAndLeavesNoTrace) {
    Device device(Named(DeviceConfig{}));
    device.AddFailure({.subCommand = -1, .count = -1, .errorCode = 31});
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Out(device, 0x12, 0, std::vector<std::uint8_t>(2048, 0)), 31);
    }
    EXPECT_TRUE(device.IsPageErased(0));
    device.ClearFailures();
    EXPECT_EQ(Out(device, 0x12, 0, std::vector<std::uint8_t>(2048, 0)), 0);
}

TEST(SimDevice, CommandLogKeepsTheCommandBlocksAsSent) {
    Device device(Named(DeviceConfig{}));
    In(device, 0x13, 0x12345, 2048);
    const auto log = device.CommandLog();
    ASSERT_EQ(log.size(), 1u);
    const std::uint8_t expected[10] = {0xC2, 0x13, 0, 0, 0x00, 0x01, 0x23, 0x45, 0, 0};
    EXPECT_EQ(0, std::memcmp(log[0].cdb.data(), expected, 10));
    EXPECT_EQ(log[0].Address(), 0x12345u);
    EXPECT_EQ(log[0].length, 2048u);
    EXPECT_EQ(log[0].result, 0);
}

TEST(SimDevice, ForeignOperationCodeIsRefused) {
    Device device(Named(DeviceConfig{}));
    const std::uint8_t cdb[10] = {0x28, 0x13};
    std::vector<std::uint8_t> buffer(2048);
    platform::devices::ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = 10;
    request.direction = Direction::kIn;
    request.buffer = buffer.data();
    request.length = 2048;
    EXPECT_EQ(device.Execute(device.Generation(), request), 31);
    EXPECT_TRUE(HasHostError(device, HostErrorKind::kMalformedCommand));
}

TEST(SimDevice, LatencyModelAccountsCommandDataAndNandTime) {
    DeviceConfig config = Named(DeviceConfig{});
    config.latency = LatencyModel::ForPageSize(2048);
    Device device(config);
    platform::SetSleepScale(0);
    None(device, 0x11, 0);                                    // 500 + 1500
    Out(device, 0x12, 0, std::vector<std::uint8_t>(2048, 0)); // 500 + 51.2 + 200
    In(device, 0x13, 0, 2048);                                // 500 + 51.2 + 25
    EXPECT_NEAR(device.BusyMicroseconds(), 2000 + 751.2 + 576.2, 0.01);
}

} // namespace
} // namespace kestrel::sim
