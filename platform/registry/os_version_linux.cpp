#include "platform/registry/os_version.h"

namespace kestrel::platform {

std::optional<WindowsVersion> QueryWindowsVersion() {
    return std::nullopt;
}

} // namespace kestrel::platform
