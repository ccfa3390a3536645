#pragma once
// The log line, status text and timer action of every WM_ISP_EVENT event, in one table.

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel::station {

enum class StepTimer {
    kNone,    // the event does not touch the timer
    kStart,   // the timed step begins: the device's tick becomes now
    kElapsed, // the step succeeded: the line carries the elapsed whole seconds
};

struct EventLine {
    std::uint32_t event;
    const char* format; // printf format; the device index fills the first %d, seconds the second
    const char* statusText; // slot text after the event, or nullptr to leave "Connected"
    StepTimer timer;
};

// The entry of an event, or nullopt for an event the page does not know.
std::optional<EventLine> FindEventLine(std::uint32_t event);

// The status texts the events put on a slot, in table order.
std::vector<const char*> StepStatusTexts();

// Whole seconds of an elapsed time, rounded half up: (ms + 500) / 1000 in unsigned arithmetic.
constexpr std::uint32_t RoundedSeconds(std::uint32_t elapsedMs) {
    return (elapsedMs + 500u) / 1000u;
}

} // namespace kestrel::station
