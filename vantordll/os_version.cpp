#include "vantordll/os_version.h"

#include <array>

namespace kestrel::vantor {
namespace {

enum class Platform { Any, Nt, Other };

struct VersionCode {
    std::uint32_t major;
    std::uint32_t minor;
    Platform platform;
    int code;
};

constexpr std::array<VersionCode, 7> kVersionCodes = {{
    {3, 51, Platform::Any, 1},
    {4, 0, Platform::Nt, 2},
    {4, 0, Platform::Other, 3},
    {4, 10, Platform::Any, 4},
    {4, 90, Platform::Any, 5},
    {5, 0, Platform::Any, 6},
    {5, 1, Platform::Any, 7},
}};

} // namespace

int OsVersionCode(const platform::WindowsVersion& version) {
    for (const VersionCode& entry : kVersionCodes) {
        const bool platformMatches = entry.platform == Platform::Any ||
                                     (entry.platform == Platform::Nt) == version.ntPlatform;
        if (entry.major == version.major && entry.minor == version.minor && platformMatches) {
            return entry.code;
        }
    }
    return 0;
}

} // namespace kestrel::vantor

int GetOSVersion(void) {
    const auto version = kestrel::platform::QueryWindowsVersion();
    return version ? kestrel::vantor::OsVersionCode(*version) : 0;
}
