#pragma once
// Module directory: where the station keeps its INI files and other files that lie beside the
// program. On Linux this is the directory of /proc/self/exe; the environment variable
// KESTREL_HOME, when set and not empty, overrides it so that an installed program keeps its
// files in a writable place (a relative KESTREL_HOME is taken from the current directory, so
// the module directory is always a full path).

#include "platform/export.h"
#include <string>
#include <string_view>

namespace kestrel::platform {

// The module directory, always ending in the path separator.
KESTREL_PLATFORM_API std::string ModuleDirectory();

// ModuleDirectory() followed by fileName.
KESTREL_PLATFORM_API std::string ModuleFilePath(std::string_view fileName);

// A path as the station's INI files give it: an absolute path as it stands, a relative one
// taken from the module directory (so a workspace copied elsewhere uses its own files), and an
// empty path stays empty.
KESTREL_PLATFORM_API std::string ModuleRelativePath(std::string_view path);

} // namespace kestrel::platform
