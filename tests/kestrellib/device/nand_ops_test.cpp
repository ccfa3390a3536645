#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/device/nand_ops.h"
#include "kestrellib/program/config_files.h"
#include "sim_device_fixture.h"

#include <array>
#include <cstring>
#include <thread>

using namespace kestrel;
using namespace kestrel::device;
using test::SimDeviceTest;

namespace {

NandInfo ReadInfo(const IspJob& job) {
    NandInfo info{};
    EXPECT_EQ(ReadNandInfo(job, info), 0);
    return info;
}

NandLayout LayoutFor(const NandInfo& info) {
    NandLayout layout{};
    ComputeNandLayout(layout, info);
    return layout;
}

using NandOps = SimDeviceTest;

TEST_F(NandOps, LoaderProbeAndBootDeviceId) {
    sim::DeviceConfig config;
    config.loaderLevel = 2;
    config.loaderClass = 1;
    config.bootDeviceId = 3;
    IspJob job = AddDevice(config);
    job.loaderLevel = job.loaderClass = 9;
    ProbeLoader(job);
    EXPECT_EQ(job.loaderLevel, 2);
    EXPECT_EQ(job.loaderClass, 1);
    EXPECT_EQ(QueryBootDeviceId(job), 3u);

    sim::DeviceConfig bare;
    bare.loaderSignature = false;
    IspJob old = AddDevice(bare, 1);
    old.loaderLevel = 5;
    ProbeLoader(old);
    EXPECT_EQ(old.loaderLevel, 0);
    EXPECT_EQ(old.loaderClass, 0);
    EXPECT_EQ(QueryBootDeviceId(old), 0u) << "below level 2 the id is not asked";
}

TEST_F(NandOps, LevelZeroRecordIsConvertedAndSetsTheLargePageFlag) {
    sim::DeviceConfig config;
    config.loaderLevel = 0;
    const std::uint16_t words[8] = {16, 2112, 2048, 32, 0, 4096, 0, 0};
    config.idRecord = std::vector<std::uint8_t>(16);
    std::memcpy(config.idRecord->data(), words, 16);
    IspJob job = AddDevice(config);
    SetLargePageFlag(false);
    const NandInfo info = ReadInfo(job);
    EXPECT_TRUE(LargePageFlag());
    EXPECT_EQ(info.pagesPerBlock, 256);
    EXPECT_EQ(info.blockCount, 4096);
    SetLargePageFlag(false);
}

TEST_F(NandOps, BlockTestAndGoodBlockSearch) {
    sim::DeviceConfig config;
    config.factoryBadBlocks = {10, 11, 12, 13, 14, 20};
    config.failingPages = {30 * 64}; // one differing byte in the pattern read-back
    IspJob job = AddDevice(config);
    const NandLayout layout = LayoutFor(ReadInfo(job));
    EXPECT_EQ(TestNandBlock(layout, job.hDevice, 5), 0);
    EXPECT_EQ(TestNandBlock(layout, job.hDevice, 30), -1);
    EXPECT_EQ(FindGoodBlock(20, job, layout), 21);
    EXPECT_EQ(FindGoodBlock(29, job, layout), 29);
    EXPECT_EQ(FindGoodBlock(30, job, layout), 31);
    EXPECT_EQ(FindGoodBlock(10, job, layout), kNoGoodBlock) << "five bad blocks in a row";
    EXPECT_TRUE(Device().IsPageErased(5 * 64)) << "the block is left erased";
}

TEST_F(NandOps, VerifiedWritesEraseEachBlockOnceAndFailOnBadPages) {
    sim::DeviceConfig config;
    config.failingPages = {66};
    IspJob job = AddDevice(config);
    const NandInfo info = ReadInfo(job);
    SetCurrentLayout(job.devIndex, LayoutFor(info));
    std::vector<std::uint8_t> eraseMap(info.blockCount, 0);
    std::vector<std::uint8_t> page(info.pageSize);
    std::vector<std::uint32_t> written;
    std::uint32_t next = 64;
    for (int i = 0; i < 5; ++i) {
        for (std::size_t b = 0; b < page.size(); ++b) {
            page[b] = static_cast<std::uint8_t>(i * 31 + b);
        }
        while (WritePageVerified(eraseMap, job, info, page.data(), next) != 1) {
            ++next;
        }
        written.push_back(next++);
    }
    EXPECT_EQ(written, (std::vector<std::uint32_t>{64, 65, 67, 68, 69}));
    EXPECT_EQ(Device().BlockStatsOf(1).erases, 1u);
    EXPECT_EQ(eraseMap[1], 1);
    EXPECT_EQ(Device().PageBytes(69)[7], static_cast<std::uint8_t>(4 * 31 + 7));

    std::vector<std::uint8_t> tiny(2, 0);
    EXPECT_EQ(WritePageVerified(tiny, job, info, page.data(), 64 * 5), 0)
        << "a block beyond the erase map is refused, not indexed";
    EXPECT_EQ(WritePageVerified(eraseMap, job, info, nullptr, 64), 0);
}

TEST_F(NandOps, PairedPageChipsRefuseDisallowedPages) {
    IspJob job = AddDevice(sim::DeviceConfig::ForClass(9));
    const NandInfo info = ReadInfo(job);
    const NandLayout layout = LayoutFor(info);
    ASSERT_EQ(layout.pairedPage, 1);
    SetCurrentLayout(job.devIndex, layout);
    std::vector<std::uint8_t> eraseMap(info.blockCount, 0);
    std::vector<std::uint8_t> page(info.pageSize, 0x3C);
    const std::uint32_t base = 100 * info.pagesPerBlock;
    EXPECT_EQ(WritePageVerified(eraseMap, job, info, page.data(), base + 3), 1);
    EXPECT_EQ(WritePageVerified(eraseMap, job, info, page.data(), base + 4), 0);
    EXPECT_EQ(WritePageVerified(eraseMap, job, info, page.data(), base + 6), 1);
    SetCurrentLayout(job.devIndex, NandLayout{});
}

TEST_F(NandOps, BootTableIsWrittenOnlyWhenNeeded) {
    sim::DeviceConfig levelOne;
    levelOne.loaderLevel = 1;
    IspJob one = AddDevice(levelOne);
    EXPECT_EQ(UpdateBootTable(one, ReadInfo(one)), 0);
    EXPECT_TRUE(Device(0).BootTables().empty()) << "level 1 has no boot table";

    IspJob job = AddDevice(sim::DeviceConfig{}, 1);
    const NandInfo info = ReadInfo(job);
    ASSERT_EQ(UpdateBootTable(job, info), 0);
    ASSERT_EQ(Device(1).BootTables().size(), 1u);
    std::array<std::uint8_t, kBootTableSize> expected;
    BuildBootTable(expected, info);
    EXPECT_EQ(Device(1).BootTables()[0],
              std::vector<std::uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(Device(1).MemoryWord(kBootTableGuardWord), 1u) << "the guard word is restored";

    ASSERT_EQ(UpdateBootTable(job, info), 0);
    EXPECT_EQ(Device(1).BootTables().size(), 1u) << "an identical table is not written again";
    job.rebuildNandFs = 1;
    ASSERT_EQ(UpdateBootTable(job, info), 0);
    EXPECT_EQ(Device(1).BootTables().size(), 2u) << "a rebuild always writes";
}

TEST_F(NandOps, BootTableLayout) {
    home_.WriteFile("isp.ini", "[Romfs]\nmaxsize=16\nDualImage=1\n[Romfs1]\nenable=1\nmaxsize=8\n");
    NandInfo info{};
    info.blockCount = 4096;
    info.pageSize = 2048;
    info.pagesPerBlock = 64;
    std::array<std::uint8_t, kBootTableSize> table;
    BuildBootTable(table, info);
    std::uint32_t first, count, tag;
    std::memcpy(&first, &table[446 + 8], 4);
    std::memcpy(&count, &table[446 + 12], 4);
    std::memcpy(&tag, &table[512], 4);
    EXPECT_EQ(table[446 + 4], 0x0B);
    EXPECT_EQ(first, (16u * 2 + 8 + 25) * 2048);
    EXPECT_EQ(count, (512u - 65) * 2048);
    EXPECT_EQ(std::memcmp(&table[512], "SHDS", 4), 0);
    EXPECT_EQ(std::memcmp(&table[524], "EHDS", 4), 0);
    EXPECT_EQ(table[510], 0x55);
}

TEST_F(NandOps, BootDeviceIdFollowsIspIniOnlyWhenEnabled) {
    sim::DeviceConfig config;
    config.bootDeviceId = 1;
    IspJob job = AddDevice(config);
    home_.WriteFile("isp.ini", "[BootDevice]\nenable=0\ndeviceid=3\n");
    EXPECT_EQ(SyncBootDeviceId(job), 0);
    EXPECT_TRUE(Device().BootDeviceIdWrites().empty());
    home_.WriteFile("isp.ini", "[BootDevice]\nenable=1\ndeviceid=3\n");
    EXPECT_EQ(SyncBootDeviceId(job), 0);
    EXPECT_EQ(Device().BootDeviceId(), 3u);
    EXPECT_EQ(SyncBootDeviceId(job), 0);
    EXPECT_EQ(Device().BootDeviceIdWrites().size(), 1u) << "an equal id is not written again";
}

TEST_F(NandOps, ParameterAdjustmentRecordsAndShiftsTheRegisters) {
    IspJob job = AddDevice(sim::DeviceConfig::ForClass(10), 4);
    EXPECT_EQ(ReadNandParameter(job.hDevice, 0xA1), 0x05u);
    AdjustNandParameters(job);
    EXPECT_EQ(Device().ParameterRegister(0xA0), 0x00 + 38);
    EXPECT_EQ(Device().ParameterRegister(0xA1), 0x05 + 38);
    EXPECT_EQ(Device().ParameterRegister(0xB0), 0x0A + 38);
    EXPECT_EQ(Device().ParameterRegister(0xB1), 0x0F + 38);
    EXPECT_EQ(Device().ParameterRegister(0xC9), 0x02);
    EXPECT_EQ(Device().ParameterRegister(0xA7), 0x3C) << "read, not changed";
    EXPECT_EQ(Device().MemoryWord(kNandParamFlagWord), kNandParamMagic);
    const NandParamRecord& params = SysInfoOf(4).params;
    EXPECT_EQ(params.magic, kNandParamMagic);
    EXPECT_EQ(params.timing, 0x00050A0Fu);
    EXPECT_EQ(params.regC9, 0x01u);
    EXPECT_EQ(params.extra, 0x3C142832u);
    EXPECT_EQ(params.checksum, params.timing + params.regC9 + params.extra);
    const auto modes = Device().ControllerModeWrites();
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0], 11u);
    EXPECT_EQ(modes[1], 9u);
}

TEST_F(NandOps, ParameterAdjustmentRestoresFromTheDevicesEarlierRecord) {
    IspJob job = AddDevice(sim::DeviceConfig::ForClass(10), 5);
    // An earlier run left its record in the system-information block and marked the device.
    SysInfoRecord& record = SysInfoOf(5);
    ASSERT_GE(ReadSysInfoRecord(job), 0);
    record.params = NandParamRecord{kNandParamMagic, 0x01020304u, 0x07u, 0x0A0B0C0Du, 0};
    record.params.checksum = record.params.timing + record.params.regC9 + record.params.extra;
    const NandInfo info = ReadInfo(job);
    NandLayout layout = LayoutFor(info);
    WriteSysInfoBlock(layout, job, info);
    Device().SetMemoryWord(kNandParamFlagWord, kNandParamMagic);
    record.params = NandParamRecord{};

    AdjustNandParameters(job);
    EXPECT_EQ(record.params.timing, 0x01020304u);
    EXPECT_EQ(Device().ParameterRegister(0xA0), 0x01 + 38);
    EXPECT_EQ(Device().ParameterRegister(0xB1), 0x04 + 38);
    EXPECT_EQ(Device().ParameterRegister(0xC9), 0x08);
    EXPECT_TRUE(Device().ControllerModeWrites().empty());
}

TEST_F(NandOps, SysInfoRecordRoundTrip) {
    sim::DeviceConfig config;
    config.sysInfoBlock = 3;
    IspJob job = AddDevice(config, 2);
    ASSERT_EQ(ReadSysInfoRecord(job), 3);
    const NandInfo info = ReadInfo(job);
    ASSERT_EQ(PrepareNandInfo(job, info), 0);
    const SysInfoRecord& record = SysInfoOf(2);
    EXPECT_EQ(std::memcmp(&record.marker1, "SHFP", 4), 0);
    EXPECT_EQ(std::memcmp(&record.marker2.end, "EHFP", 4), 0);
    EXPECT_EQ(record.info.pageSize, 2048);
    EXPECT_EQ(record.info.rawPageSize, 2048 + 64) << "ECC mode 0 spare layout";
    EXPECT_EQ(std::memcmp(&record.info, &record.infoCopy, sizeof(NandInfo)), 0);
    EXPECT_TRUE(WriteSysInfoBlock(LayoutFor(info), job, info));
    const auto written = Device().SysInfoWrites();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back().page, 3u * 64);
    EXPECT_EQ(std::memcmp(written.back().block.data(), &record, sizeof record), 0);
}

TEST_F(NandOps, DevicesOfDifferentGeometryKeepTheirOwnProfileValues) {
    const int classes[] = {0, 7, 8, 9, 10, 11};
    std::vector<IspJob> jobs;
    for (int i = 0; i < 6; ++i) {
        jobs.push_back(AddDevice(sim::DeviceConfig::ForClass(classes[i]), i));
    }
    home_.WriteFile("isp.ini", "[General]\neccmode=1\n");
    std::vector<std::thread> workers;
    for (int round = 0; round < 5; ++round) {
        for (auto& job : jobs) {
            workers.emplace_back([&job] {
                const NandInfo info = ReadInfo(job);
                EXPECT_EQ(PrepareNandInfo(job, info), 0);
            });
        }
        for (auto& w : workers) {
            w.join();
        }
        workers.clear();
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            EXPECT_EQ(SysInfoOf(static_cast<int>(i)).info.pageSize, Device(i).Geometry().pageSize);
            EXPECT_EQ(SysInfoOf(static_cast<int>(i)).info.pagesPerBlock,
                      Device(i).Geometry().pagesPerBlock);
            EXPECT_EQ(SysInfoOf(static_cast<int>(i)).info.blockCount,
                      Device(i).Geometry().blockCount);
        }
    }
}

} // namespace
