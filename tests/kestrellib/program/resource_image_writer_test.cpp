// WriteResourceImage against an in-memory NAND, read back with the device-side reader.

#include "kestrellib/program/config_files.h"
#include "kestrellib/program/resource_image_writer.h"
#include "kestrellib/program/resource_page_plan.h"
#include "outside/kzip/kzip.h"
#include "resource_fixture.h"
#include "sim/resource_area_reader.h"
#include "support/memory_nand.h"

#include <gmock/gmock.h>

namespace kestrel::test {
namespace {

using program::ResourceImageKind;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

sim::ResourceAreaGeometry GeometryOf(const device::NandLayout& layout, ResourceImageKind kind) {
    const auto area = program::ResourceAreaOf(layout, kind);
    return {layout.pageSize, layout.pagesPerBlock, layout.pairedPage != 0, area.start, area.blocks};
}

std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

class ResourceWriterTest : public ResourceFixture {
protected:
    // 512-byte pages, 4 pages per block (2 KiB chunks), Romfs areas of 256 blocks, Romfs1 32.
    device::NandLayout layout = TestLayout(512, 4, 256, 32);
    MemoryNand nand{512, 4, 2048};

    int Write(ResourceImageKind kind) {
        return program::WriteResourceImage(layout, job, kind, nand);
    }
    sim::ResourceAreaContent Read(ResourceImageKind kind) {
        std::string error;
        auto content = sim::ReadResourceArea(nand, GeometryOf(layout, kind), &error);
        EXPECT_TRUE(content.has_value()) << error;
        return content.value_or(sim::ResourceAreaContent{});
    }
    std::uint32_t RomfsBlock(std::uint32_t areaIndex) const {
        return layout.romfsStart + areaIndex;
    }
};

TEST_F(ResourceWriterTest, MapSkipsBadBlocksAndPlacesRecordAndChunks) {
    nand.badBlocks = {RomfsBlock(3), RomfsBlock(7)};
    const std::string image = Pattern(4 * 2048 + 700);
    home.WriteFile("romfs.img", image);

    ASSERT_EQ(Write(ResourceImageKind::kRomfs), 0);
    EXPECT_TRUE(boxes.empty());

    const auto content = Read(ResourceImageKind::kRomfs);
    EXPECT_EQ(content.recordBlock, 0u);
    EXPECT_THAT(content.dataBlocks, ElementsAre(1, 2, 4, 5, 6));
    EXPECT_EQ(content.image, Bytes(image));
    EXPECT_EQ(content.areaBlocks, 256u);
    EXPECT_EQ(content.romfsBlocks, 256u);
    EXPECT_EQ(content.romfs1Blocks, 32u);
    EXPECT_EQ(nand.hostErrors, 0u);

    // The record and the whole map as they lie in the pages of the record block.
    std::vector<std::uint8_t> page(512);
    nand.ReadPage(RomfsBlock(0) * 4, page.data(), 512);
    EXPECT_THAT(std::vector<std::uint8_t>(page.begin(), page.begin() + 8),
                ElementsAre(0x53, 0x46, 0x4F, 0x52, 4, 0, 0, 0));
    EXPECT_TRUE(std::all_of(page.begin() + 36, page.end(), [](auto b) { return b == 0; }));
    nand.ReadPage(RomfsBlock(0) * 4 + 1, page.data(), 512);
    std::vector<std::uint16_t> entries;
    for (std::size_t i = 0; i < 256; ++i) {
        entries.push_back(static_cast<std::uint16_t>(page[2 * i] | page[2 * i + 1] << 8));
    }
    EXPECT_THAT(std::vector<std::uint16_t>(entries.begin(), entries.begin() + 8),
                ElementsAre(0, 1, 2, 4, 5, 6, 8, 9));
    EXPECT_EQ(entries[253], 255);
    EXPECT_EQ(entries[254], 0); // past the 254 good blocks
    EXPECT_EQ(entries[255], 0);
}

struct PageFailureCase {
    const char* name;
    bool failWrite; // else the page reads back wrong
    int readVerify;
    bool imageIntact;
    std::vector<std::uint16_t> dataBlocks;
};

void PrintTo(const PageFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ResourcePageFailureTest : public ResourceWriterTest,
                                public ::testing::WithParamInterface<PageFailureCase> {};

TEST_P(ResourcePageFailureTest, FailingPageOfChunkTwoMovesItToTheNextGoodBlock) {
    const auto& c = GetParam();
    job.readVerify = c.readVerify;
    const std::uint32_t page = RomfsBlock(2) * 4 + 1; // page 1 of chunk 2's block
    (c.failWrite ? nand.failingWrites : nand.corruptReadback).insert(page);
    const std::string image = Pattern(3 * 2048 - 5, 7);
    home.WriteFile("romfs.img", image);

    ASSERT_EQ(Write(ResourceImageKind::kRomfs), 0);
    const auto content = Read(ResourceImageKind::kRomfs);
    EXPECT_THAT(content.dataBlocks, ElementsAreArray(c.dataBlocks));
    EXPECT_EQ(content.image == Bytes(image), c.imageIntact);
    EXPECT_EQ(nand.hostErrors, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResourcePageFailureTest,
    ::testing::Values(PageFailureCase{"WriteFails", true, 0, true, {1, 3, 4}},
                      PageFailureCase{"ReadBackDiffers", false, 1, true, {1, 3, 4}},
                      PageFailureCase{
                          "ReadBackUncheckedWithoutVerify", false, 0, false, {1, 2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LengthCase {
    std::uint16_t areaBlocks;
    std::vector<std::uint32_t> badAreaBlocks;
    std::size_t length;
    bool fits;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.areaBlocks << " blocks, " << c.badAreaBlocks.size() << " bad, length " << c.length;
}

class ResourceLengthTest : public ResourceWriterTest,
                           public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ResourceLengthTest, ImageMustFitTheGoodBlocksAfterTheFirst) {
    const auto& c = GetParam();
    layout = TestLayout(512, 4, c.areaBlocks, 0);
    for (auto b : c.badAreaBlocks) {
        nand.badBlocks.insert(RomfsBlock(b));
    }
    const std::string image = Pattern(c.length, 3);
    home.WriteFile("romfs.img", image);

    const int result = Write(ResourceImageKind::kRomfs);
    if (c.fits) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(Read(ResourceImageKind::kRomfs).image, Bytes(image));
    } else {
        EXPECT_EQ(result, -1);
        EXPECT_THAT(boxes, ElementsAre("Device:0 ==>Rom image is to long!\n"));
        EXPECT_EQ(nand.pageWrites, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResourceLengthTest,
                         ::testing::Values(LengthCase{8, {}, 7 * 2048, true},
                                           LengthCase{8, {}, 7 * 2048 + 1, false},
                                           LengthCase{8, {2}, 6 * 2048, true},
                                           LengthCase{8, {2}, 6 * 2048 + 1, false},
                                           LengthCase{8, {0, 1, 2, 3, 4, 5, 6}, 0, true},
                                           LengthCase{8, {0, 1, 2, 3, 4, 5, 6}, 1, false}));

TEST_F(ResourceWriterTest, EmptyImageWritesOnlyRecordAndMap) {
    home.WriteFile("romfs.img", "");
    ASSERT_EQ(Write(ResourceImageKind::kRomfs), 0);
    EXPECT_EQ(nand.pageWrites, 2u); // the record page and one map page (256 entries)
    const auto content = Read(ResourceImageKind::kRomfs);
    EXPECT_TRUE(content.image.empty());
    EXPECT_TRUE(content.dataBlocks.empty());
    EXPECT_EQ(content.compressed, 0u);
}

TEST_F(ResourceWriterTest, NoGoodBlockFailsWithEvent786) {
    job.devIndex = 3;
    layout = TestLayout(512, 4, 4, 0);
    for (std::uint32_t i = 0; i < 4; ++i) {
        nand.badBlocks.insert(RomfsBlock(i));
    }
    home.WriteFile("romfs.img", "abc");
    EXPECT_EQ(Write(ResourceImageKind::kRomfs), -1);
    EXPECT_THAT(boxes, ElementsAre("Device:3 ==> Error in write resource.\n"));
    const auto posted = TakePosted();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), (Posted{WM_ISP_EVENT, kEventResourceFailed, 3}));
    EXPECT_EQ(nand.pageWrites, 0u);
}

TEST_F(ResourceWriterTest, MissingFileOrDirectoryIsReported) {
    const std::string dir = home.Dir().string();
    for (const char* path : {"/nonexistent/romfs.img", dir.c_str(), ""}) {
        job.romfsPath = path;
        EXPECT_EQ(Write(ResourceImageKind::kRomfs), -1);
    }
    job.romfsPath = nullptr;
    EXPECT_EQ(Write(ResourceImageKind::kRomfs), -1);
    EXPECT_THAT(boxes, ElementsAre("Device:0 ==>Error : Can't open file.\n/nonexistent/romfs.img\n",
                                   "Device:0 ==>Error : Can't open file.\n" + dir + "\n",
                                   "Device:0 ==>Error : Can't open file.\n(no file is named)\n",
                                   "Device:0 ==>Error : Can't open file.\n(no file is named)\n"));
    EXPECT_TRUE(nand.testedBlocks.empty());
}

TEST_F(ResourceWriterTest, RunningOutOfBlocksStopsInsideTheArea) {
    layout = TestLayout(512, 4, 4, 0);
    home.WriteFile("romfs.img", Pattern(2048 + 10));
    for (std::uint32_t b = 1; b < 4; ++b) {
        nand.failingWrites.insert(RomfsBlock(b) * 4 + 1);
    }
    EXPECT_EQ(Write(ResourceImageKind::kRomfs), -1);
    EXPECT_THAT(boxes, ElementsAre("Device:0 ==> Error in write resource: no good block left for "
                                   "the rest of the image.\n"));
    for (auto page : nand.writtenPages) {
        EXPECT_GE(page / 4, RomfsBlock(1));
        EXPECT_LT(page / 4, RomfsBlock(4));
    }
    EXPECT_FALSE(nand.Programmed(RomfsBlock(0) * 4)); // no record: the area reads as empty
    EXPECT_FALSE(sim::ReadResourceArea(nand, GeometryOf(layout, ResourceImageKind::kRomfs)));
}

TEST_F(ResourceWriterTest, UnconfiguredRomfs1AreaSucceedsSilently) {
    layout = TestLayout(512, 4, 16, 0);
    job.romfs1Path = "/nonexistent/romfs1.img";
    EXPECT_EQ(Write(ResourceImageKind::kRomfs1), 0);
    EXPECT_TRUE(TakePosted().empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(nand.testedBlocks.empty());
}

struct FlagCase {
    ResourceImageKind kind;
    const char* encryptionSetting; // nullptr: key absent
    std::string head;
    std::uint32_t encrypted;
    std::uint32_t compressed;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << "kind " << static_cast<int>(c.kind) << ", head \"" << c.head << "\"";
}

class ResourceFlagTest : public ResourceWriterTest,
                         public ::testing::WithParamInterface<FlagCase> {};

TEST_P(ResourceFlagTest, RecordCarriesKindEncryptionAndCompression) {
    const auto& c = GetParam();
    if (c.encryptionSetting != nullptr) {
        config::Write(config::StringKey{config::kIspIni, "Romfs1", "Suppurtencryption"},
                      c.encryptionSetting);
    }
    home.WriteFile(c.kind == ResourceImageKind::kRomfs1 ? "romfs1.img" : "romfs.img", c.head);
    ASSERT_EQ(Write(c.kind), 0);
    const auto content = Read(c.kind);
    EXPECT_EQ(content.imageKind, static_cast<std::uint32_t>(c.kind));
    EXPECT_EQ(content.encrypted, c.encrypted);
    EXPECT_EQ(content.compressed, c.compressed);
    EXPECT_EQ(content.image, Bytes(c.head));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResourceFlagTest,
    ::testing::Values(FlagCase{ResourceImageKind::kRomfs1, nullptr, "FZKZ", 1, 1},
                      FlagCase{ResourceImageKind::kRomfs1, "0", "FZKZ\x01\x02", 0, 1},
                      FlagCase{ResourceImageKind::kRomfs, "1", "FZKZ", 0, 1},
                      FlagCase{ResourceImageKind::kRomfsBackup, "1", "FZK", 0, 0},
                      FlagCase{ResourceImageKind::kRomfs, nullptr, "xFZKZ", 0, 0},
                      FlagCase{ResourceImageKind::kRomfs, nullptr, "fzkz", 0, 0}));

TEST_F(ResourceWriterTest, KzipOutputCountsAsCompressed) {
    home.WriteFile("plain.bin", Pattern(10000));
    ASSERT_EQ(file_compress(home.Path("plain.bin").c_str(), romfs.c_str(), 2048), 0);
    ASSERT_EQ(Write(ResourceImageKind::kRomfs), 0);
    const auto content = Read(ResourceImageKind::kRomfs);
    EXPECT_EQ(content.compressed, 1u);
    EXPECT_EQ(content.image, Bytes(home.ReadFile("romfs.img")));
}

struct ProgressCase {
    ResourceImageKind kind;
    int dualImage;
    std::size_t length;
    std::vector<std::uint32_t> ranges;
    std::uint32_t steps;
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << "kind " << static_cast<int>(c.kind) << ", DualImage " << c.dualImage << ", length "
        << c.length;
}

class ResourceProgressTest : public ResourceWriterTest,
                             public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ResourceProgressTest, RangeAndStepsPerImage) {
    const auto& c = GetParam();
    layout = TestLayout(512, 4, 16, 16);
    config::Write(config::isp::kRomfsDualImage, c.dualImage);
    home.WriteFile(c.kind == ResourceImageKind::kRomfs1 ? "romfs1.img" : "romfs.img",
                   Pattern(c.length));
    ASSERT_EQ(Write(c.kind), 0);

    std::vector<std::uint32_t> ranges;
    std::uint32_t steps = 0;
    std::uint32_t busy = 0;
    for (const auto& p : TakePosted()) {
        ASSERT_EQ(p.message, WM_ISP_STATUS);
        if (p.wParam == kStatusProgressRange) {
            ranges.push_back(static_cast<std::uint32_t>(p.lParam));
        } else if (p.wParam == kStatusProgressStep) {
            EXPECT_EQ(p.lParam, job.devIndex);
            ++steps;
        } else {
            EXPECT_EQ(p.wParam, kStatusBusy);
            EXPECT_EQ(steps + ranges.size(), 0u) << "512 comes first";
            ++busy;
        }
    }
    EXPECT_EQ(busy, c.kind == ResourceImageKind::kRomfs ? 0u : 1u);
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_EQ(steps, c.steps);
}

// 512-byte pages, 16-block areas: range (length / 512 + 1 + 16), steps 16 + pages written.
INSTANTIATE_TEST_SUITE_P(
    Cases, ResourceProgressTest,
    ::testing::Values(ProgressCase{ResourceImageKind::kRomfs, 1, 0, {2 * 17}, 16},
                      ProgressCase{ResourceImageKind::kRomfs, 1, 1000, {2 * 18}, 18},
                      ProgressCase{ResourceImageKind::kRomfs, 1, 1024, {2 * 19}, 18},
                      ProgressCase{ResourceImageKind::kRomfsBackup, 1, 1024, {}, 18},
                      ProgressCase{ResourceImageKind::kRomfs1, 1, 1024, {}, 18},
                      ProgressCase{ResourceImageKind::kRomfs, 0, 1024, {19}, 18},
                      ProgressCase{ResourceImageKind::kRomfsBackup, 0, 2048, {21}, 20},
                      ProgressCase{ResourceImageKind::kRomfs1, 0, 513, {18}, 18}));

TEST_F(ResourceWriterTest, FailedRecordOrMapPageIsReported) {
    home.WriteFile("romfs.img", Pattern(3000));
    for (std::uint32_t page : {0u, 1u}) { // the record page, then the map page
        nand.failingWrites = {RomfsBlock(0) * 4 + page};
        boxes.clear();
        EXPECT_EQ(Write(ResourceImageKind::kRomfs), -1);
        EXPECT_THAT(boxes, ElementsAre("Device:0 ==>CMD_NAND_WRITEPAGE is error!\n"));
    }
}

TEST_F(ResourceWriterTest, StopRequestEndsTheWriteWithoutMessage) {
    home.WriteFile("romfs.img", Pattern(5000));
    program::RequestStop(1);
    ASSERT_EQ(Write(ResourceImageKind::kRomfs), 0); // another device's request
    program::RequestStop(0);
    EXPECT_EQ(Write(ResourceImageKind::kRomfs), -1);
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace kestrel::test
