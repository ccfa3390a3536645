#pragma once
// The hive file on disk, as the hive store reads and replaces it. Each host gives these three
// calls in its own file (hive_file_io_linux.cpp, hive_file_io_win32.cpp).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::platform::registry {

// What tells one version of the hive file from another: the file's identity (a replaced file
// is a new file), its size and its last write time at the host's finest resolution.
struct HiveFileStamp {
    bool exists = false;
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::int64_t writeTime = 0;

    bool operator==(const HiveFileStamp&) const = default;
};

// The stamp of the file at path; exists is false when there is none.
HiveFileStamp StampHiveFile(const std::string& path);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadHiveFile(const std::string& path);

// Writes bytes to a temporary file beside path, flushes it to the disk and renames it over
// path, so that path always holds either the old or the new hive. False (and path untouched)
// when any step fails.
bool ReplaceHiveFile(const std::string& path, std::string_view bytes);

} // namespace kestrel::platform::registry
