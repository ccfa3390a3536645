#pragma once
// The process's environment: setting a variable so that every later lookup in the process
// (std::getenv included, in every module) sees the new value.

#include "platform/export.h"

#include <string>

namespace kestrel::platform {

// Sets name to value, replacing an earlier value. False when the name is empty or holds '=',
// or the environment cannot take it.
KESTREL_PLATFORM_API bool SetEnvironmentValue(const std::string& name, const std::string& value);

// Removes name from the environment; removing a variable that is not set succeeds.
KESTREL_PLATFORM_API bool ClearEnvironmentValue(const std::string& name);

} // namespace kestrel::platform
