#include "kestrellib/device/nand_class.h"
#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/program/config_files.h"
#include "platform/message_box/message_box.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

using namespace kestrel;
using namespace kestrel::device;

namespace {

NandInfo InfoWithId(std::initializer_list<int> id, std::uint32_t idLength) {
    NandInfo info{};
    int i = 0;
    for (int byte : id) {
        info.id[i++] = static_cast<std::uint8_t>(byte);
    }
    info.idLength = idLength;
    return info;
}

struct GeometryCase {
    const char* name;
    std::vector<int> id;
    std::uint32_t idLength;
    int nandClass;
    NandGeometry expected;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
    *os << c.name;
}

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, DecodesClassAndFormula) {
    const GeometryCase& c = GetParam();
    NandInfo info{};
    for (std::size_t i = 0; i < c.id.size(); ++i) {
        info.id[i] = static_cast<std::uint8_t>(c.id[i]);
    }
    info.idLength = c.idLength;
    EXPECT_EQ(ClassifyNandId(info), c.nandClass);
    std::string error;
    const auto g = DeriveNandGeometry(info, &error);
    ASSERT_TRUE(g) << error;
    EXPECT_EQ(g->pageSize, c.expected.pageSize);
    EXPECT_EQ(g->pagesPerBlock, c.expected.pagesPerBlock);
    EXPECT_EQ(g->blockCount, c.expected.blockCount);
    EXPECT_EQ(g->eccMode, c.expected.eccMode);
}

// s = id3 & 3, d = (id3 >> 4) & 3; K by id byte 1.
INSTANTIATE_TEST_SUITE_P(
    EveryClass, Geometry,
    ::testing::Values(
        GeometryCase{"class11_not_class1",
                     {0xEC, 0xD7, 0x94, 0x7A, 0x54, 0x43},
                     6,
                     11,
                     {8192, 128, 4096, 1}},
        GeometryCase{"class1",
                     {0xEC, 0xDC, 0x10, 0x95, 0x54, 0x00},
                     6,
                     1,
                     {4096, 64, 2048, 0}}, // s=1 d=1 K=524288
        GeometryCase{"class2_micron", {0x2C, 0x88, 0x00, 0x01}, 4, 2, {2048, 256, 16384, 1}},
        GeometryCase{"class2_intel_other", {0x89, 0x68, 0x00, 0x00}, 4, 2, {1024, 256, 16384, 1}},
        GeometryCase{"class9", {0xAD, 0xD7, 0x94, 0xDA, 0x74, 0xC3}, 6, 9, {8192, 256, 2048, 1}},
        GeometryCase{"class10", {0xAD, 0xDE, 0x94, 0xD2, 0x04, 0x43}, 6, 10, {8192, 256, 4096, 1}},
        GeometryCase{"class3_2MiB",
                     {0xAD, 0xD7, 0x00, 0x92, 0x00, 0x00},
                     6,
                     3,
                     {8192, 256, 2048, 1}}, // page 2048<<2, B 2 MiB, K 4194304
        GeometryCase{
            "class3_768KiB", {0xAD, 0xD5, 0x00, 0x31, 0x00, 0x00}, 6, 3, {4096, 192, 2730, 1}},
        GeometryCase{"class4_ecc", {0x2C, 0xD7, 0x00, 0x15, 0x00}, 5, 4, {2048, 64, 32768, 1}},
        GeometryCase{
            "class4_length4_is_class0", {0x2C, 0xD7, 0x00, 0x15}, 4, 0, {2048, 64, 32768, 0}},
        GeometryCase{"class0_example", {0x2C, 0xDA, 0x00, 0x15}, 4, 0, {2048, 64, 2048, 0}},
        GeometryCase{
            "class5", {0x98, 0xD5, 0x00, 0x32, 0x00, 0x00, 0x00}, 7, 5, {8192, 128, 2048, 1}},
        GeometryCase{"class6", {0x92, 0xF1, 0x80, 0x95, 0x40}, 5, 6, {2048, 64, 1024, 0}},
        GeometryCase{"class7", {0x98, 0xDE, 0x95, 0x32, 0xF4}, 5, 7, {4096, 128, 4096, 0}},
        GeometryCase{"class8", {0x98, 0xDE, 0x94, 0x82, 0xF4}, 5, 8, {8192, 256, 4096, 0}},
        GeometryCase{"small_page_73", {0xEC, 0x73}, 2, 0, {2048, 64, 128, 0}},
        GeometryCase{"small_page_79", {0xEC, 0x79}, 2, 0, {2048, 64, 1024, 0}},
        GeometryCase{"small_page_E6", {0x98, 0xE6}, 2, 0, {2048, 64, 64, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Geometry, SdAndSerialBootTakeTheRecordUnchangedWithEccZero) {
    for (const char* tag : {"SDBT", "SPI-NOR"}) {
        NandInfo info{};
        std::memcpy(info.id, tag, std::strlen(tag));
        info.pageSize = 512;
        info.pagesPerBlock = 128;
        info.blockCount = 77;
        const auto g = DeriveNandGeometry(info, nullptr);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->pageSize, 512u);
        EXPECT_EQ(g->pagesPerBlock, 128u);
        EXPECT_EQ(g->blockCount, 77u);
        EXPECT_EQ(g->eccMode, 0u);
    }
}

// An unknown id byte 1 decodes to an 8 GiB chip; of 64 or 128 KiB blocks that is 131072 or
// 65536 blocks, which the device's 16-bit block count cannot hold (0 once written back).
struct TooManyBlocksCase {
    const char* name;
    int idByte3;
    std::uint32_t blocks; // what the formula gives
    bool decodes;
};

class GeometryBeyondTheRecord : public ::testing::TestWithParam<TooManyBlocksCase> {};

TEST_P(GeometryBeyondTheRecord, MoreBlocksThanTheRecordHoldsAreRefusedWithTheCounts) {
    const TooManyBlocksCase& c = GetParam();
    test::TempHome home;
    home.WriteFile("profile.ini", "[General]\nEnable=1\n");
    std::vector<std::string> boxes;
    auto previous = platform::SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { boxes.push_back(text); });
    const NandInfo info = InfoWithId({0xC2, 0x01, 0x00, c.idByte3}, 4);
    ASSERT_EQ(ClassifyNandId(info), 0);
    std::string error;
    const auto g = DeriveNandGeometry(info, &error);
    const int decoded = DecodeNandGeometry(info, 4);
    const bool agrees = NandGeometryAgrees(info, 4);
    platform::SetMessageBoxHandler(previous);
    if (c.decodes) {
        ASSERT_TRUE(g) << error;
        EXPECT_EQ(g->blockCount, c.blocks);
        EXPECT_EQ(decoded, 0);
        EXPECT_TRUE(agrees);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(config::Read(config::profile::kTotalBlkNo), static_cast<int>(c.blocks));
        return;
    }
    EXPECT_FALSE(g);
    EXPECT_NE(error.find(std::to_string(c.blocks) + " blocks"), std::string::npos) << error;
    EXPECT_EQ(decoded, -1);
    EXPECT_FALSE(agrees);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind("Device:4 ==> Unsupported NAND flash: ", 0), 0u) << boxes[0];
    EXPECT_EQ(home.ReadFile("profile.ini"), "[General]\nEnable=1\n");
}

INSTANTIATE_TEST_SUITE_P(UnknownChipOf8GiB, GeometryBeyondTheRecord,
                         ::testing::Values(TooManyBlocksCase{"Blocks64KiB", 0x00, 131072, false},
                                           TooManyBlocksCase{"Blocks128KiB", 0x10, 65536, false},
                                           TooManyBlocksCase{"Blocks256KiB", 0x20, 32768, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Geometry, Class3WithoutBlockSizeFailsWithAMessageAndKeepsTheProfile) {
    test::TempHome home;
    home.WriteFile("profile.ini", "[General]\nEnable=1\nPageSize=4096\n");
    std::vector<std::string> boxes;
    auto previous = platform::SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { boxes.push_back(text); });
    const NandInfo info = InfoWithId({0xAD, 0xD7, 0x00, 0x45, 0x00, 0x00}, 6);
    EXPECT_EQ(DecodeNandGeometry(info, 3), -1);
    platform::SetMessageBoxHandler(previous);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Device:3 ==> ", 0), 0u) << boxes[0];
    EXPECT_EQ(home.ReadFile("profile.ini"), "[General]\nEnable=1\nPageSize=4096\n");
}

TEST(Geometry, DecodeWritesTheProfileAndEccModeZeroInIspIniWins) {
    test::TempHome home;
    const NandInfo info = InfoWithId({0xAD, 0xDE, 0x94, 0xD2, 0x04, 0x43}, 6);
    ASSERT_EQ(DecodeNandGeometry(info, 0), 0);
    EXPECT_EQ(config::Read(config::profile::kEnable), 1);
    EXPECT_EQ(config::Read(config::profile::kPageSize), 8192);
    EXPECT_EQ(config::Read(config::profile::kPageNoPerBlk), 256);
    EXPECT_EQ(config::Read(config::profile::kTotalBlkNo), 4096);
    EXPECT_EQ(config::Read(config::profile::kEccMode), 0) << "eccmode absent reads as 0";
    home.WriteFile("isp.ini", "[General]\neccmode=1\n");
    ASSERT_EQ(DecodeNandGeometry(info, 0), 0);
    EXPECT_EQ(config::Read(config::profile::kEccMode), 1);
}

TEST(Geometry, LoadProfileAppliesOverridesAndSpareLayout) {
    test::TempHome home;
    NandInfo info{};
    info.pageSize = 2048;
    info.pagesPerBlock = 64;
    info.blockCount = 1024;
    info.eccSize = 99;
    NandInfo untouched = info;
    EXPECT_EQ(LoadNandProfile(info), -1);
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);

    home.WriteFile("profile.ini",
                   "[General]\nEnable=1\nPageSize=0\nPageNoPerBlk=128\nTotalBlkNo=0\necc_mode=1\n");
    ASSERT_EQ(LoadNandProfile(info), 0);
    EXPECT_EQ(info.pageSize, 2048) << "PageSize 0 keeps the device's page size";
    EXPECT_EQ(info.pagesPerBlock, 128);
    EXPECT_EQ(info.pagesPerBlockShift, 7);
    EXPECT_EQ(info.blockCount, 1024);

    home.WriteFile("profile.ini", "[General]\nEnable=1\nPageSize=4096\necc_mode=1\n");
    ASSERT_EQ(LoadNandProfile(info), 0);
    EXPECT_EQ(info.eccSize, 176);
    EXPECT_EQ(info.spareSize, 256);
    EXPECT_EQ(info.rawPageSize, 4352);
    EXPECT_EQ(info.spareParamA, 64);
    EXPECT_EQ(info.spareParamB, 44);

    home.WriteFile("profile.ini", "[General]\nEnable=1\necc_mode=5\n");
    const NandInfo before = info;
    ASSERT_EQ(LoadNandProfile(info), 0);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << "other modes leave the layout";
}

TEST(Geometry, OldRecordConversionAndLargePageFlag) {
    OldNandInfo old{{16, 2112, 2048, 32, 0, 4096, 0, 0}};
    NandInfo info;
    EXPECT_TRUE(ConvertOldNandInfo(old, info));
    EXPECT_EQ(info.pagesPerBlock, 256);
    EXPECT_EQ(info.pagesPerBlockShift, 8);
    EXPECT_EQ(info.rawPageSize, 2112);
    EXPECT_EQ(info.pageSize, 2048);
    EXPECT_EQ(info.blockCount, 4096);
    EXPECT_EQ(info.blockCountShift, 12);
    old.word[0] = 64;
    EXPECT_FALSE(ConvertOldNandInfo(old, info));
    EXPECT_EQ(info.pagesPerBlock, 64);
}

} // namespace
