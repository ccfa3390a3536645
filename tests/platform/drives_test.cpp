// The drives layer: letters over a backend, the folder and simulated-device backends, and the
// Linux backend's reading of the mount table and sysfs on crafted inputs.

#include "platform/drives/drives.h"
#include "platform/drives/linux_mounts.h"
#include "sim/backends/drives_backend.h"
#include "sim/farm.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
namespace drives = kestrel::platform::drives;

namespace {

class Drives : public ::testing::Test {
protected:
    void TearDown() override { drives::UseBackend(nullptr); }
    kestrel::test::TempHome home;
};

struct RootCase {
    const char* root;
    char letter;
};

void PrintTo(const RootCase& c, std::ostream* os) {
    *os << '"' << c.root << '"';
}

class RootLetters : public ::testing::TestWithParam<RootCase> {};

TEST_P(RootLetters, NameTheirLetter) {
    EXPECT_EQ(drives::LetterOf(GetParam().root), GetParam().letter);
}

INSTANTIATE_TEST_SUITE_P(Drives, RootLetters,
                         ::testing::Values(RootCase{"D:\\", 'D'}, RootCase{"z:\\", 'Z'},
                                           RootCase{"F:", 'F'}, RootCase{"E:/", 'E'},
                                           RootCase{"C:\\", 0}, RootCase{"D:\\x", 0},
                                           RootCase{"D", 0}, RootCase{"", 0}, RootCase{"DD\\", 0}));

TEST_F(Drives, FoldersBecomeLettersInOrderAndOnlyMediaAnswersTheSpaceQuery) {
    fs::create_directories(home.Dir() / "d");
    fs::create_directories(home.Dir() / "f");
    drives::UseBackend(drives::MakeFolderBackend({
        {(home.Dir() / "d").string()},
        {(home.Dir() / "e").string(), drives::kDriveRemovable, false},
        {(home.Dir() / "f").string()},
        {(home.Dir() / "f").string(), drives::kDriveFixed},
    }));
    EXPECT_EQ(drives::DriveType("D:\\"), drives::kDriveRemovable);
    EXPECT_EQ(drives::DriveType("E:\\"), drives::kDriveRemovable);
    EXPECT_EQ(drives::DriveType("G:\\"), drives::kDriveFixed);
    EXPECT_EQ(drives::DriveType("H:\\"), drives::kDriveNoRootDir);
    EXPECT_EQ(drives::DriveType("nonsense"), drives::kDriveNoRootDir);

    drives::FreeSpace space;
    EXPECT_TRUE(drives::DiskFreeSpace("D:\\", &space));
    EXPECT_GT(space.total, 0u);
    EXPECT_FALSE(drives::DiskFreeSpace("E:\\", &space));
    EXPECT_TRUE(drives::DiskFreeSpace("F:\\", nullptr));
    EXPECT_FALSE(drives::DiskFreeSpace("H:\\", nullptr));

    EXPECT_EQ(drives::RootDirectory("f:"), (home.Dir() / "f").string());
    EXPECT_EQ(drives::RootDirectory("E:\\"), "");
}

TEST_F(Drives, AFolderThatIsGoneHoldsNoMedia) {
    drives::UseBackend(drives::MakeFolderBackend({{(home.Dir() / "missing").string()}}));
    EXPECT_EQ(drives::DriveType("D:\\"), drives::kDriveRemovable);
    EXPECT_FALSE(drives::DiskFreeSpace("D:\\", nullptr));
    EXPECT_EQ(drives::RootDirectory("D:\\"), "");
}

TEST_F(Drives, SimulatedDevicesOfTheModelOfferFoldersWhilePresent) {
    auto& farm = kestrel::sim::TheFarm();
    farm.Clear();
    auto first = farm.Add(kestrel::sim::DeviceConfig{});
    kestrel::sim::DeviceConfig other;
    other.vendor = "OTHER";
    farm.Add(other);
    auto second = farm.Add(kestrel::sim::DeviceConfig{});
    drives::UseBackend(kestrel::sim::backends::MakeDrivesBackend());

    const std::string d = drives::RootDirectory("D:\\");
    const std::string e = drives::RootDirectory("E:\\");
    ASSERT_FALSE(d.empty());
    ASSERT_FALSE(e.empty());
    EXPECT_NE(d, e);
    EXPECT_EQ(fs::path(d).parent_path(), home.Dir() / "sim-drives");
    EXPECT_EQ(drives::DriveType("F:\\"), drives::kDriveNoRootDir) << "the other model is no drive";

    first->Unplug();
    EXPECT_EQ(drives::RootDirectory("D:\\"), e);
    EXPECT_EQ(drives::DriveType("E:\\"), drives::kDriveNoRootDir);
    farm.Clear();
}

#if defined(_WIN32)
TEST(LinuxMounts, ParsesTheTableAndDecodesEscapedPaths) {
    GTEST_SKIP() << "Linux's mount table and sysfs: the Windows drives backend lists drive letters";
}
#else
TEST(LinuxMounts, ParsesTheTableAndDecodesEscapedPaths) {
    const auto entries = drives::ParseMountInfo(
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/op/DEMO\\040DISK rw,nosuid shared:5 - vfat /dev/sdb1 rw\n"
        "garbage line\n"
        "41 22 x:1 / /bad rw - vfat /dev/x rw\n"
        "42 22 0:50 / /proc rw - proc proc rw");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].major, 8u);
    EXPECT_EQ(entries[1].minor, 17u);
    EXPECT_EQ(entries[1].root, "/");
    EXPECT_EQ(entries[1].mountPoint, "/media/op/DEMO DISK");
    EXPECT_EQ(entries[2].major, 0u);
}

// A sysfs tree as the kernel lays it out: /sys/dev/block/M:m links to the device's directory,
// a partition lies inside its disk's directory and carries a "partition" attribute.
class LinuxSysfs : public ::testing::Test {
protected:
    void Disk(const std::string& name, const std::string& number, bool removable,
              const std::vector<std::pair<std::string, std::string>>& partitions) {
        const fs::path disk = root / "devices" / "block" / name;
        fs::create_directories(disk);
        std::ofstream(disk / "removable") << (removable ? "1\n" : "0\n");
        fs::create_directories(root / "dev" / "block");
        fs::create_symlink(disk, root / "dev" / "block" / number);
        for (const auto& [part, partNumber] : partitions) {
            fs::create_directories(disk / part);
            std::ofstream(disk / part / "partition") << "1\n";
            fs::create_symlink(disk / part, root / "dev" / "block" / partNumber);
        }
    }

    kestrel::test::TempHome home;
    fs::path root = home.Dir() / "sys";
};

TEST_F(LinuxSysfs, RemovableFileSystemsComeInDeviceOrderOncePerDevice) {
    Disk("sda", "8:0", false, {{"sda1", "8:1"}});
    Disk("sdb", "8:16", true, {{"sdb1", "8:17"}});
    Disk("sdc", "8:32", true, {});
    Disk("sdd", "8:48", true, {{"sdd1", "8:49"}});
    const auto mounts = drives::RemovableMountPoints(
        {
            {8, 49, "/", "/media/last"},
            {8, 1, "/", "/"},
            {8, 32, "/", "/media/whole-disk"},
            {8, 17, "/", "/media/z-second-mount"},
            {8, 17, "/", "/media/a-first"},
            {8, 17, "/sub", "/srv/bound"}, // a bind mount of a subdirectory is no drive
            {0, 50, "/", "/proc"},
            {8, 64, "/", "/media/unknown-device"},
        },
        root.string());
    EXPECT_EQ(mounts,
              (std::vector<std::string>{"/media/a-first", "/media/whole-disk", "/media/last"}));
    EXPECT_TRUE(drives::IsRemovableBlockDevice(root.string(), 8, 17));
    EXPECT_FALSE(drives::IsRemovableBlockDevice(root.string(), 8, 1));
}

#endif

} // namespace
