#include "platform/clock/cpu_time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kestrel::platform;

// Work on another thread counts: the reading is the whole process's, not the caller's thread.
TEST(CpuTime, CountsWorkOfEveryThread) {
    const double before = ProcessCpuSeconds();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        volatile std::uint64_t sink = 0;
        while (ProcessCpuSeconds() - before < 0.02 && std::chrono::steady_clock::now() < limit) {
            for (int i = 0; i < 100000; ++i) {
                sink = sink + static_cast<std::uint64_t>(i);
            }
        }
        done = true;
    });
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_GE(ProcessCpuSeconds() - before, 0.02);
}

// Waiting costs no CPU time: the reading is not wall time.
TEST(CpuTime, SleepingCostsAlmostNothing) {
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LT(ProcessCpuSeconds() - before, 0.05);
}
