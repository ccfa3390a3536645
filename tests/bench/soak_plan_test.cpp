// The soak's plan: repeatable from the seed, covering every chip class and fault class, and
// always a configuration the simulator takes with the faults the plan names.
#include "bench/soak/soak_plan.h"
#include "sim/config_file.h"
#include "sim/farm.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrel::soak {
namespace {

constexpr std::uint64_t kSeeds = 300;

TEST(SoakPlan, TheSameSeedGivesTheSameDevices) {
    for (std::uint64_t seed : {1u, 2u, 77u}) {
        EXPECT_EQ(SimConfigText(PlanRun(seed)), SimConfigText(PlanRun(seed)));
    }
    EXPECT_NE(SimConfigText(PlanRun(1)), SimConfigText(PlanRun(2)));
}

TEST(SoakPlan, SeedsCoverEveryChipClassAndFaultClass) {
    std::set<int> chips;
    std::set<Fault> faults;
    bool lowBlock = false, areaBlock = false;
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        for (const UnitPlan& unit : PlanRun(seed)) {
            chips.insert(unit.chipClass);
            faults.insert(unit.fault);
        }
    }
    EXPECT_EQ(chips.size(), 12u);
    EXPECT_EQ(faults.size(), static_cast<std::size_t>(kFaultCount));
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        std::vector<sim::DeviceConfig> devices;
        std::string error;
        ASSERT_TRUE(sim::ParseSimConfig(SimConfigText(PlanRun(seed)), devices, error)) << error;
        for (const auto& d : devices) {
            for (const std::uint32_t b : d.factoryBadBlocks) {
                lowBlock = lowBlock || b <= 2;
                areaBlock = areaBlock || b == 64 || b == 65;
            }
        }
    }
    EXPECT_TRUE(lowBlock) << "blocks 0-2 are among the factory bad blocks";
    EXPECT_TRUE(areaBlock) << "the resource area's first blocks are too";
}

// Every planned unit becomes the device the plan says, with the fault its class names.
TEST(SoakPlan, TheSimulatorTakesEveryPlanAsPlanned) {
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        const auto units = PlanRun(seed);
        std::vector<sim::DeviceConfig> devices;
        std::string error;
        ASSERT_TRUE(sim::ParseSimConfig(SimConfigText(units), devices, error))
            << "seed " << seed << ": " << error;
        ASSERT_EQ(devices.size(), units.size());
        for (std::size_t i = 0; i < units.size(); ++i) {
            const UnitPlan& u = units[i];
            const sim::DeviceConfig& d = devices[i];
            SCOPED_TRACE("seed " + std::to_string(seed) + " unit " + std::to_string(i) + ": " +
                         u.faultLines);
            EXPECT_EQ(d.chip.idClass, u.chipClass);
            EXPECT_TRUE(d.revision.empty()) << "the farm numbers the units";
            EXPECT_EQ(!d.factoryBadBlocks.empty(), u.fault == Fault::kFactoryBad);
            EXPECT_EQ(!d.grownBadBlocks.empty(), u.fault == Fault::kGrownBad);
            EXPECT_EQ(!d.failingPages.empty(), u.fault == Fault::kFailingPages);
            EXPECT_EQ(d.unplugAfterCommands.has_value(), u.fault == Fault::kUnplugReplug);
            EXPECT_EQ(d.replugAfterMs.has_value(), u.fault == Fault::kUnplugReplug);
            const bool fails = u.fault == Fault::kTransient || u.fault == Fault::kTransientLong ||
                               u.fault == Fault::kPermanent;
            ASSERT_EQ(d.failures.size(), fails ? 1u : 0u);
            if (fails) {
                const int count = d.failures[0].count;
                if (u.fault == Fault::kTransient) {
                    EXPECT_TRUE(count >= 1 && count <= 10) << "absorbed by the retries";
                } else if (u.fault == Fault::kTransientLong) {
                    EXPECT_GT(count, 10) << "longer than the retries absorb";
                } else {
                    EXPECT_EQ(count, -1);
                }
            }
        }
    }
}

// The verdict finds unit i by the port the farm gives the i-th device of the configuration.
TEST(SoakPlan, UnitsSitOnThePortsTheFarmGivesThem) {
    std::vector<sim::DeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(sim::ParseSimConfig(SimConfigText(PlanRun(7)), devices, error)) << error;
    sim::TheFarm().Clear();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto device = sim::TheFarm().Add(devices[i]);
        EXPECT_NE(device->InterfacePath().find("&" + UnitPort(static_cast<int>(i)) + "&"),
                  std::string::npos)
            << device->InterfacePath();
    }
    sim::TheFarm().Clear();
}

} // namespace
} // namespace kestrel::soak
