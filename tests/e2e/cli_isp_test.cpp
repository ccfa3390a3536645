// The whole station end to end through kestrel-cli on simulated devices: a demo workspace,
// an ISP run, and the read-back of every device by the device-side readers.

#include "cli_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using Result = kestrel::test::CliResult;

class Cli : public ::testing::Test {
protected:
    Cli() { Run("demo-workspace " + Home()); }

    std::string Home() const { return home.Dir().string(); }

    Result Run(const std::string& args) { return kestrel::test::RunCli(home, args); }

    Result Isp(const std::string& devices, const std::string& ispArgs,
               const std::string& verifyArgs = "") {
        home.WriteFile("farm.ini", devices);
        return Run("--home " + Home() + " --sim-config " + home.Path("farm.ini") + " isp --quiet " +
                   ispArgs + " verify " + verifyArgs);
    }

    static std::size_t Count(const std::string& text, const std::string& what) {
        return kestrel::test::CountOf(text, what);
    }

    kestrel::test::TempHome home;
};

constexpr const char* kTwoDevices =
    "[device]\nlatency = zero\n[device]\nchip = class2\nlatency = zero\n";

struct ModeCase {
    int mode;
    const char* logged;    // a line every device logs
    const char* notLogged; // a line no device logs
    friend void PrintTo(const ModeCase& c, std::ostream* os) { *os << "mode " << c.mode; }
};

class Modes : public Cli, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(Modes, EveryDeviceIsProgrammedAndVerified) {
    const ModeCase& c = GetParam();
    const std::string mode = "--mode " + std::to_string(c.mode);
    const Result r = Isp(kTwoDevices, mode, mode);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, c.logged), 2u) << r.out;
    EXPECT_EQ(Count(r.out, c.notLogged), 0u) << r.out;
    EXPECT_EQ(Count(r.out, "-> VERIFIED"), 2u) << r.out;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    EXPECT_EQ(Count(record, "\"result\":\"ok\""), 2u) << record;
    EXPECT_EQ(Count(record, "\"mode\":" + std::to_string(c.mode)), 2u) << record;
}

INSTANTIATE_TEST_SUITE_P(
    All, Modes,
    ::testing::Values(ModeCase{1, "Write FW is success.", "Begin write resource."},
                      ModeCase{2, "Write resource is success.", "Begin write FW."},
                      ModeCase{3, "Write resource is success.", "is fail."}));

TEST_F(Cli, RefusedBootImageProgramsNoDevice) {
    // Loader class 1, level 2 wants the record tagged 0x8050C000; keep only the first record.
    std::ifstream in(home.Dir() / "boot" / "boot.pkg", std::ios::binary);
    std::string package(std::istreambuf_iterator<char>(in), {});
    const auto length =
        static_cast<unsigned char>(package[4]) | static_cast<unsigned char>(package[5]) << 8 |
        static_cast<unsigned char>(package[6]) << 16 | static_cast<unsigned char>(package[7]) << 24;
    home.WriteFile("boot/boot.pkg", package.substr(0, 16 + length));
    const Result r =
        Isp("[device]\nloader_class = 1\nlatency = zero\n[device]\nlatency = zero\n", "");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.err.find("Image is error, can't support this H/W!"), std::string::npos) << r.err;
    EXPECT_EQ(Count(r.out, "Begin write"), 0u);
}

TEST_F(Cli, UnpluggedDeviceFailsWithItsMessageWhileTheOtherSucceeds) {
    // Device 1 stops answering after 400 commands, as a device pulled out mid-run.
    home.WriteFile("farm.ini", "[device]\nlatency = zero\n[device]\nlatency = zero\n"
                               "fail = any:always:1167:400\n");
    const Result r = Run("--home " + Home() + " --sim-config " + home.Path("farm.ini") +
                         " isp --quiet --timeout 120");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("0    ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1    FAILED"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Device1-->The device was removed (error id: 1167)"), std::string::npos)
        << "the summary gives the device's own message";
    EXPECT_EQ(Count(r.err, "Device1-->"), 1u) << "one message, no retries' worth of boxes\n"
                                              << r.err;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    EXPECT_NE(record.find("\"device\":1,"), std::string::npos);
    EXPECT_EQ(Count(record, "\"result\":\"failed\""), 1u) << record;
    EXPECT_EQ(Count(record, "error id: 1167"), 1u) << record;
}

// The time limit is real time: retries' waits, instant here, add modelled time far beyond it
// (four devices, nine failures each, half a second per retry) without stopping the run.
TEST_F(Cli, TheTimeLimitCountsRealTimeNotTheModelledTimeOfInstantWaits) {
    std::string farm;
    for (int i = 0; i < 4; ++i) {
        farm += "[device]\nlatency = zero\nfail = any:9:31:40\n";
    }
    const Result r = Isp(farm, "--mode 1 --timeout 3", "--mode 1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "time limit"), 0u) << r.out;
}

// A run past its limit fails the units still under way; a unit done before keeps its result.
TEST_F(Cli, TheTimeLimitFailsOnlyTheUnitsStillUnderWay) {
    home.WriteFile("farm.ini", "[device]\nlatency = zero\n[device]\nlatency_scale = 100\n");
    const Result r =
        kestrel::test::RunCli(home,
                              "--home " + Home() + " --sim-config " + home.Path("farm.ini") +
                                  " isp --quiet --mode 1 --timeout 2",
                              "1");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("0    ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1    FAILED"), std::string::npos) << r.out;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    EXPECT_EQ(Count(record, "\"result\":\"ok\""), 1u) << record;
    EXPECT_EQ(Count(record, "after its time limit"), 1u) << record;
}

TEST_F(Cli, EightDevicesOfDifferentGeometriesWithFaultsVerifyBitForBit) {
    std::ifstream in(home.Dir() / "devices.ini");
    std::string devices(std::istreambuf_iterator<char>(in), {});
    std::string zero;
    for (std::size_t at = 0, next; at < devices.size(); at = next + 1) {
        next = devices.find('\n', at);
        if (next == std::string::npos) {
            next = devices.size();
        }
        zero += devices.substr(at, next - at) + "\n";
        if (devices.compare(at, 8, "[device]") == 0) {
            zero += "latency = zero\n";
        }
    }
    const Result r = Isp(zero, "--mode 3");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "-> VERIFIED"), 8u) << r.out;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    EXPECT_EQ(Count(record, "\"result\":\"ok\""), 8u);
    // Eight units of one batch: one reduced identity for all, eight devices programmed.
    EXPECT_EQ(Count(record, "REV_1.00\""), 8u) << record;
}

TEST_F(Cli, OptionsApplyToOneRunAndLeaveBothIniFilesByteIdentical) {
    const std::string isp = home.ReadFile("isp.ini");
    const std::string config = home.ReadFile("config.ini");
    const Result r = Isp(kTwoDevices,
                         "--mode 1 --boot " + home.Path("boot/boot.pkg") + " --resource " +
                             home.Path("resource.img") + " --dram 1 --read-verify 0 --rebuild 0",
                         "--mode 1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "-> VERIFIED"), 2u) << r.out;
    EXPECT_EQ(home.ReadFile("isp.ini"), isp);
    EXPECT_EQ(home.ReadFile("config.ini"), config);
}

TEST_F(Cli, DramTypeWithoutAnEntryIsRefusedBeforeAnyDevice) {
    const std::string config = home.ReadFile("config.ini");
    const Result r = Isp(kTwoDevices, "--dram 5");
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("--dram 5: config.ini [Item2] has no key 5"), std::string::npos) << r.err;
    EXPECT_EQ(Count(r.out, "Begin write"), 0u) << r.out;
    EXPECT_EQ(home.ReadFile("config.ini"), config);
}

TEST_F(Cli, AWorkspaceCopiedElsewhereUsesItsOwnImages) {
    const auto copy = home.Dir() / "copy";
    std::filesystem::create_directory(copy);
    for (const char* name :
         {"isp.ini", "config.ini", "RomPatch.ini", "boot", "patch", "resource.img"}) {
        std::filesystem::copy(home.Dir() / name, copy / name,
                              std::filesystem::copy_options::recursive);
    }
    // The original's images are gone: a copy that still named them could not run.
    std::filesystem::remove_all(home.Dir() / "boot");
    std::filesystem::remove(home.Dir() / "resource.img");
    home.WriteFile("farm.ini", kTwoDevices);
    const Result r = Run("--home " + copy.string() + " --sim-config " + home.Path("farm.ini") +
                         " isp --quiet verify");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "-> VERIFIED"), 2u) << r.out;
}

TEST_F(Cli, DemoWorkspaceKeepsAnEditedWorkspaceUnlessForced) {
    home.WriteFile("isp.ini", "[Romfs]\nmaxsize=16\n");
    const Result refused = Run("demo-workspace " + Home());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("already holds a workspace (isp.ini, config.ini, RomPatch.ini)"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(home.ReadFile("isp.ini"), "[Romfs]\nmaxsize=16\n");
    EXPECT_EQ(Run("demo-workspace --force " + Home()).status, 0);
    EXPECT_NE(home.ReadFile("isp.ini").find("name=resource.img\n"), std::string::npos);
}

// Continuous mode through kestrel-cli: the shift ends by its unit limit or its time, every unit
// present is programmed once and recorded with the shift's counters, and the chain goes on.
struct ShiftCase {
    const char* name;
    const char* devices;
    const char* options;
    int status;
    int units;   // recorded
    int passed;  // of them
    bool verify; // "verify" chained after the shift
    friend void PrintTo(const ShiftCase& c, std::ostream* os) { *os << c.name; }
};

class ContinuousShift : public Cli, public ::testing::WithParamInterface<ShiftCase> {};

TEST_P(ContinuousShift, RecordsEveryUnitOnceWithTheShiftsCounters) {
    const ShiftCase& c = GetParam();
    home.WriteFile("farm.ini", c.devices);
    const Result r = Run("--home " + Home() + " --sim-config " + home.Path("farm.ini") +
                         " isp --quiet --continuous " + c.options + " --timeout 120" +
                         (c.verify ? " verify" : ""));
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "Unit ended: Dev"), static_cast<std::size_t>(c.units)) << r.out;
    const std::string shift = "Shift: " + std::to_string(c.passed) + " passed, " +
                              std::to_string(c.units - c.passed) + " failed, ";
    EXPECT_NE(r.out.find("\n" + shift), std::string::npos) << "the summary's shift line\n" << r.out;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    EXPECT_EQ(Count(record, "\n"), static_cast<std::size_t>(c.units)) << record;
    EXPECT_EQ(Count(record, "\"result\":\"ok\""), static_cast<std::size_t>(c.passed)) << record;
    if (c.units > 0) {
        EXPECT_NE(record.find("\"passed\":" + std::to_string(c.passed) +
                              ",\"failed\":" + std::to_string(c.units - c.passed)),
                  std::string::npos)
            << record;
    }
    if (c.verify) {
        EXPECT_EQ(Count(r.out, "-> VERIFIED"), static_cast<std::size_t>(c.passed)) << r.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shifts, ContinuousShift,
    ::testing::Values(ShiftCase{"UnitLimit", kTwoDevices, "--units 2", 0, 2, 2, true},
                      ShiftCase{"LimitBelowTheUnitsPresent", kTwoDevices, "--units 1", 0, 1, 1,
                                false},
                      ShiftCase{"TimeUp", "[device]\nlatency = zero\n", "--for 1", 0, 1, 1, false},
                      ShiftCase{"NoUnitInTime", "", "--for 0.3", 3, 0, 0, false},
                      ShiftCase{"AUnitFails",
                                "[device]\nlatency = zero\n[device]\nlatency = zero\n"
                                "fail = any:always:1167:400\n",
                                "--units 2", 1, 2, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
