#pragma once
// Keeping a loaded library in the process until it ends. A library whose code the platform
// layer's process-wide state holds on to (a backend it installed) must not be unloaded when the
// program that loaded it lets go of it, or that state would call into unloaded code.

#include "platform/export.h"

namespace kestrel::platform {

// Keeps the library that holds address loaded until the process ends, whatever its loaders do
// later (dlclose, FreeLibrary). True when it is kept (an address in the program itself is kept
// anyway); false when no library holds address.
KESTREL_PLATFORM_API bool KeepModuleLoaded(const void* address);

} // namespace kestrel::platform
