#include "platform/profile/ini_document.h"
#include "platform/profile/profile.h"
#include "support/symlink_or_skip.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
// <windows.h> maps these names to its own profile functions; the ones tested are ours.
#undef GetProfileInt
#undef GetProfileString
#undef WriteProfileString
#endif

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

TEST_F(ProfileTest, MissingOrUnreadableFileGivesDefaults) {
    EXPECT_EQ(GetProfileString("A", "b", "dflt", home_.Path("none.ini")), "dflt");
    EXPECT_EQ(GetProfileInt("A", "b", 42, home_.Dir().string()), 42) << "a directory reads empty";
}

TEST_F(ProfileTest, OnlyRegularFilesAreReadAndAFifoNeverBlocks) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows: no named pipes in the file system (the directory case is tested "
                    "by the next test)";
#else
    const auto fifo = home_.Path("isp.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string bytes;
    std::string why;
    EXPECT_EQ(ReadProfileFile(fifo, &bytes, &why), ProfileFileKind::kNotAFile);
    EXPECT_NE(why.find(fifo), std::string::npos) << why;
    EXPECT_NE(why.find("named pipe"), std::string::npos) << why;
    EXPECT_EQ(GetProfileInt("Romfs", "maxsize", 32, fifo), 32);
    EXPECT_FALSE(WriteProfileString("Romfs", "maxsize", "8", fifo, &why));
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
#endif
}

TEST_F(ProfileTest, ADirectoryOrAMissingFileIsNoProfileFile) {
    std::string bytes;
    std::string why;
    EXPECT_EQ(ReadProfileFile(home_.Dir().string(), &bytes, &why), ProfileFileKind::kNotAFile);
    EXPECT_NE(why.find("directory"), std::string::npos) << why;
    EXPECT_EQ(ReadProfileFile(home_.Path("none.ini"), &bytes, &why), ProfileFileKind::kMissing);
    EXPECT_NE(why.find(home_.Path("none.ini")), std::string::npos) << why;
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

// Bytes of ASCII text in UTF-16 little- or big-endian with the byte-order mark.
std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF"s : "\xFF\xFE"s;
    for (const char c : ascii) {
        out += bigEndian ? "\0"s + c : std::string(1, c) + '\0';
    }
    return out;
}

struct WriteCase {
    const char* name;
    std::string before;
    std::string after; // after setting [S] k=new and [S] added=1
};

class ProfileWriteKeepsTheFilesForm : public ::testing::TestWithParam<WriteCase> {
protected:
    TempHome home_;
};

TEST_P(ProfileWriteKeepsTheFilesForm, InItsOwnEncodingAndLineEnds) {
    const WriteCase& c = GetParam();
    home_.WriteFile("t.ini", c.before);
    ASSERT_TRUE(WriteProfileString("S", "k", "new", home_.Path("t.ini")));
    ASSERT_TRUE(WriteProfileString("S", "added", "1", home_.Path("t.ini")));
    EXPECT_EQ(home_.ReadFile("t.ini"), c.after);
    EXPECT_EQ(GetProfileString("S", "k", "", home_.Path("t.ini")), "new");
}

INSTANTIATE_TEST_SUITE_P(Forms, ProfileWriteKeepsTheFilesForm,
                         ::testing::Values(WriteCase{"utf16le", Utf16("[S]\r\nk=old\r\n", false),
                                                     Utf16("[S]\r\nk=new\r\nadded=1\r\n", false)},
                                           WriteCase{"utf16be", Utf16("[S]\r\nk=old\r\n", true),
                                                     Utf16("[S]\r\nk=new\r\nadded=1\r\n", true)},
                                           WriteCase{"utf8_bom", "\xEF\xBB\xBF[S]\nk=old\n",
                                                     "\xEF\xBB\xBF[S]\nk=new\nadded=1\n"},
                                           WriteCase{"cr_only", "[S]\rk=old\r[T]\rx=1\r",
                                                     "[S]\rk=new\radded=1\r[T]\rx=1\r"},
                                           WriteCase{"mixed_ends_kept", "[S]\r\nk=old\n#x=1\r",
                                                     "[S]\r\nk=new\n#x=1\radded=1\r\n"},
                                           WriteCase{"keys_before_section_kept", "a=1\r\n[S]\r\n",
                                                     "a=1\r\n[S]\r\nk=new\r\nadded=1\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileTest, WriteGoesThroughASymbolicLink) {
    home_.WriteFile("real.ini", "[S]\r\nk=old\r\n");
    std::filesystem::create_directory(home_.Dir() / "conf");
    std::error_code made;
    std::filesystem::create_symlink("../real.ini", home_.Dir() / "conf" / "isp.ini", made);
    KESTREL_REQUIRE_SYMLINK(made);
    const auto link = (home_.Dir() / "conf" / "isp.ini").string();
    ASSERT_TRUE(WriteProfileString("S", "k", "new", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(home_.ReadFile("real.ini"), "[S]\r\nk=new\r\n");
}

TEST_F(ProfileTest, ReadOnlyFileIsNeitherWrittenNorMadeWritable) {
    const std::string original = "[S]\r\nk=old\r\n";
    const auto path = Ini(original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    std::string why;
    EXPECT_FALSE(WriteProfileString("S", "k", "new", path, &why));
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_NE(why.find("read-only"), std::string::npos) << why;
    EXPECT_EQ(home_.ReadFile("t.ini"), original);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(ProfileTest, ReplacementKeepsTheFileMode) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files have no mode bits (their attributes: the next test)";
#endif
    const auto path = Ini("[S]\r\nk=old\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteProfileString("S", "k", "new", path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

#if defined(_WIN32)
TEST_F(ProfileTest, ReplacementKeepsTheHiddenAttribute) {
    const auto path = Ini("[S]\r\nk=old\r\n");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteProfileString("S", "k", "new", path));
    EXPECT_EQ(GetProfileString("S", "k", "", path), "new");
    EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}
#endif

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
