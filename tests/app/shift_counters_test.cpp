// The shift's counters and their line.
#include "app/station/shift_counters.h"

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

using station::ShiftCounters;

struct ShiftCase {
    const char* name;
    std::vector<std::pair<bool, std::uint32_t>> units; // passed, unit ms
    std::uint32_t elapsedMs;
    int passed, failed;
    double unitsPerHour;
    std::uint32_t meanMs, slowestMs;
    const char* line;
};

class ShiftFiguresCase : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(ShiftFiguresCase, CountsRatesAndTimes) {
    const ShiftCase& c = GetParam();
    ShiftCounters shift;
    // The tick wraps during the shift: differences still hold.
    const std::uint32_t begin = 0xFFFFF000u;
    shift.Begin(begin);
    for (const auto& [passed, ms] : c.units) {
        shift.Add(passed, ms);
    }
    const station::ShiftFigures f = shift.Figures(begin + c.elapsedMs);
    EXPECT_EQ(f.passed, c.passed);
    EXPECT_EQ(f.failed, c.failed);
    EXPECT_NEAR(f.unitsPerHour, c.unitsPerHour, 0.01);
    EXPECT_EQ(f.meanMs, c.meanMs);
    EXPECT_EQ(f.slowestMs, c.slowestMs);
    EXPECT_EQ(f.elapsedMs, c.elapsedMs);
    EXPECT_EQ(station::ShiftLine(f), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Shifts, ShiftFiguresCase,
    ::testing::Values(ShiftCase{"Empty",
                                {},
                                60000,
                                0,
                                0,
                                0,
                                0,
                                0,
                                "Shift: 0 passed, 0 failed, 0 units/h, mean 0.0 s, slowest 0.0 s"},
                      ShiftCase{
                          "Mixed",
                          {{true, 40000}, {false, 5000}, {true, 60000}},
                          120000,
                          2,
                          1,
                          90.0,
                          35000,
                          60000,
                          "Shift: 2 passed, 1 failed, 90 units/h, mean 35.0 s, slowest 60.0 s"},
                      ShiftCase{"NoTimeYet",
                                {{true, 0}},
                                0,
                                1,
                                0,
                                0,
                                0,
                                0,
                                "Shift: 1 passed, 0 failed, 0 units/h, mean 0.0 s, slowest 0.0 s"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShiftCounters, BeginStartsANewShift) {
    ShiftCounters shift;
    shift.Begin(0);
    shift.Add(true, 1000);
    shift.Begin(5000);
    const station::ShiftFigures f = shift.Figures(6000);
    EXPECT_EQ(f.Units(), 0);
    EXPECT_EQ(f.elapsedMs, 1000u);
}

} // namespace
} // namespace kestrel::test
