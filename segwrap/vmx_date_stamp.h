#pragma once
// The descriptor's dateStamp: bits 31-24 the high byte of the year (0x07 for 1792-2047),
// 23-16 the month, 15-8 the day, 7-0 the hour, all of UTC; minutes and seconds are not kept.

#include "platform/clock/clock.h"

#include <cstdint>

namespace kestrel::segwrap {

constexpr std::uint32_t DateStamp(const platform::UtcTime& t) {
    return static_cast<std::uint32_t>((t.year >> 8) & 0xFF) << 24 |
           static_cast<std::uint32_t>(t.month & 0xFF) << 16 |
           static_cast<std::uint32_t>(t.day & 0xFF) << 8 |
           static_cast<std::uint32_t>(t.hour & 0xFF);
}

} // namespace kestrel::segwrap
