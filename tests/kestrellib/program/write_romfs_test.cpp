// WriteRomfs2NandFun end to end on simulated devices: what the device holds afterwards is read
// back with the device-side reader and compared with the input files bit for bit.

#include "kestrellib/device/device_discovery.h"
#include "kestrellib/device/device_set.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/resource_page_plan.h"
#include "kestrellib/program/write_romfs.h"
#include "platform/devices/devices.h"
#include "platform/devices/usbstor_path.h"
#include "resource_fixture.h"
#include "sim/backends/devices_backend.h"
#include "sim/device_page_source.h"
#include "sim/farm.h"
#include "sim/resource_area_reader.h"

#include <gmock/gmock.h>

#include <cstring>
#include <thread>

namespace kestrel::test {
namespace {

using program::ResourceImageKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class WriteRomfsTest : public ResourceFixture {
protected:
    void SetUp() override {
        ResourceFixture::SetUp();
        platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
        sim::TheFarm().Clear();
        device::InitDeviceSet();
        job.rebuildNandFs = 0;
        job.writeRomfs = 1;
        job.writeRomfs1 = 1;
        // Romfs areas of 2 MB, Romfs1 of 1 MB: 16 and 8 blocks of 128 KiB.
        config::Write(config::isp::kRomfsMaxSize, 2);
        config::Write(config::isp::kRomfs1Enable, 1);
        config::Write(config::isp::kRomfs1MaxSize, 1);
    }
    void TearDown() override {
        // Whatever a test made the host do, the devices saw no command a real one would refuse.
        for (const auto& dev : sim::TheFarm().Devices()) {
            for (const auto& e : dev->HostErrors()) {
                ADD_FAILURE() << "host error: " << sim::HostErrorName(e.kind) << " at " << e.address
                              << " " << e.detail;
            }
        }
        device::CloseAllDevices(nullptr);
        sim::TheFarm().Clear();
        ResourceFixture::TearDown();
    }

    std::shared_ptr<sim::Device> AddDevice(sim::DeviceConfig config = {}) {
        config.latency = sim::LatencyModel::Zero();
        auto dev = sim::TheFarm().Add(std::move(config));
        device::EnumerateDevices();
        devId = device::DeviceDevIdAt(0);
        job.devId = devId.c_str();
        // The station fills the loader values from its probe of the device before the run.
        job.hDevice = device::DeviceHandleAt(0);
        device::ProbeLoader(job);
        job.hDevice = nullptr;
        return dev;
    }

    // The layout the device was programmed with, computed from its own identification record.
    device::NandLayout LayoutOf(const sim::Device& dev) const {
        device::NandInfo info{};
        const auto record = dev.IdRecord();
        std::memcpy(&info, record.data(), std::min(record.size(), sizeof info));
        device::NandLayout layout{};
        layout.bootDeviceId = static_cast<std::uint8_t>(dev.Config().bootDeviceId);
        device::ComputeNandLayout(layout, info);
        return layout;
    }

    std::optional<sim::ResourceAreaContent> ReadArea(const std::shared_ptr<sim::Device>& dev,
                                                     ResourceImageKind kind,
                                                     std::string* error = nullptr) const {
        const auto layout = LayoutOf(*dev);
        const auto area = program::ResourceAreaOf(layout, kind);
        sim::DevicePageSource source(dev);
        return sim::ReadResourceArea(source,
                                     {layout.pageSize, layout.pagesPerBlock, layout.pairedPage != 0,
                                      area.start, area.blocks},
                                     error);
    }

    void ExpectArea(const std::shared_ptr<sim::Device>& dev, ResourceImageKind kind,
                    const std::string& file) {
        std::string error;
        const auto content = ReadArea(dev, kind, &error);
        ASSERT_TRUE(content) << "kind " << static_cast<int>(kind) << ": " << error;
        EXPECT_TRUE(content->image == std::vector<std::uint8_t>(file.begin(), file.end()))
            << "kind " << static_cast<int>(kind);
    }

    std::string AllBoxes() const {
        std::string all;
        for (const auto& b : boxes) {
            all += b;
        }
        return all;
    }

    std::string devId;
};

TEST_F(WriteRomfsTest, WritesAllThreeAreasAndPostsInOrder) {
    auto dev = AddDevice();
    const std::string image = Pattern(300000, 1);
    const std::string image1 = Pattern(70000, 2);
    home.WriteFile("romfs.img", image);
    home.WriteFile("romfs1.img", image1);

    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(job.hDevice, device::DeviceHandleAt(0));
    ExpectArea(dev, ResourceImageKind::kRomfs, image);
    ExpectArea(dev, ResourceImageKind::kRomfsBackup, image);
    ExpectArea(dev, ResourceImageKind::kRomfs1, image1);
    EXPECT_TRUE(dev->HostErrors().empty());

    // The same area read from the host side, through the vendor page-read command.
    const auto layout = LayoutOf(*dev);
    const auto area = program::ResourceAreaOf(layout, ResourceImageKind::kRomfs1);
    sim::FunctionPageSource vendor([&](std::uint32_t page, std::uint8_t* data, std::uint32_t size) {
        return device::ReadVendorSector(data, job.hDevice, device::kReadNandPage, page, size) != 0;
    });
    const auto overVendor = sim::ReadResourceArea(
        vendor, {layout.pageSize, layout.pagesPerBlock, false, area.start, area.blocks});
    ASSERT_TRUE(overVendor);
    EXPECT_TRUE(overVendor->image == std::vector<std::uint8_t>(image1.begin(), image1.end()));

    // 784, Romfs range for both copies, steps, 512, backup steps, 512, Romfs1 steps, 785.
    const auto posted = TakePosted();
    ASSERT_GE(posted.size(), 4u);
    EXPECT_EQ(posted.front(), (Posted{WM_ISP_EVENT, kEventResourceBegin, 0}));
    EXPECT_EQ(posted.back(), (Posted{WM_ISP_EVENT, kEventResourceSucceeded, 0}));
    std::vector<std::uintptr_t> markers;
    std::vector<std::uint32_t> stepsBetween{0};
    for (const auto& p : posted) {
        if (p.message == WM_ISP_STATUS && p.wParam == kStatusProgressStep) {
            ++stepsBetween.back();
        } else if (p.message == WM_ISP_STATUS) {
            markers.push_back(p.wParam);
            stepsBetween.push_back(0);
        }
    }
    EXPECT_THAT(markers, ElementsAre(kStatusProgressRange, kStatusBusy, kStatusBusy));
    // 300000 bytes: 147 pages (range 147 + 16 per copy); 70000 bytes: 35 pages.
    EXPECT_EQ(posted[1].lParam, 2 * (147 + 16));
    EXPECT_THAT(stepsBetween, ElementsAre(0, 16 + 147, 16 + 147, 8 + 35));
}

TEST_F(WriteRomfsTest, FirstLookAtTheDeviceSetAfterOneSecond) {
    AddDevice();
    home.WriteFile("romfs.img", "x");
    job.writeRomfs1 = 0;
    const std::uint32_t before = platform::TickCount();
    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    EXPECT_GE(platform::TickCount() - before, 1000u);
}

TEST_F(WriteRomfsTest, DeviceRestartingDuringTheWaitIsFoundWhenItComesBack) {
    auto dev = AddDevice();
    auto subscription = platform::devices::Subscribe(
        [](std::uint32_t event, const void* record) { device::HandleDeviceChange(event, record); });
    const std::string image = Pattern(5000);
    home.WriteFile("romfs.img", image);
    job.writeRomfs1 = 0;
    dev->Unplug();
    ASSERT_EQ(device::DeviceCount(), 0);

    int result = 1;
    std::thread worker([&] { result = WriteRomfs2NandFun(&job); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dev->Replug();
    worker.join();
    EXPECT_EQ(result, 0);
    ExpectArea(dev, ResourceImageKind::kRomfs, image);
}

TEST_F(WriteRomfsTest, RestartedDeviceIsWrittenThroughItsNewHandle) {
    auto dev = AddDevice();
    auto subscription = platform::devices::Subscribe(
        [](std::uint32_t event, const void* record) { device::HandleDeviceChange(event, record); });
    void* before = device::DeviceHandleAt(0);
    dev->Restart();
    dev->WaitForRestart();
    const std::string image = Pattern(3000);
    home.WriteFile("romfs.img", image);
    job.writeRomfs1 = 0;
    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    EXPECT_NE(job.hDevice, before);
    EXPECT_EQ(job.hDevice, device::DeviceHandleAt(0));
    ExpectArea(dev, ResourceImageKind::kRomfs, image);
}

TEST_F(WriteRomfsTest, PulledDeviceEndsWithinSecondsWithOneMessage) {
    auto dev = AddDevice();
    job.hDevice = device::DeviceHandleAt(0);
    home.WriteFile("romfs.img", Pattern(200000));
    home.WriteFile("romfs1.img", Pattern(1000));
    // The cable is pulled some way into the image: every later command gives 1167.
    dev->AddFailure({.subCommand = -1, .skip = 300, .count = -1, .errorCode = 1167});
    const std::uint32_t before = platform::TickCount();
    EXPECT_EQ(WriteRomfs2NandFun(&job), -1);
    // The one-second look for the device, and no retry waits after the device went.
    EXPECT_LE(platform::TickCount() - before, 1000u + 500u);
    EXPECT_EQ(boxes,
              std::vector<std::string>({"Device0-->The device was removed (error id: 1167)\n"}));
    EXPECT_LE(dev->CommandCount(), 302u) << "nothing is sent to a device known to be gone";
}

// Two units of one revision restart during the resource wait and come back on each other's
// port: each job takes the unit on its own port, and neither takes the same one.
TEST_F(WriteRomfsTest, UnitsSwappedBetweenPortsDuringTheWaitAreEachWrittenOnce) {
    auto first = AddDevice();
    sim::DeviceConfig config;
    config.latency = sim::LatencyModel::Zero();
    auto second = sim::TheFarm().Add(config);
    device::EnumerateDevices();
    ASSERT_EQ(device::DeviceCount(), 2);
    auto subscription = platform::devices::Subscribe(
        [](std::uint32_t event, const void* record) { device::HandleDeviceChange(event, record); });
    IspJob jobs[2] = {job, job};
    for (int i = 0; i < 2; ++i) {
        jobs[i].devIndex = i;
        jobs[i].hDevice = device::DeviceHandleAt(i);
        jobs[i].writeRomfs1 = 0;
    }
    const std::string image = Pattern(3000);
    home.WriteFile("romfs.img", image);
    first->Unplug();
    second->Unplug();
    int results[2] = {1, 1};
    std::thread a([&] { results[0] = WriteRomfs2NandFun(&jobs[0]); });
    std::thread b([&] { results[1] = WriteRomfs2NandFun(&jobs[1]); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    first->ReplugOnPort("1-1.2");
    second->ReplugOnPort("1-1.1");
    a.join();
    b.join();
    EXPECT_EQ(results[0], 0) << AllBoxes();
    EXPECT_EQ(results[1], 0) << AllBoxes();
    EXPECT_NE(jobs[0].hDevice, jobs[1].hDevice);
    EXPECT_EQ(device::DevicePathOf(jobs[0].hDevice),
              platform::devices::ToUpperAscii(second->InterfacePath()));
    EXPECT_EQ(device::DevicePathOf(jobs[1].hDevice),
              platform::devices::ToUpperAscii(first->InterfacePath()));
    ExpectArea(first, ResourceImageKind::kRomfs, image);
    ExpectArea(second, ResourceImageKind::kRomfs, image);
}

TEST_F(WriteRomfsTest, StopRequestEndsTheWaitForAnAbsentDevice) {
    AddDevice()->Unplug();
    device::CloseAllDevices(nullptr);
    int result = 1;
    std::thread worker([&] { result = WriteRomfs2NandFun(&job); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    program::RequestStop(0);
    worker.join();
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(TakePosted().empty());
}

TEST_F(WriteRomfsTest, ControllerRegisterFixUp) {
    auto dev = AddDevice();
    dev->SetMemoryWord(0x93008008, 0x11223344);
    dev->SetMemoryWord(0x9300800C, 0x55667788);
    job.writeRomfs = 0;
    job.writeRomfs1 = 0;
    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    EXPECT_EQ(dev->MemoryWord(0x93008008), 0x11222222u);
    EXPECT_EQ(dev->MemoryWord(0x9300800C), 0x55667788u);
}

TEST_F(WriteRomfsTest, PatchProgramAndDramCommand) {
    auto dev = AddDevice();
    const std::string patch = Pattern(5000, 9);
    home.WriteFile("patch.bin", patch);
    home.WriteFile("RomPatch.ini", "[General]\nItemName=Patch\nDownloadAddr=268435456\n"
                                   "[Patch0]\nenable=1\nEntryAddr=268435460\nFileName=patch.bin\n");
    config::Write(config::isp::kSupportDramInit, 1);
    home.WriteFile("romfs.img", "data");
    job.writeRomfs1 = 0;
    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    const auto loaded = dev->Memory(0x10000000, patch.size());
    EXPECT_TRUE(
        std::equal(loaded.begin(), loaded.end(), patch.begin(), patch.end(),
                   [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
    EXPECT_THAT(dev->StartedPrograms(), ElementsAre(0x10000004u));
    EXPECT_EQ(dev->DramInitCount(), 1u);
}

TEST_F(WriteRomfsTest, PatchNotStartedWhenDisabledOrMissing) {
    auto dev = AddDevice();
    home.WriteFile("RomPatch.ini", "[General]\nItemName=Patch\nDownloadAddr=268435456\n"
                                   "[Patch0]\nenable=1\nEntryAddr=4\nFileName=missing.bin\n"
                                   "[Patch7]\nenable=0\nEntryAddr=8\nFileName=patch.bin\n");
    home.WriteFile("patch.bin", "abcd");
    home.WriteFile("romfs.img", "data");
    job.writeRomfs1 = 0;
    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    EXPECT_TRUE(dev->StartedPrograms().empty());
    EXPECT_EQ(dev->DramInitCount(), 0u); // [Redboot] SuppurtenDramInit defaults to 0
}

TEST_F(WriteRomfsTest, RebuildErasesTheFileSystemArea) {
    auto dev = AddDevice();
    job.rebuildNandFs = 1;
    job.writeRomfs = 0;
    job.writeRomfs1 = 0;
    const auto layout = LayoutOf(*dev);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << AllBoxes();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(dev->BlockStatsOf(layout.fsStart + 199).erases, 2u);
    EXPECT_EQ(dev->BlockStatsOf(layout.fsStart + 200).erases, 0u);
    std::vector<std::uintptr_t> events;
    for (const auto& p : TakePosted()) {
        events.push_back(p.wParam);
    }
    EXPECT_THAT(events, ElementsAre(kEventRebuildBegin, kEventRebuildEnded, kEventRebuildSucceeded,
                                    kEventResourceBegin, kEventResourceSucceeded));
}

TEST_F(WriteRomfsTest, RebuildWithoutGoodBlockEndsThePhase) {
    sim::DeviceConfig config;
    const auto fsStart = LayoutOf(sim::Device(config)).fsStart;
    for (std::uint32_t i = 0; i < 200; ++i) {
        config.factoryBadBlocks.push_back(fsStart + i);
    }
    AddDevice(config);
    job.rebuildNandFs = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(WriteRomfs2NandFun(&job), -1);
    ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(boxes, ElementsAre("Device:0 ==> Error in rebuild nand fs.\n"));
    EXPECT_THAT(TakePosted(), ElementsAre(Posted{WM_ISP_EVENT, kEventRebuildBegin, 0},
                                          Posted{WM_ISP_EVENT, kEventRebuildFailed, 0},
                                          Posted{WM_ISP_STATUS, kStatusPhaseEnded, 0}));
}

TEST_F(WriteRomfsTest, AreasThatDoNotFitTheChipAreRefused) {
    AddDevice();
    config::Write(config::isp::kRomfsMaxSize, 400); // 2 x 400 MB on a 512 MB chip
    EXPECT_EQ(WriteRomfs2NandFun(&job), -1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_THAT(boxes[0], HasSubstr("Device:0 ==> Error in nand layout: "));
    EXPECT_THAT(TakePosted(), ElementsAre(Posted{WM_ISP_STATUS, kStatusPhaseEnded, 0}));
}

TEST_F(WriteRomfsTest, UnreadableNandRecordIsReported) {
    sim::DeviceConfig config;
    config.failures.push_back({.subCommand = 0x10, .count = -1, .errorCode = 31});
    AddDevice(config);
    EXPECT_EQ(WriteRomfs2NandFun(&job), -1);
    EXPECT_THAT(boxes, ElementsAre("Device0-->[ReadVendorSector]: error id: 31\n",
                                   "Device:0 ==>Error in reading system info.\n"));
    EXPECT_THAT(TakePosted(), ElementsAre(Posted{WM_ISP_STATUS, kStatusPhaseEnded, 0}));
}

TEST_F(WriteRomfsTest, LargePageChipOfALevelZeroLoader) {
    sim::DeviceConfig config;
    config.loaderLevel = 0;
    config.chip.pageSize = 4096;
    config.chip.pagesPerBlock = 256;
    config.chip.blockCount = 4096;
    // The 16-byte record of the large-page chip: 16, 2112, 2048, 32, ..., 4096 at word 5.
    std::vector<std::uint8_t> record(16, 0);
    const std::uint16_t words[8] = {16, 2112, 2048, 32, 0, 4096, 0, 0};
    std::memcpy(record.data(), words, sizeof words);
    config.idRecord = record;
    auto dev = AddDevice(config);
    const std::string image = Pattern(3 * 1024 * 1024 + 17, 4);
    home.WriteFile("romfs.img", image);
    job.writeRomfs1 = 0;
    config::Write(config::isp::kRomfsDualImage, 0);
    config::Write(config::isp::kSupportDramInit, 1);
    config::Write(config::isp::kRomfsMaxSize, 8); // 8 blocks of 1 MiB

    ASSERT_EQ(WriteRomfs2NandFun(&job), 0) << (boxes.empty() ? "" : boxes[0]);
    EXPECT_THAT(dev->Memory(0x9D805820, 16), ElementsAre(0x00, 0x01, 0x80, 0x10, 0x00, 0x10, 0x40,
                                                         0x00, 0x40, 0x00, 0x00, 0x10, 0, 0, 8, 0));
    EXPECT_EQ(dev->MemoryWord(0x9D8057E4), 0x40404040u);
    EXPECT_EQ(dev->MemoryWord(0x9D8057EC), 0x10001000u);
    EXPECT_EQ(dev->MemoryWord(0x9D8057F0), 0x00001000u);
    EXPECT_EQ(dev->MemoryWord(0x9D805804), 0x40404040u);
    EXPECT_EQ(dev->DramInitCount(), 0u); // not for level-0 loaders
    EXPECT_TRUE(dev->HostErrors().empty());

    sim::DevicePageSource source(dev);
    std::string error;
    const auto content = sim::ReadResourceArea(source, {4096, 256, false, 64, 8}, &error);
    ASSERT_TRUE(content) << error;
    EXPECT_TRUE(content->image == std::vector<std::uint8_t>(image.begin(), image.end()));
}

// Media faults and transport failures, with and without read verification: each run either
// fails with its message or every area reads back bit for bit (but for a failing page written
// without read verification, which reads back wrong as it would for the host).
struct FaultCase {
    const char* name;
    int chipClass; // -1: the default chip
    int readVerify;
    int dualImage;
    std::vector<std::uint32_t> badAreaBlocks;    // Romfs area blocks bad from the factory
    std::vector<std::uint32_t> failingAreaPages; // Romfs area block*pages + page, read back wrong
    std::vector<sim::FailureRule> failures;
    std::size_t length;
    const char* expectedBox;                     // nullptr: no box at all
    bool fails = false;                          // the run fails with expectedBox as its last box
    std::vector<std::uint16_t> romfsBlocks = {}; // record block, then the data blocks
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteRomfsFaultTest : public WriteRomfsTest,
                            public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WriteRomfsFaultTest, FailsWithItsMessageOrReadsBackBitForBit) {
    const auto& c = GetParam();
    sim::DeviceConfig config =
        c.chipClass < 0 ? sim::DeviceConfig{} : sim::DeviceConfig::ForClass(c.chipClass);
    if (c.chipClass == 9) {
        config::Write(config::isp::kRomfsMaxSize, 8); // 1 MiB layout blocks: 8 per area
        config::Write(config::isp::kRomfs1MaxSize, 4);
    }
    job.readVerify = c.readVerify;
    config::Write(config::isp::kRomfsDualImage, c.dualImage);

    // Where the Romfs area lies on this chip, from a device without faults.
    sim::DeviceConfig probe = config;
    probe.latency = sim::LatencyModel::Zero();
    const auto layout = LayoutOf(sim::Device(probe));
    for (auto b : c.badAreaBlocks) {
        config.factoryBadBlocks.push_back(layout.romfsStart + b);
    }
    for (auto p : c.failingAreaPages) {
        const std::uint32_t block = layout.romfsStart + p / layout.pagesPerBlock;
        const std::uint32_t index = p % layout.pagesPerBlock;
        config.failingPages.push_back(
            device::MapPairedPage(block * layout.pagesPerBlock + index, layout));
    }
    config.failures = c.failures;
    auto dev = AddDevice(config);

    const std::string image = Pattern(c.length, 11);
    const std::string image1 = Pattern(c.length / 3 + 1, 12);
    home.WriteFile("romfs.img", image);
    home.WriteFile("romfs1.img", image1);

    const int result = WriteRomfs2NandFun(&job);
    if (c.fails) {
        EXPECT_EQ(result, -1);
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), c.expectedBox);
        return;
    }
    ASSERT_EQ(result, 0) << (boxes.empty() ? "" : boxes.back());
    if (c.expectedBox == nullptr) {
        EXPECT_TRUE(boxes.empty()) << boxes.front();
    } else {
        EXPECT_THAT(boxes, ::testing::Contains(std::string(c.expectedBox)));
    }
    if (c.readVerify == 0 && !c.failingAreaPages.empty()) {
        // Unverified, a failing page keeps what it reads back wrong: the device-side reader sees
        // what the host's own read would, never a clean copy.
        const auto content = ReadArea(dev, ResourceImageKind::kRomfs);
        ASSERT_TRUE(content);
        EXPECT_FALSE(content->image == std::vector<std::uint8_t>(image.begin(), image.end()));
    } else {
        ExpectArea(dev, ResourceImageKind::kRomfs, image);
    }
    if (!c.romfsBlocks.empty()) {
        const auto content = ReadArea(dev, ResourceImageKind::kRomfs);
        ASSERT_TRUE(content);
        std::vector<std::uint16_t> blocks{static_cast<std::uint16_t>(content->recordBlock)};
        blocks.insert(blocks.end(), content->dataBlocks.begin(), content->dataBlocks.end());
        EXPECT_EQ(blocks, c.romfsBlocks);
    }
    if (c.dualImage != 0) {
        ExpectArea(dev, ResourceImageKind::kRomfsBackup, image);
    }
    ExpectArea(dev, ResourceImageKind::kRomfs1, image1);
    for (const auto& e : dev->HostErrors()) {
        ADD_FAILURE() << sim::HostErrorName(e.kind) << " " << e.detail;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteRomfsFaultTest,
    ::testing::Values(
        FaultCase{"Healthy", -1, 1, 1, {}, {}, {}, 600000, nullptr, false, {0, 1, 2, 3, 4, 5}},
        FaultCase{"BadBlocksVerified",
                  -1,
                  1,
                  1,
                  {0, 3, 7},
                  {},
                  {},
                  600000,
                  nullptr,
                  false,
                  {1, 2, 4, 5, 6, 8}},
        FaultCase{"BadBlocksUnverified",
                  -1,
                  0,
                  0,
                  {0, 3, 7},
                  {},
                  {},
                  600000,
                  nullptr,
                  false,
                  {1, 2, 4, 5, 6, 8}},
        // Page 5 of area block 2 reads back wrong: with verification the chunk moves on.
        FaultCase{"FailingPageVerified",
                  -1,
                  1,
                  1,
                  {},
                  {2 * 64 + 5},
                  {},
                  600000,
                  nullptr,
                  false,
                  {0, 1, 3, 4, 5, 6}},
        FaultCase{"FailingPageUnverified",
                  -1,
                  0,
                  1,
                  {},
                  {2 * 64 + 5},
                  {},
                  600000,
                  nullptr,
                  false,
                  {0, 1, 2, 3, 4, 5}},
        // Page 0 of a block fails the block test: the block never enters the map.
        FaultCase{"FailingTestPage",
                  -1,
                  1,
                  1,
                  {},
                  {4 * 64},
                  {},
                  600000,
                  nullptr,
                  false,
                  {0, 1, 2, 3, 5, 6}},
        FaultCase{"TooLongAfterBadBlocks",
                  -1,
                  1,
                  1,
                  {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                  {},
                  {},
                  600000,
                  "Device:0 ==>Rom image is to long!\n",
                  true},
        FaultCase{"TransientWriteFailures",
                  -1,
                  1,
                  1,
                  {},
                  {},
                  {{.subCommand = 0x12, .skip = 20, .count = 4, .errorCode = 31}},
                  600000,
                  nullptr},
        FaultCase{"WriteFailsAfterTenAttempts",
                  -1,
                  1,
                  1,
                  {},
                  {},
                  {{.subCommand = 0x12, .skip = 40, .count = 10, .errorCode = 31}},
                  600000,
                  "Device0-->[WriteVendorSector]: error id: 31\n"},
        FaultCase{"PairedPageChip",
                  9,
                  1,
                  1,
                  {2},
                  {3 * 128 + 9},
                  {},
                  2500000,
                  nullptr,
                  false,
                  {0, 1, 4, 5}},
        FaultCase{"PairedPageChipUnverified",
                  9,
                  0,
                  1,
                  {2},
                  {3 * 128 + 9},
                  {},
                  2500000,
                  nullptr,
                  false,
                  {0, 1, 3, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrel::test
