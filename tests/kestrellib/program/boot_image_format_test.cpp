#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_image_writer.h"

#include "boot_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kestrel;
using namespace kestrel::program;
using kestrel::test::PatternBytes;
using kestrel::test::SetWordAt;
using kestrel::test::WordAt;

namespace {

BootImageContent ThreeBlocks(bool longHeader) {
    BootImageContent content;
    content.longHeader = longHeader;
    content.bootHeaderValue = 0x30000;
    content.word6 = 0x1234;
    content.word7 = 0x5678;
    content.blocks = {{0x100, PatternBytes(5000, 1)},
                      {0x200, PatternBytes(6, 2)},
                      {0x1305, PatternBytes(4099, 3)}};
    return content;
}

std::vector<std::uint8_t> Encode(const BootImageContent& content) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(EncodeBootImage(content, bytes, &error)) << error;
    return bytes;
}

class BootImageFile : public testing::Test {
protected:
    std::string Save(const std::vector<std::uint8_t>& bytes) {
        home_.WriteFile("image.bin", std::string(bytes.begin(), bytes.end()));
        return home_.Path("image.bin");
    }
    test::TempHome home_;
};

TEST_F(BootImageFile, BothHeaderFormsReadBackBlockForBlock) {
    for (bool longHeader : {true, false}) {
        const BootImageContent content = ThreeBlocks(longHeader);
        BootImage image;
        ASSERT_EQ(LoadBootImage(Save(Encode(content)), image), ImageError::kNone);
        ASSERT_EQ(image.blocks.size(), content.blocks.size());
        for (std::size_t i = 0; i < content.blocks.size(); ++i) {
            EXPECT_EQ(image.blocks[i].subHeader.blockType, content.blocks[i].blockType);
            EXPECT_EQ(image.blocks[i].data, content.blocks[i].data) << "block " << i;
        }
    }
}

TEST_F(BootImageFile, ShortHeaderPutsTheFirstSubHeaderAtOffset16) {
    const std::vector<std::uint8_t> bytes = Encode(ThreeBlocks(false));
    EXPECT_EQ(WordAt(bytes, 16), kImageFileTag);
    EXPECT_EQ(WordAt(bytes, 20), 5000u);
    BootImageReader reader;
    ASSERT_TRUE(reader.Open(Save(bytes)));
    ASSERT_EQ(reader.ReadHeader(), ImageError::kNone);
    EXPECT_EQ(reader.FirstBlockOffset(), 16u);
    // Bytes 16-31 were read as header words 4-7 although they belong to the first block.
    EXPECT_EQ(reader.Header().bootHeaderValue, kImageFileTag);
}

TEST_F(BootImageFile, ChecksumCoversTheFirst2048BytesOfEachBlockInWholeWords) {
    BootImageContent content = ThreeBlocks(true);
    const std::uint32_t sum = WordAt(Encode(content), 12);
    content.blocks[0].data[2048] ^= 0xFF; // beyond the covered span
    content.blocks[1].data[5] ^= 0xFF;    // in the trailing partial word of a 6-byte block
    content.blocks[2].data[4098] ^= 0xFF;
    EXPECT_EQ(WordAt(Encode(content), 12), sum);
    content.blocks[1].data[3] ^= 0x01;
    EXPECT_EQ(WordAt(Encode(content), 12), sum + 0x01000000u);

    const std::uint8_t six[] = {1, 0, 0, 0, 9, 9};
    EXPECT_EQ(AddChecksumWords(0xFFFFFFFFu, six), 0u) << "the sum wraps modulo 2^32";
}

TEST_F(BootImageFile, NoBlocksNeedsAZeroChecksum) {
    BootImageContent content;
    std::vector<std::uint8_t> bytes = Encode(content);
    BootImage image;
    EXPECT_EQ(LoadBootImage(Save(bytes), image), ImageError::kNone);
    EXPECT_TRUE(image.blocks.empty());
    SetWordAt(bytes, 12, 1);
    EXPECT_EQ(LoadBootImage(Save(bytes), image), ImageError::kChecksum);
}

struct Damage {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> apply;
    ImageError error;
    const char* message;
};

class DamagedFile : public BootImageFile, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedFile, IsRefusedWithItsMessage) {
    std::vector<std::uint8_t> bytes = Encode(ThreeBlocks(true));
    GetParam().apply(bytes);
    BootImage image;
    const ImageError error = LoadBootImage(Save(bytes), image);
    EXPECT_EQ(error, GetParam().error);
    EXPECT_EQ(ImageErrorMessage(error, 1), GetParam().message);
}

// Offsets in the three-block file with a 32-byte header.
constexpr std::size_t kSecondSub = 32 + 12 + 5000;
constexpr std::size_t kThirdSub = kSecondSub + 12 + 6;

INSTANTIATE_TEST_SUITE_P(
    BootImageFile, DamagedFile,
    testing::Values(
        Damage{"ShorterThan32Bytes", [](auto& b) { b.resize(31); }, ImageError::kHeaderRead,
               "!fread(&imageheard, 1, sizeof(Image_heard_t), fp)\n"},
        Damage{"WrongMagic", [](auto& b) { b[0] ^= 1; }, ImageError::kHeaderMagic,
               "!imageheard.heard != IMAGE_FILE_HEADER\n"},
        Damage{"MoreBlocksCountedThanPresent", [](auto& b) { SetWordAt(b, 8, 4); },
               ImageError::kChecksumSubHeaderRead, "!fread(subHeader, 1, 12, fp))\n"},
        Damage{"ChecksumOffByOne", [](auto& b) { SetWordAt(b, 12, WordAt(b, 12) + 1); },
               ImageError::kChecksum, "checkSum != imageheard.checkSum\n"},
        Damage{"ChangedCoveredByte", [](auto& b) { b[kThirdSub + 12] ^= 0x80; },
               ImageError::kChecksum, "checkSum != imageheard.checkSum\n"},
        // The checksum pass does not test tags: the writing pass finds the wrong one.
        Damage{"WrongTagRightChecksum", [](auto& b) { SetWordAt(b, kSecondSub, 0xD4C1C7A1u); },
               ImageError::kTag, "subHeader[0] != IMAGE_FILE_TAG\n"},
        Damage{"LastBlockCutShort", [](auto& b) { b.resize(b.size() - 1); }, ImageError::kTruncated,
               "The image file ends inside sub-block 2.\n"},
        Damage{"LengthFieldPastTheEnd", [](auto& b) { SetWordAt(b, kThirdSub + 4, 0xFFFFFFF0u); },
               ImageError::kTruncated, "The image file ends inside sub-block 2.\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BootImageFile, TruncationIsFoundBeforeAnyBlockIsDelivered) {
    std::vector<std::uint8_t> bytes = Encode(ThreeBlocks(true));
    bytes.resize(kThirdSub + 12 + 3000); // the checksum span of the last block is intact
    BootImageReader reader;
    ASSERT_TRUE(reader.Open(Save(bytes)));
    ASSERT_EQ(reader.ReadHeader(), ImageError::kNone);
    EXPECT_EQ(reader.ChecksumPass(), ImageError::kTruncated);
    EXPECT_EQ(reader.BlockIndex(), 2u);
}

TEST_F(BootImageFile, ChecksumPassListsTheSubHeaders) {
    BootImageReader reader;
    ASSERT_TRUE(reader.Open(Save(Encode(ThreeBlocks(true)))));
    ASSERT_EQ(reader.ReadHeader(), ImageError::kNone);
    std::vector<SubHeader> subs;
    ASSERT_EQ(reader.ChecksumPass(&subs), ImageError::kNone);
    ASSERT_EQ(subs.size(), 3u);
    EXPECT_EQ(subs[2].blockLength, 4099u);
    EXPECT_EQ(subs[2].blockType, 0x1305u);
    EXPECT_EQ(BlockKind(subs[2].blockType), 0x300u);
}

TEST(BootImageWriter, RefusesShortHeadersTheReaderWouldMisread) {
    BootImageContent content;
    content.longHeader = false;
    content.blocks = {{0x100, std::vector<std::uint8_t>(3)}};
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(EncodeBootImage(content, bytes)) << "31 bytes: the 32-byte read would fail";
    content.blocks[0].data.resize(4);
    EXPECT_TRUE(EncodeBootImage(content, bytes));
    EXPECT_EQ(bytes.size(), 32u);
}

} // namespace
