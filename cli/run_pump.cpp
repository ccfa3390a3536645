#include "cli/run_pump.h"

#include <thread>

namespace kestrel::cli {

void PumpRun(platform::QueueSink& window, const std::function<bool()>& runUnderWay,
             const std::function<void(const platform::WindowMessage&)>& handle,
             const std::function<void()>& tick, std::chrono::milliseconds interval) {
    while (true) {
        auto m = window.Take(50);
        if (m) {
            handle(*m);
            while (auto more = window.TryTake()) {
                handle(*more);
            }
        } else if (!runUnderWay()) {
            break;
        }
        tick();
        if (m && interval.count() > 0) {
            std::this_thread::sleep_for(interval);
        }
    }
}

} // namespace kestrel::cli
