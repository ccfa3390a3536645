#pragma once
// Telling whether two names lead to one file, so that a tool can refuse to write its output over
// one of its inputs. A file's identity is its device and file number (on Windows the volume
// serial number and the file index); two names share it when one is a hard or symbolic link to
// the other, or both lead through links to the same file.

#include "platform/export.h"

#include <cstdint>
#include <string>

namespace kestrel::platform {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file path leads to, following links. 0 or an error number (a missing
// file gives the host's "not found" error).
KESTREL_PLATFORM_API int IdentifyFile(const std::string& path, FileIdentity* identity);

// Whether both names lead to one existing file. False when either does not exist.
KESTREL_PLATFORM_API bool SameFile(const std::string& a, const std::string& b);

// Whether an output written beside path may be renamed over it: nothing is there yet (or what is
// there cannot be examined, so that creating the output reports why), or it is a regular file,
// through links. A directory, device, pipe or socket is never replaced.
KESTREL_PLATFORM_API bool IsReplaceableOutput(const std::string& path);

} // namespace kestrel::platform
