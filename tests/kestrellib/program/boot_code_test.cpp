// WriteFW2NandFun end to end on simulated devices: every run either fails with its messages or
// the device-side boot area reader returns every sub-block of the input file bit for bit.
#include "kestrellib/program/boot_code.h"
#include "kestrellib/program/boot_exports.h"
#include "kestrellib/program/boot_header.h"
#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_image_writer.h"
#include "kestrellib/program/stop_request.h"

#include "boot_test_support.h"
#include "kestrellib/device/nand_class.h"
#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/sim_device_fixture.h"
#include "kestrellib/device/vendor_transport.h"
#include "platform/messages/message_sink.h"
#include "sim/boot_area_reader.h"
#include "sim/device_page_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace kestrel;
using namespace kestrel::program;
using kestrel::test::PatternBytes;

namespace {

// A boot image with one block of every kind; the codec block announces codecPageSize.
BootImageContent MixedImage(std::uint32_t codecPageSize, std::uint32_t seed = 1) {
    BootImageContent content;
    content.bootHeaderValue = 0x30000 + seed;
    content.word6 = 0xA6A6A6A6;
    content.word7 = 0xB7B7B7B7;
    std::vector<std::uint8_t> codec = PatternBytes(3000, seed + 3);
    std::memcpy(codec.data(), &codecPageSize, 4);
    content.blocks = {{0x200, PatternBytes(5000, seed)},
                      {0x1100, PatternBytes(40000, seed + 1)},
                      {0x300, codec},
                      {0x400, PatternBytes(20001, seed + 4)},
                      {0x000, PatternBytes(7, seed + 5)}};
    return content;
}

struct Notifications {
    std::vector<std::uintptr_t> events;
    std::uint32_t range = 0;
    int steps = 0;
};

class BootCode : public test::SimDeviceTest {
protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        home_.WriteFile("config.ini", "[General]\nItemNum=2\nItemName=Item\nHoldingPerInRomcode=1\n"
                                      "FreqNum=1\nFreqName=Clk\n[Item0]\nenable=1\nvalue=5\n"
                                      "[Item1]\nenable=1\nvalue=7\n[Clk0]\nfreq_spll_int=540\n");
        home_.WriteFile("isp.ini", "[General]\neccmode=1\n");
    }

    std::string SaveImage(const BootImageContent& content, const std::string& name = "boot.img") {
        std::string error;
        EXPECT_TRUE(WriteBootImageFile(home_.Path(name), content, &error)) << error;
        paths_.push_back(home_.Path(name));
        return paths_.back();
    }

    int Run(IspJob& job, const std::string& image) {
        job.hWnd = platform::ToWindowHandle(&sink_);
        job.redbootPath = image.c_str();
        return WriteFW2NandFun(&job);
    }

    Notifications Collect() {
        Notifications n;
        while (auto message = sink_.TryTake()) {
            if (message->message == WM_ISP_EVENT) {
                n.events.push_back(message->wParam);
            } else if (message->message == WM_ISP_STATUS && message->wParam == 1) {
                ProgressRecord record{};
                std::memcpy(&record, message->payload.data(), sizeof record);
                n.range += record.steps;
            } else if (message->message == WM_ISP_STATUS && message->wParam == 2) {
                ++n.steps;
            }
        }
        return n;
    }

    std::optional<sim::BootAreaView> ReadArea(std::size_t deviceIndex, int loaderLevel,
                                              std::string* error) {
        sim::DevicePageSource source(devices_.at(deviceIndex));
        const sim::Chip& chip = Device(deviceIndex).Geometry();
        const sim::BootAreaGeometry geometry{chip.pageSize, chip.pagesPerBlock, chip.blockCount,
                                             loaderLevel,
                                             Device(deviceIndex).Config().sysInfoBlock};
        return sim::ReadBootArea(source, geometry, error);
    }

    // The device's boot area holds the header built from config.ini and every sub-block.
    void ExpectBootAreaHolds(std::size_t deviceIndex, int loaderLevel, const std::string& image) {
        sim::Device& device = Device(deviceIndex);
        std::string error;
        const auto view = ReadArea(deviceIndex, loaderLevel, &error);
        ASSERT_TRUE(view) << error;
        BootImage expected;
        ASSERT_EQ(LoadBootImage(image, expected), ImageError::kNone);
        ASSERT_EQ(view->subBlocks.size(), expected.blocks.size());
        for (std::size_t i = 0; i < expected.blocks.size(); ++i) {
            const auto& got = view->subBlocks[i];
            const auto& want = expected.blocks[i];
            EXPECT_EQ(got.kind, BlockKind(want.subHeader.blockType)) << "sub-block " << i;
            EXPECT_EQ(got.length, want.subHeader.blockLength) << "sub-block " << i;
            EXPECT_TRUE(got.data == want.data) << "sub-block " << i << " differs";
        }
        BootConfig config = BuildConfigTables();
        std::vector<std::uint8_t> header(device.Geometry().pageSize, 0);
        BuildBootHeader(header, config, image);
        EXPECT_TRUE(view->header.page == header) << "boot header page";
    }

    platform::QueueSink sink_;
    std::vector<std::string> paths_;
};

struct DeviceCase {
    const char* name;
    int idClass;
    int loaderLevel;
};

class BootCodeOnDevice : public BootCode, public testing::WithParamInterface<DeviceCase> {};

TEST_P(BootCodeOnDevice, EverySubBlockReadsBackBitForBit) {
    sim::DeviceConfig config = sim::DeviceConfig::ForClass(GetParam().idClass);
    config.loaderLevel = GetParam().loaderLevel;
    IspJob job = AddDevice(config);
    const std::string image = SaveImage(MixedImage(config.chip.pageSize));

    ASSERT_EQ(Run(job, image), 0) << (boxes_.empty() ? "" : boxes_.front());
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    const Notifications n = Collect();
    EXPECT_EQ(n.events, (std::vector<std::uintptr_t>{768, 769}));
    EXPECT_EQ(n.range, 6u);
    EXPECT_EQ(n.steps, 6);
    EXPECT_EQ(job.loaderLevel, GetParam().loaderLevel);
    ExpectBootAreaHolds(0, GetParam().loaderLevel, image);
}

INSTANTIATE_TEST_SUITE_P(
    BootCode, BootCodeOnDevice,
    testing::Values(DeviceCase{"Level0Page2048", 0, 0}, DeviceCase{"Level1Page2048", 0, 1},
                    DeviceCase{"Level2Page2048", 0, 2}, DeviceCase{"Level2Page4096", 7, 2},
                    DeviceCase{"Level2Page8192", 8, 2}, DeviceCase{"Level0Page8192", 8, 0},
                    DeviceCase{"Level1PairedPages", 9, 1}, DeviceCase{"Level2PairedPages", 10, 2},
                    DeviceCase{"Level2Page4096Blocks256", 2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BootCode, BadBlocksAndFailingPagesAreSkipped) {
    sim::DeviceConfig config;
    config.loaderLevel = 2;
    config.factoryBadBlocks = {4, 7}; // header block 4 -> 5, index 6, data from block 8
    config.failingPages = {512, 515, 521, 640 + 20}; // data pages and one index slot
    IspJob job = AddDevice(config);
    const std::string image = SaveImage(MixedImage(2048));
    ASSERT_EQ(Run(job, image), 0) << (boxes_.empty() ? "" : boxes_.front());
    std::string error;
    const auto view = ReadArea(0, 2, &error);
    ASSERT_TRUE(view) << error;
    EXPECT_EQ(view->bootHeaderBlock, 5u);
    EXPECT_EQ(view->indexBlock, 6u);
    for (const auto& sub : view->subBlocks) {
        for (std::uint32_t page : sub.dataPages) {
            EXPECT_TRUE(page != 512 && page != 515 && page != 521) << page;
            EXPECT_GE(page, 8u * 64);
        }
    }
    ExpectBootAreaHolds(0, 2, image);
}

TEST_F(BootCode, Level0KeepsPage65AndWritesTheHeaderAtPages64To192) {
    sim::DeviceConfig config;
    config.loaderLevel = 0;
    config.loaderSignature = false;
    IspJob job = AddDevice(config);
    const std::vector<std::uint8_t> kept = PatternBytes(2048, 65);
    ASSERT_EQ(device::VendorCommand(job.hDevice, device::kEraseNandBlock, 64), 1);
    ASSERT_EQ(device::WriteVendorSector(kept.data(), job.hDevice, device::kWriteNandPage, 65, 2048),
              1);
    const std::string image = SaveImage(MixedImage(2048));
    ASSERT_EQ(Run(job, image), 0);
    EXPECT_EQ(Device().PageBytes(65), kept);
    const auto header = Device().PageBytes(64);
    EXPECT_EQ(Device().PageBytes(128), header);
    EXPECT_EQ(Device().PageBytes(192), header);
    std::string error;
    const auto view = ReadArea(0, 0, &error);
    ASSERT_TRUE(view) << error;
    EXPECT_EQ(view->subBlocks.front().dataPages.front(), 4u * 64) << "data start at block 4";
    ExpectBootAreaHolds(0, 0, image);
}

TEST_F(BootCode, Level0LargePageChipKeepsTheHeaderPagesOutOfTheIndexPass) {
    sim::Chip chip = sim::DefaultChip();
    chip.pagesPerBlock = 256; // the level-0 record reports 16: the large-page chip
    sim::DeviceConfig config = sim::DeviceConfig::ForChip(chip);
    config.loaderLevel = 0;
    // As on an MLC chip: block 0 must be programmed in ascending page order, although its header
    // pages 16 and 17 are ready before the index pages 0 to 15 (no host error is left).
    config.pageOrder = true;
    IspJob job = AddDevice(config);
    const std::string image = SaveImage(MixedImage(2048));
    ASSERT_EQ(Run(job, image), 0) << (boxes_.empty() ? "" : boxes_.front());
    EXPECT_TRUE(device::LargePageFlag());
    const auto header = Device().PageBytes(16);
    EXPECT_EQ(Device().PageBytes(256), header);
    EXPECT_EQ(Device().PageBytes(512), header);
    EXPECT_EQ(Device().PageBytes(768), header);
    std::string error;
    const auto view = ReadArea(0, 0, &error);
    ASSERT_TRUE(view) << error;
    const auto kind100 = std::find_if(view->subBlocks.begin(), view->subBlocks.end(),
                                      [](const auto& sub) { return sub.kind == 0x100; });
    ASSERT_NE(kind100, view->subBlocks.end());
    EXPECT_EQ(kind100->headPage, 18u) << "slot 16 passes over the header pages 16 and 17";
    ExpectBootAreaHolds(0, 0, image);
}

TEST_F(BootCode, AMissingImageFailsTheDeviceBeforeItIsWritten) {
    IspJob job = AddDevice(sim::DeviceConfig{});
    const std::string path = home_.Path("absent.img");
    ASSERT_EQ(Run(job, path), -1);
    ASSERT_FALSE(boxes_.empty());
    EXPECT_EQ(boxes_.front(), "Device:0 ==> The boot image " + path + " can't be opened.\n");
    const Notifications n = Collect();
    EXPECT_EQ(n.events, (std::vector<std::uintptr_t>{768, 770}));
    for (std::uint32_t page = 0; page < 8 * 64; ++page) {
        ASSERT_TRUE(Device().IsPageErased(page)) << page;
    }
}

TEST_F(BootCode, ACorruptImageIsRefusedBeforeAnyDataPage) {
    IspJob job = AddDevice(sim::DeviceConfig{});
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeBootImage(MixedImage(2048), bytes));
    bytes[100] ^= 0x01;
    home_.WriteFile("bad.img", std::string(bytes.begin(), bytes.end()));
    const std::string path = home_.Path("bad.img");
    EXPECT_EQ(Run(job, path), -1);
    EXPECT_EQ(boxes_, (std::vector<std::string>{"checkSum != imageheard.checkSum\n",
                                                "Device:0 ==> WritePackImageFile is fail.\n",
                                                "Device:0 ==>Write FW is failse.\n"}));
    const Notifications n = Collect();
    EXPECT_EQ(n.events, (std::vector<std::uintptr_t>{768, 770}));
    EXPECT_EQ(n.steps, 1) << "the checksum pass counts as a step";
    for (std::uint32_t page = 6 * 64; page < 8 * 64; ++page) {
        ASSERT_TRUE(Device().IsPageErased(page)) << page;
    }
}

TEST_F(BootCode, AnImageBeyondTheFirst32MiBIsRefusedBeforeAnyDataPage) {
    IspJob job = AddDevice(sim::DeviceConfig{});
    BootImageContent content;
    content.blocks = {{0x400, std::vector<std::uint8_t>(30 << 20, 0)},
                      {0x100, std::vector<std::uint8_t>(2 << 20, 0)}};
    EXPECT_EQ(Run(job, SaveImage(content)), -1);
    ASSERT_FALSE(boxes_.empty());
    EXPECT_EQ(boxes_.front().rfind("Device:0 ==> Boot image refused: the boot image needs 16384 "
                                   "data pages, but the boot area holds 3712 from page 384",
                                   0),
              0u)
        << boxes_.front();
    EXPECT_TRUE(Device().IsPageErased(6 * 64));
}

TEST_F(BootCode, NoGoodBlockForTheBootHeaderEndsTheProcedure) {
    sim::DeviceConfig config;
    config.factoryBadBlocks = {4, 5, 6, 7, 8};
    IspJob job = AddDevice(config);
    EXPECT_EQ(Run(job, SaveImage(MixedImage(2048))), -1);
    EXPECT_EQ(boxes_, (std::vector<std::string>{
                          "Device:0 ==> No good block for the boot header or the index pages.\n",
                          "Device:0 ==> WritePackImageFile is fail.\n",
                          "Device:0 ==>Write FW is failse.\n"}));
}

TEST_F(BootCode, AZeroPageSizeIsReported) {
    sim::DeviceConfig config;
    config.loaderLevel = 1;
    std::vector<std::uint8_t> record(64, 0);
    record[0] = 64; // pages per block; page size 0
    config.idRecord = record;
    IspJob job = AddDevice(config);
    EXPECT_EQ(Run(job, SaveImage(MixedImage(2048))), -1);
    EXPECT_EQ(boxes_, (std::vector<std::string>{"Can't the nand flash info!\n",
                                                "Device:0 ==> Can't the nand flash info!\n",
                                                "Device:0 ==>Write FW is failse.\n"}));
    EXPECT_EQ(Collect().events, (std::vector<std::uintptr_t>{768, 770}));
}

TEST_F(BootCode, AnUnreadableDeviceReportsTheTransportError) {
    sim::DeviceConfig config;
    config.failures.push_back({.subCommand = 0x10, .count = -1, .errorCode = 31});
    IspJob job = AddDevice(config);
    EXPECT_EQ(Run(job, SaveImage(MixedImage(2048))), -1);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_.back(), "Device:0 ==>Write FW is failse.\n");
}

TEST_F(BootCode, EightDevicesOfDifferentGeometriesAtOnce) {
    const int classes[] = {0, 6, 7, 8, 9, 10, 11, 2};
    std::vector<IspJob> jobs;
    std::vector<std::string> images;
    for (int i = 0; i < 8; ++i) {
        sim::DeviceConfig config = sim::DeviceConfig::ForClass(classes[i]);
        config.loaderLevel = i % 3;
        jobs.push_back(AddDevice(config, i));
        images.push_back(SaveImage(MixedImage(config.chip.pageSize, 10 + i),
                                   "boot" + std::to_string(i) + ".img"));
        jobs.back().hWnd = platform::ToWindowHandle(&sink_);
        jobs.back().redbootPath = images.back().c_str();
    }
    std::vector<int> results(8, 99);
    {
        std::vector<std::jthread> workers;
        for (int i = 0; i < 8; ++i) {
            workers.emplace_back([&, i] { results[i] = WriteFW2NandFun(&jobs[i]); });
        }
    }
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(results[i], 0) << "device " << i;
        ExpectBootAreaHolds(i, i % 3, images[i]);
    }
}

TEST_F(BootCode, GetRedbootProbesTheDeviceAndExtractsItsImage) {
    sim::DeviceConfig config;
    config.loaderLevel = 1;
    IspJob probe = AddDevice(config);
    probe.loaderLevel = probe.loaderClass = 7;
    std::string package;
    const std::vector<std::uint8_t> image = PatternBytes(3000, 9);
    for (std::uint32_t tag : {0x8000D000u, 0x8000E000u}) {
        for (std::uint32_t word : {0x57415250u, 3000u, tag, 0u}) {
            package.append(reinterpret_cast<const char*>(&word), 4);
        }
        package.append(image.begin(), image.end());
        package.back() = static_cast<char>(tag >> 12);
    }
    home_.WriteFile("fw.pkg", package);
    int result = 5;
    const std::string path = GetRedbootPath(probe, home_.Path("fw.pkg"), result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(probe.loaderLevel, 1);
    EXPECT_EQ(probe.loaderClass, 0);
    EXPECT_EQ(path, home_.Path("redboot.img"));
    EXPECT_EQ(home_.ReadFile("redboot.img"), package.substr(16 + 3000 + 16));

    char small[8];
    EXPECT_EQ(GetRedboot(&probe, home_.Path("fw.pkg").c_str(), small, sizeof small), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(GetRedboot(nullptr, "x", small, sizeof small), -1);
}

// The device-side reader refuses a damaged boot area instead of returning wrong content.
TEST_F(BootCode, TheDeviceSideReaderRefusesADamagedArea) {
    IspJob job = AddDevice(sim::DeviceConfig{});
    ASSERT_EQ(Run(job, SaveImage(MixedImage(2048))), 0);
    // Default device, level 2: system information in block 2, header block 4, index block 5;
    // the 0x200 list heads slot 2 and the 0x100 list slot 16.
    struct Damage {
        std::uint32_t page;
        std::size_t offset;
        std::uint32_t value;
        const char* reason;
    };
    const Damage damages[] = {
        {2 * 64, 0, 0x4C415959, "no system-information page in block 2"},
        {4 * 64, 32, 0x53384B43, "no boot header at page 256"},
        {5 * 64 + 2, 8, 0x7FFFFFFF, "index list of kind 512 is cut short"},
        {5 * 64 + 16, 4, 0xFFFE0102, "index page 336 out of sequence"},
        {5 * 64 + 16, 12, 12345, "end page of kind 256 does not follow its last data page"},
    };
    for (const Damage& damage : damages) {
        sim::FunctionPageSource source(
            [&](std::uint32_t page, std::uint8_t* data, std::uint32_t size) {
                const auto bytes = Device().PageBytes(page);
                std::memcpy(data, bytes.data(), std::min<std::size_t>(size, bytes.size()));
                if (page == damage.page) {
                    std::memcpy(data + damage.offset, &damage.value, 4);
                }
                return true;
            });
        std::string error;
        EXPECT_FALSE(sim::ReadBootArea(source, {2048, 64, 4096, 2, 2}, &error));
        EXPECT_EQ(error, damage.reason);
    }
}

TEST(BootCodeSteps, IdLengthIsRecountedUpToTheRepeatedMakerCode) {
    device::NandInfo info{};
    const std::uint8_t id[] = {0xEC, 0xD7, 0x94, 0x7A, 0x54, 0x43, 0xEC, 0xD7};
    std::memcpy(info.id, id, sizeof id);
    EXPECT_EQ(RecountIdLength(info), 6u);
    const std::uint8_t five[] = {0x2C, 0xDC, 0x90, 0x95, 0x56};
    std::memset(info.id, 0, sizeof info.id);
    std::memcpy(info.id, five, sizeof five);
    EXPECT_EQ(RecountIdLength(info), 5u);
    std::memset(info.id, 0x11, sizeof info.id);
    info.id[0] = 0x22;
    EXPECT_EQ(RecountIdLength(info), 20u);
}

TEST(BootCodeSteps, AZeroInsideTheReportedIdLengthIsAnIdByte) {
    // A seven-byte read of a class-5 chip: six id bytes and the chip's trailing 00.
    device::NandInfo info{};
    const std::uint8_t id[] = {0x98, 0xD5, 0x94, 0x32, 0x76, 0x55, 0x00};
    std::memcpy(info.id, id, sizeof id);
    info.idLength = 7;
    EXPECT_EQ(RecountIdLength(info), 7u);
    EXPECT_EQ(device::ClassifyNandId(info), 5);
    info.idLength = 6; // a six-byte read stops at the zero after it
    EXPECT_EQ(RecountIdLength(info), 6u);
    info.idLength = 0; // an old record carries no length: zeros end the count
    EXPECT_EQ(RecountIdLength(info), 6u);
}

} // namespace

namespace {

TEST_F(BootCode, AStopRequestSkipsTheReserveAreaTest) {
    IspJob job = AddDevice(sim::DeviceConfig{}, 5);
    const std::string image = SaveImage(MixedImage(2048));
    RequestStop(5);
    EXPECT_EQ(Run(job, image), -1);
    ClearStopRequests();
    const std::uint32_t pagesPerBlock = Device().Geometry().pagesPerBlock;
    int reserveErases = 0;
    for (const sim::CommandRecord& command : Device().CommandLog()) {
        const std::uint32_t block = command.Address() / pagesPerBlock;
        reserveErases += command.SubCommand() == 0x11 && block >= 32 && block < 64 ? 1 : 0;
    }
    EXPECT_EQ(reserveErases, 0) << "the blocks of the reserve area are not tested once stopped";
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

TEST_F(BootCode, AStopRequestEndsTheWriteQuietlyBeforeAnyDataPage) {
    IspJob job = AddDevice(sim::DeviceConfig{}, 3);
    const std::string image = SaveImage(MixedImage(2048));
    RequestStop(3);
    EXPECT_EQ(Run(job, image), -1);
    ClearStopRequests();
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    const Notifications n = Collect();
    ASSERT_FALSE(n.events.empty());
    EXPECT_EQ(n.events.back(), kEventBootFailed);
    std::string error;
    const auto view = ReadArea(0, 2, &error);
    EXPECT_TRUE(!view || view->subBlocks.empty()) << "no sub-block was written";

    IspJob other = AddDevice(sim::DeviceConfig{}, 4);
    RequestStop(3);
    EXPECT_EQ(Run(other, image), 0) << "a stop of one device leaves the others alone";
    ClearStopRequests();
    ExpectBootAreaHolds(1, 2, image);
}

} // namespace
