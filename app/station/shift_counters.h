#pragma once
// The counters of a production shift in continuous mode: units passed and failed, units per
// hour since the shift began, and the mean and slowest unit time (from the unit's worker start
// to its end). Shown by both front ends and written into every record of the shift, so that the
// shift's last record holds its totals.

#include <cstdint>
#include <string>

namespace kestrel::station {

struct ShiftFigures {
    int passed = 0;
    int failed = 0;
    double unitsPerHour = 0; // units ended per hour of the shift so far
    std::uint32_t meanMs = 0;
    std::uint32_t slowestMs = 0;
    std::uint32_t elapsedMs = 0; // since the shift began
    int Units() const { return passed + failed; }
};

class ShiftCounters {
public:
    // A new shift beginning at tick `now`.
    void Begin(std::uint32_t now);
    // A unit ended after unitMs.
    void Add(bool passed, std::uint32_t unitMs);
    // The figures at tick `now`.
    ShiftFigures Figures(std::uint32_t now) const;

private:
    std::uint32_t begin_ = 0;
    int passed_ = 0;
    int failed_ = 0;
    std::uint64_t totalMs_ = 0;
    std::uint32_t slowestMs_ = 0;
};

// "Shift: 12 passed, 1 failed, 530 units/h, mean 41.2 s, slowest 58.0 s"
std::string ShiftLine(const ShiftFigures& figures);

} // namespace kestrel::station
