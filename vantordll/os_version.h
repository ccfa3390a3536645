#pragma once
// GetOSVersion: the Windows version as a small code, from the table in os_version.cpp; 0 for
// versions outside it and on systems other than Windows.

#include "platform/export.h"
#include "platform/registry/os_version.h"

KESTREL_EXPORT int GetOSVersion(void);

namespace kestrel::vantor {

// The code of one version.
int OsVersionCode(const platform::WindowsVersion& version);

} // namespace kestrel::vantor
