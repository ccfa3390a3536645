#pragma once
// Controls of the registry hive, the registry kept in a hive file in the module directory (the
// only store on Linux; on Windows the store of simulated stations and tests). The hive is read when
// first used and read again whenever the file changes under it (another process, or a new module
// directory); every change is written to a temporary file that is then renamed over the hive file,
// so the file is always either the old or the new hive. A change that cannot be written is undone
// and reported as kErrorRegistryIoFailed. A hive file that cannot be parsed is left untouched and
// every call answers kErrorRegistryCorrupt until it is repaired or removed.

#include "platform/export.h"
#include "platform/registry/access_check.h"

#include <string>

namespace kestrel::platform::registry {

inline constexpr const char* kHiveFileName = "registry.hive";

// Where the calls of registry.h go. Linux has only the hive. On Windows they reach the system's
// registry unless the hive is chosen: a simulated station chooses it (sim/backends), and so does
// every test program, so that neither ever touches the machine's registry. Choose before the
// first key is opened: a handle opened in one store is unknown to the other.
enum class RegistryStore { kHive, kSystem };

// Makes store the one later calls reach; false (and nothing changed) when this platform has no
// such store.
KESTREL_PLATFORM_API bool UseRegistryStore(RegistryStore store);
KESTREL_PLATFORM_API RegistryStore CurrentRegistryStore();

// The hive file of the current module directory.
KESTREL_PLATFORM_API std::string HiveFilePath();

// The token the station runs with: the Administrators group (also the owner of the keys it
// creates), Everyone, Authenticated Users and Users. The station runs elevated, as removing
// the devices' enumeration keys requires on Windows.
KESTREL_PLATFORM_API CallerToken DefaultCallerToken();

// The token later calls of this process are checked against (tests act as other users).
KESTREL_PLATFORM_API void SetCallerToken(CallerToken token);
KESTREL_PLATFORM_API CallerToken CurrentCallerToken();

// Forgets the loaded hive: the next call reads the file again. Open handles then answer
// kErrorKeyDeleted.
KESTREL_PLATFORM_API void DropLoadedHive();

} // namespace kestrel::platform::registry
