#include "app/station/shift_counters.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::station {

void ShiftCounters::Begin(std::uint32_t now) {
    *this = ShiftCounters{};
    begin_ = now;
}

void ShiftCounters::Add(bool passed, std::uint32_t unitMs) {
    ++(passed ? passed_ : failed_);
    totalMs_ += unitMs;
    slowestMs_ = std::max(slowestMs_, unitMs);
}

ShiftFigures ShiftCounters::Figures(std::uint32_t now) const {
    ShiftFigures f;
    f.passed = passed_;
    f.failed = failed_;
    f.elapsedMs = now - begin_;
    const int units = passed_ + failed_;
    if (units > 0) {
        f.meanMs = static_cast<std::uint32_t>(totalMs_ / static_cast<std::uint64_t>(units));
        f.slowestMs = slowestMs_;
        if (f.elapsedMs > 0) {
            f.unitsPerHour = units * 3600000.0 / f.elapsedMs;
        }
    }
    return f;
}

std::string ShiftLine(const ShiftFigures& f) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Shift: %d passed, %d failed, %.0f units/h, mean %.1f s, slowest %.1f s",
                  f.passed, f.failed, f.unitsPerHour, f.meanMs / 1000.0, f.slowestMs / 1000.0);
    return text;
}

} // namespace kestrel::station
