#include "kestrellib/program/shared_counters.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class SharedCounters : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Init_Surplus_redboot_count(), 0);
        Reset_Surplus_redboot_count();
        Reset_global_val();
    }
    void TearDown() override { Free_Surplus_redboot_count(); }
};

TEST_F(SharedCounters, DecreaseStopsAtZeroButNotBelowIt) {
    Decrease_Surplus_redboot_count();
    EXPECT_EQ(Get_Surplus_redboot_count(), 0);
    Increase_Surplus_redboot_count();
    Increase_Surplus_redboot_count();
    Decrease_Surplus_redboot_count();
    EXPECT_EQ(Get_Surplus_redboot_count(), 1);

    Decrease_global_val();
    EXPECT_EQ(Getglobal_val(), 0);
    Seset_global_val(-3);
    Decrease_global_val();
    EXPECT_EQ(Getglobal_val(), -4) << "only a value of exactly 0 is left alone";
}

TEST_F(SharedCounters, ValuesSurviveUntilReset) {
    Increase_global_val();
    Increase_Surplus_redboot_count();
    Free_Surplus_redboot_count();
    ASSERT_NE(Init_Surplus_redboot_count(), 0);
    EXPECT_EQ(Getglobal_val(), 1);
    EXPECT_EQ(Get_Surplus_redboot_count(), 1);
}

TEST_F(SharedCounters, ContendedIncrementsAreExact) {
    constexpr int kThreads = 8, kEach = 100000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < kEach; ++i) {
                Increase_Surplus_redboot_count();
                Increase_global_val();
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(Get_Surplus_redboot_count(), kThreads * kEach);
    EXPECT_EQ(Getglobal_val(), kThreads * kEach);
}

TEST(SharedCountersOutsideTheirSpan, ChangesBeforeInitAndAfterFreeAreStillMade) {
    Free_Surplus_redboot_count();
    Reset_global_val();
    Increase_global_val();
    EXPECT_EQ(Getglobal_val(), 1);
    Reset_global_val();
}

} // namespace
