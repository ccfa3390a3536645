#pragma once
// The real-time pacing of one simulated device. The device answers a command as a USB device
// does: the command starts when the host sends it and ends `cost` later; the host's own time
// between two commands (its processing, or waiting for a processor) therefore adds to the run,
// as it would on real hardware. Time the simulation loses by itself is paid back instead:
// a sleep that wakes late ends the next command earlier by as much, so timer overshoot does not
// accumulate, and all deadlines are absolute.
//
// Sleeps are coalesced: the device sleeps only once it has run at least `quantum` ahead of real
// time, and then to its deadline. The modelled time is kept exactly (a run takes as long as
// with a sleep per command); it is only seen in steps of the quantum rather than per command.
// Each sleep costs the process a wake-up (tens of microseconds of processor time on a virtual
// machine), so sleeping once per command would cost the host more than the command's own work.
//
// Not thread-safe: the device calls it under its lock.
//
//   LatencyClock clock(quantum);
//   if (auto until = clock.Command(issued, cost)) sleep_until(*until);
//   clock.Returned(steady_clock::now());

#include "sim/sim_api.h"
#include <chrono>
#include <optional>

namespace kestrel::sim {

class KESTREL_SIM_API LatencyClock {
public:
    using Clock = std::chrono::steady_clock;

    explicit LatencyClock(Clock::duration quantum) : quantum_(quantum) {}

    // A command the host sent at `issued` that takes `cost`. Returns the time to sleep until
    // before answering it, or nothing when the device is less than the quantum ahead.
    std::optional<Clock::time_point> Command(Clock::time_point issued, Clock::duration cost);

    // The device answered the host at `returned` (after its sleep, if it slept).
    void Returned(Clock::time_point returned);

    // Where the modelled time stands: the end of the last command.
    Clock::time_point ModelledEnd() const { return end_; }

private:
    Clock::duration quantum_;
    bool started_ = false;
    Clock::time_point end_{};      // modelled end of the last command
    Clock::time_point returned_{}; // real time the last command was answered
};

} // namespace kestrel::sim
