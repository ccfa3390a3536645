// The message loop of a command-line run: every message handled once and in order, in batches,
// and the loop ends only when the run is over and the window is quiet.
#include "cli/run_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace kestrel;

namespace {

platform::WindowMessage Numbered(std::uintptr_t n) {
    return {0x8000, n, 0, {}};
}

TEST(RunPump, HandlesFloodsInOrderAndInFewBatches) {
    platform::QueueSink window;
    std::atomic<bool> underWay{true};
    constexpr std::uintptr_t kBursts = 4, kPerBurst = 500;
    std::thread producer([&] {
        for (std::uintptr_t b = 0; b < kBursts; ++b) {
            for (std::uintptr_t i = 0; i < kPerBurst; ++i) {
                window.Post(Numbered(b * kPerBurst + i));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        underWay = false;
    });
    std::vector<std::uintptr_t> handled;
    int ticks = 0;
    cli::PumpRun(
        window, [&] { return underWay.load(); },
        [&](const platform::WindowMessage& m) { handled.push_back(m.wParam); }, [&] { ++ticks; },
        std::chrono::milliseconds(5));
    producer.join();
    ASSERT_EQ(handled.size(), kBursts * kPerBurst);
    for (std::uintptr_t i = 0; i < handled.size(); ++i) {
        ASSERT_EQ(handled[i], i);
    }
    EXPECT_GE(ticks, 1);
    EXPECT_LT(ticks, 200) << "one wake-up per message";
}

TEST(RunPump, MessagesQueuedAfterTheRunEndedAreStillHandled) {
    platform::QueueSink window;
    for (std::uintptr_t i = 0; i < 3; ++i) {
        window.Post(Numbered(i));
    }
    std::vector<std::uintptr_t> handled;
    cli::PumpRun(
        window, [] { return false; },
        [&](const platform::WindowMessage& m) { handled.push_back(m.wParam); }, [] {},
        std::chrono::milliseconds(1));
    EXPECT_EQ(handled, (std::vector<std::uintptr_t>{0, 1, 2}));
    EXPECT_EQ(window.Size(), 0u);
}

} // namespace
