// The reader against damaged images: every fault is reported with a message, nothing is read
// past the bytes present, and an image without its trailing padding is accepted.
#include "kestrellib/romfs/romfs_format.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "kestrellib/romfs/romfs_test_support.h"
#include "support/temp_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

namespace kestrel::test {
namespace {

using romfs::RomfsImage;
using Bytes = std::vector<unsigned char>;

// The worked example: root (SUB, A.TXT), SUB empty, A.TXT "hello"; 325 bytes.
Bytes WorkedExample() {
    TempHome home;
    WriteBytes(home.Dir() / "tree" / "a.txt", "hello");
    fs::create_directories(home.Dir() / "tree" / "sub");
    EXPECT_EQ(BuildImage(home.Dir() / "tree", home.Dir() / "img").status, 0);
    const std::string bytes = ReadBytes(home.Dir() / "img");
    return Bytes(bytes.begin(), bytes.end());
}

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    romfs::StoreLe32(bytes.data() + offset, value);
}

TEST(RomfsReader, ReadsTheWorkedExampleWithoutItsTrailingPadding) {
    const Bytes bytes = WorkedExample();
    ASSERT_EQ(bytes.size(), 325u);
    std::string error;
    auto image = RomfsImage::Parse(bytes, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_TRUE(image->Check(&error)) << error;
    const auto node = image->LookupPath("a.TXT", &error);
    ASSERT_TRUE(node) << error;
    Bytes content;
    ASSERT_TRUE(image->ReadFile(*node, &content, &error)) << error;
    EXPECT_EQ(std::string(content.begin(), content.end()), "hello");
    EXPECT_FALSE(image->ReadFile(1, &content, &error)) << "SUB is a directory";
    EXPECT_FALSE(image->LookupPath("missing", &error));
    EXPECT_FALSE(image->LookupPath("a.txt/x", &error)) << "a file has no members";
}

struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    bool parses; // Parse accepts it and Check finds the fault
    const char* message;
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.what;
}

class RomfsReaderDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(RomfsReaderDamage, IsReportedNotReadPast) {
    Bytes bytes = WorkedExample();
    GetParam().apply(bytes);
    std::string error;
    auto image = RomfsImage::Parse(bytes, &error);
    if (GetParam().parses) {
        ASSERT_TRUE(image) << error;
        EXPECT_FALSE(image->Check(&error));
        // Every other way in must stay inside the image as well.
        std::vector<romfs::RomfsListEntry> entries;
        Bytes content;
        for (std::uint32_t i = 0; i < image->NodeCount() + 1; ++i) {
            std::string ignored;
            image->List(i, &entries, &ignored);
            image->ReadFile(i, &content, &ignored);
        }
    } else {
        EXPECT_FALSE(image);
    }
    EXPECT_THAT(error, ::testing::HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RomfsReaderDamage,
    ::testing::Values(
        Damage{"TooShort", [](Bytes& b) { b.resize(20); }, false, "shorter than its 32-byte"},
        Damage{"BadMagic", [](Bytes& b) { b[0] = 'X'; }, false, "bad magic"},
        Damage{"NoNodes", [](Bytes& b) { Put32(b, 4, 0); }, false, "node count is 0"},
        Damage{"NodeTablePastEnd", [](Bytes& b) { Put32(b, 4, 1000); }, false,
               "past the 325 bytes present"},
        Damage{"TruncatedContent", [](Bytes& b) { b.resize(322); }, true,
               "past the 322 bytes present"},
        Damage{"OffsetPastImage", [](Bytes& b) { Put32(b, 96 + 20, 0xFFFFFFF0u); }, true,
               "past the image size"},
        Damage{"HugeDirectorySize", [](Bytes& b) { Put32(b, 32 + 12, 0xFFFFFFE0u); }, true,
               "past the image size"},
        Damage{"BadMode", [](Bytes& b) { Put32(b, 64, 0x1234); }, true, "neither a directory"},
        Damage{"NextPastTable", [](Bytes& b) { Put32(b, 128 + 96 + 4, 4096); }, true,
               "gives next 0x1000"},
        Damage{"UnterminatedName",
               [](Bytes& b) { std::fill(b.begin() + 256 + 32 + 8, b.begin() + 320, 'X'); }, true,
               "no terminated name"},
        Damage{"EntryNamesMissingNode", [](Bytes& b) { Put32(b, 128 + 96, 9); }, true,
               "names node 9 of 3"},
        Damage{"MembersOutOfOrder",
               [](Bytes& b) {
                   Put32(b, 128 + 64, 2);
                   Put32(b, 128 + 96, 1);
               },
               true, "expected node 1"},
        Damage{"WrongParent", [](Bytes& b) { Put32(b, 256 + 32, 1); }, true, "does not start with"},
        Damage{"WrongLinkCount", [](Bytes& b) { Put32(b, 32 + 4, 2); }, true, "link count 2"},
        Damage{"MisplacedFile", [](Bytes& b) { Put32(b, 96 + 20, 288); }, true,
               "expected at 0x140"},
        Damage{"ImageSizeTooLarge", [](Bytes& b) { Put32(b, 8, 384); }, true,
               "last item's space ends at 0x160"},
        Damage{"WrongLabel", [](Bytes& b) { b[64 + 30] = '7'; }, true, "does not name it"},
        // Found by the reader's fuzz target: a lower-case name cannot be looked up.
        Damage{"LowerCaseName", [](Bytes& b) { b[128 + 64 + 8] = 's'; }, true,
               "not stored upper-cased"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(RomfsReader, GeneratedTreeReadsBackFileForFile) {
    TempHome home;
    const fs::path tree = home.Dir() / "tree";
    std::mt19937 random(7);
    std::vector<fs::path> dirs{tree};
    std::map<std::string, std::string> files; // path below the tree -> content
    for (int d = 0; d < 60; ++d) {
        const fs::path parent = dirs[random() % dirs.size()];
        dirs.push_back(parent / ("Dir" + std::to_string(d)));
        fs::create_directories(dirs.back());
    }
    for (int f = 0; f < 3000; ++f) {
        const fs::path dir = dirs[random() % dirs.size()];
        std::string content(random() % 3000, '\0');
        for (char& c : content) {
            c = static_cast<char>(random());
        }
        const fs::path path = dir / ("file" + std::to_string(f) + (f % 3 ? ".bin" : ""));
        WriteBytes(path, content);
        files[fs::relative(path, tree).generic_string()] = content;
    }
    const fs::path output = home.Dir() / "tree.img";
    const BuildOutput run = BuildImage(tree, output);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string error;
    auto image = RomfsImage::Load(output.string(), &error);
    ASSERT_TRUE(image) << error;
    ASSERT_TRUE(image->Check(&error)) << error;
    EXPECT_EQ(image->NodeCount(), 1 + 60 + 3000u);
    Bytes content;
    for (const auto& [path, expected] : files) {
        const auto node = image->LookupPath(path, &error);
        ASSERT_TRUE(node) << path << ": " << error;
        ASSERT_TRUE(image->ReadFile(*node, &content, &error)) << error;
        ASSERT_EQ(std::string(content.begin(), content.end()), expected) << path;
    }
}

} // namespace
} // namespace kestrel::test
