#pragma once
// Module directory: where the station keeps its INI files and other files that lie beside the
// program. On Linux this is the directory of /proc/self/exe; the environment variable
// KESTREL_HOME, when set and not empty, overrides it so that an installed program keeps its
// files in a writable place.

#include <string>
#include <string_view>

namespace kestrel::platform {

// The module directory, always ending in the path separator.
std::string ModuleDirectory();

// ModuleDirectory() followed by fileName.
std::string ModuleFilePath(std::string_view fileName);

} // namespace kestrel::platform
