#pragma once
// What the ISP run shows: eight device slots (picture, status text, progress bar), the log, the
// ISP action and the window title. The run state drives a view through this interface only, so
// the Qt Basic page and the command line show the same run. Every call comes from the thread
// that owns the run state (the UI thread of the window, the loop thread of the command line).

#include "app/station/shift_counters.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrel::station {

inline constexpr int kSlotCount = 8;

// Slot pictures: not connected, idle, and the six animation frames shown while programming.
// Frame 0 uses the idle bitmap.
enum class SlotPicture : int {
    kNotConnected,
    kIdle,
    kFrame0,
    kFrame1,
    kFrame2,
    kFrame3,
    kFrame4,
    kFrame5,
};

// Animation frame number f (0-5) as a picture.
constexpr SlotPicture AnimationFrame(std::uint32_t f) {
    return static_cast<SlotPicture>(static_cast<int>(SlotPicture::kFrame0) +
                                    static_cast<int>(f % 6));
}

// The bitmap resource each picture shows, in the order of SlotPicture.
inline constexpr std::array<int, 8> kSlotBitmaps{135, 137, 137, 138, 139, 140, 141, 142};

constexpr int BitmapOf(SlotPicture picture) {
    return kSlotBitmaps[static_cast<std::size_t>(picture)];
}

// The mark a slot shows beside its status once its device's run has ended: none, passed (every
// step of the run mode done and nothing reported) or failed.
enum class SlotResult { kNone, kPassed, kFailed };

class StationView {
public:
    virtual ~StationView() = default;

    virtual void SetSlotText(int slot, std::string_view text) = 0;
    virtual void SetSlotPicture(int slot, SlotPicture picture) = 0;
    // Range of the slot's bar: 0 ... total.
    virtual void SetSlotRange(int slot, std::uint32_t total) = 0;
    // Position of the slot's bar; the view repaints the bar at once.
    virtual void SetSlotPosition(int slot, std::uint32_t position) = 0;
    // Appends the text at the end of the log exactly as given (no line break is added).
    virtual void AppendLog(std::string_view text) = 0;
    virtual void SetIspEnabled(bool enabled) = 0;
    // The slot's result mark (a view without marks ignores it).
    virtual void SetSlotResult(int /*slot*/, SlotResult /*result*/) {}
    virtual void SetTitle(std::string_view title) = 0;
    // Continuous mode is on (true) or has ended (false): while it is on, the ISP action stops it
    // and reads "Stop".
    virtual void SetContinuous(bool /*on*/) {}
    // The shift's counters, after every unit of continuous mode.
    virtual void SetShift(const ShiftFigures& /*figures*/) {}
};

} // namespace kestrel::station
