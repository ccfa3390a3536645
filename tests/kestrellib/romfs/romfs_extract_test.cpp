// Extraction: a stored name becomes a host entry only when it is one plain name (on any host),
// and a target that cannot be used is refused before anything is written. The command-line suite
// extracts whole images, sound and hostile.
#include "kestrellib/romfs/romfs_extract.h"

#include "romfs_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using kestrel::romfs::IsPlainEntryName;
using kestrel::romfs::RomfsImage;
using kestrel::test::TempHome;
namespace fs = std::filesystem;

struct Name {
    const char* text;
    bool plain;
};

class EntryName : public ::testing::TestWithParam<Name> {};

TEST_P(EntryName, IsPlainOnlyWithoutSeparatorsParentStepsOrDrives) {
    EXPECT_EQ(IsPlainEntryName(GetParam().text), GetParam().plain) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Names, EntryName,
                         ::testing::Values(Name{"README.TXT", true}, Name{"...", true},
                                           Name{".HIDDEN", true}, Name{"A B", true},
                                           Name{"", false}, Name{".", false}, Name{"..", false},
                                           Name{"../X", false}, Name{"/ETC", false},
                                           Name{"A/B", false}, Name{"A\\B", false},
                                           Name{"C:", false}, Name{"C:X", false},
                                           Name{"X:\\WINDOWS", false}));

std::optional<RomfsImage> Built(const TempHome& home) {
    fs::create_directories(home.Dir() / "tree" / "sub" / "deeper");
    home.WriteFile("tree/top.txt", "top");
    home.WriteFile("tree/sub/mid.txt", "mid");
    home.WriteFile("tree/sub/deeper/low.bin", std::string(1000, '\x7f'));
    home.WriteFile("tree/empty", "");
    const auto run = kestrel::test::BuildImage(home.Dir() / "tree", home.Dir() / "t.img");
    EXPECT_EQ(run.status, 0) << run.err;
    std::string error;
    auto image = RomfsImage::Load(home.Path("t.img"), &error);
    EXPECT_TRUE(image) << error;
    return image;
}

TEST(RomfsExtract, TargetThatIsAFileIsRefused) {
    TempHome home;
    const auto image = Built(home);
    ASSERT_TRUE(image);
    home.WriteFile("plain", "not a directory");
    std::string error;
    EXPECT_FALSE(kestrel::romfs::ExtractImage(*image, home.Path("plain"), &error));
    EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
    EXPECT_EQ(home.ReadFile("plain"), "not a directory");
}

} // namespace
