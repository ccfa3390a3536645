// mk_romfs and mk_romfs_ex as the image-wrapping page calls them, with the isp.ini switches
// for the second image, compression and encoding.
#include "kestrellib/romfs/romfs_exports.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "kestrellib/romfs/romfs_test_support.h"
#include "outside/kzip/kzip.h"
#include "outside/scrivet/scrivet.h"
#include "support/loaded_library.h"
#include "support/temp_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

using romfs::RomfsImage;
using ::testing::HasSubstr;

class RomfsExports : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(home_.Dir() / "res" / "image" / "fw.rap", std::string(5000, 'f'));
        WriteBytes(home_.Dir() / "res1" / "data.bin", "second");
    }

    int BuildEx(const char* output = "out.img") {
        RomfsBuildRequest request{"res", output, 0x00010002, "Line 7"};
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = mk_romfs_ex(&request);
        out_ = ::testing::internal::GetCapturedStdout();
        err_ = ::testing::internal::GetCapturedStderr();
        return status;
    }

    // Loads and checks an image; returns its version word.
    static std::uint32_t CheckedVersion(const fs::path& path, const char* volume = "Line 7") {
        std::string error;
        auto image = RomfsImage::Load(path.string(), &error);
        EXPECT_TRUE(image) << path << ": " << error;
        if (!image) {
            return 0;
        }
        EXPECT_TRUE(image->Check(&error)) << error;
        EXPECT_EQ(image->VolumeName(), volume);
        return image->Header().versionWord;
    }

    TempHome home_;
    CurrentDirectory cwd_{home_.Dir()};
    std::string out_;
    std::string err_;
};

TEST_F(RomfsExports, MkRomfsReturnsTheStatusOfAFailureInsteadOfEndingTheProcess) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mk_romfs("missing", "x.img", 0, "v"), 3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "stat(" + RootPath("missing") + ") failed: " + ExamineErrorText(RootPath("missing")) +
                  "\n");
    EXPECT_FALSE(fs::exists("x.img"));
}

TEST_F(RomfsExports, WithoutIspIniOnlyTheResourceImageIsBuilt) {
    ASSERT_EQ(BuildEx(), 0) << err_;
    EXPECT_EQ(CheckedVersion("out.img"), 0x00010002u);
    EXPECT_THAT(out_, HasSubstr("out.img completed\n"));
    EXPECT_EQ(std::distance(fs::directory_iterator(home_.Dir()), {}), 3) << "res, res1, out.img";
}

struct SecondImageCase {
    const char* what;
    int compress;
    int encryption;
    int flag;
};

void PrintTo(const SecondImageCase& c, std::ostream* os) {
    *os << c.what;
}

class RomfsSecondImage : public RomfsExports,
                         public ::testing::WithParamInterface<SecondImageCase> {};

TEST_P(RomfsSecondImage, IsBuiltWithTheIspIniVersionAndDecodesToAValidImage) {
    const SecondImageCase& c = GetParam();
    home_.WriteFile("isp.ini", "[WrapImage]\nenable=1\nRomFs1InputDir=res1\n"
                               "RomFs1OutPutName=second.img\nversion=0x00030004\n"
                               "SuppurtenCompress=" +
                                   std::to_string(c.compress) + "\nflag=" + std::to_string(c.flag) +
                                   "\n[Romfs1]\nSuppurtencryption=" + std::to_string(c.encryption) +
                                   "\n");
    ASSERT_EQ(BuildEx(), 0) << err_;
    EXPECT_FALSE(fs::exists("tmp.ing"));
    EXPECT_FALSE(fs::exists("romtmp.ing"));

    // Undo what was done to each image, in reverse order.
    fs::path first = "out.img";
    fs::path second = "second.img";
    if (c.encryption != 0) {
        const std::string head = ReadBytes(second).substr(0, 4);
        const std::string plainHead = c.compress ? "FZKZ" : std::string("\x2E\x6D\x6F\x52", 4);
        EXPECT_EQ(head == plainHead, c.flag != 0) << "only the skipping encoder keeps the header";
        const int decoded = c.flag ? DecodeFuncWithSkip("second.img", "second.dec", 5)
                                   : DecodeFunc("second.img", "second.dec", 2048, 5);
        ASSERT_EQ(decoded, 0);
        second = "second.dec";
    }
    if (c.compress != 0) {
        for (fs::path* image : {&first, &second}) {
            EXPECT_EQ(ReadBytes(*image).substr(0, 4), "FZKZ");
            const fs::path plain = image->string() + ".raw";
            ASSERT_EQ(file_decompress(image->string().c_str(), plain.string().c_str()), 0);
            *image = plain;
        }
    }
    EXPECT_EQ(CheckedVersion(first), 0x00010002u);
    EXPECT_EQ(CheckedVersion(second), 0x00030004u) << "the second image takes isp.ini's version";
}

INSTANTIATE_TEST_SUITE_P(Switches, RomfsSecondImage,
                         ::testing::Values(SecondImageCase{"Encoded", 0, 1, 0},
                                           SecondImageCase{"EncodedWithSkip", 0, 1, 1},
                                           SecondImageCase{"Plain", 0, 0, 0},
                                           SecondImageCase{"CompressedAndEncoded", 1, 1, 0},
                                           SecondImageCase{"Compressed", 1, 0, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(RomfsExports, EmptySecondInputDirectoryIsRefused) {
    home_.WriteFile("isp.ini", "[WrapImage]\nenable=1\nRomFs1OutPutName=second.img\n");
    EXPECT_EQ(BuildEx(), 3);
    EXPECT_THAT(err_, HasSubstr("RomFs1InputDir is empty: refusing to pack the root"));
    EXPECT_TRUE(fs::exists("out.img")) << "the resource image was built first";
    EXPECT_FALSE(fs::exists("second.img"));
    EXPECT_FALSE(fs::exists("tmp.ing"));
}

TEST_F(RomfsExports, FirstFailedBuildStopsTheRequest) {
    home_.WriteFile("isp.ini", "[WrapImage]\nenable=1\nRomFs1InputDir=res1\n"
                               "RomFs1OutPutName=second.img\n");
    EXPECT_EQ(BuildEx("no-such-dir/out.img"), 4);
    EXPECT_FALSE(fs::exists("second.img"));
}

TEST_F(RomfsExports, FailedSecondBuildRemovesItsTemporaryFile) {
    home_.WriteFile("isp.ini", "[WrapImage]\nenable=1\nRomFs1InputDir=missing\n"
                               "RomFs1OutPutName=second.img\n");
    EXPECT_EQ(BuildEx(), 3);
    EXPECT_FALSE(fs::exists("tmp.ing"));
    EXPECT_FALSE(fs::exists("second.img"));
}

TEST(RomfsExportNames, AreUnmangledInTheirLibraries) {
    const std::pair<const char*, std::vector<const char*>> libraries[] = {
        {KESTRELLIB_PATH, {"mk_romfs", "mk_romfs_ex"}},
        {KZIP_PATH, {"file_compress", "file_decompress"}},
        {SCRIVET_PATH, {"EncodeFunc", "EncodeFuncWithSkip", "DecodeFunc", "DecodeFuncWithSkip"}}};
    for (const auto& [path, names] : libraries) {
        kestrel::test::LoadedLibrary library(path);
        ASSERT_TRUE(library.Loaded()) << path;
        for (const char* name : names) {
            EXPECT_NE(library.Get<void()>(name), nullptr) << path << ": " << name;
        }
    }
}

TEST_F(RomfsExports, NullRequestIsRefused) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mk_romfs_ex(nullptr), 3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "No build request given\n");
}

} // namespace
} // namespace kestrel::test
