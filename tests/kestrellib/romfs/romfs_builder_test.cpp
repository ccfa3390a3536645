// The builder against the image layout: the worked example byte for byte, the edge cases of a
// tree, the printed lines, the limits and the failures.
#include "kestrellib/romfs/romfs_format.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "kestrellib/romfs/romfs_test_support.h"
#include "support/symlink_or_skip.h"
#include "support/temp_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>

namespace kestrel::test {
namespace {

using romfs::RomfsImage;
using ::testing::HasSubstr;

std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) {
        s[i] = static_cast<char>(v >> (8 * i));
    }
    return s;
}

std::string Record(std::uint32_t mode, std::uint32_t links, std::uint32_t size, std::uint32_t time,
                   std::uint32_t offset, const char* label) {
    return Le32(mode) + Le32(links) + std::string("\x90\x01\x91\x01", 4) + Le32(size) + Le32(time) +
           Le32(offset) + std::string(label, 8);
}

std::string Entry(std::uint32_t node, std::uint32_t next, const std::string& name) {
    std::string entry = Le32(node) + Le32(next) + name;
    entry.resize(32, '\0');
    return entry;
}

// A regular expression that matches text literally.
std::string RegexLiteral(const std::string& text) {
    static const std::string special = "\\^$.|?*+()[]{}";
    std::string pattern;
    for (const char c : text) {
        if (special.find(c) != std::string::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

RomfsImage LoadChecked(const fs::path& path) {
    std::string error;
    auto image = RomfsImage::Load(path.string(), &error);
    EXPECT_TRUE(image.has_value()) << error;
    if (!image) {
        return *RomfsImage::Parse(std::vector<unsigned char>(64, 0), &error);
    }
    EXPECT_TRUE(image->Check(&error)) << error;
    return std::move(*image);
}

class RomfsBuilder : public ::testing::Test {
protected:
    TempHome home_;
    fs::path tree_ = home_.Dir() / "tree";
    fs::path image_ = home_.Dir() / "out.img";
    ScopedEnv epoch_{"SOURCE_DATE_EPOCH", "305419896"}; // 0x12345678
    void SetUp() override { fs::create_directories(tree_); }
    // A node's host path: the root's path is the input directory followed by "/." (with the
    // host's separator), relative names a node below it with "/".
    std::string NodePath(std::string relative) const {
        std::replace(relative.begin(), relative.end(), '/', platform::kPathSeparator);
        return RootPath(tree_.string()) + platform::kPathSeparator + relative;
    }
};

TEST_F(RomfsBuilder, WorkedExampleIsByteExact) {
    fs::create_directory(tree_ / "sub");
    WriteBytes(tree_ / "a.txt", "hello");
    const BuildOutput run = BuildImage(tree_, image_, 0x00010002, "Line 7");
    ASSERT_EQ(run.status, 0) << run.err;

    const std::uint32_t t = 0x12345678;
    std::string expected = Le32(0x526F6D2E) + Le32(3) + Le32(352) + Le32(0x00010002) +
                           std::string("Line 7\0\0\0\0\0\0\0\0\0\0", 16);
    expected += Record(0x00070001, 3, 128, t, 128, "<     0>");
    expected += Record(0x00070001, 2, 64, t, 256, "<     1>");
    expected += Record(0x00070008, 1, 5, t, 320, "<     2>");
    expected +=
        Entry(0, 32, ".") + Entry(0, 64, "..") + Entry(1, 96, "SUB") + Entry(2, 128, "A.TXT");
    expected += Entry(1, 32, ".") + Entry(0, 64, "..");
    expected += "hello";
    const std::string actual = ReadBytes(image_);
    EXPECT_EQ(actual.size(), 325u) << "the trailing padding is not written";
    EXPECT_EQ(actual, expected);
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_FALSE(fs::exists(romfs::PartialPath(image_.string())));
}

TEST_F(RomfsBuilder, PrintsTheLevelZeroAndOneLines) {
    fs::create_directory(tree_ / "sub");
    WriteBytes(tree_ / "a.txt", "hello");
    const BuildOutput run = BuildImage(tree_, image_);
    ASSERT_EQ(run.status, 0);
    const std::regex lines("Phase 2  - Calculate space allocation\n"
                           "\t\tnode table : 0x000000 \\(\\+0x00080\\) 3 nodes\n"
                           "Phase 3  - Construct ROMFS image file \\(1 kb\\) 0x160\n"
                           "WriteData  first:0x[0-9a-f]+ \n" +
                           RegexLiteral(image_.string()) + " completed\n");
    EXPECT_TRUE(std::regex_match(run.out, lines)) << run.out;
}

TEST_F(RomfsBuilder, EmptyDirectoryGivesTheRootAlone) {
    ASSERT_EQ(BuildImage(tree_, image_).status, 0);
    const std::string bytes = ReadBytes(image_);
    ASSERT_EQ(bytes.size(), 128u);
    RomfsImage image = LoadChecked(image_);
    EXPECT_EQ(image.NodeCount(), 1u);
    EXPECT_EQ(image.Header().imageSize, 128u);
    EXPECT_EQ(image.Node(0).dataOffset, 64u);
    EXPECT_EQ(image.Node(0).size, 64u);
    EXPECT_EQ(image.Node(0).linkCount, 2u);
}

TEST_F(RomfsBuilder, SvnNamesAreDroppedWithEverythingBelow) {
    WriteBytes(tree_ / ".svn" / "entries", "x");
    WriteBytes(tree_ / ".svn" / "deep" / "more", "x");
    WriteBytes(tree_ / "svnlog.txt", "x");
    WriteBytes(tree_ / "notes_svn", "x");
    WriteBytes(tree_ / "SVN", "kept: upper case");
    WriteBytes(tree_ / "lib" / "a.svn.bak", "x");
    WriteBytes(tree_ / "lib" / "keep.bin", "kept");
    ASSERT_EQ(BuildImage(tree_, image_).status, 0);
    RomfsImage image = LoadChecked(image_);
    EXPECT_EQ(image.NodeCount(), 4u) << "root, LIB, SVN, LIB/KEEP.BIN";
    std::string error;
    EXPECT_TRUE(image.LookupPath("SVN", &error));
    EXPECT_TRUE(image.LookupPath("lib/keep.bin", &error));
    EXPECT_FALSE(image.LookupPath(".svn", &error));
    EXPECT_FALSE(image.LookupPath("svnlog.txt", &error));
}

TEST_F(RomfsBuilder, EmptyFileTakesNoSpaceAndPointsAtTheNextItem) {
    WriteBytes(tree_ / "a", "");
    WriteBytes(tree_ / "b", "bb");
    WriteBytes(tree_ / "c", "");
    ASSERT_EQ(BuildImage(tree_, image_).status, 0);
    RomfsImage image = LoadChecked(image_);
    const auto a = image.Node(1), b = image.Node(2), c = image.Node(3);
    EXPECT_EQ(a.size, 0u);
    EXPECT_EQ(a.dataOffset, b.dataOffset);
    EXPECT_EQ(c.size, 0u);
    EXPECT_EQ(c.dataOffset, image.Header().imageSize) << "the last item ends the image";
    EXPECT_EQ(ReadBytes(image_).size(), b.dataOffset + 2u);
}

TEST_F(RomfsBuilder, SubdirectoriesComeFirstInCaseInsensitiveOrder) {
    for (const char* name : {"b.txt", "A.txt", "_x", "Zed", "a_b"}) {
        WriteBytes(tree_ / name, name);
    }
    for (const char* name : {"zdir", "Bdir", "adir"}) {
        fs::create_directory(tree_ / name);
    }
    ASSERT_EQ(BuildImage(tree_, image_).status, 0);
    RomfsImage image = LoadChecked(image_);
    std::vector<romfs::RomfsListEntry> entries;
    std::string error;
    ASSERT_TRUE(image.List(0, &entries, &error)) << error;
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        names.push_back(entry.name);
    }
    EXPECT_THAT(names, ::testing::ElementsAre(".", "..", "ADIR", "BDIR", "ZDIR", "A.TXT", "A_B",
                                              "B.TXT", "ZED", "_X"));
}

TEST_F(RomfsBuilder, TwoBuildsInARowAreIdentical) {
    WriteBytes(tree_ / "d1" / "f1", std::string(1000, 'x'));
    WriteBytes(tree_ / "d1" / "d2" / "f2", "abc");
    WriteBytes(tree_ / "top", "t");
    ScopedEnv noEpoch("SOURCE_DATE_EPOCH", std::nullopt);
    ASSERT_EQ(BuildImage(tree_, image_, 7, "vol").status, 0);
    const std::string first = ReadBytes(image_);
    ASSERT_EQ(BuildImage(tree_, image_, 7, "vol").status, 0);
    EXPECT_EQ(ReadBytes(image_), first);
    LoadChecked(image_);
}

TEST_F(RomfsBuilder, LargeFilesAreCopiedWhole) {
    std::string big(700 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 1021);
    }
    WriteBytes(tree_ / "a" / "big.bin", big);
    WriteBytes(tree_ / "a" / "small.txt", "after the big one");
    ASSERT_EQ(BuildImage(tree_, image_).status, 0);
    RomfsImage image = LoadChecked(image_);
    std::string error;
    std::vector<unsigned char> content;
    ASSERT_TRUE(image.ReadFile(*image.LookupPath("a/big.bin", &error), &content, &error));
    EXPECT_TRUE(std::string(content.begin(), content.end()) == big);
    ASSERT_TRUE(image.ReadFile(*image.LookupPath("a/small.txt", &error), &content, &error));
    EXPECT_EQ(std::string(content.begin(), content.end()), "after the big one");
}

TEST_F(RomfsBuilder, SourceDateEpochReplacesEveryTimeStamp) {
    WriteBytes(tree_ / "d" / "f", "x");
    ASSERT_EQ(BuildImage(tree_, image_).status, 0);
    RomfsImage image = LoadChecked(image_);
    for (std::uint32_t i = 0; i < image.NodeCount(); ++i) {
        EXPECT_EQ(image.Node(i).timeStamp, 0x12345678u) << "node " << i;
    }
}

TEST_F(RomfsBuilder, VolumeNameOfSixteenCharactersHasNoTerminatorAndLongerIsCut) {
    ASSERT_EQ(BuildImage(tree_, image_, 0, "0123456789ABCDEFGH").status, 0);
    RomfsImage image = LoadChecked(image_);
    EXPECT_EQ(image.VolumeName(), "0123456789ABCDEF");
    EXPECT_EQ(std::memcmp(image.Header().volumeName, "0123456789ABCDEF", 16), 0);
}

TEST_F(RomfsBuilder, SymbolicLinksAreSkippedWithAWarning) {
    WriteBytes(home_.Dir() / "outside" / "secret", "not for the image");
    std::error_code error;
    fs::create_directory_symlink(home_.Dir() / "outside", tree_ / "linkdir", error);
    if (!error) {
        fs::create_symlink(home_.Dir() / "outside" / "secret", tree_ / "linkfile", error);
    }
    KESTREL_REQUIRE_SYMLINK(error);
    WriteBytes(tree_ / "real", "r");
    const BuildOutput run = BuildImage(tree_, image_);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("Skipping '" + NodePath("linkdir") + "'"));
    EXPECT_THAT(run.err, HasSubstr("Skipping '" + NodePath("linkfile") + "'"));
    EXPECT_EQ(LoadChecked(image_).NodeCount(), 2u);
}

TEST_F(RomfsBuilder, NamesEqualButForCaseAreKeptWithAWarning) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows: file names are case-insensitive, 'readme' and 'README' are one file";
#endif
    WriteBytes(tree_ / "readme", "1");
    WriteBytes(tree_ / "README", "2");
    const BuildOutput run = BuildImage(tree_, image_);
    ASSERT_EQ(run.status, 0);
    EXPECT_THAT(run.err, HasSubstr("are both stored as 'README'"));
    EXPECT_EQ(LoadChecked(image_).NodeCount(), 3u);
}

TEST_F(RomfsBuilder, UnreadableDirectoryIsKeptEmptyWithoutEntries) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows: folder permissions are access lists, not mode bits";
#else
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop the superuser";
    }
#endif
    WriteBytes(tree_ / "locked" / "f", "x");
    fs::permissions(tree_ / "locked", fs::perms::none);
    const BuildOutput run = BuildImage(tree_, image_);
    fs::permissions(tree_ / "locked", fs::perms::owner_all);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(NodePath("locked") + ": Permission denied"));
    RomfsImage image = LoadChecked(image_);
    EXPECT_EQ(image.Node(1).size, 0u);
}

TEST_F(RomfsBuilder, MissingInputDirectoryIsStatusThreeAndWritesNothing) {
    WriteBytes(image_, "earlier image");
    const BuildOutput run = BuildImage(home_.Dir() / "nowhere", image_);
    EXPECT_EQ(run.status, 3);
    const std::string root = RootPath((home_.Dir() / "nowhere").string());
    EXPECT_EQ(run.err, "stat(" + root + ") failed: " + ExamineErrorText(root) + "\n");
    EXPECT_EQ(ReadBytes(image_), "earlier image") << "a failed build keeps the earlier file";
    EXPECT_FALSE(fs::exists(romfs::PartialPath(image_.string())));
}

TEST_F(RomfsBuilder, EmptyInputDirectoryIsRefused) {
    const BuildOutput run = BuildImage("", image_);
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.err, HasSubstr("refusing to pack the root of the drive"));
    EXPECT_FALSE(fs::exists(image_));
}

TEST_F(RomfsBuilder, UnwritableOutputIsStatusFour) {
    const fs::path output = home_.Dir() / "no-such-dir" / "out.img";
    const BuildOutput run = BuildImage(tree_, output);
    EXPECT_EQ(run.status, 4);
    // The error number and its text as the platform layer reports them for that file.
    platform::File probe;
    const int error = probe.Create(output.string() + ".part");
    ASSERT_NE(error, 0);
    EXPECT_EQ(run.err, "Failed to open output file '" + output.string() +
                           "', errno=" + std::to_string(error) + "\n'" + output.string() +
                           ".part': " + platform::ErrorText(error) + "\n");
}

// Each limit on a small tree: the tree at the limit builds, one more is refused.
struct LimitCase {
    const char* what;
    romfs::BuildLimits limits; // relative to the tree of the test
    const char* message;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.what;
}

class RomfsBuilderLimits : public RomfsBuilder, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(RomfsBuilderLimits, AtTheLimitBuildsBeyondIsStatusSixAndWritesNothing) {
    // Root, D, G, GG, D/F1, D/F2: six nodes, at most three members in a directory, names of
    // at most 2 bytes, and the longest path <tree>/./D/F1.
    WriteBytes(tree_ / "D" / "F1", "1");
    WriteBytes(tree_ / "D" / "F2", "2");
    WriteBytes(tree_ / "G", "");
    WriteBytes(tree_ / "GG", "");
    romfs::BuildLimits atLimit = GetParam().limits;
    if (atLimit.maxPathLength == 0) {
        atLimit.maxPathLength = NodePath("D/F1").size();
    }
    ASSERT_EQ(BuildImage(tree_, image_, 0, "", atLimit).status, 0);
    LoadChecked(image_);

    romfs::BuildLimits beyond = atLimit;
    const std::string what = GetParam().what;
    if (what == "nodes") {
        --beyond.maxNodes;
    } else if (what == "members") {
        --beyond.maxMembers;
    } else if (what == "path") {
        --beyond.maxPathLength;
    } else if (what == "name") {
        --beyond.maxNameLength;
    }
    fs::remove(image_);
    const BuildOutput run = BuildImage(tree_, image_, 0, "", beyond);
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_THAT(run.err, HasSubstr(GetParam().message));
    EXPECT_FALSE(fs::exists(image_));
    EXPECT_FALSE(fs::exists(romfs::PartialPath(image_.string())));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, RomfsBuilderLimits,
    ::testing::Values(LimitCase{"nodes", {6, 4094, 1023, 259}, "Too many nodes (more than 5)"},
                      LimitCase{"members", {8192, 3, 1023, 259}, "Too many names in directory"},
                      LimitCase{"path", {8192, 4094, 0, 259}, "Path too long"},
                      LimitCase{
                          "name", {8192, 4094, 1023, 2}, "Name too long (2 bytes, at most 1)"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(RomfsBuilder, DirectoryOf4095NamesIsRefused) {
    for (int i = 0; i < 4095; ++i) {
        WriteBytes(tree_ / std::to_string(i), "");
    }
    const BuildOutput run = BuildImage(tree_, image_);
    EXPECT_EQ(run.status, 6);
    EXPECT_THAT(run.err, HasSubstr("Too many names in directory '" + RootPath(tree_.string()) +
                                   "': more than 4094\n"));
}

TEST_F(RomfsBuilder, FileOfFourGigabytesIsStatusSix) {
    WriteBytes(tree_ / "huge", "");
    fs::resize_file(tree_ / "huge", 0x100000000ull); // sparse: costs no space
    const BuildOutput run = BuildImage(tree_, image_);
    EXPECT_EQ(run.status, 6);
    EXPECT_THAT(run.err, HasSubstr("File too large"));
}

} // namespace
} // namespace kestrel::test
