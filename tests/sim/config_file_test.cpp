// The simulated-device configuration file and the environment variables.
#include "platform/environment/environment.h"
#include "sim/config_file.h"
#include "sim/farm.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrel::sim {
namespace {

TEST(SimConfigFile, DescribesEachDevice) {
    const char* text = "# two kinds\n"
                       "[device]\n"
                       "chip = class9\n"
                       "loader_level = 1\n"
                       "loader_class = 2\n"
                       "factory_bad = 3, 7\n"
                       "grown_bad = 12@5, 13\n"
                       "failing_pages = 640\n"
                       "fail = 12:3:31\n"
                       "fail = any:always:1167:100\n"
                       "parameter = 0xA0:0x40\n"
                       "unplug = 250:40\n"
                       "revision = 2.00\n"
                       "port = 2-1.4\n"
                       "usb_serial = 4C530001\n"
                       "page_order = 0\n"
                       "bad_block_status = 1\n"
                       "latency = zero\n"
                       "\n"
                       "[Device]\n"
                       "count = 2\n"
                       "boot_device_id = 2\n"
                       "mb_per_s = 20\n";
    std::vector<DeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(ParseSimConfig(text, devices, error)) << error;
    ASSERT_EQ(devices.size(), 3u);
    const DeviceConfig& a = devices[0];
    EXPECT_EQ(a.chip.idClass, 9);
    EXPECT_TRUE(a.chip.pairedPages);
    EXPECT_EQ(a.loaderLevel, 1);
    EXPECT_EQ(a.loaderClass, 2);
    EXPECT_EQ(a.factoryBadBlocks, std::vector<std::uint32_t>({3, 7}));
    ASSERT_EQ(a.grownBadBlocks.size(), 2u);
    EXPECT_EQ(a.grownBadBlocks[0].afterErases, 5u);
    EXPECT_EQ(a.grownBadBlocks[1].block, 13u);
    ASSERT_EQ(a.failures.size(), 2u);
    EXPECT_EQ(a.failures[0].subCommand, 0x12);
    EXPECT_EQ(a.failures[0].count, 3);
    EXPECT_EQ(a.failures[1].subCommand, -1);
    EXPECT_EQ(a.failures[1].count, -1);
    EXPECT_EQ(a.failures[1].errorCode, 1167);
    EXPECT_EQ(a.failures[1].skip, 100u);
    EXPECT_EQ(a.parameterRegisters.at(0xA0), 0x40);
    EXPECT_EQ(a.unplugAfterCommands, 250u);
    EXPECT_EQ(a.replugAfterMs, 40u);
    EXPECT_FALSE(devices[1].unplugAfterCommands.has_value());
    EXPECT_EQ(a.revision, "2.00");
    EXPECT_EQ(a.port, "2-1.4");
    EXPECT_EQ(a.usbSerial, "4C530001");
    EXPECT_FALSE(a.PageOrderRule()) << "switched off for an MLC chip";
    EXPECT_TRUE(a.badBlockStatus);
    EXPECT_TRUE(devices[1].PageOrderRule() == devices[1].chip.IsMlc());
    EXPECT_FALSE(devices[1].badBlockStatus);
    EXPECT_TRUE(devices[1].port.empty()) << "the farm gives each its own";
    EXPECT_EQ(a.latency.commandUs, 0);
    EXPECT_EQ(devices[1].bootDeviceId, 2u);
    EXPECT_EQ(devices[2].latency.bytesPerUs, 20);
    EXPECT_EQ(devices[2].chip.idClass, 0);
}

TEST(SimConfigFile, SleepQuantumSurvivesAChangeOfChip) {
    std::vector<DeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(ParseSimConfig("[device]\nsleep_quantum_us = 500\nlatency_scale = 0.5\n"
                               "chip = class2\n",
                               devices, error))
        << error;
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].latency.sleepQuantumUs, 500);
    EXPECT_EQ(devices[0].latency.scale, 0.5);
    EXPECT_EQ(devices[0].latency.pageProgramUs, 1300) << "the MLC timings of the new chip";
}

struct BadCase {
    const char* text;
    const char* message;
};

class SimConfigErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(SimConfigErrors, NameTheLineAndAddNothing) {
    std::vector<DeviceConfig> devices;
    std::string error;
    EXPECT_FALSE(ParseSimConfig(GetParam().text, devices, error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_TRUE(devices.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimConfigErrors,
    ::testing::Values(BadCase{"chip = class1\n", "line 1: key outside"},
                      BadCase{"[device]\nchip = class12\n", "line 2: chip"},
                      BadCase{"[device]\ncolour = blue\n", "unknown key"},
                      BadCase{"[drive]\n", "unknown section"},
                      BadCase{"[device]\nloader_level = 16\n", "loader_level"},
                      BadCase{"[device]\nloader_level = -1\n", "loader_level"},
                      BadCase{"[device]\nfactory_bad = 4096\n", "beyond the chip"},
                      BadCase{"[device]\nfailing_pages = 1, x\n", "failing_pages"},
                      BadCase{"[device]\nfail = 12:3\n", "fail"},
                      BadCase{"[device]\ncount = 65\n", "count"},
                      BadCase{"[device]\nunplug = soon\n", "commands[:replug_ms]"},
                      BadCase{"[device]\nunplug = 10:20:30\n", "commands[:replug_ms]"},
                      BadCase{"[device]\ncount = 40\n[device]\ncount = 25\n", "more than 64"},
                      BadCase{"[device]\nblocks\n", "key = value"},
                      BadCase{"[device]\ncount = 2\nport = 1-2\n", "port 1-2 holds one device"},
                      BadCase{"[device]\nport = 1-2\n[device]\nport = 1-2\n", "line 3: port"},
                      BadCase{"[device]\npage_order = 2\n", "page_order"}));

TEST(SimEnvironment, SimulateAddsDefaultDevicesAndBadValuesAddNone) {
    TheFarm().Clear();
    kestrel::platform::ClearEnvironmentValue("KESTREL_SIM_CONFIG");
    kestrel::platform::SetEnvironmentValue("KESTREL_SIMULATE", "3");
    bool requested = false;
    std::string error;
    EXPECT_TRUE(AddDevicesFromEnvironment(requested, error));
    EXPECT_TRUE(requested);
    EXPECT_EQ(TheFarm().Size(), 3u);
    TheFarm().Clear();

    kestrel::platform::SetEnvironmentValue("KESTREL_SIMULATE", "65");
    EXPECT_FALSE(AddDevicesFromEnvironment(requested, error));
    EXPECT_EQ(TheFarm().Size(), 0u);

    kestrel::platform::SetEnvironmentValue("KESTREL_SIM_CONFIG", "/nonexistent/kestrel-sim.conf");
    EXPECT_FALSE(AddDevicesFromEnvironment(requested, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    kestrel::platform::ClearEnvironmentValue("KESTREL_SIM_CONFIG");
    kestrel::platform::ClearEnvironmentValue("KESTREL_SIMULATE");
    EXPECT_TRUE(AddDevicesFromEnvironment(requested, error));
    EXPECT_FALSE(requested);
    EXPECT_EQ(TheFarm().Size(), 0u);
}

} // namespace
} // namespace kestrel::sim
