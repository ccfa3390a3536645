#pragma once
// The Windows version the program runs on, as GetVersionExA reports it; nothing on other
// systems.

#include "platform/export.h"
#include <cstdint>
#include <optional>

namespace kestrel::platform {

struct WindowsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    bool ntPlatform = false; // the NT platform rather than the 9x one
};

KESTREL_PLATFORM_API std::optional<WindowsVersion> QueryWindowsVersion();

} // namespace kestrel::platform
