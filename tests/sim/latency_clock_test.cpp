// The pacing of a simulated device: host time counts, timer overshoot is paid back, sleeps are
// coalesced to the quantum.
#include "sim/latency_clock.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace kestrel::sim {
namespace {

using Clock = LatencyClock::Clock;
using us = std::chrono::microseconds;

// One command: sent `sentAfter` after the previous answer (or after the start), costing
// `cost`; the device answers `lateBy` after the deadline it sleeps to (timer overshoot), or at
// once when it does not sleep. `sleepsTo` is the expected deadline after the start, or -1 for
// no sleep.
struct Step {
    long sentAfter;
    long cost;
    long lateBy;
    long sleepsTo;
};

struct PacingCase {
    const char* name;
    long quantum;
    std::vector<Step> steps;
};

class Pacing : public ::testing::TestWithParam<PacingCase> {};

TEST_P(Pacing, DeadlinesFollowTheModel) {
    const PacingCase& c = GetParam();
    const Clock::time_point start{};
    LatencyClock clock(us(c.quantum));
    Clock::time_point now = start;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& s = c.steps[i];
        now += us(s.sentAfter);
        const std::optional<Clock::time_point> until = clock.Command(now, us(s.cost));
        if (s.sleepsTo < 0) {
            EXPECT_FALSE(until) << "step " << i;
        } else {
            ASSERT_TRUE(until) << "step " << i;
            EXPECT_EQ(*until - start, us(s.sleepsTo)) << "step " << i;
            now = *until + us(s.lateBy);
        }
        clock.Returned(now);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Pacing,
    ::testing::Values(
        // Every command sleeps its cost when the quantum is 0.
        PacingCase{"SleepsPerCommand", 0, {{0, 1000, 0, 1000}, {0, 500, 0, 1500}}},
        // 2 ms of host work between two commands adds 2 ms: the device cannot start a command
        // it has not been sent.
        PacingCase{"HostTimeCounts", 0, {{0, 1000, 0, 1000}, {2000, 1000, 0, 4000}}},
        // A sleep that wakes 300 us late makes the next one 300 us shorter.
        PacingCase{"OvershootIsPaidBack", 0, {{0, 1000, 300, 1000}, {0, 1000, 0, 2000}}},
        // Below the quantum the device answers at once and keeps the debt; the command that
        // takes it past the quantum sleeps to the sum of them all.
        PacingCase{"SleepsAreCoalesced",
                   3000,
                   {{0, 1000, 0, -1}, {0, 1000, 0, -1}, {0, 1000, 0, 3000}, {0, 1000, 0, -1}}},
        // Host time spent while ahead of the model still counts.
        PacingCase{"HostTimeCountsWhileAhead",
                   3000,
                   {{0, 1000, 0, -1}, {500, 1000, 0, -1}, {500, 1000, 0, 4000}}},
        // After a long idle the model starts from the command's own sending time.
        PacingCase{"IdleDeviceStartsAfresh", 0, {{0, 1000, 0, 1000}, {50000, 1000, 0, 52000}}}),
    [](const ::testing::TestParamInfo<PacingCase>& info) { return info.param.name; });

} // namespace
} // namespace kestrel::sim
