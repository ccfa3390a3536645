// Boot code packages: the record walk the selection and the checks share, the encoder, and
// images read out of a package in place, each bounded by its own record.

#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_image_writer.h"
#include "kestrellib/program/boot_package.h"
#include "kestrellib/program/redboot_select.h"

#include "boot_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace kestrel;
using namespace kestrel::program;
using kestrel::test::PatternBytes;
using kestrel::test::SetWordAt;

namespace {

std::vector<std::uint8_t> SmallImage(std::uint8_t seed) {
    BootImageContent content;
    content.blocks = {{0x100, PatternBytes(3000, seed)}, {0x200, PatternBytes(100, seed + 1)}};
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(EncodeBootImage(content, bytes));
    return bytes;
}

std::vector<PackageRecordInfo> Walk(const std::vector<std::uint8_t>& bytes) {
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    std::vector<PackageRecordInfo> records;
    WalkPackageRecords(stream, [&](const PackageRecordInfo& record) {
        records.push_back(record);
        return true;
    });
    return records;
}

class BootPackage : public testing::Test {
protected:
    std::string Save(const std::vector<std::uint8_t>& bytes, const char* name = "boot.pkg") {
        home_.WriteFile(name, std::string(bytes.begin(), bytes.end()));
        return home_.Path(name);
    }
    test::TempHome home_;
};

TEST_F(BootPackage, EncodedRecordsWalkBackWithTheirTagsLengthsAndOffsets) {
    const auto first = SmallImage(1), second = SmallImage(7);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeBootPackage({{0x8000D000u, first}, {0x8050C000u, second}}, bytes));
    ASSERT_EQ(bytes.size(), 32 + first.size() + second.size());

    const auto records = Walk(bytes);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].offset, 0u);
    EXPECT_EQ(records[0].hardwareTag, 0x8000D000u);
    EXPECT_EQ(records[0].recordLength, first.size());
    EXPECT_EQ(records[1].offset, 16 + first.size());
    EXPECT_EQ(records[1].hardwareTag, 0x8050C000u);
    for (const auto& record : records) {
        EXPECT_TRUE(record.IsPackageRecord());
        EXPECT_TRUE(record.complete);
    }
    EXPECT_TRUE(std::equal(first.begin(), first.end(), bytes.begin() + 16));
}

TEST_F(BootPackage, WalkStepsOverForeignRecordsAndFlagsATruncatedLastOne) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeBootPackage({{1, PatternBytes(40, 1)}, {2, PatternBytes(40, 2)}}, bytes));
    SetWordAt(bytes, 0, 0x12345678u); // the first record's magic is not "PRAW"
    bytes.resize(bytes.size() - 1);   // the second one lacks its last byte

    const auto records = Walk(bytes);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].IsPackageRecord());
    EXPECT_TRUE(records[0].complete);
    EXPECT_TRUE(records[1].IsPackageRecord());
    EXPECT_FALSE(records[1].complete);
}

TEST_F(BootPackage, HugeLengthsEndTheWalkInsteadOfTurningBack) {
    std::vector<std::uint8_t> bytes(64, 0);
    SetWordAt(bytes, 0, kPackageRecordMagic);
    SetWordAt(bytes, 4, 0xFFFFFFFFu);
    const auto records = Walk(bytes);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].complete);

    // Zero-length records of a file that is only headers: one visit per 16 bytes, then the end.
    EXPECT_EQ(Walk(std::vector<std::uint8_t>(16 * 5 + 15, 0)).size(), 5u);
}

TEST_F(BootPackage, VisitorStopsTheWalk) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeBootPackage({{1, {}}, {2, {}}, {3, {}}}, bytes));
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    int visits = 0;
    WalkPackageRecords(stream, [&](const PackageRecordInfo& record) {
        ++visits;
        return record.hardwareTag != 2;
    });
    EXPECT_EQ(visits, 2);
}

TEST_F(BootPackage, WrittenPackageFeedsTheSelection) {
    const auto wanted = SmallImage(3);
    const std::string path = home_.Path("boot.pkg");
    std::string error;
    ASSERT_TRUE(
        WriteBootPackageFile(path, {{0x8000D000u, SmallImage(2)}, {0x8000E000u, wanted}}, &error))
        << error;
    EXPECT_TRUE(LooksLikeBootPackage(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));

    const RedbootChoice choice = SelectRedbootImage(path, 0, 1);
    ASSERT_EQ(choice.result, 0);
    EXPECT_EQ(home_.ReadFile("redboot.img"), std::string(wanted.begin(), wanted.end()));
}

TEST_F(BootPackage, FailedWriteKeepsTheEarlierPackage) {
    const std::string path = Save({1, 2, 3});
    std::filesystem::create_directory(path + ".part"); // the temporary file can't be created
    std::string error;
    EXPECT_FALSE(WriteBootPackageFile(path, {{1, SmallImage(1)}}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(home_.ReadFile("boot.pkg"), std::string("\x01\x02\x03", 3));
}

TEST_F(BootPackage, ImagesAreCheckedInPlaceWithinTheirRecords) {
    const auto first = SmallImage(1), second = SmallImage(9);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeBootPackage({{1, first}, {2, second}}, bytes));
    const std::string path = Save(bytes);
    const auto records = Walk(bytes);

    for (const auto& record : records) {
        BootImageReader reader;
        ASSERT_TRUE(reader.Open(path, record.DataOffset(), record.recordLength));
        std::vector<SubHeader> blocks;
        EXPECT_EQ(CheckBootImage(reader, &blocks), ImageError::kNone);
        ASSERT_EQ(blocks.size(), 2u);
        EXPECT_EQ(blocks[0].blockLength, 3000u);
    }

    // The first record announces one byte less than its image: its last block would run into
    // the next record, which the reader must not take for its data.
    SetWordAt(bytes, 4, static_cast<std::uint32_t>(first.size() - 1));
    Save(bytes);
    BootImageReader reader;
    ASSERT_TRUE(reader.Open(path, 16, first.size() - 1));
    std::uint32_t errorBlock = 0;
    EXPECT_EQ(CheckBootImage(reader, nullptr, &errorBlock), ImageError::kTruncated);
    EXPECT_EQ(errorBlock, 1u);
}

TEST_F(BootPackage, WholeImageCheckFindsABadTagThatTheChecksumPassIgnores) {
    auto bytes = SmallImage(4);
    SetWordAt(bytes, 32 + 12 + 3000, 0x01020304u); // second sub-header's tag
    const std::string path = Save(bytes, "image.bin");
    BootImageReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::vector<SubHeader> blocks;
    std::uint32_t errorBlock = 0;
    EXPECT_EQ(CheckBootImage(reader, &blocks, &errorBlock), ImageError::kTag);
    EXPECT_EQ(errorBlock, 1u);
    EXPECT_TRUE(blocks.empty());
}

} // namespace
