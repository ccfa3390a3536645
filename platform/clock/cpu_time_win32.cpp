#include "platform/clock/cpu_time.h"

#include <windows.h>

namespace kestrel::platform {

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    // FILETIME counts 100 ns units.
    auto seconds = [](const FILETIME& t) {
        const unsigned long long units =
            (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        return static_cast<double>(units) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace kestrel::platform
