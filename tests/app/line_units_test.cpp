// The slot bookkeeping of continuous mode: scripts of scans and worker ends, each with the slots
// it must start and free.
#include "app/station/line_units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel::test {
namespace {

using station::LineSlotState;
using station::LineUnits;
using station::PresentUnit;

// Handles stand for device-set entries; distinct numbers are distinct opens.
const void* H(int n) {
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(0x1000 + n));
}

struct Step {
    std::vector<PresentUnit> scan; // a scan of these devices (when `end` is -1)
    int maxNew = 64;
    int end = -1; // or: the unit in this slot ends
    bool ok = true;
    std::vector<int> startedSlots; // expected from the scan
    std::vector<int> freedSlots;   // expected from the scan, or {slot} when the end frees it
};

struct Script {
    const char* name;
    int slots;
    std::vector<Step> steps;
    friend void PrintTo(const Script& s, std::ostream* os) { *os << s.name; }
};

class LineUnitsScript : public ::testing::TestWithParam<Script> {};

TEST_P(LineUnitsScript, StartsAndFreesTheSlotsItShould) {
    const Script& script = GetParam();
    LineUnits units(script.slots);
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
        const Step& step = script.steps[i];
        std::vector<int> started;
        std::vector<int> freed;
        if (step.end >= 0) {
            if (units.Ended(step.end, step.ok)) {
                freed.push_back(step.end);
            }
        } else {
            const LineUnits::Changes changes = units.Scan(step.scan, step.maxNew);
            for (const auto& s : changes.starts) {
                started.push_back(s.slot);
                EXPECT_EQ(units.Path(s.slot), step.scan.at(s.device).path);
                EXPECT_EQ(units.State(s.slot), LineSlotState::kRunning);
            }
            freed = changes.freed;
        }
        EXPECT_EQ(started, step.startedSlots) << "step " << i;
        EXPECT_EQ(freed, step.freedSlots) << "step " << i;
    }
}

const PresentUnit A{"PORT-A", H(1)};
const PresentUnit B{"PORT-B", H(2)};
const PresentUnit C{"PORT-C", H(3)};
const PresentUnit A2{"PORT-A", H(11)}; // A's port, opened again
const PresentUnit Anon{"", H(9)};      // no path known: never a unit

INSTANTIATE_TEST_SUITE_P(
    Scripts, LineUnitsScript,
    ::testing::Values(Script{"ArrivalsTakeTheLowestFreeSlots",
                             4,
                             {{{A, B}, 64, -1, true, {0, 1}, {}},
                              {{A, B, C}, 64, -1, true, {2}, {}}}},
                      Script{"AFinishedUnitLeftInIsNotStartedAgain",
                             2,
                             {{{A}, 64, -1, true, {0}, {}},
                              {{}, 64, 0, true, {}, {}},
                              {{A}, 64, -1, true, {}, {}},
                              {{A, B}, 64, -1, true, {1}, {}},
                              {{A, B}, 64, -1, true, {}, {}}}},
                      Script{"AFinishedUnitPulledFreesItsSlotAndComesBackNew",
                             2,
                             {{{A}, 64, -1, true, {0}, {}},
                              {{}, 64, 0, false, {}, {}},
                              {{}, 64, -1, true, {}, {0}},
                              {{A}, 64, -1, true, {0}, {}}}},
                      Script{"PulledAndInsertedBetweenTwoScansIsNewByItsHandle",
                             2,
                             {{{A}, 64, -1, true, {0}, {}},
                              {{}, 64, 0, true, {}, {}},
                              {{A2}, 64, -1, true, {0}, {0}}}},
                      Script{"PulledWhileRunningAndFailedFreesTheSlotAtItsEnd",
                             2,
                             {{{A, B}, 64, -1, true, {0, 1}, {}},
                              {{B}, 64, -1, true, {}, {}},
                              {{}, 64, 0, false, {}, {0}},
                              {{B}, 64, -1, true, {}, {}}}},
                      Script{"ReinsertedWhileItsWorkerRanIsNewOnceItFailed",
                             2,
                             {{{A}, 64, -1, true, {0}, {}},
                              {{}, 64, -1, true, {}, {}},
                              {{A2}, 64, -1, true, {}, {}},
                              {{}, 64, 0, false, {}, {0}},
                              {{A2}, 64, -1, true, {0}, {}}}},
                      Script{"RestartedUnderAnotherHandleAndSucceededStaysFinished",
                             2,
                             {{{A}, 64, -1, true, {0}, {}},
                              {{A2}, 64, -1, true, {}, {}},
                              {{}, 64, 0, true, {}, {}},
                              {{A2}, 64, -1, true, {}, {}}}},
                      Script{"AUnitReturnsToTheSlotItLastHad",
                             3,
                             {{{A, B}, 64, -1, true, {0, 1}, {}},
                              {{}, 64, 0, true, {}, {}},
                              {{}, 64, 1, true, {}, {}},
                              {{}, 64, -1, true, {}, {0, 1}},
                              {{B}, 64, -1, true, {1}, {}}}},
                      Script{"NoNewUnitWhenNoneIsAdmitted",
                             4,
                             {{{A}, 0, -1, true, {}, {}}, {{A, B, C}, 2, -1, true, {0, 1}, {}}}},
                      Script{"MoreDevicesThanSlotsWaitForOne",
                             2,
                             {{{A, B, C}, 64, -1, true, {0, 1}, {}},
                              {{}, 64, 0, true, {}, {}},
                              {{B, C}, 64, -1, true, {0}, {0}}}},
                      Script{"ADeviceWithoutAPathIsNoUnit", 2, {{{Anon}, 64, -1, true, {}, {}}}},
                      Script{"AnEndOfAFreeSlotChangesNothing",
                             2,
                             {{{}, 64, 1, false, {}, {}}, {{A}, 64, -1, true, {0}, {}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineUnits, CountsTheRunningUnits) {
    LineUnits units(3);
    units.Scan({A, B, C}, 64);
    EXPECT_EQ(units.Running(), 3);
    units.Ended(1, true);
    EXPECT_EQ(units.Running(), 2);
    EXPECT_EQ(units.State(1), LineSlotState::kFinished);
    units.Clear();
    EXPECT_EQ(units.Running(), 0);
    EXPECT_EQ(units.State(0), LineSlotState::kFree);
}

} // namespace
} // namespace kestrel::test
