// The resource image check: images are read as the build made them (plain, compressed,
// Scrivet-encoded with or without the plain header) and measured against their areas with one
// block kept for the area record and map, as the resource writer takes them.

#include "app/station/resource_image_check.h"

#include "kestrellib/romfs/romfs_exports.h"
#include "outside/kzip/kzip.h"
#include "outside/scrivet/scrivet.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

using namespace kestrel::station;

namespace {

struct Outcome {
    int failures;
    std::string text;
};

class ResourceImageCheckTest : public ::testing::Test {
protected:
    ResourceImageCheckTest() {
        std::filesystem::create_directories(home.Dir() / "tree" / "sub");
        home.WriteFile("tree/sub/a.txt", "alpha\n");
        home.WriteFile("tree/b.bin", std::string(50000, 'b'));
        EXPECT_EQ(mk_romfs(home.Path("tree").c_str(), Image().c_str(), 1, "RES"), 0);
    }

    std::string Image() const { return home.Path("res.img"); }

    Outcome Check(const std::string& path, int areaMb, ImageEncoding encoding,
                  AreaGeometry geometry = {}) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
        CheckReport report(out.get());
        const auto blocks = static_cast<std::uint32_t>(
            (std::uint64_t{1} << 20) * static_cast<std::uint64_t>(areaMb) / geometry.BlockBytes());
        CheckResourceImage({"Romfs", path, areaMb, blocks, encoding}, geometry, report);
        std::fflush(out.get());
        std::rewind(out.get());
        std::string text;
        for (int c; (c = std::fgetc(out.get())) != EOF;) {
            text += static_cast<char>(c);
        }
        return {report.Failures(), text};
    }

    kestrel::test::TempHome home;
};

TEST_F(ResourceImageCheckTest, ImagesAreReadAsTheBuildMadeThem) {
    const std::string compressed = home.Path("res.kz");
    const std::string encoded = home.Path("res.enc");
    const std::string encodedWithSkip = home.Path("res.skip");
    ASSERT_EQ(file_compress(Image().c_str(), compressed.c_str(), 2048), 0);
    ASSERT_EQ(EncodeFunc(compressed.c_str(), encoded.c_str(), 2048, 5), 0);
    ASSERT_EQ(EncodeFuncWithSkip(Image().c_str(), encodedWithSkip.c_str(), 5), 0);

    const Outcome plain = Check(Image(), 1, ImageEncoding::kPlain);
    EXPECT_EQ(plain.failures, 0) << plain.text;
    EXPECT_NE(plain.text.find("ok     Romfs: " + Image() + ": ROMFS image, "), std::string::npos)
        << plain.text;
    EXPECT_NE(plain.text.find("volume \"RES\""), std::string::npos) << plain.text;

    const Outcome kz = Check(compressed, 1, ImageEncoding::kPlain);
    EXPECT_EQ(kz.failures, 0) << kz.text;
    EXPECT_NE(kz.text.find("ROMFS image, compressed"), std::string::npos) << kz.text;

    const Outcome enc = Check(encoded, 1, ImageEncoding::kScrivet);
    EXPECT_EQ(enc.failures, 0) << enc.text;
    EXPECT_NE(enc.text.find("Scrivet-encoded, compressed"), std::string::npos) << enc.text;

    EXPECT_EQ(Check(encodedWithSkip, 1, ImageEncoding::kScrivetWithSkip).failures, 0);

    // Read in a way other than it was made, an image is not taken for sound.
    const Outcome wrongKey = Check(encodedWithSkip, 1, ImageEncoding::kPlain);
    EXPECT_EQ(wrongKey.failures, 1) << wrongKey.text;
    EXPECT_NE(wrongKey.text.find("is not a sound ROMFS image"), std::string::npos);
    EXPECT_EQ(Check(Image(), 1, ImageEncoding::kScrivet).failures, 1);
}

TEST_F(ResourceImageCheckTest, AnImageFitsWhenTheBlocksAfterTheRecordBlockHoldIt) {
    // A 1 MB area of 128 KiB blocks holds 7 blocks of image after its record block.
    const std::uint32_t room = 7 * 128 * 1024;
    home.WriteFile("exact.img", std::string(room, '\0'));
    home.WriteFile("over.img", std::string(room + 1, '\0'));

    const Outcome exact = Check(home.Path("exact.img"), 1, ImageEncoding::kPlain);
    EXPECT_NE(exact.text.find("fit the Romfs area of 1 MB (8 blocks of 128 KiB), 0 blocks to "
                              "spare"),
              std::string::npos)
        << exact.text;
    const Outcome over = Check(home.Path("over.img"), 1, ImageEncoding::kPlain);
    EXPECT_NE(over.text.find("need 8 blocks, more than the 7"), std::string::npos) << over.text;
    EXPECT_NE(over.text.find("(\"Rom image is to long!\")"), std::string::npos) << over.text;
    EXPECT_EQ(over.failures, exact.failures + 1); // both fail to parse; only one to fit

    // Larger blocks leave less room in the same area.
    const Outcome bigBlocks = Check(Image(), 1, ImageEncoding::kPlain, {4096, 256});
    EXPECT_EQ(bigBlocks.failures, 1) << bigBlocks.text;
    EXPECT_NE(bigBlocks.text.find("can't hold an image"), std::string::npos) << bigBlocks.text;
}

TEST_F(ResourceImageCheckTest, AMapLargerThanItsBlockIsRefused) {
    // 512-byte pages, 32 per block: the map shares its block with the record page, so it may
    // take 31 pages: 7936 blocks (124 MB); 125 MB has 8000 blocks, whose map needs 32 pages.
    const Outcome big = Check(Image(), 125, ImageEncoding::kPlain, {512, 32});
    EXPECT_NE(big.text.find("block map"), std::string::npos) << big.text;
    EXPECT_EQ(big.failures, 1);
    EXPECT_EQ(Check(Image(), 124, ImageEncoding::kPlain, {512, 32}).failures, 0);
}

TEST_F(ResourceImageCheckTest, MissingOrUnnamedImagesFail) {
    const Outcome missing = Check(home.Path("none.img"), 8, ImageEncoding::kPlain);
    EXPECT_EQ(missing.failures, 1);
    EXPECT_NE(missing.text.find("none.img is missing"), std::string::npos) << missing.text;
    const Outcome unnamed = Check("", 8, ImageEncoding::kPlain);
    EXPECT_NE(unnamed.text.find("no image is named"), std::string::npos) << unnamed.text;
    const Outcome directory = Check(home.Path("tree"), 8, ImageEncoding::kPlain);
    EXPECT_EQ(directory.failures, 1);
}

} // namespace
