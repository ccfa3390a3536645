// kestrel-cli check and boot-image: a workspace is judged as a run would judge it, without a
// device, and boot code files made with boot-image program devices as the demo's do.

#include "cli_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using kestrel::test::CliResult;
using kestrel::test::CountOf;

// The fault table's damage functions reach the workspace from outside, so its members are
// public.
class Workspace : public ::testing::Test {
public:
    Workspace() { Run("demo-workspace " + Home()); }

    std::string Home() const { return home.Dir().string(); }
    CliResult Run(const std::string& args) { return kestrel::test::RunCli(home, args); }
    CliResult Check(const std::string& args = "") {
        return Run("--home " + Home() + " check " + args);
    }

    void Replace(const std::string& file, const std::string& from, const std::string& to) {
        std::string text = home.ReadFile(file);
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        home.WriteFile(file, text.replace(at, from.size(), to));
    }

    kestrel::test::TempHome home;
};

TEST_F(Workspace, TheDemoWorkspaceIsSound) {
    const CliResult r = Check();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(CountOf(r.out, "FAILED"), 0u) << r.out;
    EXPECT_NE(r.out.find("ok     loader class 0 level 1: record 0x8000E000"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("ok     Romfs: " + home.Path("resource.img") + ": ROMFS image"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nWorkspace ok\n"), std::string::npos) << r.out;
}

struct Fault {
    const char* name;
    std::function<void(Workspace&)> damage;
    const char* failed; // the FAILED line names this
    friend void PrintTo(const Fault& fault, std::ostream* os) { *os << fault.name; }
};

class WorkspaceFaults : public Workspace, public ::testing::WithParamInterface<Fault> {};

TEST_P(WorkspaceFaults, AreReportedAndFailTheCheck) {
    GetParam().damage(*this);
    const CliResult r = Check();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(CountOf(r.out, "FAILED"), 1u) << r.out;
    const auto line = r.out.find("FAILED ");
    ASSERT_NE(line, std::string::npos) << r.out;
    EXPECT_NE(r.out.substr(line, r.out.find('\n', line) - line).find(GetParam().failed),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n1 problem\n"), std::string::npos) << r.out;
}

void DamageSecondRecord(Workspace& w) {
    std::string package = w.home.ReadFile("boot/boot.pkg");
    const std::size_t first = static_cast<unsigned char>(package[4]) |
                              static_cast<unsigned char>(package[5]) << 8 |
                              static_cast<unsigned char>(package[6]) << 16;
    package[16 + first + 16 + 32 + 12 + 5] ^= 0x40; // a byte the checksum covers
    w.home.WriteFile("boot/boot.pkg", package);
}

INSTANTIATE_TEST_SUITE_P(
    All, WorkspaceFaults,
    ::testing::Values(
        Fault{"BootRecordChecksum", DamageSecondRecord,
              "record 0x8000E000 at offset 229583: refused: checkSum != imageheard.checkSum"},
        Fault{"BootPackageTruncated",
              [](Workspace& w) {
                  const std::string package = w.home.ReadFile("boot/boot.pkg");
                  w.home.WriteFile("boot/boot.pkg", package.substr(0, package.size() - 1));
              },
              "truncated"},
        Fault{"ResourceImageTooLong",
              [](Workspace& w) {
                  // 1.5 MiB of resources for a 1 MB area.
                  w.home.WriteFile("resource/big.bin", std::string(1536 * 1024, 'b'));
                  ASSERT_EQ(w.Run("romfs build " + w.home.Path("resource") + " " +
                                  w.home.Path("resource.img"))
                                .status,
                            0);
                  w.Replace("isp.ini", "maxsize=8", "maxsize=1");
              },
              "(\"Rom image is to long!\")"},
        Fault{"ResourceImageNotRomfs",
              [](Workspace& w) { w.home.WriteFile("resource.img", std::string(5000, 'x')); },
              "is not a sound ROMFS image"},
        Fault{"ConfigIniMissing",
              [](Workspace& w) { std::filesystem::remove(w.home.Dir() / "config.ini"); },
              "config.ini: missing"},
        Fault{"PatchProgramMissing",
              [](Workspace& w) {
                  w.Replace("RomPatch.ini",
                            "[Patch7]\nenable=1\nEntryAddr=0x80100000\n"
                            "FileName=patch/patch.bin",
                            "[Patch7]\nenable=1\nEntryAddr=0x80100000\nFileName=patch/none.bin");
              },
              "RomPatch.ini [Patch7]: patch program \"patch/none.bin\" (/"},
        Fault{"IspIniMissing",
              [](Workspace& w) { std::filesystem::remove(w.home.Dir() / "isp.ini"); },
              "isp.ini: missing"}),
    [](const auto& info) { return std::string(info.param.name); });

// One malformed value (or line) each, as an engineer might type it, and the line check gives.
struct Malformed {
    const char* name;
    const char* file;
    const char* from;
    const char* to;
    bool failed;          // FAILED (changes what a device gets) or a note
    const char* expected; // "file:line: key: value: what is expected"
    friend void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }
};

class MalformedValues : public Workspace, public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedValues, AreNamedWithFileAndLine) {
    const Malformed& m = GetParam();
    Replace(m.file, m.from, m.to);
    const CliResult r = Check();
    EXPECT_NE(r.out.find(std::string(m.failed ? "FAILED " : "note   ") + m.expected + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, m.failed ? 1 : 0) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    All, MalformedValues,
    ::testing::Values(
        Malformed{"MaxsizeWord", "isp.ini", "maxsize=8", "maxsize=abc", true,
                  "isp.ini:8: [Romfs] maxsize: abc: an integer from 0 to 4095 megabytes "
                  "(0 means 32)"},
        Malformed{"MaxsizeWithUnit", "isp.ini", "maxsize=8", "maxsize=8MB", true,
                  "isp.ini:8: [Romfs] maxsize: 8MB: an integer from 0 to 4095 megabytes "
                  "(0 means 32)"},
        Malformed{"MaxsizeUpperCaseHex", "isp.ini", "maxsize=8", "maxsize=0X8", true,
                  "isp.ini:8: [Romfs] maxsize: 0X8: an integer from 0 to 4095 megabytes "
                  "(0 means 32)"},
        Malformed{"ImageTypeOutOfRange", "isp.ini", "ImageType=3", "ImageType=7", true,
                  "isp.ini:23: [General] ImageType: 7: 1 (boot code), 2 (resources) or 3 "
                  "(program all)"},
        Malformed{"ImageTypeWord", "isp.ini", "ImageType=3", "ImageType=three", true,
                  "isp.ini:23: [General] ImageType: three: 1 (boot code), 2 (resources) or 3 "
                  "(program all)"},
        Malformed{"DramTypeWithoutEntry", "isp.ini", "Dramtype=0", "Dramtype=5", true,
                  "isp.ini:24: [General] Dramtype: 5: the index of a Dram type in config.ini "
                  "[Item2] (0, 1)"},
        Malformed{"ItemValueBadHex", "config.ini", "value=0x00000003", "value=0xZZ", true,
                  "config.ini:11: [Item0] value: 0xZZ: an integer (decimal, or 0x hexadecimal), "
                  "32 bits"},
        Malformed{"ClockByteWord", "config.ini", "freq_arm=4", "freq_arm=x", true,
                  "config.ini:34: [Freq0] freq_arm: x: an integer from 0 to 255 (one byte)"},
        Malformed{"ClockByteTooLarge", "config.ini", "freq_arm=4", "freq_arm=256", true,
                  "config.ini:34: [Freq0] freq_arm: 256: an integer from 0 to 255 (one byte)"},
        Malformed{"GeneralRenamed", "config.ini", "[General]", "[Settings]", true,
                  "config.ini: [General]: (missing): a [General] section with ItemNum, ItemName, "
                  "FreqNum and FreqName; without it the boot code carries no option item and no "
                  "clock entry"},
        Malformed{"BrokenSectionHeader", "isp.ini", "[Romfs]", "[Romfs", true,
                  "isp.ini:5: [Romfs: (section header): a closing ']'; without it the keys below "
                  "stay in [Redboot]"},
        Malformed{"ReadVerifyWord", "isp.ini", "readverify=1", "readverify=yes", false,
                  "isp.ini:18: [Burn-D] readverify: yes: 0 or 1"},
        Malformed{"KeyBeforeFirstSection", "isp.ini", "[Redboot]", "eccmode=1\n[Redboot]", false,
                  "isp.ini:1: eccmode: 1: a [section] header above it; keys outside sections "
                  "are not read"},
        Malformed{"DuplicateKey", "isp.ini", "DualImage=1", "DualImage=1\nDualImage=0", false,
                  "isp.ini:10: [Romfs] DualImage: 0: one value; line 9 gives this key first and "
                  "this line is not read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Workspace, ImagePathsAreNamedInFullAndRelativePathsComeFromTheHome) {
    const CliResult r = Run("--home " + Home() + " check");
    EXPECT_NE(r.out.find("ok     Romfs: " + home.Path("resource.img") + ": ROMFS image"),
              std::string::npos)
        << r.out;
    std::filesystem::remove(home.Dir() / "resource.img");
    const CliResult missing = Run("--home " + Home() + " check");
    EXPECT_NE(missing.out.find("FAILED Romfs: " + home.Path("resource.img") + " is missing"),
              std::string::npos)
        << missing.out;
}

TEST_F(Workspace, OnlyWhatTheRunModeUsesIsChecked) {
    home.WriteFile("resource.img", std::string(5000, 'x'));
    EXPECT_EQ(Check("--mode 1").status, 0);
    EXPECT_EQ(Check("--mode 2").status, 1);
    std::filesystem::remove(home.Dir() / "config.ini");
    home.WriteFile("boot/boot.pkg", "junk");
    const CliResult r = Check("--mode 2");
    EXPECT_EQ(CountOf(r.out, "FAILED"), 1u) << r.out; // the resource image only
}

TEST_F(Workspace, GeometryFromTheLastDecodedDeviceMeasuresTheAreas) {
    home.WriteFile("profile.ini",
                   "[General]\nEnable=1\nPageSize=4096\nPageNoPerBlk=128\nTotalBlkNo=100\n");
    const CliResult r = Check();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("blocks of 128 pages of 4096 bytes, of the last device decoded"),
              std::string::npos)
        << r.out;
    // 64 boot blocks + 2 x 16 Romfs blocks + 34 file-system blocks do not fit 100 blocks.
    EXPECT_NE(r.out.find("need 130 blocks but the chip has 100"), std::string::npos) << r.out;
}

TEST_F(Workspace, PackedBootCodeProgramsDevicesAndVerifies) {
    home.WriteFile("loader.bin", std::string(3000, 'L'));
    home.WriteFile("app.bin", std::string(70000, 'A'));
    const std::string image = home.Path("boot.img");
    CliResult r = Run("boot-image pack " + image + " 0x100=" + home.Path("loader.bin") +
                      " 0x200=" + home.Path("app.bin") + " --boot-header-value 0x20000");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run("boot-image check " + image);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("block 2: type 0x00000200, 70000 bytes"), std::string::npos) << r.out;
    // A plain image serves class 0 level 0 devices as it is; others need their records.
    EXPECT_NE(r.out.find("note   loader class 0 level 1: refused"), std::string::npos) << r.out;

    const std::string package = home.Path("boot/boot.pkg");
    r = Run("boot-image package " + package + " 0x8000D000=" + image + " 0x8000E000=" + image +
            " 0x8000F000=" + image);
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run("boot-image check " + package);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(CountOf(r.out, "boot image, 2 blocks, checksum correct"), 3u) << r.out;

    home.WriteFile("farm.ini", "[device]\nlatency = zero\n[device]\nchip = class2\n"
                               "loader_level = 1\nlatency = zero\n");
    r = Run("--home " + Home() + " --sim-config " + home.Path("farm.ini") +
            " isp --quiet --mode 1 verify --mode 1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(CountOf(r.out, "-> VERIFIED"), 2u) << r.out;
}

TEST_F(Workspace, BootImageArgumentsAreChecked) {
    home.WriteFile("a.bin", "abcd");
    const std::string a = home.Path("a.bin"), out = home.Path("x.img");
    EXPECT_EQ(Run("boot-image pack " + out + " 256" + a).status, 2);          // no '='
    EXPECT_EQ(Run("boot-image pack " + out + " 0x1FFFFFFFF=" + a).status, 2); // past 32 bits
    EXPECT_EQ(Run("boot-image pack " + out + " 1=" + home.Path("none")).status, 1);
    EXPECT_EQ(Run("boot-image pack " + out + " 1=" + a + " --short-header --word6 1").status, 2);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(Run("boot-image package " + out + " 1=" + a + " 0x1=" + a).status, 2); // same tag
    EXPECT_EQ(Run("boot-image check " + a).status, 1);
}

} // namespace
