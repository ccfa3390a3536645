#include "kestrellib/program/config_exports.h"
#include "kestrellib/program/config_files.h"
#include "platform/environment/environment.h"
#include "platform/files/files.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

using namespace kestrel::config;
using kestrel::test::TempHome;

namespace {

TEST(ConfigFiles, WithoutIspIniTheDefaultsApplyAndTheFileIsReportedMissing) {
    TempHome home;
    EXPECT_EQ(GetRomfs_Max_size(1), 32);
    EXPECT_EQ(GetRomfs_Max_size(2), 0);
    EXPECT_EQ(Read(isp::kRomfsDualImage), 1);
    EXPECT_EQ(GetIsWriteRomFs(1), 1);
    EXPECT_EQ(GetIsWriteRomFs(2), 0);
    EXPECT_EQ(Read(isp::kWrapEnable), 0);
    EXPECT_EQ(Read(isp::kReadVerify), 1);
    EXPECT_EQ(Read(isp::kRomfs1Encryption), 1);
    EXPECT_EQ(IsIniFileExist("isp.ini"), -1);
    home.WriteFile("isp.ini", "");
    EXPECT_EQ(IsIniFileExist("isp.ini"), 0);
    EXPECT_EQ(IsIniFileExist(nullptr), -1);
}

TEST(ConfigFiles, PathsFromIniFilesAreTakenFromTheHome) {
    TempHome home;
    // The home directory is joined with the host's separator; the path from the file is kept.
    const std::string dir = home.Dir().string() + kestrel::platform::kPathSeparator;
    EXPECT_EQ(HomePath("boot/boot.pkg"), dir + "boot/boot.pkg");
    EXPECT_EQ(HomePath("/abs/image.img"), "/abs/image.img");
    EXPECT_EQ(HomePath(""), "");
    // A relative home is a full path too, so every message names the file in full.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(home.Dir());
    kestrel::platform::SetEnvironmentValue("KESTREL_HOME", "sub");
    EXPECT_EQ(HomePath("x.img"), dir + "sub" + kestrel::platform::kPathSeparator + "x.img");
    std::filesystem::current_path(cwd);
}

TEST(ConfigFiles, ADirectoryOrFifoNamedLikeAnIniFileIsNoFile) {
    TempHome home;
    std::filesystem::create_directory(home.Dir() / "isp.ini");
    EXPECT_EQ(IsIniFileExist("isp.ini"), -1);
#if defined(_WIN32)
    GTEST_SKIP() << "Windows: no named pipes in the file system (the directory case ran)";
#else
    ASSERT_EQ(::mkfifo(home.Path("config.ini").c_str(), 0644), 0);
    EXPECT_EQ(IsIniFileExist("config.ini"), -1) << "and it returned instead of blocking";
#endif
}

TEST(ConfigFiles, Romfs1SizeIsGatedByEnable) {
    TempHome home;
    home.WriteFile("isp.ini", "[Romfs1]\nmaxsize=16\nenable=0\n[Romfs]\nmaxsize=0\n");
    EXPECT_EQ(GetRomfs_Max_size(2), 0);
    EXPECT_EQ(GetRomfs_Max_size(1), 32);
    home.WriteFile("isp.ini", "[Romfs1]\nmaxsize=16\nenable=1\n[Romfs]\nmaxsize=8\n");
    EXPECT_EQ(GetRomfs_Max_size(2), 16) << "each call reads the file anew";
    EXPECT_EQ(GetRomfs_Max_size(0), 8);
    EXPECT_EQ(GetIsWriteRomFs(2), 1);
}

TEST(ConfigFiles, BootDeviceIdIsSevenUnlessEnabled) {
    TempHome home;
    home.WriteFile("isp.ini", "[BootDevice]\nenable=0\ndeviceid=3\n");
    EXPECT_EQ(isp::BootDeviceId(), 7);
    home.WriteFile("isp.ini", "[BootDevice]\nenable=1\ndeviceid=3\n");
    EXPECT_EQ(isp::BootDeviceId(), 3);
}

TEST(ConfigFiles, PatchSectionFollowsBootDeviceAndLoaderClass) {
    TempHome home;
    home.WriteFile("RomPatch.ini", "[General]\nItemName=Patch\nDownloadAddr=0x80000000\n"
                                   "[Patch8]\nenable=1\nEntryAddr=0x80000100\nFileName=p8.bin\n");
    const std::string section = rompatch::PatchSection(1, 2, 1);
    EXPECT_EQ(section, "Patch8");
    EXPECT_EQ(rompatch::PatchSection(1, 1, 0), "Patch0") << "loaders below level 2 use id 0";
    EXPECT_EQ(rompatch::PatchEnable(section), 1);
    EXPECT_EQ(static_cast<unsigned>(rompatch::PatchEntryAddr(section)), 0x80000100u);
    EXPECT_EQ(rompatch::PatchFileName(section), "p8.bin");
    EXPECT_EQ(static_cast<unsigned>(Read(rompatch::kDownloadAddr)), 0x80000000u);
}

TEST(ConfigFiles, ConfigIniItemsLiveInNumberedSections) {
    TempHome home;
    home.WriteFile("config.ini", "[General]\nItemNum=3\nItemName=Item\n"
                                 "[Item2]\nenable=1\nvalue=0x1234\n");
    EXPECT_EQ(Read(cfg::kItemNum), 3);
    EXPECT_EQ(cfg::ItemEnable(2), 1);
    EXPECT_EQ(cfg::ItemValue(2), 0x1234);
    EXPECT_EQ(cfg::ItemValue(1), 0);
}

TEST(ConfigFiles, GetConfigInistringReadsWrapImageKeys) {
    TempHome home;
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    GetConfigInistring("RomFs1OutPutName", buffer);
    EXPECT_STREQ(buffer, "");
    home.WriteFile("isp.ini", "[WrapImage]\nromfs1outputname=" + std::string(400, 'n') + "\n");
    GetConfigInistring("RomFs1OutPutName", buffer);
    EXPECT_EQ(std::string(buffer), std::string(255, 'n'));
}

TEST(ConfigFiles, TypedWritesRoundTrip) {
    TempHome home;
    ASSERT_TRUE(Write(isp::kRomfsName, "C:\\images\\res.bin"));
    ASSERT_TRUE(Write(isp::kImageType, 2));
    EXPECT_EQ(Read(isp::kRomfsName), "C:\\images\\res.bin");
    EXPECT_EQ(Read(isp::kImageType), 2);
}

} // namespace
