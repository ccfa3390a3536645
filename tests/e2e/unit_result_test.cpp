// A unit reported good is good: each way a run once ended with a unit called ok while its NAND
// was wrong (or damaged a unit it could have refused) is run end to end through kestrel-cli on
// simulated devices, followed by the read-back of every device. Each case either refuses the
// run before any command reaches a device, fails the unit with its message, or programs it so
// that the read-back finds it identical; no case may end with a unit called ok whose read-back
// differs. The sweep at the end runs every identification class, loader level and boot device
// id the simulator has with small images under the same rule.

#include "cli_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

using kestrel::test::CliResult;
using kestrel::test::TempHome;

// The devices the summary calls ok, and those the read-back calls VERIFIED.
std::set<int> Devices(const std::string& out, const std::regex& line) {
    std::set<int> devices;
    std::istringstream in(out);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
            devices.insert(std::stoi(m[1]));
        }
    }
    return devices;
}

std::set<int> CalledOk(const std::string& out) {
    return Devices(out, std::regex(R"(^(\d+)\s+ok\s)"));
}

std::set<int> Verified(const std::string& out) {
    return Devices(out, std::regex(R"(^Device (\d+) \(.*\):.* -> VERIFIED$)"));
}

// Every unit the run called ok must read back identical.
void ExpectOkImpliesVerified(const CliResult& r) {
    for (int device : CalledOk(r.out)) {
        EXPECT_TRUE(Verified(r.out).count(device) == 1)
            << "device " << device << " was called ok but does not verify\n"
            << r.out;
    }
}

enum class Outcome {
    kRefused,    // the workspace check refuses the run: no device command
    kUnitFails,  // the unit named fails with the message
    kAllVerified // every unit is programmed and reads back identical
};

struct UnitCase {
    const char* name;
    std::string workspaceArgs;                 // demo-workspace options
    std::map<std::string, std::string> ispIni; // "Section/key" -> value written into isp.ini
    std::string devices;                       // the simulated devices
    std::string ispArgs;                       // isp options
    Outcome outcome;
    int device = 0;      // kUnitFails: the device that fails
    std::string message; // in the output (the log or the unit's message)
    bool truncateRomfs = false;
    bool sameKindTwice = false; // a boot package whose image holds two blocks of one kind
    std::map<std::string, std::string> files = {}; // written into the home directory
    friend void PrintTo(const UnitCase& c, std::ostream* os) { *os << c.name; }
};

class UnitResult : public ::testing::TestWithParam<UnitCase> {
protected:
    std::string Home() const { return home.Dir().string(); }
    CliResult Run(const std::string& args) { return kestrel::test::RunCli(home, args); }

    void SetIni(const std::string& sectionKey, const std::string& value) {
        const auto slash = sectionKey.find('/');
        const std::string section = "[" + sectionKey.substr(0, slash) + "]";
        const std::string key = sectionKey.substr(slash + 1) + "=";
        std::string text = home.ReadFile("isp.ini");
        const auto at = text.find(section);
        ASSERT_NE(at, std::string::npos) << section;
        const auto line = text.find("\n" + key, at);
        ASSERT_NE(line, std::string::npos) << key;
        const auto end = text.find('\n', line + 1);
        text.replace(line + 1, end - line - 1, key + value);
        home.WriteFile("isp.ini", text);
    }

    // A package whose every record is an image of three blocks, two of them of kind 0x100.
    void WriteSameKindPackage() {
        home.WriteFile("a.bin", std::string(3000, 'a'));
        home.WriteFile("b.bin", std::string(5000, 'b'));
        home.WriteFile("c.bin", std::string(700, 'c'));
        const std::string image = home.Path("twice.img");
        ASSERT_EQ(Run("boot-image pack " + image + " 0x100=" + home.Path("a.bin") +
                      " 0x200=" + home.Path("b.bin") + " 0x1100=" + home.Path("c.bin"))
                      .status,
                  0);
        std::string records;
        for (const char* tag : {"0x8000D000", "0x8000E000", "0x8000F000"}) {
            records += std::string(" ") + tag + "=" + image;
        }
        ASSERT_EQ(Run("boot-image package " + home.Path("boot/boot.pkg") + records).status, 0);
    }

    TempHome home;
};

TEST_P(UnitResult, IsRefusedFailsWithItsMessageOrVerifies) {
    const UnitCase& c = GetParam();
    ASSERT_EQ(Run("demo-workspace " + Home() + " " + c.workspaceArgs).status, 0);
    for (const auto& [key, value] : c.ispIni) {
        SetIni(key, value);
    }
    if (c.truncateRomfs) {
        const std::string image = home.ReadFile("resource.img");
        home.WriteFile("resource.img", image.substr(0, image.size() / 2));
    }
    if (c.sameKindTwice) {
        WriteSameKindPackage();
    }
    for (const auto& [name, content] : c.files) {
        home.WriteFile(name, content);
    }
    home.WriteFile("farm.ini", c.devices);
    const CliResult r = Run("--home " + Home() + " --sim-config " + home.Path("farm.ini") +
                            " isp --quiet " + c.ispArgs + " verify");
    ExpectOkImpliesVerified(r);
    const bool said =
        r.out.find(c.message) != std::string::npos || r.err.find(c.message) != std::string::npos;
    EXPECT_TRUE(said) << c.message << "\n" << r.out << r.err;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    switch (c.outcome) {
    case Outcome::kRefused:
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.out.find("The run is refused"), std::string::npos) << r.out;
        EXPECT_EQ(kestrel::test::CountOf(r.out, "Begin write"), 0u) << r.out;
        EXPECT_TRUE(record.empty()) << record;
        break;
    case Outcome::kUnitFails:
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(CalledOk(r.out).count(c.device), 0u) << r.out;
        EXPECT_NE(record.find("\"device\":" + std::to_string(c.device) + ","), std::string::npos);
        EXPECT_GE(kestrel::test::CountOf(record, "\"result\":\"failed\""), 1u) << record;
        break;
    case Outcome::kAllVerified:
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_FALSE(CalledOk(r.out).empty()) << r.out;
        EXPECT_EQ(kestrel::test::CountOf(record, "\"result\":\"failed\""), 0u) << record;
        break;
    }
}

constexpr const char* kOne = "[device]\nlatency = zero\n";
constexpr const char* kTwo = "[device]\nlatency = zero\n[device]\nlatency = zero\n";

const UnitCase kUnitCases[] = {
    UnitCase{"BootPackageMissing",
             "",
             {},
             kTwo,
             "--boot /absent/boot.pkg",
             Outcome::kRefused,
             0,
             "/absent/boot.pkg: can't be opened"},
    UnitCase{"BootImageLargerThanTheBootArea",
             "--boot-kib 9216",
             {},
             kOne,
             "",
             Outcome::kUnitFails,
             0,
             "Device:0 ==> Boot image refused"},
    UnitCase{"BootImageLargerThanTheBootAreaOfTheLastChip",
             "--boot-kib 9216",
             {},
             kOne,
             "",
             Outcome::kRefused,
             0,
             "where the Romfs area or the erased span begins",
             false,
             false,
             {{"profile.ini",
               "[General]\nEnable=1\nPageSize=2048\nPageNoPerBlk=64\nTotalBlkNo=4096\n"}}},
    UnitCase{"BootDeviceId2",
             "",
             {},
             "[device]\nlatency = zero\nboot_device_id = 2\n",
             "",
             Outcome::kUnitFails,
             0,
             "the Romfs area"},
    UnitCase{"BootDeviceId6OnAPairedPageChip",
             "",
             {},
             "[device]\nlatency = zero\nchip = class9\nboot_device_id = 6\n",
             "",
             Outcome::kUnitFails,
             0,
             "the paired-page rule admits"},
    UnitCase{"Class5Chip",
             "",
             {},
             "[device]\nlatency = zero\nchip = class5\n",
             "",
             Outcome::kAllVerified,
             0,
             "-> VERIFIED"},
    UnitCase{"LoaderSignatureUnreadable",
             "",
             {},
             "[device]\nlatency = zero\n[device]\nlatency = zero\nfail = 02:always:31\n",
             "",
             Outcome::kUnitFails,
             1,
             "Device:1 ==> The loader signature"},
    UnitCase{"PairedPagesLeaveTooLittleRoom",
             "--boot-kib 12288",
             {},
             "[device]\nlatency = zero\nchip = class9\n",
             "",
             Outcome::kUnitFails,
             0,
             "that the paired-page rule admits"},
    UnitCase{"RomfsImageTruncated",
             "",
             {},
             kOne,
             "",
             Outcome::kRefused,
             0,
             "is not a sound ROMFS image",
             true},
    UnitCase{"RomfsImageTooBigForItsArea",
             "--filler-kib 2048",
             {{"Romfs/maxsize", "1"}},
             kOne,
             "",
             Outcome::kRefused,
             0,
             "Rom image is to long!"},
    UnitCase{"TwoBlocksOfOneKindShareTheirIndexSlot",
             "",
             {},
             kTwo,
             "",
             Outcome::kAllVerified,
             0,
             "so the device can't reach it",
             false,
             true},
    UnitCase{"LoaderLevel0",
             "",
             {},
             "[device]\nlatency = zero\nloader_level = 0\n",
             "",
             Outcome::kAllVerified,
             0,
             "-> VERIFIED"},
    UnitCase{"SystemInformationBlockBad",
             "",
             {},
             "[device]\nlatency = zero\nfactory_bad = 2\n",
             "",
             Outcome::kUnitFails,
             0,
             "The system information page can't be written to block 2"},
    UnitCase{"AreaRecordBlockGrowsBadOnItsSecondErase",
             "",
             {},
             "[device]\nlatency = zero\nchip = class6\ngrown_bad = 64@2\n",
             "",
             Outcome::kUnitFails,
             0,
             "the area record or block map doesn't read back"}};

INSTANTIATE_TEST_SUITE_P(Cases, UnitResult, ::testing::ValuesIn(kUnitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Over every identification class, loader level and boot device id the simulator has, with
// small images: whatever the run says of a unit, "ok" implies identical on read-back.
struct SweepCase {
    const char* name;
    int bootKib;
    int firstLevel; // loader levels swept: firstLevel .. lastLevel
    int lastLevel;
    int firstId; // boot device ids swept at level 2 and up (below, the id is not asked)
    int lastId;
    friend void PrintTo(const SweepCase& c, std::ostream* os) { *os << c.name; }
};

class Sweep : public ::testing::TestWithParam<SweepCase> {};

std::string SweepDevices(const SweepCase& c) {
    std::string devices;
    auto add = [&](const std::string& chip, int level, int bootId) {
        devices += "[device]\nlatency = zero\nchip = " + chip +
                   "\nloader_level = " + std::to_string(level) +
                   "\nboot_device_id = " + std::to_string(bootId) + "\n";
    };
    for (int level = c.firstLevel; level <= c.lastLevel; ++level) {
        const int firstId = level >= 2 ? c.firstId : 0;
        const int lastId = level >= 2 ? c.lastId : 0;
        for (int bootId = firstId; bootId <= lastId; ++bootId) {
            for (int idClass = 0; idClass <= 11; ++idClass) {
                add("class" + std::to_string(idClass), level, bootId);
            }
        }
    }
    for (const char* chip :
         {"small73", "small75", "small76", "small79", "smalle6", "sdbt", "spi"}) {
        add(chip, c.lastLevel, c.firstId);
    }
    return devices;
}

TEST_P(Sweep, OkImpliesIdenticalOnReadBack) {
    const SweepCase& c = GetParam();
    TempHome home;
    const std::string dir = home.Dir().string();
    ASSERT_EQ(kestrel::test::RunCli(home, "demo-workspace " + dir + " --boot-kib " +
                                              std::to_string(c.bootKib) +
                                              " --filler-kib 4 --firmware-kib 4 --romfs-mb 8")
                  .status,
              0);
    home.WriteFile("farm.ini", SweepDevices(c));
    const CliResult r = kestrel::test::RunCli(
        home, "--home " + dir + " --sim-config " + home.Path("farm.ini") + " isp --quiet verify");
    ExpectOkImpliesVerified(r);
    EXPECT_FALSE(CalledOk(r.out).empty()) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(All, Sweep,
                         ::testing::Values(SweepCase{"Levels0And1Tiny", 1, 0, 1, 0, 0},
                                           SweepCase{"Levels0And1Small", 100, 0, 1, 0, 0},
                                           SweepCase{"Level2Ids0To3Tiny", 1, 2, 2, 0, 3},
                                           SweepCase{"Level2Ids4To7Tiny", 1, 2, 2, 4, 7},
                                           SweepCase{"Level2Ids0To3Small", 100, 2, 2, 0, 3},
                                           SweepCase{"Level2Ids4To7Small", 100, 2, 2, 4, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
