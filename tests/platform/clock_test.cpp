#include "platform/clock/clock.h"

#include <gtest/gtest.h>

using namespace kestrel::platform;

TEST(Clock, InstantSleepsStillAdvanceTheTick) {
    SetSleepScale(0.0);
    const std::uint32_t before = TickCount();
    Sleep(5000);
    const std::uint32_t elapsed = TickCount() - before;
    SetSleepScale(1.0);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 6000u);
}

TEST(Clock, FixedUtcTimeIsReturnedUntilCleared) {
    SetFixedUtcTime(UtcTime{2026, 12, 1, 7, 10, 51, 7, 0});
    const UtcTime t = SystemTimeUtc();
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.day, 7);
    EXPECT_EQ(t.second, 7);
    SetFixedUtcTime(std::nullopt);
    EXPECT_GE(SystemTimeUtc().year, 2024);
}
