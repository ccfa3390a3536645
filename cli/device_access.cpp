#include "cli/device_access.h"

#include "platform/devices/devices.h"

namespace kestrel::cli {

int ReportInaccessibleDevices(std::FILE* out) {
    const auto problems = platform::devices::InaccessibleDevices();
    for (const platform::devices::AccessProblem& problem : problems) {
        std::fprintf(out, "Device %s cannot be used: %s\n", problem.path.c_str(),
                     problem.reason.c_str());
    }
    return static_cast<int>(problems.size());
}

} // namespace kestrel::cli
