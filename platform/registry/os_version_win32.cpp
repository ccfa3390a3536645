#include "platform/registry/os_version.h"

#include <windows.h>

namespace kestrel::platform {

std::optional<WindowsVersion> QueryWindowsVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // The call is deprecated but is the one that reports the version numbers the station's
    // version codes are defined on.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = ::GetVersionExA(&info);
#if defined(_MSC_VER)
#pragma warning(pop)
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) {
        return std::nullopt;
    }
    return WindowsVersion{static_cast<std::uint32_t>(info.dwMajorVersion),
                          static_cast<std::uint32_t>(info.dwMinorVersion),
                          info.dwPlatformId == VER_PLATFORM_WIN32_NT};
}

} // namespace kestrel::platform
