#pragma once
// Clock: a steady 32-bit millisecond tick that wraps like the platform's tick count, sleeping,
// and the UTC wall-clock time. Tests switch sleeps to instant or scaled and fix the UTC time,
// so that retry and wait loops and date stamps cost no real seconds and stay repeatable.

#include "platform/export.h"
#include <cstdint>
#include <optional>

namespace kestrel::platform {

struct UtcTime {
    std::uint16_t year;
    std::uint16_t month;     // 1..12
    std::uint16_t dayOfWeek; // 0 = Sunday
    std::uint16_t day;       // 1..31
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
    std::uint16_t milliseconds;
};

// Milliseconds since an arbitrary start, modulo 2^32. Differences of two ticks taken as
// uint32_t stay right across the wrap. Includes the virtual time of instant sleeps.
KESTREL_PLATFORM_API std::uint32_t TickCount();

// Blocks the calling thread for about ms milliseconds of (possibly scaled) time.
KESTREL_PLATFORM_API void Sleep(std::uint32_t ms);

// The current UTC time, or the fixed time set for tests.
KESTREL_PLATFORM_API UtcTime SystemTimeUtc();

// Test switches. scale 1 is real time, 0 makes every sleep return at once while advancing the
// tick by the requested amount, anything between shortens sleeps proportionally.
KESTREL_PLATFORM_API void SetSleepScale(double scale);
KESTREL_PLATFORM_API double SleepScale();
KESTREL_PLATFORM_API void SetFixedUtcTime(std::optional<UtcTime> time);

} // namespace kestrel::platform
