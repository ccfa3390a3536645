// The line that sums a run up in the log: passed and failed units counted and named as the slots
// name them, units the operator stopped named apart.
#include "app/station/run_outcome.h"

#include <gtest/gtest.h>

namespace kestrel::station {
namespace {

RunRecord Unit(int device, bool ok, bool stopped = false) {
    RunRecord r;
    r.device = device;
    r.ok = ok;
    r.stopped = stopped;
    return r;
}

struct EndedCase {
    const char* name;
    std::vector<RunRecord> records;
    const char* line;
};

class RunEnded : public ::testing::TestWithParam<EndedCase> {};

TEST_P(RunEnded, CountsAndNamesTheUnits) {
    EXPECT_EQ(RunEndedLine(GetParam().records), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunEnded,
    ::testing::Values(
        EndedCase{"AllPassed", {Unit(0, true), Unit(1, true)}, "Run ended: 2 passed, 0 failed\n"},
        EndedCase{"OneFailed",
                  {Unit(0, true), Unit(2, false), Unit(5, false)},
                  "Run ended: 1 passed, 2 failed (Dev2, Dev5)\n"},
        EndedCase{"StoppedApart",
                  {Unit(0, true), Unit(1, false), Unit(6, false, true), Unit(7, false, true)},
                  "Run ended: 1 passed, 1 failed (Dev1), 2 stopped (Dev6, Dev7)\n"},
        EndedCase{"NoUnit", {}, "Run ended: 0 passed, 0 failed\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrel::station
