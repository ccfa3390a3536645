// The C runtime keeps its own copy of the environment, which std::getenv reads: _putenv_s sets
// the variable there and in the process's environment block alike.
#include "platform/environment/environment.h"

#include <cstdlib>

namespace kestrel::platform {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) {
        return false;
    }
    return _putenv_s(name.c_str(), value.c_str()) == 0;
}

bool ClearEnvironmentValue(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos) {
        return false;
    }
    // An empty value removes the variable.
    return _putenv_s(name.c_str(), "") == 0;
}

} // namespace kestrel::platform
