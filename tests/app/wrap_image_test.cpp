// The Advanced page without widgets: version texts, the [WrapImage] keys and the pickers' rule,
// the checks of "Wrap Image" and a real wrap and build.

#include "app/station/wrap_image.h"
#include "app/station/wrap_settings.h"
#include "app/station/wrap_versions.h"

#include "kestrellib/program/config_files.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "platform/files/files.h"
#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace kestrel;
using namespace kestrel::station;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct FieldCase {
    const char* text;
    int value;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class VersionFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(VersionFields, ParseAsTheChecksExpect) {
    EXPECT_EQ(ParseVersionField(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Wrap, VersionFields,
                         ::testing::Values(FieldCase{"1A2", 0x1A2}, FieldCase{"0034", 0x34},
                                           FieldCase{"ffff", 0xFFFF}, FieldCase{"12G4", 0x1204},
                                           FieldCase{"12345", -1}, FieldCase{"", -1},
                                           FieldCase{"z", 0}));

TEST(HexPrefix, StopsAtTheFirstOtherCharacterAndAfterTenDigits) {
    EXPECT_EQ(ParseHexPrefix("1234\ndir"), 0x1234u);
    EXPECT_EQ(ParseHexPrefix("aBcD"), 0xABCDu);
    EXPECT_EQ(ParseHexPrefix(""), 0u);
    EXPECT_EQ(ParseHexPrefix("x12"), 0u);
    EXPECT_EQ(ParseHexPrefix("12345678901"), 0x34567890u) << "ten digits, cut to 32 bits";
}

class WrapPage : public ::testing::Test {
protected:
    void Entries(const fs::path& dir, const std::string& revisionLine) {
        Write(dir / ".svn" / "entries", "8\n\ndir\n" + revisionLine + "\nhttp://repo/trunk\n");
    }
    test::TempHome home;
};

TEST_F(WrapPage, TheRevisionOfAWorkingCopyBecomesTheVersionText) {
    Entries(home.Dir() / "res", "1234");
    Entries(home.Dir() / "pkg", "12345678901");
    EXPECT_EQ(ReadSvnRevision((home.Dir() / "res").string()), "1234");
    EXPECT_EQ(ReadSvnRevision((home.Dir() / "res").string() + platform::kPathSeparator), "1234");
    EXPECT_EQ(ReadSvnRevision((home.Dir() / "pkg").string()), "34567890");
    EXPECT_EQ(ReadSvnRevision((home.Dir() / "none").string()), "");
    EXPECT_EQ(ReadSvnRevision(""), "");
}

TEST_F(WrapPage, KeysAreSavedInTheirOrderAndReadBack) {
    const WrapSettings s{"Demo board", "/res", "/out/rom.img", "/bin/fw.elf", "/pkg"};
    ASSERT_TRUE(SaveWrapSettings(s));
    EXPECT_EQ(home.ReadFile("isp.ini"), "[WrapImage]\r\n"
                                        "description=Demo board\r\n"
                                        "Resource=/res\r\n"
                                        "RomFsOutPutName=/out/rom.img\r\n"
                                        "binary=/bin/fw.elf\r\n"
                                        "Packages=/pkg\r\n");
    EXPECT_EQ(LoadWrapSettings(), s);
}

TEST_F(WrapPage, APickerTakesTheTypedTextsOverOnlyWhenConfirmed) {
    const WrapSettings state{"old", "/res", "/out.img", "/fw.elf", "/pkg"};
    const WrapSettings typed{"typed", "/typed-res", "/typed.img", "/typed.elf", "/typed-pkg"};
    EXPECT_EQ(AfterPicker(WrapPicker::kResource, state, typed, "/chosen"),
              (WrapSettings{"typed", "/chosen", "/typed.img", "/typed.elf", "/typed-pkg"}));
    EXPECT_EQ(AfterPicker(WrapPicker::kPackages, state, typed, "/chosen").packagesDir, "/chosen");
    EXPECT_EQ(AfterPicker(WrapPicker::kBinary, state, typed, "/chosen").binaryPath, "/chosen");
    EXPECT_EQ(AfterPicker(WrapPicker::kOutput, state, typed, "/chosen").outputFile, "/chosen");

    // Cancelled: the state is unchanged and still saved.
    const WrapSettings after = AfterPicker(WrapPicker::kBinary, state, typed, std::nullopt);
    EXPECT_EQ(after, state);
    ASSERT_TRUE(SaveWrapSettings(after));
    EXPECT_EQ(LoadWrapSettings(), state);
    EXPECT_TRUE(RefreshesVersions(WrapPicker::kPackages));
    EXPECT_FALSE(RefreshesVersions(WrapPicker::kOutput));
}

TEST_F(WrapPage, VersionsJoinResourceHighAndBinaryLow) {
    WrapSettings state{"", "", "", "", "/pkg"};
    const WrapSettings typed{"Board", "/res", "/out.img", "/fw.elf", "/typed-pkg"};
    WrapRequest request;
    ASSERT_EQ(PrepareWrap("1A2", "0034", typed, state, request), "");
    EXPECT_EQ(request.version, 0x01A20034u);
    EXPECT_EQ(state, (WrapSettings{"Board", "/res", "/out.img", "/fw.elf", "/pkg"}))
        << "the packages edit is not taken over";
    EXPECT_EQ(config::Read(config::isp::kWrapPackages), "/pkg");
    EXPECT_EQ(config::Read(config::isp::kWrapResource), "/res");
}

struct CheckCase {
    const char* resourceVersion;
    const char* binaryVersion;
    const char* description;
    const char* message; // nullptr: accepted
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.resourceVersion << "," << c.binaryVersion << "," << c.description;
}

class WrapChecks : public WrapPage, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(WrapChecks, RejectWithTheirMessageAndWriteNothing) {
    const CheckCase c = GetParam();
    WrapSettings state;
    WrapRequest request;
    const std::string message =
        PrepareWrap(c.resourceVersion, c.binaryVersion,
                    {c.description, "/res", "/o.img", "/f.elf", "/p"}, state, request);
    if (c.message == nullptr) {
        EXPECT_EQ(message, "");
        EXPECT_EQ(config::Read(config::isp::kWrapDescription), c.description);
    } else {
        EXPECT_EQ(message, c.message);
        EXPECT_FALSE(fs::exists(home.Dir() / "isp.ini"));
    }
}

INSTANTIATE_TEST_SUITE_P(Wrap, WrapChecks,
                         ::testing::Values(CheckCase{"1", "1", "0123456789abcdef", nullptr},
                                           CheckCase{"1", "1", "0123456789abcdefg",
                                                     "Description is error!\n"},
                                           CheckCase{"1", "1", "", "Description is error!\n"},
                                           CheckCase{"12345", "1", "d",
                                                     "Version is error!\nResource Ver \"12345\": "
                                                     "expected 1 to 4 hexadecimal digits (0-9, "
                                                     "A-F), for example 0102.\n"},
                                           CheckCase{"1", "", "d",
                                                     "Version is error!\nBinary Ver is empty: "
                                                     "expected 1 to 4 hexadecimal digits (0-9, "
                                                     "A-F), for example 0102.\n"},
                                           CheckCase{"12G4", "0", "d", nullptr}));

TEST_F(WrapPage, AWrapBuildsBothFilesAndTheImageCarriesTheWrappedFirmware) {
    test::ElfBuilder elf(false, false);
    elf.entry = 0x30000000;
    elf.AddSegment({.type = 1, .virtAddr = 0x30000000, .physAddr = 0x100000, .data = "firmware"});
    Write(home.Dir() / "fw.elf", elf.Build());
    const fs::path res = home.Dir() / "res";
    Write(res / "fonts" / "a.fnt", "font");
    fs::create_directories(res / "image");

    WrapSettings state;
    WrapRequest request;
    ASSERT_EQ(PrepareWrap("1A2", "0034",
                          {"Board", res.string(), (home.Dir() / "rom.img").string(),
                           (home.Dir() / "fw.elf").string(), ""},
                          state, request),
              "");
    std::vector<std::string> lines;
    const WrapOutcome outcome =
        RunWrap(request, [&](const std::string& line) { lines.push_back(line); });
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(lines.size(), 3u);

    const std::string wrapped = Read(res / "image" / "4410_mmi.rap");
    ASSERT_GT(wrapped.size(), 52u);
    EXPECT_EQ(wrapped.substr(0, 4), "VMXi");
    std::string error;
    const auto image = romfs::RomfsImage::Load((home.Dir() / "rom.img").string(), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->Header().versionWord, 0x01A20034u);
    EXPECT_EQ(image->VolumeName(), "Board");
    const auto node = image->LookupPath("image/4410_mmi.rap", &error);
    ASSERT_TRUE(node) << error;
    std::vector<unsigned char> content;
    ASSERT_TRUE(image->ReadFile(*node, &content, &error)) << error;
    EXPECT_EQ(std::string(content.begin(), content.end()), wrapped);
}

TEST_F(WrapPage, AFailedWrapIsReportedAndBuildsNoImage) {
    fs::create_directories(home.Dir() / "res" / "image");
    WrapRequest request{0x10002,
                        {"Board", (home.Dir() / "res").string(), (home.Dir() / "rom.img").string(),
                         (home.Dir() / "missing.elf").string(), ""}};
    const WrapOutcome outcome = RunWrap(request, [](const std::string&) {});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "Can't wrap the binary file " + request.settings.binaryPath +
                                   " into " + WrappedImagePath(request.settings.resourceDir) +
                                   ".\n");
    EXPECT_FALSE(fs::exists(home.Dir() / "rom.img"));
}

TEST_F(WrapPage, AFailedBuildIsReported) {
    test::ElfBuilder elf(false, false);
    Write(home.Dir() / "fw.elf", elf.Build());
    fs::create_directories(home.Dir() / "res" / "image");
    const std::string out = (home.Dir() / "no-such-dir" / "rom.img").string();
    WrapRequest request{
        1, {"Board", (home.Dir() / "res").string(), out, (home.Dir() / "fw.elf").string(), ""}};
    const WrapOutcome outcome = RunWrap(request, [](const std::string&) {});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "Can't build the ROMFS image " + out + " (error 4).\n");
}

} // namespace
