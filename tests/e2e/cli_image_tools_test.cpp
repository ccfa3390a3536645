// kestrel-cli's image tools: a ROMFS image built from a tree, checked, listed and extracted back
// to the same bytes; a damaged image and a file that is not ELF are refused with status 1.

#include "cli_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

class ImageTools : public ::testing::Test {
protected:
    int Run(const std::string& args) { return kestrel::test::RunCli(home, args).status; }
    std::string Out() { return home.ReadFile("out.txt"); }

    kestrel::test::TempHome home;
};

TEST_F(ImageTools, BuildCheckListAndExtractRoundTrip) {
    std::filesystem::create_directories(home.Dir() / "tree" / "sub");
    home.WriteFile("tree/sub/a.txt", "alpha\n");
    std::string binary(70000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>(i * 7);
    }
    home.WriteFile("tree/b.bin", binary);
    home.WriteFile("tree/empty", "");
    const std::string image = home.Path("res.img");

    ASSERT_EQ(Run("romfs build " + home.Path("tree") + " " + image + " --name RES"), 0);
    ASSERT_EQ(Run("romfs check " + image), 0) << home.ReadFile("err.txt");
    EXPECT_NE(Out().find("\"RES\": ok"), std::string::npos) << Out();
    ASSERT_EQ(Run("romfs ls " + image + " SUB"), 0) << home.ReadFile("err.txt");
    EXPECT_NE(Out().find("A.TXT"), std::string::npos) << Out();

    ASSERT_EQ(Run("romfs extract " + image + " " + home.Path("back")), 0)
        << home.ReadFile("err.txt");
    EXPECT_EQ(home.ReadFile("back/SUB/A.TXT"), "alpha\n");
    EXPECT_EQ(home.ReadFile("back/B.BIN"), binary);
    EXPECT_TRUE(std::filesystem::exists(home.Dir() / "back" / "EMPTY"));
}

TEST_F(ImageTools, DamagedImagesAndNonElfFilesAreRefused) {
    home.WriteFile("junk.img", std::string(600, 'x'));
    EXPECT_EQ(Run("romfs check " + home.Path("junk.img")), 1);
    EXPECT_EQ(Run("romfs ls " + home.Path("junk.img")), 1);
    EXPECT_EQ(Run("wrap " + home.Path("junk.img") + " " + home.Path("out.rap")), 1);
    EXPECT_NE(home.ReadFile("err.txt").find(home.Path("junk.img") + ": not an ELF file"),
              std::string::npos);
}

} // namespace
