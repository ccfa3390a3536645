// Profile backend over the Windows private-profile functions.
#include "platform/profile/profile.h"

#include <windows.h>

namespace kestrel::platform {

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& path) {
    return static_cast<int>(GetPrivateProfileIntA(
        std::string(section).c_str(), std::string(key).c_str(), defaultValue, path.c_str()));
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& path) {
    char buffer[kProfileStringMax + 1] = {};
    GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                             std::string(defaultValue).c_str(), buffer, sizeof buffer,
                             path.c_str());
    return buffer;
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path) {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), path.c_str()) != 0;
}

bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& path) {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      nullptr, path.c_str()) != 0;
}

} // namespace kestrel::platform
