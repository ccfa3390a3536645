#pragma once
// The host's part of a profile write: reading the file a path names and replacing it whole
// (profile_file_linux.cpp, profile_file_win32.cpp). ReadProfileFile, the reading part, is
// declared in profile.h.

#include <functional>
#include <string>

namespace kestrel::platform {

// Reads the file path names (a missing file reads as empty), passes its bytes to change and
// replaces the file with what change returns, through a temporary file beside it renamed over
// it; nothing is written when the bytes are unchanged. A read-only file, a directory or a file
// that cannot be read is left untouched and the call fails. On failure *error (when given)
// receives a sentence naming the path and the reason.
bool ReplaceProfileBytes(const std::string& path, std::string* error,
                         const std::function<std::string(const std::string&)>& change);

} // namespace kestrel::platform
