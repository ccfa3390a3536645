#include "platform/clock/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

namespace kestrel::platform {
// Process-wide state. It exists once per process because it lives only in KestrelPlatform, the
// shared library every module calls into; the accessor itself is not exported.
namespace detail {

struct ClockState {
    std::atomic<double> scale{1.0};
    // Virtual milliseconds added by instant or scaled sleeps so that the tick still advances
    // by the requested time.
    std::atomic<std::uint64_t> virtualMs{0};
    std::mutex fixedLock;
    std::optional<UtcTime> fixed;
};

ClockState& ClockStateInstance() {
    static ClockState state;
    return state;
}

} // namespace detail

std::uint32_t TickCount() {
    using namespace std::chrono;
    static const auto start = steady_clock::now();
    const auto real = duration_cast<milliseconds>(steady_clock::now() - start).count();
    return static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(real) +
        detail::ClockStateInstance().virtualMs.load(std::memory_order_relaxed));
}

void Sleep(std::uint32_t ms) {
    const double scale = detail::ClockStateInstance().scale.load(std::memory_order_relaxed);
    if (scale >= 1.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    const auto realMs = static_cast<std::uint64_t>(ms * scale);
    detail::ClockStateInstance().virtualMs.fetch_add(ms - realMs, std::memory_order_relaxed);
    if (realMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(realMs));
    } else {
        std::this_thread::yield();
    }
}

UtcTime SystemTimeUtc() {
    {
        std::lock_guard guard(detail::ClockStateInstance().fixedLock);
        if (detail::ClockStateInstance().fixed) {
            return *detail::ClockStateInstance().fixed;
        }
    }
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
#if defined(_WIN32)
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return UtcTime{
        static_cast<std::uint16_t>(tm.tm_year + 1900), static_cast<std::uint16_t>(tm.tm_mon + 1),
        static_cast<std::uint16_t>(tm.tm_wday),        static_cast<std::uint16_t>(tm.tm_mday),
        static_cast<std::uint16_t>(tm.tm_hour),        static_cast<std::uint16_t>(tm.tm_min),
        static_cast<std::uint16_t>(tm.tm_sec),         static_cast<std::uint16_t>(ms)};
}

void SetSleepScale(double scale) {
    detail::ClockStateInstance().scale.store(scale < 0.0 ? 0.0 : scale, std::memory_order_relaxed);
}

double SleepScale() {
    return detail::ClockStateInstance().scale.load(std::memory_order_relaxed);
}

void SetFixedUtcTime(std::optional<UtcTime> time) {
    std::lock_guard guard(detail::ClockStateInstance().fixedLock);
    detail::ClockStateInstance().fixed = time;
}

} // namespace kestrel::platform
