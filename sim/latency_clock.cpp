#include "sim/latency_clock.h"

namespace kestrel::sim {

std::optional<LatencyClock::Clock::time_point> LatencyClock::Command(Clock::time_point issued,
                                                                     Clock::duration cost) {
    if (!started_) {
        end_ = issued;
        started_ = true;
    } else if (issued > returned_) {
        end_ += issued - returned_; // the host's time between the two commands
    }
    end_ += cost;
    if (end_ - issued >= quantum_ && end_ > issued) {
        return end_;
    }
    return std::nullopt;
}

void LatencyClock::Returned(Clock::time_point returned) {
    returned_ = returned;
}

} // namespace kestrel::sim
