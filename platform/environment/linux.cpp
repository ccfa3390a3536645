#include "platform/environment/environment.h"

#include <cstdlib>

namespace kestrel::platform {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) {
        return false;
    }
    return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool ClearEnvironmentValue(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos) {
        return false;
    }
    return unsetenv(name.c_str()) == 0;
}

} // namespace kestrel::platform
