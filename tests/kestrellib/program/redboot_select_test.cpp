#include "kestrellib/program/redboot_select.h"

#include "boot_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace kestrel;
using namespace kestrel::program;
using kestrel::test::MessageRecorder;
using kestrel::test::PatternBytes;

namespace {

struct TagCase {
    int loaderClass;
    int loaderLevel;
    std::optional<std::uint32_t> tag;
};

class HardwareTag : public testing::TestWithParam<TagCase> {};

TEST_P(HardwareTag, FollowsTheLoaderSignature) {
    EXPECT_EQ(WantedHardwareTag(GetParam().loaderClass, GetParam().loaderLevel), GetParam().tag);
}

INSTANTIATE_TEST_SUITE_P(RedbootSelect, HardwareTag,
                         testing::Values(TagCase{0, 1, 0x8000E000u}, TagCase{0, 2, 0x8000F000u},
                                         TagCase{0, 0, 0x8000D000u}, TagCase{0, 3, 0x8000D000u},
                                         TagCase{0, 15, 0x8000D000u}, TagCase{1, 2, 0x8050C000u},
                                         TagCase{1, 0, 0x8050A000u}, TagCase{1, 1, 0x8050A000u},
                                         TagCase{1, 3, 0x8050A000u}, TagCase{2, 1, std::nullopt},
                                         TagCase{3, 2, std::nullopt}, TagCase{15, 0, std::nullopt}),
                         [](const auto& info) {
                             return "Class" + std::to_string(info.param.loaderClass) + "Level" +
                                    std::to_string(info.param.loaderLevel);
                         });

std::string Record(std::uint32_t tag, const std::vector<std::uint8_t>& data,
                   std::uint32_t length = 0xFFFFFFFFu, std::uint32_t magic = kPackageRecordMagic) {
    if (length == 0xFFFFFFFFu) {
        length = static_cast<std::uint32_t>(data.size());
    }
    std::string out;
    for (std::uint32_t word : {magic, length, tag, 0u}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<char>(word >> (8 * i)));
        }
    }
    out.append(data.begin(), data.end());
    return out;
}

class RedbootPackage : public testing::Test {
protected:
    void SetUp() override {
        home_.WriteFile("boot.pkg", Record(0x8000D000u, d000_) + Record(0x8000E000u, e000_));
        package_ = home_.Path("boot.pkg");
    }
    std::vector<std::uint8_t> d000_ = PatternBytes(300, 1);
    std::vector<std::uint8_t> e000_ = PatternBytes(5000, 2);
    test::TempHome home_;
    MessageRecorder messages_;
    std::string package_;
};

TEST_F(RedbootPackage, TheMatchingRecordBecomesRedbootImgBesideThePackage) {
    const RedbootChoice choice = SelectRedbootImage(package_, 0, 1);
    EXPECT_EQ(choice.result, 0);
    EXPECT_EQ(choice.path, home_.Path("redboot.img"));
    EXPECT_EQ(home_.ReadFile("redboot.img"), std::string(e000_.begin(), e000_.end()));
    EXPECT_FALSE(std::filesystem::exists(home_.Path("redboot.img.part")));
    EXPECT_TRUE(messages_.Texts().empty());

    EXPECT_EQ(SelectRedbootImage(package_, 0, 0).path, home_.Path("redboot.img"));
    EXPECT_EQ(home_.ReadFile("redboot.img"), std::string(d000_.begin(), d000_.end()))
        << "an earlier redboot.img is replaced";
}

TEST_F(RedbootPackage, AFolderThatTakesNoFileGetsTheImageExtractedToTheTemporaryDirectory) {
    EXPECT_EQ(ExtractedImagePath(package_), home_.Path("redboot.img"));
    EXPECT_FALSE(std::filesystem::exists(home_.Path("redboot.img.part"))) << "the probe is gone";
    // A directory in the way of the scratch file refuses it for every user, root included.
    std::filesystem::create_directory(home_.Path("redboot.img.part"));
    const std::string expected = ExtractedImageFallback(package_);
    EXPECT_NE(expected.find("kestrel-redboot-"), std::string::npos);
    EXPECT_EQ(ExtractedImagePath(package_), expected) << "the check says where the run puts it";
    const RedbootChoice choice = SelectRedbootImage(package_, 0, 1);
    EXPECT_EQ(choice.result, 0);
    EXPECT_EQ(choice.path, expected);
    {
        // Closed before the file is removed: Windows removes no file that is open.
        std::ifstream in(choice.path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                  std::string(e000_.begin(), e000_.end()));
    }
    EXPECT_TRUE(messages_.Texts().empty());
    std::filesystem::remove(choice.path);
}

TEST_F(RedbootPackage, NoRecordForTheHardwareRefusesTheRun) {
    const RedbootChoice choice = SelectRedbootImage(package_, 1, 2);
    EXPECT_EQ(choice.result, -1);
    EXPECT_EQ(choice.path, package_);
    EXPECT_EQ(messages_.Texts(),
              std::vector<std::string>{"Image is error, can't support this H/W!\n"});
}

TEST_F(RedbootPackage, AMagicOtherThanPrawDoesNotMatch) {
    home_.WriteFile("odd.pkg", Record(0x8000E000u, e000_, 0xFFFFFFFFu, 0x57415251u));
    EXPECT_EQ(SelectRedbootImage(home_.Path("odd.pkg"), 0, 1).result, -1);
}

TEST_F(RedbootPackage, APlainImageIsUsedUnchangedForTheDefaultTagOnly) {
    home_.WriteFile("plain.img", std::string(4000, 'x'));
    const RedbootChoice plain = SelectRedbootImage(home_.Path("plain.img"), 0, 0);
    EXPECT_EQ(plain.result, 0);
    EXPECT_EQ(plain.path, home_.Path("plain.img"));
    EXPECT_TRUE(messages_.Texts().empty());
    EXPECT_EQ(SelectRedbootImage(home_.Path("plain.img"), 0, 2).result, -1);
}

TEST_F(RedbootPackage, LoaderClassTwoAndUpUsesThePathWithoutOpeningIt) {
    const RedbootChoice choice = SelectRedbootImage(home_.Path("absent.bin"), 3, 1);
    EXPECT_EQ(choice.result, 0);
    EXPECT_EQ(choice.path, home_.Path("absent.bin"));
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(RedbootPackage, AnUnreadableFileIsReportedAndRefusesTheRun) {
    const RedbootChoice choice = SelectRedbootImage(home_.Path("absent.bin"), 0, 1);
    EXPECT_EQ(choice.result, -1);
    EXPECT_EQ(choice.path, home_.Path("absent.bin"));
    EXPECT_EQ(messages_.Texts(),
              std::vector<std::string>{"Failed to Open " + home_.Path("absent.bin") + ".\n"});
}

TEST_F(RedbootPackage, ARecordCutShortRefusesTheRunAndLeavesNoImage) {
    std::string bytes = Record(0x8000E000u, e000_);
    home_.WriteFile("cut.pkg", bytes.substr(0, bytes.size() - 1));
    const RedbootChoice choice = SelectRedbootImage(home_.Path("cut.pkg"), 0, 1);
    EXPECT_EQ(choice.result, -1);
    EXPECT_FALSE(std::filesystem::exists(home_.Path("redboot.img")));
    EXPECT_FALSE(std::filesystem::exists(home_.Path("redboot.img.part")));
    EXPECT_EQ(messages_.Texts(),
              std::vector<std::string>{"Image is truncated, can't support this H/W!\n"});
}

TEST_F(RedbootPackage, AHugeRecordLengthEndsTheScanInsteadOfWrapping) {
    home_.WriteFile("wrap.pkg", Record(0x8000D000u, {}, 0xFFFFFFF0u) + Record(0x8000E000u, e000_));
    EXPECT_EQ(SelectRedbootImage(home_.Path("wrap.pkg"), 0, 1).result, -1);
}

TEST_F(RedbootPackage, APackageNamedRedbootImgIsReadBeforeItIsReplaced) {
    std::filesystem::rename(package_, home_.Path("redboot.img"));
    const RedbootChoice choice = SelectRedbootImage(home_.Path("redboot.img"), 0, 1);
    EXPECT_EQ(choice.result, 0);
    EXPECT_EQ(home_.ReadFile("redboot.img"), std::string(e000_.begin(), e000_.end()));
}

TEST_F(RedbootPackage, APathWithoutSeparatorExtractsIntoTheCurrentDirectory) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(home_.Dir());
    const RedbootChoice choice = SelectRedbootImage("boot.pkg", 0, 1);
    std::filesystem::current_path(previous);
    EXPECT_EQ(choice.result, 0);
    EXPECT_EQ(choice.path, "redboot.img");
    EXPECT_EQ(home_.ReadFile("redboot.img"), std::string(e000_.begin(), e000_.end()));
}

TEST(RedbootSelect, DirectoryEndsAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(PackageDirectory("C:\\work\\boot.bin"), "C:\\work\\");
    EXPECT_EQ(PackageDirectory("/srv/fw/boot.bin"), "/srv/fw/");
    EXPECT_EQ(PackageDirectory("boot.bin"), "");
}

} // namespace
