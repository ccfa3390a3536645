#include "platform/profile/ini_document.h"
#include "platform/profile/profile.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kestrel::platform;
using kestrel::test::TempHome;
using namespace std::string_literals;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    std::string Ini(const std::string& bytes) {
        home_.WriteFile("t.ini", bytes);
        return home_.Path("t.ini");
    }
    TempHome home_;
};

TEST_F(ProfileTest, NamesMatchWithoutCaseAndFirstDuplicateWins) {
    const auto path = Ini("[Romfs]\r\nName = first \r\nname=second\r\n[ROMFS]\r\nenable=0\r\n");
    EXPECT_EQ(GetProfileString("romfs", "NAME", "x", path), "first");
    // The first [Romfs] section wins; its missing key is not searched in the duplicate.
    EXPECT_EQ(GetProfileInt("Romfs", "enable", 1, path), 1);
}

TEST_F(ProfileTest, IntegersParseLikeThePlatformReader) {
    const auto path = Ini("[G]\na=12abc\nb=0x1F\nc=-5\nd=abc\ne=\nf=  7  \ng=0X10\n");
    EXPECT_EQ(GetProfileInt("G", "a", 9, path), 12);
    EXPECT_EQ(GetProfileInt("G", "b", 9, path), 31);
    EXPECT_EQ(GetProfileInt("G", "c", 9, path), -5);
    EXPECT_EQ(GetProfileInt("G", "d", 9, path), 0);
    EXPECT_EQ(GetProfileInt("G", "e", 9, path), 9) << "an empty value yields the default";
    EXPECT_EQ(GetProfileInt("G", "f", 9, path), 7);
    EXPECT_EQ(GetProfileInt("G", "g", 9, path), 16);
    EXPECT_EQ(GetProfileInt("G", "missing", 9, path), 9);
    EXPECT_EQ(GetProfileInt("Other", "a", 9, path), 9);
}

TEST_F(ProfileTest, MissingOrUnreadableFileGivesDefaults) {
    EXPECT_EQ(GetProfileString("A", "b", "dflt", home_.Path("none.ini")), "dflt");
    EXPECT_EQ(GetProfileInt("A", "b", 42, home_.Dir().string()), 42) << "a directory reads empty";
}

TEST_F(ProfileTest, StringsAreCutAt255AndQuotesRemoved) {
    const std::string longValue(100 * 1024, 'v');
    const auto path = Ini("[S]\nlong=" + longValue + "\nq=\"quoted text\"\n");
    EXPECT_EQ(GetProfileString("S", "long", "", path), std::string(255, 'v'));
    EXPECT_EQ(GetProfileString("S", "q", "", path), "quoted text");
}

TEST_F(ProfileTest, HostileBytesNeitherCrashNorHideOtherKeys) {
    std::string bytes = "\xEF\xBB\xBF[A]\r\nkey=1\r\n";
    bytes += "garbage line without equals\n\x01\x02\xff\xfe\n"s;
    bytes += "bin=ab\0cd\n"s;
    bytes += "[B]\nlast=tail"; // no final newline
    const auto path = Ini(bytes);
    EXPECT_EQ(GetProfileInt("A", "key", 0, path), 1) << "the byte-order mark is not part of [A]";
    EXPECT_EQ(GetProfileString("A", "bin", "", path), "ab");
    EXPECT_EQ(GetProfileString("B", "last", "", path), "tail");
}

TEST_F(ProfileTest, WritesKeepEveryOtherLine) {
    const std::string original =
        "; station settings\r\n[Romfs]\r\nname=old\r\n\r\n[Burn-D]\r\nDir=C:\\demo\r\n";
    const auto path = Ini(original);
    ASSERT_TRUE(WriteProfileString("ROMFS", "name", "new", path));
    ASSERT_TRUE(WriteProfileString("Romfs", "enable", "1", path));
    ASSERT_TRUE(WriteProfileString("General", "ImageType", "3", path));
    EXPECT_EQ(home_.ReadFile("t.ini"),
              "; station settings\r\n[Romfs]\r\nname=new\r\nenable=1\r\n\r\n[Burn-D]\r\n"
              "Dir=C:\\demo\r\n[General]\r\nImageType=3\r\n");
}

TEST_F(ProfileTest, WriteCreatesTheFileAndKeepsLfFiles) {
    const auto created = home_.Path("new.ini");
    ASSERT_TRUE(WriteProfileString("General", "Enable", "1", created));
    EXPECT_EQ(home_.ReadFile("new.ini"), "[General]\r\nEnable=1\r\n");

    const auto path = Ini("[A]\nx=1"); // LF, no final newline
    ASSERT_TRUE(WriteProfileString("A", "y", "2", path));
    EXPECT_EQ(home_.ReadFile("t.ini"), "[A]\nx=1\ny=2\n");
    ASSERT_TRUE(DeleteProfileKey("a", "X", path));
    EXPECT_EQ(home_.ReadFile("t.ini"), "[A]\ny=2\n");
}

TEST_F(ProfileTest, ConcurrentReadersNeverSeeATornFile) {
    const auto path = Ini("[General]\nfixed=77\n");
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                if (GetProfileInt("General", "fixed", -1, path) != 77) {
                    ++torn;
                }
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        WriteProfileString("General", "counter", std::to_string(i), path);
    }
    stop = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(GetProfileInt("General", "counter", -1, path), 299);
}

} // namespace
